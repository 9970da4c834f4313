#include "app/startoptions.h"
#include "core/diagnostics.h"
#include "window/kx47main.h"

#include <QApplication>

namespace {

const char kUsage[] = "Usage: velkocan-config [--help] [--version]\n"
                      "\n"
                      "The configuration window of the serial-to-CAN converter module: open the\n"
                      "module's serial port, read its whole configuration into the window, edit it\n"
                      "and write it back; search its baud rate; follow every command and reply in\n"
                      "the log. The production window is in its menus (and velkocan-station).\n"
                      "\n"
                      "It needs a display. Without one, velkocan-cli does the same from a terminal\n"
                      "(velkocan-cli --help), and QT_QPA_PLATFORM=offscreen runs the window unseen.\n"
                      "\n"
                      "  --help      this text\n"
                      "  --version   the program's version\n";

} // namespace

int main(int argc, char* argv[])
{
    const int ended = StartOptions::answered(argc, argv, kUsage);
    if (ended >= 0)
        return ended;
    QApplication app(argc, argv);
    Diagnostics::applyEnvironment();
    KX47main window;
    window.show();
    return app.exec();
}

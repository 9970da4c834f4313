// velkocan-station: the production line's window as a program of its own,
// for the PC beside a line. "velkocan-station [SETUP]" opens a setup file,
// or else the one opened or saved last.
#include "app/startoptions.h"
#include "core/diagnostics.h"
#include "window/catalogue.h"
#include "window/stationwindow.h"

#include <QApplication>
#include <QTranslator>

namespace {

const char kUsage[] = "Usage: velkocan-station [SETUP] [--help] [--version]\n"
                      "\n"
                      "The production line's window: configures module after module on several\n"
                      "fixtures, from a profile and a values CSV or a ledger, with a report of\n"
                      "every module. SETUP opens a station setup file (JSON) at start.\n"
                      "\n"
                      "It needs a display. Without one, velkocan-cli station does the same from a\n"
                      "terminal (velkocan-cli station --help).\n"
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
    QApplication::setApplicationName(QStringLiteral("velkocan-station"));
    Diagnostics::applyEnvironment();
    // The English catalogue, as the configuration window loads it; without
    // it the Chinese source texts stay.
    QTranslator translator;
    if (translator.load(cataloguePath(QStringLiteral("language/language_EN.qm"))))
        QApplication::installTranslator(&translator);
    StationWindow window;
    const QStringList arguments = QApplication::arguments();
    // Without a setup named, the one of the last run.
    if (arguments.size() > 1)
        window.openSetup(arguments.at(1));
    else
        window.restoreLastSetup();
    window.show();
    return app.exec();
}

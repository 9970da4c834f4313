#include "core/diagnostics.h"
#include "window/kx47main.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    Diagnostics::applyEnvironment();
    KX47main window;
    window.show();
    return app.exec();
}

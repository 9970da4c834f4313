// velkocan-station: the production line's window as a program of its own,
// for the PC beside a line. "velkocan-station [SETUP]" opens a setup file,
// or else the one opened or saved last.
#include "core/diagnostics.h"
#include "window/catalogue.h"
#include "window/stationwindow.h"

#include <QApplication>
#include <QTranslator>

int main(int argc, char* argv[])
{
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

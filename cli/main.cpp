#include "cli/commandline.h"
#include "cli/signalwatch.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    SignalWatch::ignoreFileSizeLimitSignal();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velkocan-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELKO_VERSION));
    return CommandLine::run(QCoreApplication::arguments());
}

#include "tests/support/cliprocess.h"

#include <QJsonDocument>
#include <QProcess>
#include <QSignalSpy>

namespace TestSupport {

QJsonObject CliRun::json() const
{
    return QJsonDocument::fromJson(out).object();
}

CliRun runCli(const QStringList& arguments, const CliOptions& options)
{
    qRegisterMetaType<QProcess::ExitStatus>("QProcess::ExitStatus"); // for the spy's record of finished()
    QProcess process;
    QSignalSpy finished(&process, SIGNAL(finished(int, QProcess::ExitStatus)));
    if (!options.standardOutputFile.isEmpty())
        process.setStandardOutputFile(options.standardOutputFile);
    if (options.pipeInto.isEmpty()) {
        process.start(QStringLiteral(VELKO_CLI_PROGRAM), arguments);
    } else {
        const QString script = QStringLiteral("\"$0\" \"$@\" | %1; exit ${PIPESTATUS[0]}").arg(options.pipeInto);
        process.start(QStringLiteral("bash"),
                      QStringList{QStringLiteral("-c"), script, QStringLiteral(VELKO_CLI_PROGRAM)} + arguments);
    }
    process.write(options.input);
    process.closeWriteChannel();
    if (options.started)
        options.started(process);
    // The modules answer from this process's event loop, which the wait runs.
    if (!finished.wait(options.timeoutMs)) {
        // A program that does not end is a failure of its own, never a status.
        qWarning("velkocan-cli did not end within %d ms and is killed", options.timeoutMs);
        process.kill();
        process.waitForFinished();
        return {-1, process.readAllStandardOutput(), process.readAllStandardError()};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

} // namespace TestSupport

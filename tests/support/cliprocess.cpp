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
    if (options.wrapper.isEmpty())
        process.start(QStringLiteral(VELKO_CLI_PROGRAM), arguments);
    else
        process.start(options.wrapper.first(),
                      options.wrapper.mid(1) + QStringList{QStringLiteral(VELKO_CLI_PROGRAM)} + arguments);
    process.write(options.input);
    if (!options.inputStaysOpen)
        process.closeWriteChannel();
    if (options.started)
        options.started(process);
    // The modules answer from this process's event loop, which the wait runs;
    // a program that ended during `started` (which may run another) is not waited for.
    if (finished.isEmpty() && !finished.wait(options.timeoutMs)) {
        // A program that does not end is a failure of its own, never a status.
        qWarning("velkocan-cli did not end within %d ms and is killed", options.timeoutMs);
        process.kill();
        process.waitForFinished();
        return {-1, process.readAllStandardOutput(), process.readAllStandardError()};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

QStringList fileSizeLimit(qint64 bytes)
{
    // sh's ulimit counts 512-byte blocks. SIGXFSZ keeps its default, which
    // ends a process that does not ignore it: the program must say what failed.
    return {QStringLiteral("sh"), QStringLiteral("-c"),
            QStringLiteral("trap - XFSZ; ulimit -f %1; exec \"$0\" \"$@\"").arg(bytes / 512)};
}

QStringList smallFileSystem(const QString& folder, int kib)
{
    const QStringList unshare{QStringLiteral("unshare"), QStringLiteral("-Urm")};
    if (QProcess::execute(unshare.first(), unshare.mid(1) + QStringList{QStringLiteral("true")}) != 0)
        return {};
    // The folder's files are kept aside while the tmpfs hides them, and put
    // back with what the program left once it is unmounted again.
    const QString script = QStringLiteral(R"(
        folder="$VELKO_FOLDER"; aside=$(mktemp -d) || exit 125
        cp -a "$folder/." "$aside/" && mount -t tmpfs -o size=%1k velkocan-test "$folder" &&
            cp -a "$aside/." "$folder/" || exit 125
        cat /dev/zero > "$folder/.filler" 2>/dev/null
        "$0" "$@"; status=$?
        rm -f "$folder/.filler"; rm -rf "$aside"; mkdir "$aside" && cp -a "$folder/." "$aside/" &&
            umount "$folder" && rm -rf "$folder"/* "$folder"/.[!.]* && cp -a "$aside/." "$folder/"
        rm -rf "$aside"
        exit $status)")
                               .arg(kib);
    return unshare + QStringList{QStringLiteral("env"), QStringLiteral("VELKO_FOLDER=") + folder, QStringLiteral("sh"),
                                 QStringLiteral("-c"), script};
}

} // namespace TestSupport

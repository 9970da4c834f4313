#include "tests/support/postgresserver.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QUrl>
#include <QVersionNumber>

#include <pwd.h>
#include <unistd.h>

namespace TestSupport {

namespace {

constexpr int kCommandMs = 60000;

// Debian keeps the server's programs under /usr/lib/postgresql/VERSION/bin;
// the newest one is taken.
QString serverBin()
{
    QDir lib(QStringLiteral("/usr/lib/postgresql"));
    QString best;
    QVersionNumber bestVersion;
    for (const QString& version : lib.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString bin = lib.filePath(version + QStringLiteral("/bin"));
        const QVersionNumber number = QVersionNumber::fromString(version);
        if (QFile::exists(bin + QStringLiteral("/pg_ctl")) && QFile::exists(bin + QStringLiteral("/initdb")) &&
            (best.isEmpty() || number > bestVersion)) {
            best = bin;
            bestVersion = number;
        }
    }
    return best;
}

// Runs `program` until it ends, the event loop running (simulated modules
// of the test answer meanwhile); its exit code, -1 when it did not end.
int runProgram(const QString& program, const QStringList& arguments, QString* output)
{
    qRegisterMetaType<QProcess::ExitStatus>("QProcess::ExitStatus");
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QSignalSpy finished(&process, SIGNAL(finished(int, QProcess::ExitStatus)));
    process.start(program, arguments);
    if (!process.waitForStarted() || (!finished.count() && !finished.wait(kCommandMs))) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace

PostgresServer::~PostgresServer()
{
    if (m_running)
        stop();
}

QString PostgresServer::program(const QString& name) const
{
    return m_bin + QLatin1Char('/') + name;
}

// The server's own commands run as "postgres" when this process is root.
bool PostgresServer::serverCommand(const QStringList& arguments, QString* output)
{
    QStringList command = arguments;
    QString programName = command.takeFirst();
    if (::geteuid() == 0) {
        command =
            QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"), programName} + command;
        programName = QStringLiteral("runuser");
    }
    return runProgram(programName, command, output) == 0;
}

bool PostgresServer::start(QString* why)
{
    m_bin = serverBin();
    if (m_bin.isEmpty()) {
        *why = QStringLiteral("no PostgreSQL server programs in /usr/lib/postgresql/*/bin (Debian: postgresql); "
                              "scripts/test installs them");
        return false;
    }
    if (!m_dir.isValid()) {
        *why = QStringLiteral("no temporary folder");
        return false;
    }
    const QString data = m_dir.filePath(QStringLiteral("data"));
    QDir().mkpath(data);
    QDir().mkpath(socketFolder());
    // The server's user reaches its folders through the temporary one.
    QFile::setPermissions(m_dir.path(), QFile::permissions(m_dir.path()) | QFile::ReadOther | QFile::ExeOther);
    if (::geteuid() == 0) {
        const passwd* const user = ::getpwnam("postgres");
        if (!user) {
            *why = QStringLiteral("running as root, and there is no user \"postgres\" to run the server as");
            return false;
        }
        for (const QString& folder : {data, socketFolder()}) {
            if (::chown(QFile::encodeName(folder).constData(), user->pw_uid, user->pw_gid) != 0) {
                *why = QStringLiteral("%1 cannot be given to the user postgres").arg(folder);
                return false;
            }
        }
    }
    QString output;
    if (!serverCommand({program(QStringLiteral("initdb")), QStringLiteral("-D"), data, QStringLiteral("-A"),
                        QStringLiteral("trust"), QStringLiteral("-U"), QStringLiteral("velko"), QStringLiteral("-E"),
                        QStringLiteral("UTF8"), QStringLiteral("--no-sync")},
                       &output)) {
        *why = QStringLiteral("initdb failed: ") + output;
        return false;
    }
    if (!startAgain()) {
        QFile log(socketFolder() + QStringLiteral("/server.log"));
        log.open(QIODevice::ReadOnly);
        *why = QStringLiteral("the server did not start: ") + QString::fromLocal8Bit(log.readAll());
        return false;
    }
    return true;
}

bool PostgresServer::startAgain()
{
    // The socket in the folder of its own, no TCP; no fsync: a test's data need not outlive a crash.
    const QString options = QStringLiteral("-k %1 -c listen_addresses= -F").arg(socketFolder());
    QString said;
    m_running = serverCommand(
        {program(QStringLiteral("pg_ctl")), QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")),
         QStringLiteral("-o"), options, QStringLiteral("-l"), socketFolder() + QStringLiteral("/server.log"),
         QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("start")},
        &said);
    // pg_ctl may tell a failure of a server that came up all the same (a
    // machine under load): the server's own state has the last word.
    if (!m_running)
        m_running = serverCommand({program(QStringLiteral("pg_ctl")), QStringLiteral("-D"),
                                   m_dir.filePath(QStringLiteral("data")), QStringLiteral("status")});
    if (!m_running) {
        qWarning("pg_ctl: %s", qPrintable(said));
        // Why, from the end of the server's log.
        QFile log(socketFolder() + QStringLiteral("/server.log"));
        if (log.open(QIODevice::ReadOnly))
            qWarning("PostgreSQL did not start: %s", log.readAll().right(2000).constData());
    }
    return m_running;
}

bool PostgresServer::stop()
{
    const bool stopped =
        serverCommand({program(QStringLiteral("pg_ctl")), QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")),
                       QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop")});
    m_running = m_running && !stopped;
    return stopped;
}

QString PostgresServer::createDatabase(const QString& name)
{
    QString output;
    if (runProgram(program(QStringLiteral("createdb")),
                   {QStringLiteral("-h"), socketFolder(), QStringLiteral("-U"), QStringLiteral("velko"), name},
                   &output) != 0) {
        qWarning("createdb %s: %s", qPrintable(name), qPrintable(output));
        return QString();
    }
    return QStringLiteral("postgresql://velko@%1/%2")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(socketFolder())), name);
}

} // namespace TestSupport

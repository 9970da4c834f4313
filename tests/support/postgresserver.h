#pragma once

// A throwaway PostgreSQL server for a test: its own data folder and Unix
// socket in a temporary folder, no TCP port, run as the unprivileged user
// "postgres" when the test runs as root (the server refuses root), and
// stopped when the object goes.
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace TestSupport {

class PostgresServer
{
public:
    PostgresServer() = default;
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // Creates the cluster (trust for local connections, superuser "velko")
    // and starts the server. False with `why`: no server programs, or the
    // server did not start (its log is in `why`).
    bool start(QString* why);
    // Stops the server the fast way (the connections are cut), or starts
    // it again. The event loop runs meanwhile.
    bool stop();
    bool startAgain();
    bool isRunning() const { return m_running; }

    // A new database; its ledger URL as a station takes it
    // ("postgresql://velko@%2F...%2Frun/NAME"), empty when it was not made.
    QString createDatabase(const QString& name);
    // The folder of the server's socket.
    QString socketFolder() const { return m_dir.filePath(QStringLiteral("run")); }

private:
    bool serverCommand(const QStringList& arguments, QString* output = nullptr);
    QString program(const QString& name) const;

    QTemporaryDir m_dir;
    QString m_bin;
    bool m_running = false;
};

} // namespace TestSupport

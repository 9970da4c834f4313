#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class QTimer;

// Watches for a port that vanished under its user (an adapter pulled out)
// to come back: the same adapter by its USB serial number where it reports
// one, whatever name it returns under, else the same port name (a link is
// looked at again, so it may point at another device now). It tells once,
// with the name to open; what to open it with is the user's business.
class PortWatch : public QObject
{
    Q_OBJECT

public:
    // What finds a port's adapter again.
    struct Identity
    {
        QString name;         // as the port list names it
        QString serialNumber; // of its USB adapter; empty when it reports none
        bool operator==(const Identity& o) const { return name == o.name && serialNumber == o.serialNumber; }
    };
    // The identity of the port listed as `name` now.
    static Identity identify(const QString& name);
    // Where the adapter of `identity` is listed now; empty while it is not there.
    static QString find(const Identity& identity);

    explicit PortWatch(QObject* parent = nullptr);

    // Starts watching for `identity`. It has to be seen gone first, within
    // a few seconds of this call (a port that was only closed by an error
    // and stays listed has not vanished: the watch ends); `gone` says it was.
    void watch(const Identity& identity, bool gone = false);
    void cancel();
    bool isWatching() const;
    const Identity& identity() const { return m_identity; }

signals:
    // The adapter is back, listed as `port`; the watch has ended.
    void returned(const QString& port);

private:
    void poll();

    QTimer* m_timer = nullptr; // child
    Identity m_identity;
    bool m_gone = false;
    QElapsedTimer m_since; // since watch()
};

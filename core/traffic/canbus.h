#pragma once

#include "core/traffic/conversion.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

class QCanBusDevice;

namespace Traffic {

// A CAN interface as the user names it: "PLUGIN:INTERFACE" (socketcan:can0,
// peakcan:usb0, virtualcan:can0, virtualcan:tcp://127.0.0.1:35468/can0).
struct CanName
{
    QString plugin;
    QString interface;

    // False when `text` is not PLUGIN:INTERFACE with both parts.
    static bool parse(const QString& text, CanName* name);
    QString text() const { return plugin + QLatin1Char(':') + interface; }
    // The interface's own short name for a trace line: "can0" also of
    // "tcp://127.0.0.1:35468/can0".
    QString shortName() const;
};

// Why a CAN interface could not be opened, as data.
struct CanOpenFailure
{
    enum class Reason {
        NoPlugin,     // the plugin does not exist; `detail`: the plugins there are
        NotCreated,   // the plugin made no device of the interface; `detail`: its error
        ConnectError, // the device reported an error while connecting; `detail`: its error
        Timeout,      // not connected within the time allowed; `detail`: the state it was in
    };
    Reason reason = Reason::NotCreated;
    CanName name;
    QString detail;
    int timeoutMs = 0;

    // "virtualcan:can9: ...", in the core's words.
    QString text() const;
};

// One plugin of Qt SerialBus and the interfaces it finds.
struct CanPlugin
{
    QString name;
    QStringList interfaces;
    QString error; // what the plugin said when it could not list its interfaces

    // "PLUGIN:INTERFACE" of each interface, as the user names them.
    QStringList names() const;
};
// Every CAN plugin this Qt has, with its interfaces.
QVector<CanPlugin> canPlugins();
bool canPluginExists(const QString& plugin);
QStringList canPluginNames();

// One CAN interface opened through Qt SerialBus. Frames are written only
// once the device is connected (a plugin may connect after connectDevice()
// returned). Errors and bus states are reported in words as they happen.
class CanBus : public QObject
{
    Q_OBJECT

public:
    explicit CanBus(QObject* parent = nullptr);
    ~CanBus() override;

    // The plugins that take a bit rate from the tool; the others (socketcan,
    // virtualcan) run at the rate the interface was given by the system.
    static bool takesBitRate(const QString& plugin);

    // Creates and connects the device, with `bitRateKbit` where the plugin
    // takes one, and waits until it is connected, at most `timeoutMs`
    // (processing events). False with `failure` set.
    bool open(const CanName& name, int bitRateKbit, CanOpenFailure* failure, int timeoutMs = 5000);
    void close();
    bool isOpen() const;
    const CanName& name() const { return m_name; }

    // Writes one frame; false (with a problem reported) when the device did
    // not take it.
    bool send(const CanFrame& frame);

signals:
    // A data frame from the bus; `usecs` since the epoch, when it was read.
    void frameReceived(const Traffic::CanFrame& frame, qint64 usecs);
    // An error or a change of the bus state, in words ("bus off", "error frame: ...").
    void problem(const QString& text);

private:
    void readFrames();

    CanName m_name;
    QCanBusDevice* m_device = nullptr; // owned
};

// Microseconds since the epoch, now.
qint64 nowUsecs();

} // namespace Traffic

Q_DECLARE_METATYPE(Traffic::CanFrame)

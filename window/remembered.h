#pragma once

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QVariant>

// What the windows keep from one run to the next, in the user's settings:
// the registry under HKEY_CURRENT_USER\Software\VelkoCAN\velkocan-config on
// Windows, $XDG_CONFIG_HOME/VelkoCAN/velkocan-config.conf (~/.config when
// unset) elsewhere. Both programs share it. Only what the user chose on the
// PC's side is kept; what a module holds always comes from the module.
namespace Remembered {

// One kept value: its key and what it is before anything was kept.
template <typename T> struct Key
{
    const char* name;
    T fallback;
};

// The keys, one line each.
inline const Key<QString> kPortName{"port/name", {}};
inline const Key<QString> kPortSerialNumber{"port/serialNumber", {}}; // of the port's USB adapter, if it has one
inline const Key<int> kBaud{"line/baud", 115200};
inline const Key<int> kParity{"line/parity", 0}; // QSerialPort::Parity
inline const Key<int> kStopBits{"line/stopBits", 1};
inline const Key<bool> kFastExchange{"options/fastExchange", false};
inline const Key<bool> kReopenPort{"options/reopenReturningPort", true};
inline const Key<QByteArray> kMainGeometry{"windows/mainGeometry", {}};
inline const Key<QByteArray> kStationGeometry{"windows/stationGeometry", {}};
inline const Key<QString> kProfileFolder{"folders/profiles", {}};
inline const Key<QString> kLogFolder{"folders/logs", {}};
inline const Key<QString> kSetupFolder{"folders/setups", {}};
inline const Key<QString> kStationSetup{"station/lastSetup", {}};
inline const Key<QString> kTrafficCanInterface{"traffic/canInterface", {}}; // PLUGIN:INTERFACE connected last
inline const Key<QString> kTraceFolder{"folders/traces", {}};
inline const Key<QByteArray> kTrafficGeometry{"windows/trafficGeometry", {}};

// The store, opened for as long as it lives; what was set is written when it goes.
class Store
{
public:
    Store();

    template <typename T> T get(const Key<T>& key) const
    {
        return m_settings.value(QLatin1String(key.name), QVariant::fromValue(key.fallback)).template value<T>();
    }
    template <typename T> void set(const Key<T>& key, const T& value)
    {
        m_settings.setValue(QLatin1String(key.name), QVariant::fromValue(value));
    }
    bool contains(const char* name) const { return m_settings.contains(QLatin1String(name)); }
    // Everything kept goes: the next start is as the first.
    void forgetAll() { m_settings.clear(); }

private:
    QSettings m_settings;
};

} // namespace Remembered

#pragma once

#include <QList>
#include <QString>
#include <functional>

// The serial adapters the system lists, and ports named by an adapter's USB
// serial number ("usb:A10K3X2B"): on a Windows PC the COM number of an
// adapter can change from one plug-in to the next, its serial number does
// not, so a fixture is bound to the adapter rather than to a port name.
namespace Adapters {

struct Adapter
{
    QString portName;       // as the system names the port: ttyUSB0, COM3
    QString systemLocation; // what opens it: /dev/ttyUSB0, \\.\COM3
    QString description;
    QString manufacturer;
    QString serialNumber; // empty when the adapter reports none
};

// The adapters the system lists now.
QList<Adapter> available();
// Replaces the system's list by `source` (a port list of a test's own);
// an empty function gives the system's list back.
void setSource(std::function<QList<Adapter>()> source);

// "usb:" and the serial number.
QString usbName(const QString& serialNumber);
// Whether `port` names an adapter by its serial number.
bool isUsbName(const QString& port);

// What `port` opens now: a usb: name is looked up in the adapters' list,
// anything else stays as it is. Empty with `why` set when the adapter is not
// there ("no adapter with serial number X (ttyS0 reports none)") or is not
// one ("two adapters with serial number X: ttyUSB0, ttyUSB1"; `ambiguous`
// set then).
QString resolve(const QString& port, QString* why, bool* ambiguous = nullptr);

} // namespace Adapters

#pragma once

#include <QStringList>

namespace PortDiscovery {

// The serial ports of the system by name: on Windows the registry's
// serial-device map in its order, elsewhere the ports the system reports,
// sorted, followed by the virtual ports that simulated modules publish.
QStringList portList();

} // namespace PortDiscovery

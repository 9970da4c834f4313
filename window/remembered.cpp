#include "window/remembered.h"

namespace Remembered {

namespace {
// Fixed here rather than taken from the application: the configuration
// window and the production line's program share one store.
const char kOrganisation[] = "VelkoCAN";
const char kApplication[] = "velkocan-config";
} // namespace

Store::Store()
    : m_settings(QSettings::NativeFormat, QSettings::UserScope, QLatin1String(kOrganisation),
                 QLatin1String(kApplication))
{}

} // namespace Remembered

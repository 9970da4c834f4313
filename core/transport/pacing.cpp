#include "core/transport/pacing.h"

#include <QByteArray>
#include <QtGlobal>
#include <atomic>
#include <cmath>

namespace {

// The scale that VELKOCAN_TEST_PACE asks for; 1 when it is unset or not a
// positive number.
double scaleFromEnvironment()
{
    bool ok = false;
    const double asked = qgetenv(Pacing::kScaleVariable).toDouble(&ok);
    return ok && asked > 0 ? asked : 1.0;
}

// Read by the station's threads as well as the main one.
std::atomic<double>& current()
{
    static std::atomic<double> scale{scaleFromEnvironment()};
    return scale;
}

} // namespace

namespace Pacing {

int scaled(int ms)
{
    const double s = current().load();
    if (s == 1.0 || ms <= 0)
        return ms;
    return qMax(1, int(std::lround(ms * s)));
}

double scale()
{
    return current().load();
}

void setScale(double scale)
{
    if (scale > 0)
        current().store(scale);
}

} // namespace Pacing

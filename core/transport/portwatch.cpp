#include "core/transport/portwatch.h"
#include "core/transport/adapters.h"
#include "core/transport/portaccess.h"
#include "core/transport/portdiscovery.h"

#include <QTimer>

namespace {
constexpr int kPollMs = 500;
// A device node may outlive its adapter's error for a moment; one that is
// still listed after this long did not vanish.
constexpr int kGoneWithinMs = 3000;
} // namespace

PortWatch::Identity PortWatch::identify(const QString& name)
{
    Identity identity{name, {}};
    const QString device = PortAccess::deviceName(name);
    for (const Adapters::Adapter& a : Adapters::available()) {
        if (a.portName == name || a.systemLocation == name || a.systemLocation == device)
            identity.serialNumber = a.serialNumber;
    }
    return identity;
}

QString PortWatch::find(const Identity& identity)
{
    if (!identity.serialNumber.isEmpty()) {
        QString found;
        int count = 0;
        for (const Adapters::Adapter& a : Adapters::available()) {
            if (a.serialNumber == identity.serialNumber) {
                found = a.portName;
                ++count;
            }
        }
        // Two adapters with one serial number: neither is surely the one that went.
        return count == 1 ? found : QString();
    }
    return PortDiscovery::portList().contains(identity.name) ? identity.name : QString();
}

PortWatch::PortWatch(QObject* parent) : QObject(parent), m_timer(new QTimer(this))
{
    m_timer->setInterval(kPollMs);
    connect(m_timer, &QTimer::timeout, this, &PortWatch::poll);
}

void PortWatch::watch(const Identity& identity, bool gone)
{
    m_identity = identity;
    // Looked at once now, quietly: an adapter may be back before the first poll.
    m_gone = gone || find(identity).isEmpty();
    m_since.start();
    m_timer->start(); // the first look in one interval: returned() never comes from inside watch()
}

void PortWatch::cancel()
{
    m_timer->stop();
}

bool PortWatch::isWatching() const
{
    return m_timer->isActive();
}

void PortWatch::poll()
{
    const QString port = find(m_identity);
    if (!m_gone) {
        if (port.isEmpty())
            m_gone = true;
        else if (m_since.elapsed() > kGoneWithinMs)
            cancel();
        return;
    }
    if (port.isEmpty())
        return;
    cancel();
    emit returned(port);
}

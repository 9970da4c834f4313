// The simulated module's line: the pseudo-terminal it sits on, the link
// through which the tool reaches it, and its unplugging and replugging.
#include "sim/simmodule.h"

#include "core/transport/portaccess.h"

#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace sim {

namespace {

std::atomic<int> linkCounter{0};

} // namespace

SimModule::SimModule(QObject* parent) : QObject(parent)
{
    m_gapTimer = new QTimer(this);
    m_gapTimer->setSingleShot(true);
    m_gapTimer->setTimerType(Qt::PreciseTimer);
    connect(m_gapTimer, &QTimer::timeout, this, &SimModule::onGap);

    m_paceTimer = new QTimer(this);
    m_paceTimer->setInterval(1);
    m_paceTimer->setTimerType(Qt::PreciseTimer);
    connect(m_paceTimer, &QTimer::timeout, this, &SimModule::onPace);
}

SimModule::~SimModule()
{
    stop();
}

bool SimModule::start(QString* error)
{
    auto fail = [&](const QString& what) {
        if (error)
            *error = what;
        stop();
        return false;
    };
    if (isRunning())
        return true;
    if (!openLine(error)) {
        stop();
        return false;
    }

    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        return fail(QStringLiteral("no runtime directory for the port link"));
    const QString folder = runtime + QStringLiteral("/velkocan");
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("cannot create %1").arg(folder));
    const QString link =
        QStringLiteral("%1/velkocan-sim-%2-%3").arg(folder).arg(::getpid()).arg(linkCounter.fetch_add(1) + 1);
    if (!linkTo(link)) // a link left over by an earlier process with the same id is replaced
        return fail(QStringLiteral("cannot create the link %1").arg(link));
    m_link = link;
    m_plugged = {m_state.baud, m_state.parity, m_state.stopBits};
    m_clock.start();
    return true;
}

bool SimModule::openLine(QString* error)
{
    // A line that could not be set up is not left half open.
    auto fail = [&](const QString& what) {
        closeLine();
        if (error)
            *error = what;
        return false;
    };
    int master = -1;
    int slave = -1;
    char name[256] = {};
    // A terminal's number is given again as soon as its last holder closed
    // it, and a program closes its port before it removes the port's lock
    // file: a terminal whose lock file still names a running process is
    // passed over, so that no tool is told that the module's port is taken by
    // another program. (A lock file of a process that has ended is stale: the
    // tool's serial port removes it.)
    std::vector<int> held;
    for (int tries = 0;; ++tries) {
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            for (const int fd : held)
                ::close(fd);
            return fail(QStringLiteral("openpty: %1").arg(QString::fromLocal8Bit(strerror(errno))));
        }
        const qint64 holder = PortAccess::lockHolder(QString::fromLocal8Bit(name));
        if (tries == 32 || holder == 0 || (::kill(pid_t(holder), 0) != 0 && errno == ESRCH))
            break;
        held.push_back(master);
        held.push_back(slave);
    }
    for (const int fd : held)
        ::close(fd);
    m_master = master;
    // The slave fd of openpty (O_RDWR|O_NOCTTY) stays open for the module's
    // whole life: without it the master reads EIO and hangs up each time the
    // tool closes its port, which the tool does many times while searching.
    m_slaveHold = slave;
    m_slavePath = QString::fromLocal8Bit(name);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slaveHold, F_SETFD, FD_CLOEXEC);

    // Raw at once, or the line discipline echoes what the module writes. The
    // speed 0 marks "nobody has configured the port": the tool's serial port
    // restores it when it closes, so nothing matches while its port is closed.
    struct termios tio;
    if (::tcgetattr(m_master, &tio) != 0)
        return fail(QStringLiteral("tcgetattr: %1").arg(QString::fromLocal8Bit(strerror(errno))));
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B0);
    ::cfsetospeed(&tio, B0);
    if (::tcsetattr(m_master, TCSANOW, &tio) != 0)
        return fail(QStringLiteral("tcsetattr: %1").arg(QString::fromLocal8Bit(strerror(errno))));
    const int flags = ::fcntl(m_master, F_GETFL);
    if (flags < 0 || ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail(QStringLiteral("O_NONBLOCK: %1").arg(QString::fromLocal8Bit(strerror(errno))));

    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SimModule::onReadable);
    return true;
}

bool SimModule::linkTo(const QString& link)
{
    QFile::remove(link);
    return QFile::link(m_slavePath, link);
}

void SimModule::closeLine()
{
    m_gapTimer->stop();
    m_paceTimer->stop();
    if (m_notifier) {
        m_notifier->setEnabled(false);
        delete m_notifier;
        m_notifier = nullptr;
    }
    if (m_master >= 0)
        ::close(m_master);
    if (m_slaveHold >= 0)
        ::close(m_slaveHold);
    m_master = -1;
    m_slaveHold = -1;
    m_rx.clear();
    m_tx.clear();
    m_txCur = TxChunk();
    m_txActive = false;
    m_txQueue.clear();
    m_streaming = false;
    m_restarting = false;
}

void SimModule::replug()
{
    m_unplugBy = m_clock.elapsed() + 1000;
    unplugOnceRead();
}

void SimModule::unplugOnceRead()
{
    // Taken out a moment after the tool has read the restart's reply (a
    // loaded machine may be slow to read it), the tool's port sees its
    // device vanish; the next module gets a device of its own, reached
    // through the same link. The link goes with the device, as a udev link
    // does, and before it: a freed /dev/pts/N is soon another program's,
    // which a tool still following the link would open.
    constexpr int kUnplugAfterReplyMs = 100;
    constexpr int kLookMs = 10;
    if (!isRunning())
        return;
    int unread = 0;
    if (::ioctl(m_slaveHold, FIONREAD, &unread) == 0 && unread > 0 && m_clock.elapsed() < m_unplugBy) {
        QTimer::singleShot(kLookMs, this, [this] { unplugOnceRead(); });
        return;
    }
    QTimer::singleShot(kUnplugAfterReplyMs, this, [this] {
        if (!isRunning())
            return;
        if (!m_link.isEmpty())
            QFile::remove(m_link);
        closeLine();
        QTimer::singleShot(qMax(0, m_faults.replugAfterRestartMs), this, [this] { plugInTheNext(); });
    });
}

void SimModule::plugInTheNext()
{
    if (m_link.isEmpty() || isRunning() || !openLine(nullptr))
        return;
    restoreFactory();
    setLine(m_plugged.baud, m_plugged.parity, m_plugged.stopBits);
    if (!linkTo(m_link)) {
        closeLine(); // nothing could reach it
        return;
    }
    emit replugged();
}

void SimModule::stop()
{
    // The link first, for the reason replug() gives.
    if (!m_link.isEmpty())
        QFile::remove(m_link);
    closeLine();
    m_link.clear();
}

void SimModule::unplug()
{
    stop();
    emit unplugged();
}

bool SimModule::isRunning() const
{
    return m_master >= 0;
}

QString SimModule::portName() const
{
    return m_link;
}

QString SimModule::slavePath() const
{
    return m_slavePath;
}

qint32 SimModule::masterBaud(bool* oddParity) const
{
    qint32 baud = 0;
    bool odd = false;
    if (!readMasterLine(m_master, &baud, &odd))
        baud = 0;
    if (oddParity)
        *oddParity = odd;
    return baud;
}

QList<QByteArray> SimModule::frameData() const
{
    QList<QByteArray> out;
    for (const Frame& f : m_frames)
        out << f.data;
    return out;
}

void SimModule::clearFrames()
{
    m_frames.clear();
}

} // namespace sim

// The report on a POSIX system: one descriptor for the run, a record lock of
// the whole file (fcntl, so that the holder's process ID can be told), and
// the device and inode of the file to notice a path that no longer names it.
#include "core/station/reportfile.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct ReportFile::Handle
{
    int fd = -1;
    bool regular = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0; // how long the run left the file
};

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Writes all of `bytes` at the end; false with errno set when the system took less.
bool writeAll(int fd, const QByteArray& bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        done += n;
    }
    return true;
}

} // namespace

ReportFile::ReportFile() = default;

ReportFile::~ReportFile()
{
    close();
}

bool ReportFile::isRegular() const
{
    return m_handle && m_handle->regular;
}

bool ReportFile::open(const QString& path, QString* error)
{
    close();
    const QString name = QDir::toNativeSeparators(path);
    const QByteArray file = QFile::encodeName(path);
    const auto fail = [&](const QString& why) {
        *error = QStringLiteral("%1: %2").arg(name, why);
        return false;
    };
    struct stat st = {};
    const bool exists = ::stat(file.constData(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        return fail(QStringLiteral("a directory"));
    int fd = -1;
    if (exists && S_ISFIFO(st.st_mode)) {
        // Opening a FIFO without a reader for writing would wait for one.
        do
            fd = ::open(file.constData(), O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC);
        while (fd < 0 && errno == EINTR);
        if (fd < 0)
            return fail(errno == ENXIO ? QStringLiteral("a FIFO without a reader") : systemError(errno));
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    } else if (exists && !S_ISREG(st.st_mode)) {
        do
            fd = ::open(file.constData(), O_WRONLY | O_APPEND | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        while (fd < 0 && errno == EINTR);
        if (fd < 0)
            return fail(systemError(errno));
    } else {
        do
            fd = ::open(file.constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        while (fd < 0 && errno == EINTR);
        if (fd < 0)
            return fail(systemError(errno));
    }
    auto handle = std::make_unique<Handle>();
    handle->fd = fd;
    struct stat opened = {};
    if (::fstat(fd, &opened) != 0) {
        const int e = errno;
        ::close(fd);
        return fail(systemError(e));
    }
    handle->regular = S_ISREG(opened.st_mode);
    handle->device = opened.st_dev;
    handle->inode = opened.st_ino;
    handle->size = opened.st_size;
    if (handle->regular) {
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (::fcntl(fd, F_SETLK, &lock) != 0) {
            const int e = errno;
            struct flock held = {};
            held.l_type = F_WRLCK;
            held.l_whence = SEEK_SET;
            const bool told = ::fcntl(fd, F_GETLK, &held) == 0 && held.l_type != F_UNLCK && held.l_pid > 0;
            ::close(fd);
            if (e != EACCES && e != EAGAIN)
                return fail(systemError(e));
            return fail(told ? QStringLiteral("held by another program (PID %1)").arg(held.l_pid)
                             : QStringLiteral("held by another program"));
        }
    }
    m_handle = std::move(handle);
    m_path = path;
    return true;
}

void ReportFile::close()
{
    if (m_handle)
        ::close(m_handle->fd);
    m_handle.reset();
}

bool ReportFile::read(const std::function<void(const char*, int)>& chunk, QString* error) const
{
    if (!m_handle || !m_handle->regular)
        return true;
    // Through the locked descriptor: opening the file once more and
    // closing it would give the lock up.
    char buffer[65536];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(m_handle->fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(m_path), systemError(errno));
            return false;
        }
        if (n == 0)
            return true;
        chunk(buffer, int(n));
        at += n;
    }
}

bool ReportFile::append(const QByteArray& record, QString* error)
{
    const QString name = QDir::toNativeSeparators(m_path);
    if (!m_handle) {
        *error = QStringLiteral("%1: not open").arg(name);
        return false;
    }
    Handle& h = *m_handle;
    if (h.regular) {
        struct stat now = {};
        if (::stat(QFile::encodeName(m_path).constData(), &now) != 0) {
            *error = QStringLiteral("%1: the report was deleted during the run").arg(name);
            m_vanished = true;
            return false;
        }
        if (now.st_dev != h.device || now.st_ino != h.inode) {
            *error = QStringLiteral("%1: the report was replaced by another file during the run").arg(name);
            m_vanished = true;
            return false;
        }
    }
    struct stat before = {};
    const bool sized = h.regular && ::fstat(h.fd, &before) == 0;
    // Records the run wrote that another program took away would be lost unseen.
    if (sized && before.st_size != h.size) {
        m_vanished = before.st_size < h.size;
        *error = before.st_size < h.size
                     ? QStringLiteral("%1: the report was cut short during the run (%2 bytes, %3 written)")
                           .arg(name, QString::number(before.st_size), QString::number(h.size))
                     : QStringLiteral("%1: another program wrote to the report during the run (%2 bytes, %3 "
                                      "written)")
                           .arg(name, QString::number(before.st_size), QString::number(h.size));
        return false;
    }
    bool written = writeAll(h.fd, record);
    int e = written ? 0 : errno;
    if (written && h.regular && ::fsync(h.fd) != 0) {
        written = false;
        e = errno;
    }
    if (written) {
        h.size = before.st_size + record.size();
        return true;
    }
    // What the disk took of the record is taken back: the file ends where it ended.
    if (sized) {
        int r = 0;
        do
            r = ::ftruncate(h.fd, before.st_size);
        while (r != 0 && errno == EINTR);
    }
    *error = QStringLiteral("%1: %2").arg(name, systemError(e));
    return false;
}

// The report on Windows: a file opened without write or delete sharing, so
// that a second program can neither write it nor delete it while the run
// holds it; every record is one WriteFile, flushed to the disk.
#include "core/station/reportfile.h"

#include <QDir>

#include <windows.h>

struct ReportFile::Handle
{
    HANDLE file = INVALID_HANDLE_VALUE;
    bool regular = false;
};

namespace {

QString systemError(DWORD error)
{
    wchar_t* text = nullptr;
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const QString message =
        n > 0 ? QString::fromWCharArray(text, int(n)).trimmed() : QStringLiteral("error %1").arg(error);
    LocalFree(text);
    return message;
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
    const std::wstring wide = name.toStdWString();
    const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        *error = QStringLiteral("%1: %2").arg(
            name, e == ERROR_SHARING_VIOLATION ? QStringLiteral("held by another program") : systemError(e));
        return false;
    }
    auto handle = std::make_unique<Handle>();
    handle->file = file;
    handle->regular = GetFileType(file) == FILE_TYPE_DISK;
    m_handle = std::move(handle);
    m_path = path;
    return true;
}

void ReportFile::close()
{
    if (m_handle)
        CloseHandle(m_handle->file);
    m_handle.reset();
}

bool ReportFile::read(const std::function<void(const char*, int)>& chunk, QString* error) const
{
    if (!m_handle || !m_handle->regular)
        return true;
    const LARGE_INTEGER zero = {};
    if (!SetFilePointerEx(m_handle->file, zero, nullptr, FILE_BEGIN)) {
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(m_path), systemError(GetLastError()));
        return false;
    }
    char buffer[65536];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(m_handle->file, buffer, sizeof buffer, &n, nullptr)) {
            *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(m_path), systemError(GetLastError()));
            return false;
        }
        if (n == 0)
            return true;
        chunk(buffer, int(n));
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
    LARGE_INTEGER before = {};
    const bool sized = h.regular && GetFileSizeEx(h.file, &before);
    const LARGE_INTEGER zero = {};
    DWORD written = 0;
    bool ok = SetFilePointerEx(h.file, zero, nullptr, FILE_END) &&
              WriteFile(h.file, record.constData(), DWORD(record.size()), &written, nullptr) &&
              written == DWORD(record.size());
    DWORD e = ok ? 0 : GetLastError();
    if (ok && h.regular && !FlushFileBuffers(h.file)) {
        ok = false;
        e = GetLastError();
    }
    if (ok)
        return true;
    if (sized && SetFilePointerEx(h.file, before, nullptr, FILE_BEGIN))
        SetEndOfFile(h.file);
    *error = QStringLiteral("%1: %2").arg(name, e == 0 ? QStringLiteral("the disk is full") : systemError(e));
    return false;
}

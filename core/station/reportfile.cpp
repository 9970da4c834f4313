#include "core/station/reportfile.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <cstring>
#include <utility>

bool ReportFile::isOpen() const
{
    return m_handle != nullptr;
}

ReportContents ReportContents::parse(const QByteArray& bytes)
{
    ReportContents out;
    ReportReader reader(
        [&out](int line, const ModuleRecord& record) {
            out.records.append({line, record});
        },
        [&out](const QString& problem) { out.problems.append(problem); });
    reader.feed(bytes.constData(), int(bytes.size()));
    reader.finish();
    out.cutLine = reader.cutLine();
    return out;
}

ReportReader::ReportReader(std::function<void(int, const ModuleRecord&)> record,
                           std::function<void(const QString&)> problem)
    : m_record(std::move(record)), m_problem(std::move(problem))
{}

void ReportReader::feed(const char* data, int size)
{
    for (int at = 0; at < size;) {
        const char* end = static_cast<const char*>(std::memchr(data + at, '\n', size_t(size - at)));
        if (!end) {
            m_pending.append(data + at, size - at);
            return;
        }
        const int length = int(end - (data + at));
        if (m_pending.isEmpty()) {
            take(QByteArray::fromRawData(data + at, length));
        } else {
            m_pending.append(data + at, length);
            take(m_pending);
            m_pending.clear();
        }
        at += length + 1;
    }
}

void ReportReader::finish()
{
    if (m_pending.isEmpty())
        return;
    m_cutLine = m_line + 1;
    take(m_pending);
    m_pending.clear();
}

void ReportReader::take(const QByteArray& line)
{
    ++m_line;
    const QByteArray text = line.trimmed();
    if (text.isEmpty())
        return;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        m_problem(
            QStringLiteral("line %1: not a record (%2)")
                .arg(m_line)
                .arg(error.error != QJsonParseError::NoError ? error.errorString() : QStringLiteral("not an object")));
        return;
    }
    m_record(m_line, ModuleRecord::fromJson(document.object()));
}

#include "core/station/reportfile.h"

#include <QJsonDocument>
#include <QJsonParseError>

bool ReportFile::isOpen() const
{
    return m_handle != nullptr;
}

const QByteArray& ReportFile::contents() const
{
    return m_contents;
}

ReportContents ReportContents::parse(const QByteArray& bytes)
{
    ReportContents out;
    int line = 0;
    for (int at = 0; at < bytes.size();) {
        ++line;
        int end = bytes.indexOf('\n', at);
        if (end < 0) {
            out.cutLine = line;
            end = bytes.size();
        }
        const QByteArray text = bytes.mid(at, end - at).trimmed();
        at = end + 1;
        if (text.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(text, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            out.problems.append(QStringLiteral("line %1: not a record (%2)")
                                    .arg(line)
                                    .arg(error.error != QJsonParseError::NoError ? error.errorString()
                                                                                 : QStringLiteral("not an object")));
            continue;
        }
        out.records.append({line, ModuleRecord::fromJson(document.object())});
    }
    return out;
}

#include "cli/valuestable.h"

namespace CommandLine {

namespace {

// The fields of one record, and where the record ends. A quoted field may
// hold line ends.
QStringList record(const QString& text, int* at, bool* malformed)
{
    QStringList fields;
    QString field;
    bool quoted = false;
    bool wasQuoted = false;
    int i = *at;
    for (; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"') && field.trimmed().isEmpty()) {
            quoted = wasQuoted = true;
            field.clear();
        } else if (c == QLatin1Char(',')) {
            fields.append(wasQuoted ? field : field.trimmed());
            field.clear();
            wasQuoted = false;
        } else if (c == QLatin1Char('\n')) {
            break;
        } else if (c != QLatin1Char('\r')) {
            field += c;
        }
    }
    *malformed = quoted;
    fields.append(wasQuoted ? field : field.trimmed());
    *at = i + 1;
    return fields;
}

} // namespace

QStringList ValuesTable::overrides(int index) const
{
    QStringList out;
    const QStringList& row = rows.at(index);
    for (int i = 0; i < paths.size(); ++i)
        out.append(paths.at(i) + QLatin1Char('=') + row.value(i));
    return out;
}

QJsonObject ValuesTable::values(int index) const
{
    QJsonObject out;
    const QStringList& row = rows.at(index);
    for (int i = 0; i < paths.size(); ++i)
        out.insert(paths.at(i), row.value(i));
    return out;
}

bool readValues(const QString& text, const QStringList& knownPaths, ValuesTable* table, QString* error)
{
    ValuesTable t;
    int at = 0;
    int line = 1;
    while (at < text.size()) {
        const int first = line;
        const int start = at;
        bool malformed = false;
        const QStringList fields = record(text, &at, &malformed);
        line += text.mid(start, at - start).count(QLatin1Char('\n'));
        if (malformed) {
            *error = QStringLiteral("line %1: a quote is not closed").arg(first);
            return false;
        }
        if (fields.size() == 1 && fields.first().isEmpty())
            continue; // a blank line
        if (t.paths.isEmpty()) {
            for (const QString& path : fields) {
                if (!knownPaths.contains(path)) {
                    *error = QStringLiteral("line %1: \"%2\" is not a profile path; known: %3")
                                 .arg(first)
                                 .arg(path, knownPaths.join(QStringLiteral(", ")));
                    return false;
                }
                if (t.paths.contains(path)) {
                    *error = QStringLiteral("line %1: \"%2\" twice").arg(first).arg(path);
                    return false;
                }
                t.paths.append(path);
            }
            continue;
        }
        if (fields.size() != t.paths.size()) {
            *error =
                QStringLiteral("line %1: %2 values for %3 columns").arg(first).arg(fields.size()).arg(t.paths.size());
            return false;
        }
        t.rows.append(fields);
        t.lines.append(first);
    }
    if (t.paths.isEmpty()) {
        *error = QStringLiteral("no header of profile paths");
        return false;
    }
    *table = t;
    return true;
}

} // namespace CommandLine

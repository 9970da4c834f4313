#include "core/station/valuestable.h"

#include "core/config/fileaccess.h"
#include "core/config/moduleconfig.h"

#include <QHash>

namespace {

constexpr qint64 kMaxValuesBytes = 16 * 1024 * 1024;

// The fields of one record, and where the record ends. A quoted field may
// hold line ends and the separator. `problem` tells a record that cannot be
// read as its writer meant it, and `problemAt` where.
QStringList record(const QString& text, QChar separator, int* at, QString* problem, int* problemAt)
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
        } else if (c == separator) {
            fields.append(wasQuoted ? field : field.trimmed());
            field.clear();
            wasQuoted = false;
        } else if (c == QLatin1Char('\n')) {
            break;
        } else if (c == QLatin1Char('\r')) {
            continue;
        } else if (wasQuoted) {
            // "10"1 would be read as 101, or as 10: neither is sure.
            if (c != QLatin1Char(' ') && c != QLatin1Char('\t')) {
                *problem = QStringLiteral("text after the closing quote of a field (quote the whole field, with "
                                          "\"\" for a quote inside)");
                *problemAt = i;
                return fields;
            }
        } else if (c == QLatin1Char('"') && field.trimmed().isEmpty()) {
            quoted = wasQuoted = true;
            field.clear();
        } else {
            field += c;
        }
    }
    if (quoted) {
        *problem = QStringLiteral("a quote is not closed");
        *problemAt = *at;
    }
    fields.append(wasQuoted ? field : field.trimmed());
    *at = i + 1;
    return fields;
}

// The separator of the whole file: a semicolon when the header has one and
// no comma, as spreadsheets save CSV where the comma is the decimal mark;
// else a comma.
QChar separatorOf(const QString& text)
{
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (line.trimmed().isEmpty())
            continue;
        return line.contains(QLatin1Char(';')) && !line.contains(QLatin1Char(',')) ? QLatin1Char(';')
                                                                                   : QLatin1Char(',');
    }
    return QLatin1Char(',');
}

// A CAN ID as a value to compare: hexadecimal digits in any case, with or
// without leading zeros, are one ID.
QString idKey(const QString& id)
{
    QString key = id.trimmed().toUpper();
    while (key.size() > 1 && key.startsWith(QLatin1Char('0')))
        key.remove(0, 1);
    return key;
}

} // namespace

QString canIdKey(const QString& id)
{
    return idKey(id);
}

QStringList ValuesTable::repeatsOf(const QVector<QPair<QString, QString>>& held) const
{
    QHash<QString, QString> whereOf;
    for (const auto& h : held) {
        const QString key = idKey(h.first);
        if (!key.isEmpty() && !whereOf.contains(key))
            whereOf.insert(key, h.second);
    }
    QStringList told;
    const int idColumn = paths.indexOf(QStringLiteral("can.id"));
    for (int r = 0; idColumn >= 0 && r < rows.size(); ++r) {
        const QString id = rows.at(r).at(idColumn);
        const auto where = whereOf.constFind(idKey(id));
        if (where != whereOf.constEnd())
            told.append(QStringLiteral("line %1: can.id %2 repeats %3").arg(lines.at(r)).arg(id, *where));
    }
    return told;
}

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
    const QChar separator = separatorOf(text);
    ValuesTable t;
    int at = 0;
    int line = 1;
    while (at < text.size()) {
        const int first = line;
        const int start = at;
        QString problem;
        int problemAt = 0;
        const QStringList fields = record(text, separator, &at, &problem, &problemAt);
        if (!problem.isEmpty()) {
            *error =
                QStringLiteral("line %1: %2")
                    .arg(QString::number(first + text.mid(start, problemAt - start).count(QLatin1Char('\n'))), problem);
            return false;
        }
        line += text.mid(start, at - start).count(QLatin1Char('\n'));
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
    // A repeated CAN ID is warned of, not refused: most often a slip, but a
    // line may mean it (modules that go to separate buses).
    const int idColumn = t.paths.indexOf(QStringLiteral("can.id"));
    QHash<QString, int> firstLineOf;
    for (int r = 0; idColumn >= 0 && r < t.rows.size(); ++r) {
        const QString id = t.rows.at(r).at(idColumn);
        const QString key = idKey(id);
        if (key.isEmpty())
            continue;
        const auto earlier = firstLineOf.constFind(key);
        if (earlier == firstLineOf.constEnd())
            firstLineOf.insert(key, t.lines.at(r));
        else
            t.warnings.append(QStringLiteral("line %1: can.id %2 repeats line %3")
                                  .arg(QString::number(t.lines.at(r)), id, QString::number(*earlier)));
    }
    *table = t;
    return true;
}

bool loadValues(const QString& path, ValuesTable* table, QString* error)
{
    QString csv;
    if (!Files::readText(path, kMaxValuesBytes, &csv, error))
        return false;
    QString problem;
    if (readValues(csv, Config::fieldPaths(), table, &problem))
        return true;
    *error = QStringLiteral("%1: %2").arg(path, problem);
    return false;
}

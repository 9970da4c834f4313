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
    for (int at = 0; at < text.size();) {
        int end = text.indexOf(QLatin1Char('\n'), at);
        if (end < 0)
            end = text.size();
        const QStringView line = QStringView(text).mid(at, end - at);
        at = end + 1;
        if (line.trimmed().isEmpty())
            continue;
        return line.contains(QLatin1Char(';')) && !line.contains(QLatin1Char(',')) ? QLatin1Char(';')
                                                                                   : QLatin1Char(',');
    }
    return QLatin1Char(',');
}

// The line ends in text[from, to).
int lineEnds(const QString& text, int from, int to)
{
    int n = 0;
    for (int i = from; i < to && i < text.size(); ++i)
        n += text.at(i) == QLatin1Char('\n') ? 1 : 0;
    return n;
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

bool readValueRows(const QString& text, const QStringList& knownPaths, QStringList* paths,
                   const std::function<void(const QStringList& fields, int line)>& row, QStringList* warnings,
                   QString* error)
{
    const QChar separator = separatorOf(text);
    QStringList header;
    int idColumn = -1;
    // A repeated CAN ID is warned of, not refused: most often a slip, but a
    // line may mean it (modules that go to separate buses).
    IdRepeats repeats;
    int at = 0;
    int line = 1;
    while (at < text.size()) {
        const int first = line;
        const int start = at;
        QString problem;
        int problemAt = 0;
        const QStringList fields = record(text, separator, &at, &problem, &problemAt);
        if (!problem.isEmpty()) {
            *error = QStringLiteral("line %1: %2").arg(first + lineEnds(text, start, problemAt)).arg(problem);
            return false;
        }
        line += lineEnds(text, start, at);
        if (fields.size() == 1 && fields.first().isEmpty())
            continue; // a blank line
        if (header.isEmpty()) {
            for (const QString& path : fields) {
                if (!knownPaths.contains(path)) {
                    *error = QStringLiteral("line %1: \"%2\" is not a profile path; known: %3")
                                 .arg(first)
                                 .arg(path, knownPaths.join(QStringLiteral(", ")));
                    return false;
                }
                if (header.contains(path)) {
                    *error = QStringLiteral("line %1: \"%2\" twice").arg(first).arg(path);
                    return false;
                }
                header.append(path);
            }
            idColumn = header.indexOf(QStringLiteral("can.id"));
            continue;
        }
        if (fields.size() != header.size()) {
            *error =
                QStringLiteral("line %1: %2 values for %3 columns").arg(first).arg(fields.size()).arg(header.size());
            return false;
        }
        if (idColumn >= 0) {
            const int earlier = repeats.add(fields.at(idColumn), first);
            if (earlier >= 0 && warnings)
                warnings->append(QStringLiteral("line %1: can.id %2 repeats line %3")
                                     .arg(QString::number(first), fields.at(idColumn), QString::number(earlier)));
        }
        row(fields, first);
    }
    if (header.isEmpty()) {
        *error = QStringLiteral("no header of profile paths");
        return false;
    }
    *paths = header;
    return true;
}

bool readValues(const QString& text, const QStringList& knownPaths, ValuesTable* table, QString* error)
{
    ValuesTable t;
    const auto row = [&t](const QStringList& fields, int line) {
        t.rows.append(fields);
        t.lines.append(line);
    };
    if (!readValueRows(text, knownPaths, &t.paths, row, &t.warnings, error))
        return false;
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

bool loadValueRows(const QString& path, QStringList* paths, ValueRows* rows, QStringList* warnings, QString* error)
{
    QString csv;
    if (!Files::readText(path, kMaxValuesBytes, &csv, error))
        return false;
    QString problem;
    ValueRows read;
    QStringList told;
    const auto row = [&read](const QStringList& fields, int line) { read.append(fields, line); };
    if (!readValueRows(csv, Config::fieldPaths(), paths, row, &told, &problem)) {
        *error = QStringLiteral("%1: %2").arg(path, problem);
        return false;
    }
    read.squeeze();
    *rows = std::move(read);
    *warnings = told;
    return true;
}

void ValueRows::append(const QStringList& fields, int line)
{
    m_starts.append(int(m_data.size()));
    m_lines.append(line);
    for (const QString& field : fields) {
        const QByteArray bytes = field.toUtf8();
        for (quint32 n = quint32(bytes.size());; n >>= 7) {
            if (n < 0x80) {
                m_data.append(char(n));
                break;
            }
            m_data.append(char(0x80 | (n & 0x7F)));
        }
        m_data.append(bytes);
    }
}

QStringList ValueRows::fields(int row) const
{
    QStringList out;
    const int end = row + 1 < m_starts.size() ? m_starts.at(row + 1) : int(m_data.size());
    for (int at = m_starts.at(row); at < end;) {
        quint32 length = 0;
        for (int shift = 0;; shift += 7) {
            const uchar b = uchar(m_data.at(at++));
            length |= quint32(b & 0x7F) << shift;
            if (b < 0x80)
                break;
        }
        out.append(QString::fromUtf8(m_data.constData() + at, int(length)));
        at += int(length);
    }
    return out;
}

void ValueRows::squeeze()
{
    m_data.squeeze();
    m_starts.squeeze();
    m_lines.squeeze();
}

int IdRepeats::add(const QString& id, int tag)
{
    const QString key = canIdKey(id);
    if (key.isEmpty())
        return -1;
    bool number = false;
    const quint32 value = key.size() <= 8 ? key.toUInt(&number, 16) : 0;
    // "+1" and " 1" read as numbers too: only plain digits are kept as one.
    if (number) {
        for (const QChar c : key)
            number = number && c.isLetterOrNumber();
    }
    if (number) {
        const auto earlier = m_numbers.constFind(value);
        if (earlier != m_numbers.constEnd())
            return *earlier;
        m_numbers.insert(value, tag);
        return -1;
    }
    const auto earlier = m_others.constFind(key);
    if (earlier != m_others.constEnd())
        return *earlier;
    m_others.insert(key, tag);
    return -1;
}

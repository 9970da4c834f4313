#pragma once

#include "core/session/operation.h"

#include <QDateTime>
#include <QJsonObject>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

// What the station keeps of one module: the line of its report, the record
// column of a ledger's result, the object a face prints. Its one conversion
// to and from JSON keeps the report's keys and values as they have always
// been, so that a report written by an earlier version resumes, and scripts
// that read it see the same keys.
struct ModuleRecord
{
    // How the module ended. Faces switch on it; only the record's text
    // spells it ("ok", "differences", ...).
    enum class Verdict {
        Ok,          // written, verified and, when asked, restarted
        Differences, // written, but the module holds other values
        Refused,     // the module refused a command
        NoAnswer,    // the module did not answer
        CutShort,    // the port closed, or a stop came, before the module was done
        ClaimLost,   // the row's claim was no longer the station's: nothing went to the module
        Duplicate,   // written, but the row's claim was lost meanwhile: its values are on another module too
        Traffic,     // written, but its traffic through the module was not within the limits (status 3)
        Unknown,     // a word this version does not know (a newer tool's report)
    };

    // A field the module holds otherwise than expected.
    struct Difference
    {
        QString field;       // its profile path
        QString expected;    // what was written, or what the profile holds
        QString module;      // what the module reported
        bool written = true; // `expected` was written ("wrote"), not only the profile's ("profile")
        bool operator==(const Difference& o) const;
    };

    // A command the module refused, with its reply.
    struct Refusal
    {
        QString command;
        QString reply;
        bool operator==(const Refusal& o) const;
    };

    // Another module that holds the same row's values.
    struct Holder
    {
        QString station;
        QString port;
        int module = 0; // 0: not known yet (that module is still in progress)
        bool operator==(const Holder& o) const;
    };

    // The last command that went out of a sequence that did not complete.
    struct Stop
    {
        int step = 0; // 0: before the first
        int steps = 0;
        QString command; // empty before the first
        bool operator==(const Stop& o) const;
    };

    QString time; // local time with its offset, as written ("2026-12-07T10:15:02.123+01:00")
    QString port;
    QJsonObject adapter; // serialNumber, vendorId, productId
    QString device;      // for a usb: port, the device it was found on
    int module = 0;
    int row = 0; // 0 without values
    QJsonObject values;
    Verdict verdict = Verdict::Unknown;
    QString verdictWord; // the word of an Unknown verdict, kept as read
    int status = 0;
    QVector<Difference> differences;
    QVector<Refusal> refused;
    std::optional<QStringList> unanswered;
    std::optional<Stop> stoppedAfter;
    std::optional<QStringList> written;
    std::optional<QStringList> partlyWritten;
    std::optional<QStringList> notWritten;
    QString newLine;                   // the serial line a module took, in words; empty when it kept its line
    std::optional<Holder> duplicateOf; // for a Duplicate, the other module
    QString error;
    qint64 durationMs = 0;
    // The traffic check's measurements and verdict (TrafficCheck's result
    // object), when the station checks the traffic.
    std::optional<QJsonObject> traffic;
    QJsonObject unknown; // keys this version does not know, kept as read

    bool ok() const { return verdict == Verdict::Ok; }
    // The record's word for its verdict: "ok", "differences", ..., or the unknown word as read.
    QString result() const { return verdict == Verdict::Unknown ? verdictWord : word(verdict); }
    // The time of day of `time`, for a list of results; invalid when unreadable.
    QTime timeOfDay() const;

    // The record of a module that ended with `r`; the station adds where and when.
    static ModuleRecord of(const Operation::Result& r);
    // The verdict of a result.
    static Verdict verdictOf(const Operation::Result& r);
    // The record's word for a verdict, and the verdict of a word (Unknown for any other).
    static QString word(Verdict verdict);
    static Verdict verdictNamed(const QString& word);

    QJsonObject toJson() const;
    // One line of a report: compact JSON and a line end.
    QByteArray toLine() const;
    // A record as a report or a ledger keeps it; what it lacks takes its
    // default (no module number: 0; no result: Unknown).
    static ModuleRecord fromJson(const QJsonObject& object);

    bool operator==(const ModuleRecord& o) const;
    bool operator!=(const ModuleRecord& o) const { return !(*this == o); }
};

Q_DECLARE_METATYPE(ModuleRecord)

#pragma once

#include "core/config/moduleconfig.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <memory>

// The profile file: JSON, UTF-8.
namespace Profile {

// The profile text of `config`: fixed key order and layout, one field per
// line, so that the same configuration always gives the same bytes.
QByteArray write(const ModuleConfig& config);

// Reads a profile and checks everything before anything is used. Each
// override "KEY=VALUE" (a dotted path such as can.id=1A0) replaces that field
// first. On refusal returns false, leaves `config` untouched and sets `error`
// to every problem, one line each, naming the field and what is allowed.
// Keys of the file that no field has are ignored and named in `warnings`
// ("unknown key \"can.idd\" ignored"); an unknown key in an override is
// refused. Hexadecimal values may be lower case and come out upper case.
bool read(const QByteArray& text, ModuleConfig* config, QString* error, const QStringList& overrides = {},
          QStringList* warnings = nullptr);

// What is wrong with the shape of an override, before its value is looked
// at: "x: expected KEY=VALUE", "can.idd: unknown field; known: ..."; empty
// when it names a field.
QString overrideProblem(const QString& override);

} // namespace Profile

// A profile file as every command takes it: read once, exactly (a file that
// is not plain UTF-8 text is refused with its line), then checked whole with
// each set of overrides (a station's rows give one set each).
class ProfileFile
{
public:
    // Reads `path`, "-" for standard input; false with `error` naming the
    // file and what is wrong.
    bool load(const QString& path, QString* error);
    // The file as messages name it ("standard input" for "-").
    QString name() const { return m_name; }
    // The file's bytes as read, for a record of what was written.
    QByteArray text() const { return m_text; }
    // The configuration with `overrides`; false with every problem added to
    // `problems`, one line each, after "`where`: " when `where` is given
    // (the file's name, a row's line). Keys the file has that no field has
    // go to `warnings`.
    bool configure(const QStringList& overrides, ModuleConfig* config, QStringList* problems,
                   QStringList* warnings = nullptr, const QString& where = QString()) const;
    // The same with `base + overrides`, for many `overrides` after one
    // `base` (a station's own, then each row's): the profile with `base` is
    // checked once, and each call checks the fields `overrides` give on it.
    // Whatever is refused is checked whole again, so that the problems are
    // those configure() names.
    bool configure(const QStringList& base, const QStringList& overrides, ModuleConfig* config, QStringList* problems,
                   QStringList* warnings = nullptr, const QString& where = QString()) const;

private:
    QByteArray m_text;
    QString m_name;
    // The file's object as load() parsed it, or why it is no profile.
    bool m_parsed = false;
    QJsonObject m_root;
    QStringList m_unknown;
    QString m_problem;
    struct Bases; // the configurations with the bases given so far, shared by copies
    std::shared_ptr<Bases> m_bases;
};

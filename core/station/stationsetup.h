#pragma once

#include "core/station/station.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// A station's setup as an engineer prepares it once and a line runs it: a
// JSON file with one key per line in a fixed order, so that engineers' scripts
// can write it and people can diff it. Paths are kept relative to the
// setup file's folder; a key left out takes its default.
struct StationSetup
{
    QString profile;   // the profile file
    QString values;    // the values CSV, or a ledger's URL; empty for the profile alone
    QString report;    // the JSON Lines report; empty for none
    QStringList ports; // each a port name or path, or usb:SERIAL
    int baud = 115200;
    QString parity = QStringLiteral("none"); // none, odd, even
    int stopBits = 1;
    bool fast = false;
    bool restart = false;
    int count = -1;      // modules in all; -1 (null) for no limit
    QString removal;     // probe, port, operator; empty: the default of whoever runs it
    QString stationName; // the station's name in a ledger; empty: the host's name

    bool operator==(const StationSetup& o) const;
    bool operator!=(const StationSetup& o) const { return !(*this == o); }
};

namespace Setup {

// "probe", "port", "operator".
const QStringList& removals();

// The settings a station runs the setup with; the removal as the setup
// names it, the probe when it names none.
Station::Settings settings(const StationSetup& setup);

// The setup's text; the paths below `folder` are written relative to it.
QByteArray write(const StationSetup& setup, const QString& folder);
// Reads a setup whose relative paths are relative to `folder`. False with
// every problem in `problems`, each naming the key and what is allowed;
// keys it does not know go to `warnings`.
bool read(const QByteArray& text, const QString& folder, StationSetup* setup, QStringList* problems,
          QStringList* warnings = nullptr);
// Reads the setup file `path` exactly (as every file the tool reads); its
// problems and warnings are prefixed with the file's name.
bool load(const QString& path, StationSetup* setup, QStringList* problems, QStringList* warnings = nullptr);

} // namespace Setup

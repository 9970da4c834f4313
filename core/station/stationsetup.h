#pragma once

#include "core/station/station.h"

#include <QByteArray>
#include <QSerialPort>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

// A station's settings, the one shape that a setup file, the command line's
// options and the window's Setup page fill alike, and that the station runs
// with. As a file it is JSON with one key per line in a fixed order, so that
// engineers' scripts can write it and people can diff it; paths are kept
// relative to the setup file's folder; a key left out takes its default.
struct StationSetup
{
    QString profile;       // the profile file, "-" for standard input
    QStringList overrides; // KEY=VALUE each, before each row's values
    QString values;        // the values CSV, or a ledger's URL; empty for the profile alone
    QString report;        // the JSON Lines report; empty for none
    QStringList ports;     // each a port name or path, or usb:SERIAL
    int baud = 115200;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    int stopBits = 1;
    bool fast = false;
    bool restart = false;
    int count = -1; // modules in all; -1 (null) for no limit
    // How a module's removal is known; none given: removal() resolves it.
    std::optional<Station::Removal> removalGiven;
    QString stationName; // the station's name in a ledger; empty: the host's name
    QString can;         // PLUGIN:INTERFACE: each module's traffic is checked on this CAN interface; empty: not
    int maxLatency = Traffic::CheckSetup::kDefaultMaxLatencyMs; // ms: the traffic check's latency limit

    // The removal the station uses: the one given, or the default.
    Station::Removal removal() const;
    // The PC side's line.
    Operation::PortLine line() const;

    bool operator==(const StationSetup& o) const;
    bool operator!=(const StationSetup& o) const { return !(*this == o); }
};

namespace Setup {

// The limits of a setup, the same for the file, the options and the window.
constexpr int kMinBaud = 1;
constexpr int kMaxBaud = 4000000;
constexpr int kMinCount = 1;
constexpr int kMaxCount = 1000000000;
constexpr int kMinLatency = 1;
constexpr int kMaxLatency = Traffic::CheckSetup::kMaxLatencyLimitMs;
constexpr int kDefaultLatency = Traffic::CheckSetup::kDefaultMaxLatencyMs;

// "probe", "port", "operator".
const QStringList& removals();
QString removalWord(Station::Removal removal);
// False for a word that names no removal.
bool removalNamed(const QString& word, Station::Removal* removal);

// The settings a station runs the setup with.
Station::Settings settings(const StationSetup& setup);

// Everything of the setup that a run would refuse before any module, as
// problems: a value out of its limits, no profile, no port, a port named
// twice, a report that cannot be written. `subject` of a value's problem is
// its key.
QVector<Operation::Problem> check(const StationSetup& setup);

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

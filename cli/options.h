#pragma once

#include "core/session/operation.h"
#include "core/station/stationsetup.h"

#include <QSerialPort>
#include <QString>
#include <QStringList>

namespace CommandLine {

// The command line of velkocan-cli, parsed.
struct Options
{
    QString command;
    QStringList arguments; // the positional arguments after the command
    QString port;          // the port of a single-module command
    QStringList ports;     // station: one slot per --port
    QString profile;       // write, verify, station: the profile file, "-" for standard input
    QString output;        // read: -o
    QString values;        // --values CSV or a ledger's URL
    QString stationName;   // station: --station-name, the station's name in a ledger
    QString station;       // ledger release: --station, whose claims are given back
    bool results = false;  // ledger export: --results
    bool force = false;    // ledger release: --force, also a station that is running
    int lease = -1;        // ledger init: --lease SECONDS
    QString report;        // station: --report FILE
    QStringList overrides;
    int count = -1; // --count, -1 for no limit
    bool verify = false;
    bool restart = false;
    bool fast = false;
    bool json = false;
    bool quiet = false;
    bool check = false;        // station: --check, read everything as a run would and send nothing
    StationSetup setup;        // station: --setup's file, with the options given over it
    bool fromSetup = false;    // station: --setup was given
    QStringList setupWarnings; // station: what --setup's file holds that the tool does not know
    QString logFile;
    QString can;                               // traffic: --can PLUGIN:INTERFACE; ports: --can lists the CAN interfaces
    bool listCan = false;                      // ports: --can
    int canBitrate = -1;                       // traffic: --can-bitrate KBIT, -1 for the module's can.rateKbit
    int maxLatencyMs = Setup::kDefaultLatency; // traffic, station: --max-latency MS
    QString trace;                             // traffic: --trace FILE
    int baud = 115200;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    // The PC side's line: --baud, --parity, --stop.
    Operation::PortLine portLine() const { return {baud, parity, stopBits}; }
};

} // namespace CommandLine

#pragma once

#include "core/session/operation.h"
#include "core/station/modulerecord.h"
#include "core/traffic/trafficcheck.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>
#include <memory>

struct StationSetup;

// The production line: each port is a slot (a fixture) served on a thread of
// its own, with a port and a module session of its own. A slot waits for a
// module, writes the profile with the module's own values (a row of the
// values file each), verifies it, restarts it when asked, records it and
// waits until it is gone. Every module is recorded, or the line stops: the
// report is held for the run, and a record that cannot be written ends the
// taking of modules. Widget-free: the command line and the window are faces
// that show what it reports; the signals come on the thread that made it.
class Station : public QObject
{
    Q_OBJECT

public:
    // How a slot knows that its module was taken off: the probe ("+++" and
    // "AT" until it gets no answer; each probe puts a restarted module back
    // into its configuration state), the port (the fixture's adapter goes
    // away with the module) or the operator's word (confirmRemoval()).
    enum class Removal { Probe, Port, Operator };

    // What a fixture is doing: waiting for a module, working on one (its
    // write, verify, restart and traffic check), or waiting until it is taken off.
    enum class FixtureState { Waiting, Writing, Verifying, Restarting, Checking, Removing };
    Q_ENUM(FixtureState)

    // The setup as the engine runs it, resolved (Setup::settings()).
    struct Settings
    {
        QString profile; // the profile file, "-" for standard input
        QStringList overrides;
        QString values;      // a CSV of per-module values, or a ledger's URL; empty: the profile alone for every module
        QString stationName; // the station's name in a ledger; empty: the host's name
        QString report;      // the JSON Lines report; empty for none
        QStringList ports;   // each a port name or path, or usb:SERIAL
        Operation::PortLine line;
        bool fast = false;
        bool restart = false;
        int count = -1;            // modules in all, -1 for no limit
        bool check = false;        // prepare() only reads: the report is neither held nor changed
        bool withoutPorts = false; // a check of the rows alone: no fixture is named
        Removal removal = Removal::Probe;
        QString can; // PLUGIN:INTERFACE: the traffic is checked as each module's last step; empty: not
        int maxLatencyMs = Traffic::CheckSetup::kDefaultMaxLatencyMs; // the traffic check's limit
        // Words a stop's number ("SIGINT"); stop() is given the number.
        std::function<QString(int)> stopName = [](int signal) { return QStringLiteral("signal %1").arg(signal); };
    };

    // A row that a run would give to a module.
    struct RowLeft
    {
        int row = 0;  // 1-based
        int line = 0; // of the values file
        QJsonObject values;
    };

    // How the run went, once it has ended.
    struct Summary
    {
        int ok = 0;
        int failed = 0;
        int rowsLeft = 0;
        int rowsRefused = 0; // ledger rows the profile refused when they were taken
        bool fromValues = false;
        QString recordError; // why a record could not be kept (the report, the values' source); empty when all were
        int unrecorded = 0;  // records that went to note() only
        int claimsLost = 0;  // ledger rows whose claim was lost before their values went out: nothing was written
        int stop = 0;        // the number stop() was given first, 0 when nothing stopped the line
        bool interrupted = false; // a stop cut a module short
        bool exhausted = false;   // the rows or the count ran out
        bool portOpened = false;  // a slot opened its port at least once
    };

    // How a face runs the station.
    struct Run
    {
        bool check = false;        // prepare() only reads: the report is neither held nor changed
        bool withoutPorts = false; // a check of the rows alone: no fixture is named
        // Words a stop's number ("SIGINT"); stop() is given the number.
        std::function<QString(int)> stopName = [](int signal) { return QStringLiteral("signal %1").arg(signal); };
    };

    // A setup that a run would refuse is refused by prepare(), whether the
    // run only checks or not.
    Station(const StationSetup& setup, const Run& run, QObject* parent = nullptr);
    ~Station() override;

    // Reads and checks the profile, every row and the report as a resume
    // reads it; from here on the report is held (a second station on it is
    // refused) unless the settings only check. Warnings go to note(). False
    // with `refused` set: nothing was sent.
    bool prepare(Operation::Result* refused);
    // The rows a run would give, in order, and those the report already holds as done.
    QVector<RowLeft> rowsLeft() const;
    // The same a row at a time, without holding them all (a check of a big
    // order); a false from `row` ends it. A run on a ledger takes its rows
    // from the ledger as it goes: without the settings' check they are only
    // counted (rowsLeftCount()), not read here.
    void eachRowLeft(const std::function<bool(const RowLeft& row)>& row) const;
    int rowsLeftCount() const;
    int rowsDone() const;
    // The highest module number of the report; the run's modules follow it.
    int lastModule() const;

    // Refuses ports that exist and can be no module's, and one device under
    // two names; then starts every slot. False with `refused` set.
    bool start(Operation::Result* refused);
    // From now on no module starts; a module in progress ends after the
    // exchange in progress and is recorded as cut short. `stop` is the
    // signal's number, which its records' status adds to 128.
    void stop(int stop);
    // The operator took the module of `slot` (from 0) off: with the
    // operator's removal, the slot waits for the next module.
    void confirmRemoval(int slot);
    bool isRunning() const;
    Summary summary() const;

signals:
    // A warning or a notice for the user, one line.
    void note(const QString& line);
    // `detail` says more of the state: why a slot waits, the step of the operation.
    void slotState(int slot, Station::FixtureState state, const QString& detail);
    // Step `step` of `steps` of the module's operation has begun.
    void slotStep(int slot, int step, int steps, const QString& what);
    // A slot took a module and gave it a row (`values`; empty without values).
    void moduleStarted(int slot, int module, int row, const QJsonObject& values);
    // One module ended: its record, and for one that was not ok what went
    // wrong, in words. `recorded`: the record is in the report (or there is
    // none); otherwise note() had it whole.
    void moduleDone(int slot, const ModuleRecord& record, const QString& reason, bool recorded);
    // With the operator's removal: `slot` waits for the operator's word that
    // its module was taken off.
    void removalAwaited(int slot);
    // A record could not be kept: no further module is taken. The same line
    // goes to note().
    void lineStopped(const QString& why);
    // Every slot has ended.
    void finished();

private:
    class Slot;
    struct Work; // the rows, their pool and the report

    void record(int slot, const ModuleRecord& record, bool interrupted, const QString& reason, const QString& notKept);
    bool readReport(Operation::Result* refused);
    // Takes no further module, for `why`: a record could not be kept.
    void stopTaking(const QString& why);
    bool checkPorts(Operation::Result* refused) const;
    void slotEnded();

    const Settings m_settings;
    QVector<Operation::Problem> m_setupProblems; // what the setup holds that a run refuses
    std::unique_ptr<Work> m_work;
    QVector<Slot*> m_slots;
    int m_running = 0;
    Summary m_summary;
    bool m_endCutLine = false;      // the report's last line has no line end yet
    bool m_reportTakes = true;      // the report has taken every record so far
    QVector<QByteArray> m_reported; // this run's records in the report, while it takes them
    int m_lastModule = 0;
    int m_done = 0; // rows the report holds as done
};

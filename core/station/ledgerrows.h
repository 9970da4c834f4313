#pragma once

#include "core/config/profile.h"
#include "core/station/ledger.h"
#include "core/station/rowrule.h"
#include "core/station/rowsource.h"

#include <functional>
#include <memory>

// A station's rows from a ledger that other stations share: each row is
// claimed in one transaction when a module takes it, held by a lease that a
// thread of its own renews while the modules are worked, marked used with
// the module's result when the module is ok, and given back when it is not.
// A claim whose lease ran out (its station died) is free again. A row that
// the station's profile refuses is given back, told, and not taken again by
// this station. While the database does not answer, no row is taken (the
// slots say why) and a module's result waits, retried, until it answers or
// the run ends.
class LedgerRows : public RowSource
{
public:
    struct Settings
    {
        LedgerAddress address;
        LedgerClaimant claimant;
        ProfileFile profile;
        RowRule::Station rule; // what each row is given and checked with
        int count = -1;        // modules in all, -1 for no limit
        int lastModule = 0;    // the run's module numbers follow it
        // How long a module's operation (write, verify, restart) is held to
        // take: a confirmed claim's lease lasts at least that long, so that a
        // station held up for a while after it confirmed still finishes its
        // module alone. Longer than that, a claim may be lost and the module
        // is then recorded as a duplicate. Not longer: a station that dies
        // keeps its row from the others that long.
        int moduleBudgetMs = 20000;
        // A notice for the user, one line; called on any thread.
        std::function<void(const QString&)> note;
    };

    explicit LedgerRows(Settings settings);
    ~LedgerRows() override;

    // "ledger row 4 (ids.csv line 5)": a row in messages.
    static QString where(const LedgerRow& row);

    // Reads the ledger's lease and starts renewing; false with `problem` set.
    bool start(LedgerProblem* problem);

    Take take(StationRow* row, int* module, QString* why) override;
    Hold confirm(const StationRow& row) override;
    bool finish(const StationRow& row, ModuleRecord* record, QString* error) override;
    bool over() const override;
    bool exhausted() const override;
    void close() override;
    void runEnding() override;
    int rowsLeft() const override;
    int rowsRefused() const override;
    QString failure() const override;
    void threadEnded() override;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

#pragma once

#include "core/config/moduleconfig.h"
#include "core/station/modulerecord.h"

#include <QJsonObject>
#include <QString>
#include <QVector>
#include <functional>

// One module's values: where they came from, the configuration to write
// and the values as the report shows them.
struct StationRow
{
    int index = -1; // the source's own key for the row
    int number = 0; // as records number it, from 1; 0 without values
    int line = 0;   // of the values file, for messages; 0 for none
    ModuleConfig config;
    QJsonObject values;
};

// Where a station's rows come from, and where each module's end is told.
// The slots' threads share it: every member may be called from any of them.
class RowSource
{
public:
    enum class Take { Got, Wait, Over };
    // Whether a row taken may still go to its module.
    enum class Hold { Own, Lost, Ending };

    virtual ~RowSource() = default;

    // Got: `row` and the module's number are set. Wait: no row now; `why`
    // says why for the slot's status, or is left empty when every row left
    // is with a module in progress that may give it back. Over: no module
    // starts any more.
    virtual Take take(StationRow* row, int* module, QString* why) = 0;
    // Right before the row's values go out to its module: Own, or Lost when
    // the row is no longer this station's to give (nothing may go out; the
    // module takes another row after finish() with a ClaimLost record), or
    // Ending when the run ends before that could be known.
    virtual Hold confirm(const StationRow& row)
    {
        (void)row;
        return Hold::Own;
    }
    // The module that took `row` ended with `record`: a module that was ok
    // keeps its row, any other gives it back for the next one. The source
    // may find that the record says more (a Duplicate) and change it.
    // False with `error` set when the source could not keep that (the line
    // then takes no further module).
    virtual bool finish(const StationRow& row, ModuleRecord* record, QString* error) = 0;
    // No module can start any more: closed, or the work is done.
    virtual bool over() const = 0;
    // The rows or the count ran out: the line's work is done.
    virtual bool exhausted() const = 0;
    // From now on no module starts; those in progress finish.
    virtual void close() = 0;
    // The run is ending (a stop): a module's end that cannot be kept now is
    // not waited for any longer; finish() then says why.
    virtual void runEnding() {}
    virtual int rowsLeft() const = 0;
    // Rows the station's profile refused when they were taken; none where
    // every row was checked before the run.
    virtual int rowsRefused() const { return 0; }
    // Why the source could take no further row (its database refused it);
    // empty when nothing went wrong.
    virtual QString failure() const { return QString(); }
    // Called on each slot's thread as the slot ends: what the source holds
    // for that thread (a connection of its own, say) goes with it.
    virtual void threadEnded() {}
};

// The rows of a values file (or the profile alone for every module), each
// once, in order, to the next module that starts; a module that fails gives
// its row back to the next one. With a count, at most that many modules in
// all. Module numbers continue after `lastModule`.
class RowPool : public RowSource
{
public:
    RowPool(QVector<StationRow> rows, bool fromValues, int count, int lastModule);
    // The rows `order` names, each made by `make` (its index set) when a
    // module takes it: a big order is held by what its rows need, not as
    // configurations. `make` is called on the slots' threads.
    RowPool(QVector<int> order, std::function<StationRow(int index)> make, bool fromValues, int count, int lastModule);
    ~RowPool() override;

    Take take(StationRow* row, int* module, QString* why) override;
    bool finish(const StationRow& row, ModuleRecord* record, QString* error) override;
    bool over() const override;
    bool exhausted() const override;
    void close() override;
    int rowsLeft() const override;

private:
    struct State;
    State* const m_state;
};

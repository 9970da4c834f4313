#pragma once

// Helpers around the simulated module: its fault options, its state as text
// and as a configuration. Built where the simulated module is (Linux).
#include "core/config/moduleconfig.h"
#include "sim/simmodule.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace TestSupport {

// Sets `faults` from velkocan-sim's options ("--blanks", "--slow-ok", "200",
// ...); false with `error` set when the options are refused.
bool parseFaultOptions(const QStringList& options, sim::SimModule::Faults* faults, QString* error = nullptr);
// The same for a module; fails the test when the options are refused.
void setFaults(sim::SimModule* module, const QStringList& options);

// The parity of a module word: "ODD", "EVEN", anything else none.
sim::Parity parityOf(const QString& word);

// The module answers `frame` with `reply` in place of its own reply, and the
// frame changes nothing; every other frame is handled as usual.
void answerFrame(sim::SimModule* module, const QByteArray& frame, const QByteArray& reply);

// The module's filter list as filter table rows ("TYPE,ID"), and back.
QStringList rowsOf(const QVector<sim::Filter>& filters);
QVector<sim::Filter> filtersOf(const QStringList& rows);

// Everything of the module's state that a write or a module command can
// touch, as one comparable text.
QString describe(const sim::ModuleState& state);

// A module holding `config` in every parameter, its serial line in effect
// and pending that of `config`; everything else as the factory left it.
sim::ModuleState moduleHolding(const ModuleConfig& config);

} // namespace TestSupport

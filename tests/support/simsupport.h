#pragma once

// Helpers around the simulated module: its fault options, its state as text
// and as a configuration. Built where the simulated module is (Linux).
#include "core/config/moduleconfig.h"
#include "sim/simmodule.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

namespace Traffic {
class CanBus;
}

namespace TestSupport {

// A virtualcan bus on a free TCP port of the test's own, hosted by a device
// owned by `owner` (the first device opened on the port hosts the bus, for as
// long as it lives); its name ("virtualcan:tcp://127.0.0.1:PORT/can0") in
// `bus`. Fails the test and returns null when it does not open.
Traffic::CanBus* hostCanBus(QObject* owner, QString* bus);

// Sets `faults` from velkocan-sim's options ("--blanks", "--slow-ok", "200",
// ...); false with `error` set when the options are refused. As given.
bool parseFaultOptions(const QStringList& options, sim::SimModule::Faults* faults, QString* error = nullptr);
// The same for a module, its timing faults at the pace in effect (paced());
// fails the test when the options are refused.
void setFaults(sim::SimModule* module, const QStringList& options);

// The longest each sequence may take against a module that misbehaves, by
// its own pauses and poll budgets (every poll at least 100 ms, 50 budget
// units each), for a filter list of three entries: the read-back, the whole
// write, the filter list's write, and the search (three passes over the
// rates; a failed attempt costs 500 ms from 9600 baud up, more below).
constexpr qint64 kConnectMs = 150 + 10 * (100 + 1000) + (100 + 14000);
constexpr qint64 kWriteMs = 4 * 300 + 2 * 100 + 6 * (100 + 1000) + 2 * (100 + 600) + 3 * (100 + 1000);
constexpr qint64 kListWriteMs = 2 * 100 + 2 * (100 + 600) + 3 * (100 + 1000);
constexpr qint64 kSearchMs = 3 * (10 * 500 + 537 + 776 + 1252 + 2205) + 1666;

// Switches on one of the ways a module misbehaves, by name: "garbage",
// "zero byte", "64 KiB replies", "endless stream", "replies split across
// polls", "notice after +++", "unplugged midway", "reports without key"
// (every query answered by a serial report without its key), "reports with
// too few fields" (every report of its own key without a value), "invalid
// UTF-8" (every report of its own key with bytes that are not UTF-8).
void setHostileFault(sim::SimModule* module, const QString& fault);

// The parity of a module word: "ODD", "EVEN", anything else none.
sim::Parity parityOf(const QString& word);

// The module answers `frame` with `reply` in place of its own reply, and the
// frame changes nothing; every other frame is handled as usual.
void answerFrame(sim::SimModule* module, const QByteArray& frame, const QByteArray& reply);

// The module answers the first `frame` with `reply` (empty: silence) in
// place of its own reply; every later one, and every other frame, as usual.
void answerFirst(sim::SimModule* module, const QByteArray& frame, const QByteArray& reply);

// The module's filter list as filter table rows ("TYPE,ID"), and back; the
// rows as the filter entries of a configuration.
QStringList rowsOf(const QVector<sim::Filter>& filters);
QVector<sim::Filter> filtersOf(const QStringList& rows);
QVector<At::FilterEntry> entriesOf(const QStringList& rows);

// Everything of the module's state that a write or a module command can
// touch, as one comparable text.
QString describe(const sim::ModuleState& state);

// A module holding `config` in every parameter, its serial line in effect
// and pending that of `config`; everything else as the factory left it.
sim::ModuleState moduleHolding(const ModuleConfig& config);

// A configuration that a read-back reads whole: every field but the serial
// line's rate away from the factory settings, with the mode, the CAN frame,
// the filter mode and `filters` entries (distinctRows()) as given.
ModuleConfig readBackSample(const QString& mode, const QString& frameType, const QString& id, const QString& filterMode,
                            int filters);

// What the reply-form rows' module holds: the line's stop bits and parity,
// the CAN settings, both flags and the direction away from the factory
// settings, and two entries in filter mode USER, or none in filter mode OFF.
// Its even parity looks like none on a pseudo-terminal: the module answers.
ModuleConfig replyFormsSample(bool filters);

// A module that differs from the factory settings in every parameter, in
// its configuration state with echo off.
sim::ModuleState customizedModule();
// customizedModule() with every token and flag other than `config` holds, so
// that a command a write of `config` does not send, or sends when it should
// not, shows in the module's state.
sim::ModuleState moduleBefore(const ModuleConfig& config);
// The module after a whole write of `config`, starting from `before`: the
// line pending, the sub-parameters of the written mode only, the list only
// in filter mode USER.
sim::ModuleState moduleAfterWrite(sim::ModuleState before, const ModuleConfig& config);
// The frames of a whole write of `config`, in order.
QList<QByteArray> writeFrames(const ModuleConfig& config);

// The frames of a search as the module received them, each with the line the
// tool had set: "AT\r\n @9600 odd". None and even parity look alike
// on a pseudo-terminal: neither says "odd".
QString describeFrame(const QByteArray& data, int baud, bool odd);
QStringList describeFrames(const QVector<sim::Frame>& frames);
// One attempt of the search as the module sees it.
struct SearchAttempt
{
    int baud;
    bool odd;
};
// Every attempt of a whole search, in order: each rate with no, even and odd parity.
QVector<SearchAttempt> searchAttempts();
// The frames of the first `count` attempts when none of them is answered.
QStringList unansweredAttempts(int count);
// The frames of an attempt that finds the module: the escape, the notice
// request and the bare command that lets the module leave its configuration
// state. The module ends a frame after an idle gap on the line, so that last
// one is recorded a little after the search has returned: awaited with QTRY.
QStringList answeredAttempt(int baud, bool odd);
// The "+++" frames only, one per attempt; and those of the first `count` attempts.
QStringList escapes(const QVector<sim::Frame>& frames);
QStringList scheduledEscapes(int count);

} // namespace TestSupport

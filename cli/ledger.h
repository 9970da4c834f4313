#pragma once

namespace CommandLine {

struct Options;
class Reporter;

// velkocan-cli ledger: a line's ledger created, filled, counted, exported and
// freed of a gone station's claims. The database work is the core's; this
// prints it.
int runLedger(const Options& options, Reporter& out);

} // namespace CommandLine

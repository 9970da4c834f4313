#pragma once

#include "cli/output.h"
#include "core/configreading.h"
#include "core/moduleconfig.h"
#include "core/sequenceoutcome.h"

#include <QString>
#include <QVector>
#include <functional>

class ModuleSession;

namespace CommandLine {

// One operation of velkocan-cli on one module, through a session whose port
// is open: the sequences it runs, and how their outcomes become a result.
class ModuleRun
{
public:
    using Plan = QVector<SequenceOutcome::Group>;

    // `port` names the port in messages and `line` its settings ("115200
    // baud, parity none"); `signal` tells which signal asked to stop, 0 for
    // none; `phase` hears what the progress that follows is part of.
    ModuleRun(ModuleSession& session, const QString& port, const QString& line, std::function<int()> signal,
              std::function<void(const QString&)> phase);

    // Brings the module into its configuration state; false with `r` set
    // when it is not. `what` names the operation, `plan` what it would write.
    bool connect(const QString& what, const Plan& plan, Result* r);
    // The whole configuration, read back; Done with `reading` set, or why not.
    Result read(ConfigReading* reading);
    // Writes `profile` to a module in its configuration state, then, in the
    // same session, reads it back and compares when `verify`, and restarts it
    // when `restart` and all went well.
    Result write(const ModuleConfig& profile, bool verify, bool restart);
    // Reads the groups back and compares them with `profile`: the fields a
    // write of it sends. `written` words the differences as what was written.
    Result verify(const ModuleConfig& profile, bool written);
    // leave, restart or restore.
    Result command(const QString& name);

private:
    Result judged(const SequenceOutcome& o, const QString& what, const Plan& plan = {}) const;
    Result interrupted(SequenceOutcome o, const QString& what, const Plan& plan = {}) const;
    Result notListening() const;

    ModuleSession& m_session;
    const QString m_port;
    const QString m_line;
    const std::function<int()> m_signal;
    const std::function<void(const QString&)> m_phase;
};

// A result in the station report's words: ok, differences, refused,
// no-answer, cut-short.
QString verdict(const Result& r);

} // namespace CommandLine

#pragma once

#include "core/config/moduleconfig.h"
#include "core/protocol/configreading.h"
#include "core/session/operation.h"
#include "core/session/sequenceoutcome.h"

#include <QSerialPort>
#include <QString>
#include <QVector>
#include <functional>

class ModuleSession;
class SerialSocket;

namespace Operation {

// One operation on one module, through a session whose port is open: the
// sequences it runs, and how their outcomes become a result. The command
// line's commands and each module of a station run through it.
class ModuleRun
{
public:
    using Plan = QVector<SequenceOutcome::Group>;

    // `port` is the session's port, open at `line`; `name` names it in
    // messages. `signal` tells which signal asked to stop, 0 for none, and
    // `signalName` words it ("SIGINT"); `phase` hears what the progress that
    // follows is part of.
    ModuleRun(ModuleSession& session, SerialSocket* port, const QString& name, const PortLine& line,
              std::function<int()> signal, std::function<QString(int)> signalName,
              std::function<void(const QString&)> phase);

    // Brings the module into its configuration state; false with `r` set
    // when it is not. `what` names the operation, `plan` what it would write.
    bool connect(const QString& what, const Plan& plan, Result* r);
    // The whole configuration, read back; Done with `reading` set, or why not.
    Result read(ConfigReading* reading);
    // Writes `profile` to a module in its configuration state, then, in the
    // same session, reads it back and compares when `verify`, and restarts it
    // when `restart` and all went well. A profile that changes the module's
    // serial line, verified and restarted, has its serial line checked after
    // the restart, at the new line, and the module restarted once more: a
    // module may report a new line at once or only once it is in effect.
    Result write(const ModuleConfig& profile, bool verify, bool restart);
    // Reads the groups back and compares them with `profile`: the fields a
    // write of it sends, among `fields`. `written` words the differences as
    // what was written.
    Result verify(const ModuleConfig& profile, bool written, ConfigFields fields = Config::everyField());
    // leave, restart or restore.
    Result command(const QString& name);

private:
    Result judged(const SequenceOutcome& o, const QString& what, const Plan& plan = {}) const;
    Result interrupted(SequenceOutcome o, const QString& what, const Plan& plan = {}) const;
    Result notListening() const;
    // After the restart of a module that takes a new serial line: the port
    // at that line, the serial line read there and compared, and a second
    // restart that leaves the module running.
    Result checkNewLine(const ModuleConfig& profile);

    ModuleSession& m_session;
    SerialSocket* const m_socket;
    const QString m_port;
    PortLine m_line;
    const std::function<int()> m_signal;
    const std::function<QString(int)> m_signalName;
    const std::function<void(const QString&)> m_phase;
};

} // namespace Operation

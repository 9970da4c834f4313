#pragma once

#include <QLoggingCategory>

// The developers' diagnostics of the core. All are off unless VELKO_DEBUG=1
// (see Diagnostics::applyEnvironment) or QT_LOGGING_RULES turns them on, so
// that a terminal that starts a program is not flooded.
Q_DECLARE_LOGGING_CATEGORY(lcTransport) // velkocan.transport: the port, "S>>>" and "R<<<"
Q_DECLARE_LOGGING_CATEGORY(lcPolls)     // velkocan.polls: the polls of each exchange
Q_DECLARE_LOGGING_CATEGORY(lcSession)   // velkocan.session: the session's field-level notes

namespace Diagnostics {

// Turns every velkocan.* category on when the environment has VELKO_DEBUG=1.
// QT_LOGGING_RULES, read after it, still has the last word.
void applyEnvironment();

} // namespace Diagnostics

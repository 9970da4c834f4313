#include "core/diagnostics.h"

Q_LOGGING_CATEGORY(lcTransport, "velkocan.transport", QtWarningMsg)
Q_LOGGING_CATEGORY(lcPolls, "velkocan.polls", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSession, "velkocan.session", QtWarningMsg)

namespace Diagnostics {

void applyEnvironment()
{
    if (qEnvironmentVariableIntValue("VELKO_DEBUG") == 1)
        QLoggingCategory::setFilterRules(QStringLiteral("velkocan.*.debug=true"));
}

} // namespace Diagnostics

#pragma once

#include <QLoggingCategory>

// The window's diagnostics (velkocan.window): off unless VELKO_DEBUG=1 or
// QT_LOGGING_RULES turns them on.
Q_DECLARE_LOGGING_CATEGORY(lcWindow)

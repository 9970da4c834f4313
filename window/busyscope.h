#pragma once

#include "window/kx47main.h"

#include <QString>

// Marks the window busy for the lifetime of the scope. A module operation
// that finds the window busy returns at once: every wait processes events,
// so without this a click during a read-back or a write would interleave a
// second exchange with the running one and overwrite the one reply buffer.
// While it holds, the buttons that would start another operation are
// disabled and the status bar shows the operation's progress.
class BusyScope
{
public:
    // `operation` names what runs, for the status bar.
    BusyScope(KX47main* window, const QString& operation);
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

    // False when another operation already held the window; the caller returns.
    bool acquired() const { return m_acquired; }

private:
    KX47main* m_window;
    bool m_acquired = false;
};

// The normal cursor for the lifetime of the scope, for a message box shown
// while an operation's busy cursor is up.
class ArrowCursor
{
public:
    ArrowCursor();
    ~ArrowCursor();
    ArrowCursor(const ArrowCursor&) = delete;
    ArrowCursor& operator=(const ArrowCursor&) = delete;

private:
    bool m_set = false;
};

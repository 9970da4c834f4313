#pragma once

#include "kx47main.h"

// Marks the window busy for the lifetime of the scope. A module operation
// that finds the window busy returns at once: every wait processes events,
// so without this a click during a read-back or a write would interleave a
// second exchange with the running one and overwrite the one reply buffer.
class BusyScope
{
public:
    explicit BusyScope(KX47main* window);
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

    // False when another operation already held the window; the caller returns.
    bool acquired() const { return m_acquired; }

private:
    KX47main* m_window;
    bool m_acquired = false;
};

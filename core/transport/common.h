#pragma once

#include <QObject>
#include <functional>

// Static helpers shared by everything that paces the module. Never instantiated.
class Common : public QObject
{
    Q_OBJECT

public:
    Common() = delete;

    // Waits `ms` milliseconds while the application keeps processing all
    // events, at least every 20 ms; blocks (no CPU) while nothing is pending
    // and returns at the deadline. `ms` <= 0 returns at once.
    static void delay(int ms);
    // The same, ending early (at a wake-up) once `stop` returns true.
    static void delay(int ms, const std::function<bool()>& stop);
};

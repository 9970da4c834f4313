#pragma once

#include "tests/support/windowsupport.h"

#include <QObject>

namespace TestSupport {

// The base of an end-to-end test object: one window for the whole test
// executable, and for each test function a box answerer and a freshly plugged
// simulated module, the log emptied. QtTest finds the four fixture slots below
// through the meta-object of the derived class and never runs them as test
// functions. A test differs from the others through the constructor (whether
// init() opens the module's port from the panel) and the hooks.
class EndToEndTest : public QObject, protected ModuleFixture
{
    Q_OBJECT

public:
    enum class Port { Open, Closed };

protected:
    explicit EndToEndTest(Port port) : m_openPort(port == Port::Open) {}

    // Once, after the window is shown (initTestCase()).
    virtual void windowCreated() {}
    // For each test function, after the module is plugged in and, with
    // Port::Open, its port opened (init()).
    virtual void modulePlugged() {}
    // For each test function, after the port is closed and the module gone (cleanup()).
    virtual void moduleUnplugged() {}

    // Clicks the button `name`; a module operation returns when it has ended.
    void press(const char* name);
    // The module editors and the filter table as they are now.
    Editors editors() const;

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    // Also fails the test function that left an operation of the window running.
    void cleanup();

private:
    const bool m_openPort;
};

} // namespace TestSupport

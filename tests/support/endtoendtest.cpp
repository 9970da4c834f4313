// The fixture slots shared by the end-to-end tests. Built where the simulated
// module is (Linux).
#include "tests/support/endtoendtest.h"

#include "window/kx47main.h"

#include <QPushButton>

namespace TestSupport {

void EndToEndTest::press(const char* name)
{
    widget<QPushButton>(m_window, name)->click();
    QVERIFY(!m_window->isBusy());
}

Editors EndToEndTest::editors() const
{
    return readEditors(m_window);
}

void EndToEndTest::initTestCase()
{
    createWindow();
    windowCreated();
}

void EndToEndTest::cleanupTestCase()
{
    destroyWindow();
}

void EndToEndTest::init()
{
    plugModule(this, m_openPort);
    modulePlugged();
}

void EndToEndTest::cleanup()
{
    // Checked after the module is gone, so that a failure still cleans up.
    const bool busy = m_window->isBusy();
    unplugModule();
    moduleUnplugged();
    QVERIFY(!busy);
}

} // namespace TestSupport

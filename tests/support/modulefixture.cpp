// The end-to-end fixture: per test function, a freshly plugged simulated module.
// Built where the simulated module is (Linux).
#include "tests/support/windowsupport.h"

#include "sim/simmodule.h"
#include "window/kx47main.h"

#include <QPushButton>

namespace TestSupport {

void ModuleFixture::plugModule(QObject* owner, bool open)
{
    m_boxes = new BoxAnswerer(owner);
    m_sim = new sim::SimModule(owner);
    QVERIFY(m_sim->start());
    widget<QPushButton>(m_window, "clean_log_btn")->click();
    if (open)
        QVERIFY(openPortFromPanel(m_window, m_sim->portName()));
}

void ModuleFixture::unplugModule()
{
    closePort(m_window);
    delete m_sim;
    m_sim = nullptr;
    delete m_boxes;
    m_boxes = nullptr;
}

} // namespace TestSupport

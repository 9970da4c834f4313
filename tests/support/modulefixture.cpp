// The end-to-end fixture: a window and, per test function, a simulated module.
// Built where the simulated module is (Linux).
#include "tests/support/testsupport.h"

#include "sim/faultoptions.h"
#include "sim/simmodule.h"
#include "window/kx47main.h"

#include <QCommandLineParser>
#include <QPushButton>

namespace TestSupport {

void setFaults(sim::SimModule* module, const QStringList& options)
{
    QCommandLineParser parser;
    const sim::FaultOptions faults;
    faults.addTo(parser);
    QVERIFY(parser.parse(QStringList{"velkocan-sim"} + options));
    QString error;
    QVERIFY2(faults.read(parser, &module->faults(), &error), qPrintable(error));
}

void ModuleFixture::createWindow()
{
    m_window = new KX47main;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void ModuleFixture::destroyWindow()
{
    delete m_window;
    m_window = nullptr;
}

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

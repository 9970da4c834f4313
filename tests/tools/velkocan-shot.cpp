// Opens the window against a simulated module that holds a configuration
// worth showing, reads it back with "连接设备" and saves a picture of the
// window; with --station, the production line's window with two simulated
// modules on two fixtures, one that passes and one that refuses a setting;
// with --traffic, the traffic window against a simulated module that
// converts on a virtualcan bus of its own, after some traffic and a check.
// Used by scripts/screenshot for the README.
#include "core/config/fileaccess.h"
#include "sim/canbridge.h"
#include "sim/simmodule.h"
#include "window/catalogue.h"
#include "window/kx47main.h"
#include "window/stationwindow.h"
#include "window/trafficwindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <cstdio>

namespace {

// Starts `module`; false after saying why not.
bool start(sim::SimModule& module)
{
    QString error;
    if (module.start(&error))
        return true;
    std::fprintf(stderr, "velkocan-shot: %s\n", qPrintable(error));
    return false;
}

// Opens `port` from the window's panel, as a user does.
void openPort(KX47main& window, const QString& port)
{
    window.slot_portListClicked();
    window.findChild<QComboBox*>("my_serial_number_box")->setCurrentText(port);
    window.findChild<QPushButton*>("my_serial_open_btn")->click();
}

int stationShot(QApplication& app, const QString& output, const QString& profile)
{
    QTranslator translator;
    if (translator.load(cataloguePath(QStringLiteral("language/language_EN.qm"))))
        QApplication::installTranslator(&translator);
    sim::SimModule passes;
    sim::SimModule refuses;
    refuses.faults().refuse = QStringList{QStringLiteral("CAN")};
    if (!start(passes) || !start(refuses))
        return 1;
    QTemporaryDir folder;
    QString written;
    Files::writeWhole(folder.filePath(QStringLiteral("ids.csv")), "can.id\n1A1\n1A2\n", &written);
    StationSetup setup;
    setup.profile = profile;
    setup.values = folder.filePath(QStringLiteral("ids.csv"));
    setup.report = folder.filePath(QStringLiteral("line.jsonl"));
    setup.ports = QStringList{passes.portName(), refuses.portName()};
    setup.fast = true;
    setup.removalGiven = Station::Removal::Operator;

    StationWindow window;
    window.resize(1366, 768);
    window.setSetup(setup);
    window.show();
    int done = 0;
    QTimer::singleShot(200, &window, [&] { window.start(); });
    auto* const poll = new QTimer(&window);
    QObject::connect(poll, &QTimer::timeout, &window, [&] {
        const auto* const ok = window.findChild<QLabel*>(QStringLiteral("station_ok_count"));
        const auto* const failed = window.findChild<QLabel*>(QStringLiteral("station_failed_count"));
        done = ok->text().toInt() + failed->text().toInt();
        if (done < 2)
            return;
        poll->stop();
        QTimer::singleShot(300, &window, [&] {
            const bool saved = window.grab().save(output);
            std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(output));
            window.stopAndWait();
            app.exit(saved ? 0 : 1);
        });
    });
    poll->start(100);
    return app.exec();
}

int trafficShot(QApplication& app, const QString& output)
{
    // A bus on a free port of its own, hosted by the module's side for the whole run.
    quint16 busPort = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        busPort = probe.serverPort();
    }
    const QString bus = QStringLiteral("virtualcan:tcp://127.0.0.1:%1/can0").arg(busPort);
    sim::SimModule module;
    module.state().canId = QStringLiteral("1A1");
    module.state().canRate = 500;
    if (!start(module))
        return 1;
    sim::CanBridge bridge(&module);
    QString error;
    if (!bridge.open(bus, &error)) {
        std::fprintf(stderr, "velkocan-shot: %s\n", qPrintable(error));
        return 1;
    }

    KX47main window;
    window.show();
    QTimer::singleShot(200, &window, [&] {
        openPort(window, module.portName());
        window.findChild<QAction*>("action_traffic")->trigger(); // returns with the module in its working state
        TrafficWindow* const traffic = window.trafficWindow();
        if (!traffic) {
            std::fprintf(stderr, "velkocan-shot: the traffic window did not open\n");
            app.exit(1);
            return;
        }
        traffic->resize(1280, 720);
        traffic->findChild<QComboBox*>("traffic_can_interface")->setCurrentText(bus);
        traffic->findChild<QPushButton*>("traffic_can_connect_btn")->click();
        traffic->findChild<QLineEdit*>("traffic_serial_input")->setText(QStringLiteral("Hello"));
        traffic->findChild<QComboBox*>("traffic_serial_line_end")->setCurrentIndex(1);
        traffic->findChild<QPushButton*>("traffic_serial_send_btn")->click();
        for (const char* frame : {"123#DEADBEEF", "7FF#0102"}) {
            traffic->findChild<QLineEdit*>("traffic_frame_input")->setText(QString::fromLatin1(frame));
            traffic->findChild<QPushButton*>("traffic_frame_send_btn")->click();
        }
        QTimer::singleShot(300, traffic, [&app, traffic, output] {
            traffic->findChild<QPushButton*>("traffic_check_btn")->click(); // returns when the check has ended
            QTimer::singleShot(300, traffic, [&app, traffic, output] {
                const bool saved = traffic->grab().save(output);
                std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(output));
                app.exit(saved ? 0 : 1);
            });
        });
    });
    return app.exec();
}

} // namespace

int main(int argc, char** argv)
{
    // The pictures show a first start, not the settings this user's windows keep.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    const bool station = argc > 2 && QByteArray(argv[1]) == "--station";
    const bool traffic = argc > 1 && QByteArray(argv[1]) == "--traffic";
    if (argc < 2 || (station && argc < 4) || (traffic && argc < 3)) {
        std::fprintf(stderr, "usage: velkocan-shot OUTPUT.png | velkocan-shot --station OUTPUT.png PROFILE | "
                             "velkocan-shot --traffic OUTPUT.png\n");
        return 2;
    }
    if (traffic)
        return trafficShot(app, QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[2])));
    if (station)
        return stationShot(app, QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[2])),
                           QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[3])));
    const QString output = QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[1]));

    sim::SimModule module;
    sim::ModuleState& s = module.state();
    s.canRate = 500;
    s.canId = "1ABCDEF0";
    s.frameType = "EDTF";
    s.mode = "USER";
    s.userHead = "A5";
    s.userTail = "5A";
    s.direction = "UART-CAN";
    s.filterMode = "USER";
    s.filters = {{"NDTF", "7FF"}, {"EDTF", "1ABCDEF0"}, {"NDTF", "123"}};
    if (!start(module))
        return 1;

    KX47main window;
    window.show();
    QTimer::singleShot(200, &window, [&] {
        openPort(window, module.portName());
        window.findChild<QPushButton*>("device_connet")->click(); // returns when the read-back is done
        QTimer::singleShot(300, &window, [&] {
            const bool saved = window.grab().save(output);
            std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(output));
            app.exit(saved ? 0 : 1);
        });
    });
    return app.exec();
}

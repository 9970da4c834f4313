// Opens the window against a simulated module that holds a configuration
// worth showing, reads it back with "连接设备" and saves a picture of the
// window. Used by scripts/screenshot for the README.
#include "sim/simmodule.h"
#include "window/kx47main.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: velkocan-shot OUTPUT.png\n");
        return 2;
    }
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
    QString error;
    if (!module.start(&error)) {
        std::fprintf(stderr, "velkocan-shot: %s\n", qPrintable(error));
        return 1;
    }

    KX47main window;
    window.show();
    QTimer::singleShot(200, &window, [&] {
        window.slot_portListClicked();
        auto* const ports = window.findChild<QComboBox*>("my_serial_number_box");
        ports->setCurrentText(module.portName());
        window.findChild<QPushButton*>("my_serial_open_btn")->click();
        window.findChild<QPushButton*>("device_connet")->click(); // returns when the read-back is done
        QTimer::singleShot(300, &window, [&] {
            const bool saved = window.grab().save(output);
            std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(output));
            app.exit(saved ? 0 : 1);
        });
    });
    return app.exec();
}

#pragma once

#include "core/traffic/trafficcheck.h"

#include <QHash>
#include <QWidget>

class ModuleSession;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTimer;
class SerialSocket;

namespace Traffic {
class TrafficSession;
}

// The traffic through the module in its working state, on the port the
// configuration window has open: the serial side's bytes as hex and text,
// the CAN side's frames and the latest frame of each ID, bytes and frames
// to send, the core's traffic check and its trace. It is a face of the
// core's TrafficSession: the window only turns the user's input into bytes
// and frames and shows what the session reports. While it is open the
// module is out of its configuration state; going back to configuring (or
// closing the window) puts it back.
class TrafficWindow : public QWidget
{
    Q_OBJECT

public:
    // `session` and `port` are the configuration window's (not owned), the
    // port open as `portName`.
    TrafficWindow(ModuleSession* session, SerialSocket* port, const QString& portName, QWidget* parent = nullptr);
    ~TrafficWindow() override;

    // Reads the module, lets it leave its configuration state and moves to
    // its serial line; false with `why` set when the module is not in its
    // working state.
    bool begin(QString* why);
    bool isWorking() const;

    // Both sides' trace to `path` (CAN, candump -L) and `path`.serial
    // (serial, time-stamped hex lines), without the dialog; false after a
    // message box.
    bool saveTrace(const QString& path);

signals:
    // The module is told to go back to its configuration state, and has
    // answered there (`listening`) or not; the window closes.
    void configuring(bool listening);
    // Something for the configuration window's log.
    void logMessage(const QString& text);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildSerialSide(QWidget* parent, class QVBoxLayout* column);
    void buildCanSide(QWidget* parent, class QVBoxLayout* column);
    void showModule();
    void showSerial(const QByteArray& data, bool sent, qint64 usecs);
    void showFrame(const Traffic::CanFrame& frame, bool sent, qint64 usecs);
    void showStatus(const QString& text);
    // The serial input as bytes, its line end appended; false when the hex is not hex.
    bool serialInput(QByteArray* bytes) const;
    void sendSerialClicked();
    void sendSerialOnce();
    void stopRepeat();
    void connectCanClicked();
    void sendFrameClicked();
    void runCheck();
    void showReport(const Traffic::CheckReport& report);
    void chooseTraceToSave();
    void clearViews();
    // Sending and the check only while the module works, the bus is open and no check runs.
    void updateButtons();
    // Back to configuring, once; the window then closes.
    void backToConfiguring();

    Traffic::TrafficSession* m_traffic = nullptr; // child
    SerialSocket* m_port;
    bool m_ended = false;
    bool m_closeAfterCheck = false;

    QLabel* m_module = nullptr;
    QPlainTextEdit* m_serialView = nullptr;
    QLineEdit* m_serialInput = nullptr;
    QCheckBox* m_serialHex = nullptr;
    QComboBox* m_lineEnd = nullptr;
    QCheckBox* m_repeat = nullptr;
    QSpinBox* m_repeatMs = nullptr;
    QPushButton* m_serialSend = nullptr;
    QTimer* m_repeatTimer = nullptr;

    QComboBox* m_canInterface = nullptr;
    QPushButton* m_canConnect = nullptr;
    QTableWidget* m_frames = nullptr;
    QTableWidget* m_latest = nullptr;
    QHash<quint64, int> m_latestRows; // frame type and ID to the row of m_latest
    QLineEdit* m_frameInput = nullptr;
    QPushButton* m_frameSend = nullptr;

    QSpinBox* m_checkCount = nullptr;
    QSpinBox* m_checkLatency = nullptr;
    QPushButton* m_checkButton = nullptr;
    QLabel* m_checkResult = nullptr;
    QPushButton* m_saveTrace = nullptr;
    QPushButton* m_back = nullptr;
    QLabel* m_status = nullptr;
};

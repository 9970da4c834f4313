#pragma once

#include "core/session/modulesession.h"
#include "core/transport/portwatch.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>

class FilterTable;
class QCloseEvent;
class QLabel;
class QProgressBar;
class QTableWidgetItem;
class QTranslator;
class StationWindow;
class TrafficWindow;

namespace Ui {
class KX47main;
}

// The one window of the tool: a view over the module session. Its slots turn
// the editors into a configuration for the session's sequences and show what
// the session reports (log entries, each group read, failures as message
// boxes). The members are spread over the files of window/ (shell, serial
// panel, log, editors, module commands, profile files, filter list); the
// filter table itself is a FilterTable.
class KX47main : public QMainWindow
{
    Q_OBJECT

public:
    explicit KX47main(QWidget* parent = nullptr);
    ~KX47main() override;

    // The translated title; set again after every retranslation.
    void set_title();
    // The start state: hidden and disabled controls, the English catalogue,
    // the port list, the panel's items and the editors' rules.
    void init_ui();

    // Serial port panel.
    void fill_port_box(QStringList list);
    void set_open_btn(bool open);

    // What the window keeps for the next run (the port, the PC side's line,
    // the options, its geometry): written when a port opens and when the
    // window closes, read back when it is made.
    void saveSettings();

    // Baud-rate search; 1 found, 0 nothing found or cancelled, -1 stopped on an error.
    int search_baud_rate();

    // True while a module operation (read-back, write, search, list write, ...)
    // is waiting for the module; other module operations do nothing meanwhile.
    bool isBusy() const { return m_busy; }
    // The traffic window while it is open; the module is in its working state
    // while it is, and the module commands wait.
    TrafficWindow* trafficWindow() const;

    // The editors and the filter table as one configuration, as a write sends them.
    ModuleConfig editorsConfig() const;
    // Profile files and the log, without their dialogs. A profile is checked
    // whole before any editor changes; false after a message box.
    bool openConfig(const QString& path);
    bool saveConfig(const QString& path);
    bool saveLog(const QString& path);

public slots:
    void on_my_serial_open_btn_clicked();
    void on_clean_log_btn_clicked();
    void on_in_config_btn_clicked();
    void on_quit_btn_clicked();
    void slot_portListClicked();
    void devicd_Clicked();
    void modbus_box_set();
    void set_send_btn(bool flag);
    void on_reset_btn_clicked();
    void on_restore_btn_clicked();
    void show_log(QByteArray data, int DateFlag);
    void showTime();
    void kx47send(QByteArray date);
    uint16_t get_can_baud();
    void on_write_485_btn_clicked();
    void updata_tableWidget(QString idtype, QString iddate);
    void on_write_can_btn_clicked();
    bool kx47Query(QByteArray date, int16_t time);
    void box_send_mode();
    void on_device_connet_clicked();
    void send_can_mode(QString qstr);
    void send_filtra_mode(QString qstr);
    void send_dev_mode(QString qstr);
    void set_type_1();
    void set_type_2();
    void set_type_3();
    void send_direction_mode(QString qstr);
    void on_write_dev_mode_btn_clicked();
    void Box_filtra_mode();
    void on_write_filter_mode_btn_clicked();
    void send_filter_mode(QString qstr);
    void on_add_filter_id_btn_clicked();
    void on_write_id_btn_clicked();
    void on_del_id_btn_clicked();
    void on_clean_list_btn_clicked();
    void on_tableWidget_itemChanged(QTableWidgetItem* item);
    char ConvertHexChar(char ch);
    int at_master_get_argc(char* str);
    void closeEvent(QCloseEvent* event) override;
    void on_all_set_clicked();
    bool kx47Query_one(QByteArray date, int16_t time);
    void onRegisterAccountClicked();
    void on_language_clicked();
    void set_serching_sta(uchar sta);

private:
    friend class BusyScope;

    // The busy state of BusyScope: operation buttons off, progress shown;
    // afterwards every button as the panel's and the list's rules give it.
    void enterBusy(const QString& operation);
    void leaveBusy();
    void showProgress(int step, int steps, const QString& what);
    // What the user's last action did, in the status bar until the next one.
    void showResult(const QString& text);
    // The filter list's write and clear buttons: on in filter mode USER while
    // the port is open and no operation runs.
    void set_list_send_btn(bool portOpen);
    // A sequence of set commands, busy, `operation` named in the status bar;
    // afterwards the commands the module refused or left unanswered in one box.
    void runSequence(const QString& operation, const std::function<void()>& sequence);
    // runSequence() of a write.
    void runWrite(const std::function<void()>& sequence);
    // Before a write of what the editors show: true when they hold something
    // read from the module on the line or an opened profile, else when the
    // user answers yes to writing them all the same.
    bool confirmWrite();
    void showRefusals();
    // A port error: into the log, and the closed look when the port is gone.
    void showPortError(const QString& message);
    void stopSearch();

    // What the editors hold, asked for by a sequence before each command.
    ModuleSession::ConfigSource editors() const;
    // Puts what the module (or a profile) said into the editors, through the
    // setter slots, in the order of the fields; the fields that went into an
    // editor lose their not-read mark and are returned. A value that selects
    // no item, or a CAN ID that is empty or does not fit its frame type, goes
    // nowhere.
    ConfigFields applyReading(const ConfigReading& reading);
    // The editor that shows `field`.
    QWidget* editorOf(ConfigField field) const;
    // Marks the editors of `fields` as not read from the module (a colour and
    // a tool tip), or takes the mark away.
    void markNotRead(ConfigFields fields, bool notRead);
    void showFailure(ModuleSession::Failure failure);
    void showSearchFound(const ModuleSession::Line& line);
    // The File menu.
    void chooseConfigToOpen();
    void chooseConfigToSave();
    void chooseLogToSave();
    // A file chosen in a dialog that starts in the folder last used for
    // profiles, or for logs with `log`; that folder is kept.
    QString chooseFile(bool save, bool log, const QString& caption, const QString& name, const QString& filter);
    // The Production menu: the production line's window, made once and shown again.
    void openStationWindow();
    // The traffic window on the open port: the module read and out of its
    // configuration state first; a refusal is told in a box.
    void openTrafficWindow();
    // Whether the traffic window holds the module in its working state.
    bool trafficHolds() const;
    // The settings of the last run, as saveSettings() kept them.
    void restoreSettings();
    // Opens the port and line the panel shows; true when it is open.
    bool openSelectedPort();
    // The adapter of the port that vanished is back as `port`: it is opened
    // again at the line it had. The operation it cut is not repeated.
    void reopenReturningPort(const QString& port);

    Ui::KX47main* ui = nullptr;
    QTranslator* translator = nullptr;          // no parent; lives until the process ends
    ModuleSession* m_session = nullptr;         // child of the window
    std::unique_ptr<FilterTable> m_filterTable; // on the form's tableWidget
    bool m_busy = false;
    bool m_searching = false;
    bool m_listButtonsOn = false;        // the filter mode's rule for the list buttons
    bool m_portShownOpen = false;        // the panel shows the port open
    QString m_operation;                 // the running operation, for the status bar
    bool m_failureShown = false;         // the running operation told a failure in a box
    bool m_foundNothing = false;         // the running search ended without an answer
    int m_fieldsNotRead = 0;             // by the running read-back, which ran to its end
    ConfigFields m_readBackShown;        // what the running read-back put into the editors
    QElapsedTimer m_operationClock;      // since the running operation began
    QLabel* m_statusText = nullptr;      // in the status bar
    QProgressBar* m_statusBar = nullptr; // in the status bar
    PortWatch* m_portWatch = nullptr;    // child; watches for a port that vanished
    // The port as it was last opened, and its line: what a returning adapter is opened with.
    struct OpenedPort
    {
        PortWatch::Identity identity;
        int baud = 0;
        int parity = 0;
        int stopBits = 0;
    } m_opened;
    QString m_reopenPending;                 // a port that came back while an operation was ending
    int m_reopenTries = 0;                   // a returning port that does not open yet is tried again a few times
    QPointer<StationWindow> m_stationWindow; // a window of its own, deleted when it closes
    QPointer<TrafficWindow> m_trafficWindow; // a window of its own, deleted when it closes
    bool m_trafficReading = false;           // the traffic window reads the module: the editors keep theirs
    // The editors hold something read from the module on the line, or an
    // opened profile. False again whenever the port opens or closes: another
    // module may be on the line.
    bool m_somethingRead = false;
};

#pragma once

#include "core/station/station.h"
#include "core/station/stationsetup.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QVector>

class QCheckBox;
class QCloseEvent;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;

// The production line's window for the operator who swaps modules: a tile
// per fixture (its state in a word and a colour, the step while it works,
// the last result until the next module starts), large counters of passed
// and failed modules and of the rows left, one Start and one Stop, the last
// results, and the setup the engineer prepares once. It is one more face of
// the core's Station: everything it shows comes from the station's signals.
class StationWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit StationWindow(QWidget* parent = nullptr);
    ~StationWindow() override;

    // The setup in the window, and one put into it.
    StationSetup setup() const;
    void setSetup(const StationSetup& setup);
    // The setup files, without their dialogs; false after a message box.
    bool openSetup(const QString& path);
    bool saveSetup(const QString& path);
    // Opens the setup opened or saved last time, when there is one and its
    // file is still there.
    void restoreLastSetup();

    // Whether the line runs.
    bool isRunning() const;
    // Stops a line that runs and returns once it has ended.
    void stopAndWait();

public slots:
    // Starts the line with the setup in the window; a refusal is told in a box.
    void start();
    // Ends the line as Ctrl+C ends the command line's: the exchanges in
    // progress finish and every module is recorded.
    void stop();

signals:
    // The line has ended (started() ran, and every slot has stopped).
    void lineEnded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct Tile;

    void buildSetup(QWidget* parent, class QGridLayout* grid);
    void buildTiles();
    void refreshPortChoice();
    void addPort();
    void removePort();
    void chooseSetupToOpen();
    void chooseSetupToSave();
    QString choosePath(QLineEdit* edit, const QString& caption, const QString& filter, bool save);
    void setRunning(bool running);
    void showStatus(const QString& text);
    void showCounters();
    void tell(const QString& title, const QString& text);
    // Asks `question` with OK and Cancel, Cancel the default; true for OK.
    bool confirmed(const QString& question);
    // A core's problem in this window's words: its fields and boxes.
    QString worded(const Operation::Problem& p) const;

    // What the station reports.
    void slotState(int slot, Station::FixtureState state, const QString& detail);
    void slotStep(int slot, int step, int steps, const QString& what);
    void moduleStarted(int slot, int module, int row, const QJsonObject& values);
    void moduleDone(int slot, const ModuleRecord& record, const QString& reason, bool recorded);
    void removalAwaited(int slot);
    void lineStopped(const QString& why);
    void finished();

    // A tile in its state: `colour` a background, `words` the state.
    void paint(Tile& tile, const QString& colour, const QString& words);
    // The tiles before Start: not started, and whether each port is there.
    void paintNotStarted();
    // The rows a start would give now, counted without opening a port; -1
    // when there are no values, or they cannot be counted yet (a ledger, a
    // setup a start would refuse).
    int countRowsLeft() const;
    // A setup file opened or saved: its folder and itself are kept.
    void keepSetupPath(const QString& path);

    // The setup's editors.
    QLineEdit* m_profile = nullptr;
    QLineEdit* m_values = nullptr;
    QLineEdit* m_report = nullptr;
    QListWidget* m_ports = nullptr;
    QComboBox* m_portChoice = nullptr;
    QComboBox* m_baud = nullptr;
    QComboBox* m_parity = nullptr;
    QComboBox* m_stop = nullptr;
    QCheckBox* m_fast = nullptr;
    QCheckBox* m_restart = nullptr;
    QSpinBox* m_count = nullptr;
    QComboBox* m_removal = nullptr;
    QLineEdit* m_stationName = nullptr;
    QLineEdit* m_can = nullptr;
    QSpinBox* m_maxLatency = nullptr;
    QWidget* m_setupBox = nullptr;
    QPushButton* m_startButton = nullptr;
    QPushButton* m_stopButton = nullptr;
    QAction* m_openAction = nullptr;
    QAction* m_saveAction = nullptr;

    // The line.
    QLabel* m_okCount = nullptr;
    QLabel* m_failedCount = nullptr;
    QLabel* m_rowsLeft = nullptr;
    QLabel* m_rate = nullptr;
    QWidget* m_tileArea = nullptr;
    QTableWidget* m_results = nullptr;
    QPlainTextEdit* m_messages = nullptr;
    QLabel* m_status = nullptr;
    QVector<Tile*> m_tiles;

    Station* m_station = nullptr; // child of the window while the line runs
    QElapsedTimer m_clock;        // since the line started
    int m_ok = 0;
    int m_failed = 0;
    int m_rowsToGo = -1; // -1 without values, or before they were counted
    QString m_folder;    // of the setup dialogs
};

#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

class QSocketNotifier;
class QTimer;

namespace sim {

enum class Parity { None, Even, Odd };
// "NONE", "ODD" or "EVEN", as the module's reports say.
QByteArray parityText(Parity p);

// One filter of the module's list.
struct Filter
{
    QString type; // "NDTF" or "EDTF"
    QString id;   // upper-case hexadecimal, no leading zeros
    bool operator==(const Filter& o) const { return type == o.type && id == o.id; }
};

// Everything the module keeps. Defaults are the module's factory settings.
struct ModuleState
{
    // Serial line in effect, and the one a restart will apply.
    qint32 baud = 115200;
    int stopBits = 1;
    Parity parity = Parity::None;
    qint32 pendingBaud = 115200;
    int pendingStopBits = 1;
    Parity pendingParity = Parity::None;

    int canRate = 250;   // kbit/s
    QString canId = "0"; // hexadecimal
    QString frameType = "NDTF";
    QString mode = "TRANS";  // TRANS, TPRTL, PROTOL, MODBUS, USER
    bool msgId = false;      // AT+MSG first flag
    bool msgInfo = false;    // AT+MSG second flag
    QString userHead = "A5"; // AT+UDMHT
    QString userTail = "5A";
    QString idLength = "2"; // AT+RANDOM
    QString idPosition = "0";
    QString direction = "BOTHWAY";
    QString filterMode = "OFF";
    QVector<Filter> filters;
    int filterCapacity = 20;

    bool echo = true;
    bool configMode = false;
    bool noticeArmed = false;
};

// One frame received from the tool, delimited by an idle gap on the line.
struct Frame
{
    QByteArray data;
    qint32 baud = 0;        // the tool's baud rate at reception, read from the master side
    bool oddParity = false; // the tool asked for odd parity (none and even look alike)
    bool matched = false;   // the tool's line settings matched the module's
    qint64 msecs = 0;       // time of the frame's first byte since start()
};

// A converter module on the master side of a pseudo-terminal. The tool opens
// the slave side (portName()) with the real QSerialPort. Runs on the thread
// that created it, driven by its event loop.
class SimModule : public QObject
{
    Q_OBJECT

public:
    explicit SimModule(QObject* parent = nullptr);
    ~SimModule() override;

    // Opens the pseudo-terminal, puts the master into raw mode and publishes
    // a link to the slave in the virtual-port folder. False with `error` set on failure.
    bool start(QString* error = nullptr);
    // Closes the master (the module is unplugged) and removes the link.
    void stop();
    bool isRunning() const;

    QString portName() const;  // the published link; what the tool opens
    QString slavePath() const; // /dev/pts/N

    ModuleState& state() { return m_state; }
    const ModuleState& state() const { return m_state; }
    // Sets the serial line in effect and the pending one.
    void setLine(qint32 baud, Parity parity, int stopBits = 1);
    // A freshly powered module with factory settings: all parameters, the
    // line in effect and the pending one (115200 8N1), echo on, outside the
    // configuration state. The filter capacity is kept. (The module's own
    // restore command, by contrast, leaves the line in effect and the
    // configuration state alone.)
    void restoreFactory();
    // True while a reply (or filler) is still going out on the line.
    bool isSending() const;
    // Takes the module out 100 ms after the tool has read what it was sent
    // (at most 1 s from now) and plugs in a fresh one, with factory settings,
    // under the same link as many milliseconds later as the replug fault
    // says (at once when it is off); what the fault does after each restart.
    void replug();

    // Frames received so far, in order (all of them, also those at a line setting that did not match).
    const QVector<Frame>& frames() const { return m_frames; }
    QList<QByteArray> frameData() const; // only the bytes
    void clearFrames();

    // Fault switches, all off by default.
    struct Faults
    {
        bool silent = false;           // answers nothing at all
        bool garbage = false;          // every reply is replaced by random printable bytes
        int splitGapMs = 0;            // > 0: each reply in two halves with this gap between
        bool zeroByte = false;         // a zero byte is inserted in the middle of each reply
        bool longReply = false;        // each reply is followed by 64 KiB of filler text
        bool endless = false;          // after the next reply, sends filler without pause until switched off
        bool noticeAfterPlus = false;  // the notice goes out right after "+++", "AT" only gets the OK reply
        int unplugAfterFrames = -1;    // >= 0: the master is closed once this many frames were received
        QStringList silentFor;         // commands starting with one of these get no reply
        QString extraAfterValues;      // text inserted after the fields of a report, before "\r\n"
        bool blankAfterComma = false;  // reports put a blank after each comma between fields
        bool padIds = false;           // CAN IDs in reports have 8 hex digits with leading zeros
        bool bareEmptyList = false;    // an empty filter list is reported as the bare key "AT+FILTER="
        int pauseInLineMs = 0;         // > 0: a reply with a report pauses this long inside its first report line
        int okAfterEchoMs = 0;         // > 0: the rest of a reply follows the echo of the command this much later
        int silentAfterFrames = -1;    // >= 0: no answer (and no change) once this many frames were received
        QStringList keepSettings;      // set commands of these names (e.g. "CAN") get OK but change nothing
        QStringList refuse;            // set commands of these names get a plain "ERROR" line and change nothing
        int replugAfterRestartMs = -1; // >= 0: 100 ms after a restart's reply the module is unplugged, and this
                                       // much later another one, with factory settings, is plugged in under
                                       // the same link
        // AT+UART? reports the line set for the next restart, not the one in effect.
        bool reportsNewLineAtOnce = false;
    };
    Faults& faults() { return m_faults; }

    // Replaces the reply to a frame: return true and set `reply` to send it
    // (empty for silence), false for the module's normal behaviour.
    using ReplyHook = std::function<bool(const QByteArray& frame, QByteArray& reply)>;
    void setReplyHook(ReplyHook hook) { m_hook = std::move(hook); }

    // The reply the module gives to one frame in its current state, and the
    // state change the frame makes. Pure logic, without the line.
    QByteArray handleFrame(const QByteArray& frame);

    // Whether the module converts in its working state (a CAN side is
    // attached): its messages then end after a gap of 4 character times (at
    // least 2 ms) instead of the configuration state's, and each one outside
    // the configuration state is reported by workingMessage() instead of
    // being taken as a command ("+++" still enters the configuration state).
    void setConverting(bool converting) { m_converting = converting; }
    bool converting() const { return m_converting; }
    // Puts `bytes` on the serial line at the module's line, as its
    // conversion of a frame from the bus.
    void sendRaw(const QByteArray& bytes);

signals:
    // Every frame, also one at a line setting that did not match; emitted
    // before the module answers it.
    void frameReceived(const QByteArray& data);
    // A reply goes out (after the content faults were applied; filler of the
    // endless fault is not reported).
    void replyQueued(const QByteArray& data);
    // The unplug fault closed the module; not emitted by stop().
    void unplugged();
    // The replug fault plugged in the next module (its device is slavePath()).
    void replugged();
    // A message from the tool while the module converts in its working state.
    void workingMessage(const QByteArray& data);

private:
    // One piece of output: sent `gapMs` after the piece before it ended, at
    // the module line that was in effect when the reply was made.
    struct TxChunk
    {
        QByteArray data;
        int gapMs = 0;
        qint32 baud = 115200;
        Parity parity = Parity::None;
        bool filler = false;
        std::function<void()> done; // runs once the last byte is out
    };

    // Where the timing faults pause the reply made by handleFrame; -1: nowhere.
    struct Cuts
    {
        int afterEcho = -1; // the end of the echo
        int inLine = -1;    // the middle of the value text of the first report line
    };

    void onReadable();
    void onGap();
    void onPace();
    void queueReply(const QByteArray& reply, const Cuts& cuts, qint32 baud, Parity parity,
                    std::function<void()> done = {});
    qint32 masterBaud(bool* oddParity) const;
    QByteArray commandReply(const QByteArray& frame);
    // `cut` is set to the offset in the report where the value text of its first line is cut, or -1.
    QByteArray queryReport(const QByteArray& name, int* cut) const;
    bool applySetting(const QByteArray& name, const QList<QByteArray>& args);
    void restart();
    void unplug();
    // Opens a new pseudo-terminal in raw mode and starts reading it.
    bool openLine(QString* error);
    void closeLine();
    // The replug's steps: out once the tool has read its reply, then the next module in.
    void unplugOnceRead();
    void plugInTheNext();
    // Points `link` at the line's device, replacing what it pointed at.
    bool linkTo(const QString& link);
    int gapMs() const;

    ModuleState m_state;
    Faults m_faults;
    ReplyHook m_hook;
    Cuts m_cuts; // of the last reply made by handleFrame
    QVector<Frame> m_frames;
    QByteArray m_rx;
    qint64 m_rxStart = 0;
    qint64 m_rxLast = 0; // when bytes of the frame being gathered were last read
    qint32 m_rxBaud = 0; // line of the frame's first bytes
    bool m_rxOdd = false;
    bool m_rxMixed = false; // the tool changed its line during the frame
    QByteArray m_tx;        // unsent bytes of the current chunk
    qint64 m_txSent = 0;    // bytes of the current chunk put on the line since m_txClock started
    QElapsedTimer m_txClock;
    TxChunk m_txCur;
    bool m_txActive = false;
    QVector<TxChunk> m_txQueue;
    bool m_streaming = false;        // the endless fault is feeding filler
    bool m_restartRequested = false; // set by a restart command in handleFrame
    bool m_restarting = false;       // the restart reply is still going out
    bool m_converting = false;       // a CAN side is attached
    QElapsedTimer m_clock;
    int m_master = -1;
    int m_slaveHold = -1;
    qint64 m_unplugBy = 0; // on m_clock: the replug's unplug waits no longer for the tool to read
    QString m_slavePath;
    struct
    {
        qint32 baud = 115200;
        Parity parity = Parity::None;
        int stopBits = 1;
    } m_plugged; // the line a module plugged in by the replug fault starts with
    QString m_link;
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_gapTimer = nullptr;
    QTimer* m_paceTimer = nullptr;
};

// Text that cannot be mistaken for anything the module says (no "AT", no
// "+OK", no "R"), of `size` bytes: what the long-reply and endless faults send.
QByteArray fillerText(int size);

// Reads the baud rate and the odd-parity flag of a pseudo-terminal master
// (TCGETS2); kept in a unit of its own because <asm/termbits.h> clashes with <termios.h>.
bool readMasterLine(int fd, qint32* baud, bool* oddParity);

} // namespace sim

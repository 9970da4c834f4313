// Pure rules of the tool: AT commands and reply parsing, filter cell checks,
// log entries and the registry text conversions. No window, no port.
#include "core/protocol/atprotocol.h"
#include "core/protocol/filtercheck.h"
#include "core/protocol/logformat.h"
#include "core/transport/portnames.h"
#include "core/transport/serialsocket.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using At::FilterEntry;
Q_DECLARE_METATYPE(QVector<FilterEntry>)
Q_DECLARE_METATYPE(FilterCheck::IdVerdict)

class TstProtocol : public QObject
{
    Q_OBJECT

private slots:
    void setCommands_data();
    void setCommands();
    void canRate_data();
    void canRate();
    void reportFields_data();
    void reportFields();
    void tokens_data();
    void tokens();
    void flags_data();
    void flags();
    void filterListing_data();
    void filterListing();
    void entryCount_data();
    void entryCount();
    void hexDigit_data();
    void hexDigit();
    void canonicalHex_data();
    void canonicalHex();
    void replyComplete_data();
    void replyComplete();
    void echoOff_data();
    void echoOff();
    void refusal_data();
    void refusal();
    void replyFinished_data();
    void replyFinished();
    void configNotice_data();
    void configNotice();
    void filterId_data();
    void filterId();
    void logEntry_data();
    void logEntry();
    void timeStamp();
    void registryText();
    void virtualPorts();
    void virtualPortFolderWithoutRuntimeDir();
};

void TstProtocol::setCommands_data()
{
    QTest::addColumn<QByteArray>("built");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("serial line: stop bits come before parity")
        << At::uartCommand("9600", "2", "EVEN") << QByteArray("AT+UART=9600,8,2,EVEN,NFC\r\n");
    QTest::newRow("CAN with an empty ID sends 0")
        << At::canCommand(500, QString(), "NDTF") << QByteArray("AT+CAN=500,0,NDTF\r\n");
    QTest::newRow("CAN extended") << At::canCommand(1000, "1FFFFFFF", "EDTF")
                                  << QByteArray("AT+CAN=1000,1FFFFFFF,EDTF\r\n");
    QTest::newRow("CAN without a frame type")
        << At::canCommand(125, "7F", QString()) << QByteArray("AT+CAN=125,7F,\r\n");
    QTest::newRow("direction both ways is BOTHWAY")
        << At::directionCommand("BOTHWAY") << QByteArray("AT+DIRECTION=BOTHWAY\r\n");
    QTest::newRow("direction CAN to serial")
        << At::directionCommand("CAN-UART") << QByteArray("AT+DIRECTION=CAN-UART\r\n");
    QTest::newRow("mode PROTOL") << At::modeCommand("PROTOL") << QByteArray("AT+MODE=PROTOL\r\n");
    QTest::newRow("mode MODBUS") << At::modeCommand("MODBUS") << QByteArray("AT+MODE=MODBUS\r\n");
    QTest::newRow("mode without a token still sent") << At::modeCommand(QString()) << QByteArray("AT+MODE=\r\n");
    QTest::newRow("flags off") << At::msgCommand(false, false) << QByteArray("AT+MSG=0,0\r\n");
    QTest::newRow("flags on") << At::msgCommand(true, true) << QByteArray("AT+MSG=1,1\r\n");
    QTest::newRow("flags mixed") << At::msgCommand(false, true) << QByteArray("AT+MSG=0,1\r\n");
    QTest::newRow("identifier with empty length") << At::randomCommand("", "5") << QByteArray("AT+RANDOM=,5\r\n");
    QTest::newRow("user head and tail") << At::udmhtCommand("A5", "5A") << QByteArray("AT+UDMHT=A5,5A\r\n");
    QTest::newRow("filter mode USER") << At::canltCommand("USER") << QByteArray("AT+CANLT=USER\r\n");
    QTest::newRow("filter mode ETF") << At::canltCommand("ETF") << QByteArray("AT+CANLT=ETF\r\n");
    QTest::newRow("one filter") << At::filterCommand("EDTF", "1ABCDEF0") << QByteArray("AT+FILTER=EDTF,1ABCDEF0\r\n");
    QTest::newRow("emptying the list") << At::kDelFilter << QByteArray("AT+DELFILTER=EDTF,0\r\n");
    QTest::newRow("queries without terminator")
        << (At::kDirectionQuery.command + At::kCanltQuery.command + At::kFilterQuery.command)
        << QByteArray("AT+DIRECTION?AT+CANLT?AT+FILTER?");
    QTest::newRow("queries with terminator")
        << (At::kUartQuery.command + At::kMsgQuery.command) << QByteArray("AT+UART?\r\nAT+MSG?\r\n");
}

void TstProtocol::setCommands()
{
    QFETCH(QByteArray, built);
    QFETCH(QByteArray, expected);
    QCOMPARE(built, expected);
}

void TstProtocol::canRate_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("rate");
    QTest::newRow("6K") << "6K" << 6;
    QTest::newRow("500K") << "500K" << 500;
    QTest::newRow("1000K") << "1000K" << 1000;
    QTest::newRow("no digits") << "K500" << 0;
    QTest::newRow("empty") << "" << 0;
}

void TstProtocol::canRate()
{
    QFETCH(QString, text);
    QFETCH(int, rate);
    QCOMPARE(int(At::canRateFromText(text)), rate);
}

void TstProtocol::reportFields_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("fields"); // each up to the end of its line

    QTest::newRow("serial line report with OK after it")
        << QByteArray("\r\nAT+UART=115200,8,1,NONE,NFC\r\n\r\n+OK\r\n\r\n")
        << "AT+UART=" << QStringList{"115200", "8", "1", "NONE", "NFC"};
    QTest::newRow("echo before the report") << QByteArray("AT+CAN?\r\n\r\nAT+CAN=1000,1ABCDEF0,EDTF\r\n\r\n+OK\r\n")
                                            << "AT+CAN=" << QStringList{"1000", "1ABCDEF0", "EDTF"};
    QTest::newRow("last text field ends at its line")
        << QByteArray("\r\nAT+UDMHT=A5,5A\r\n\r\n+OK\r\n\r\n") << "AT+UDMHT=" << QStringList{"A5", "5A"};
    QTest::newRow("last field ended by LF only")
        << QByteArray("AT+RANDOM=3,7\n+OK\n") << "AT+RANDOM=" << QStringList{"3", "7"};
    QTest::newRow("blanks before the line end")
        << QByteArray("AT+UDMHT=A5,5A  \r\n") << "AT+UDMHT=" << QStringList{"A5", "5A"};
    QTest::newRow("empty fields kept") << QByteArray("AT+MSG=,\r\n") << "AT+MSG=" << QStringList{"", ""};
    QTest::newRow("key missing gives no fields") << QByteArray("\r\n+OK\r\n\r\n") << "AT+UART=" << QStringList{};
    QTest::newRow("key in lower case is not the key")
        << QByteArray("at+uart=9600,8,1,NONE,NFC\r\n") << "AT+UART=" << QStringList{};
    QTest::newRow("text after a zero byte is not read")
        << QByteArray("AT+MSG=1", 8) + QByteArray(1, '\0') + QByteArray(",1\r\n") << "AT+MSG=" << QStringList{"1"};
    QTest::newRow("first occurrence of the key counts")
        << QByteArray("AT+CAN=6,1,NDTF\r\nAT+CAN=10,2,EDTF\r\n") << "AT+CAN=" << QStringList{"6", "1", "NDTF"};
}

void TstProtocol::reportFields()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, key);
    QFETCH(QStringList, fields);
    QStringList got;
    const QStringList raw = At::reportFields(reply, key);
    for (const QString& f : raw)
        got.append(At::lineField(f));
    QCOMPARE(got.mid(0, fields.size()), fields);
    QCOMPARE(At::hasKey(reply, key), !fields.isEmpty());
}

void TstProtocol::tokens_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("rest");
    QTest::addColumn<int>("item");

    QTest::newRow("mode USER is item 4") << "mode"
                                         << "USER\r\n\r\n+OK\r\n\r\n"
                                         << 4;
    QTest::newRow("mode MODBUS is item 3") << "mode"
                                           << "MODBUS" << 3;
    QTest::newRow("mode PROTOL is item 2") << "mode"
                                           << "PROTOL\r\n"
                                           << 2;
    QTest::newRow("mode TPRTL") << "mode"
                                << "TPRTL" << 1;
    QTest::newRow("mode unknown") << "mode"
                                  << "trans" << -1;
    QTest::newRow("mode empty") << "mode"
                                << "" << -1;
    QTest::newRow("direction BOTHWAY") << "direction"
                                       << "BOTHWAY\r\n\r\n+OK\r\n\r\n"
                                       << 2;
    QTest::newRow("direction UART-CAN") << "direction"
                                        << "UART-CAN" << 0;
    QTest::newRow("direction CAN-UART") << "direction"
                                        << "CAN-UART" << 1;
    QTest::newRow("direction unknown") << "direction"
                                       << "BOTH" << -1;
    QTest::newRow("filter OFF") << "filter"
                                << "OFF\r\n"
                                << 0;
    QTest::newRow("filter ETF") << "filter"
                                << "ETF" << 1;
    QTest::newRow("filter NTF") << "filter"
                                << "NTF" << 2;
    QTest::newRow("filter USER") << "filter"
                                 << "USER\r\n\r\n+OK\r\n\r\n"
                                 << 3;
    QTest::newRow("frame EDTF with line ends and OK") << "frame"
                                                      << "EDTF\r\n\r\n+OK\r\n\r\n"
                                                      << 1;
    QTest::newRow("frame NDTF") << "frame"
                                << "NDTF" << 0;
    QTest::newRow("frame lower case") << "frame"
                                      << "edtf" << -1;
}

void TstProtocol::tokens()
{
    QFETCH(QString, kind);
    QFETCH(QString, rest);
    QFETCH(int, item);
    // `item` is the token's place in the list of its kind, -1 for none.
    QString got;
    QString token;
    if (kind == "mode") {
        got = At::modeFromReport(rest);
        token = At::modeTokens().value(item);
    } else if (kind == "direction") {
        got = At::directionFromReport(rest);
        token = At::directionTokens().value(item);
    } else if (kind == "filter") {
        got = At::filterModeFromReport(rest);
        token = At::filterModeTokens().value(item);
    } else {
        got = At::frameTypeFromReport(rest);
        token = At::frameTypeTokens().value(item);
    }
    QCOMPARE(got, token);
}

void TstProtocol::flags_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("on");
    QTest::newRow("1") << "1" << true;
    QTest::newRow("1 followed by the OK reply") << "1\r\n\r\n+OK\r\n\r\n" << true;
    QTest::newRow("0") << "0" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("blank before 1") << " 1" << false;
}

void TstProtocol::flags()
{
    QFETCH(QString, field);
    QFETCH(bool, on);
    QCOMPARE(At::flagOn(field), on);
}

void TstProtocol::filterListing_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QVector<FilterEntry>>("entries");

    QTest::newRow("two entries, the 8-digit ID fills its window")
        << QByteArray("\r\nAT+FILTER=NDTF,7FF\r\nAT+FILTER=EDTF,1ABCDEF0\r\n\r\n+OK\r\n\r\n")
        << QVector<FilterEntry>{{"NDTF", "7FF"}, {"EDTF", "1ABCDEF0"}};
    QTest::newRow("empty list") << QByteArray("\r\n\r\n+OK\r\n\r\n") << QVector<FilterEntry>{};
    QTest::newRow("an R outside the entries finds no further key")
        << QByteArray("ERROR\r\nAT+FILTER=NDTF,1\r\n") << QVector<FilterEntry>{{"NDTF", "1"}};
    QTest::newRow("listing cut inside the type") << QByteArray("AT+FILTER=ND") << QVector<FilterEntry>{{"ND", ""}};
    QTest::newRow("listing cut after the key") << QByteArray("AT+FILTER=") << QVector<FilterEntry>{{"", ""}};
    QTest::newRow("a short type keeps its ID") << QByteArray("AT+FILTER=ND,7\r\n") << QVector<FilterEntry>{{"ND", "7"}};
    QTest::newRow("an ID runs to the end of its line, however long")
        << QByteArray("AT+FILTER=EDTF,123456789ABCDEF") << QVector<FilterEntry>{{"EDTF", "123456789ABCDEF"}};
    QTest::newRow("blanks around type and ID are dropped")
        << QByteArray("AT+FILTER= NDTF , 7FF \r\n") << QVector<FilterEntry>{{"NDTF", "7FF"}};
    QTest::newRow("a bare key is an entry without type and ID")
        << QByteArray("\r\nAT+FILTER=\r\n\r\n+OK\r\n\r\n") << QVector<FilterEntry>{{"", ""}};
    QTest::newRow("ID ended by LF alone")
        << QByteArray("AT+FILTER=NDTF,12\nAT+FILTER=NDTF,34\n") << QVector<FilterEntry>{{"NDTF", "12"}, {"NDTF", "34"}};
    QTest::newRow("zero byte ends the listing")
        << QByteArray("AT+FILTER=NDTF,1\r\n", 18) + QByteArray(1, '\0') + QByteArray("AT+FILTER=NDTF,2\r\n")
        << QVector<FilterEntry>{{"NDTF", "1"}};
}

void TstProtocol::filterListing()
{
    QFETCH(QByteArray, reply);
    QFETCH(QVector<FilterEntry>, entries);
    const QVector<FilterEntry> got = At::parseFilterListing(reply);
    QCOMPARE(got.size(), entries.size());
    for (int i = 0; i < got.size(); ++i) {
        QCOMPARE(got.at(i).type, entries.at(i).type);
        QCOMPARE(got.at(i).id, entries.at(i).id);
    }
}

void TstProtocol::entryCount_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("count");
    QTest::newRow("one key") << QByteArray("AT+FILTER=") << 1;
    QTest::newRow("no R") << QByteArray("AT+CAN=1,2") << 0;
    QTest::newRow("lower case r") << QByteArray("rrr") << 0;
    QTest::newRow("empty") << QByteArray("") << 0;
    QTest::newRow("25 R capped at 20") << QByteArray(25, 'R') << 20;
}

void TstProtocol::entryCount()
{
    QFETCH(QByteArray, text);
    QFETCH(int, count);
    QCOMPARE(At::countListedEntries(text.constData()), count);
}

void TstProtocol::hexDigit_data()
{
    QTest::addColumn<char>("ch");
    QTest::addColumn<int>("flag");
    QTest::newRow("7") << '7' << 1;
    QTest::newRow("b") << 'b' << 1;
    QTest::newRow("F") << 'F' << 1;
    QTest::newRow("G") << 'G' << 0;
    QTest::newRow("x") << 'x' << 0;
    QTest::newRow("blank") << ' ' << 0;
}

void TstProtocol::hexDigit()
{
    QFETCH(char, ch);
    QFETCH(int, flag);
    QCOMPARE(int(At::hexDigitFlag(ch)), flag);
}

void TstProtocol::canonicalHex_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("id");
    QTest::newRow("fixed-width padding is dropped") << "000007FF"
                                                    << "7FF";
    QTest::newRow("zero stays zero") << "00000000"
                                     << "0";
    QTest::newRow("lower case comes out upper case") << "1abc"
                                                     << "1ABC";
    QTest::newRow("text that is no ID is kept") << "00G1"
                                                << "00G1";
    QTest::newRow("empty stays empty") << ""
                                       << "";
}

void TstProtocol::canonicalHex()
{
    QFETCH(QString, text);
    QFETCH(QString, id);
    QCOMPARE(At::canonicalHex(text), id);
}

void TstProtocol::replyComplete_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<bool>("complete");
    QTest::newRow("a report with its OK")
        << QByteArray("\r\nAT+CAN=250,7FF,NDTF\r\n\r\n+OK\r\n\r\n") << QByteArray("AT+CAN?\r\n") << true;
    QTest::newRow("a report cut inside its line")
        << QByteArray("\r\nAT+CAN=250,7F") << QByteArray("AT+CAN?\r\n") << false;
    QTest::newRow("only the echo") << QByteArray("AT+E=OFF\r\n") << QByteArray("AT+E=OFF\r\n") << false;
    QTest::newRow("the echo and a blank line") << QByteArray("AT+E=OFF\r\n\r\n") << QByteArray("AT+E=OFF\r\n") << false;
    QTest::newRow("the echo and the OK") << QByteArray("AT+E=OFF\r\n\r\n+OK\r\n\r\n") << QByteArray("AT+E=OFF\r\n")
                                         << true;
    QTest::newRow("line ends alone") << QByteArray("\r\n") << QByteArray("AT\r\n") << false;
    QTest::newRow("a line ended by CR alone") << QByteArray("\r\n+OK\r") << QByteArray("AT\r\n") << true;
}

void TstProtocol::replyComplete()
{
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, command);
    QFETCH(bool, complete);
    QCOMPARE(SerialSocket::replyComplete(reply, command), complete);
}

void TstProtocol::echoOff_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("plain OK") << QByteArray("\r\n+OK\r\n\r\n") << true;
    QTest::newRow("echoed OK") << QByteArray("AT+E=OFF\r\n\r\n+OK\r\n\r\n") << true;
    QTest::newRow("OK followed by more") << QByteArray("\r\n+OK\r\n\r\nAT MODE") << true;
    QTest::newRow("OK cut short") << QByteArray("\r\n+OK\r\n") << false;
    QTest::newRow("OK after other text") << QByteArray("x\r\n+OK\r\n\r\n") << false;
    QTest::newRow("error reply") << QByteArray("\r\n+ERROR\r\n\r\n") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TstProtocol::echoOff()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, accepted);
    QCOMPARE(At::echoOffAccepted(reply), accepted);
}

void TstProtocol::refusal_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("refusal"); // the refusing line; empty for none
    QTest::newRow("+ERROR between line ends") << QByteArray("\r\n+ERROR\r\n\r\n") << "+ERROR";
    QTest::newRow("a plain ERROR after the echo") << QByteArray("AT+CAN=1,2,NDTF\r\n\r\nERROR\r\n") << "ERROR";
    QTest::newRow("an error with its reason, blanks around") << QByteArray("\r\n  ERROR: 5 \r\n") << "ERROR: 5";
    QTest::newRow("+ERROR: with a code, LF only") << QByteArray("\n+ERROR:2\n") << "+ERROR:2";
    QTest::newRow("an error line cut short still refuses") << QByteArray("\r\nERROR") << "ERROR";
    QTest::newRow("OK is no refusal") << QByteArray("\r\n+OK\r\n\r\n") << "";
    QTest::newRow("a word that begins with ERROR is none") << QByteArray("\r\nERRORS\r\n") << "";
    QTest::newRow("ERROR inside a line is none") << QByteArray("\r\nNO ERROR\r\n+OK\r\n") << "";
    QTest::newRow("an error after a zero byte is not read") << QByteArray("\r\n+OK\0\r\nERROR\r\n", 14) << "";
}

void TstProtocol::refusal()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, refusal);
    QCOMPARE(At::refusal(reply), refusal);
}

void TstProtocol::replyFinished_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("finished");
    QTest::newRow("OK with blanks around it") << QByteArray("\r\n  OK \r\n") << true;
    QTest::newRow("LF alone ends a line") << QByteArray("\n+OK\n") << true;
    QTest::newRow("an error with its reason") << QByteArray("\r\nERROR: 4\r\n") << true;
    QTest::newRow("empty lines after the final one") << QByteArray("\r\n+OK\r\n\r\n \r\n") << true;
    QTest::newRow("a final line not yet ended") << QByteArray("\r\n+OK") << false;
    QTest::newRow("a word that begins with OK") << QByteArray("\r\nOKAY\r\n") << false;
    QTest::newRow("a report after the OK is waited for") << QByteArray("\r\n+OK\r\nAT+MODE=USER\r\n") << false;
    QTest::newRow("the notice alone, when asked for no notice") << QByteArray("\r\nAT MODE\r\n\r\n") << false;
}

void TstProtocol::replyFinished()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, finished);
    QCOMPARE(At::replyFinished(reply), finished);
}

void TstProtocol::configNotice_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("found");
    QTest::newRow("notice alone") << QByteArray("\r\nAT MODE\r\n\r\n") << true;
    QTest::newRow("echo before the notice") << QByteArray("AT\r\n\r\nAT MODE\r\n\r\n") << true;
    QTest::newRow("OK reply alone") << QByteArray("\r\n+OK\r\n\r\n") << false;
    QTest::newRow("notice without its last line end") << QByteArray("\r\nAT MODE\r\n") << false;
    QTest::newRow("notice behind a zero byte")
        << QByteArray("x", 1) + QByteArray(1, '\0') + QByteArray("\r\nAT MODE\r\n\r\n") << false;
}

void TstProtocol::configNotice()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, found);
    QCOMPARE(At::hasConfigNotice(reply), found);
}

void TstProtocol::filterId_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("id");
    QTest::addColumn<FilterCheck::IdVerdict>("verdict");
    using V = FilterCheck::IdVerdict;
    QTest::newRow("standard 7FF") << "NDTF"
                                  << "7FF" << V::Accepted;
    QTest::newRow("standard lower case 7ff") << "NDTF"
                                             << "7ff" << V::Accepted;
    QTest::newRow("standard 800 above the limit") << "NDTF"
                                                  << "800" << V::Wrong;
    QTest::newRow("standard 0x7 not hex") << "NDTF"
                                          << "0x7" << V::Wrong;
    QTest::newRow("standard four digits") << "NDTF"
                                          << "0001" << V::Wrong;
    QTest::newRow("standard empty is 0") << "NDTF"
                                         << "" << V::Accepted;
    QTest::newRow("standard default 0") << "NDTF"
                                        << "0" << V::Accepted;
    QTest::newRow("extended 1FFFFFFF") << "EDTF"
                                       << "1FFFFFFF" << V::Accepted;
    QTest::newRow("extended 20000000 above the limit") << "EDTF"
                                                       << "20000000" << V::Wrong;
    QTest::newRow("extended nine digits") << "EDTF"
                                          << "000000001" << V::Wrong;
    QTest::newRow("extended default 800") << "EDTF"
                                          << "800" << V::Accepted;
    QTest::newRow("extended blank inside") << "EDTF"
                                           << "1 2" << V::Wrong;
    QTest::newRow("type neither: unchecked") << "ndtf"
                                             << "ZZZZZZZZZZ" << V::Unchecked;
}

void TstProtocol::filterId()
{
    QFETCH(QString, type);
    QFETCH(QString, id);
    QFETCH(FilterCheck::IdVerdict, verdict);
    QCOMPARE(FilterCheck::checkId(type, id), verdict);
    if (FilterCheck::typeValid(type))
        QCOMPARE(FilterCheck::checkId(type, FilterCheck::defaultId(type)), FilterCheck::IdVerdict::Accepted);
}

void TstProtocol::logEntry_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("flag");
    QTest::addColumn<QString>("text");
    QTest::newRow("sent, empty") << QByteArray() << 1 << "TX:";
    QTest::newRow("sent") << QByteArray("AT\r\n") << 1 << "TX:AT\r\n";
    QTest::newRow("received") << QByteArray("\r\n+OK\r\n\r\n") << 2 << "RX:\r\n+OK\r\n\r\n";
    QTest::newRow("message") << QByteArray("Echo close") << 3 << "Echo close";
    QTest::newRow("flag 0 shows nothing") << QByteArray("x") << 0 << "";
    QTest::newRow("flag 4 shows nothing") << QByteArray("x") << 4 << "";
    QTest::newRow("zero byte ends the data") << QByteArray("AB\0CD", 5) << 2 << "RX:AB";
    QTest::newRow("long data is kept whole") << QByteArray(5000, 'x') << 2 << "RX:" + QString(5000, 'x');
}

void TstProtocol::logEntry()
{
    QFETCH(QByteArray, data);
    QFETCH(int, flag);
    QFETCH(QString, text);
    QCOMPARE(LogFormat::entryText(data, flag), text);
}

void TstProtocol::timeStamp()
{
    const QDateTime when(QDate(2024, 3, 5), QTime(14, 7, 9, 42));
    QCOMPARE(LogFormat::timeStamp(when), QStringLiteral("2024-03-05 14:07::09.042"));
    if (qEnvironmentVariableIsSet("VELKO_LOCALE_CHILD"))
        return;
    // The same in a process whose system locale writes other digits.
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "ar_EG.UTF-8");
    env.insert("VELKO_LOCALE_CHILD", "1");
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {"timeStamp"});
    QVERIFY(child.waitForFinished(30000));
    QVERIFY2(child.exitCode() == 0, child.readAllStandardOutput().constData());
}

void TstProtocol::registryText()
{
    // Name: the low 8 bits of each UTF-16 unit.
    QCOMPARE(PortNames::registryNameText({'\\', 'D', 'e', 'v', 0x0143}), QStringLiteral("\\DevC"));
    // Data: the UTF-16 port name with its terminating zero; zero bytes are skipped.
    const QByteArray data("C\0O\0M\0"
                          "3\0\0\0",
                          10);
    QCOMPARE(PortNames::registryDataText(data), QStringLiteral("COM3"));
    QCOMPARE(PortNames::registryDataText(QByteArray()), QString());
}

void TstProtocol::virtualPorts()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile target(dir.filePath("pts-target"));
    QVERIFY(target.open(QIODevice::WriteOnly));
    target.close();
    QVERIFY(QFile::link(target.fileName(), dir.filePath("b-sim")));
    QVERIFY(QFile::link(dir.filePath("gone"), dir.filePath("a-stale")));
    QVERIFY(QFile::link(target.fileName(), dir.filePath("a-sim")));
    // Only live links, by name; the plain file is not a published port.
    QCOMPARE(PortNames::virtualPorts(dir.path()), (QStringList{dir.filePath("a-sim"), dir.filePath("b-sim")}));
    QCOMPARE(PortNames::virtualPorts(dir.filePath("missing")), QStringList{});
}

void TstProtocol::virtualPortFolderWithoutRuntimeDir()
{
    // Without XDG_RUNTIME_DIR the folder lies under the temporary folder; asking creates nothing.
    QTemporaryDir tmp;
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray tmpdir = qgetenv("TMPDIR");
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", tmp.path().toLocal8Bit());
    const QString folder = PortNames::virtualPortFolder();
    qputenv("XDG_RUNTIME_DIR", runtime);
    qputenv("TMPDIR", tmpdir);
    QVERIFY2(folder.startsWith(tmp.path() + "/runtime-"), qPrintable(folder));
    QVERIFY(QDir(tmp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

QTEST_GUILESS_MAIN(TstProtocol)
#include "tst_protocol.moc"

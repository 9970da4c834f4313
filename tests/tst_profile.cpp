// The profile file and the checks of a module configuration: every field's
// rule, overrides, the written layout and the comparison with a read-back.
#include "core/config/moduleconfig.h"
#include "core/config/profile.h"
#include "tests/support/coresupport.h"

#include <QFile>
#include <QtTest>

namespace {

QByteArray exampleText()
{
    QFile file(TestSupport::exampleProfile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

ModuleConfig example()
{
    ModuleConfig config;
    QString error;
    Profile::read(exampleText(), &config, &error);
    return config;
}

// Empty for an accepted configuration, otherwise the start of the refusal.
bool judged(const QString& why, const QString& error)
{
    return error.isEmpty() ? why.isEmpty() : why.startsWith(error);
}

ModuleConfig changed(ModuleConfig config, void (*change)(ModuleConfig&))
{
    change(config);
    return config;
}

} // namespace

class TstProfile : public QObject
{
    Q_OBJECT

private slots:
    void exampleLoadsAndWritesItsOwnBytes();
    void read_data();
    void read();
    void roundTrip_data();
    void roundTrip();
    void check_data();
    void check();
    void differences_data();
    void differences();
    void refusalNamesEveryProblem_data();
    void refusalNamesEveryProblem();
};

void TstProfile::exampleLoadsAndWritesItsOwnBytes()
{
    ModuleConfig config;
    QString error;
    QVERIFY2(Profile::read(exampleText(), &config, &error), qPrintable(error));
    QCOMPARE(Profile::write(config), exampleText());
    QVERIFY(config != changed(config, [](ModuleConfig& c) { c.filters[1].id = "1ABCDEF1"; }));
    QVERIFY(config != changed(config, [](ModuleConfig& c) { c.frameInfo = false; }));
}

void TstProfile::read_data()
{
    QTest::addColumn<QString>("from"); // replaced in the example by `to`
    QTest::addColumn<QString>("to");
    QTest::addColumn<QStringList>("overrides");
    QTest::addColumn<QString>("error");   // how the refusal begins; empty when accepted
    QTest::addColumn<QString>("written"); // part of the accepted profile as written again

    const auto entries = [](int count) { return "filter.list=" + QString("NDTF:1,").repeated(count).chopped(1); };
    const auto row = [](const char* name, const QString& from, const QString& to, const QString& error,
                        const QString& written = {}) {
        QTest::newRow(name) << from << to << QStringList() << error << written;
    };
    const auto set = [](const char* name, const QString& override, const QString& error, const QString& written = {}) {
        QTest::newRow(name) << QString() << QString() << QStringList{override} << error << written;
    };

    row("an offered baud rate is accepted", "\"baud\": 115200", "\"baud\": 9600", "", "\"baud\": 9600");
    row("a baud rate that is not offered is refused with every offered one", "115200", "1000",
        "serial.baud: 1000 is not offered; allowed 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200, "
        "128000, 230400, 256000, 460800");
    row("a baud rate in quotes is not a number", "115200", "\"115200\"", "serial.baud: \"115200\" is not a number");
    row("two stop bits are accepted", "\"stopBits\": 1", "\"stopBits\": 2", "", "\"stopBits\": 2");
    row("three stop bits are refused", "\"stopBits\": 1", "\"stopBits\": 3", "serial.stopBits: ");
    row("parity EVEN is accepted", "NONE", "EVEN", "", "\"EVEN\"");
    row("parity in lower case is refused", "NONE", "none", "serial.parity: ");
    row("an offered CAN rate is accepted", "250", "1000", "", "\"rateKbit\": 1000");
    row("a CAN rate that is not offered is refused", "250", "800", "can.rateKbit: ");
    row("an extended ID up to 1FFFFFFF is accepted", "\"NDTF\", \"id\": \"7FF\"", "\"EDTF\", \"id\": \"1FFFFFFF\"", "",
        "\"id\": \"1FFFFFFF\"");
    row("an unknown frame type is refused", "\"frameType\": \"NDTF\"", "\"frameType\": \"XTDF\"", "can.frameType: ");
    row("a standard ID above 7FF is refused", "\"id\": \"7FF\"}", "\"id\": \"800\"}",
        "can.id: 800 is above 7FF for a standard frame");
    row("a standard ID of four digits is refused", "\"id\": \"7FF\"}", "\"id\": \"0001\"}", "can.id: ");
    row("an extended ID above 1FFFFFFF is refused", "\"NDTF\", \"id\": \"7FF\"", "\"EDTF\", \"id\": \"20000000\"",
        "can.id: ");
    row("an empty CAN ID is refused", "\"id\": \"7FF\"}", "\"id\": \"\"}", "can.id: ");
    row("a CAN ID that is not hexadecimal is refused", "\"id\": \"7FF\"}", "\"id\": \"7G\"}", "can.id: ");
    row("leading zeros within the digit limit are kept", "\"id\": \"7FF\"}", "\"id\": \"07F\"}", "",
        "\"id\": \"07F\"}");
    row("a lower-case CAN ID is accepted and written upper case", "\"id\": \"7FF\"}", "\"id\": \"7fe\"}", "",
        "\"id\": \"7FE\"}");
    row("mode MODBUS is accepted", "TRANS", "MODBUS", "", "\"mode\": \"MODBUS\"");
    row("mode in lower case is refused", "TRANS", "trans", "mode: ");
    row("a flag set to true is accepted", "\"frameId\": false", "\"frameId\": true", "", "\"frameId\": true");
    row("a flag given as 1 is refused", "\"frameId\": false", "\"frameId\": 1", "transparent.frameId: ");
    row("a lower-case head is accepted and written upper case", "\"A5\"", "\"ff\"", "", "\"head\": \"FF\"");
    row("a head of one digit is refused", "\"A5\"", "\"A\"", "custom.head: ");
    row("identifier length 4 is accepted", "\"length\": 2", "\"length\": 4", "", "\"length\": 4");
    row("identifier length 5 is refused", "\"length\": 2", "\"length\": 5", "identifier.length: ");
    row("identifier position 7 is accepted", "\"position\": 5", "\"position\": 7", "", "\"position\": 7");
    row("identifier position 8 is refused with its range", "\"position\": 5", "\"position\": 8",
        "identifier.position: 8; allowed 0 to 7");
    row("identifier position 2.5 is refused", "\"position\": 5", "\"position\": 2.5", "identifier.position: ");
    row("direction UART-CAN is accepted", "BOTHWAY", "UART-CAN", "", "\"direction\": \"UART-CAN\"");
    row("an unknown direction is refused", "BOTHWAY", "BOTH", "direction: ");
    row("filter mode NTF is accepted", "\"USER\"", "\"NTF\"", "", "\"mode\": \"NTF\"");
    row("filter mode in lower case is refused", "\"USER\"", "\"user\"", "filter.mode: ");
    row("a lower-case filter ID is accepted and written upper case", "1ABCDEF0", "1abcdef1", "", "\"1ABCDEF1\"");
    row("a filter type in lower case is refused", "\"type\": \"NDTF\"", "\"type\": \"ndtf\"", "filter.list[0].type: ");
    row("an extended filter ID above 1FFFFFFF is refused", "1ABCDEF0", "20000000",
        "filter.list[1].id: 20000000 is above 1FFFFFFF for an extended frame");
    row("an empty filter ID is refused", "{\"type\": \"NDTF\", \"id\": \"7FF\"}", "{\"type\": \"NDTF\", \"id\": \"\"}",
        "filter.list[0].id: ");
    row("a filter entry without ID is refused", "{\"type\": \"NDTF\", \"id\": \"7FF\"}", "{\"type\": \"NDTF\"}",
        "filter.list[0].id: missing");

    row("text that is not JSON is refused", "\"version\": 1,", "\"version\": 1", "not a JSON profile: ");
    row("another format is refused", "\"velkocan-config\"", "\"other\"", "format: ");
    row("a missing version is refused", "\"version\": 1,", "", "version: missing");
    row("version 0 is refused", "\"version\": 1", "\"version\": 0", "version: ");
    row("a newer version is refused", "\"version\": 1", "\"version\": 2",
        "version: 2 is newer than this tool reads (1)");
    row("a missing field is named", "\"mode\": \"TRANS\",", "", "mode: missing");
    row("unknown keys are ignored", "\"mode\": \"TRANS\",", "\"mode\": \"TRANS\", \"note\": {\"any\": [1]},", "");
    row("unknown keys of a filter entry are ignored", "\"id\": \"7FF\"}", "\"id\": \"7FF\", \"x\": 0}", "");

    set("an override sets a number", "serial.baud=9600", "", "\"baud\": 9600");
    set("an override sets a token", "mode=USER", "", "\"mode\": \"USER\"");
    set("an override sets a flag with 1", "transparent.frameId=1", "", "\"frameId\": true");
    set("an override sets the filter list", "filter.list=EDTF:1abc,NDTF:0", "",
        "[\n        {\"type\": \"EDTF\", \"id\": \"1ABC\"},\n        {\"type\": \"NDTF\", \"id\": \"0\"}\n    ]");
    set("an empty override empties the filter list", "filter.list=", "",
        "\"filter\": {\"mode\": \"USER\", \"list\": []}\n}\n");
    set("fourteen filter entries are accepted", entries(14), "");
    set("fifteen filter entries are refused", entries(15), "filter.list: 15 entries; at most 14");
    set("an override of an unknown field is refused with the known ones", "foo=1",
        "foo: unknown field; known: serial.baud, serial.stopBits, serial.parity, can.rateKbit, can.frameType, "
        "can.id, mode, transparent.frameId, transparent.frameInfo, custom.head, custom.tail, identifier.length, "
        "identifier.position, direction, filter.mode, filter.list");
    set("an override without = is refused", "x", "x: expected KEY=VALUE");
    set("an override number that is not a number is refused", "serial.baud=abc", "serial.baud: abc is not a number");
    set("an override value goes through the field's rules", "can.id=800", "can.id: 800 is above 7FF");
    QTest::newRow("an override supplies a field missing from the file") << "\"direction\": \"BOTHWAY\","
                                                                        << "" << QStringList{"direction=CAN-UART"} << ""
                                                                        << "\"direction\": \"CAN-UART\"";
}

void TstProfile::read()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QStringList, overrides);
    QFETCH(QString, error);
    QFETCH(QString, written);

    QString text = QString::fromUtf8(exampleText());
    QVERIFY(text.contains(from));
    text.replace(text.indexOf(from), from.size(), to);
    const ModuleConfig before = changed({}, [](ModuleConfig& c) { c.baud = 600; });
    ModuleConfig config = before;
    QString why;
    const bool accepted = Profile::read(text.toUtf8(), &config, &why, overrides);
    QVERIFY2(judged(why, error) && accepted == error.isEmpty(), qPrintable(why));
    if (!accepted) {
        QCOMPARE(config, before); // even when every field before the refused one was sound
    } else {
        QCOMPARE(Config::check(config), QString());
        QVERIFY2(Profile::write(config).contains(written.toUtf8()), Profile::write(config).constData());
    }
}

void TstProfile::roundTrip_data()
{
    QTest::addColumn<ModuleConfig>("config");
    QTest::newRow("the example") << example();
    QTest::newRow("the defaults, with an empty list") << ModuleConfig();
    QTest::newRow("every field away from the example") << changed(example(), [](ModuleConfig& c) {
        c = {9600,  2,    "ODD", 1000, "EDTF", "1FFFFFFF", "MODBUS", true,
             false, "00", "FF",  "0",  "7",    "CAN-UART", "OFF",    {{"EDTF", "0"}}};
    });
}

void TstProfile::roundTrip()
{
    QFETCH(ModuleConfig, config);
    const QByteArray text = Profile::write(config);
    ModuleConfig back;
    QString error;
    QVERIFY2(Profile::read(text, &back, &error), qPrintable(error));
    QCOMPARE(back, config);
    QCOMPARE(Profile::write(back), text);
}

void TstProfile::check_data()
{
    QTest::addColumn<ModuleConfig>("config");
    QTest::addColumn<QString>("error");  // as for read()
    QTest::addColumn<bool>("readsBack"); // whether its written profile is accepted

    QTest::newRow("the defaults are sound") << ModuleConfig() << "" << true;
    QTest::newRow("a lower-case CAN ID is refused, though a profile may hold it")
        << changed({}, [](ModuleConfig& c) { c.canId = "7ff"; }) << "can.id: 7ff is not upper case" << true;
    QTest::newRow("a lower-case tail is refused")
        << changed({}, [](ModuleConfig& c) { c.tail = "5a"; }) << "custom.tail: " << true;
    ModuleConfig listed;
    listed.filters.append(At::FilterEntry{"EDTF", "1abc"});
    QTest::newRow("a lower-case filter ID is refused") << listed << "filter.list[0].id: " << true;
    listed.filters[0].id.clear();
    QTest::newRow("an empty filter ID is refused") << listed << "filter.list[0].id: " << false;
    QTest::newRow("an identifier position of two digits is refused")
        << changed({}, [](ModuleConfig& c) { c.idPosition = "07"; }) << "identifier.position: 07; allowed 0 to 7"
        << true;
    QTest::newRow("an identifier length that is not digits is refused and written as a text")
        << changed({}, [](ModuleConfig& c) { c.idLength = "x"; }) << "identifier.length: x; allowed 0 to 4" << false;
    QTest::newRow("a token with a quote and a line break is refused and written escaped")
        << changed({}, [](ModuleConfig& c) { c.mode = "T\"\n"; }) << "mode: " << false;
}

void TstProfile::check()
{
    QFETCH(ModuleConfig, config);
    QFETCH(QString, error);
    QFETCH(bool, readsBack);
    const QString why = Config::check(config);
    QVERIFY2(judged(why, error), qPrintable(why));
    QString readError;
    QCOMPARE(Profile::read(Profile::write(config), nullptr, &readError), readsBack);
    QVERIFY2(readError.isEmpty() || readError.startsWith(error.section(':', 0, 0)), qPrintable(readError));
}

void TstProfile::differences_data()
{
    QTest::addColumn<ModuleConfig>("wrote");
    QTest::addColumn<ModuleConfig>("module");
    QTest::addColumn<QStringList>("lines");
    ModuleConfig ntf = example();
    ntf.filterMode = "NTF";
    ModuleConfig ntfOther = ntf;
    ntfOther.filters.append(At::FilterEntry{"NDTF", "1"});

    QTest::newRow("IDs compare by value")
        << example() << changed(example(), [](ModuleConfig& c) { c.canId = "07FF", c.filters[1].id = "01ABCDEF0"; })
        << QStringList();
    QTest::newRow("a different ID is shown as written")
        << example() << changed(example(), [](ModuleConfig& c) { c.canId = "1A0"; })
        << QStringList{"can.id: wrote 7FF, module has 1A0"};
    QTest::newRow("flags are shown as in a profile; the other modes' sub-parameters were not written")
        << example() << changed(example(), [](ModuleConfig& c) { c.frameInfo = false, c.idLength = "3"; })
        << QStringList{"transparent.frameInfo: wrote true, module has false"};
    const ModuleConfig tprtl = changed(example(), [](ModuleConfig& c) { c.mode = "TPRTL"; });
    QTest::newRow("in TPRTL only the identifier is compared, its digits as numbers")
        << tprtl << changed(tprtl, [](ModuleConfig& c) { c.frameInfo = false, c.head = "00", c.idLength = "3"; })
        << QStringList{"identifier.length: wrote 2, module has 3"};
    const ModuleConfig user = changed(example(), [](ModuleConfig& c) { c.mode = "USER"; });
    QTest::newRow("in USER only head and tail are compared")
        << user << changed(user, [](ModuleConfig& c) { c.frameId = true, c.idPosition = "0", c.tail = "00"; })
        << QStringList{"custom.tail: wrote 5A, module has 00"};
    const ModuleConfig modbus = changed(example(), [](ModuleConfig& c) { c.mode = "MODBUS"; });
    QTest::newRow("MODBUS has no sub-parameters to compare")
        << modbus << changed(modbus, [](ModuleConfig& c) { c.frameInfo = false, c.head = "00", c.idLength = "3"; })
        << QStringList();
    QTest::newRow("the serial line comes with the restart hint")
        << example() << changed(example(), [](ModuleConfig& c) { c.baud = 9600, c.parity = "EVEN"; })
        << QStringList{"serial.baud: wrote 115200, module has 9600 (a new serial line takes effect when the module "
                       "restarts)",
                       "serial.parity: wrote NONE, module has EVEN (a new serial line takes effect when the module "
                       "restarts)"};
    QTest::newRow("a list missing on the module in USER mode is shown")
        << example() << changed(example(), [](ModuleConfig& c) { c.filters.clear(); })
        << QStringList{"filter.list: wrote NDTF:7FF EDTF:1ABCDEF0, module has none"};
    QTest::newRow("outside USER mode the list of either side does not count") << ntf << ntfOther << QStringList();
}

void TstProfile::differences()
{
    QFETCH(ModuleConfig, wrote);
    QFETCH(ModuleConfig, module);
    QFETCH(QStringList, lines);
    QCOMPARE(Config::differences(wrote, module), lines);
}

void TstProfile::refusalNamesEveryProblem_data()
{
    QTest::addColumn<QString>("from"); // replaced in the example by `to`
    QTest::addColumn<QString>("to");
    QTest::addColumn<QStringList>("problems");
    QTest::addColumn<QStringList>("warnings");
    QTest::newRow("two wrong fields are both named, after the unknown key that may explain them")
        << "\"baud\": 115200, \"stopBits\": 1"
        << "\"baud\": 1, \"stopBits\": 3, \"fast\": 1"
        << QStringList{"unknown key \"serial.fast\" ignored", "serial.baud: 1 is not offered", "serial.stopBits: 3"}
        << QStringList();
    QTest::newRow("a JSON mistake by its line and column")
        << "\"baud\": 115200,"
        << "\"baud\": 115200 \"x\"," << QStringList{"not a JSON profile: unterminated object at line 4, column 32"}
        << QStringList();
    QTest::newRow("unknown keys are named, at the top and in a group, and the profile is read")
        << "\"frameInfo\": true}"
        << "\"frameInfo\": true, \"frameInf0\": 1}, \"modee\": 1" << QStringList()
        << QStringList{"unknown key \"modee\" ignored", "unknown key \"transparent.frameInf0\" ignored"};
    QTest::newRow("a refused frame type is named once, not again through its extended ID")
        << "\"frameType\": \"NDTF\", \"id\": \"7FF\""
        << "\"frameType\": \"EDFT\", \"id\": \"1ABCDEF0\"" << QStringList{"can.frameType: "} << QStringList();
    QTest::newRow("a file of another format names its header only")
        << "\"velkocan-config\""
        << "\"other\"" << QStringList{"format: \"other\"; expected velkocan-config"} << QStringList();
}

void TstProfile::refusalNamesEveryProblem()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QStringList, problems);
    QFETCH(QStringList, warnings);
    QString text = QString::fromUtf8(exampleText());
    text.replace(text.indexOf(from), from.size(), to);
    QString error;
    QStringList warned;
    const bool accepted = Profile::read(text.toUtf8(), nullptr, &error, {}, &warned);
    QCOMPARE(accepted, problems.isEmpty());
    const QStringList lines = error.isEmpty() ? QStringList() : error.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), problems.size());
    for (int i = 0; i < problems.size(); ++i)
        QVERIFY2(lines.at(i).startsWith(problems.at(i)), qPrintable(lines.at(i)));
    QCOMPARE(warned, warnings);
}

QTEST_GUILESS_MAIN(TstProfile)
#include "tst_profile.moc"

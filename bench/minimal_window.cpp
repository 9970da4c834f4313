// velkocan-minimal: the yardstick for the tool's start-up time and memory. A
// plain Qt Widgets window with about as many widgets of the same kinds as the
// tool's form (group boxes, labels, combo boxes with items, line edits,
// buttons, check boxes, a table, a text browser, grid layouts, a scroll area,
// a menu bar), and a translator that loads nothing. No serial port, no
// resources, no catalogue.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStringList>
#include <QTableWidget>
#include <QTextBrowser>
#include <QTranslator>

namespace {

const QStringList kRates = {"600",   "1200",  "2400",   "4800",   "9600",   "14400",  "19200",
                            "38400", "57600", "115200", "128000", "230400", "256000", "460800"};

QComboBox* combo(const QStringList& items)
{
    auto* const box = new QComboBox; // owned by the layout's widget once added
    box->addItems(items);
    return box;
}

// A group box with a grid of label/editor rows; the group owns everything.
QGroupBox* group(const QString& title, const QList<QPair<QString, QWidget*>>& rows)
{
    auto* const box = new QGroupBox(title);
    auto* const grid = new QGridLayout(box);
    int row = 0;
    for (const auto& r : rows) {
        if (!r.first.isEmpty())
            grid->addWidget(new QLabel(r.first), row, 0);
        grid->addWidget(r.second, row, 1);
        ++row;
    }
    return box;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTranslator translator; // loads nothing, like a missing catalogue
    QCoreApplication::installTranslator(&translator);

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Minimal window"));
    window.setMenuBar(new QMenuBar); // the window owns it

    auto* const scroll = new QScrollArea; // owned by the window
    scroll->setWidgetResizable(true);
    auto* const content = new QWidget; // owned by the scroll area
    auto* const grid = new QGridLayout(content);

    grid->addWidget(group(QStringLiteral("Serial port settings"),
                          {{QStringLiteral("Port"), combo({QStringLiteral("ttyS0"), QStringLiteral("ttyS1")})},
                           {QStringLiteral("Baud rate"), combo(kRates)},
                           {QStringLiteral("Stop bits"), combo({QStringLiteral("1"), QStringLiteral("2")})},
                           {QStringLiteral("Parity"),
                            combo({QStringLiteral("None"), QStringLiteral("Odd"), QStringLiteral("Even")})},
                           {QString(), new QPushButton(QStringLiteral("Open port"))},
                           {QString(), new QPushButton(QStringLiteral("Baud rate search"))}}),
                    0, 0);
    grid->addWidget(group(QStringLiteral("Serial parameter settings"),
                          {{QStringLiteral("Baud rate"), combo(kRates)},
                           {QStringLiteral("Stop bits"), combo({QStringLiteral("1"), QStringLiteral("2")})},
                           {QStringLiteral("Parity"),
                            combo({QStringLiteral("NONE"), QStringLiteral("ODD"), QStringLiteral("EVEN")})},
                           {QString(), new QPushButton(QStringLiteral("Write"))}}),
                    1, 0);
    grid->addWidget(
        group(QStringLiteral("CAN settings"),
              {{QStringLiteral("Bit rate"),
                combo({QStringLiteral("5K"), QStringLiteral("10K"), QStringLiteral("20K"), QStringLiteral("50K"),
                       QStringLiteral("100K"), QStringLiteral("125K"), QStringLiteral("250K"), QStringLiteral("500K"),
                       QStringLiteral("800K"), QStringLiteral("1000K")})},
               {QStringLiteral("Frame type"), combo({QStringLiteral("NDTF"), QStringLiteral("EDTF")})},
               {QStringLiteral("ID"), new QLineEdit},
               {QString(), new QPushButton(QStringLiteral("Write"))}}),
        2, 0);
    grid->addWidget(group(QStringLiteral("Conversion mode"),
                          {{QStringLiteral("Mode"),
                            combo({QStringLiteral("Transparent"), QStringLiteral("Tagged"), QStringLiteral("Protocol"),
                                   QStringLiteral("MODBUS"), QStringLiteral("User")})},
                           {QString(), new QPushButton(QStringLiteral("Write"))}}),
                    0, 1);
    grid->addWidget(
        group(QStringLiteral("Mode parameters"), {{QStringLiteral("Head"), new QLineEdit},
                                                  {QStringLiteral("Tail"), new QLineEdit},
                                                  {QStringLiteral("ID length"), new QLineEdit},
                                                  {QStringLiteral("ID position"), new QLineEdit},
                                                  {QString(), new QCheckBox(QStringLiteral("ID enabled"))},
                                                  {QString(), new QCheckBox(QStringLiteral("Info enabled"))}}),
        1, 1);
    grid->addWidget(group(QStringLiteral("Direction"),
                          {{QStringLiteral("Direction"), combo({QStringLiteral("UART-CAN"), QStringLiteral("CAN-UART"),
                                                                QStringLiteral("Both ways")})},
                           {QString(), new QPushButton(QStringLiteral("Write"))}}),
                    2, 1);

    auto* const table = new QTableWidget(0, 2); // owned by its group once added
    table->setHorizontalHeaderLabels({QStringLiteral("Type"), QStringLiteral("ID")});
    table->horizontalHeader()->setStretchLastSection(true);
    grid->addWidget(group(QStringLiteral("Filter"),
                          {{QStringLiteral("Filter mode"), combo({QStringLiteral("OFF"), QStringLiteral("ETF"),
                                                                  QStringLiteral("NTF"), QStringLiteral("USER")})},
                           {QString(), table},
                           {QString(), new QPushButton(QStringLiteral("Add entry"))},
                           {QString(), new QPushButton(QStringLiteral("Write list"))},
                           {QString(), new QPushButton(QStringLiteral("Delete entry"))},
                           {QString(), new QPushButton(QStringLiteral("Clear list"))},
                           {QString(), new QPushButton(QStringLiteral("Write mode"))}}),
                    0, 2, 3, 1);
    grid->addWidget(
        group(QStringLiteral("Device"), {{QString(), new QPushButton(QStringLiteral("Connect device"))},
                                         {QString(), new QPushButton(QStringLiteral("Write configuration"))},
                                         {QString(), new QPushButton(QStringLiteral("Leave configuration"))},
                                         {QString(), new QPushButton(QStringLiteral("Restart device"))},
                                         {QString(), new QPushButton(QStringLiteral("Factory settings"))},
                                         {QString(), new QPushButton(QStringLiteral("Language"))}}),
        3, 0);
    grid->addWidget(group(QStringLiteral("Log"),
                          {{QString(), new QTextBrowser}, {QString(), new QPushButton(QStringLiteral("Clear log"))}}),
                    3, 1, 1, 2);
    grid->addWidget(group(QStringLiteral("About"), {{QStringLiteral("Maker"), new QLabel(QStringLiteral("VelkoCAN"))},
                                                    {QStringLiteral("Version"), new QLabel(QStringLiteral("1.5"))}}),
                    4, 0);
    grid->addWidget(group(QStringLiteral("Status"), {{QStringLiteral("State"), new QLabel(QStringLiteral("idle"))}}), 4,
                    1);

    scroll->setWidget(content);
    window.setCentralWidget(scroll);
    window.resize(1080, 666);
    window.show();
    return app.exec();
}

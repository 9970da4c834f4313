#include "core/config/configgroups.h"
#include "core/protocol/atprotocol.h"
#include "core/protocol/configreading.h"
#include "core/protocol/filtercheck.h"
#include "ui_kx47main.h"
#include "window/filtertable.h"
#include "window/kx47main.h"
#include "window/windowdiagnostics.h"

#include <QRegularExpressionValidator>
#include <iterator>

namespace {

// Validators of the ID editor by frame type. Created once, without parent:
// they live until the process ends.
QValidator* standardIdValidator()
{
    static QRegularExpressionValidator* const v =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("^([0-7][0-9A-F]{2}|[0-9A-F]{2})")));
    return v;
}

QValidator* extendedIdValidator()
{
    static QRegularExpressionValidator* const v =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("^(1[0-9A-F]{7}|[0-9A-F]{7})")));
    return v;
}

// The window's token boxes (Box_send_mode, device_box, Box_filtra_mode_2,
// Box_filtra_mode) list the module's tokens in the order of the command
// set: item n shows token n. Here alone an item becomes a token and a token
// an item.
QString tokenOfItem(const QStringList& tokens, int item)
{
    return tokens.value(item);
}

int itemOfToken(const QStringList& tokens, const QString& token)
{
    return tokens.indexOf(token);
}

// Selects the item whose text equals `text`; no such item keeps the current
// one. Whether it was found.
bool selectByText(QComboBox* box, const QString& text)
{
    const int item = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (item >= 0)
        box->setCurrentIndex(item);
    return item >= 0;
}

// The dynamic property of an editor marked as not read, and its look.
const char* const kNotReadProperty = "notRead";
const char* const kNotReadStyle = "%1 { background-color: rgb(255, 226, 160); }";

} // namespace

// Gives the ID editor the length and the admitted range of the frame type
// shown in `Box_send_mode`, and empties it.
void KX47main::box_send_mode()
{
    ui->line_send_id->setPlaceholderText(tr("HEX EX:A5"));
    if (ui->Box_send_mode->currentIndex() == 0) {
        qCDebug(lcWindow) << "NDTF(标准帧)";
        ui->line_send_id->setMaxLength(3);
        ui->line_send_id->clear();
        ui->line_send_id->setValidator(standardIdValidator());
    } else {
        qCDebug(lcWindow) << "EDTF(扩展帧)";
        ui->line_send_id->setMaxLength(8);
        ui->line_send_id->clear();
        ui->line_send_id->setValidator(extendedIdValidator());
    }
}

// Makes editable only the sub-parameter editors of the conversion mode shown
// in `device_box`: those of the group the mode writes.
void KX47main::modbus_box_set()
{
    static const char* const kNames[] = {"透明模式", "透明带标识模式", "协议模式", "MODBUS", "USER"};
    const int item = ui->device_box->currentIndex();
    if (item < 0 || item >= int(std::size(kNames)))
        return;
    const Groups::GroupInfo* const sub = Groups::subParameters(tokenOfItem(At::modeTokens(), item));
    const ConfigFields editable = sub ? sub->fields : ConfigFields();
    ui->line_user_head->setReadOnly(!(editable & ConfigField::Head));
    ui->line_user_tail->setReadOnly(!(editable & ConfigField::Tail));
    ui->line_idlenggth->setReadOnly(!(editable & ConfigField::IdLength));
    ui->line_idLocation->setReadOnly(!(editable & ConfigField::IdPosition));
    ui->id_enabled_checkBox->setEnabled(bool(editable & ConfigField::FrameId));
    ui->meg_enabledcheckBox->setEnabled(bool(editable & ConfigField::FrameInfo));
    qCDebug(lcWindow) << kNames[item];
}

uint16_t KX47main::get_can_baud()
{
    return At::canRateFromText(ui->Box_can_baud->currentText());
}

void KX47main::send_can_mode(QString qstr)
{
    const int item = itemOfToken(At::frameTypeTokens(), At::frameTypeFromReport(qstr));
    if (item >= 0)
        ui->Box_send_mode->setCurrentIndex(item);
}

void KX47main::send_dev_mode(QString qstr)
{
    qCDebug(lcWindow) << "send_dev_mode" << qstr;
    const int item = itemOfToken(At::modeTokens(), At::modeFromReport(qstr));
    if (item >= 0)
        ui->device_box->setCurrentIndex(item);
    modbus_box_set();
}

void KX47main::send_direction_mode(QString qstr)
{
    qCDebug(lcWindow) << "send_direction_mode" << qstr;
    const QString token = At::directionFromReport(qstr);
    const int item = itemOfToken(At::directionTokens(), token);
    if (item < 0)
        return;
    ui->Box_filtra_mode_2->setCurrentIndex(item);
    // Both ways is shown in words, not by its token.
    if (token == QLatin1String("BOTHWAY"))
        ui->Box_filtra_mode_2->setCurrentText(tr("双向"));
}

void KX47main::send_filter_mode(QString qstr)
{
    qCDebug(lcWindow) << "send_filter_mode" << qstr;
    const QString token = At::filterModeFromReport(qstr);
    const int item = itemOfToken(At::filterModeTokens(), token);
    if (item < 0)
        return;
    ui->Box_filtra_mode->setCurrentIndex(item);
    if (token == Groups::listFilterMode())
        Box_filtra_mode();
}

void KX47main::send_filtra_mode(QString qstr)
{
    const int item = itemOfToken(At::filterModeTokens(), At::filterModeFromReport(qstr));
    if (item >= 0)
        ui->Box_filtra_mode->setCurrentIndex(item);
}

ModuleConfig KX47main::editorsConfig() const
{
    ModuleConfig c;
    c.baud = ui->baud_485->currentText().toInt();
    c.stopBits = ui->stopbit_485->currentText().toInt();
    c.parity = ui->parity_485->currentText();
    c.canRateKbit = At::canRateFromText(ui->Box_can_baud->currentText());
    c.frameType = tokenOfItem(At::frameTypeTokens(), ui->Box_send_mode->currentIndex());
    c.canId = ui->line_send_id->text();
    c.mode = tokenOfItem(At::modeTokens(), ui->device_box->currentIndex());
    c.frameId = ui->id_enabled_checkBox->isChecked();
    c.frameInfo = ui->meg_enabledcheckBox->isChecked();
    c.head = ui->line_user_head->text();
    c.tail = ui->line_user_tail->text();
    c.idLength = ui->line_idlenggth->text();
    c.idPosition = ui->line_idLocation->text();
    c.direction = tokenOfItem(At::directionTokens(), ui->Box_filtra_mode_2->currentIndex());
    c.filterMode = tokenOfItem(At::filterModeTokens(), ui->Box_filtra_mode->currentIndex());
    c.filters = m_filterTable->entries();
    return c;
}

ModuleSession::ConfigSource KX47main::editors() const
{
    return [this] { return editorsConfig(); };
}

ConfigFields KX47main::applyReading(const ConfigReading& reading)
{
    const ModuleConfig& v = reading.values;
    const ConfigFields f = reading.fields;
    ConfigFields shown;
    const auto showIf = [&shown](ConfigField field, bool inEditor) {
        if (inEditor)
            shown |= field;
    };
    if (f & ConfigField::SerialBaud)
        showIf(ConfigField::SerialBaud, selectByText(ui->baud_485, QString::number(v.baud)));
    if (f & ConfigField::SerialStopBits)
        showIf(ConfigField::SerialStopBits, selectByText(ui->stopbit_485, QString::number(v.stopBits)));
    if (f & ConfigField::SerialParity)
        showIf(ConfigField::SerialParity, selectByText(ui->parity_485, v.parity));

    // Rate, frame type, then the ID editor rule of the frame type just set
    // (selecting an item from here does not run box_send_mode by itself),
    // then the ID.
    if (f & ConfigField::CanRate)
        showIf(ConfigField::CanRate, selectByText(ui->Box_can_baud, QString::number(v.canRateKbit) + QLatin1Char('K')));
    // An ID that does not fit its frame type would be cut by the editor and
    // written back so, and an empty one would be written as 0: the frame type
    // and ID editors keep what they hold.
    const QString reported = (f & ConfigField::CanFrameType) ? At::frameTypeFromReport(v.frameType) : QString();
    const QString frameType =
        !reported.isEmpty() ? reported : tokenOfItem(At::frameTypeTokens(), ui->Box_send_mode->currentIndex());
    if ((f & ConfigField::CanId) && v.canId.isEmpty()) {
        show_log(QByteArrayLiteral("the CAN report has no ID: the frame type and ID are kept"), 3);
    } else if ((f & ConfigField::CanId) && FilterCheck::checkId(frameType, v.canId) == FilterCheck::IdVerdict::Wrong) {
        show_log(QStringLiteral("CAN ID %1 does not fit a %2 frame: the frame type and ID are kept")
                     .arg(v.canId,
                          frameType == QLatin1String("EDTF") ? QStringLiteral("extended") : QStringLiteral("standard"))
                     .toUtf8(),
                 3);
    } else {
        if (f & ConfigField::CanFrameType) {
            send_can_mode(v.frameType);
            showIf(ConfigField::CanFrameType, !reported.isEmpty());
        }
        if (f & ConfigField::CanId) {
            box_send_mode();
            ui->line_send_id->setText(v.canId);
            shown |= ConfigField::CanId;
        }
    }

    if (f & ConfigField::Mode) {
        send_dev_mode(v.mode);
        showIf(ConfigField::Mode, !At::modeFromReport(v.mode).isEmpty());
    }
    if (f & ConfigField::FrameId)
        ui->id_enabled_checkBox->setChecked(v.frameId);
    if (f & ConfigField::FrameInfo)
        ui->meg_enabledcheckBox->setChecked(v.frameInfo);
    if (f & ConfigField::Head)
        ui->line_user_head->setText(v.head);
    if (f & ConfigField::Tail)
        ui->line_user_tail->setText(v.tail);
    if (f & ConfigField::IdLength)
        ui->line_idlenggth->setText(v.idLength);
    if (f & ConfigField::IdPosition)
        ui->line_idLocation->setText(v.idPosition);
    // The flags and texts go in as they came.
    shown |= f & (ConfigField::FrameId | ConfigField::FrameInfo | ConfigField::Head | ConfigField::Tail |
                  ConfigField::IdLength | ConfigField::IdPosition);
    if (f & ConfigField::Direction) {
        send_direction_mode(v.direction);
        showIf(ConfigField::Direction, !At::directionFromReport(v.direction).isEmpty());
    }
    if (f & ConfigField::FilterMode) {
        send_filter_mode(v.filterMode);
        showIf(ConfigField::FilterMode, !At::filterModeFromReport(v.filterMode).isEmpty());
    }

    if (f & ConfigField::FilterList) {
        m_filterTable->setEntries(v.filters);
        shown |= ConfigField::FilterList;
    }
    markNotRead(shown, false);
    return shown;
}

QWidget* KX47main::editorOf(ConfigField field) const
{
    switch (field) {
    case ConfigField::SerialBaud:
        return ui->baud_485;
    case ConfigField::SerialStopBits:
        return ui->stopbit_485;
    case ConfigField::SerialParity:
        return ui->parity_485;
    case ConfigField::CanRate:
        return ui->Box_can_baud;
    case ConfigField::CanFrameType:
        return ui->Box_send_mode;
    case ConfigField::CanId:
        return ui->line_send_id;
    case ConfigField::Mode:
        return ui->device_box;
    case ConfigField::FrameId:
        return ui->id_enabled_checkBox;
    case ConfigField::FrameInfo:
        return ui->meg_enabledcheckBox;
    case ConfigField::Head:
        return ui->line_user_head;
    case ConfigField::Tail:
        return ui->line_user_tail;
    case ConfigField::IdLength:
        return ui->line_idlenggth;
    case ConfigField::IdPosition:
        return ui->line_idLocation;
    case ConfigField::Direction:
        return ui->Box_filtra_mode_2;
    case ConfigField::FilterMode:
        return ui->Box_filtra_mode;
    case ConfigField::FilterList:
        break;
    }
    return ui->tableWidget;
}

void KX47main::markNotRead(ConfigFields fields, bool notRead)
{
    for (const ConfigField field : Config::allFields()) {
        QWidget* const editor = editorOf(field);
        if (!(fields & field) || editor->property(kNotReadProperty).toBool() == notRead)
            continue;
        editor->setProperty(kNotReadProperty, notRead);
        // The editors have no tool tip or style sheet of their own. The
        // style names the editor's class, so that a combo box's list keeps its look.
        editor->setToolTip(notRead ? tr("未从模块读取") : QString());
        editor->setStyleSheet(
            notRead ? QString::fromLatin1(kNotReadStyle).arg(QLatin1String(editor->metaObject()->className()))
                    : QString());
    }
}

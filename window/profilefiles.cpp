// The File menu: a configuration as a profile file, and the log as text.
// Nothing here talks to the module: an opened profile only fills the editors.
#include "core/config/fileaccess.h"
#include "core/config/moduleconfig.h"
#include "core/config/profile.h"
#include "core/protocol/configreading.h"
#include "core/protocol/logformat.h"
#include "ui_kx47main.h"
#include "window/kx47main.h"
#include "window/remembered.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace {

// Writes the file whole or not at all; false after telling the user.
bool writeWhole(QWidget* window, const QString& path, const QByteArray& bytes)
{
    QString error;
    if (Files::writeWhole(path, bytes, &error))
        return true;
    QMessageBox::information(
        window, QCoreApplication::translate("KX47main", "错误"),
        QCoreApplication::translate("KX47main", "无法写入文件 %1").arg(QDir::toNativeSeparators(path)),
        QMessageBox::Ok);
    return false;
}

} // namespace

bool KX47main::openConfig(const QString& path)
{
    ProfileFile file;
    QString error;
    if (!file.load(path, &error)) {
        QMessageBox::information(this, tr("错误"), tr("无法读取文件 %1").arg(error), QMessageBox::Ok);
        return false;
    }
    ModuleConfig config;
    QStringList problems;
    QStringList warnings;
    if (!file.configure({}, &config, &problems, &warnings)) {
        QMessageBox::information(
            this, tr("错误"),
            tr("配置文件 %1 未被采用：\n%2").arg(QDir::toNativeSeparators(path), problems.join(QLatin1Char('\n'))),
            QMessageBox::Ok);
        return false;
    }
    for (const QString& warning : warnings)
        show_log((QStringLiteral("profile: ") + warning).toUtf8(), LogFormat::Message);
    applyReading(ConfigReading::of(config));
    // The list buttons follow the filter mode of the profile, whatever it is.
    Box_filtra_mode();
    m_somethingRead = true;
    showResult(tr("已打开配置：%1").arg(QFileInfo(path).fileName()));
    return true;
}

bool KX47main::saveConfig(const QString& path)
{
    ModuleConfig config = editorsConfig();
    // An empty ID editor writes the ID 0.
    if (config.canId.isEmpty())
        config.canId = QStringLiteral("0");
    const QString problem = Config::check(config);
    if (!problem.isEmpty()) {
        QMessageBox::information(this, tr("错误"), problem, QMessageBox::Ok);
        return false;
    }
    if (!writeWhole(this, path, Profile::write(config)))
        return false;
    showResult(tr("已保存配置：%1").arg(QFileInfo(path).fileName()));
    return true;
}

bool KX47main::saveLog(const QString& path)
{
    return writeWhole(this, path, (ui->logBrower->toPlainText() + QLatin1Char('\n')).toUtf8());
}

QString KX47main::chooseFile(bool save, bool log, const QString& caption, const QString& name, const QString& filter)
{
    const Remembered::Key<QString>& kept = log ? Remembered::kLogFolder : Remembered::kProfileFolder;
    const QString folder = Remembered::Store().get(kept);
    const QString start = (folder.isEmpty() ? QDir::homePath() : folder) + QLatin1Char('/') + name;
    const QString path = save ? QFileDialog::getSaveFileName(this, caption, start, filter)
                              : QFileDialog::getOpenFileName(this, caption, start, filter);
    if (path.isEmpty())
        return path;
    Remembered::Store().set(kept, QFileInfo(path).absolutePath());
    return path;
}

void KX47main::chooseConfigToOpen()
{
    const QString path = chooseFile(false, false, tr("打开配置"), QString(), tr("配置文件 (*.json)"));
    if (!path.isEmpty())
        openConfig(path);
}

void KX47main::chooseConfigToSave()
{
    QString path = chooseFile(true, false, tr("保存配置"), QStringLiteral("module.json"), tr("配置文件 (*.json)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".json");
    saveConfig(path);
}

void KX47main::chooseLogToSave()
{
    const QString path =
        chooseFile(true, true, tr("保存日志"), QStringLiteral("velkocan-log.txt"), tr("文本文件 (*.txt)"));
    if (!path.isEmpty())
        saveLog(path);
}

#include "ui/appsettings.h"

#include <QDir>
#include <QFileInfo>

const QString AppSettings::FIRMWARE_DIRECTORY_KEY = QStringLiteral("fw_dir");

AppSettings::AppSettings(const QString &filePath)
    : m_settings(filePath, QSettings::IniFormat)
{
    if (QFileInfo::exists(filePath)) {
        m_firmwareDirectory = m_settings.value(FIRMWARE_DIRECTORY_KEY).toString();
    } else {
        setFirmwareDirectory(QDir::homePath());
    }
}

void AppSettings::setFirmwareDirectory(const QString &directory)
{
    m_firmwareDirectory = directory;
    m_settings.setValue(FIRMWARE_DIRECTORY_KEY, directory);
    m_settings.sync();
}

#include "ui/appsettings.h"

#include <QDir>
#include <QFileInfo>

const QString AppSettings::FIRMWARE_DIRECTORY_KEY = QStringLiteral("fw_dir");
const QString AppSettings::WINDOW_GEOMETRY_KEY = QStringLiteral("window_geometry");
const QString AppSettings::LAST_PAGE_KEY = QStringLiteral("last_page");
const QString AppSettings::SETTINGS_DIRECTORY_KEY = QStringLiteral("settings_dir");

namespace {

// A FIFO or a device in the settings file's place would hold the program as it starts (the
// settings are read at once): the settings then live for this run only.
QString usableFile(const QString &filePath)
{
    const QFileInfo file(filePath); // links followed
    if (file.exists() && !file.isFile()) {
        qWarning("kordoman: %s is not a regular file; the settings are not kept", qPrintable(filePath));
        return QString();
    }
    return filePath;
}

} // namespace

AppSettings::AppSettings(const QString &filePath)
    : m_settings(usableFile(filePath), QSettings::IniFormat)
{
    if (!m_settings.fileName().isEmpty() && QFileInfo::exists(filePath)) {
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

QString AppSettings::settingsDirectory() const
{
    const QString directory = m_settings.value(SETTINGS_DIRECTORY_KEY).toString();
    return directory.isEmpty() ? m_firmwareDirectory : directory;
}

void AppSettings::setSettingsDirectory(const QString &directory)
{
    m_settings.setValue(SETTINGS_DIRECTORY_KEY, directory);
    m_settings.sync();
}

QByteArray AppSettings::windowGeometry() const
{
    return m_settings.value(WINDOW_GEOMETRY_KEY).toByteArray();
}

int AppSettings::lastPage() const
{
    bool ok = false;
    const int page = m_settings.value(LAST_PAGE_KEY).toInt(&ok);
    return ok ? page : -1;
}

void AppSettings::setWindowState(const QByteArray &geometry, int lastPage)
{
    m_settings.setValue(WINDOW_GEOMETRY_KEY, geometry);
    m_settings.setValue(LAST_PAGE_KEY, lastPage);
    m_settings.sync();
}

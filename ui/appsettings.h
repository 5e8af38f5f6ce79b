#pragma once

#include <QSettings>
#include <QString>

// The program's settings file kordoman.ini (INI format). It holds the directory last used
// for firmware files under the key fw_dir, the directory last used for settings exports and
// imports (settings_dir) once one was used, and the window's geometry and last page
// (window_geometry, last_page) once the window has been closed.
class AppSettings
{
public:
    static const QString FIRMWARE_DIRECTORY_KEY; // "fw_dir"
    static const QString WINDOW_GEOMETRY_KEY;    // "window_geometry"
    static const QString LAST_PAGE_KEY;          // "last_page"
    static const QString SETTINGS_DIRECTORY_KEY; // "settings_dir"

    // Reads the file, or creates it with fw_dir set to the user's home directory. A path that
    // is no regular file (a FIFO, a device) is neither read nor written: the settings then
    // last for this run only.
    explicit AppSettings(const QString &filePath);

    QString filePath() const { return m_settings.fileName(); }
    QString firmwareDirectory() const { return m_firmwareDirectory; }
    // Stores the directory and writes the file at once.
    void setFirmwareDirectory(const QString &directory);
    // The folder of the last settings file exported or imported; the firmware directory
    // until one was.
    QString settingsDirectory() const;
    // Stores the directory and writes the file at once.
    void setSettingsDirectory(const QString &directory);

    // Empty, and -1, until first stored.
    QByteArray windowGeometry() const;
    int lastPage() const;
    // Stores both and writes the file at once.
    void setWindowState(const QByteArray &geometry, int lastPage);

private:
    QSettings m_settings;
    QString m_firmwareDirectory;
};

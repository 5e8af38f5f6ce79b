#pragma once

#include <QSettings>
#include <QString>

// The program's settings file kordoman.ini (INI format). It holds the directory last used
// for firmware and settings files under the key fw_dir, and the window's geometry and last
// page (window_geometry, last_page) once the window has been closed.
class AppSettings
{
public:
    static const QString FIRMWARE_DIRECTORY_KEY; // "fw_dir"
    static const QString WINDOW_GEOMETRY_KEY;    // "window_geometry"
    static const QString LAST_PAGE_KEY;          // "last_page"

    // Reads the file, or creates it with fw_dir set to the user's home directory. A path that
    // is no regular file (a FIFO, a device) is neither read nor written: the settings then
    // last for this run only.
    explicit AppSettings(const QString &filePath);

    QString filePath() const { return m_settings.fileName(); }
    QString firmwareDirectory() const { return m_firmwareDirectory; }
    // Stores the directory and writes the file at once.
    void setFirmwareDirectory(const QString &directory);

    // Empty, and -1, until first stored.
    QByteArray windowGeometry() const;
    int lastPage() const;
    // Stores both and writes the file at once.
    void setWindowState(const QByteArray &geometry, int lastPage);

private:
    QSettings m_settings;
    QString m_firmwareDirectory;
};

#pragma once

#include <QSettings>
#include <QString>

// The program's settings file kordoman.ini (INI format). It holds the directory last used
// for firmware and settings files under the key fw_dir.
class AppSettings
{
public:
    static const QString FIRMWARE_DIRECTORY_KEY; // "fw_dir"

    // Reads the file, or creates it with fw_dir set to the user's home directory.
    explicit AppSettings(const QString &filePath);

    QString filePath() const { return m_settings.fileName(); }
    QString firmwareDirectory() const { return m_firmwareDirectory; }
    // Stores the directory and writes the file at once.
    void setFirmwareDirectory(const QString &directory);

private:
    QSettings m_settings;
    QString m_firmwareDirectory;
};

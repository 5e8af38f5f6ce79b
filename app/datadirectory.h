#pragma once

#include <QString>

// Where the program keeps kordoman.ini, Kordo_Logs, Kordo_Db and Kordo_Samples.
// Chosen once at start-up: the directory given on the command line; else the
// executable's directory when it is writable (portable layout); else the user's
// application data directory. All paths it hands out are absolute.
class DataDirectory
{
public:
    enum class Origin {
        None,          // nothing usable was found; see errorString()
        CommandLine,   // --data-dir
        Executable,    // beside the executable
        UserAppData,   // QStandardPaths::AppDataLocation
    };

    static const QString SETTINGS_FILE; // "kordoman.ini"
    static const QString LOG_DIR;       // "Kordo_Logs"
    static const QString DATABASE_DIR;  // "Kordo_Db"
    static const QString SAMPLE_DIR;    // "Kordo_Samples"

    // Uses the running application's directory and its AppDataLocation.
    static DataDirectory resolve(const QString &explicitDir);
    // The candidates given explicitly (tests); an empty explicitDir means none given.
    static DataDirectory resolve(const QString &explicitDir, const QString &executableDir,
                                 const QString &userDataDir);

    bool isValid() const { return m_origin != Origin::None; }
    // The directory given on the command line exists but no file can be created in it:
    // subdirectories that exist are handed out (their files are used read-only where
    // they cannot be written), missing ones are not created.
    bool isReadOnly() const { return m_readOnly; }
    Origin origin() const { return m_origin; }
    // Why no directory could be chosen; empty when isValid().
    QString errorString() const { return m_error; }

    QString path() const { return m_path; }
    QString settingsFilePath() const;

    // Absolute path of the subdirectory, created when missing. On failure returns an
    // empty string and, when error is given, a message naming the directory.
    QString logDirectory(QString *error = nullptr) const;
    QString databaseDirectory(QString *error = nullptr) const;
    QString sampleDirectory(QString *error = nullptr) const;
    // Absolute path of the sample directory, not created here: the sample worker makes
    // it with the first samples and names it when that fails. Empty when !isValid().
    QString samplePath() const;

private:
    DataDirectory() = default;
    QString subdirectory(const QString &name, QString *error) const;

    Origin m_origin = Origin::None;
    bool m_readOnly = false;
    QString m_path;
    QString m_error;
};

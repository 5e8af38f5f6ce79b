#include "app/datadirectory.h"

#include "app/installlayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTemporaryFile>

Q_LOGGING_CATEGORY(lcDataDirectory, "kordo.app.datadir")

const QString DataDirectory::SETTINGS_FILE = QStringLiteral("kordoman.ini");
const QString DataDirectory::LOG_DIR = QStringLiteral("Kordo_Logs");
const QString DataDirectory::DATABASE_DIR = QStringLiteral("Kordo_Db");
const QString DataDirectory::SAMPLE_DIR = QStringLiteral("Kordo_Samples");

namespace {

const QString TAG = QStringLiteral("DATA_DIRECTORY: ");

bool makeDirectory(const QString &path)
{
    return !path.isEmpty() && QDir().mkpath(path) && QFileInfo(path).isDir();
}

// Permission bits do not tell (administrators, read-only mounts): try to create a file.
bool canCreateFilesIn(const QString &path)
{
    if (path.isEmpty() || !QFileInfo(path).isDir())
        return false;
    QTemporaryFile probe(QDir(path).absoluteFilePath(QStringLiteral(".kordo_write_probe_XXXXXX")));
    return probe.open();
}

} // namespace

DataDirectory DataDirectory::resolve(const QString &explicitDir)
{
    // An installed program never writes beside its executable.
    return resolve(explicitDir, InstallLayout::ofRunningProgram().portableDataDirectory(),
                   QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

DataDirectory DataDirectory::resolve(const QString &explicitDir, const QString &executableDir,
                                     const QString &userDataDir)
{
    DataDirectory result;
    if (!explicitDir.isEmpty()) {
        // An explicit choice is never replaced silently by another directory.
        const QString path = QDir(explicitDir).absolutePath();
        if (makeDirectory(path) && canCreateFilesIn(path)) {
            result.m_origin = Origin::CommandLine;
            result.m_path = path;
        } else if (QFileInfo(path).isDir()) {
            // What it holds is still used (a motor database is opened read-only); nothing
            // new is made there, and nothing goes anywhere else.
            result.m_origin = Origin::CommandLine;
            result.m_path = path;
            result.m_readOnly = true;
        } else {
            result.m_error = QCoreApplication::translate("DataDirectory",
                "The data directory %1 cannot be created or written to.").arg(QDir::toNativeSeparators(path));
        }
    } else if (canCreateFilesIn(executableDir)) {
        result.m_origin = Origin::Executable;
        result.m_path = QDir(executableDir).absolutePath();
    } else if (!userDataDir.isEmpty() && makeDirectory(QDir(userDataDir).absolutePath())
               && canCreateFilesIn(QDir(userDataDir).absolutePath())) {
        result.m_origin = Origin::UserAppData;
        result.m_path = QDir(userDataDir).absolutePath();
    } else {
        result.m_error = QCoreApplication::translate("DataDirectory",
            "No data directory can be written: neither %1 nor %2.")
            .arg(QDir::toNativeSeparators(executableDir), QDir::toNativeSeparators(userDataDir));
    }

    // The user hears of a read-only directory from what cannot be written in it.
    if (result.isValid())
        qCDebug(lcDataDirectory).noquote() << TAG + QStringLiteral("data directory ") + result.m_path
                                                  + (result.m_readOnly ? QStringLiteral(" (read-only)") : QString());
    else
        qCWarning(lcDataDirectory).noquote() << TAG + result.m_error;
    return result;
}

QString DataDirectory::settingsFilePath() const
{
    return isValid() ? QDir(m_path).absoluteFilePath(SETTINGS_FILE) : QString();
}

QString DataDirectory::logDirectory(QString *error) const
{
    return subdirectory(LOG_DIR, error);
}

QString DataDirectory::databaseDirectory(QString *error) const
{
    return subdirectory(DATABASE_DIR, error);
}

QString DataDirectory::sampleDirectory(QString *error) const
{
    return subdirectory(SAMPLE_DIR, error);
}

QString DataDirectory::samplePath() const
{
    return isValid() ? QDir(m_path).absoluteFilePath(SAMPLE_DIR) : QString();
}

QString DataDirectory::subdirectory(const QString &name, QString *error) const
{
    QString message;
    QString path;
    if (!isValid()) {
        message = m_error;
    } else {
        path = QDir(m_path).absoluteFilePath(name);
        if (!makeDirectory(path)) {
            message = QCoreApplication::translate("DataDirectory", "The directory %1 cannot be created.")
                          .arg(QDir::toNativeSeparators(path));
            path.clear();
        }
    }
    if (!message.isEmpty())
        qCWarning(lcDataDirectory).noquote() << TAG + message;
    if (error)
        *error = message;
    return path;
}

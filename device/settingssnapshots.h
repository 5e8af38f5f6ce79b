#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QMetaType>
#include <QSqlDatabase>
#include <QString>
#include <QVector>

class Device;

// What a controller held before something changed it: its settings records and its motor as
// read, byte for byte, with its serial number, its firmware and why the copy was taken.
struct SettingsSnapshot
{
    // Why a snapshot was taken; stored as the key texts below ("firmware update", ...).
    enum class Reason { FirmwareUpdate, SettingsImport, SettingsWrite, MotorWrite, Restore };

    qint64 id = 0;              // its number in the database; 0: not kept there
    QString serialNumber;
    QDateTime time;             // UTC
    QString firmware;           // "1.2.3"
    QString reason;             // a key of Reason
    QByteArray pwmIn;           // SET_PWM_IN_PARAMS as read (8 bytes); empty when not read
    QByteArray motion;          // SET_MOTION_PARAMS as read (8 bytes); empty when not read
    QByteArray motor;           // MOTOR_TOTAL as read (28 bytes); empty when not read
    QString motorName;          // the database's name of that motor, when known

    static QString reasonKey(Reason reason);
    // The reason in the user's words.
    static QString reasonText(const QString &key);
    // The records the device model holds for the connected controller; only those read
    // from it (a record not read stays empty).
    static SettingsSnapshot ofDevice(const Device &device, Reason reason);

    bool hasSettings() const { return !pwmIn.isEmpty() || !motion.isEmpty(); }
    bool isEmpty() const { return !hasSettings() && motor.isEmpty(); }

    // The file a snapshot goes to when the database cannot take it (JSON, hex bytes).
    QByteArray toFileText() const;
    static bool fromFileText(const QByteArray &text, SettingsSnapshot *snapshot);
};
Q_DECLARE_METATYPE(SettingsSnapshot)

// The snapshots of the data directory: the table `settings_snapshots` of the motor database
// (Kordo_data.db), beside the motors. Snapshots are kept until pruned on request. A
// database that cannot take a snapshot (damaged, locked, read-only, missing) never stops
// the change that asked for it: the snapshot then goes to a file in the fallback directory
// (written whole with QSaveFile), and the caller tells the user where.
//
// One connection of its own, made in the thread that uses the object; several stores (one
// per production port) may work on one file side by side.
class SettingsSnapshots
{
    Q_DECLARE_TR_FUNCTIONS(SettingsSnapshots)

public:
    // The schema this program writes: PRAGMA user_version. Version 0 (databases made before
    // snapshots existed) gains the table; a newer version is used as long as the table has
    // the columns read here, and is never lowered.
    static constexpr int SCHEMA_VERSION = 1;
    static const char *const TABLE;             // "settings_snapshots"
    static constexpr int BUSY_TIMEOUT_MS = 2000;

    // Where a snapshot went.
    struct Kept
    {
        bool ok = false;        // in the database or in a file
        qint64 id = 0;          // in the database
        QString file;           // else in this file
        QString problem;        // why the database did not take it (and, when !ok, the file)
    };

    SettingsSnapshots(const QString &databaseDirectory, const QString &fallbackDirectory);
    ~SettingsSnapshots();
    SettingsSnapshots(const SettingsSnapshots &) = delete;
    SettingsSnapshots &operator=(const SettingsSnapshots &) = delete;

    QString databaseFilePath() const { return m_filePath; }

    Kept keep(const SettingsSnapshot &snapshot);
    // For the user: where the snapshot went when not in the database, or why it was lost;
    // empty when it is in the database.
    static QString keptText(const Kept &kept);

    // The snapshots, newest first; of one controller when serial is not empty. Reading
    // creates nothing: without a database there are no snapshots.
    bool list(const QString &serial, QVector<SettingsSnapshot> *snapshots, QString *problem);
    bool find(qint64 id, SettingsSnapshot *snapshot, QString *problem);
    // The files of snapshots the database could not take, by name (oldest first).
    QStringList backupFiles() const;
    // Removes the snapshots taken more than `days` days before `now`; returns how many, or
    // -1 (with the problem) when the database cannot do it.
    int prune(int days, const QDateTime &now, QString *problem);
    // The same for the backup files: those taken more than `days` days before `now` are
    // removed; returns how many. A file that cannot be removed is named in `kept`; a file
    // that holds no backup is left alone.
    int pruneFiles(int days, const QDateTime &now, QStringList *kept) const;

private:
    bool open(QString *problem);
    // For reading: false with no problem when there is no database or no table of snapshots
    // yet (nothing is created to be read).
    bool openForReading(QString *problem);
    bool migrate(QString *problem);
    QString writeFile(const SettingsSnapshot &snapshot, QString *problem) const;

    QString m_filePath;
    QString m_fallbackDirectory;
    QString m_connectionName;
    QSqlDatabase m_db;
    bool m_ready = false;
};

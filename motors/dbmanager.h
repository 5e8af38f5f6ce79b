#pragma once

#include "wire/motortotal.h"

#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVector>

class QDateTime;
class QSqlError;
class QSqlQuery;
class QTimer;

// One motor as kept in the database and in motor files.
struct MotorEntry
{
    QString name;
    QString datetime;   // "yyyy-MM-dd hh:mm:ss", possibly empty
    MOTOR_TOTAL params;
};

// The motor database: SQLite file Kordo_data.db in the database directory, one table
// `motors` keyed by the motor name. Lives in the GUI thread; one connection per instance,
// named uniquely so that several instances can coexist. Never changes the process's
// current directory.
//
// A database that cannot be opened or written leaves the object usable: health() and
// problemText() tell the coordinator what to show the user once, and every operation
// then fails cleanly (reads still work on a read-only database).
//
// Another program holding the database locked makes the GUI thread wait at most
// BUSY_TIMEOUT_MS per statement. A locked database is tried again on every operation
// and every RETRY_INTERVAL_MS until it is free; usableAgain() then tells the coordinator,
// which looks the connected motor up again. A damaged database (pages that do not
// read back) is found at opening and by every failing statement, and said so once.
class DbManager : public QObject
{
    Q_OBJECT

public:
    enum class Health {
        Ready,
        ReadOnly,       // listed and exported; nothing is written
        Locked,         // another program holds it: reads are tried, writes wait for the retry
        Damaged,        // its file is corrupt: nothing is read or written
        Unavailable,    // there is no database (no directory, no file, no driver)
    };

    static constexpr int BUSY_TIMEOUT_MS = 100;
    static constexpr int RETRY_INTERVAL_MS = 2000;

    static const char *const FILE_NAME;                     // "Kordo_data.db"
    static const char *const DATE_FORMAT;                   // "yyyy-MM-dd hh:mm:ss"
    static constexpr int LAST_UNKNOWN_MOTOR_NUMBER = 65534;

    DbManager(QObject *parent, const QString &databaseDirectory);
    ~DbManager() override;

    Health health() const { return m_health; }
    // A translated message for the user when health() is not Ready, else empty.
    QString problemText() const { return m_problemText; }
    QString databaseFilePath() const { return m_filePath; }

    // A name the motor file can carry: not empty, no ";" and no line break.
    static bool isValidMotorName(const QString &name);
    // Why a name cannot be used, in the user's words ("… the character ";" is not
    // allowed"); empty for a valid name.
    static QString invalidNameReason(const QString &name);
    // Identified values that SQLite keeps faithfully (it stores NaN as NULL).
    static bool isStorable(const MOTOR_TOTAL &motor);
    // A motor the controller can run: finite, positive resistance, inductances and flux,
    // and pole pairs that are set. Only such a motor is stored from a file, and only such
    // a motor is written to a controller. (What the controller itself reports is still
    // saved, and remembered under "Unknown motor N", when it is merely storable.)
    static bool isUsable(const MOTOR_TOTAL &motor);
    static QString dateTimeText(const QDateTime &when);
    // "Unknown motor N" as stored, in English whatever the user's language.
    static QString unknownMotorName(int number);
    // A stored name as the user sees it: an unknown motor's in the user's language.
    static QString shownName(const QString &storedName);

    // Inserts the motor, replacing any motor of the same name.
    bool saveMotor(const QString &name, const QString &datetime, MOTOR_TOTAL *motorParams);
    // Appends names and storing times of all motors, ordered by name.
    bool getMotorList(QStringList *names, QStringList *datetimes);
    // All or nothing, in one transaction: optionally deletes every motor, then stores
    // each entry (replacing motors of the same name). Any failure rolls everything back.
    bool storeMotors(const QVector<MotorEntry> &entries, bool replaceAll);

signals:
    // A message for the user (a message box): a motor was not stored because the
    // database is locked, or the database turned out to be damaged.
    void databaseMessage(QString text);
    // A locked database is free again: what failed meanwhile can be done now.
    void usableAgain();

public slots:
    bool getMotorParams(const QString &motorName, MOTOR_TOTAL *motorParams);
    bool renameMotor(const QString &oldMotorName, const QString &newMotorName);
    bool removeMotor(const QString &motorName);
    bool removeAllMotor();
    // The stored name of the motor with these identified values; stores it when needed
    // (as motorName, or as the first free "Unknown motor N"). Null when it could not be
    // found nor stored.
    QString findMotor(MOTOR_TOTAL *motorTotal, const QString &motorName);
    QString findMotor(MOTOR_TOTAL *motorTotal);

private:
    struct Column
    {
        QString name;
        QString type;
        QString constraint;
    };

    void openDatabase();
    bool createTable();
    bool hasAllColumns() const;
    bool canWrite(QSqlError *error);
    bool isIntact(QString *damage);
    void checkHealth();
    void markUnavailable(const QString &reason);
    void markReadOnly(const QString &reason);
    void markLocked();
    void markDamaged(const QString &reason);
    // Noted after every failed statement: a lock or damage changes the health.
    void noteFailure(const QSqlError &error);
    // A locked database is checked again (quickly) before the operation.
    void retryIfLocked();
    bool readable();
    bool writable();

    bool exec(QSqlQuery &query);   // logs the database error on failure and notes it
    bool insertMotor(const QString &name, const QString &datetime, const MOTOR_TOTAL &motor);
    bool deleteAllRows();
    QStringList namesMatching(const MOTOR_TOTAL &motor, bool *ok);
    QString storeAsUnknownMotor(const MOTOR_TOTAL &motor, const QString &datetime);
    QString lookUpOrStore(const MOTOR_TOTAL &motor, const QString &motorName);

    QString createStatement() const;
    QString migrateStatement() const;
    QString insertStatement() const;
    QString selectParamsStatement() const;

    QVector<Column> m_columns;
    QString m_tableName;
    QString m_filePath;
    QString m_connectionName;
    QSqlDatabase m_db;
    Health m_health = Health::Ready;
    QString m_problemText;
    QTimer *m_retryTimer = nullptr;
    bool m_damageReported = false;
};

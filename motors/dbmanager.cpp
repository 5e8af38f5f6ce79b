#include "motors/dbmanager.h"

#include "motors/motorslog.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimer>
#include <QVariant>

#include <cmath>

const char *const DbManager::FILE_NAME = "Kordo_data.db";
const char *const DbManager::DATE_FORMAT = "yyyy-MM-dd hh:mm:ss";

namespace {

// Column positions, in the order of the column table.
enum ColumnIndex {
    ColName, ColRs, ColLsD, ColLsQ, ColRatedFlux, ColKp, ColKi,
    ColMaxVoltage, ColMaxFrequency, ColMaxCurrent, ColPolePairs, ColMaxResCurrent, ColDatetime,
    ColumnCount
};

constexpr uint8_t VALID_FROM_DATABASE = 3;
constexpr int FLUX_FREQUENCY_DIVISOR = 20;

QString nextConnectionName()
{
    static QAtomicInteger<quint32> counter;
    return QStringLiteral("kordo.motors.%1").arg(counter.fetchAndAddRelaxed(1) + 1);
}

// SQLite's primary result codes (the extended ones carry them in the low byte).
enum SqliteCode { SQLITE_CODE_BUSY = 5, SQLITE_CODE_LOCKED = 6, SQLITE_CODE_CORRUPT = 11, SQLITE_CODE_NOTADB = 26 };

int sqliteCode(const QSqlError &error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? (code & 0xFF) : 0;
}

bool isLockError(const QSqlError &error)
{
    const int code = sqliteCode(error);
    return code == SQLITE_CODE_BUSY || code == SQLITE_CODE_LOCKED;
}

bool isDamageError(const QSqlError &error)
{
    const int code = sqliteCode(error);
    return code == SQLITE_CODE_CORRUPT || code == SQLITE_CODE_NOTADB;
}

// Floats are bound as doubles: exact, and QSQLITE would bind a float as text.
QVariant floatValue(float value) { return QVariant(double(value)); }

QString placeholder(const QString &column) { return QLatin1Char(':') + column; }

} // namespace

DbManager::DbManager(QObject *parent, const QString &databaseDirectory)
    : QObject(parent)
    , m_columns {
          { QStringLiteral("name"), QStringLiteral("TEXT"), QStringLiteral("UNIQUE") },
          { QStringLiteral("rs"), QStringLiteral("REAL"), QString() },
          { QStringLiteral("ls_d"), QStringLiteral("REAL"), QString() },
          { QStringLiteral("ls_q"), QStringLiteral("REAL"), QString() },
          { QStringLiteral("rated_flux"), QStringLiteral("REAL"), QString() },
          { QStringLiteral("k_p"), QStringLiteral("INTEGER"), QString() },
          { QStringLiteral("k_i"), QStringLiteral("INTEGER"), QString() },
          { QStringLiteral("max_voltage"), QStringLiteral("INTEGER"), QString() },
          { QStringLiteral("max_frequency"), QStringLiteral("INTEGER"), QString() },
          { QStringLiteral("max_current"), QStringLiteral("INTEGER"), QString() },
          { QStringLiteral("pole_pairs"), QStringLiteral("INTEGER"), QString() },
          { QStringLiteral("max_res_current"), QStringLiteral("INTEGER"), QString() },
          { QStringLiteral("datetime"), QStringLiteral("TEXT"), QString() },
      }
    , m_tableName(QStringLiteral("motors"))
    // No directory, or a relative one, would put the file wherever the program was
    // started: the path stays relative and is never opened.
    , m_filePath(QDir::isAbsolutePath(databaseDirectory)
                     ? QDir(databaseDirectory).absoluteFilePath(QString::fromLatin1(FILE_NAME))
                     : QString::fromLatin1(FILE_NAME))
    , m_connectionName(nextConnectionName())
    , m_retryTimer(new QTimer(this))
{
    Q_ASSERT(m_columns.size() == ColumnCount);
    qCDebug(lcMotors).noquote() << "DB_MAN:" << databaseDirectory;
    m_retryTimer->setInterval(RETRY_INTERVAL_MS);
    connect(m_retryTimer, &QTimer::timeout, this, &DbManager::retryIfLocked);
    openDatabase();
}

DbManager::~DbManager()
{
    m_db.close();
    m_db = QSqlDatabase();      // the last handle must go before the connection is removed
    QSqlDatabase::removeDatabase(m_connectionName);
}

bool DbManager::isValidMotorName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char(';'))
        && !name.contains(QLatin1Char('\n')) && !name.contains(QLatin1Char('\r'));
}

QString DbManager::invalidNameReason(const QString &name)
{
    if (name.isEmpty())
        return tr("The motor name is empty.");
    // The motor file separates its fields by ";" and its motors by line breaks.
    if (name.contains(QLatin1Char(';')))
        return tr("The motor name \"%1\" contains \";\", which a motor name must not contain.").arg(name);
    if (name.contains(QLatin1Char('\n')) || name.contains(QLatin1Char('\r')))
        return tr("The motor name contains a line break, which a motor name must not contain.");
    return QString();
}

bool DbManager::isStorable(const MOTOR_TOTAL &motor)
{
    return !std::isnan(motor.Rs) && !std::isnan(motor.Ls_d)
        && !std::isnan(motor.Ls_q) && !std::isnan(motor.Flux);
}

bool DbManager::isUsable(const MOTOR_TOTAL &motor)
{
    const auto positive = [](float value) { return std::isfinite(value) && value > 0.0f; };
    return positive(motor.Rs) && positive(motor.Ls_d) && positive(motor.Ls_q) && positive(motor.Flux)
        && motor.polePairs > 0;
}

QString DbManager::dateTimeText(const QDateTime &when)
{
    return when.toString(QString::fromLatin1(DATE_FORMAT));
}

// ---- opening -------------------------------------------------------------------------

void DbManager::openDatabase()
{
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    if (!m_db.isValid()) {
        markUnavailable(tr("the SQLite driver is missing"));
        return;
    }
    if (!QDir::isAbsolutePath(m_filePath)) {
        qCDebug(lcMotors).noquote() << "DB_MAN:" << "Error: connection with database fail";
        m_health = Health::Unavailable;
        m_problemText = tr("There is no motor database: no directory for it can be used. "
                           "Motors cannot be listed, stored or exchanged.");
        qCWarning(lcMotors).noquote() << "DB_MAN:" << m_problemText;
        return;
    }
    if (!QDir(QFileInfo(m_filePath).absolutePath()).exists()) {
        qCDebug(lcMotors).noquote() << "DB_MAN:" << "Error: connection with database fail";
        markUnavailable(tr("its directory does not exist"));
        return;
    }
    const bool existed = QFileInfo::exists(m_filePath);
    m_db.setDatabaseName(m_filePath);
    // Another program holding the file locked makes each statement wait this long at
    // most, on the GUI thread; a lock is then retried later, not waited for.
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BUSY_TIMEOUT_MS));
    if (!m_db.open()) {
        qCDebug(lcMotors).noquote() << "DB_MAN:" << "Error: connection with database fail";
        markUnavailable(existed ? m_db.lastError().text()
                                : tr("there is no database file, and none can be created there"));
        return;
    }
    qCDebug(lcMotors).noquote() << "DB_MAN:" << "Database: connection ok";
    checkHealth();
}

// Sets the health from what the database does now: table there (made when missing),
// pages intact, a write possible.
void DbManager::checkHealth()
{
    if (!createTable())
        return;
    QString damage;
    if (!isIntact(&damage)) {
        markDamaged(damage);
        return;
    }
    QSqlError writeError;
    if (!canWrite(&writeError)) {
        if (isLockError(writeError))
            markLocked();
        else
            markReadOnly(writeError.text());
        return;
    }
    m_health = Health::Ready;
    m_problemText.clear();
    m_retryTimer->stop();
}

bool DbManager::createTable()
{
    QSqlQuery create(m_db);
    qCDebug(lcMotors).noquote() << "DB_MAN:" << createStatement();
    if (!create.exec(createStatement())) {
        const QSqlError error = create.lastError();
        if (isLockError(error))
            markLocked();
        else if (isDamageError(error))
            markDamaged(error.text());
        else
            markUnavailable(error.text());
        return false;
    }
    // Adds `datetime` to tables made before it existed; on a current table it fails
    // harmlessly (duplicate column), so only the resulting layout is checked.
    QSqlQuery migrate(m_db);
    qCDebug(lcMotors).noquote() << "DB_MAN:" << migrateStatement();
    migrate.exec(migrateStatement());
    if (!hasAllColumns()) {
        markUnavailable(tr("the table %1 lacks columns").arg(m_tableName));
        return false;
    }
    return true;
}

bool DbManager::hasAllColumns() const
{
    const QSqlRecord record = m_db.record(m_tableName);
    for (const Column &column : m_columns) {
        if (!record.contains(column.name))
            return false;
    }
    return true;
}

// SQLite's own check of every page; a motor database is small, so this is quick. A
// database that cannot be checked now (locked) counts as intact until it can.
bool DbManager::isIntact(QString *damage)
{
    QSqlQuery check(m_db);
    if (!check.exec(QStringLiteral("PRAGMA quick_check"))) {
        *damage = check.lastError().text();
        return !isDamageError(check.lastError());
    }
    if (!check.next())
        return true;
    const QString verdict = check.value(0).toString();
    *damage = verdict;
    return verdict == QLatin1String("ok");
}

// A write that is rolled back: fails on a read-only file or directory (no journal), or
// while another program holds the database.
bool DbManager::canWrite(QSqlError *error)
{
    QSqlQuery probe(m_db);
    if (!probe.exec(QStringLiteral("PRAGMA user_version")) || !probe.next()) {
        *error = probe.lastError();
        return false;
    }
    const int version = probe.value(0).toInt();
    probe.finish();
    if (!m_db.transaction()) {
        *error = m_db.lastError();
        return false;
    }
    const bool wrote = probe.exec(QStringLiteral("PRAGMA user_version = %1").arg(version));
    *error = probe.lastError();
    m_db.rollback();
    return wrote;
}

void DbManager::markUnavailable(const QString &reason)
{
    m_health = Health::Unavailable;
    m_retryTimer->stop();
    m_problemText = tr("The motor database %1 cannot be used: %2. "
                       "Motors cannot be listed, stored or exchanged.")
                        .arg(QDir::toNativeSeparators(m_filePath), reason);
    qCWarning(lcMotors).noquote() << "DB_MAN:" << m_problemText;
}

void DbManager::markReadOnly(const QString &reason)
{
    m_health = Health::ReadOnly;
    m_retryTimer->stop();
    m_problemText = tr("The motor database %1 cannot be written: %2. "
                       "Motors can be listed and exported, but not stored, renamed, removed or imported.")
                        .arg(QDir::toNativeSeparators(m_filePath), reason);
    qCWarning(lcMotors).noquote() << "DB_MAN:" << m_problemText;
}

void DbManager::markLocked()
{
    m_health = Health::Locked;
    m_problemText = tr("The motor database %1 is in use by another program. Motors cannot be stored, "
                       "renamed, removed or imported until it is free; the program tries again by itself.")
                        .arg(QDir::toNativeSeparators(m_filePath));
    qCWarning(lcMotors).noquote() << "DB_MAN:" << m_problemText;
    if (!m_retryTimer->isActive())
        m_retryTimer->start();
}

void DbManager::markDamaged(const QString &reason)
{
    m_health = Health::Damaged;
    m_retryTimer->stop();
    m_problemText = tr("The motor database %1 is damaged (%2). Its motors cannot be read. "
                       "Move the file away to start a new motor database.")
                        .arg(QDir::toNativeSeparators(m_filePath), reason);
    qCWarning(lcMotors).noquote() << "DB_MAN:" << m_problemText;
}

void DbManager::noteFailure(const QSqlError &error)
{
    if (isLockError(error) && m_health == Health::Ready) {
        markLocked();
    } else if (isDamageError(error) && m_health != Health::Damaged) {
        markDamaged(error.text());
        if (!m_damageReported) {
            m_damageReported = true;
            emit databaseMessage(m_problemText);
        }
    }
}

void DbManager::retryIfLocked()
{
    if (m_health != Health::Locked)
        return;
    // One short probe while the lock lasts; the full check only once it is gone.
    QSqlError writeError;
    if (!canWrite(&writeError) && isLockError(writeError))
        return;
    checkHealth();
    if (m_health == Health::Ready) {
        qCDebug(lcMotors).noquote() << "DB_MAN:" << "the database is free again";
        emit usableAgain();
    }
}

bool DbManager::readable()
{
    retryIfLocked();
    return m_health == Health::Ready || m_health == Health::ReadOnly || m_health == Health::Locked;
}

bool DbManager::writable()
{
    retryIfLocked();
    return m_health == Health::Ready;
}

// ---- statements ----------------------------------------------------------------------

QString DbManager::createStatement() const
{
    QStringList definitions;
    for (const Column &column : m_columns)
        definitions << column.name + QLatin1Char(' ') + column.type + QLatin1Char(' ') + column.constraint;
    return QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (%2,PRIMARY KEY (%3));")
        .arg(m_tableName, definitions.join(QLatin1Char(',')), m_columns[ColName].name);
}

QString DbManager::migrateStatement() const
{
    const Column &date = m_columns[ColDatetime];
    return QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3;").arg(m_tableName, date.name, date.type);
}

QString DbManager::insertStatement() const
{
    QStringList names;
    QStringList values;
    for (const Column &column : m_columns) {
        names << column.name;
        values << placeholder(column.name);
    }
    return QStringLiteral("INSERT OR REPLACE INTO %1 (%2) VALUES (%3)")
        .arg(m_tableName, names.join(QLatin1Char(',')), values.join(QLatin1Char(',')));
}

QString DbManager::selectParamsStatement() const
{
    QStringList names;
    for (int i = ColRs; i < ColumnCount; ++i)
        names << m_columns[i].name;
    return QStringLiteral("SELECT %1 FROM %2 WHERE %3 = :%3")
        .arg(names.join(QLatin1Char(',')), m_tableName, m_columns[ColName].name);
}

bool DbManager::exec(QSqlQuery &query)
{
    if (query.exec())
        return true;
    qCDebug(lcMotors).noquote() << "DB_MAN:" << query.lastError().text();
    noteFailure(query.lastError());
    return false;
}

// ---- writing -------------------------------------------------------------------------

bool DbManager::insertMotor(const QString &name, const QString &datetime, const MOTOR_TOTAL &motor)
{
    if (!isValidMotorName(name) || !isStorable(motor))
        return false;
    QSqlQuery query(m_db);
    if (!query.prepare(insertStatement())) {
        qCDebug(lcMotors).noquote() << "DB_MAN:" << query.lastError().text();
        return false;
    }
    const auto bind = [&query, this](int column, const QVariant &value) {
        query.bindValue(placeholder(m_columns[column].name), value);
    };
    bind(ColName, name);
    bind(ColRs, floatValue(motor.Rs));
    bind(ColLsD, floatValue(motor.Ls_d));
    bind(ColLsQ, floatValue(motor.Ls_q));
    bind(ColRatedFlux, floatValue(motor.Flux));
    bind(ColKp, 0);
    bind(ColKi, 0);
    bind(ColMaxVoltage, int(motor.voltage_scale));
    bind(ColMaxFrequency, int(motor.maxFrequency));
    bind(ColMaxCurrent, int(motor.maxMotorCurrent));
    bind(ColPolePairs, int(motor.polePairs));
    bind(ColMaxResCurrent, uint(motor.resCurrent & MOTOR_TOTAL::CURRENT_MASK));
    bind(ColDatetime, datetime);
    qCDebug(lcMotors).noquote() << "DB_MAN:" << query.lastQuery();
    return exec(query);
}

bool DbManager::saveMotor(const QString &name, const QString &datetime, MOTOR_TOTAL *motorParams)
{
    if (!motorParams || !writable())
        return false;
    return insertMotor(name, datetime, *motorParams);
}

bool DbManager::deleteAllRows()
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("DELETE FROM %1").arg(m_tableName));
    qCDebug(lcMotors).noquote() << "DB_MAN:" << query.lastQuery();
    return exec(query);
}

bool DbManager::storeMotors(const QVector<MotorEntry> &entries, bool replaceAll)
{
    if (!writable())
        return false;
    for (const MotorEntry &entry : entries) {
        if (!isValidMotorName(entry.name) || !isUsable(entry.params))
            return false;
    }
    if (!m_db.transaction()) {
        qCDebug(lcMotors).noquote() << "DB_MAN:" << m_db.lastError().text();
        noteFailure(m_db.lastError());
        return false;
    }
    bool ok = !replaceAll || deleteAllRows();
    for (int i = 0; ok && i < entries.size(); ++i)
        ok = insertMotor(entries[i].name, entries[i].datetime, entries[i].params);
    if (ok && m_db.commit())
        return true;
    if (ok)
        noteFailure(m_db.lastError());
    qCDebug(lcMotors).noquote() << "DB_MAN:" << "storing motors rolled back";
    m_db.rollback();
    return false;
}

bool DbManager::renameMotor(const QString &oldMotorName, const QString &newMotorName)
{
    if (!writable() || !isValidMotorName(newMotorName))
        return false;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("UPDATE %1 SET %2 = :new WHERE %2 = :old;")
                      .arg(m_tableName, m_columns[ColName].name));
    query.bindValue(QStringLiteral(":new"), newMotorName);
    query.bindValue(QStringLiteral(":old"), oldMotorName);
    // A missing motor is not renamed: that is a failure, not a success.
    return exec(query) && query.numRowsAffected() == 1;
}

bool DbManager::removeMotor(const QString &motorName)
{
    if (!writable())
        return false;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("DELETE FROM %1 WHERE %2 = :%2;").arg(m_tableName, m_columns[ColName].name));
    query.bindValue(placeholder(m_columns[ColName].name), motorName);
    qCDebug(lcMotors).noquote() << "DB_MAN:" << query.lastQuery();
    return exec(query);
}

bool DbManager::removeAllMotor()
{
    return writable() && deleteAllRows();
}

// ---- reading -------------------------------------------------------------------------

bool DbManager::getMotorParams(const QString &motorName, MOTOR_TOTAL *motorParams)
{
    if (!motorParams || !readable())
        return false;
    QSqlQuery query(m_db);
    query.prepare(selectParamsStatement());
    query.bindValue(placeholder(m_columns[ColName].name), motorName);
    const bool executed = exec(query);
    qCDebug(lcMotors).noquote() << "DB_MAN:" << "Inside read databse";
    if (!executed || !query.next())
        return false;

    // Values are numbered as selected: column c is value c - 1.
    const auto value = [&query](int column) { return query.value(column - 1); };
    for (int column = ColRs; column <= ColKi; ++column) {
        if (value(column).isNull())
            return false;
    }
    MOTOR_TOTAL motor;
    motor.Rs = value(ColRs).toFloat();
    motor.Ls_d = value(ColLsD).toFloat();
    motor.Ls_q = value(ColLsQ).toFloat();
    motor.Flux = value(ColRatedFlux).toFloat();
    motor.voltage_scale = uint16_t(value(ColMaxVoltage).toLongLong());
    motor.maxFrequency = uint16_t(value(ColMaxFrequency).toLongLong());
    motor.maxMotorCurrent = uint16_t(value(ColMaxCurrent).toLongLong());
    motor.polePairs = uint8_t(value(ColPolePairs).toLongLong());
    motor.resCurrent = uint16_t(value(ColMaxResCurrent).toLongLong()) & MOTOR_TOTAL::CURRENT_MASK;
    // Not stored: rebuilt the way the identification computes them.
    motor.validData = VALID_FROM_DATABASE;
    motor.indCurrent = motor.resCurrent;
    motor.fluxFrequency = uint8_t(motor.maxFrequency / FLUX_FREQUENCY_DIVISOR);
    *motorParams = motor;
    return true;
}

bool DbManager::getMotorList(QStringList *names, QStringList *datetimes)
{
    if (!names || !datetimes || !readable())
        return false;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT %1,%2 FROM %3 ORDER BY %1")
                      .arg(m_columns[ColName].name, m_columns[ColDatetime].name, m_tableName));
    if (!exec(query))
        return false;
    while (query.next()) {
        names->append(query.value(0).toString());
        datetimes->append(query.value(1).toString());   // NULL gives an empty text
    }
    return true;
}

QStringList DbManager::namesMatching(const MOTOR_TOTAL &motor, bool *ok)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT %1 FROM %2 WHERE %3 = :%3 AND %4 = :%4 AND %5 = :%5 AND %6 = :%6")
                      .arg(m_columns[ColName].name, m_tableName, m_columns[ColRs].name,
                           m_columns[ColLsD].name, m_columns[ColLsQ].name, m_columns[ColRatedFlux].name));
    query.bindValue(placeholder(m_columns[ColRs].name), floatValue(motor.Rs));
    query.bindValue(placeholder(m_columns[ColLsD].name), floatValue(motor.Ls_d));
    query.bindValue(placeholder(m_columns[ColLsQ].name), floatValue(motor.Ls_q));
    query.bindValue(placeholder(m_columns[ColRatedFlux].name), floatValue(motor.Flux));
    QStringList names;
    *ok = exec(query);
    // Storage order: the most recently written match comes last.
    while (*ok && query.next())
        names << query.value(0).toString();
    return names;
}

QString DbManager::findMotor(MOTOR_TOTAL *motorTotal)
{
    return findMotor(motorTotal, QString());
}

QString DbManager::findMotor(MOTOR_TOTAL *motorTotal, const QString &motorName)
{
    if (!motorTotal || !isStorable(*motorTotal))
        return QString();
    const QString name = lookUpOrStore(*motorTotal, motorName);
    // Not silently: the user learns that this motor is missing from the list for now.
    if (name.isNull() && m_health == Health::Locked) {
        emit databaseMessage(tr("The motor was not stored: the motor database %1 is in use by another "
                                "program. It is stored as soon as the database is free again.")
                                 .arg(QDir::toNativeSeparators(m_filePath)));
    }
    return name;
}

QString DbManager::lookUpOrStore(const MOTOR_TOTAL &motor, const QString &motorName)
{
    if (!readable())
        return QString();
    bool ok = false;
    const QStringList matches = namesMatching(motor, &ok);
    if (!ok)
        return QString();
    const QString now = dateTimeText(QDateTime::currentDateTime());

    if (motorName.isEmpty()) {
        if (!matches.isEmpty())
            return matches.last();
        return storeAsUnknownMotor(motor, now);
    }
    if (matches.contains(motorName))
        return motorName;
    // A name that could not be stored is not reported as the motor's name.
    return writable() && insertMotor(motorName, now, motor) ? motorName : QString();
}

// The stored name is the same in every language: a database moves between machines, and
// the name finds the motor again. Only what is shown is translated.
QString DbManager::unknownMotorName(int number)
{
    return QStringLiteral("Unknown motor %1").arg(number);
}

QString DbManager::shownName(const QString &storedName)
{
    static const QRegularExpression unknown(QStringLiteral("^Unknown motor ([1-9][0-9]{0,4})$"));
    const QRegularExpressionMatch match = unknown.match(storedName);
    return match.hasMatch() ? tr("Unknown motor %1").arg(match.captured(1)) : storedName;
}

QString DbManager::storeAsUnknownMotor(const MOTOR_TOTAL &motor, const QString &datetime)
{
    if (!writable())
        return QString();
    QStringList names;
    QStringList dates;
    if (!getMotorList(&names, &dates))
        return QString();
    const QSet<QString> taken(names.cbegin(), names.cend());
    for (int n = 1; n <= LAST_UNKNOWN_MOTOR_NUMBER; ++n) {
        const QString candidate = unknownMotorName(n);
        if (taken.contains(candidate))
            continue;
        // The name is free, so a failure is the database's and would repeat for every N.
        return insertMotor(candidate, datetime, motor) ? candidate : QString();
    }
    return QString();
}

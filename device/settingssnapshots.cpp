#include "device/settingssnapshots.h"

#include "device/device.h"
#include "device/settingsdocument.h"
#include "motors/dbmanager.h"
#include "recording/wholefile.h"
#include "wire/motortotal.h"
#include "wire/records.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

const char *const SettingsSnapshots::TABLE = "settings_snapshots";

namespace {

Q_LOGGING_CATEGORY(lcSnapshots, "kordo.device.snapshots")

const char *const TAG = "SETTINGS_SNAPSHOTS:";

QString nextConnectionName()
{
    static QAtomicInteger<quint32> counter;
    return QStringLiteral("kordo.snapshots.%1").arg(counter.fetchAndAddRelaxed(1) + 1);
}

QString createStatement()
{
    return QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (id INTEGER PRIMARY KEY AUTOINCREMENT, serial TEXT NOT NULL, "
                          "taken TEXT NOT NULL, firmware TEXT, reason TEXT, pwm_in BLOB, motion BLOB, motor BLOB, "
                          "motor_name TEXT)")
        .arg(QString::fromLatin1(SettingsSnapshots::TABLE));
}

const QStringList COLUMNS {QStringLiteral("id"),     QStringLiteral("serial"), QStringLiteral("taken"),
                           QStringLiteral("firmware"), QStringLiteral("reason"), QStringLiteral("pwm_in"),
                           QStringLiteral("motion"), QStringLiteral("motor"), QStringLiteral("motor_name")};

// Times are kept as UTC ISO texts of one width, so that they sort and compare as text.
QString timeText(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"));
}

QDateTime timeOf(const QString &text)
{
    QDateTime time = QDateTime::fromString(text, Qt::ISODate);
    return time.toUTC();
}

QVariant blob(const QByteArray &bytes)
{
    return bytes.isEmpty() ? QVariant(QVariant::ByteArray) : QVariant(bytes);
}

SettingsSnapshot snapshotOf(const QSqlQuery &query)
{
    SettingsSnapshot s;
    s.id = query.value(0).toLongLong();
    s.serialNumber = query.value(1).toString();
    s.time = timeOf(query.value(2).toString());
    s.firmware = query.value(3).toString();
    s.reason = query.value(4).toString();
    s.pwmIn = query.value(5).toByteArray();
    s.motion = query.value(6).toByteArray();
    s.motor = query.value(7).toByteArray();
    s.motorName = query.value(8).toString();
    return s;
}

QString selectColumns()
{
    return COLUMNS.join(QLatin1Char(','));
}

} // namespace

// ---- SettingsSnapshot -------------------------------------------------------------------------

QString SettingsSnapshot::reasonKey(Reason reason)
{
    switch (reason) {
    case Reason::FirmwareUpdate:
        return QStringLiteral("firmware update");
    case Reason::SettingsImport:
        return QStringLiteral("settings import");
    case Reason::SettingsWrite:
        return QStringLiteral("settings write");
    case Reason::MotorWrite:
        return QStringLiteral("motor write");
    case Reason::Restore:
        return QStringLiteral("restore");
    }
    return QString();
}

QString SettingsSnapshot::reasonText(const QString &key)
{
    if (key == reasonKey(Reason::FirmwareUpdate))
        return SettingsSnapshots::tr("before a firmware update");
    if (key == reasonKey(Reason::SettingsImport))
        return SettingsSnapshots::tr("before a settings import");
    if (key == reasonKey(Reason::SettingsWrite))
        return SettingsSnapshots::tr("before a settings write");
    if (key == reasonKey(Reason::MotorWrite))
        return SettingsSnapshots::tr("before a motor write");
    if (key == reasonKey(Reason::Restore))
        return SettingsSnapshots::tr("before a restore");
    return key;
}

SettingsSnapshot SettingsSnapshot::ofDevice(const Device &device, Reason reason)
{
    SettingsSnapshot s;
    s.serialNumber = QString::number(device.serialNumber());
    s.time = QDateTime::currentDateTimeUtc();
    const Device_FW_s fw = device.firmware();
    s.firmware = QStringLiteral("%1.%2.%3").arg(fw.fw_h).arg(fw.fw_m).arg(fw.fw_l);
    s.reason = reasonKey(reason);
    if (device.hasRead(Device::READ_PWM_IN))
        s.pwmIn = device.pwmInParams().pack();
    if (device.hasRead(Device::READ_MOTION))
        s.motion = device.motionParams().pack();
    if (device.hasReadMotor()) {
        s.motor = device.motorParams().pack();
        s.motorName = device.motorName();
    }
    return s;
}

QByteArray SettingsSnapshot::toFileText() const
{
    QJsonObject o;
    o.insert(QStringLiteral("serial"), serialNumber);
    o.insert(QStringLiteral("taken"), timeText(time));
    o.insert(QStringLiteral("firmware"), firmware);
    o.insert(QStringLiteral("reason"), reason);
    o.insert(QStringLiteral("pwm_in"), QString::fromLatin1(pwmIn.toHex()));
    o.insert(QStringLiteral("motion"), QString::fromLatin1(motion.toHex()));
    o.insert(QStringLiteral("motor"), QString::fromLatin1(motor.toHex()));
    o.insert(QStringLiteral("motor_name"), motorName);
    return QJsonDocument(o).toJson();
}

bool SettingsSnapshot::fromFileText(const QByteArray &text, SettingsSnapshot *snapshot)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject o = document.object();
    SettingsSnapshot s;
    s.serialNumber = o.value(QStringLiteral("serial")).toString();
    s.time = timeOf(o.value(QStringLiteral("taken")).toString());
    s.firmware = o.value(QStringLiteral("firmware")).toString();
    s.reason = o.value(QStringLiteral("reason")).toString();
    s.pwmIn = QByteArray::fromHex(o.value(QStringLiteral("pwm_in")).toString().toLatin1());
    s.motion = QByteArray::fromHex(o.value(QStringLiteral("motion")).toString().toLatin1());
    s.motor = QByteArray::fromHex(o.value(QStringLiteral("motor")).toString().toLatin1());
    s.motorName = o.value(QStringLiteral("motor_name")).toString();
    const auto sized = [](const QByteArray &bytes, int size) { return bytes.isEmpty() || bytes.size() == size; };
    if (s.serialNumber.isEmpty() || !s.time.isValid() || !sized(s.pwmIn, SET_PWM_IN_PARAMS::WIRE_SIZE)
        || !sized(s.motion, SET_MOTION_PARAMS::WIRE_SIZE) || !sized(s.motor, MOTOR_TOTAL::SIZE))
        return false;
    *snapshot = s;
    return true;
}

// ---- SettingsSnapshots ------------------------------------------------------------------------

SettingsSnapshots::SettingsSnapshots(const QString &databaseDirectory, const QString &fallbackDirectory)
    : m_filePath(QDir::isAbsolutePath(databaseDirectory)
                     ? QDir(databaseDirectory).absoluteFilePath(QString::fromLatin1(DbManager::FILE_NAME))
                     : QString())
    , m_fallbackDirectory(fallbackDirectory)
    , m_connectionName(nextConnectionName())
{
}

SettingsSnapshots::~SettingsSnapshots()
{
    if (m_db.isValid()) {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connectionName);
    }
}

bool SettingsSnapshots::open(QString *problem)
{
    if (m_ready)
        return true;
    if (m_filePath.isEmpty()) {
        *problem = tr("there is no database directory");
        return false;
    }
    if (!QDir(QFileInfo(m_filePath).absolutePath()).exists()) {
        *problem = tr("its directory does not exist");
        return false;
    }
    if (!m_db.isValid()) {
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
        if (!m_db.isValid()) {
            *problem = tr("the SQLite driver is missing");
            return false;
        }
        m_db.setDatabaseName(m_filePath);
        m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BUSY_TIMEOUT_MS));
    }
    if (!m_db.isOpen() && !m_db.open()) {
        *problem = m_db.lastError().text();
        return false;
    }
    if (!migrate(problem)) {
        m_db.close();
        return false;
    }
    m_ready = true;
    return true;
}

bool SettingsSnapshots::openForReading(QString *problem)
{
    problem->clear();
    if (m_ready)
        return true;
    if (m_filePath.isEmpty() || !QFileInfo::exists(m_filePath))
        return false;
    {
        // A look at the file without touching it: a database without the table has none.
        const QString name = m_connectionName + QStringLiteral(".look");
        bool hasTable = false;
        bool opened = false;
        {
            QSqlDatabase look = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            look.setDatabaseName(m_filePath);
            look.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1").arg(BUSY_TIMEOUT_MS));
            opened = look.open();
            if (opened) {
                QSqlQuery query(look);
                if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name = '%1'")
                                    .arg(QString::fromLatin1(TABLE))))
                    *problem = query.lastError().text();
                hasTable = query.next();
            } else {
                *problem = look.lastError().text();
            }
        }
        QSqlDatabase::removeDatabase(name);
        if (!hasTable)
            return false;
    }
    return open(problem);
}

bool SettingsSnapshots::migrate(QString *problem)
{
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next()) {
        *problem = query.lastError().text();
        return false;
    }
    const int version = query.value(0).toInt();
    query.finish();
    if (version < SCHEMA_VERSION) {
        // The table and the version together, or neither.
        if (!m_db.transaction()) {
            *problem = m_db.lastError().text();
            return false;
        }
        if (!query.exec(createStatement())
            || !query.exec(QStringLiteral("PRAGMA user_version = %1").arg(SCHEMA_VERSION))) {
            *problem = query.lastError().text();
            m_db.rollback();
            return false;
        }
        if (!m_db.commit()) {
            *problem = m_db.lastError().text();
            m_db.rollback();
            return false;
        }
        qCDebug(lcSnapshots).noquote() << TAG << "schema" << version << "->" << SCHEMA_VERSION;
    }
    // A database that says it is current (or newer) must still hold what is read here.
    const QSqlRecord record = m_db.record(QString::fromLatin1(TABLE));
    for (const QString &column : COLUMNS) {
        if (!record.contains(column)) {
            *problem = tr("the table %1 lacks the column %2").arg(QString::fromLatin1(TABLE), column);
            return false;
        }
    }
    return true;
}

SettingsSnapshots::Kept SettingsSnapshots::keep(const SettingsSnapshot &snapshot)
{
    Kept kept;
    QString problem;
    if (open(&problem)) {
        QSqlQuery insert(m_db);
        insert.prepare(QStringLiteral("INSERT INTO %1 (serial,taken,firmware,reason,pwm_in,motion,motor,motor_name) "
                                      "VALUES (:serial,:taken,:firmware,:reason,:pwm_in,:motion,:motor,:motor_name)")
                           .arg(QString::fromLatin1(TABLE)));
        insert.bindValue(QStringLiteral(":serial"), snapshot.serialNumber);
        insert.bindValue(QStringLiteral(":taken"), timeText(snapshot.time));
        insert.bindValue(QStringLiteral(":firmware"), snapshot.firmware);
        insert.bindValue(QStringLiteral(":reason"), snapshot.reason);
        insert.bindValue(QStringLiteral(":pwm_in"), blob(snapshot.pwmIn));
        insert.bindValue(QStringLiteral(":motion"), blob(snapshot.motion));
        insert.bindValue(QStringLiteral(":motor"), blob(snapshot.motor));
        insert.bindValue(QStringLiteral(":motor_name"), snapshot.motorName);
        if (insert.exec()) {
            kept.ok = true;
            kept.id = insert.lastInsertId().toLongLong();
            qCDebug(lcSnapshots).noquote() << TAG << "kept" << kept.id << snapshot.serialNumber << snapshot.reason;
            return kept;
        }
        problem = insert.lastError().text();
        // A database that failed once (locked, damaged) is opened afresh next time.
        m_ready = false;
        m_db.close();
    }
    kept.problem = problem;
    qCWarning(lcSnapshots).noquote() << TAG << "database:" << problem;
    QString fileProblem;
    kept.file = writeFile(snapshot, &fileProblem);
    kept.ok = !kept.file.isEmpty();
    if (!kept.ok)
        kept.problem = tr("%1; no file either: %2").arg(problem, fileProblem);
    return kept;
}

QString SettingsSnapshots::keptText(const Kept &kept)
{
    if (kept.ok && kept.id > 0)
        return QString();
    if (kept.ok)
        return tr("The database could not keep the controller's settings (%1); they were saved to %2.")
            .arg(kept.problem, QDir::toNativeSeparators(kept.file));
    return tr("The controller's settings could not be kept: %1.").arg(kept.problem);
}

QStringList SettingsSnapshots::backupFiles() const
{
    if (m_fallbackDirectory.isEmpty())
        return {};
    const QDir dir(m_fallbackDirectory);
    QStringList files;
    for (const QString &name : dir.entryList({QStringLiteral("settings-backup-*.json")}, QDir::Files, QDir::Name))
        files << dir.absoluteFilePath(name);
    return files;
}

QString SettingsSnapshots::writeFile(const SettingsSnapshot &snapshot, QString *problem) const
{
    if (m_fallbackDirectory.isEmpty() || !QDir(m_fallbackDirectory).exists()) {
        *problem = tr("there is no data directory");
        return QString();
    }
    const QDir dir(m_fallbackDirectory);
    const QString stem = QStringLiteral("settings-backup-%1-%2")
                             .arg(snapshot.serialNumber, snapshot.time.toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    QString path = dir.absoluteFilePath(stem + QStringLiteral(".json"));
    for (int n = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++n)
        path = dir.absoluteFilePath(QStringLiteral("%1-%2.json").arg(stem).arg(n));
    if (!WholeFile::write(path, snapshot.toFileText(), problem))
        return QString();
    return path;
}

bool SettingsSnapshots::list(const QString &serial, QVector<SettingsSnapshot> *snapshots, QString *problem)
{
    if (!openForReading(problem))
        return problem->isEmpty();
    QSqlQuery query(m_db);
    const QString where = serial.isEmpty() ? QString() : QStringLiteral(" WHERE serial = :serial");
    query.prepare(QStringLiteral("SELECT %1 FROM %2%3 ORDER BY taken DESC, id DESC")
                      .arg(selectColumns(), QString::fromLatin1(TABLE), where));
    if (!serial.isEmpty())
        query.bindValue(QStringLiteral(":serial"), serial);
    if (!query.exec()) {
        *problem = query.lastError().text();
        return false;
    }
    while (query.next())
        snapshots->append(snapshotOf(query));
    return true;
}

bool SettingsSnapshots::find(qint64 id, SettingsSnapshot *snapshot, QString *problem)
{
    if (!openForReading(problem)) {
        if (problem->isEmpty())
            *problem = tr("there is no backup %1").arg(id);
        return false;
    }
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT %1 FROM %2 WHERE id = :id").arg(selectColumns(), QString::fromLatin1(TABLE)));
    query.bindValue(QStringLiteral(":id"), id);
    if (!query.exec()) {
        *problem = query.lastError().text();
        return false;
    }
    if (!query.next()) {
        *problem = tr("there is no backup %1").arg(id);
        return false;
    }
    *snapshot = snapshotOf(query);
    return true;
}

int SettingsSnapshots::prune(int days, const QDateTime &now, QString *problem)
{
    if (days < 0) {
        *problem = tr("the number of days is negative");
        return -1;
    }
    if (!openForReading(problem))
        return problem->isEmpty() ? 0 : -1;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("DELETE FROM %1 WHERE taken < :limit").arg(QString::fromLatin1(TABLE)));
    query.bindValue(QStringLiteral(":limit"), timeText(now.toUTC().addDays(-days)));
    if (!query.exec()) {
        *problem = query.lastError().text();
        return -1;
    }
    return query.numRowsAffected();
}

int SettingsSnapshots::pruneFiles(int days, const QDateTime &now, QStringList *kept) const
{
    const QDateTime limit = now.toUTC().addDays(-days);
    int removed = 0;
    for (const QString &path : backupFiles()) {
        QFile file(path);
        SettingsSnapshot snapshot;
        if (!file.open(QIODevice::ReadOnly)
            || !SettingsSnapshot::fromFileText(file.read(SettingsDocument::MAX_FILE_SIZE), &snapshot))
            continue;
        file.close();
        if (snapshot.time >= limit) // the same limit as in the database: one taken exactly then stays
            continue;
        if (QFile::remove(path))
            ++removed;
        else
            kept->append(path);
    }
    return removed;
}

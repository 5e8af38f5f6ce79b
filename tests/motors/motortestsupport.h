#pragma once

#include "motors/motorfile.h"
#include "motors/payloadcipher.h"
#include "wire/motortotal.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QUuid>
#include <QVariant>
#include <QtEndian>

// Helpers shared by the motor tests: sample records and a second, independent
// connection to a database file, so tests look at the file rather than through
// the class under test.
namespace MotorTestSupport {

// Field 3 of a motor line whose record is marked compressed and announces the 28 bytes
// of a motor record, but inflates to 16 MB: a zlib bomb that passes the checksum.
inline QByteArray zlibBombField()
{
    QByteArray compressed = qCompress(QByteArray(16 * 1024 * 1024, '\0'), 9);
    qToBigEndian<quint32>(quint32(MOTOR_TOTAL::SIZE), compressed.data());
    PayloadCipher cipher(MotorFile::PROGRAM_KEY);
    cipher.setCompressionMode(PayloadCipher::CompressNever);
    QByteArray cipherData = cipher.encryptBytes(compressed);
    cipherData[1] = char(PayloadCipher::FLAG_CHECKSUM | PayloadCipher::FLAG_COMPRESSED);
    return cipherData.toBase64();
}

inline MOTOR_TOTAL sampleMotor(int seed)
{
    MOTOR_TOTAL m;
    m.Rs = 0.1f * float(seed) + 0.0123f;
    m.Ls_d = 1.7e-5f * float(seed + 1);
    m.Ls_q = 2.3e-5f * float(seed + 1);
    m.Flux = 0.00071f * float(seed + 2);
    m.voltage_scale = uint16_t(167 + seed);
    m.maxFrequency = uint16_t(1000 + 10 * seed);
    m.maxMotorCurrent = uint16_t(300 + seed);
    m.polePairs = uint8_t(7 + seed);
    m.validData = 3;
    m.resCurrent = uint16_t(150 + seed);
    m.indCurrent = m.resCurrent;
    m.fluxFrequency = uint8_t(m.maxFrequency / 20);
    return m;
}

// Runs statements on the file through a connection of its own; returns the rows of the
// last statement as lists of strings, or fails the check when a statement fails.
inline QList<QStringList> runSql(const QString &filePath, const QStringList &statements, bool *ok = nullptr)
{
    const QString connection = QUuid::createUuid().toString();
    QList<QStringList> rows;
    bool allOk = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(filePath);
        allOk = db.open();
        QSqlQuery query(db);
        for (const QString &statement : statements) {
            if (!allOk)
                break;
            allOk = query.exec(statement);
            if (!allOk)
                qWarning() << "runSql:" << statement << query.lastError().text();
        }
        while (allOk && query.next()) {
            QStringList row;
            for (int i = 0; i < query.record().count(); ++i)
                row << query.value(i).toString();
            rows << row;
        }
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    if (ok)
        *ok = allOk;
    return rows;
}

inline QByteArray fileDigest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

// A second connection to the file, as another program would hold it.
class OtherConnection
{
public:
    explicit OtherConnection(const QString &file)
        : m_name(QUuid::createUuid().toString())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(file);
        db.open();
    }
    ~OtherConnection()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name);
            if (db.isOpen()) {
                QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
                db.close();
            }
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    bool exec(const QString &statement)
    {
        QSqlQuery query(QSqlDatabase::database(m_name));
        return query.exec(statement);
    }

private:
    QString m_name;
};

// Makes a path unmodifiable, even for root, for the lifetime of the guard (ext2/3/4,
// xfs, btrfs); active() is false where chattr is not available.
class ImmutableGuard
{
public:
    explicit ImmutableGuard(const QString &path) : m_path(path)
    {
        m_active = QProcess::execute(QStringLiteral("chattr"), { QStringLiteral("+i"), path }) == 0;
    }
    ~ImmutableGuard()
    {
        if (m_active)
            QProcess::execute(QStringLiteral("chattr"), { QStringLiteral("-i"), m_path });
    }
    ImmutableGuard(const ImmutableGuard &) = delete;
    ImmutableGuard &operator=(const ImmutableGuard &) = delete;
    bool active() const { return m_active; }

private:
    QString m_path;
    bool m_active = false;
};

} // namespace MotorTestSupport

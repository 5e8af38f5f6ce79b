#include "motors/motorfileexchange.h"

#include "motors/dbmanager.h"
#include "motors/motorfile.h"
#include "motors/motorslog.h"
#include "motors/payloadcipher.h"
#include "recording/wholefile.h"


MotorFileExchange::MotorFileExchange(DbManager &database)
    : m_database(database)
{
}

MotorResult MotorFileExchange::exportMotors(const QString &fileName, const QStringList &names,
                                            const QStringList &datetimes)
{
    if (names.size() != datetimes.size())
        return exportFailed(QStringLiteral("%1 names but %2 dates").arg(names.size()).arg(datetimes.size()));

    QVector<MotorEntry> motors;
    motors.reserve(names.size());
    for (int i = 0; i < names.size(); ++i) {
        MotorEntry motor { names[i], datetimes[i], MOTOR_TOTAL() };
        if (!m_database.getMotorParams(motor.name, &motor.params))
            return exportFailed(QStringLiteral("motor \"%1\" cannot be read").arg(motor.name));
        motors << motor;
    }

    PayloadCipher cipher(MotorFile::PROGRAM_KEY);
    QByteArray text;
    if (!MotorFile::compose(motors, cipher, &text))
        return exportFailed(QStringLiteral("a motor name or date holds \";\" or a line break, or is empty"));

    QString problem;
    if (!WholeFile::write(fileName, text, &problem))
        return exportFailed(problem, tr("The file %1 cannot be written: %2.").arg(fileName, problem));
    qCDebug(lcMotors).noquote() << "DB_MAN:" << "exported" << motors.size() << "motors to" << fileName;
    return { true, QString(), QString(), motors.size() };
}

MotorResult MotorFileExchange::importMotors(const QString &fileName, bool overwrite)
{
    // Read only (importing from a write-protected file is fine), and only a regular file: a
    // FIFO or a device would hold the program.
    QByteArray text;
    QString problem;
    if (!WholeFile::read(fileName, MotorFile::MAX_FILE_SIZE + 1, &text, &problem))
        return importFailed(problem, tr("The file %1 cannot be opened: %2").arg(fileName, problem));
    if (text.size() > MotorFile::MAX_FILE_SIZE)
        return importFailed(QStringLiteral("file is too large"), tr("The file is too large to be a motor file."));

    // The file is parsed once, here; every check below works on what it gave.
    PayloadCipher cipher(MotorFile::PROGRAM_KEY);
    QVector<MotorEntry> motors;
    QString error;
    if (!MotorFile::parse(text, cipher, &motors, &error))
        return importFailed(error, tr("The file is damaged: %1").arg(error));
    // An empty file would make "Overwrite" delete every motor and put nothing back.
    if (motors.isEmpty())
        return importFailed(QStringLiteral("no motors in the file"),
                            tr("The file holds no motors: nothing to import."));
    if (m_database.health() != DbManager::Health::Ready)
        return importFailed(QStringLiteral("the database cannot be written"), m_database.problemText());
    if (!m_database.storeMotors(motors, overwrite))
        return importFailed(QStringLiteral("the database refused the motors"),
                            tr("The database refused the motors."));
    qCDebug(lcMotors).noquote() << "DB_MAN:" << "imported" << motors.size() << "motors from" << fileName
                                << (overwrite ? "(overwrite)" : "(append)");
    return { true, QString(), QString(), motors.size() };
}

MotorResult MotorFileExchange::exportFailed(const QString &why, const QString &reason) const
{
    qCDebug(lcMotors).noquote() << "DB_MAN:" << "export failed:" << why;
    return { false, tr("Export failed!"), reason };
}

MotorResult MotorFileExchange::importFailed(const QString &why, const QString &reason) const
{
    qCDebug(lcMotors).noquote() << "DB_MAN:" << "import failed:" << why;
    return { false, tr("Import failed!"), reason };
}

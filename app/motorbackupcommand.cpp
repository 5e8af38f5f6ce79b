#include "app/motorbackupcommand.h"

#include "motors/dbmanager.h"
#include "motors/motorfile.h"
#include "motors/motorfileexchange.h"
#include "motors/payloadcipher.h"

#include <QFile>
#include <QSaveFile>
#include <QTextStream>

MotorBackupCommand::MotorBackupCommand(const QString &databaseDirectory, QTextStream &out, QTextStream &err)
    : m_databaseDirectory(databaseDirectory), m_out(out), m_err(err)
{
}

int MotorBackupCommand::fail(const QString &message, const QString &reason)
{
    m_err << message << ' ' << reason << Qt::endl;
    return 1;
}

int MotorBackupCommand::exportMotors(const QString &fileName, const QStringList &names)
{
    const QString failed = tr("Export failed!");
    if (m_databaseDirectory.isEmpty())
        return fail(failed, tr("The database directory cannot be used."));
    DbManager database(nullptr, m_databaseDirectory);
    if (database.health() == DbManager::Health::Unavailable)
        return fail(failed, database.problemText());

    QStringList storedNames;
    QStringList storedDates;
    if (!database.getMotorList(&storedNames, &storedDates))
        return fail(failed, tr("The motor list cannot be read."));

    QStringList exportNames = storedNames;
    QStringList exportDates = storedDates;
    if (!names.isEmpty()) {
        exportNames.clear();
        exportDates.clear();
        for (const QString &name : names) {
            const int index = storedNames.indexOf(name);
            if (index < 0)
                return fail(failed, tr("There is no motor named \"%1\".").arg(name));
            exportNames << name;
            exportDates << storedDates.at(index);
        }
    }

    // The file is written atomically; a probe tells why it cannot be, before the export.
    QSaveFile probe(fileName);
    if (!probe.open(QIODevice::WriteOnly))
        return fail(failed, tr("The file %1 cannot be written: %2").arg(fileName, probe.errorString()));
    probe.cancelWriting();

    MotorFileExchange exchange(database);
    if (!exchange.exportMotors(fileName, exportNames, exportDates).ok)
        return fail(failed, tr("A motor cannot be read or written to the file."));
    m_out << tr("Exported %n motor(s) to %1.", nullptr, exportNames.size()).arg(fileName) << Qt::endl;
    return 0;
}

int MotorBackupCommand::importMotors(const QString &fileName, bool overwrite)
{
    const QString failed = tr("Import failed!");
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return fail(failed, tr("The file %1 cannot be opened: %2").arg(fileName, file.errorString()));
    const QByteArray text = file.read(MotorFile::MAX_FILE_SIZE + 1);
    file.close();
    if (text.size() > MotorFile::MAX_FILE_SIZE)
        return fail(failed, tr("The file is too large to be a motor file."));

    // Checked here first for the reason; the import itself reads the file again.
    PayloadCipher cipher(MotorFile::PROGRAM_KEY);
    QVector<MotorEntry> motors;
    QString damage;
    if (!MotorFile::parse(text, cipher, &motors, &damage))
        return fail(failed, tr("The file is damaged: %1").arg(damage));

    if (m_databaseDirectory.isEmpty())
        return fail(failed, tr("The database directory cannot be used."));
    DbManager database(nullptr, m_databaseDirectory);
    if (database.health() != DbManager::Health::Ready)
        return fail(failed, database.problemText());
    MotorFileExchange exchange(database);
    if (!exchange.importMotors(fileName, overwrite).ok)
        return fail(failed, tr("The database refused the motors."));

    QStringList names;
    QStringList dates;
    database.getMotorList(&names, &dates);
    m_out << (overwrite ? tr("Imported %n motor(s) from %1, replacing the motor list.", nullptr, motors.size())
                        : tr("Imported %n motor(s) from %1, added to the motor list.", nullptr, motors.size()))
                 .arg(fileName)
          << ' ' << tr("The database holds %n motor(s).", nullptr, names.size()) << Qt::endl;
    return 0;
}

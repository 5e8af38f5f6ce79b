#include "cli/motorbackupcommand.h"

#include "cli/filechecks.h"
#include "motors/dbmanager.h"
#include "motors/motorfileexchange.h"

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
    const QString targetProblem = FileChecks::outputProblem(fileName);
    if (!targetProblem.isEmpty())
        return fail(failed, targetProblem);
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
    const MotorResult exported = exchange.exportMotors(fileName, exportNames, exportDates);
    if (!exported.ok)
        return fail(failed, exported.reason.isEmpty() ? tr("A motor cannot be read or written to the file.")
                                                      : exported.reason);
    m_out << tr("Exported %n motor(s) to %1.", nullptr, exportNames.size()).arg(fileName) << Qt::endl;
    return 0;
}

int MotorBackupCommand::importMotors(const QString &fileName, bool overwrite)
{
    const QString failed = tr("Import failed!");
    const QString sourceProblem = FileChecks::inputProblem(fileName);
    if (!sourceProblem.isEmpty())
        return fail(failed, sourceProblem);
    if (m_databaseDirectory.isEmpty())
        return fail(failed, tr("The database directory cannot be used."));
    DbManager database(nullptr, m_databaseDirectory);
    MotorFileExchange exchange(database);
    const MotorResult result = exchange.importMotors(fileName, overwrite);
    if (!result.ok)
        return fail(result.message, result.reason);

    QStringList names;
    QStringList dates;
    database.getMotorList(&names, &dates);
    m_out << (overwrite ? tr("Imported %n motor(s) from %1, replacing the motor list.", nullptr, result.count)
                        : tr("Imported %n motor(s) from %1, added to the motor list.", nullptr, result.count))
                 .arg(fileName)
          << ' ' << tr("The database holds %n motor(s).", nullptr, names.size()) << Qt::endl;
    return 0;
}

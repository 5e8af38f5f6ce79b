#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>

class QTextStream;

// The two headless commands of the command line: back the motor database up to a motor
// file and restore it (or set up a database from one). Each prints what it did to `out`,
// or the program's failure message and the reason to `err`, and returns the exit code.
class MotorBackupCommand
{
    Q_DECLARE_TR_FUNCTIONS(MotorBackupCommand)

public:
    MotorBackupCommand(const QString &databaseDirectory, QTextStream &out, QTextStream &err);

    // Every motor, or only the named ones (each must exist).
    int exportMotors(const QString &fileName, const QStringList &names);
    // Adds the file's motors (replacing motors of the same name), or with `overwrite`
    // makes them the whole list.
    int importMotors(const QString &fileName, bool overwrite);

private:
    int fail(const QString &message, const QString &reason);

    QString m_databaseDirectory;
    QTextStream &m_out;
    QTextStream &m_err;
};

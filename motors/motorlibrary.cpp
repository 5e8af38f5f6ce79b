#include "motors/motorlibrary.h"

#include "motors/dbmanager.h"

#include <QDateTime>

MotorLibrary::MotorLibrary(DbManager &database)
    : m_database(database)
{
}

QString MotorLibrary::savedText() { return tr("Motor was saved to database!"); }
QString MotorLibrary::problemText() { return tr("Problem with database!"); }
QString MotorLibrary::invalidNameText() { return tr("This name exists or is not valid"); }

QString MotorLibrary::startupProblem() const
{
    return m_database.problemText();
}

MotorResult MotorLibrary::saveMotor(const QString &name, const MOTOR_TOTAL &params)
{
    if (!DbManager::isValidMotorName(name))
        return { false, DbManager::invalidNameReason(name) };
    MOTOR_TOTAL motor = params;
    if (!m_database.saveMotor(name, DbManager::dateTimeText(QDateTime::currentDateTime()), &motor))
        return { false, databaseProblem() };
    return { true, savedText() };
}

MotorResult MotorLibrary::renameMotor(const QString &oldName, const QString &newName)
{
    if (!DbManager::isValidMotorName(newName))
        return { false, DbManager::invalidNameReason(newName) };
    if (m_database.health() != DbManager::Health::Ready)
        return { false, databaseProblem() };
    if (!m_database.renameMotor(oldName, newName))
        return { false, m_database.health() == DbManager::Health::Ready ? invalidNameText() : databaseProblem() };
    return { true, QString() };
}

// What the database says of itself when it is not ready (read-only, locked, damaged,
// missing), else the general text.
QString MotorLibrary::databaseProblem() const
{
    const QString specific = m_database.problemText();
    return specific.isEmpty() ? problemText() : specific;
}

MotorResult MotorLibrary::removeMotor(const QString &name)
{
    if (!m_database.removeMotor(name))
        return { false, databaseProblem() };
    return { true, QString() };
}

MotorResult MotorLibrary::removeAllMotors()
{
    if (!m_database.removeAllMotor())
        return { false, databaseProblem() };
    return { true, QString() };
}

bool MotorLibrary::motorList(QStringList *names, QStringList *datetimes) const
{
    return m_database.getMotorList(names, datetimes);
}

bool MotorLibrary::motorParams(const QString &name, MOTOR_TOTAL *params) const
{
    return m_database.getMotorParams(name, params);
}

QString MotorLibrary::findMotor(const MOTOR_TOTAL &params, const QString &name)
{
    MOTOR_TOTAL motor = params;
    return m_database.findMotor(&motor, name);
}

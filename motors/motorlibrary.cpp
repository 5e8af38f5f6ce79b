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
        return { false, invalidNameText() };
    MOTOR_TOTAL motor = params;
    if (!m_database.saveMotor(name, DbManager::dateTimeText(QDateTime::currentDateTime()), &motor))
        return { false, problemText() };
    return { true, savedText() };
}

MotorResult MotorLibrary::renameMotor(const QString &oldName, const QString &newName)
{
    if (m_database.health() != DbManager::Health::Ready)
        return { false, problemText() };
    if (!m_database.renameMotor(oldName, newName))
        return { false, invalidNameText() };
    return { true, QString() };
}

MotorResult MotorLibrary::removeMotor(const QString &name)
{
    if (!m_database.removeMotor(name))
        return { false, problemText() };
    return { true, QString() };
}

MotorResult MotorLibrary::removeAllMotors()
{
    if (!m_database.removeAllMotor())
        return { false, problemText() };
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

#pragma once

#include "motors/motorresult.h"
#include "wire/motortotal.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

class DbManager;

// The coordinator's database operations with the texts the user sees for them.
//
// AppBase owns one beside its DbManager (GUI thread) and forwards one line each, e.g.
//   bool AppBase::saveMotor(QString name)
//   {
//       const MotorResult r = m_motorLibrary.saveMotor(name, m_idHelper->motorParams());
//       emit sendTextForInfo(r.message, true);
//       return r.ok;
//   }
// and likewise renameMotor (show the message only on failure), removeMotor,
// removeAllMotors (messages only on failure) and motorList. Right after creating the
// DbManager it shows startupProblem() once, when not empty, with
// sendTextForInfo(text, true).
class MotorLibrary
{
    Q_DECLARE_TR_FUNCTIONS(MotorLibrary)

public:
    explicit MotorLibrary(DbManager &database);

    // Empty when the database works; otherwise what the user should be told once.
    QString startupProblem() const;

    // Stores the motor under `name`, dated now, replacing a motor of that name.
    // "Motor was saved to database!" / which character the name must not hold /
    // what is wrong with the database ("Problem with database!" when it does not say)
    MotorResult saveMotor(const QString &name, const MOTOR_TOTAL &params);
    // Fails with "This name exists or is not valid" (or "Problem with database!" when
    // the database cannot be written); no message on success.
    MotorResult renameMotor(const QString &oldName, const QString &newName);
    // No message on success; "Problem with database!" on failure.
    MotorResult removeMotor(const QString &name);
    MotorResult removeAllMotors();
    // Names and storing dates of all motors, ordered by name; false when unreadable.
    bool motorList(QStringList *names, QStringList *datetimes) const;
    // The stored values of one motor; false when it is not stored or unreadable.
    bool motorParams(const QString &name, MOTOR_TOTAL *params) const;
    // The name under which a motor with these identified values is stored, storing it
    // under `name` when needed (DbManager::findMotor); a null string on failure.
    QString findMotor(const MOTOR_TOTAL &params, const QString &name);

    static QString savedText();
    static QString problemText();
    static QString invalidNameText();

private:
    QString databaseProblem() const;

    DbManager &m_database;
};

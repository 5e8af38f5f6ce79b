#pragma once

#include "wire/motortotal.h"

#include <QCoreApplication>
#include <QString>

// The motor information text of the motor list: the identified parameters ("Ident")
// and the user's limits ("User") of one motor, as rich text in display units.
class MotorInfoText
{
    Q_DECLARE_TR_FUNCTIONS(MotorInfoText)

public:
    static QString html(const MOTOR_TOTAL &motor);
};

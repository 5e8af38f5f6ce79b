#pragma once

#include "wire/motortotal.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QVector>

// The ESC settings file: an XML document rooted at <settings> with the groups
// <pwm_input>, <motion> and <motor>, one element per value holding it as text.

// What an export writes: the page's values and the motor the controller carries.
struct EscSettingsSnapshot
{
    int deadZone = 0;
    int pwmType = 0;        // combo box index: 0 "Unipolar", 1 "Bipolar"
    int controlType = 0;    // combo box index: 0 "Voltage", 1 "Speed"
    int speedNorm = 0;
    bool reverse = false;
    int deviceAddress = 0;
    bool hwAddress = false;
    int timeToLeave = 0;
    double kp = 0;
    double kff = 0;
    QString motorName;
    MOTOR_TOTAL motor;      // zeros when the motor is not in the database
};

// One value an import sets, in the order of the file.
struct SettingsValue
{
    enum Field {
        LowLevel, CenterLevel, HighLevel, DeadZone, PwmType, ControlType, SpeedNorm, Scale,
        AnalogControl, DigitalControl,
        Acceleration, BrakeIntensity, BrakeEnable, Reverse, HwAddress, DeviceAddress, TimeToLeave,
        Kp, KiKff,
    };

    Field field;
    double value;   // integers are whole numbers
    QString tag;    // the element name, for messages
};

// A value whose text is not a number the field can take ("nan", "inf", an integer
// beyond int, words): it is not applied (a motor parameter stays 0) and the user is told.
struct RefusedValue
{
    QString tag;
    QString text;
};

struct ImportedMotor
{
    QString name;
    bool hasParams = false;
    MOTOR_TOTAL params;     // zeros apart from the values the file gives
};

struct ImportedSettings
{
    // NotSettings: unreadable, too large, not well-formed, carrying a DTD, or a root other
    // than <settings>. Nothing of such a file is used.
    enum class Status { Ok, NotSettings };

    Status status = Status::NotSettings;
    QVector<SettingsValue> values;
    QVector<RefusedValue> refused;
    bool hasMotor = false;  // a <motor> element with a non-empty name
    ImportedMotor motor;
};

namespace SettingsDocument {

// A settings file is a few hundred bytes; anything far larger is not one.
constexpr qint64 MAX_FILE_SIZE = 1024 * 1024;

QByteArray compose(const EscSettingsSnapshot &settings);

// Never expands entities (a document with a DTD is refused) and walks the tree without
// recursion, so hostile or deeply nested input costs only time linear in its size.
ImportedSettings parse(const QByteArray &text);

// For the user: which fields were refused, with their texts.
QString refusedValuesText(const QVector<RefusedValue> &refused);

} // namespace SettingsDocument

Q_DECLARE_METATYPE(ImportedMotor)

#pragma once

#include "device/settingsdocument.h"
#include "wire/records.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <cstdint>

// The controller's settings in their three forms, converted here and nowhere else:
//   - the record words of SET_PWM_IN_PARAMS and SET_MOTION_PARAMS on the wire,
//   - the values of the settings file, in the units the page shows (µs, rpm, ms, the
//     acceleration value 1000 to 10000, the brake slider position, gains),
//   - the page's widgets, which hold the file's values (the acceleration slider holds
//     its position, see accelerationValue()).
// Every value a file or a widget gives is limited to its field's range(); whoever
// limits one says so.
namespace SettingsModel {

constexpr int ACCELERATION_BASE = 1000;     // the acceleration value at slider position 0
constexpr int ACCELERATION_STEP = 500;      // per slider position
constexpr int ACCELERATION_LAST_POSITION = 18;
constexpr int TIME_TO_LEAVE_STEP = 50;      // ms per unit of the field
// A gain word is signed and holds gain x 1024; what a file or the page may set is the
// non-negative part of it.
constexpr double MAX_GAIN = 32767 / 1024.0;
// Only debug builds of the Qt library send the scale; releases send 1.00.
constexpr uint8_t RELEASE_SCALE = 100;
// The brake intensity for each brake slider position.
constexpr std::array<uint16_t, 3> BRAKE_INTENSITY = {50, 70, 90};
// The Ki / Kff box's starting value for each control type (index 0 "Voltage", 1 "Speed").
constexpr double CONTROL_TYPE_GAIN[2] = {0.0, 1.25};

bool scaleIsSent();

// ---- one field, value to word and back ----------------------------------------------------

uint8_t levelField(int microseconds);               // µs / 10, within the byte
int levelMicroseconds(uint8_t field);
uint8_t deadZoneField(int deadZone);                 // bits 0..4
uint16_t speedNormField(int speedNorm);              // rpm / 10, 12 bits
int speedNorm(uint16_t field);
// Scale x 100 in the 7-bit field; with `sent` false (release Qt) always RELEASE_SCALE.
uint8_t scaleField(double scale, bool sent);
uint8_t scaleField(double scale);
double scale(uint8_t field);
uint8_t accelerationField(int position);             // position x 5 + 10
int accelerationValue(int position);                 // 1000 + position x 500
int accelerationPositionOfValue(double value);       // the slider position a value falls on
int accelerationPosition(uint8_t field);
uint8_t brakeIntensityField(int position);           // 50, 70, 90; beyond the last: 90
int brakePosition(uint8_t intensity);                // -1 for an intensity of no position
uint8_t addressField(int address);                   // 3 bits
uint8_t timeToLeaveField(int milliseconds);          // ms / 50, 6 bits
int timeToLeave(uint8_t field);
// gain x 1024 rounded to nearest, within the signed word (NaN gives 0).
int16_t gainWord(double gain);
// The page and the file show a gain word read as unsigned / 1024.
double shownGain(int16_t word);
// A gain word read as unsigned, in thousandths (the tuning's unit), to the nearest.
uint16_t gainThousandths(int16_t word);
// A gain in thousandths (the tuning's unit) as its word, as gainWord() limits it.
int16_t gainWordOfThousandths(uint32_t thousandths);

// ---- fields of the settings file -----------------------------------------------------------

struct Range
{
    double minimum;
    double maximum;
};

// The values a file or a widget may give the field; on a release Qt the scale is 1.00 only.
Range range(SettingsValue::Field field);
bool isPwmInField(SettingsValue::Field field);
// The field's element name as an export writes it (Ki and Kff: "kff").
QString tag(SettingsValue::Field field);
// Every field, in the order of SettingsValue::Field.
QVector<SettingsValue::Field> fields();

// The field's value, in the file's units, limited to range(): `used` gets the value that
// will be set; returns false when it differs from `value`.
bool limit(SettingsValue::Field field, double value, double *used);
// Sets one field from a value in the file's units that lies within range().
void setField(SettingsValue::Field field, double value, SET_PWM_IN_PARAMS &pwmIn, SET_MOTION_PARAMS &motion);
// The field's value as the records hold it, in the file's units.
double fieldValue(SettingsValue::Field field, const SET_PWM_IN_PARAMS &pwmIn, const SET_MOTION_PARAMS &motion);

// "tag value → used", the words of every report of a limited value.
QString limitedText(const QString &tag, double value, double used);

// The values of a file that lie outside their fields' ranges, without any controller:
// "tag value → used" for each.
QStringList outOfRange(const QVector<SettingsValue> &values);

// One field that a settings file would change on a controller.
struct FieldChange
{
    SettingsValue::Field field;
    QString tag;     // the element name ("ki" for the gain under voltage control)
    double now;      // as the controller holds it
    double file;     // as it would hold it after the import
};

// The fields whose values differ between two pairs of records, in field order.
QVector<FieldChange> changes(const SET_PWM_IN_PARAMS &pwmInNow, const SET_MOTION_PARAMS &motionNow,
                             const SET_PWM_IN_PARAMS &pwmInAfter, const SET_MOTION_PARAMS &motionAfter);

// A field's value as the user reads it (a gain with the decimals its word needs).
QString valueText(SettingsValue::Field field, double value);

} // namespace SettingsModel

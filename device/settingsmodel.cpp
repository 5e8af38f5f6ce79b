#include "device/settingsmodel.h"

#include <QLibraryInfo>
#include <QLocale>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

constexpr int GAIN_DECIMALS = 4;    // a gain word / 1024, exact to the word

} // namespace

bool SettingsModel::scaleIsSent()
{
    return QLibraryInfo::isDebugBuild();
}

uint8_t SettingsModel::levelField(int microseconds)
{
    return uint8_t(std::clamp(microseconds / 10, 0, 0xFF));
}

int SettingsModel::levelMicroseconds(uint8_t field)
{
    return field * 10;
}

uint8_t SettingsModel::deadZoneField(int deadZone)
{
    return uint8_t(deadZone & 0x1F);
}

uint16_t SettingsModel::speedNormField(int speedNorm)
{
    return uint16_t((speedNorm / 10) & 0x0FFF);
}

int SettingsModel::speedNorm(uint16_t field)
{
    return field * 10;
}

uint8_t SettingsModel::scaleField(double scale, bool sent)
{
    if (!sent)
        return RELEASE_SCALE;
    if (!(scale > 0.0)) // NaN too
        return 0;
    return uint8_t(std::lround(std::min(scale, 1.27) * 100.0) & 0x7F);
}

uint8_t SettingsModel::scaleField(double scale)
{
    return scaleField(scale, scaleIsSent());
}

double SettingsModel::scale(uint8_t field)
{
    return field / 100.0;
}

uint8_t SettingsModel::accelerationField(int position)
{
    return uint8_t(position * 5 + 10);
}

int SettingsModel::accelerationValue(int position)
{
    return ACCELERATION_BASE + position * ACCELERATION_STEP;
}

int SettingsModel::accelerationPositionOfValue(double value)
{
    const double position = std::floor((value - ACCELERATION_BASE) / ACCELERATION_STEP);
    return int(std::clamp(position, 0.0, double(ACCELERATION_LAST_POSITION)));
}

int SettingsModel::accelerationPosition(uint8_t field)
{
    return (field * 100 - ACCELERATION_BASE) / ACCELERATION_STEP;
}

uint8_t SettingsModel::brakeIntensityField(int position)
{
    const size_t index = std::min<size_t>(size_t(std::max(position, 0)), BRAKE_INTENSITY.size() - 1);
    return uint8_t(BRAKE_INTENSITY[index] & 0x7F);
}

int SettingsModel::brakePosition(uint8_t intensity)
{
    const auto it = std::find(BRAKE_INTENSITY.begin(), BRAKE_INTENSITY.end(), intensity);
    return it == BRAKE_INTENSITY.end() ? -1 : int(it - BRAKE_INTENSITY.begin());
}

uint8_t SettingsModel::addressField(int address)
{
    return uint8_t(address & 0x07);
}

uint8_t SettingsModel::timeToLeaveField(int milliseconds)
{
    return uint8_t((milliseconds / TIME_TO_LEAVE_STEP) & 0x3F);
}

int SettingsModel::timeToLeave(uint8_t field)
{
    return field * TIME_TO_LEAVE_STEP;
}

int16_t SettingsModel::gainWord(double gain)
{
    constexpr double low = std::numeric_limits<int16_t>::min();
    constexpr double high = std::numeric_limits<int16_t>::max();
    const double word = std::round(gain * 1024.0);
    if (std::isnan(word))
        return 0;
    return int16_t(std::clamp(word, low, high));
}

double SettingsModel::shownGain(int16_t word)
{
    return uint16_t(word) / 1024.0;
}

uint16_t SettingsModel::gainThousandths(int16_t word)
{
    return uint16_t(std::lround(uint16_t(word) / 1.024));
}

int16_t SettingsModel::gainWordOfThousandths(uint32_t thousandths)
{
    return gainWord(thousandths / 1000.0);
}

// ---- fields ---------------------------------------------------------------------------------

SettingsModel::Range SettingsModel::range(SettingsValue::Field field)
{
    switch (field) {
    case SettingsValue::LowLevel:
    case SettingsValue::CenterLevel:
    case SettingsValue::HighLevel:
        return {0, 2550};
    case SettingsValue::DeadZone:
        return {0, 31};
    case SettingsValue::SpeedNorm:
        return {0, 40950};
    case SettingsValue::Scale:
        return scaleIsSent() ? Range {0, 1.27} : Range {RELEASE_SCALE / 100.0, RELEASE_SCALE / 100.0};
    case SettingsValue::Acceleration:
        return {double(ACCELERATION_BASE), double(accelerationValue(ACCELERATION_LAST_POSITION))};
    case SettingsValue::BrakeIntensity:
        return {0, double(SettingsModel::BRAKE_INTENSITY.size() - 1)};
    case SettingsValue::DeviceAddress:
        return {0, 7};
    case SettingsValue::TimeToLeave:
        return {0, 63 * TIME_TO_LEAVE_STEP};
    case SettingsValue::Kp:
    case SettingsValue::KiKff:
        return {0, MAX_GAIN};
    case SettingsValue::PwmType:
    case SettingsValue::ControlType:
        return {0, 1};
    case SettingsValue::AnalogControl:
    case SettingsValue::DigitalControl:
    case SettingsValue::BrakeEnable:
    case SettingsValue::Reverse:
    case SettingsValue::HwAddress:
        break; // any value: non-zero is on
    }
    return {-std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
}

bool SettingsModel::isPwmInField(SettingsValue::Field field)
{
    return field <= SettingsValue::DigitalControl;
}

QString SettingsModel::tag(SettingsValue::Field field)
{
    static const char *const TAGS[] = {
        "low_level", "center_level", "high_level", "dead_zone", "pwm_type", "control_type", "speed_norm", "scale",
        "analog_control", "digital_control", "acceleration", "brake_intesity", "brake_enable", "reverse",
        "hw_address", "device_address", "ttl", "kp", "kff",
    };
    static_assert(sizeof(TAGS) / sizeof(TAGS[0]) == SettingsValue::KiKff + 1, "one tag per field");
    return QString::fromLatin1(TAGS[field]);
}

QVector<SettingsValue::Field> SettingsModel::fields()
{
    QVector<SettingsValue::Field> all;
    for (int f = SettingsValue::LowLevel; f <= SettingsValue::KiKff; ++f)
        all << SettingsValue::Field(f);
    return all;
}

bool SettingsModel::limit(SettingsValue::Field field, double value, double *used)
{
    const Range r = range(field);
    *used = std::clamp(value, r.minimum, r.maximum);
    return *used == value;
}

void SettingsModel::setField(SettingsValue::Field field, double value, SET_PWM_IN_PARAMS &pwmIn,
                             SET_MOTION_PARAMS &motion)
{
    const bool on = value != 0;
    const int whole = int(value); // integer fields hold whole numbers within range()
    switch (field) {
    case SettingsValue::LowLevel:
        pwmIn.lowLevel = levelField(whole);
        break;
    case SettingsValue::CenterLevel:
        pwmIn.centerLevel = levelField(whole);
        break;
    case SettingsValue::HighLevel:
        pwmIn.highLevel = levelField(whole);
        break;
    case SettingsValue::DeadZone:
        pwmIn.deadZone = deadZoneField(whole); // byte 3 bits 5..7 keep their value
        break;
    case SettingsValue::PwmType:
        pwmIn.pwmType = on;
        break;
    case SettingsValue::ControlType:
        pwmIn.controlType = on;
        break;
    case SettingsValue::SpeedNorm:
        pwmIn.speedNorm = speedNormField(whole);
        break;
    case SettingsValue::Scale:
        pwmIn.scale = scaleField(value);
        break;
    case SettingsValue::AnalogControl:
        pwmIn.analogControl = on;
        break;
    case SettingsValue::DigitalControl:
        pwmIn.digitalControl = on;
        break;
    case SettingsValue::Acceleration:
        motion.acceleration = accelerationField(accelerationPositionOfValue(value));
        break;
    case SettingsValue::BrakeIntensity:
        motion.brakeIntensity = brakeIntensityField(whole);
        break;
    case SettingsValue::BrakeEnable:
        motion.brakeEnable = on;
        break;
    case SettingsValue::Reverse:
        motion.reverseDir = on;
        break;
    case SettingsValue::HwAddress:
        motion.hwAddress = on;
        break;
    case SettingsValue::DeviceAddress:
        motion.deviceAddress = addressField(whole);
        break;
    case SettingsValue::TimeToLeave:
        motion.timeToLeave = timeToLeaveField(whole);
        break;
    case SettingsValue::Kp:
        motion.Kp = gainWord(value);
        break;
    case SettingsValue::KiKff:
        motion.Ki = gainWord(value);
        break;
    }
}

double SettingsModel::fieldValue(SettingsValue::Field field, const SET_PWM_IN_PARAMS &pwmIn,
                                 const SET_MOTION_PARAMS &motion)
{
    switch (field) {
    case SettingsValue::LowLevel:
        return levelMicroseconds(pwmIn.lowLevel);
    case SettingsValue::CenterLevel:
        return levelMicroseconds(pwmIn.centerLevel);
    case SettingsValue::HighLevel:
        return levelMicroseconds(pwmIn.highLevel);
    case SettingsValue::DeadZone:
        return pwmIn.deadZone;
    case SettingsValue::PwmType:
        return pwmIn.pwmType ? 1 : 0;
    case SettingsValue::ControlType:
        return pwmIn.controlType ? 1 : 0;
    case SettingsValue::SpeedNorm:
        return speedNorm(pwmIn.speedNorm);
    case SettingsValue::Scale:
        return scale(pwmIn.scale);
    case SettingsValue::AnalogControl:
        return pwmIn.analogControl ? 1 : 0;
    case SettingsValue::DigitalControl:
        return pwmIn.digitalControl ? 1 : 0;
    case SettingsValue::Acceleration:
        return motion.acceleration * 100;
    case SettingsValue::BrakeIntensity:
        return brakePosition(motion.brakeIntensity);
    case SettingsValue::BrakeEnable:
        return motion.brakeEnable ? 1 : 0;
    case SettingsValue::Reverse:
        return motion.reverseDir ? 1 : 0;
    case SettingsValue::HwAddress:
        return motion.hwAddress ? 1 : 0;
    case SettingsValue::DeviceAddress:
        return motion.deviceAddress;
    case SettingsValue::TimeToLeave:
        return timeToLeave(motion.timeToLeave);
    case SettingsValue::Kp:
        return shownGain(motion.Kp);
    case SettingsValue::KiKff:
        return shownGain(motion.Ki);
    }
    return 0;
}

QString SettingsModel::limitedText(const QString &tag, double value, double used)
{
    return QStringLiteral("%1 %2 \u2192 %3").arg(tag, QString::number(value), QString::number(used));
}

QStringList SettingsModel::outOfRange(const QVector<SettingsValue> &values)
{
    QStringList limited;
    for (const SettingsValue &value : values) {
        double used = 0;
        if (!limit(value.field, value.value, &used))
            limited << limitedText(value.tag, value.value, used);
    }
    return limited;
}

QVector<SettingsModel::FieldChange> SettingsModel::changes(const SET_PWM_IN_PARAMS &pwmInNow,
                                                           const SET_MOTION_PARAMS &motionNow,
                                                           const SET_PWM_IN_PARAMS &pwmInAfter,
                                                           const SET_MOTION_PARAMS &motionAfter)
{
    QVector<FieldChange> changed;
    for (SettingsValue::Field field : fields()) {
        const double now = fieldValue(field, pwmInNow, motionNow);
        const double after = fieldValue(field, pwmInAfter, motionAfter);
        // The gain is a Ki under voltage control and a Kff under speed control.
        const QString name = field == SettingsValue::KiKff && !pwmInAfter.controlType ? QStringLiteral("ki") : tag(field);
        if (now != after)
            changed.append({field, name, now, after});
    }
    return changed;
}

QString SettingsModel::valueText(SettingsValue::Field field, double value)
{
    const QLocale locale;
    switch (field) {
    case SettingsValue::Kp:
    case SettingsValue::KiKff:
        return locale.toString(value, 'f', GAIN_DECIMALS);
    case SettingsValue::Scale:
        return locale.toString(value, 'f', 2);
    case SettingsValue::BrakeIntensity:
        if (value < 0)
            return QStringLiteral("\u2013"); // an intensity no slider position gives
        break;
    default:
        break;
    }
    return locale.toString(qint64(value));
}

#include "device/settingsrecords.h"

#include "device/paramshelper.h"

#include <QLibraryInfo>

#include <algorithm>
#include <cmath>

namespace {

constexpr double ACCELERATION_BASE = 1000; // slider position 0
constexpr double ACCELERATION_STEP = 500;  // per slider position
constexpr double ACCELERATION_POSITIONS = 18;
constexpr double MAX_GAIN = 31.999;        // a gain word holds at most 32767 / 1024
constexpr uint8_t RELEASE_SCALE = 100;     // release builds write the PWM scale 1.00

int16_t gainWord(double gain)
{
    return int16_t(std::lround(gain * 1024.0));
}

} // namespace

SettingsRecords SettingsRecords::apply(const QVector<SettingsValue> &values, const SET_PWM_IN_PARAMS &pwmIn,
                                       const SET_MOTION_PARAMS &motion)
{
    SettingsRecords r;
    r.pwmIn = pwmIn;
    r.motion = motion;
    for (const SettingsValue &value : values) {
        const auto bounded = [&](double low, double high) {
            const double used = std::clamp(value.value, low, high);
            if (used != value.value)
                r.limited << QStringLiteral("%1 %2 \u2192 %3").arg(value.tag, QString::number(value.value),
                                                                    QString::number(used));
            return used;
        };
        const bool on = value.value != 0;
        switch (value.field) {
        case SettingsValue::LowLevel:
            r.pwmIn.lowLevel = uint8_t(int(bounded(0, 2550)) / 10);
            break;
        case SettingsValue::CenterLevel:
            r.pwmIn.centerLevel = uint8_t(int(bounded(0, 2550)) / 10);
            break;
        case SettingsValue::HighLevel:
            r.pwmIn.highLevel = uint8_t(int(bounded(0, 2550)) / 10);
            break;
        case SettingsValue::DeadZone:
            r.pwmIn.deadZone = uint8_t(bounded(0, 31));
            break;
        case SettingsValue::PwmType:
            r.pwmIn.pwmType = bounded(0, 1) != 0;
            break;
        case SettingsValue::ControlType:
            r.pwmIn.controlType = bounded(0, 1) != 0;
            break;
        case SettingsValue::SpeedNorm:
            r.pwmIn.speedNorm = uint16_t((int(bounded(0, 40950)) / 10) & 0x0FFF);
            break;
        case SettingsValue::Scale: {
            const double scale = bounded(0, 1.27);
            r.pwmIn.scale = QLibraryInfo::isDebugBuild() ? uint8_t(std::lround(scale * 100.0) & 0x7F) : RELEASE_SCALE;
            break;
        }
        case SettingsValue::AnalogControl:
            r.pwmIn.analogControl = on;
            break;
        case SettingsValue::DigitalControl:
            r.pwmIn.digitalControl = on;
            break;
        case SettingsValue::Acceleration: {
            const double position = std::floor((value.value - ACCELERATION_BASE) / ACCELERATION_STEP);
            const double used = std::clamp(position, 0.0, ACCELERATION_POSITIONS);
            if (used != position)
                r.limited << QStringLiteral("%1 %2 \u2192 %3").arg(value.tag, QString::number(value.value),
                                                                    QString::number(used * ACCELERATION_STEP + ACCELERATION_BASE));
            r.motion.acceleration = uint8_t(int(used) * 5 + 10);
            break;
        }
        case SettingsValue::BrakeIntensity:
            r.motion.brakeIntensity = uint8_t(ParamsHelper::BRAKE_INTENSITY[size_t(bounded(0, 2))] & 0x7F);
            break;
        case SettingsValue::BrakeEnable:
            r.motion.brakeEnable = on;
            break;
        case SettingsValue::Reverse:
            r.motion.reverseDir = on;
            break;
        case SettingsValue::HwAddress:
            r.motion.hwAddress = on;
            break;
        case SettingsValue::DeviceAddress:
            // A controller that takes its address from hardware keeps it, as on the page.
            if (r.motion.hwAddress) {
                r.skipped << value.tag;
                continue;
            }
            r.motion.deviceAddress = uint8_t(int(bounded(0, 7)) & 0x07);
            break;
        case SettingsValue::TimeToLeave:
            r.motion.timeToLeave = uint8_t((int(bounded(0, 3150)) / 50) & 0x3F);
            break;
        case SettingsValue::Kp:
            r.motion.Kp = gainWord(bounded(0, MAX_GAIN));
            break;
        case SettingsValue::KiKff:
            r.motion.Ki = gainWord(bounded(0, MAX_GAIN));
            break;
        }
        const bool pwmField = value.field <= SettingsValue::DigitalControl;
        (pwmField ? r.pwmInChanged : r.motionChanged) = true;
    }
    return r;
}

EscSettingsSnapshot SettingsRecords::exported(const SET_PWM_IN_PARAMS &pwmIn, const SET_MOTION_PARAMS &motion)
{
    EscSettingsSnapshot s;
    s.deadZone = pwmIn.deadZone;
    s.pwmType = pwmIn.pwmType ? 1 : 0;
    s.controlType = pwmIn.controlType ? 1 : 0;
    s.speedNorm = pwmIn.speedNorm * 10;
    s.reverse = motion.reverseDir;
    s.deviceAddress = motion.deviceAddress;
    s.hwAddress = motion.hwAddress;
    s.timeToLeave = motion.timeToLeave * 50;
    // The page shows the gain words as unsigned; so does the file.
    s.kp = uint16_t(motion.Kp) / 1024.0;
    s.kff = uint16_t(motion.Ki) / 1024.0;
    return s;
}

#include "device/settingsrecords.h"

#include "device/settingsmodel.h"

#include <algorithm>

SettingsRecords SettingsRecords::apply(const QVector<SettingsValue> &values, const SET_PWM_IN_PARAMS &pwmIn,
                                       const SET_MOTION_PARAMS &motion)
{
    SettingsRecords r;
    r.pwmIn = pwmIn;
    r.motion = motion;
    const bool namesGain = std::any_of(values.begin(), values.end(),
                                       [](const SettingsValue &v) { return v.field == SettingsValue::KiKff; });
    bool namesAnalog = false;
    bool namesDigital = false;
    for (const SettingsValue &value : values) {
        double used = 0;
        if (!SettingsModel::limit(value.field, value.value, &used))
            r.limited << SettingsModel::limitedText(value.tag, value.value, used);
        switch (value.field) {
        case SettingsValue::DeviceAddress:
            // A controller that takes its address from hardware keeps it, as on the page.
            if (r.motion.hwAddress) {
                r.skipped << value.tag;
                continue;
            }
            break;
        case SettingsValue::ControlType:
            // The gain means Ki or Kff by the control type: a file that changes the type and
            // names no gain starts from the new type's gain, as a change on the page does.
            if ((used != 0) != r.pwmIn.controlType && !namesGain) {
                r.motion.Ki = SettingsModel::gainWord(SettingsModel::CONTROL_TYPE_GAIN[used != 0 ? 1 : 0]);
                r.motionChanged = true;
            }
            break;
        case SettingsValue::AnalogControl:
            namesAnalog = true;
            break;
        case SettingsValue::DigitalControl:
            namesDigital = true;
            break;
        default:
            break;
        }
        SettingsModel::setField(value.field, used, r.pwmIn, r.motion);
        (SettingsModel::isPwmInField(value.field) ? r.pwmInChanged : r.motionChanged) = true;
    }
    // One of the two inputs always stays enabled, as on the page: the one the file does not
    // switch off, or the analog input when it switches off both.
    if ((namesAnalog || namesDigital) && !r.pwmIn.analogControl && !r.pwmIn.digitalControl) {
        const bool digital = namesAnalog && !namesDigital;
        (digital ? r.pwmIn.digitalControl : r.pwmIn.analogControl) = true;
        r.limited << SettingsModel::limitedText(
            SettingsModel::tag(digital ? SettingsValue::DigitalControl : SettingsValue::AnalogControl), 0, 1);
    }
    return r;
}

EscSettingsSnapshot SettingsRecords::exported(const SET_PWM_IN_PARAMS &pwmIn, const SET_MOTION_PARAMS &motion)
{
    const auto value = [&](SettingsValue::Field field) { return SettingsModel::fieldValue(field, pwmIn, motion); };
    EscSettingsSnapshot s;
    s.deadZone = int(value(SettingsValue::DeadZone));
    s.pwmType = int(value(SettingsValue::PwmType));
    s.controlType = int(value(SettingsValue::ControlType));
    s.speedNorm = int(value(SettingsValue::SpeedNorm));
    s.reverse = value(SettingsValue::Reverse) != 0;
    s.deviceAddress = int(value(SettingsValue::DeviceAddress));
    s.hwAddress = value(SettingsValue::HwAddress) != 0;
    s.timeToLeave = int(value(SettingsValue::TimeToLeave));
    // The page shows the gain words as unsigned; so does the file.
    s.kp = value(SettingsValue::Kp);
    s.kff = value(SettingsValue::KiKff);
    return s;
}

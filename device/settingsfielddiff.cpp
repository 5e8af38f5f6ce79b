#include "device/settingsfielddiff.h"

#include "device/paramshelper.h"

#include <functional>

namespace {

using Shown = std::function<QString(const SET_PWM_IN_PARAMS &, const SET_MOTION_PARAMS &)>;

struct Field
{
    const char *tag;
    Shown show;
};

QString number(int value) { return QString::number(value); }
QString gain(int16_t word) { return QString::number(uint16_t(word) / 1024.0, 'g', 6); }

QString brakePosition(uint8_t intensity)
{
    for (size_t i = 0; i < ParamsHelper::BRAKE_INTENSITY.size(); ++i) {
        if ((ParamsHelper::BRAKE_INTENSITY[i] & 0x7F) == intensity)
            return number(int(i));
    }
    return QStringLiteral("(%1)").arg(intensity);
}

QString acceleration(uint8_t word)
{
    return number((int(word) - 10) / 5 * 500 + 1000);
}

// In the order of the settings file.
const QVector<Field> &fields()
{
    static const QVector<Field> all {
        {"low_level", [](const auto &p, const auto &) { return number(p.lowLevel * 10); }},
        {"center_level", [](const auto &p, const auto &) { return number(p.centerLevel * 10); }},
        {"high_level", [](const auto &p, const auto &) { return number(p.highLevel * 10); }},
        {"dead_zone", [](const auto &p, const auto &) { return number(p.deadZone); }},
        {"pwm_type", [](const auto &p, const auto &) { return number(p.pwmType); }},
        {"control_type", [](const auto &p, const auto &) { return number(p.controlType); }},
        {"speed_norm", [](const auto &p, const auto &) { return number(p.speedNorm * 10); }},
        {"scale", [](const auto &p, const auto &) { return QString::number(p.scale / 100.0, 'g', 6); }},
        {"analog_control", [](const auto &p, const auto &) { return number(p.analogControl); }},
        {"digital_control", [](const auto &p, const auto &) { return number(p.digitalControl); }},
        {"acceleration", [](const auto &, const auto &m) { return acceleration(m.acceleration); }},
        {"brake_intesity", [](const auto &, const auto &m) { return brakePosition(m.brakeIntensity); }},
        {"brake_enable", [](const auto &, const auto &m) { return number(m.brakeEnable); }},
        {"reverse", [](const auto &, const auto &m) { return number(m.reverseDir); }},
        {"hw_address", [](const auto &, const auto &m) { return number(m.hwAddress); }},
        {"device_address", [](const auto &, const auto &m) { return number(m.deviceAddress); }},
        {"ttl", [](const auto &, const auto &m) { return number(m.timeToLeave * 50); }},
        {"kp", [](const auto &, const auto &m) { return gain(m.Kp); }},
        {"kff", [](const auto &, const auto &m) { return gain(m.Ki); }},
    };
    return all;
}

} // namespace

namespace SettingsFieldDiff {

QVector<SettingsFieldChange> between(const SET_PWM_IN_PARAMS &pwmInBefore, const SET_MOTION_PARAMS &motionBefore,
                                     const SET_PWM_IN_PARAMS &pwmInAfter, const SET_MOTION_PARAMS &motionAfter)
{
    QVector<SettingsFieldChange> changes;
    for (const Field &field : fields()) {
        const QString before = field.show(pwmInBefore, motionBefore);
        const QString after = field.show(pwmInAfter, motionAfter);
        if (before != after)
            changes.append({QString::fromLatin1(field.tag), before, after});
    }
    // Bits no field shows: said once per record, so that a difference is never hidden.
    const bool pwmRest = pwmInBefore.byte3Rest != pwmInAfter.byte3Rest || pwmInBefore.word1Rest != pwmInAfter.word1Rest;
    const bool motionRest = motionBefore.word0Rest != motionAfter.word0Rest;
    if (pwmRest)
        changes.append({QStringLiteral("pwm_input (other bits)"), QString::fromLatin1(pwmInBefore.pack().toHex()),
                        QString::fromLatin1(pwmInAfter.pack().toHex())});
    if (motionRest)
        changes.append({QStringLiteral("motion (other bits)"), QString::fromLatin1(motionBefore.pack().toHex()),
                        QString::fromLatin1(motionAfter.pack().toHex())});
    return changes;
}

} // namespace SettingsFieldDiff

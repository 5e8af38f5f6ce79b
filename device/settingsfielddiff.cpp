#include "device/settingsfielddiff.h"

#include "device/settingsmodel.h"

namespace {

// A field's value as the settings file writes it: a plain number in the file's units.
QString fileText(SettingsValue::Field field, double value)
{
    if (field == SettingsValue::BrakeIntensity && value < 0)
        return QStringLiteral("?"); // an intensity no brake position gives
    return QString::number(value, 'g', 6);
}

} // namespace

namespace SettingsFieldDiff {

QVector<SettingsFieldChange> between(const SET_PWM_IN_PARAMS &pwmInBefore, const SET_MOTION_PARAMS &motionBefore,
                                     const SET_PWM_IN_PARAMS &pwmInAfter, const SET_MOTION_PARAMS &motionAfter)
{
    QVector<SettingsFieldChange> changes;
    for (const SettingsModel::FieldChange &change :
         SettingsModel::changes(pwmInBefore, motionBefore, pwmInAfter, motionAfter))
        changes.append({change.tag, fileText(change.field, change.now), fileText(change.field, change.file)});
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

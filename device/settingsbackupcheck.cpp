#include "device/settingsbackupcheck.h"

#include "device/settingsmodel.h"
#include "motors/dbmanager.h"
#include "wire/motortotal.h"
#include "wire/records.h"

#include <algorithm>

namespace {

// The fields a record holds, as a settings file would give them, for SettingsModel's
// range check.
QVector<SettingsValue> valuesOf(const QVector<SettingsValue::Field> &fields, const SET_PWM_IN_PARAMS &pwmIn,
                                const SET_MOTION_PARAMS &motion)
{
    QVector<SettingsValue> values;
    for (SettingsValue::Field field : fields)
        values.append({field, SettingsModel::fieldValue(field, pwmIn, motion), SettingsModel::tag(field)});
    return values;
}

QVector<SettingsValue::Field> fieldsOf(bool pwmInRecord)
{
    QVector<SettingsValue::Field> fields;
    for (SettingsValue::Field field : SettingsModel::fields()) {
        // The scale is sent only by debug builds; a release build writes 1.00 whatever the
        // page holds. A backup gives back the controller's own scale, which is no value a
        // user entered: it is written as it was read.
        if (field == SettingsValue::Scale)
            continue;
        if (SettingsModel::isPwmInField(field) == pwmInRecord)
            fields << field;
    }
    return fields;
}

} // namespace

QStringList SettingsBackupCheck::problems(const SettingsSnapshot &backup)
{
    QStringList problems;
    if (backup.isEmpty()) {
        problems << tr("it holds no records");
        return problems;
    }
    const auto wrongLength = [&](const QByteArray &record, int size, const QString &text) {
        if (record.isEmpty() || record.size() == size)
            return false;
        problems << text.arg(record.size()).arg(size);
        return true;
    };
    const bool pwmInWhole =
        !wrongLength(backup.pwmIn, SET_PWM_IN_PARAMS::WIRE_SIZE, tr("the PWM input record is %1 bytes long, not %2"));
    const bool motionWhole =
        !wrongLength(backup.motion, SET_MOTION_PARAMS::WIRE_SIZE, tr("the motion record is %1 bytes long, not %2"));
    const bool motorWhole = !wrongLength(backup.motor, MOTOR_TOTAL::SIZE, tr("the motor record is %1 bytes long, not %2"));

    if (pwmInWhole && !backup.pwmIn.isEmpty()) {
        const SET_PWM_IN_PARAMS pwmIn = SET_PWM_IN_PARAMS::unpack(backup.pwmIn);
        // The dead zone is bits 0-4 of byte 3; bits 5-7 are the controller's own, kept as
        // they were, so a backup that holds them set is still the controller's record.
        const QVector<SettingsValue> values = valuesOf(fieldsOf(true), pwmIn, SET_MOTION_PARAMS());
        problems << SettingsModel::outOfRange(values);
        if (pwmIn.word1Rest != 0)
            problems << tr("the PWM input record sets bits 23-31 (0x%1), which hold no setting")
                            .arg(pwmIn.word1Rest, 0, 16);
        // Levels the wrong way round turn the throttle upside down.
        const bool inOrder = pwmIn.lowLevel < pwmIn.highLevel
            && (!pwmIn.pwmType || (pwmIn.lowLevel <= pwmIn.centerLevel && pwmIn.centerLevel <= pwmIn.highLevel));
        if (!inOrder)
            problems << tr("the PWM levels are out of order (low_level %1, center_level %2, high_level %3)")
                            .arg(SettingsModel::levelMicroseconds(pwmIn.lowLevel))
                            .arg(SettingsModel::levelMicroseconds(pwmIn.centerLevel))
                            .arg(SettingsModel::levelMicroseconds(pwmIn.highLevel));
    }
    if (motionWhole && !backup.motion.isEmpty()) {
        const SET_MOTION_PARAMS motion = SET_MOTION_PARAMS::unpack(backup.motion);
        QVector<SettingsValue> values = valuesOf(fieldsOf(false), SET_PWM_IN_PARAMS(), motion);
        // An intensity that no brake position gives has no value in the file's units.
        if (SettingsModel::brakePosition(motion.brakeIntensity) < 0) {
            values.erase(std::remove_if(values.begin(), values.end(),
                                        [](const SettingsValue &v) { return v.field == SettingsValue::BrakeIntensity; }),
                         values.end());
            problems << tr("the brake intensity %1 is none of 50, 70 and 90").arg(motion.brakeIntensity);
        }
        problems << SettingsModel::outOfRange(values);
        if (motion.word0Rest != 0)
            problems << tr("the motion record sets bits 27-31 (0x%1), which hold no setting").arg(motion.word0Rest, 0, 16);
    }
    if (motorWhole && !backup.motor.isEmpty()) {
        MOTOR_TOTAL motor;
        motor.unpack(backup.motor);
        // The motor page writes no motor without these either.
        if (!DbManager::isUsable(motor))
            problems << tr("the motor has no usable values (resistance, inductances, flux and pole pairs)");
    }
    return problems;
}

QString SettingsBackupCheck::problemText(const SettingsSnapshot &backup)
{
    return problems(backup).join(QStringLiteral("; "));
}

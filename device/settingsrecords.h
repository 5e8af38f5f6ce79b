#pragma once

#include "device/settingsdocument.h"
#include "device/settingsmodel.h"
#include "wire/records.h"

#include <QStringList>
#include <QVector>

// The values of a settings file laid over the two records the controller holds: the one
// import of the settings page and of the headless --settings. Each value is limited to its
// field's range and packed by SettingsModel; every field the file does not name keeps the
// controller's value, except that a file changing the control type without naming the gain
// starts from the new type's gain, and one of the two inputs always stays enabled (both as a
// change on the page does).
struct SettingsRecords
{
    SET_PWM_IN_PARAMS pwmIn;
    SET_MOTION_PARAMS motion;
    bool pwmInChanged = false;    // the file names a PWM input value
    bool motionChanged = false;   // the file names a motion value
    QStringList limited;          // "tag value -> used" for each value not held as the file gives it
    QStringList skipped;          // the tags of values not written (the controller keeps its own)

    static SettingsRecords apply(const QVector<SettingsValue> &values, const SET_PWM_IN_PARAMS &pwmIn,
                                 const SET_MOTION_PARAMS &motion);

    // The fields a settings export writes, taken from the records themselves rather than from
    // widgets whose range or decimals could change them: a file exported and imported again
    // gives back the same words. The motor is left to the caller.
    static EscSettingsSnapshot exported(const SET_PWM_IN_PARAMS &pwmIn, const SET_MOTION_PARAMS &motion);
};

#pragma once

#include "device/settingsdocument.h"
#include "wire/records.h"

#include <QStringList>
#include <QVector>

// The values of a settings file laid over the two records the controller holds, without the
// settings page: each value is limited to the range the page offers and packed as the page
// packs it, every field the file does not name keeps the controller's value.
struct SettingsRecords
{
    SET_PWM_IN_PARAMS pwmIn;
    SET_MOTION_PARAMS motion;
    bool pwmInChanged = false;    // the file names a PWM input value
    bool motionChanged = false;   // the file names a motion value
    QStringList limited;          // "tag value -> used" for each value out of range
    QStringList skipped;          // the tags of values not written (the controller keeps its own)

    static SettingsRecords apply(const QVector<SettingsValue> &values, const SET_PWM_IN_PARAMS &pwmIn,
                                 const SET_MOTION_PARAMS &motion);

    // The fields a settings export writes, taken from the records themselves rather than from
    // widgets whose range or decimals could change them: a file exported and imported again
    // gives back the same words. The motor is left to the caller.
    static EscSettingsSnapshot exported(const SET_PWM_IN_PARAMS &pwmIn, const SET_MOTION_PARAMS &motion);
};

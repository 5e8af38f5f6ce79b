#pragma once

#include "wire/records.h"

#include <QString>
#include <QVector>

// The settings fields in which two pairs of settings records differ, through the settings
// model's one conversion per field: each named by its tag in the settings file and shown in
// the file's units. Bits of a record that no field shows are compared too ("pwm_input (other
// bits)", "motion (other bits)"), so that records that differ never show as equal.
struct SettingsFieldChange
{
    QString tag;
    QString before;  // the first pair's value (the controller's, or the older one)
    QString after;   // the second pair's value
};

namespace SettingsFieldDiff {

QVector<SettingsFieldChange> between(const SET_PWM_IN_PARAMS &pwmInBefore, const SET_MOTION_PARAMS &motionBefore,
                                     const SET_PWM_IN_PARAMS &pwmInAfter, const SET_MOTION_PARAMS &motionAfter);

} // namespace SettingsFieldDiff

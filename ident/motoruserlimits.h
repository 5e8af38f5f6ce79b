#pragma once

#include "wire/motortotal.h"

#include <QStringList>

// What the user knows about the motor (the motor data page).
struct MotorUserInput
{
    float maxCurrent = 0;      // A, continuous
    bool noLoadKnown = false;
    float noLoadCurrent = 0;   // A, only when noLoadKnown
    int lipoCells = 0;
    float kv = 0;              // rpm/V
    int polePairs = 0;

    // Every value the identification needs is there: non-zero (and not negative or NaN,
    // which the conversions below cannot turn into meaningful limits).
    bool isComplete() const;
};

// The controller's identification limits computed from the user's motor data: the user
// half of MOTOR_TOTAL (SET_MOTOR_USER_PARAMS) and the intermediate values the device log
// records. The arithmetic follows the controller's own: single-precision inputs and
// constants, products in double, then truncation toward zero, keeping the low bits that
// each wire field holds.
struct MotorUserLimits
{
    static constexpr float CELL_VOLTAGE = 4.2f;   // V per LiPo cell (just below 4.2 as a float)
    static constexpr float ID_DIVISOR = 10.0f;    // identification current = max current / 10
    static constexpr float FLUX_DIVISOR = 20.0f;  // flux frequency = max frequency / 20
    static constexpr uint8_t VALID_COMPUTED = 1;  // validData of limits computed here

    // The user's motor data that gives the limits a controller holds, as far as they tell
    // it (zero where they do not): the way back of compute().
    static MotorUserInput heldInput(const MOTOR_TOTAL &record);

    double voltage = 0;          // V
    float maxFrequency = 0;      // Hz, electrical
    double fluxFrequency = 0;    // Hz
    float identCurrent = 0;      // A, current of the resistance and inductance measurements
    float maxCurrent = 0;        // A
    int polePairs = 0;
    MOTOR_TOTAL record;          // the user half filled, the identified half zero

    // Only meaningful for a complete input.
    static MotorUserLimits compute(const MotorUserInput &input);

    // The six lines that go to the device log file.
    QStringList logLines() const;
};

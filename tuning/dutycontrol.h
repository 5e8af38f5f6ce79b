#pragma once

#include <QRandomGenerator>

// The rules of the duty command on the control page, apart from the widgets.
namespace DutyControl {

constexpr int MIN_PERCENT = -100;
constexpr int MAX_PERCENT = 100;
constexpr int DEFAULT_DEAD_BAND = 3;

// Toggling walks the duty within these bounds (percent).
constexpr int TOGGLE_LOW = 11;
constexpr int TOGGLE_HIGH = 89;

// A command whose magnitude is below the dead band is sent as 0.
int afterDeadBand(int percent, int deadBand);

// The next step of the toggling walk from `current`: a random step of -50..+49 that lands
// in TOGGLE_LOW..TOGGLE_HIGH. Where no such step exists (current below -38) the walk
// goes to the nearest bound instead of searching for ever.
int nextToggleDuty(int current, QRandomGenerator &random);

} // namespace DutyControl

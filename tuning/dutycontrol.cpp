#include "tuning/dutycontrol.h"

#include <QtGlobal>

#include <cstdlib>

namespace DutyControl {

namespace {

constexpr int STEP_LOW = -50;
constexpr int STEP_SPAN = 100; // steps -50..+49

} // namespace

int afterDeadBand(int percent, int deadBand)
{
    return std::abs(percent) < deadBand ? 0 : percent;
}

int nextToggleDuty(int current, QRandomGenerator &random)
{
    const int reachableLow = current + STEP_LOW;
    const int reachableHigh = current + STEP_LOW + STEP_SPAN - 1;
    if (reachableHigh < TOGGLE_LOW || reachableLow > TOGGLE_HIGH)
        return qBound(TOGGLE_LOW, current, TOGGLE_HIGH);
    // Drawing only among the admissible steps gives the same distribution as drawing
    // until one is admissible, and always ends.
    const int low = qMax(reachableLow, TOGGLE_LOW);
    const int high = qMin(reachableHigh, TOGGLE_HIGH);
    return low + int(random.bounded(quint32(high - low + 1)));
}

} // namespace DutyControl

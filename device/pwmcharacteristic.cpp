#include "device/pwmcharacteristic.h"

#include "ui/units.h"

namespace {

// Short flat ends beyond the input range, so the curve visibly stops there.
constexpr double OVERSHOOT = 0.0001;

} // namespace

PwmCharacteristic PwmCharacteristic::compute(bool bipolar, bool speedControl, int speedNorm, int deadZone)
{
    PwmCharacteristic c;
    double range = 100.0;
    c.unit = Units::text(Units::Percent);
    if (speedControl) {
        if (speedNorm == 0)
            return c;
        range = speedNorm;
        c.unit = Units::text(Units::Rpm);
    }
    c.valid = true;
    const double d = deadZone / 100.0;
    c.yMax = range;
    if (bipolar) {
        c.yMin = -range;
        c.referenceX = {-1.0, 0.0, 1.0};
        c.curve = {{-1.0 - OVERSHOOT, c.yMin}, {-1.0, c.yMin}, {-d, d * c.yMin}, {-d, 0.0},
                   {d, 0.0}, {d, d * c.yMax}, {1.0, c.yMax}, {1.0 + OVERSHOOT, c.yMax}};
    } else {
        c.yMin = 0.0;
        c.referenceX = {0.0, 1.0};
        c.curve = {{-OVERSHOOT, 0.0}, {0.0, 0.0}, {d, 0.0}, {d, d * c.yMax},
                   {1.0, c.yMax}, {1.0 + OVERSHOOT, c.yMax}};
    }
    return c;
}

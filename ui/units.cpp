#include "ui/units.h"

#include <QLocale>

#include <array>

QString Units::text(Unit unit)
{
    switch (unit) {
    case None: return QString();
    case NewtonMetre: return tr("Nm");
    case Rpm: return tr("rpm");
    case Ampere: return tr("A");
    case Volt: return tr("V");
    case Watt: return tr("W");
    case Microsecond: return tr("µs");
    case Millisecond: return tr("ms");
    case Ohm: return tr("Ω");
    case MicroHenry: return tr("µH");
    case VoltPerHertz: return tr("V/Hz");
    case Hertz: return tr("Hz");
    case DegreeCelsius: return tr("°C");
    case Percent: return tr("%");
    }
    return QString();
}

Units::Unit Units::ofQuantity(int quantityIndex)
{
    // The order of the telemetry quantities: none, torque, speed, current, bus voltage,
    // voltage, power, PWM input, resistance, flux, temperature.
    static const std::array<Unit, 11> units = {None, NewtonMetre, Rpm, Ampere, Volt, Volt,
                                               Watt, Microsecond, Ohm, VoltPerHertz, DegreeCelsius};
    if (quantityIndex < 0 || quantityIndex >= int(units.size()))
        return None;
    return units[size_t(quantityIndex)];
}

QString Units::number(double value, int decimals)
{
    return QLocale().toString(value, 'f', decimals);
}

QString Units::withUnit(double value, int decimals, Unit unit)
{
    if (unit == None)
        return number(value, decimals);
    return tr("%1 %2", "a value and its unit").arg(number(value, decimals), text(unit));
}

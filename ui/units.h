#pragma once

#include <QCoreApplication>
#include <QString>

// The units and numbers the program shows, in the language of its texts: one unit text
// per quantity and one number format (the default locale's decimal separator, no group
// separators) on every page. Files keep their own fixed formats and do not use these.
class Units
{
    Q_DECLARE_TR_FUNCTIONS(Units)

public:
    enum Unit {
        None,
        NewtonMetre,
        Rpm,
        Ampere,
        Volt,
        Watt,
        Microsecond,
        Millisecond,
        Ohm,
        MicroHenry,
        VoltPerHertz,
        Hertz,
        DegreeCelsius,
        Percent,
    };

    static QString text(Unit unit);
    // The unit of a telemetry quantity, by its index in the quantity list.
    static Unit ofQuantity(int quantityIndex);
    static QString number(double value, int decimals);
    // A value with its unit, a space between ("0.0500 Ω").
    static QString withUnit(double value, int decimals, Unit unit);
};

#include "ident/motorinfotext.h"

#include "ui/units.h"

#include <QStringList>

namespace {

QString block(const QString &title, const QStringList &lines)
{
    return QStringLiteral("<b>") + title + QStringLiteral("</b><br>") + lines.join(QStringLiteral("<br>"));
}

} // namespace

QString MotorInfoText::html(const MOTOR_TOTAL &motor)
{
    // The values as the controller keeps them: the flux in V/Hz, as the control page shows it.
    // Ohm and henry values of small motors need their small digits.
    const QStringList ident = {
        tr("Rs: %1").arg(Units::withUnit(double(motor.Rs), 4, Units::Ohm)),
        tr("Ls d: %1").arg(Units::withUnit(double(motor.Ls_d) * 1e6, 2, Units::MicroHenry)),
        tr("Ls q: %1").arg(Units::withUnit(double(motor.Ls_q) * 1e6, 2, Units::MicroHenry)),
        tr("Flux: %1").arg(Units::withUnit(double(motor.Flux), 6, Units::VoltPerHertz)),
    };
    const QStringList user = {
        tr("Max voltage: %1").arg(Units::withUnit(motor.voltage_scale / 10.0, 1, Units::Volt)),
        tr("Max frequency: %1").arg(Units::withUnit(motor.maxFrequency, 0, Units::Hertz)),
        tr("Max current: %1").arg(Units::withUnit(motor.maxMotorCurrent / 10.0, 1, Units::Ampere)),
        tr("Pole pairs: %1").arg(motor.polePairs),
        tr("Flux frequency: %1").arg(Units::withUnit(motor.fluxFrequency, 0, Units::Hertz)),
        tr("Resistance current: %1").arg(Units::withUnit(motor.resCurrent / 100.0, 2, Units::Ampere)),
        tr("Inductance current: %1").arg(Units::withUnit(motor.indCurrent / 100.0, 2, Units::Ampere)),
    };
    return block(tr("Ident"), ident) + QStringLiteral("<br><br>") + block(tr("User"), user);
}

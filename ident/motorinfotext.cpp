#include "ident/motorinfotext.h"

#include <QStringList>

namespace {

// Ohm and henry values of small motors need their small digits.
QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString block(const QString &title, const QStringList &lines)
{
    return QStringLiteral("<b>") + title + QStringLiteral("</b><br>") + lines.join(QStringLiteral("<br>"));
}

} // namespace

QString MotorInfoText::html(const MOTOR_TOTAL &motor)
{
    const QStringList ident = {
        tr("Rs: %1 Ohm").arg(fixed(motor.Rs, 4)),
        tr("Ls d: %1 uH").arg(fixed(double(motor.Ls_d) * 1e6, 2)),
        tr("Ls q: %1 uH").arg(fixed(double(motor.Ls_q) * 1e6, 2)),
        tr("Flux: %1 mWb").arg(fixed(double(motor.Flux) * 1e3, 3)),
    };
    const QStringList user = {
        tr("Max voltage: %1 V").arg(fixed(motor.voltage_scale / 10.0, 1)),
        tr("Max frequency: %1 Hz").arg(motor.maxFrequency),
        tr("Max current: %1 A").arg(fixed(motor.maxMotorCurrent / 10.0, 1)),
        tr("Pole pairs: %1").arg(motor.polePairs),
        tr("Flux frequency: %1 Hz").arg(motor.fluxFrequency),
        tr("Resistance current: %1 A").arg(fixed(motor.resCurrent / 100.0, 2)),
        tr("Inductance current: %1 A").arg(fixed(motor.indCurrent / 100.0, 2)),
    };
    return block(tr("Ident"), ident) + QStringLiteral("<br><br>") + block(tr("User"), user);
}

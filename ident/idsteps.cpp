#include "ident/idsteps.h"

#include <QCoreApplication>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("IdHelper", text);
}

} // namespace

namespace IdSteps {

QVector<IdStep> build()
{
    QVector<IdStep> steps(Count);
    steps[NoMovement] = {tr("No movement"),
                         {tr("The motor is not spinning!"), tr("The motor produces high-frequency noise")},
                         {tr("The motor is spinning")},
                         tr("Help, motor spins"),
                         18500};
    steps[Acceleration] = {tr("Acceleration"),
                           {tr("The motor is spinning!"), tr("The motor speed increases")},
                           {tr("The motor is not spinning")},
                           tr("Help, motor not spins"),
                           5000};
    steps[VariableSpeed] = {tr("Variable speed"),
                            {tr("The motor is spinning!"),
                             tr("The motor speed can oscillate, but the motor does not stop.")},
                            {tr("The motor is not spinning")},
                            tr("Help, motor not spins"),
                            50600};
    steps[Deceleration] = {tr("Decelaration"),
                           {tr("The motor is spinning!"), tr("The motor speed is decreasing to stop.")},
                           {tr("At the start, the motor is not spinning"), tr("At the end, the motor is spinning")},
                           tr("Help, motor spins"),
                           2000};
    steps[Finish] = {tr("Finish"),
                     {tr("The motor is not spinning!"), tr("The identification is complete.")},
                     {tr("The motor is spinning")},
                     tr("Help, motor spins"),
                     0};
    return steps;
}

uint32_t accelerationTimeMs(const QVector<IdStep> &steps, uint8_t fluxFrequencyHz)
{
    return steps.at(Acceleration).timeInMs + ACCELERATION_MS_PER_FLUX_HZ * fluxFrequencyHz;
}

} // namespace IdSteps

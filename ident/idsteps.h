#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>

// One step of the identification as the wizard shows it: what the user should see the
// motor do, what counts as going wrong, and how long the step is expected to take.
struct IdStep
{
    QString name;
    QStringList features;   // the right behaviour, one line each
    QStringList errors;     // the wrong behaviour, one line each
    QString buttonLabel;    // text of the help button (which stops the run)
    uint32_t timeInMs = 0;  // expected duration: the maximum of the progress bar
};

namespace IdSteps {

enum Index {
    NoMovement = 0,
    Acceleration = 1,
    VariableSpeed = 2,
    Deceleration = 3,
    Finish = 4,
    Count = 5,
};

// The acceleration step also identifies the flux; it lasts longer the higher the flux
// frequency.
constexpr uint32_t ACCELERATION_MS_PER_FLUX_HZ = 200;

// The five steps, texts in English (the program's own language).
QVector<IdStep> build();
// The step with its texts in the loaded language (context "IdHelper").
IdStep translated(const IdStep &step);

// The acceleration step's expected time for the flux frequency in use.
uint32_t accelerationTimeMs(const QVector<IdStep> &steps, uint8_t fluxFrequencyHz);

} // namespace IdSteps

#include "ident/idsteps.h"

#include <QCoreApplication>

namespace {

// The texts are kept in English and marked for lupdate under the context in which they
// are translated when a step is announced (so a language loaded later applies too).
const char *const CONTEXT = "IdHelper";

QString english(const char *text)
{
    return QString::fromUtf8(text);
}

QString translatedText(const QString &text)
{
    return QCoreApplication::translate(CONTEXT, text.toUtf8().constData());
}

QStringList translatedTexts(const QStringList &texts)
{
    QStringList out;
    for (const QString &text : texts)
        out << translatedText(text);
    return out;
}

} // namespace

namespace IdSteps {

QVector<IdStep> build()
{
    QVector<IdStep> steps(Count);
    steps[NoMovement] = {english(QT_TRANSLATE_NOOP("IdHelper", "No movement")),
                         {english(QT_TRANSLATE_NOOP("IdHelper", "The motor is not spinning!")),
                          english(QT_TRANSLATE_NOOP("IdHelper", "The motor produces high-frequency noise"))},
                         {english(QT_TRANSLATE_NOOP("IdHelper", "The motor is spinning"))},
                         english(QT_TRANSLATE_NOOP("IdHelper", "Help, motor spins")),
                         18500};
    steps[Acceleration] = {english(QT_TRANSLATE_NOOP("IdHelper", "Acceleration")),
                           {english(QT_TRANSLATE_NOOP("IdHelper", "The motor is spinning!")),
                            english(QT_TRANSLATE_NOOP("IdHelper", "The motor speed increases"))},
                           {english(QT_TRANSLATE_NOOP("IdHelper", "The motor is not spinning"))},
                           english(QT_TRANSLATE_NOOP("IdHelper", "Help, motor does not spin")),
                           5000};
    steps[VariableSpeed] = {english(QT_TRANSLATE_NOOP("IdHelper", "Variable speed")),
                            {english(QT_TRANSLATE_NOOP("IdHelper", "The motor is spinning!")),
                             english(QT_TRANSLATE_NOOP("IdHelper",
                                                       "The motor speed can oscillate, but the motor does not stop."))},
                            {english(QT_TRANSLATE_NOOP("IdHelper", "The motor is not spinning"))},
                            english(QT_TRANSLATE_NOOP("IdHelper", "Help, motor does not spin")),
                            50600};
    steps[Deceleration] = {english(QT_TRANSLATE_NOOP("IdHelper", "Deceleration")),
                           {english(QT_TRANSLATE_NOOP("IdHelper", "The motor is spinning!")),
                            english(QT_TRANSLATE_NOOP("IdHelper", "The motor speed is decreasing to stop."))},
                           {english(QT_TRANSLATE_NOOP("IdHelper", "At the start, the motor is not spinning")),
                            english(QT_TRANSLATE_NOOP("IdHelper", "At the end, the motor is spinning"))},
                           english(QT_TRANSLATE_NOOP("IdHelper", "Help, motor spins")),
                           2000};
    steps[Finish] = {english(QT_TRANSLATE_NOOP("IdHelper", "Finish")),
                     {english(QT_TRANSLATE_NOOP("IdHelper", "The motor is not spinning!")),
                      english(QT_TRANSLATE_NOOP("IdHelper", "The identification is complete."))},
                     {english(QT_TRANSLATE_NOOP("IdHelper", "The motor is spinning"))},
                     english(QT_TRANSLATE_NOOP("IdHelper", "Help, motor spins")),
                     0};
    return steps;
}

IdStep translated(const IdStep &step)
{
    IdStep out = step;
    out.name = translatedText(step.name);
    out.features = translatedTexts(step.features);
    out.errors = translatedTexts(step.errors);
    out.buttonLabel = translatedText(step.buttonLabel);
    return out;
}

uint32_t accelerationTimeMs(const QVector<IdStep> &steps, uint8_t fluxFrequencyHz)
{
    return steps.at(Acceleration).timeInMs + ACCELERATION_MS_PER_FLUX_HZ * fluxFrequencyHz;
}

} // namespace IdSteps

#pragma once

#include "tuning/tuningrecords.h"

#include <QVector>

#include <cstdint>

// What one analysis of a step test concludes.
struct TuningVerdict
{
    Test_Evalute_s evaluation; // Ki, kiDelta, retryCount and stepLen updated
    int8_t result = -1;        // -1 fail, 0 success, 1 try again, 3 only falling steps
                               // oscillate; times 11 for a non-linear speed response
    float error = 0;           // mean relative speed error at the valid peaks
};

// Evaluates one recorded step test and proposes the next integral gain. Looks at the
// speed after each duty step, finds the peaks of the speed's rate of change, decides
// when the response has settled, measures the settled speed and the remaining error,
// and turns the mean settling time and error into a new Ki. Plain function of its
// inputs: no threads, no state between calls.
class StepResponseAnalysis
{
public:
    // The rate of change (in rpm per two samples) at which a peak begins.
    static constexpr float PEAK_THRESHOLD = 5.0f;
    // A speed per duty at the highest level below this share of that at the base level
    // counts as a non-linear response.
    static constexpr float LINEARITY_LIMIT = 0.99f;
    static constexpr int NON_LINEAR_FACTOR = 11;

    static TuningVerdict evaluate(const QVector<Test_Data_s> &samples, const Test_Evalute_s &evaluation);
};

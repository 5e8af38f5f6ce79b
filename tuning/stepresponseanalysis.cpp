#include "tuning/stepresponseanalysis.h"

#include "tuning/tuninglog.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const char *const TAG = "TEST_BACK_WORKER:";

// Constants of the gain proposal: the settled share of a second-order step response
// and the logarithm that sets the wanted settling.
constexpr float RESPONSE_SHARE = 0.5186103f;
constexpr float SETTLE_LOG = 4.641714821637907f;
constexpr float LEVEL_FOR_HIGH_GAIN = 75.0f; // duty levels above this give the high gain
constexpr int OSCILLATION_LEVEL = 75;        // oscillation only at or above this level

// The derived series of one recording.
struct Series
{
    int n = 0;
    QVector<float> v;       // speed
    QVector<float> dv;      // speed change over two samples, centred
    QVector<float> dw;      // duty change
    QVector<int> turning;   // 0, then every sign change of dv

    explicit Series(const QVector<Test_Data_s> &samples);

    // dv changes sign between i-1 and i (a step from or to zero counts, zero to zero not).
    bool signChangeAt(int i) const
    {
        return i > 0 && i < n && dv[i - 1] * dv[i] <= 0.0f && !(dv[i - 1] == 0.0f && dv[i] == 0.0f);
    }
    float absDv(int i) const { return i >= 0 && i < n ? std::abs(dv[i]) : 0.0f; }
    // The first turning point after e; e itself when there is none.
    int nextTurningPoint(int e) const
    {
        const auto it = std::upper_bound(turning.cbegin(), turning.cend(), e);
        return it == turning.cend() ? e : *it;
    }
    // The response has settled at t when the next four changes lie within the band.
    // Samples beyond the recording are not known to be settled.
    bool settlesAt(int t, float band) const
    {
        if (t + 4 >= n)
            return false;
        for (int k = 1; k <= 4; ++k) {
            if (std::abs(dv[t + k]) > band)
                return false;
        }
        return true;
    }
    // The first t in [from, limit) at which the response settles, or -1.
    int firstSettle(int from, int limit, float band) const
    {
        for (int t = from; t < limit; ++t) {
            if (settlesAt(t, band))
                return t;
        }
        return -1;
    }
};

Series::Series(const QVector<Test_Data_s> &samples)
    : n(samples.size())
{
    v.resize(n);
    dv.resize(n);
    dw.resize(n);
    for (int i = 0; i < n; ++i)
        v[i] = samples[i].Speed;
    for (int i = 0; i < n; ++i) {
        const float ahead = i + 1 < n ? v[i + 1] - v[i] : 0.0f;
        const float behind = i > 0 ? v[i] - v[i - 1] : 0.0f;
        dv[i] = ahead + behind;
        dw[i] = i > 0 ? float(int16_t(samples[i].Duty_Cycle - samples[i - 1].Duty_Cycle)) : 0.0f;
    }
    turning.append(0);
    for (int i = 1; i < n; ++i) {
        if (signChangeAt(i))
            turning.append(i);
    }
}

// One duty step of the recording.
struct StepRecord
{
    int start = 0;          // sample index of the duty change that opened the step
    int end = 0;            // sample index of the next duty change
    int dutyJump = 0;
    int level = 0;
    QVector<int> peakList;
    int mainPeak = 1;
    QVector<int> earlyList;
    QVector<int> decayList;
    QVector<int> lateList;
    QVector<int> validList;
    QVector<int> unstableList;
    int validPeaks = 0;
    int unstablePeaks = 0;
    int settleTime = 0;
    int settleIdx = 0;
    bool settleFound = false;
    float errorSum = 0;
    float steadySpeed = 0;
    float stepGain = 0;

    float settleBand() const { return float(level) / 10.0f + 2.5f; }
};

QVector<StepRecord> stepRecords(const Series &s)
{
    QVector<int> changes;
    for (int i = 0; i < s.n; ++i) {
        if (s.dw[i] != 0.0f)
            changes.append(i);
    }
    QVector<StepRecord> records;
    int level = 0;
    for (int j = 0; j + 1 < changes.size(); ++j) {
        StepRecord r;
        r.start = changes[j];
        r.end = changes[j + 1];
        r.dutyJump = int(s.dw[r.start]);
        level += r.dutyJump;
        r.level = level;
        records.append(r);
    }
    return records;
}

void findPeaks(const Series &s, StepRecord &r)
{
    bool inside = false;
    int p = 0;
    float m = 0.0f;
    for (int i = r.start; i < r.end; ++i) {
        const float magnitude = s.absDv(i);
        if (!inside) {
            if (magnitude >= StepResponseAnalysis::PEAK_THRESHOLD) {
                inside = true;
                p = i;
                m = magnitude;
            }
            continue;
        }
        if (s.signChangeAt(i)) {
            r.peakList.append(p);
            if (s.absDv(r.mainPeak) < s.absDv(p))
                r.mainPeak = p;
            if (magnitude >= StepResponseAnalysis::PEAK_THRESHOLD) {
                p = i;
                m = magnitude;
            } else {
                inside = false;
                m = 0.0f;
            }
        }
        if (magnitude > m) {
            p = i;
            m = magnitude;
        }
    }
    // A peak still open at the step end is not recorded.
}

void sortPeaks(const Series &s, StepRecord &r)
{
    float window = 0.0f;
    for (int e : qAsConst(r.peakList)) {
        if (e < r.mainPeak) {
            r.earlyList.append(e);
        } else if (e == r.mainPeak) {
            const int limit = s.nextTurningPoint(e);
            const int settle = s.firstSettle(e, limit, r.settleBand());
            const int settleIndex = settle >= 0 ? settle : limit;
            r.settleTime = settleIndex - r.start;
            r.settleIdx = settleIndex;
            r.settleFound = true;
            window = 1.5f * float(r.settleTime);
            r.decayList.append(e);
        } else if (r.decayList.isEmpty() || float(r.decayList.last()) + window < float(e)) {
            r.lateList.append(e);
        } else {
            r.decayList.append(e);
            window = window * 0.5f + 1.0f;
            r.settleIdx = e + int(std::ceil(window * 0.5f));
        }
    }
    if (!r.settleFound) {
        // No main peak in this step: it counts as settling only at its end.
        r.settleIdx = r.end;
        r.settleTime = r.end - r.start;
    }
}

void measureSteadySpeed(const Series &s, StepRecord &r)
{
    const int from = std::max(r.settleIdx, 0);
    if (from < r.end && from < s.n) {
        double sum = 0.0;
        const int to = std::min(r.end, s.n);
        for (int i = from; i < to; ++i)
            sum += s.v[i];
        r.steadySpeed = float(sum / (to - from));
    } else {
        r.steadySpeed = s.v[std::min(from, s.n - 1)];
    }
    r.stepGain = r.steadySpeed / float(r.level);
}

void countPeaks(const Series &s, StepRecord &r)
{
    const float band = r.settleBand();
    const float instabilityBand = r.steadySpeed / 0.0075f;
    for (int k = 0; k < r.decayList.size(); ++k) {
        const int e = r.decayList[k];
        if (s.absDv(e) <= band)
            continue;
        const float next = k + 1 < r.decayList.size() ? float(int(s.absDv(r.decayList[k + 1]))) : 0.0f;
        if (s.absDv(e) > next) {
            r.validList.append(e);
            ++r.validPeaks;
        }
    }
    for (int e : qAsConst(r.lateList)) {
        if (std::abs(s.v[e] - r.steadySpeed) >= instabilityBand
            || std::abs(s.v[e - 1] - r.steadySpeed) >= instabilityBand) {
            r.unstableList.append(e);
            ++r.unstablePeaks;
        }
    }
}

void measureError(const Series &s, StepRecord &r)
{
    r.errorSum = 0.0f;
    for (int e : qAsConst(r.validList)) {
        const int limit = s.nextTurningPoint(e);
        const int settle = s.firstSettle(e, limit, r.settleBand());
        const int u = settle >= 0 ? settle + 1 : limit;
        if (u < 1 || u >= s.n)
            continue; // cannot happen: u lies between the peak and a turning point
        int index;
        if (s.dv[e] > 0.0f)
            index = std::abs(s.v[u - 1]) <= std::abs(s.v[u]) ? u : u - 1;
        else
            index = std::abs(s.v[u - 1]) >= std::abs(s.v[u]) ? u : u - 1;
        r.errorSum += std::abs((s.v[index] - r.steadySpeed) / r.steadySpeed);
    }
}

int truncated(float value)
{
    return int(std::trunc(value));
}

} // namespace

TuningVerdict StepResponseAnalysis::evaluate(const QVector<Test_Data_s> &samples, const Test_Evalute_s &evaluation)
{
    const Series s(samples);
    QVector<StepRecord> records = stepRecords(s);
    for (StepRecord &r : records) {
        findPeaks(s, r);
        sortPeaks(s, r);
        measureSteadySpeed(s, r);
        countPeaks(s, r);
        measureError(s, r);
    }

    const int n = records.size();
    QString validText;
    QString stableText;
    float errorSum = 0.0f;
    float timeSum = 0.0f;
    float baseGainSum = 0.0f;
    int baseGainCount = 0;
    float highGain = n > 0 ? records.first().stepGain : 0.0f;
    bool gainsUsable = true; // every step has a finite, non-zero speed per duty
    for (const StepRecord &r : qAsConst(records)) {
        validText += QLatin1Char(' ') + QString::number(r.validPeaks);
        stableText += QLatin1Char(' ') + QString::number(r.unstablePeaks);
        errorSum += r.errorSum;
        timeSum += float(r.settleTime);
        if (r.level == records.first().level) {
            baseGainSum += r.stepGain;
            ++baseGainCount;
        }
        if (float(r.level) > LEVEL_FOR_HIGH_GAIN)
            highGain = r.stepGain;
        gainsUsable = gainsUsable && std::isfinite(r.stepGain) && r.stepGain != 0.0f;
    }
    tuningDebug(TAG) << "Valid :" << validText;
    tuningDebug(TAG) << "Stable:" << stableText;

    const float meanError = errorSum / float(n);
    const float meanTime = timeSum / float(n);
    const float baseGain = baseGainSum / float(std::max(baseGainCount, 1));
    const uint16_t ki = evaluation.Ki;

    const float a = RESPONSE_SHARE * std::exp(-meanTime * float(ki) / 1000.0f);
    float x = a - meanError;
    if (x <= 0.0f)
        x = (meanError - a) + 0.0000001f;
    const float proposal = ((-std::log(x)) / meanTime + SETTLE_LOG / meanTime) * 0.5f;
    tuningDebug(TAG) << "Error:" << meanError << "Time:" << meanTime << "Result:" << proposal << "Old Ki:" << ki;

    TuningVerdict verdict;
    verdict.evaluation = evaluation;
    Test_Evalute_s &out = verdict.evaluation;

    // Without steps, or with a step that never moved or settled at zero speed, the means
    // are no numbers: nothing can be concluded and the gain stays as it was.
    const bool finite = n > 0 && gainsUsable && std::isfinite(meanError) && std::isfinite(meanTime)
        && std::isfinite(baseGain) && std::isfinite(highGain) && std::isfinite(proposal)
        && std::abs(proposal * 1000.0f) < float(std::numeric_limits<int>::max());
    if (!finite) {
        tuningDebug(TAG) << "no usable step response";
        out.kiDelta = 0;
        verdict.result = -1;
        verdict.error = std::isfinite(meanError) ? meanError : 0.0f;
        return verdict;
    }

    const int provisional = truncated(proposal * 1000.0f) - int(ki);
    int result = 0;
    int change = 0;
    int stepLen = evaluation.stepLen;

    bool stoppedAtSilentStep = false;
    bool risingOscillates = false;
    bool fallingOscillates = false;
    bool allOscillationHigh = true;
    int validSum = 0;
    int unstableSum = 0;
    int longestSpan = 0;
    for (const StepRecord &r : qAsConst(records)) {
        if (r.validPeaks == 0) {
            stoppedAtSilentStep = true;
            break;
        }
        if (r.validPeaks > 1) {
            if (r.dutyJump >= 0)
                risingOscillates = true;
            else
                fallingOscillates = true;
            allOscillationHigh = allOscillationHigh && r.level >= OSCILLATION_LEVEL;
        }
        validSum += r.validPeaks;
        unstableSum += r.unstablePeaks;
        longestSpan = std::max(longestSpan, r.settleIdx - r.start);
    }

    if (stoppedAtSilentStep) {
        result = -1;
        change = provisional;
    } else {
        stepLen = 2 * longestSpan;
        if (validSum == n && unstableSum > 0) {
            result = 1;
            change = truncated(float(ki) * -0.1f);
        } else if (validSum == n) {
            result = 0;
            out.retryCount = 0;
        } else if (allOscillationHigh) {
            result = 1;
            change = validSum > n + 2 ? truncated(float(ki) * -0.1f) : truncated(float(ki) * -0.05f);
        } else if (fallingOscillates && !risingOscillates) {
            if (out.retryCount == 0) {
                result = 3;
                change = truncated(float(ki) * -0.1f);
            } else if (out.retryCount <= 3) {
                result = 1;
                change = evaluation.kiDelta;
            } else {
                result = -1;
                change = provisional;
            }
            out.retryCount = uint8_t(std::min(out.retryCount + 1, 255));
        } else {
            result = 1;
            out.retryCount = 0;
            change = provisional;
        }
    }

    if (highGain / baseGain < LINEARITY_LIMIT)
        result *= NON_LINEAR_FACTOR;

    // The gain stays within its 16-bit field instead of wrapping around.
    const int newKi = std::clamp(int(ki) + change, 0, int(std::numeric_limits<uint16_t>::max()));
    out.Ki = uint16_t(newKi);
    out.kiDelta = newKi - int(ki);
    out.stepLen = uint16_t(std::clamp(stepLen, 0, int(std::numeric_limits<uint16_t>::max())));
    tuningDebug(TAG) << "Step len:" << out.stepLen;
    tuningDebug(TAG) << "New:" << out.Ki;

    verdict.result = int8_t(result);
    verdict.error = meanError;
    return verdict;
}

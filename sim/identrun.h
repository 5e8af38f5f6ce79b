#pragma once

#include "sim/simconfig.h"

#include <QVector>

#include <cstdint>

// The controller's motor identification as the host sees it: an estimator state that
// walks 1..3 (no movement), 4 (acceleration), 5..7 and 9..11 (variable speed),
// 8 (deceleration) and ends in 12, each reported with a health nibble.
class IdentRun
{
public:
    static constexpr uint8_t HEALTHY = 0x1;
    static constexpr uint8_t FINISHED_STATE = 12;

    explicit IdentRun(const IdentConfig &config);

    // Starts (or restarts) a run. predictedErrorCode 0 means no prediction this run.
    void start(uint8_t fluxFrequencyHz, int predictedErrorCode);
    void stop();
    // The host has read the result or the error: nothing more to report.
    void clearReport();

    void advance(qint64 us);

    bool isWalking() const { return m_phase == Phase::Walking; }
    bool isFinished() const { return m_phase == Phase::Finished; }
    bool hasFailed() const { return m_phase == Phase::Failed; }
    bool hasReport() const { return m_phase != Phase::Idle; }
    uint8_t estimatorState() const;
    uint8_t statusByte() const; // estimator state << 4 | health
    int predictedError() const { return m_predictionRaised ? m_predictedErrorCode : 0; }

private:
    enum class Phase { Idle, Walking, Finished, Failed };
    struct Step
    {
        uint8_t state;
        qint64 durationUs;
    };

    void enterStep(int index);

    IdentConfig m_config;
    QVector<Step> m_steps;
    Phase m_phase = Phase::Idle;
    int m_stepIndex = 0;
    qint64 m_elapsedInStepUs = 0;
    int m_predictedErrorCode = 0;
    bool m_predictionRaised = false;
};

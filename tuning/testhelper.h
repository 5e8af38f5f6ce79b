#pragma once

#include "tuning/tuningrecords.h"
#include "wire/records.h"

#include <QObject>
#include <QString>
#include <QThread>
#include <QVector>

#include <atomic>
#include <cstdint>

// Tunes the integral gain of the controller's speed loop by experiment. While the motor
// runs under duty-cycle control it plays a fixed plan of duty steps, records one sample
// per telemetry update, hands the recording to a TestBackWorker in its own analysis
// thread and writes the gains that come back through the device model. Up to four
// trials; then the user chooses between the gains found before tuning and the best
// trial. Lives in the coordinator thread; its clock is the coordinator's tick.
//
// The control page calls startTuning(), stopTuning() and choiseController() (from any
// thread: the calls are re-posted into this object's thread) and listens to
// testFinished() and chooseController(); tuningOffered() tells it whether to show the
// tuning buttons.
class TestHelper : public QObject
{
    Q_OBJECT

public:
    enum TestRunState : uint8_t {
        RUN_IDLE = 0,
        RUN_STEPPING = 1,
        RUN_STOPPED = 2,
    };
    Q_ENUM(TestRunState)

    enum TuningPhase : uint8_t {
        PHASE_IDLE = 0,       // also after success or after the final choice
        PHASE_START = 1,      // gains before tuning recorded, first test gains being written
        PHASE_STEPS = 2,      // test steps running
        PHASE_ANALYSIS = 7,   // analysis running
        PHASE_NEXT_TRIAL = 8, // new gains being written for the next trial
        PHASE_FAILED = 9,
    };
    Q_ENUM(TuningPhase)

    static constexpr uint8_t MAX_TRIALS = 4;
    static constexpr uint16_t FIRST_TRIAL_KI = 100;  // thousandths: the first trial runs with 0.100
    static constexpr uint16_t STALL_KI_RAISE = 100;  // a stall in the first trial raises Ki by 0.100
    static constexpr uint16_t SETTLE_TICKS = 5;      // the 0 % entry that opens the plan
    // The analysis may propose steps too short to settle in (or none at all, which would
    // never end): the plan plays at least this many ticks per step.
    static constexpr uint16_t MIN_STEP_TICKS = 10;
    // Test gains not confirmed as stored within this many ticks end the run, so that a
    // later, unrelated confirmation cannot start the motor.
    static constexpr uint32_t CONFIRMATION_TICKS = 100;

    explicit TestHelper(QObject *parent = nullptr);
    ~TestHelper() override;

    // The Tuning and Toggling buttons are shown by debug builds only.
    static constexpr bool tuningOffered()
    {
#ifdef QT_DEBUG
        return true;
#else
        return false;
#endif
    }

    // The step plan for one trial: 0 %, 10 %, 50 %, 90 %, 10 %, 30 %, then the end marker.
    static QVector<TestStep> buildPlan(uint16_t stepLen);
    // Index of the non-excluded trial with the smallest error (the first on ties), or -1.
    static int bestTrial(const QVector<TrialResult> &trials);

    // Readable from any thread: a run is under way (gains being written, steps, analysis).
    bool isTuningRunning() const { return isActive(m_phase.load()); }

    TuningPhase phase() const { return m_phase.load(); }
    TestRunState runState() const { return m_runState; }
    Test_Evalute_s evaluation() const { return m_evaluation; }
    QVector<TrialResult> trials() const { return m_trials; }
    QVector<TestStep> plan() const { return m_plan; }
    int16_t dutyCycle() const { return m_dutyCycle; }
    int sampleCount() const { return m_samples.size(); }

public slots:
    // The control page's Tuning and Stop buttons, and the user's choice of gains after the
    // last trial (0 "Default": the gains before tuning, 1 "Approx.": the best trial's).
    void startTuning();
    void stopTuning();
    void choiseController(int8_t result);

    void handleTimeout();
    void deviceConnectionState(Device_State_e deviceState);
    void telemetryUpdated(QVector<ONLINE_QUANTS_S> *data);
    // The controller's present gains, as its 1/1024 wire words.
    void setControllerParams(uint32_t Kp, uint32_t Ki);
    void resetControl(QString msg, uint8_t code);
    // The controller confirmed that it stored new motion parameters.
    void motionParamsSaved(SET_MOTION_PARAMS motionParams);
    void handleControllerParams(Test_Evalute_s evaluteData, int8_t result, float error);

signals:
    void setDutyCycle(int16_t dutyCycle, bool enableDutyCycle);
    // Gains in thousandths, to the device model, which writes them at once.
    void updateControllerParams(uint32_t Kp, uint32_t Ki);
    void calculateControllerParams(QVector<Test_Data_s> testData, Test_Evalute_s evaluteData);
    void sendTextForMsgBox(QString msg, bool isMsgBox);
    void testFinished();
    void chooseController(bool emptyMotor);

private:
    static bool isActive(TuningPhase phase);
    void setPhase(TuningPhase phase) { m_phase.store(phase); }
    void startSteps();
    void nextStep();
    void startAnalysis();
    void stopAnalysisThread();
    void stopMotor();
    void writeTestGains(uint16_t Kp, uint16_t Ki);
    void offerChoice(int8_t result);
    void interrupt(const char *reason);

    Device_State_e m_deviceState = DEVICE_DISCONNECTED;
    TestRunState m_runState = RUN_IDLE;
    std::atomic<TuningPhase> m_phase {PHASE_IDLE};
    uint32_t m_stepTicks = 0;     // duration of the current step
    uint32_t m_tickCounter = 0;   // ticks into the current step
    uint32_t m_waitTicks = 0;     // ticks since test gains were written
    int16_t m_dutyCycle = 0;      // percent
    QVector<Test_Data_s> m_samples;
    QVector<TestStep> m_plan;
    int m_nextIndex = 0;
    QThread m_analysisThread;
    Test_Evalute_s m_evaluation;
    QVector<TrialResult> m_trials;
};

#include "tuning/testhelper.h"

#include "device/ownthread.h"
#include "device/settingsmodel.h"
#include "tuning/testbackworker.h"
#include "tuning/tuninglog.h"

#include <cmath>

namespace {

const char *const TAG = "TEST_HELPER:";

} // namespace

TestHelper::TestHelper(QObject *parent) : QObject(parent)
{
    registerTuningMetaTypes();
    emit setDutyCycle(0, false);
    m_plan = buildPlan(m_evaluation.stepLen);
}

TestHelper::~TestHelper()
{
    stopAnalysisThread();
}

QVector<TestStep> TestHelper::buildPlan(uint16_t stepLen)
{
    const uint16_t ticks = std::max(stepLen, MIN_STEP_TICKS);
    return {{0, SETTLE_TICKS}, {10, ticks}, {50, ticks}, {90, ticks}, {10, ticks}, {30, ticks}, {0, 0}};
}

int TestHelper::bestTrial(const QVector<TrialResult> &trials)
{
    int best = -1;
    for (int i = 0; i < trials.size(); ++i) {
        if (trials[i].excluded)
            continue;
        if (best < 0 || trials[i].error < trials[best].error)
            best = i;
    }
    return best;
}

bool TestHelper::isActive(TuningPhase phase)
{
    return phase == PHASE_START || phase == PHASE_STEPS || phase == PHASE_ANALYSIS || phase == PHASE_NEXT_TRIAL;
}

// ---- the control page's calls -----------------------------------------------------------

void TestHelper::startTuning()
{
    if (postToOwnThread(this, [this] { startTuning(); }))
        return;
    if (isActive(m_phase.load())) {
        tuningDebug(TAG) << "tuning already running";
        return;
    }
    // Without a running motor no test can be made: the controller's gains stay untouched.
    if (m_deviceState != DEVICE_RUNNING) {
        emit sendTextForMsgBox(tr("Tuning fail"), false);
        return;
    }
    setPhase(PHASE_START);
    m_evaluation.trialCount = 0;
    m_evaluation.retryCount = 0;
    m_evaluation.kiDelta = 0;
    m_evaluation.stepLen = Test_Evalute_s::INITIAL_STEP_LEN;
    m_trials.clear();
    m_trials.append({0.0f, m_evaluation.Kp, m_evaluation.Ki, 1});
    writeTestGains(m_evaluation.Kp, FIRST_TRIAL_KI);
}

void TestHelper::stopTuning()
{
    if (postToOwnThread(this, [this] { stopTuning(); }))
        return;
    if (m_phase.load() == PHASE_IDLE)
        return;
    setPhase(PHASE_IDLE);
    m_runState = RUN_STOPPED;
    m_stepTicks = 0;
    m_tickCounter = 0;
    stopMotor();
    emit sendTextForMsgBox(tr("Tuning stop"), false);
}

void TestHelper::choiseController(int8_t result)
{
    if (postToOwnThread(this, [this, result] { choiseController(result); }))
        return;
    tuningDebug(TAG) << "Result from msgbox" << int(result);
    if (isActive(m_phase.load()) || m_trials.isEmpty())
        return;
    if (result == 0) {
        emit updateControllerParams(m_trials.first().Kp, m_trials.first().Ki);
    } else if (result == 1) {
        const int best = bestTrial(m_trials);
        if (best >= 0)
            emit updateControllerParams(m_trials[best].Kp, m_trials[best].Ki);
    }
}

// ---- the tick and the step plan ------------------------------------------------------------

void TestHelper::handleTimeout()
{
    const TuningPhase phase = m_phase.load();
    if (phase == PHASE_START || phase == PHASE_NEXT_TRIAL) {
        if (++m_waitTicks > CONFIRMATION_TICKS) {
            tuningDebug(TAG) << "test gains not confirmed";
            setPhase(PHASE_FAILED);
            m_runState = RUN_IDLE;
            stopMotor();
            emit sendTextForMsgBox(tr("Controller tuning was failed"), true);
            emit testFinished();
        }
        return;
    }
    ++m_tickCounter;
    if (m_runState == RUN_STEPPING && m_tickCounter >= m_stepTicks)
        nextStep();
}

void TestHelper::startSteps()
{
    m_plan = buildPlan(m_evaluation.stepLen);
    m_samples.clear();
    m_runState = RUN_STEPPING;
    m_nextIndex = 0;
    m_stepTicks = m_plan.first().durationTicks;
    m_tickCounter = 0;
    m_dutyCycle = m_plan.first().dutyCycle;
    emit setDutyCycle(m_dutyCycle, true);
}

// The first entry is played twice: 10 ticks at 0 % before the first step.
void TestHelper::nextStep()
{
    const TestStep step = m_plan.value(m_nextIndex);
    m_stepTicks = step.durationTicks;
    m_tickCounter = 0;
    if (m_nextIndex + 1 < m_plan.size()) {
        m_dutyCycle = step.dutyCycle;
        emit setDutyCycle(m_dutyCycle, true);
        ++m_nextIndex;
    } else {
        startAnalysis();
    }
}

void TestHelper::startAnalysis()
{
    setPhase(PHASE_ANALYSIS);
    m_runState = RUN_IDLE;
    stopMotor();

    auto *worker = new TestBackWorker;
    worker->moveToThread(&m_analysisThread);
    connect(&m_analysisThread, &QThread::finished, worker, &QObject::deleteLater);
    connect(this, &TestHelper::calculateControllerParams, worker, &TestBackWorker::calculateControllerParams);
    connect(worker, &TestBackWorker::controllerParamsCalcuclated, this, &TestHelper::handleControllerParams);
    m_analysisThread.start(QThread::LowPriority);
    emit calculateControllerParams(m_samples, m_evaluation);
}

void TestHelper::stopAnalysisThread()
{
    m_analysisThread.quit();
    m_analysisThread.wait();
}

void TestHelper::telemetryUpdated(QVector<ONLINE_QUANTS_S> *data)
{
    if (m_runState != RUN_STEPPING || !data || data->isEmpty())
        return;
    m_samples.append(Test_Data_s::fromSample(data->last(), m_dutyCycle));
}

void TestHelper::stopMotor()
{
    m_dutyCycle = 0;
    emit setDutyCycle(0, false);
}

void TestHelper::writeTestGains(uint16_t Kp, uint16_t Ki)
{
    m_waitTicks = 0;
    emit updateControllerParams(Kp, Ki);
}

// ---- gains and confirmations -------------------------------------------------------------------

void TestHelper::setControllerParams(uint32_t Kp, uint32_t Ki)
{
    // Read back from the controller: the same words again when written.
    m_evaluation.Kp = SettingsModel::gainThousandths(int16_t(uint16_t(Kp)));
    m_evaluation.Ki = SettingsModel::gainThousandths(int16_t(uint16_t(Ki)));
}

void TestHelper::motionParamsSaved(SET_MOTION_PARAMS motionParams)
{
    Q_UNUSED(motionParams)
    switch (m_phase.load()) {
    case PHASE_START:
        m_evaluation.trialCount = 0;
        m_evaluation.retryCount = 0;
        m_evaluation.kiDelta = 0;
        m_evaluation.stepLen = Test_Evalute_s::INITIAL_STEP_LEN;
        break;
    case PHASE_NEXT_TRIAL:
        break;
    default:
        return;
    }
    setPhase(PHASE_STEPS);
    if (m_deviceState == DEVICE_RUNNING) {
        startSteps();
    } else {
        setPhase(PHASE_IDLE);
        m_runState = RUN_IDLE;
    }
}

void TestHelper::handleControllerParams(Test_Evalute_s evaluteData, int8_t result, float error)
{
    stopAnalysisThread();
    tuningDebug(TAG) << "result of test" << int(result);
    // Stopped, failed or disconnected while the analysis ran: no further trial may start.
    if (m_phase.load() != PHASE_ANALYSIS) {
        tuningDebug(TAG) << "result after the end of the run ignored";
        return;
    }
    m_evaluation.Kp = evaluteData.Kp;
    m_evaluation.Ki = evaluteData.Ki;
    m_evaluation.retryCount = evaluteData.retryCount;
    m_evaluation.stepLen = evaluteData.stepLen;
    const TrialResult trial {error, evaluteData.Kp, uint16_t(int(evaluteData.Ki) - evaluteData.kiDelta), 0};

    switch (result % 10) {
    case 3:
        m_evaluation.kiDelta = evaluteData.kiDelta;
        Q_FALLTHROUGH();
    case 1:
    case 2:
        m_trials.append(trial);
        ++m_evaluation.trialCount;
        if (m_evaluation.trialCount >= MAX_TRIALS) {
            // The last proposal is never tried: the user chooses among the tried gains.
            offerChoice(result);
        } else {
            setPhase(PHASE_NEXT_TRIAL);
            writeTestGains(m_evaluation.Kp, m_evaluation.Ki);
        }
        break;
    case 0:
        setPhase(PHASE_IDLE);
        stopMotor();
        emit sendTextForMsgBox(tr("Controller tuning was succesful"), true);
        emit testFinished();
        break;
    default: // -1
        setPhase(PHASE_FAILED);
        stopMotor();
        emit sendTextForMsgBox(tr("Controller tuning was failed"), true);
        emit testFinished();
        break;
    }
}

void TestHelper::offerChoice(int8_t result)
{
    setPhase(PHASE_IDLE);
    m_runState = RUN_IDLE;
    stopMotor();
    emit testFinished();
    if (bestTrial(m_trials) >= 0)
        emit chooseController(result >= 10 || result <= -10);
}

// ---- interruptions -------------------------------------------------------------------------------

void TestHelper::resetControl(QString msg, uint8_t code)
{
    Q_UNUSED(msg)
    tuningDebug(TAG) << "reset control code:" << int(code);
    const bool active = isActive(m_phase.load());
    switch (code) {
    case 1: // stalled motor
        if (!active)
            return;
        if (m_evaluation.trialCount == 0)
            writeTestGains(m_evaluation.Kp, uint16_t(m_evaluation.Ki + STALL_KI_RAISE));
        setPhase(PHASE_IDLE);
        m_runState = RUN_IDLE;
        stopMotor();
        emit testFinished();
        break;
    case 2: // control signal lost
        setPhase(PHASE_FAILED);
        m_runState = RUN_STOPPED;
        if (active)
            stopMotor();
        emit testFinished();
        break;
    case 4: // error in the controller
        setPhase(PHASE_IDLE);
        m_runState = RUN_IDLE;
        if (active) {
            stopMotor();
            emit testFinished();
        }
        break;
    default:
        break;
    }
}

void TestHelper::deviceConnectionState(Device_State_e deviceState)
{
    m_deviceState = deviceState;
    if (deviceState == DEVICE_RUNNING || !isActive(m_phase.load()))
        return;
    // The motor is no longer under control: the run cannot go on.
    interrupt(deviceState == DEVICE_DISCONNECTED ? "Disconnect" : "Device stopped running");
}

void TestHelper::interrupt(const char *reason)
{
    stopMotor();
    setPhase(PHASE_FAILED);
    m_runState = RUN_STOPPED;
    m_stepTicks = 0;
    m_tickCounter = 0;
    emit sendTextForMsgBox(tr("Tuning fail"), false);
    emit sendTextForMsgBox(tr("Tuning fail"), false);
    emit testFinished();
    tuningDebug(TAG) << "Break test";
    tuningDebug(TAG) << reason;
}

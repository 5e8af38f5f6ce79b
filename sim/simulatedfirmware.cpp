#include "sim/simulatedfirmware.h"

#include "sim/simlog.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 DEFAULT_FAILSAFE_US = 500000; // when the motion record sets no time to leave
constexpr double ESC_WARNING_TEMPERATURE_C = 80.0;
constexpr uint32_t WARNING_OVERTEMP_ESC = 1u << 0;
constexpr uint8_t STALL_CODE = 1;
constexpr qint64 STEP_US = 1000;
// The identification turns the motor only while the host is there: a second without any
// frame from it (port or adapter gone) stops the run.
constexpr qint64 IDENT_LINK_TIMEOUT_US = 1000000;

// Identification error codes this controller reports through IDENT_ERROR.
constexpr uint8_t IDENT_ERR_NONE = 0;
constexpr uint8_t IDENT_ERR_USER_PARAMS = 1;
constexpr uint8_t IDENT_ERR_STOPPED = 2;
constexpr uint8_t IDENT_ERR_STEP_FAILED = 3;

QByteArray code(uint8_t answerCode)
{
    return QByteArray(1, char(answerCode));
}

bool userParamsComplete(const MOTOR_TOTAL &m)
{
    return m.voltage_scale != 0 && m.maxFrequency != 0 && m.maxMotorCurrent != 0 && m.polePairs != 0
        && m.resCurrent != 0 && m.indCurrent != 0;
}

bool within(float value, float low, float high)
{
    return std::isfinite(value) && value > low && value <= high;
}

// The record a controller keeps after an identification of the configured motor,
// with the limits the host computes from its data sheet values.
MOTOR_TOTAL identifiedMotor(const MotorConfig &motor)
{
    MOTOR_TOTAL m;
    m.Rs = float(motor.rs);
    m.Ls_d = float(motor.ls);
    m.Ls_q = float(motor.ls * 1.05); // a little saliency
    m.Flux = float(60.0 / (std::max(motor.kv, 1.0) * std::max(motor.polePairs, 1)));
    const double volts = motor.cells * 4.2;
    const double maxFrequency = motor.kv * volts / 60.0 * motor.polePairs;
    m.voltage_scale = uint16_t(std::clamp(motor.cells * 42 - 1, 0, 65535));
    m.maxFrequency = uint16_t(std::clamp(std::lround(maxFrequency), 0L, 65535L));
    m.maxMotorCurrent = uint16_t(std::clamp(std::lround(motor.maxCurrent * 10.0), 0L, 65535L));
    m.polePairs = uint8_t(motor.polePairs);
    m.validData = 1;
    m.fluxFrequency = uint8_t(long(maxFrequency / 20.0) & 0xFF);
    const auto measurementCurrent = uint16_t(long(std::ceil(motor.maxCurrent / 10.0 * 100.0)) & 0xFFF);
    m.resCurrent = measurementCurrent;
    m.indCurrent = measurementCurrent;
    return m;
}

} // namespace

SimulatedFirmware::SimulatedFirmware(const SimulatorConfig &config)
    : m_config(config)
    , m_running(config.identity.startRunning)
    , m_motorModel(config.motor)
    , m_ident(config.ident)
    , m_predictionPending(config.ident.predictedErrorCode != 0)
{
    if (!config.identity.blankMotor)
        m_motor = identifiedMotor(config.motor);

    m_pwmIn.deadZone = 10;
    m_pwmIn.controlType = true; // speed control, the only kind the program offers
    m_pwmIn.digitalControl = true;
    m_pwmIn.speedNorm = 2000;
    m_pwmIn.scale = 100;

    m_motion.acceleration = 50;
    m_motion.brakeIntensity = 70;
    m_motion.brakeEnable = true;
    m_motion.timeToLeave = 10; // 500 ms without commands stops the motor
    m_motion.Kp = 205;         // 0.2
    m_motion.Ki = 102;         // 0.1: the speed loop settles a step within about a second
    if (config.identity.address <= 7) {
        m_motion.deviceAddress = config.identity.address;
    } else {
        m_motion.hwAddress = true; // an address the record cannot hold comes from hardware
    }

    // A used controller: one undervoltage and a demagnetisation warning in its past.
    m_errorLog.allErrors = m_errorLog.prevErrors = 1u << 2;
    m_errorLog.allWarnings = m_errorLog.prevWarnings = 1u << 1;
}

uint8_t SimulatedFirmware::busAddress() const
{
    return m_motion.hwAddress ? m_config.identity.address : m_motion.deviceAddress;
}

bool SimulatedFirmware::acceptsAddress(uint8_t frameAddress) const
{
    return frameAddress == busAddress() || frameAddress == NO_DEVICE_ADDRESS;
}

uint32_t SimulatedFirmware::motorSeconds() const
{
    return m_config.identity.motorSeconds + uint32_t(m_motorUs / 1000000);
}

FirmwareAnswer SimulatedFirmware::handle(uint8_t msgId, const QByteArray &payload)
{
    FirmwareAnswer answer;
    answer.answered = true;
    m_lastFrameUs = m_nowUs;
    QByteArray &out = answer.payload;
    switch (msgId) {
    case VyxMsg::GET_DEVICE_INFO:
        out = identityAnswer();
        break;
    case VyxMsg::GET_STATUS:
        out = statusBlock(ANSWER_OK);
        if (!m_running)
            clearReports(); // nothing acknowledges them outside control mode: report once
        break;
    case VyxMsg::GET_ERROR_LOG:
        out = m_errorLog.pack();
        break;
    case VyxMsg::CLEAR_ERROR_LOG:
        m_errorLog = ERROR_WARN_LOG();
        out = code(ANSWER_OK);
        break;
    case VyxMsg::GET_RUN_DATA:
        out = runDataAnswer();
        break;
    case VyxMsg::SET_MOTOR_USER_PARAMS:
        out = code(writeUserParams(payload));
        break;
    case VyxMsg::GET_MOTOR_USER_PARAMS:
        out = m_motor.packUser();
        break;
    case VyxMsg::IDENT_RUN:
        out = code(startIdentification());
        break;
    case VyxMsg::IDENT_STOP:
        out = code(stopIdentification());
        break;
    case VyxMsg::START_RUN:
        if (m_ident.isWalking()) {
            out = code(ANSWER_REFUSED);
        } else {
            m_running = true;
            m_lastCommandUs = m_nowUs;
            out = code(ANSWER_OK);
        }
        break;
    case VyxMsg::IDENT_ERROR:
        out = code(m_identErrorCode);
        break;
    case VyxMsg::GET_MOTOR_PARAMS:
        out = m_motor.packIdent();
        if (m_ident.isFinished())
            m_ident.clearReport(); // the host has the result
        break;
    case VyxMsg::SET_MOTOR_IDENT_PARAMS:
        out = code(writeIdentParams(payload));
        break;
    case VyxMsg::GET_MOTION_PARAMS:
        out = m_motion.pack();
        break;
    case VyxMsg::WRITE_MOTION_PARAMS:
        out = code(writeMotionParams(payload));
        break;
    case VyxMsg::GET_PWM_IN_PARAMS:
        out = m_pwmIn.pack();
        break;
    case VyxMsg::WRITE_PWM_IN_PARAMS:
        out = code(writePwmInParams(payload));
        break;
    case VyxMsg::GET_MOTOR_HOURS:
        out = packMotorHours(motorSeconds());
        break;
    case VyxMsg::GET_RESISTANCES:
        out = resistancesAnswer();
        break;
    case VyxMsg::TELEMETRY:
        out = telemetryAnswer(payload);
        break;
    case VyxMsg::FIRMWARE_UPDATE_ENTRY:
        // Never jump into the bootloader with the motor under control or identifying.
        if (m_running || m_ident.isWalking()) {
            out = code(ANSWER_REFUSED);
        } else {
            out = code(ANSWER_OK);
            answer.enterBootloader = true;
        }
        break;
    default:
        qCDebug(lcSim) << "SIM: no answer to unknown message" << Qt::hex << msgId;
        answer.answered = false;
        break;
    }
    return answer;
}

QByteArray SimulatedFirmware::identityAnswer() const
{
    DeviceIdentity id;
    id.answerCode = ANSWER_OK;
    id.runFlag = m_running ? 1 : 0;
    id.fw = { m_config.identity.fwMajor, m_config.identity.fwMiddle, m_config.identity.fwMinor };
    id.serialNumber = m_config.identity.serialNumber;
    id.hwBuild = m_config.identity.hwBuild;
    id.address = busAddress();
    const int shortLength = m_config.identity.shortLayoutLength;
    if (shortLength >= 2 && shortLength <= DeviceIdentity::SHORT_LAYOUT_MAX)
        return id.encodeShort(shortLength);
    return id.encodeLong();
}

QByteArray SimulatedFirmware::statusBlock(uint8_t answerCode)
{
    Poll_Answer_s v;
    if (m_ident.hasReport()) {
        v.hasIdState = true;
        v.idState = m_ident.statusByte();
    }
    const auto stored = std::find_if(m_pendingSaves.begin(), m_pendingSaves.end(),
                                     [this](const PendingSave &s) { return s.readyAtUs <= m_nowUs; });
    if (stored != m_pendingSaves.end()) {
        v.hasSavedMsg = true;
        v.savedMsgId = stored->msgId;
        m_pendingSaves.erase(stored);
    }
    if (m_ident.hasReport() && m_ident.predictedError() != 0) {
        v.hasErrorPrediction = true;
        v.errorPrediction = uint8_t(m_ident.predictedError());
    }
    if (m_stallLatched) {
        v.hasStall = true;
        v.stallCode = STALL_CODE;
    }
    if (m_errorLatched) {
        v.hasError = true;
        v.errorCode = m_errorCode;
    }
    return StatusBlock::encode(answerCode, v);
}

QByteArray SimulatedFirmware::telemetryAnswer(const QByteArray &payload)
{
    if (!m_running)
        return StatusBlock::encode(ANSWER_REFUSED, Poll_Answer_s());

    const DutyCommand command = DutyCommand::decode(payload);
    m_lastCommandUs = m_nowUs;
    if (!command.enable) {
        // The host switched control off: that acknowledges stall and error reports.
        clearReports();
        stopMotor();
    } else if (!m_stallLatched && !m_errorLatched) {
        this->command(double(command.duty) / DutyCommand::FULL_SCALE);
    }
    const ONLINE_QUANTS_S sample = m_override ? *m_override : m_motorModel.sample();
    return statusBlock(ANSWER_OK) + TelemetryRecord::fromQuantities(sample).pack();
}

void SimulatedFirmware::takeNewVersion()
{
    ++m_config.identity.fwMinor;
}

void SimulatedFirmware::takeSerialNumber(uint32_t serialNumber)
{
    m_config.identity.serialNumber = serialNumber;
}

void SimulatedFirmware::takeOtherSettings()
{
    m_motion.Kp = 307;         // 0.3
    m_motion.timeToLeave = 20; // 1000 ms
}

void SimulatedFirmware::command(double fraction)
{
    if (!isSpeedControl()) {
        m_speedReference = 0.0;
        m_motorModel.setDuty(fraction);
        return;
    }
    m_speedReference = std::clamp(fraction, -1.0, 1.0);
    if (m_speedReference == 0.0)
        stopMotor();
}

void SimulatedFirmware::stopMotor()
{
    m_speedReference = 0.0;
    m_speedLoop.reset();
    m_motorModel.setDuty(0.0);
}

QByteArray SimulatedFirmware::runDataAnswer() const
{
    RUN_DATA run;
    run.maxCurrent = uint16_t(std::clamp(std::lround(m_motorModel.maxCurrent() * 256.0), 0L, 4095L));
    run.avgCurrent = uint16_t(std::clamp(std::lround(m_motorModel.averageCurrent() * 10.0), 0L, 4095L));
    run.maxTempEsc = uint8_t(std::clamp(std::lround(m_motorModel.maxEscTemperature() + 50.0), 0L, 255L));
    run.maxTempMotor = uint8_t(std::clamp(std::lround(m_motorModel.maxMotorTemperature() + 50.0), 0L, 255L));
    return run.pack();
}

QByteArray SimulatedFirmware::resistancesAnswer() const
{
    // Three windings are never quite equal.
    const double rs = m_motorModel.resistanceNow();
    RESISTANCE r;
    r.phaseA = float(rs * 1.015);
    r.phaseB = float(rs * 0.992);
    r.phaseC = float(rs * 1.004);
    r.global = (r.phaseA + r.phaseB + r.phaseC) / 3.0f;
    return r.pack();
}

uint8_t SimulatedFirmware::writeUserParams(const QByteArray &payload)
{
    MOTOR_TOTAL candidate = m_motor;
    if (!candidate.unpackUser(payload) || !userParamsComplete(candidate)) {
        m_identErrorCode = IDENT_ERR_USER_PARAMS;
        return ANSWER_REFUSED;
    }
    // A correction: the limit that the last run's prediction complained about was raised.
    const int predicted = m_config.ident.predictedErrorCode;
    const bool raised = (predicted == 4 && candidate.resCurrent > m_paramsOfLastRun.resCurrent)
        || (predicted == 7 && candidate.fluxFrequency > m_paramsOfLastRun.fluxFrequency);
    if (m_predictionRaised && raised)
        m_predictionPending = false;
    if (m_ident.isWalking())
        m_ident.stop(); // new limits: the run has to start again
    m_motor = candidate;
    return ANSWER_OK;
}

uint8_t SimulatedFirmware::startIdentification()
{
    if (m_running || m_motorModel.isSpinning())
        return ANSWER_REFUSED;
    if (!userParamsComplete(m_motor)) {
        m_identErrorCode = IDENT_ERR_USER_PARAMS;
        return ANSWER_REFUSED;
    }
    m_paramsOfLastRun = m_motor;
    m_predictionRaised = false;
    m_identErrorCode = IDENT_ERR_NONE;
    m_resultStored = false;
    m_ident.start(m_motor.fluxFrequency, m_predictionPending ? m_config.ident.predictedErrorCode : 0);
    qCDebug(lcSim) << "SIM: identification started";
    return ANSWER_OK;
}

uint8_t SimulatedFirmware::stopIdentification()
{
    if (m_ident.isWalking()) {
        m_identErrorCode = IDENT_ERR_STOPPED;
    } else if (!m_ident.hasFailed()) {
        return ANSWER_REFUSED; // nothing to stop
    }
    m_ident.stop();
    return ANSWER_OK;
}

uint8_t SimulatedFirmware::writeIdentParams(const QByteArray &payload)
{
    MOTOR_TOTAL candidate = m_motor;
    if (m_ident.isWalking() || !candidate.unpackIdent(payload))
        return ANSWER_REFUSED;
    if (!within(candidate.Rs, 0.0f, 10.0f) || !within(candidate.Ls_d, 0.0f, 0.1f)
        || !within(candidate.Ls_q, 0.0f, 0.1f) || !within(candidate.Flux, 0.0f, 2.0f))
        return ANSWER_REFUSED;
    m_motor = candidate;
    scheduleSave(VyxMsg::SET_MOTOR_IDENT_PARAMS);
    return ANSWER_OK;
}

uint8_t SimulatedFirmware::writeMotionParams(const QByteArray &payload)
{
    if (payload.size() != SET_MOTION_PARAMS::WIRE_SIZE)
        return ANSWER_REFUSED;
    const SET_MOTION_PARAMS candidate = SET_MOTION_PARAMS::unpack(payload);
    if (!candidate.isPlausible())
        return ANSWER_REFUSED;
    m_motion = candidate;
    scheduleSave(VyxMsg::WRITE_MOTION_PARAMS);
    return ANSWER_OK;
}

uint8_t SimulatedFirmware::writePwmInParams(const QByteArray &payload)
{
    if (payload.size() != SET_PWM_IN_PARAMS::WIRE_SIZE)
        return ANSWER_REFUSED;
    SET_PWM_IN_PARAMS candidate = SET_PWM_IN_PARAMS::unpack(payload);
    // Both PWM types are valid settings; the levels and the dead zone must make sense.
    SET_PWM_IN_PARAMS rangesOnly = candidate;
    rangesOnly.pwmType = false;
    if (!rangesOnly.isPlausible())
        return ANSWER_REFUSED;
    m_pwmIn = candidate;
    scheduleSave(VyxMsg::WRITE_PWM_IN_PARAMS);
    return ANSWER_OK;
}

void SimulatedFirmware::scheduleSave(uint8_t msgId)
{
    m_pendingSaves.append({ msgId, m_nowUs + STORE_TIME_US });
}

void SimulatedFirmware::storeIdentificationResult()
{
    const MOTOR_TOTAL identified = identifiedMotor(m_config.motor);
    m_motor.Rs = identified.Rs;
    m_motor.Ls_d = identified.Ls_d;
    m_motor.Ls_q = identified.Ls_q;
    m_motor.Flux = identified.Flux;
    m_resultStored = true;
    qCDebug(lcSim) << "SIM: identification finished";
}

void SimulatedFirmware::injectStall()
{
    m_stallLatched = true;
    stopMotor();
    m_motorModel.setStalled(true);
}

void SimulatedFirmware::injectError(uint8_t errorCode)
{
    raiseError(errorCode);
}

void SimulatedFirmware::raiseError(uint8_t errorCode)
{
    m_errorLatched = true;
    m_errorCode = errorCode;
    if (errorCode >= 1 && errorCode <= 32) {
        const uint32_t bit = 1u << (errorCode - 1);
        m_errorLog.lastErrors |= bit;
        m_errorLog.allErrors |= bit;
    }
    stopMotor();
}

void SimulatedFirmware::clearReports()
{
    m_stallLatched = false;
    m_errorLatched = false;
    m_motorModel.setStalled(false);
}

void SimulatedFirmware::advance(qint64 us)
{
    // Small steps, so that time-outs and timed faults fire on time in a long advance.
    while (us > 0) {
        const qint64 stepUs = std::min<qint64>(us, STEP_US);
        step(stepUs);
        us -= stepUs;
    }
}

void SimulatedFirmware::step(qint64 us)
{
    m_nowUs += us;
    if (m_speedReference != 0.0) {
        m_speedLoop.setGains(m_motion.Kp, m_motion.Ki);
        const double fullSpeed = m_motorModel.fullSpeedRpm();
        m_motorModel.setDuty(m_speedLoop.update(m_speedReference * fullSpeed, m_motorModel.speedRpm(), fullSpeed,
                                                double(us) * 1e-6));
    }
    m_motorModel.advance(us);
    m_ident.advance(us);
    if (m_ident.isWalking() && m_nowUs - m_lastFrameUs > IDENT_LINK_TIMEOUT_US) {
        qCDebug(lcSim) << "SIM: identification stopped, the host is silent";
        m_ident.stop();
        m_identErrorCode = IDENT_ERR_STOPPED;
    }
    if (m_ident.isFinished() && !m_resultStored)
        storeIdentificationResult();
    if (m_ident.hasFailed() && m_identErrorCode == IDENT_ERR_NONE)
        m_identErrorCode = IDENT_ERR_STEP_FAILED;
    if (m_ident.predictedError() != 0)
        m_predictionRaised = true;
    if (m_motorModel.isSpinning())
        m_motorUs += us;
    if (m_motorModel.escTemperature() > ESC_WARNING_TEMPERATURE_C) {
        m_errorLog.lastWarnings |= WARNING_OVERTEMP_ESC;
        m_errorLog.allWarnings |= WARNING_OVERTEMP_ESC;
    }

    // Lost control signal: stop the motor after the motion record's time to leave.
    const qint64 failsafeUs = m_motion.timeToLeave ? qint64(m_motion.timeToLeave) * 50000 : DEFAULT_FAILSAFE_US;
    if (m_running && (m_motorModel.duty() != 0.0 || m_speedReference != 0.0)
        && m_nowUs - m_lastCommandUs > failsafeUs)
        stopMotor();

    const FaultConfig &faults = m_config.faults;
    if (!m_stallInjected && faults.stallAfterMs >= 0 && m_nowUs >= qint64(faults.stallAfterMs) * 1000) {
        m_stallInjected = true;
        injectStall();
    }
    if (!m_errorInjected && faults.errorAfterMs >= 0 && m_nowUs >= qint64(faults.errorAfterMs) * 1000) {
        m_errorInjected = true;
        raiseError(faults.errorCode);
    }
}

void SimulatedFirmware::powerCycle()
{
    m_running = false;
    stopMotor();
    m_motorModel = MotorModel(m_config.motor);
    m_ident.stop();
    m_pendingSaves.clear();
    clearReports();
    m_errorLog.prevErrors = m_errorLog.lastErrors;
    m_errorLog.prevWarnings = m_errorLog.lastWarnings;
    m_errorLog.lastErrors = 0;
    m_errorLog.lastWarnings = 0;
}

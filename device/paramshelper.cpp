#include "device/paramshelper.h"

#include "device/answerpayload.h"
#include "device/devicelog.h"
#include "device/ownthread.h"
#include "device/settingsmodel.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const char *const TAG = "PARAMS_HELPER:";

} // namespace

ParamsHelper::ParamsHelper(RequestChannel *requests, QObject *parent) : QObject(parent), m_requests(requests)
{
    registerDeviceRecordMetaTypes();
    connect(m_requests, &RequestChannel::answered, this, &ParamsHelper::answered);
    connect(m_requests, &RequestChannel::failed, this, &ParamsHelper::failed);
}

void ParamsHelper::send(uint8_t msgId, const QByteArray &payload, bool poll)
{
    m_open.insert(m_requests->send(msgId, payload, poll, true), msgId);
}

bool ParamsHelper::isSending() const
{
    const SendState state = m_state.load();
    const bool inFlight = state == PARAMS_SENDING_PWM_IN || state == PARAMS_SENDING_MOTION
                          || state == PARAMS_ACCEPTED;
    return inFlight || m_pwmIn.pending.load() || m_motion.pending.load();
}

bool ParamsHelper::isConnected() const
{
    return m_deviceState == DEVICE_CONNECTED || m_deviceState == DEVICE_RUNNING;
}

// ---- edits ------------------------------------------------------------------------------------

void ParamsHelper::setPwmInParams(uint16_t lowLevel, uint16_t centerLevel, uint16_t highLevel, uint8_t deadZone,
                                  bool pwmType, bool controlType, bool digitalControl, bool analogControl,
                                  uint16_t speedNorm, double scale)
{
    if (postToOwnThread(this, [=] {
            setPwmInParams(lowLevel, centerLevel, highLevel, deadZone, pwmType, controlType, digitalControl,
                           analogControl, speedNorm, scale);
        }))
        return;
    if (!isConnected())
        return;

    SET_PWM_IN_PARAMS &record = m_pwmIn.toSend; // byte 3 bits 5..7 keep their value
    record.lowLevel = SettingsModel::levelField(lowLevel);
    record.centerLevel = SettingsModel::levelField(centerLevel);
    record.highLevel = SettingsModel::levelField(highLevel);
    record.deadZone = SettingsModel::deadZoneField(deadZone);
    record.pwmType = pwmType;
    record.controlType = controlType;
    record.digitalControl = digitalControl;
    record.analogControl = analogControl;
    record.speedNorm = SettingsModel::speedNormField(speedNorm);
    record.scale = SettingsModel::scaleField(scale);
    m_pwmIn.quietTicks = 0;
    m_pwmIn.pending.store(true);
}

void ParamsHelper::setMotionParams(uint16_t acceleration, uint16_t brakeIntense, bool brakeEnable,
                                   bool reverseDir, uint8_t deviceAddress, bool hwAddress, uint16_t timeToLeave,
                                   float Kp, float Ki)
{
    if (postToOwnThread(this, [=] {
            setMotionParams(acceleration, brakeIntense, brakeEnable, reverseDir, deviceAddress, hwAddress,
                            timeToLeave, Kp, Ki);
        }))
        return;
    if (!isConnected())
        return;
    deviceDebug(TAG) << "Motion device state" << m_deviceState;
    deviceDebug(TAG) << "DeviceAddress" << deviceAddress;

    SET_MOTION_PARAMS record;
    record.acceleration = SettingsModel::accelerationField(acceleration);
    record.brakeIntensity = SettingsModel::brakeIntensityField(brakeIntense);
    record.brakeEnable = brakeEnable;
    record.reverseDir = reverseDir;
    record.deviceAddress = SettingsModel::addressField(deviceAddress);
    record.hwAddress = hwAddress;
    record.timeToLeave = SettingsModel::timeToLeaveField(timeToLeave);
    record.Kp = SettingsModel::gainWord(double(Kp));
    record.Ki = SettingsModel::gainWord(double(Ki));
    m_motion.toSend = record;
    m_motion.quietTicks = 0;
    m_motion.pending.store(true);
}

void ParamsHelper::setPwmInRecord(SET_PWM_IN_PARAMS record)
{
    if (postToOwnThread(this, [=] { setPwmInRecord(record); }))
        return;
    if (!isConnected())
        return;
    m_pwmIn.toSend = record;
    m_pwmIn.quietTicks = 0;
    m_pwmIn.pending.store(true);
}

void ParamsHelper::setMotionRecord(SET_MOTION_PARAMS record)
{
    if (postToOwnThread(this, [=] { setMotionRecord(record); }))
        return;
    if (!isConnected())
        return;
    m_motion.toSend = record;
    m_motion.quietTicks = 0;
    m_motion.pending.store(true);
}

void ParamsHelper::setMotionParamsDirectly(SET_MOTION_PARAMS motionParams)
{
    if (!isConnected())
        return;
    m_motion.toSend = motionParams;
    m_motion.sent = motionParams;
    m_motion.awaitingConfirmation = true;
    m_writeResent = false;
    setState(PARAMS_SENDING_MOTION);
    deviceDebug(TAG) << "Detect send 0x45 message directly Kp:" << motionParams.Kp << "Ki_Kff:" << motionParams.Ki;
    send(VyxMsg::WRITE_MOTION_PARAMS, motionParams.pack(), false);
}

// ---- quiet period -----------------------------------------------------------------------------

void ParamsHelper::tick()
{
    if (m_state.load() == PARAMS_TIMEOUT)
        recoverFromTimeout();
    else if (m_state.load() == PARAMS_ACCEPTED && ++m_acceptedTicks >= CONFIRMATION_TICKS)
        giveUpConfirmation();
    stepQuietPeriod(m_pwmIn, PARAMS_SENDING_PWM_IN);
    stepQuietPeriod(m_motion, PARAMS_SENDING_MOTION);
}

template <typename Record>
void ParamsHelper::stepQuietPeriod(Outgoing<Record> &record, SendState sendingState)
{
    if (!record.pending.load())
        return;
    if (record.quietTicks > QUIET_TICKS && m_state.load() == PARAMS_IDLE) {
        record.pending.store(false);
        setState(sendingState);
        sendRecord();
    }
    if (record.quietTicks < std::numeric_limits<uint32_t>::max())
        ++record.quietTicks;
}

void ParamsHelper::sendRecord()
{
    deviceDebug(TAG) << "Send msg";
    if (!isConnected()) {
        setState(PARAMS_IDLE);
        return;
    }
    m_writeResent = false;
    if (m_state.load() == PARAMS_SENDING_PWM_IN) {
        deviceDebug(TAG) << "Pwm in send";
        m_pwmIn.sent = m_pwmIn.toSend;
        m_pwmIn.awaitingConfirmation = true;
        send(VyxMsg::WRITE_PWM_IN_PARAMS, m_pwmIn.sent.pack(), false);
    } else if (m_state.load() == PARAMS_SENDING_MOTION) {
        deviceDebug(TAG) << "Motion send";
        m_motion.sent = m_motion.toSend;
        m_motion.awaitingConfirmation = true;
        send(VyxMsg::WRITE_MOTION_PARAMS, m_motion.sent.pack(), false);
    }
}

// A request that got no answer must not hold later writes back for good.
void ParamsHelper::recoverFromTimeout()
{
    if (m_lostMsgId == VyxMsg::WRITE_PWM_IN_PARAMS || m_lostMsgId == VyxMsg::WRITE_MOTION_PARAMS)
        emit sendTextForMsgBox(tr("Device did not confirm the settings"), false);
    setState(PARAMS_IDLE);
}

void ParamsHelper::giveUpConfirmation()
{
    m_pwmIn.awaitingConfirmation = false;
    m_motion.awaitingConfirmation = false;
    emit sendTextForMsgBox(tr("Device did not confirm the settings"), false);
    setState(PARAMS_IDLE);
}

// ---- answers and confirmations ------------------------------------------------------------------

// Only this helper's requests are answered on its channel. An answer with another id than
// its request's is no answer to it: the request counts as lost. The controller's stored
// confirmation comes with the status polls (receivePollAnswer), not here.
void ParamsHelper::answered(RequestTicket ticket, const VYX_Protocol::VYX_MSG &msg)
{
    const auto it = m_open.constFind(ticket);
    if (it != m_open.constEnd()) {
        const uint8_t asked = it.value();
        m_open.erase(it);
        if (asked != msg.msgId) {
            deviceDebug(TAG) << "answer" << Qt::hex << msg.msgId << "in place of" << asked;
            requestLost(asked, true);
            return;
        }
    }
    const AnswerPayload payload(msg);
    switch (msg.msgId) {
    case VyxMsg::WRITE_PWM_IN_PARAMS:
        if (payload.answerCode() == ANSWER_OK) {
            deviceDebug(TAG) << "Received pwm in params";
            m_acceptedTicks = 0;
            setState(PARAMS_ACCEPTED);
        } else {
            // Refused, or an answer without a code: nothing is stored, nothing to wait for.
            m_pwmIn.awaitingConfirmation = false;
            setState(PARAMS_IDLE);
            if (payload.answerCode() == ANSWER_REFUSED)
                emit recordRefused(msg.msgId);
        }
        break;
    case VyxMsg::WRITE_MOTION_PARAMS:
        if (payload.answerCode() == ANSWER_OK) {
            // The address of the record the device accepted, not of a newer edit.
            emit updateDeviceAddress(m_motion.sent.deviceAddress);
            deviceDebug(TAG) << "Received motion param";
            m_acceptedTicks = 0;
            setState(PARAMS_ACCEPTED);
        } else {
            m_motion.awaitingConfirmation = false;
            setState(PARAMS_IDLE);
            if (payload.answerCode() == ANSWER_REFUSED)
                emit recordRefused(msg.msgId);
        }
        break;
    case VyxMsg::GET_ERROR_LOG:
        m_errorLog = ERROR_WARN_LOG::unpack(payload.data(), payload.length());
        emit fillErrors(m_errorLog);
        deviceDebug(TAG) << "Er_a" << Qt::hex << m_errorLog.lastErrors;
        deviceDebug(TAG) << "Er_i" << Qt::hex << m_errorLog.prevErrors;
        break;
    case VyxMsg::CLEAR_ERROR_LOG:
        if (payload.answerCode() == ANSWER_OK)
            emit sendTextForMsgBox(tr("Error log was cleared"), true);
        else
            emit sendTextForMsgBox(tr("Problem with clearing of error log"), true);
        requestErrorLog();
        break;
    case VyxMsg::GET_RUN_DATA:
        m_runData = RUN_DATA::unpack(payload.data(), payload.length());
        emit fillData(m_runData);
        break;
    case VyxMsg::GET_RESISTANCES:
        m_resistances = RESISTANCE::unpack(payload.data(), payload.length());
        emit fillResistances(m_resistances);
        deviceDebug(TAG) << QString::number(double(m_resistances.global), 'g', 6);
        break;
    default:
        break;
    }
}

void ParamsHelper::receivePollAnswer(Poll_Answer_s pollAns)
{
    if (!pollAns.hasSavedMsg)
        return;
    if (pollAns.savedMsgId == VyxMsg::WRITE_PWM_IN_PARAMS) {
        deviceDebug(TAG) << "Pwm in poll ans";
        confirmPwmIn();
    } else if (pollAns.savedMsgId == VyxMsg::WRITE_MOTION_PARAMS) {
        deviceDebug(TAG) << "Motion poll ans";
        confirmMotion();
    }
}

// A confirmation that no write of ours is waiting for would hand the device model a
// record that was never stored (or the defaults): it is only logged.
void ParamsHelper::confirmPwmIn()
{
    if (!m_pwmIn.awaitingConfirmation) {
        deviceDebug(TAG) << "unexpected confirmation of 0x47";
        return;
    }
    m_pwmIn.awaitingConfirmation = false;
    setState(PARAMS_IDLE);
    emit updateCheckBox(Qt::Checked, Qt::PartiallyChecked);
    emit device_setPwmInParams(m_pwmIn.sent);
}

void ParamsHelper::confirmMotion()
{
    if (!m_motion.awaitingConfirmation) {
        deviceDebug(TAG) << "unexpected confirmation of 0x45";
        return;
    }
    m_motion.awaitingConfirmation = false;
    setState(PARAMS_IDLE);
    emit updateCheckBox(Qt::PartiallyChecked, Qt::Checked);
    emit device_setMotionParams(m_motion.sent);
}

void ParamsHelper::failed(RequestTicket ticket, RequestFailure reason)
{
    const auto it = m_open.constFind(ticket);
    if (it == m_open.constEnd())
        return;
    const uint8_t msgId = it.value();
    m_open.erase(it);
    // Without a port (or with the bootloader on the line) the device is dropped, which
    // releases every write (deviceConnectionState).
    if (!endsWithTheConnection(reason))
        requestLost(msgId, wasWrittenAndLost(reason));
}

void ParamsHelper::requestLost(uint8_t msgId, bool written)
{
    if (isWriteInFlight(msgId)) {
        writeLost(msgId, written);
        return;
    }
    if (m_state.load() != PARAMS_IDLE)
        return; // a lost diagnostic request must not hide the state of a write
    m_lostMsgId = msgId;
    setState(PARAMS_TIMEOUT);
}

bool ParamsHelper::isWriteInFlight(uint8_t msgId) const
{
    const SendState state = m_state.load();
    return (state == PARAMS_SENDING_PWM_IN && msgId == VyxMsg::WRITE_PWM_IN_PARAMS)
           || (state == PARAMS_SENDING_MOTION && msgId == VyxMsg::WRITE_MOTION_PARAMS);
}

// A write dropped from the queue behind another request's loss never reached the
// controller: it is simply sent again. A write that went out and got no answer is sent once
// more; if that is lost too the record is released with a message, so the page can be left
// and later edits go out.
void ParamsHelper::writeLost(uint8_t msgId, bool written)
{
    const bool pwmIn = msgId == VyxMsg::WRITE_PWM_IN_PARAMS;
    if (!written && isConnected()) {
        deviceDebug(TAG) << "write dropped unwritten, sent again" << Qt::hex << msgId;
        send(msgId, pwmIn ? m_pwmIn.sent.pack() : m_motion.sent.pack(), false);
        return;
    }
    if (!m_writeResent && isConnected()) {
        m_writeResent = true;
        deviceDebug(TAG) << "write lost, sent again" << Qt::hex << msgId;
        send(msgId, pwmIn ? m_pwmIn.sent.pack() : m_motion.sent.pack(), false);
        return;
    }
    (pwmIn ? m_pwmIn.awaitingConfirmation : m_motion.awaitingConfirmation) = false;
    setState(PARAMS_IDLE);
    emit sendTextForMsgBox(tr("Device did not confirm the settings"), false);
}

void ParamsHelper::deviceConnectionState(Device_State_e deviceState)
{
    m_deviceState = deviceState;
    if (deviceState == DEVICE_DISCONNECTED) {
        m_pwmIn.awaitingConfirmation = false;
        m_motion.awaitingConfirmation = false;
        setState(PARAMS_IDLE);
        emit updateCheckBox(Qt::Unchecked, Qt::Unchecked);
    } else if (m_state.load() == PARAMS_TIMEOUT
               && (deviceState == DEVICE_CONNECTED || deviceState == DEVICE_RUNNING)) {
        setState(PARAMS_IDLE);
    }
}

// ---- diagnostics ------------------------------------------------------------------------------

void ParamsHelper::requestErrorLog()
{
    if (postToOwnThread(this, [this] { requestErrorLog(); }))
        return;
    deviceDebug(TAG) << "device state in error log" << m_deviceState;
    requestDiagnostic(VyxMsg::GET_ERROR_LOG);
}

void ParamsHelper::clearErrorLog()
{
    if (postToOwnThread(this, [this] { clearErrorLog(); }))
        return;
    requestDiagnostic(VyxMsg::CLEAR_ERROR_LOG);
}

void ParamsHelper::requestRunData()
{
    if (postToOwnThread(this, [this] { requestRunData(); }))
        return;
    requestDiagnostic(VyxMsg::GET_RUN_DATA);
}

void ParamsHelper::requestResistances()
{
    if (postToOwnThread(this, [this] { requestResistances(); }))
        return;
    deviceDebug(TAG) << "device state in resistance" << m_deviceState;
    requestDiagnostic(VyxMsg::GET_RESISTANCES);
}

void ParamsHelper::requestDiagnostic(uint8_t msgId)
{
    if (isConnected())
        send(msgId, QByteArray(), true);
    else
        emit sendTextForMsgBox(tr("Device is not connected"), true);
}

#include "device/device.h"

#include "device/answerpayload.h"
#include "device/devicelog.h"
#include "device/settingsmodel.h"


#include <cmath>
#include <limits>

namespace {

const char *const TAG = "DEVICE:";

constexpr uint16_t MOTOR_PARAM_HALVES = Device::READ_MOTOR_PARAMS | Device::READ_MOTOR_USER_PARAMS;

bool isReadingState(Device_State_e state)
{
    return state == DEVICE_CONNECTED || state == DEVICE_RUNNING;
}

} // namespace

const std::array<Device::ReadRequest, 5> Device::READ_REQUESTS = {{
    {VyxMsg::GET_PWM_IN_PARAMS, READ_PWM_IN},
    {VyxMsg::GET_MOTION_PARAMS, READ_MOTION},
    {VyxMsg::GET_MOTOR_PARAMS, READ_MOTOR_PARAMS},
    {VyxMsg::GET_MOTOR_USER_PARAMS, READ_MOTOR_USER_PARAMS},
    {VyxMsg::GET_MOTOR_HOURS, READ_MOTOR_HOURS},
}};

Device::Device(RequestChannel *requests, QObject *parent) : QObject(parent), m_requests(requests)
{
    registerDeviceRecordMetaTypes();
    connect(m_requests, &RequestChannel::answered, this, &Device::answered);
    connect(m_requests, &RequestChannel::failed, this, &Device::failed);
}

// ---- identity and state -------------------------------------------------------------------

void Device::createDevice(uint32_t serialNumber, uint8_t fw_h, uint8_t fw_m, uint8_t fw_l, uint32_t hwBuild,
                          uint8_t devAdd)
{
    storeIdentity(serialNumber, fw_h, fw_m, fw_l, hwBuild, devAdd);
    m_pwmInParams = SET_PWM_IN_PARAMS();
    m_motionParams = SET_MOTION_PARAMS();
    m_recordsRead = 0;
    m_motorName.clear();
    announce(DEVICE_CONNECTED, m_deviceAddress, m_fw);
    startReadBatch(READ_ALL);
}

void Device::runDevice(bool actualSerNum, uint32_t serialNumber, uint8_t fw_h, uint8_t fw_m, uint8_t fw_l,
                       uint32_t hwBuild, uint8_t devAdd)
{
    if (!actualSerNum)
        storeIdentity(serialNumber, fw_h, fw_m, fw_l, hwBuild, devAdd);
    announce(DEVICE_RUNNING, m_deviceAddress, m_fw);
    startReadBatch(READ_ALL);
}

void Device::bootloaderRun(bool knownDevice)
{
    // The bootloader answers no stored-data reads.
    endReadBatch();
    m_commandedAddress = NO_DEVICE_ADDRESS;
    announce(DEVICE_BOOT_STARTED, knownDevice ? m_deviceAddress : 0, Device_FW_s());
}

void Device::bootloaderConnected(bool knownDevice)
{
    endReadBatch();
    m_commandedAddress = NO_DEVICE_ADDRESS;
    announce(DEVICE_BOOT_CONNECTED, knownDevice ? m_deviceAddress : 0, Device_FW_s());
}

void Device::deleteDevice()
{
    // Nobody answers any more: re-sending the reads would only keep the line busy.
    endReadBatch();
    m_commandedAddress = NO_DEVICE_ADDRESS;
    m_motorName.clear();
    m_motorParamsRead = 0;
    m_recordsRead = 0;
    announce(DEVICE_DISCONNECTED, 0, Device_FW_s());
    emit ui_fillMotorName(QString());
    emit ui_emptyParams();
}

void Device::storeIdentity(uint32_t serialNumber, uint8_t fw_h, uint8_t fw_m, uint8_t fw_l, uint32_t hwBuild,
                           uint8_t devAdd)
{
    m_serialNumber.store(serialNumber);
    m_fw = {fw_h, fw_m, fw_l};
    m_hwBuild = hwBuild;
    m_deviceAddress = devAdd;
    m_commandedAddress = devAdd;
    m_motorParamsRead = 0; // the motor record may belong to another device
    m_recordsRead = 0;     // so may the settings records
}

void Device::announce(Device_State_e state, uint32_t shownAddress, Device_FW_s fw)
{
    m_state = state;
    emit setDeviceAddress(m_commandedAddress);
    emit deviceConnectionStateChanged(state);
    emit on_connectionChanged(shownAddress, state, fw);
}

void Device::updateDeviceAddress(uint8_t address)
{
    m_deviceAddress = address;
    m_commandedAddress = address;
    emit setDeviceAddress(address);
    emit on_connectionChanged(address, m_state, m_fw);
}

QStringList Device::recordNames(uint16_t mask)
{
    QStringList names;
    if (mask & READ_PWM_IN)
        names << tr("PWM input settings");
    if (mask & READ_MOTION)
        names << tr("motion settings");
    if (mask & READ_MOTOR_PARAMS)
        names << tr("motor parameters");
    if (mask & READ_MOTOR_USER_PARAMS)
        names << tr("motor data");
    if (mask & READ_MOTOR_HOURS)
        names << tr("motor hours");
    return names;
}

// ---- read batch -----------------------------------------------------------------------------

void Device::startReadBatch(uint16_t mask)
{
    m_batchRunning = true;
    m_pendingMask = mask;
    m_missedMask = 0;
    m_failedMask = 0;
    request(mask);
}

// A partial re-read joins a batch that is still running instead of cutting it short.
void Device::extendReadBatch(uint16_t mask)
{
    if (!isReadingState(m_state))
        return;
    if (!m_batchRunning) {
        startReadBatch(mask);
        return;
    }
    m_pendingMask |= mask;
    m_missedMask &= uint16_t(~mask);
    m_failedMask &= uint16_t(~mask);
    request(mask);
}

void Device::endReadBatch()
{
    m_batchRunning = false;
    m_pendingMask = 0;
    m_missedMask = 0;
    m_awaitedReads.clear(); // nobody answers them any more
}

void Device::request(uint16_t mask)
{
    if (mask == 0) {
        m_batchRunning = false;
        if (m_failedMask != 0)
            emit setError(m_failedMask);
        emit readBatchFinished();
        return;
    }
    for (const ReadRequest &entry : READ_REQUESTS) {
        if (mask & entry.mask) {
            m_awaitedReads.insert(m_requests->send(entry.msgId, QByteArray(), false, true), entry.msgId);
        }
    }
}

uint16_t Device::maskOf(uint8_t msgId)
{
    for (const ReadRequest &entry : READ_REQUESTS) {
        if (entry.msgId == msgId)
            return entry.mask;
    }
    return 0;
}

void Device::readAnswered(uint16_t bit)
{
    // Answers are stored in any state; only an awaited one moves the batch on.
    if (!m_batchRunning || !(m_pendingMask & bit))
        return;
    m_pendingMask &= uint16_t(~bit);
    m_missedMask &= uint16_t(~bit);
    if (m_pendingMask == 0)
        request(0);
}

// A read without its answer is asked once more; a second miss gives it up, and the batch
// ends with the error once nothing else is pending.
void Device::readMissed(uint8_t msgId)
{
    const uint16_t bit = maskOf(msgId);
    if (!m_batchRunning || !(m_pendingMask & bit))
        return;
    if (m_missedMask & bit) {
        deviceDebug(TAG) << "read request given up" << Qt::hex << msgId;
        m_failedMask |= bit;
        m_pendingMask &= uint16_t(~bit);
        m_missedMask &= uint16_t(~bit);
        if (m_pendingMask == 0)
            request(0);
    } else {
        m_missedMask |= bit;
        request(bit);
    }
}

// A read that went out and got no answer is missed. One that never went out (dropped from
// the queue behind another request's loss) is simply asked again: the controller has not
// heard it, so it counts for nothing. Without a port (or with the bootloader on the line)
// the device is dropped, which ends the batch.
void Device::failed(RequestTicket ticket, RequestFailure reason)
{
    const auto it = m_awaitedReads.constFind(ticket);
    if (it == m_awaitedReads.constEnd())
        return;
    const uint8_t msgId = it.value();
    m_awaitedReads.erase(it);
    if (endsWithTheConnection(reason))
        return;
    if (wasWrittenAndLost(reason))
        readMissed(msgId);
    else
        askAgain(msgId);
}

void Device::askAgain(uint8_t msgId)
{
    const uint16_t bit = maskOf(msgId);
    if (m_batchRunning && (m_pendingMask & bit))
        request(bit);
}

void Device::updateMotorHours()
{
    extendReadBatch(READ_MOTOR_HOURS);
}

void Device::updateMotorParams()
{
    extendReadBatch(MOTOR_PARAM_HALVES);
}

// ---- answers --------------------------------------------------------------------------------

// An answer with another id than its read's answers nothing: that read counts as missing.
// The answer to a read of an ended batch is still stored, as answers are in any state.
void Device::answered(RequestTicket ticket, const VYX_Protocol::VYX_MSG &msg)
{
    const auto it = m_awaitedReads.constFind(ticket);
    if (it != m_awaitedReads.constEnd()) {
        const uint8_t asked = it.value();
        m_awaitedReads.erase(it);
        if (asked != msg.msgId) {
            deviceDebug(TAG) << "answer" << Qt::hex << msg.msgId << "in place of" << asked;
            readMissed(asked);
            return;
        }
    }
    switch (msg.msgId) {
    case VyxMsg::GET_MOTOR_USER_PARAMS:
        takeMotorUserParams(msg);
        break;
    case VyxMsg::GET_MOTOR_PARAMS:
        takeMotorParams(msg);
        break;
    case VyxMsg::GET_MOTION_PARAMS:
        takeMotionParams(msg);
        break;
    case VyxMsg::GET_PWM_IN_PARAMS:
        takePwmInParams(msg);
        break;
    case VyxMsg::GET_MOTOR_HOURS:
        takeMotorHours(msg);
        break;
    default:
        break;
    }
}

void Device::takeMotorUserParams(const VYX_Protocol::VYX_MSG &msg)
{
    const AnswerPayload payload(msg);
    m_motorParams.unpackUser(payload.bytes(MOTOR_TOTAL::USER_SIZE));
    if (payload.length() >= MOTOR_TOTAL::USER_SIZE)
        m_motorParamsRead |= READ_MOTOR_USER_PARAMS;
    deviceDebug(TAG) << "m_motorParams.Rs:" << m_motorParams.Rs;
    deviceDebug(TAG) << "m_motorParams.Ls_d:" << m_motorParams.Ls_d;
    deviceDebug(TAG) << "m_motorParams.Ls_q:" << m_motorParams.Ls_q;
    deviceDebug(TAG) << "m_motorParams.Flux:" << m_motorParams.Flux;
    deviceDebug(TAG) << "m_motorParams.maxMotorCurrent:" << m_motorParams.maxMotorCurrent;
    deviceDebug(TAG) << "m_motorParams.voltage_scale:" << m_motorParams.voltage_scale;
    deviceDebug(TAG) << "m_motorParams.validData:" << m_motorParams.validData;
    deviceDebug(TAG) << "m_motorParams.polePairs:" << m_motorParams.polePairs;
    readAnswered(READ_MOTOR_USER_PARAMS);
    emit ui_changeUserMotorParams();
}

void Device::takeMotorParams(const VYX_Protocol::VYX_MSG &msg)
{
    const AnswerPayload payload(msg);
    m_motorParams.unpackIdent(payload.bytes(MOTOR_TOTAL::IDENT_SIZE));
    if (payload.length() >= MOTOR_TOTAL::IDENT_SIZE)
        m_motorParamsRead |= READ_MOTOR_PARAMS;
    readAnswered(READ_MOTOR_PARAMS);
}

void Device::takeMotionParams(const VYX_Protocol::VYX_MSG &msg)
{
    const AnswerPayload payload(msg);
    const SET_MOTION_PARAMS record = SET_MOTION_PARAMS::unpack(payload.data(), payload.length());
    if (!record.isPlausible())
        deviceDebug(TAG) << "motion wrong";
    m_motionParams = record;
    if (payload.length() >= SET_MOTION_PARAMS::WIRE_SIZE)
        m_recordsRead |= READ_MOTION;
    emit setControllerParams(uint16_t(m_motionParams.Kp), uint16_t(m_motionParams.Ki));
    readAnswered(READ_MOTION);
    emit ui_fillMotionParams(&m_motionParams, false);
}

void Device::takePwmInParams(const VYX_Protocol::VYX_MSG &msg)
{
    const AnswerPayload payload(msg);
    deviceDebug(TAG) << "In params" << payload.at(0);
    const SET_PWM_IN_PARAMS record = SET_PWM_IN_PARAMS::unpack(payload.data(), payload.length());
    if (!record.isPlausible())
        deviceDebug(TAG) << "motion pwm in";
    setPwmInParams(record);
    if (payload.length() >= SET_PWM_IN_PARAMS::WIRE_SIZE)
        m_recordsRead |= READ_PWM_IN;
    readAnswered(READ_PWM_IN);
    // A release build always refreshes the page; a debug build leaves edits in place.
    emit ui_fillPwmInParams(&m_pwmInParams, !SettingsModel::scaleIsSent());
}

void Device::takeMotorHours(const VYX_Protocol::VYX_MSG &msg)
{
    const AnswerPayload payload(msg);
    m_motorHours = unpackMotorHours(payload.data(), payload.length());
    readAnswered(READ_MOTOR_HOURS);
    emit ui_fillMotorHours(m_motorHours);
    // The database would store an incomplete or stale record as a new motor.
    if ((m_motorParamsRead & MOTOR_PARAM_HALVES) == MOTOR_PARAM_HALVES) {
        m_motorName = emit db_findMotor(&m_motorParams, QString());
    } else {
        deviceDebug(TAG) << "motor parameters not read, motor not looked up";
        m_motorName.clear();
    }
    emit ui_fillMotorName(m_motorName);
}

// ---- records from the parameter exchange and from tuning ----------------------------------

void Device::setMotionParams(SET_MOTION_PARAMS motionParams)
{
    m_motionParams = motionParams;
    emit setControllerParams(uint16_t(m_motionParams.Kp), uint16_t(m_motionParams.Ki));
}

void Device::rereadSettings()
{
    m_recordsRead &= uint16_t(~(READ_PWM_IN | READ_MOTION));
    extendReadBatch(READ_PWM_IN | READ_MOTION);
}

void Device::rereadMotor()
{
    m_motorParamsRead &= uint16_t(~MOTOR_PARAM_HALVES);
    extendReadBatch(MOTOR_PARAM_HALVES);
}

void Device::setPwmInParams(SET_PWM_IN_PARAMS pwmInParams)
{
    deviceDebug(TAG) << "pwm in set again";
    m_pwmInParams = pwmInParams;
}

void Device::updateControllerParams(uint32_t Kp, uint32_t Ki)
{
    deviceDebug(TAG) << "params kp:" << Kp << "Ki:" << Ki;
    m_motionParams.Kp = SettingsModel::gainWordOfThousandths(Kp);
    m_motionParams.Ki = SettingsModel::gainWordOfThousandths(Ki);
    emit ui_fillMotionParams(&m_motionParams, false);
    emit setMotionParamsDirectly(m_motionParams);
}

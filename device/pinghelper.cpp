#include "device/pinghelper.h"

#include "device/answerpayload.h"
#include "device/devicelog.h"
#include "device/ownthread.h"

namespace {

const char *const TAG = "PING_HELPER:";

constexpr uint32_t DUTY_ENABLE_BIT = 1u << 16;

} // namespace

PingHelper::PingHelper(RequestChannel *requests, QObject *parent) : QObject(parent), m_requests(requests)
{
    registerDeviceRecordMetaTypes();
    connect(m_requests, &RequestChannel::answered, this, &PingHelper::answered);
    connect(m_requests, &RequestChannel::failed, this, &PingHelper::failed);
}

// ---- operations -----------------------------------------------------------------------

void PingHelper::enablePolling(bool on)
{
    // Without a port nothing answers any more: a known device is gone.
    const bool dropDevice = !on && isDeviceKnown();
    m_pollingEnabled = on;
    stopDuty(); // a port opened or closed: no motor is under control
    resetMode(on ? PING_SEARCH : PING_OFF);
    if (dropDevice)
        emit device_deleteDevice();
}

void PingHelper::startRun()
{
    if (postToOwnThread(this, [this] { startRun(); }))
        return;
    resetMode(PING_START_RUN);
    send(VyxMsg::START_RUN);
}

void PingHelper::setDutyCycle(int16_t dutyCycle, bool enableDutyCycle)
{
    const uint16_t wireDuty = uint16_t(DutyCommand::dutyFromPercent(dutyCycle));
    m_duty.store((enableDutyCycle ? DUTY_ENABLE_BIT : 0u) | wireDuty);
}

DutyCommand PingHelper::dutyCommand() const
{
    const uint32_t word = m_duty.load();
    DutyCommand command;
    command.enable = (word & DUTY_ENABLE_BIT) != 0;
    command.duty = int16_t(uint16_t(word & 0xFFFF));
    return command;
}

// ---- tick -------------------------------------------------------------------------------

void PingHelper::handleTimeout()
{
    switch (m_mode) {
    case PING_OFF:
    case PING_START_RUN:
        break;
    case PING_SEARCH_RESTART:
        resetMode(PING_SEARCH);
        sendEvery(SEARCH_EVERY, VyxMsg::GET_DEVICE_INFO, QByteArray());
        break;
    case PING_SEARCH:
        sendEvery(SEARCH_EVERY, VyxMsg::GET_DEVICE_INFO, QByteArray());
        break;
    case PING_CONNECTED:
        sendEvery(STATUS_EVERY, VyxMsg::GET_STATUS, QByteArray());
        break;
    case PING_TELEMETRY:
        // The duty command is read at send time, so the newest setting goes out.
        sendEvery(TELEMETRY_EVERY, VyxMsg::TELEMETRY, dutyCommand().encode());
        break;
    }
}

void PingHelper::sendEvery(uint32_t ticks, uint8_t msgId, const QByteArray &payload)
{
    if (++m_tickCounter < ticks)
        return;
    m_tickCounter = 0;
    send(msgId, payload);
}

void PingHelper::send(uint8_t msgId, const QByteArray &payload)
{
    // Device info is only a probe: a silent port must not count as a lost request. Its slot
    // ends at the next tick, so that the tick between two of them is free for the look for a
    // bootloader; a late answer is still its own until the next request goes out.
    const bool search = msgId == VyxMsg::GET_DEVICE_INFO;
    m_open.insert(m_requests->send(msgId, payload, true, !search, search ? SEARCH_SLOT_MS : m_answerLimitMs), msgId);
}

void PingHelper::resetMode(PollMode mode)
{
    m_answerLimitMs = RequestChannel::DEFAULT_ANSWER_LIMIT_MS;
    m_retryCounter = 0;
    m_mode = mode;
    m_tickCounter = 0;
}

// ---- answers ----------------------------------------------------------------------------

// Only this helper's requests are answered on its channel. Answers are taken by their own
// id: a controller that stalled may answer an identity request in the place of the next
// request (see handleIdentity).
void PingHelper::answered(RequestTicket ticket, const VYX_Protocol::VYX_MSG &msg)
{
    m_open.remove(ticket);
    const AnswerPayload payload(msg);
    switch (msg.msgId) {
    case VyxMsg::GET_DEVICE_INFO:
        handleIdentity(msg);
        break;
    case VyxMsg::GET_STATUS:
        m_retryCounter = 0;
        if (payload.answerCode() == ANSWER_OK)
            decodeStatusBlock(payload.data(), payload.length());
        break;
    case VyxMsg::START_RUN:
        if (payload.answerCode() == ANSWER_OK && m_mode == PING_START_RUN) {
            // The device model keeps the identity it already has.
            DeviceIdentity keep;
            keep.address = NO_DEVICE_ADDRESS;
            enterTelemetry(true, keep);
        }
        break;
    case VyxMsg::TELEMETRY:
        handleTelemetry(msg);
        break;
    default: // an answer of another requester's kind cannot reach this channel
        deviceDebug(TAG) << "answer" << Qt::hex << msg.msgId << "not handled";
        break;
    }
}

void PingHelper::handleIdentity(const VYX_Protocol::VYX_MSG &msg)
{
    const AnswerPayload payload(msg);
    if (payload.answerCode() == ANSWER_REFUSED) {
        resetMode(PING_SEARCH_RESTART);
        return;
    }
    if (payload.answerCode() != ANSWER_OK)
        return;

    const DeviceIdentity id = DeviceIdentity::decode(payload.data(), payload.length());
    if (id.longLayout)
        deviceDebug(TAG) << QStringLiteral("FW %1.%2.%3").arg(id.fw.fw_h).arg(id.fw.fw_m).arg(id.fw.fw_l);
    else
        deviceDebug(TAG) << QStringLiteral("FW %1.x.%2").arg(id.fw.fw_h).arg(id.fw.fw_l);
    deviceDebug(TAG) << "SN" << id.serialNumber;
    if (id.hasHwBuild)
        deviceDebug(TAG) << "HW" << id.hwBuild;
    if (id.hasAddress)
        deviceDebug(TAG) << "Dev Id" << id.address;

    // Identity requests are not answered one by one: a controller that stalled answers the
    // ones it missed later. Once the device is known, such an answer changes nothing.
    if (isDeviceKnown() && id.serialNumber == m_knownSerial) {
        deviceDebug(TAG) << "identity of the known device ignored";
        return;
    }
    m_knownSerial = id.serialNumber;
    if (id.runFlag == 0) {
        resetMode(PING_CONNECTED);
        emit device_createDevice(id.serialNumber, id.fw.fw_h, id.fw.fw_m, id.fw.fw_l, id.hwBuild, id.address);
    } else if (id.runFlag == 1) {
        enterTelemetry(false, id);
    }
}

void PingHelper::handleTelemetry(const VYX_Protocol::VYX_MSG &msg)
{
    m_retryCounter = 0;
    const AnswerPayload payload(msg);
    if (payload.answerCode() == ANSWER_OK) {
        const int index = decodeStatusBlock(payload.data(), payload.length());
        if (index < 0) {
            m_sample = ONLINE_QUANTS_S();
        } else {
            // A record shorter than 16 bytes reads its missing bytes as zero.
            TelemetryRecord::unpack(payload.data() + index, payload.length() - index).decodeInto(m_sample);
        }
    } else if (payload.answerCode() == ANSWER_REFUSED) {
        m_sample = ONLINE_QUANTS_S();
    }
    // Any other code repeats the last sample, so the vector keeps one entry per exchange.
    if (m_samples.size() >= 2 * SAMPLES_KEPT)
        m_samples.remove(0, SAMPLES_KEPT);
    m_samples.append(m_sample);
    ++m_sampleNumber;
    emit on_telemetryUpdated(&m_samples);
    emit addSample(m_sample);
    emit telemetrySample(m_sample, m_sampleNumber);
}

int PingHelper::decodeStatusBlock(const uint8_t *data, int length)
{
    const StatusBlock block = StatusBlock::decode(data, length);
    // Stall and error stop the motor even when the block turns out to be cut short; the
    // next request already carries the stop, before the control page has heard of it.
    if (block.flags & (STATUS_STALL | STATUS_ERROR))
        stopDuty();
    if (block.flags & STATUS_STALL)
        emit resetControl(tr("Stalled motor"), 1);
    if (block.flags & STATUS_ERROR)
        emit resetControl(tr("Error occured"), 4);
    if (!block.isValid())
        return -1;
    emit sendPollAnswer(block.values);
    return block.endIndex;
}

void PingHelper::enterTelemetry(bool actualSerNum, const DeviceIdentity &identity)
{
    m_sample = ONLINE_QUANTS_S();
    m_answerLimitMs = TELEMETRY_ANSWER_LIMIT_MS;
    m_retryCounter = 0;
    m_mode = PING_TELEMETRY;
    m_tickCounter = 0;
    emit device_runDevice(actualSerNum, identity.serialNumber, identity.fw.fw_h, identity.fw.fw_m,
                          identity.fw.fw_l, identity.hwBuild, identity.address);
    deviceDebug(TAG) << "clear storage";
    m_samples.clear();
    m_sampleNumber = 0;
    emit changeFile();
}

// ---- lost requests and device state ---------------------------------------------------------

void PingHelper::failed(RequestTicket ticket, RequestFailure reason)
{
    const auto it = m_open.constFind(ticket);
    if (it == m_open.constEnd())
        return;
    const uint8_t msgId = it.value();
    m_open.erase(it);
    // Only a request that went out and got no answer is lost. A repeated poll stands for the
    // one it replaced, and one dropped from the queue behind a lost request was never heard
    // by the controller: the next tick asks anew. Without a port, or with the line given to
    // the bootloader, the device is dropped: no retry is due.
    if (wasWrittenAndLost(reason))
        requestLost(msgId);
}

void PingHelper::requestLost(uint8_t msgId)
{
    // Without a known device a lost request (one dropped as the port went) means nothing.
    if (!isDeviceKnown())
        return;
    switch (msgId) {
    case VyxMsg::START_RUN:
        if (++m_retryCounter >= 2)
            contactLost();
        else
            send(VyxMsg::START_RUN);
        break;
    case VyxMsg::GET_STATUS:
        if (++m_retryCounter >= 2) {
            contactLost();
        } else {
            send(VyxMsg::GET_STATUS);
            m_tickCounter = 0;
        }
        break;
    case VyxMsg::TELEMETRY:
        // Below the limit the next tick simply sends a new request.
        if (++m_retryCounter > TELEMETRY_LOSSES_TOLERATED) {
            deviceDebug(TAG) << "This end of connection";
            contactLost();
        }
        break;
    default:
        break;
    }
}

void PingHelper::contactLost()
{
    // The controller may still hear what it no longer answers: one request with control
    // off goes out before the search, no answer awaited, so that its last command is not
    // a running duty.
    if (m_mode == PING_TELEMETRY) {
        m_open.insert(m_requests->send(VyxMsg::TELEMETRY, DutyCommand {false, 0}.encode(), true, false),
                      VyxMsg::TELEMETRY);
    }
    // A device found again starts with the motor stopped.
    stopDuty();
    resetMode(PING_SEARCH);
    emit device_deleteDevice();
}

bool PingHelper::isDeviceKnown() const
{
    return m_mode == PING_CONNECTED || m_mode == PING_START_RUN || m_mode == PING_TELEMETRY;
}

void PingHelper::deviceConnectionState(Device_State_e deviceState)
{
    m_deviceState = deviceState;
    switch (deviceState) {
    case DEVICE_DISCONNECTED:
        stopDuty();
        // Without a port the search waits for the port to open again.
        resetMode(m_pollingEnabled ? PING_SEARCH : PING_OFF);
        break;
    case DEVICE_BOOT_STARTED:
    case DEVICE_BOOT_CONNECTED:
        resetMode(PING_OFF);
        break;
    case DEVICE_CONNECTED:
    case DEVICE_RUNNING:
        break;
    }
}

#include "sim/simulatedcontroller.h"

#include "sim/simlog.h"
#include "wire/messageids.h"

#include <algorithm>

namespace {

// Longest request kept for the trace; a page write of the bootloader is 258 bytes.
constexpr int MAX_TRACED_REQUEST = 300;

} // namespace

SimulatedController::SimulatedController(const SimulatorConfig &config, QObject *parent)
    : QObject(parent)
    , m_config(config)
    , m_firmware(config)
    , m_bootloader(config.bootloader, config.faults)
    , m_faults(config.faults)
    , m_inBootloader(config.bootloader.startInBootloader)
{
    VYX_Protocol::init(m_rxConfig, 0, 255);
    m_line.setPacing(config.faults.paceOutput, LINE_BYTES_PER_SECOND);
}

void SimulatedController::receiveFromHost(const QByteArray &bytes)
{
    if (m_vanished)
        return;
    // Half-duplex: the controller's receiver and the host's both see every byte the
    // host puts on the line, at the time it has crossed it.
    for (char c : bytes) {
        const qint64 arrival = m_line.occupyLine(m_nowUs);
        m_line.push(c, arrival);
        m_inbound.push_back({ uint8_t(c), arrival });
    }
    processInbound();
    notifyOutput();
}

QByteArray SimulatedController::takeOutput()
{
    return m_line.takeReleased(m_nowUs);
}

bool SimulatedController::hasOutput() const
{
    return m_line.hasReleased(m_nowUs);
}

qint64 SimulatedController::nextEventUs() const
{
    // Host bytes are echoed on the line at their arrival time, so the line's queue holds
    // every arrival as well.
    return m_line.endOfBurstAfter(m_nowUs);
}

void SimulatedController::advance(int ms)
{
    advanceMicroseconds(qint64(ms) * 1000);
}

void SimulatedController::advanceMicroseconds(qint64 us)
{
    if (us <= 0)
        return;
    if (m_vanished) {
        // The line is gone, the controller on its battery is not.
        m_firmware.advance(us);
        m_nowUs += us;
        return;
    }
    const qint64 end = m_nowUs + us;
    const qint64 vanishAt = m_config.faults.vanishAfterMs >= 0 ? qint64(m_config.faults.vanishAfterMs) * 1000 : -1;
    while (m_nowUs < end) {
        // Stop at every byte arrival so that requests are handled at their own time.
        qint64 next = end;
        if (!m_inbound.empty())
            next = std::min(next, std::max(m_nowUs, m_inbound.front().arrivalUs));
        if (vanishAt > m_nowUs)
            next = std::min(next, vanishAt);
        if (m_powerBackAtUs > m_nowUs)
            next = std::min(next, m_powerBackAtUs);
        m_firmware.advance(next - m_nowUs);
        m_nowUs = next;
        if (m_powerBackAtUs >= 0 && m_nowUs >= m_powerBackAtUs) {
            m_powerBackAtUs = -1;
            setPowered(true);
        }
        processInbound();
        if (m_faults.hasVanished(m_nowUs)) {
            vanish();
            return;
        }
    }
    notifyOutput();
}

void SimulatedController::processInbound()
{
    while (!m_inbound.empty() && m_inbound.front().arrivalUs <= m_nowUs) {
        const InboundByte in = m_inbound.front();
        m_inbound.pop_front();
        processByte(in.byte, in.arrivalUs);
    }
}

void SimulatedController::processByte(uint8_t byte, qint64 atUs)
{
    // A silent controller still receives (and counts) frames; it only stops answering.
    if (!m_powered || (m_inBootloader && m_faults.isSilent()))
        return;
    if (m_inBootloader)
        processBootloaderByte(byte, atUs);
    else
        processFirmwareByte(byte, atUs);
}

void SimulatedController::processFirmwareByte(uint8_t byte, qint64 atUs)
{
    if (byte == VYX_Protocol::FRAME_START)
        m_rawRequest.clear();
    if (m_rawRequest.size() < MAX_TRACED_REQUEST)
        m_rawRequest.append(char(byte));

    VYX_Protocol::VYX_MSG msg;
    if (!m_codec.decodeByte(byte, msg, m_rxConfig))
        return;
    emit traffic(true, m_rawRequest, atUs / 1000);
    m_rawRequest.clear();
    handleFrame(msg, atUs);
}

void SimulatedController::handleFrame(const VYX_Protocol::VYX_MSG &msg, qint64 atUs)
{
    if (msg.status != VYX_Protocol::Good) {
        qCDebug(lcSim) << "SIM: ignored a broken frame, status" << msg.status;
        return;
    }
    if (m_replaying) { // the recorded controller answered whatever address it was given
        ++m_requestCounts[msg.msgId];
        replayAnswer(msg.msgId, atUs);
        return;
    }
    if (!m_firmware.acceptsAddress(msg.address))
        return; // another controller on the bus is addressed
    ++m_requestCounts[msg.msgId];
    if (m_faults.isSilent())
        return;
    if (msg.msgId == VyxMsg::GET_DEVICE_INFO && m_config.faults.identityAfterMs > 0 && m_identityFromUs < 0)
        m_identityFromUs = atUs + qint64(m_config.faults.identityAfterMs) * 1000;
    if (msg.msgId == VyxMsg::GET_DEVICE_INFO && atUs < m_identityFromUs) {
        qCDebug(lcSim) << "SIM: still booting, no answer to the identity request";
        return;
    }
    if (m_faults.refuseRequest(msg.msgId)) {
        qCDebug(lcSim) << "SIM: refused message" << Qt::hex << msg.msgId << "by the named fault";
        m_faults.countAnswerTo(msg.msgId);
        if (sendAnswer(encodeAnswer(msg.msgId, QByteArray(1, char(ANSWER_REFUSED)), false), atUs))
            ++m_answerCounts[msg.msgId];
        return;
    }
    QByteArray payload = msg.payloadBytes();
    if (msg.msgId == VyxMsg::WRITE_MOTION_PARAMS && payload.size() == SET_MOTION_PARAMS::WIRE_SIZE
        && m_faults.storeOtherKp()) {
        SET_MOTION_PARAMS stored = SET_MOTION_PARAMS::unpack(payload);
        stored.Kp = int16_t(stored.Kp + 1);
        payload = stored.pack();
        ++m_otherKpStored;
        qCDebug(lcSim) << "SIM: stored another Kp than written by the named fault";
    }
    const FirmwareAnswer answer = m_firmware.handle(msg.msgId, payload);
    if (answer.answered) {
        m_faults.countAnswerTo(msg.msgId);
        const bool corrupt = m_faults.corruptAnswer();
        if (m_faults.dropAnswerTo(msg.msgId))
            qCDebug(lcSim) << "SIM: left out the answer to" << Qt::hex << msg.msgId << "by the named fault";
        else if (sendAnswer(spoilableAnswer(msg.msgId, answer.payload, corrupt), atUs))
            ++m_answerCounts[msg.msgId];
    }
    if (answer.enterBootloader)
        enterBootloader();
}

int SimulatedController::requestsReceived(uint8_t msgId) const
{
    const auto it = m_requestCounts.find(msgId);
    return it == m_requestCounts.end() ? 0 : it->second;
}

QByteArray SimulatedController::encodeAnswer(uint8_t msgId, const QByteArray &payload, bool corrupt) const
{
    VYX_Protocol encoder;
    const uint8_t address = m_firmware.busAddress();
    QByteArray frame = encoder.encode(address, msgId, payload);
    if (!corrupt || frame.isEmpty())
        return frame;

    // Replace the checksum (before the end byte; escaped when it is a special byte,
    // and 0x1D occurs in an encoded frame only as the escape) by a wrong one.
    uint8_t sum = uint8_t(address + msgId);
    for (char c : payload)
        sum = uint8_t(sum + uint8_t(c));
    const uint8_t wrong = uint8_t(VYX_Protocol::checksumOf(sum) ^ 0x55);
    const bool escaped = uint8_t(frame.at(frame.size() - 3)) == VYX_Protocol::FRAME_ESCAPE;
    frame.chop(escaped ? 3 : 2);
    if (VYX_Protocol::needsStuffing(wrong)) {
        frame.append(char(VYX_Protocol::FRAME_ESCAPE));
        frame.append(char(wrong ^ VYX_Protocol::STUFF_MASK));
    } else {
        frame.append(char(wrong));
    }
    frame.append(char(VYX_Protocol::FRAME_END));
    return frame;
}

QByteArray SimulatedController::spoilableAnswer(uint8_t msgId, QByteArray payload, bool corrupt)
{
    if (const int bytes = m_faults.unterminatedAnswerBytes(msgId)) {
        qCDebug(lcSim) << "SIM: answered" << Qt::hex << msgId << "with a frame that never ends";
        // No start, end or escape byte after the start: the frame just goes on.
        return QByteArray(1, char(VYX_Protocol::FRAME_START)) + QByteArray(bytes, char(0x41));
    }
    const QByteArray stray = m_faults.strayBytes();
    const uint8_t id = m_faults.wrongId() ? uint8_t(msgId + 1) : msgId;
    const int change = m_faults.lengthChange();
    if (change < 0 || (change > 0 && payload.size() >= VYX_Protocol::MAX_PAYLOAD))
        payload.chop(1);
    else if (change > 0)
        payload.append(char(0x00));
    return stray + encodeAnswer(id, payload, corrupt);
}

void SimulatedController::processBootloaderByte(uint8_t byte, qint64 atUs)
{
    if (m_rawRequest.size() < MAX_TRACED_REQUEST)
        m_rawRequest.append(char(byte));
    const QByteArray answer = m_bootloader.feed(byte, atUs);
    if (!answer.isEmpty()) {
        emit traffic(true, m_rawRequest, atUs / 1000);
        m_rawRequest.clear();
        m_faults.countAnswer();
        sendAnswer(answer, atUs + m_bootloader.takeBusyUs());
    }
    if (m_bootloader.startRequested())
        startApplication();
}

bool SimulatedController::sendAnswer(const QByteArray &bytes, qint64 readyUs)
{
    if (m_faults.dropAnswer()) {
        qCDebug(lcSim) << "SIM: dropped an answer of" << bytes.size() << "bytes";
        return false;
    }
    emit traffic(false, bytes, m_nowUs / 1000);
    const qint64 start = readyUs + m_faults.answerDelayUs();
    for (char c : bytes)
        m_line.push(c, m_line.occupyLine(start));
    return true;
}

void SimulatedController::setReplay(std::map<uint8_t, std::deque<QByteArray>> answers)
{
    auto held = std::make_shared<std::map<uint8_t, std::deque<QByteArray>>>(std::move(answers));
    setReplay([held](uint8_t msgId, QByteArray *frame) {
        auto it = held->find(msgId);
        if (it == held->end() || it->second.empty())
            return false;
        *frame = it->second.front();
        it->second.pop_front();
        return true;
    });
}

void SimulatedController::setReplay(std::function<bool(uint8_t msgId, QByteArray *frame)> nextAnswer)
{
    m_replaying = true;
    m_nextReplayAnswer = std::move(nextAnswer);
    m_replayMissingReported.clear();
}

void SimulatedController::replayAnswer(uint8_t msgId, qint64 atUs)
{
    QByteArray frame;
    if (!m_nextReplayAnswer || !m_nextReplayAnswer(msgId, &frame)) {
        if (m_replayMissingReported.insert(msgId).second)
            emit replayMissing(msgId);
        return;
    }
    if (sendAnswer(frame, atUs))
        ++m_answerCounts[msgId];
}

void SimulatedController::enterBootloader()
{
    qCInfo(lcSim) << "SIM: reset into the bootloader";
    m_firmware.powerCycle();
    m_bootloader.restart();
    m_inBootloader = true;
    m_rawRequest.clear();
}

void SimulatedController::startApplication()
{
    qCInfo(lcSim) << "SIM: bootloader starts the application";
    m_inBootloader = false;
    // An image refused before any page was written leaves the old application in place.
    if (m_config.bootloader.newVersionAfterUpdate && m_bootloader.wroteSinceRestart())
        m_firmware.takeNewVersion();
    if (m_config.bootloader.settingsChangeOnUpdate)
        m_firmware.takeOtherSettings();
    if (m_config.bootloader.serialAfterUpdate != 0)
        m_firmware.takeSerialNumber(m_config.bootloader.serialAfterUpdate);
    m_codec = VYX_Protocol();
    m_rawRequest.clear();
    m_identityFromUs = -1;
    emit applicationStarted();
}

void SimulatedController::setPowered(bool on)
{
    if (on == m_powered)
        return;
    m_powered = on;
    m_rawRequest.clear();
    if (!on) {
        qCInfo(lcSim) << "SIM: power cut";
        return;
    }
    qCInfo(lcSim) << "SIM: power back";
    if (m_inBootloader)
        m_bootloader.restart();
    else
        m_firmware.powerCycle();
    m_identityFromUs = -1;
}

void SimulatedController::powerCycle(int offMs)
{
    setPowered(false);
    m_powerBackAtUs = m_nowUs + qint64(std::max(offMs, 0)) * 1000;
}

void SimulatedController::vanish()
{
    qCInfo(lcSim) << "SIM: the controller vanished";
    m_vanished = true;
    m_line.clear();
    m_inbound.clear();
    emit vanished();
}

void SimulatedController::notifyOutput()
{
    if (hasOutput())
        emit outputAvailable();
}

#include "vyxprotocol.h"

#include <QDebug>
#include <QLoggingCategory>

#include <algorithm>

Q_LOGGING_CATEGORY(lcVyx, "kordo.link.vyx")

void VYX_Protocol::init(VyxRxConfig &config, uint32_t checkAddress, uint8_t address)
{
    config.checkAddress = checkAddress;
    config.address = address;
}

void VYX_Protocol::putStuffed(uint8_t byte)
{
    if (needsStuffing(byte)) {
        m_txBuffer[size_t(m_txSize++)] = FRAME_ESCAPE;
        m_txBuffer[size_t(m_txSize++)] = byte ^ STUFF_MASK;
    } else {
        m_txBuffer[size_t(m_txSize++)] = byte;
    }
}

int VYX_Protocol::encodeFrame(uint8_t address, uint8_t msgId, const uint8_t *payload, uint8_t length)
{
    m_txSize = 0;
    if (length > MAX_PAYLOAD) {
        qCWarning(lcVyx) << "payload of" << length << "bytes is longer than a frame carries";
        return 0;
    }
    m_txBuffer[size_t(m_txSize++)] = FRAME_START;
    putStuffed(address);
    putStuffed(msgId);
    uint8_t sum = uint8_t(address + msgId);
    for (int i = 0; i < length; ++i) {
        putStuffed(payload[i]);
        sum = uint8_t(sum + payload[i]);
    }
    putStuffed(checksumOf(sum));
    m_txBuffer[size_t(m_txSize++)] = FRAME_END;
    return m_txSize;
}

QByteArray VYX_Protocol::encode(uint8_t address, uint8_t msgId, const QByteArray &payload)
{
    if (payload.size() > MAX_PAYLOAD) {
        qCWarning(lcVyx) << "payload of" << payload.size() << "bytes is longer than a frame carries";
        return {};
    }
    const int size = encodeFrame(address, msgId, reinterpret_cast<const uint8_t *>(payload.constData()),
                                 uint8_t(payload.size()));
    return QByteArray(reinterpret_cast<const char *>(m_txBuffer.data()), size);
}

void VYX_Protocol::storeBodyByte(uint8_t byte)
{
    if (m_escapePending) {
        byte ^= STUFF_MASK;
        m_escapePending = 0;
    }
    if (m_writeIndex >= RX_BODY_SIZE) {
        // An over-long body wraps onto its own beginning instead of writing past the buffer.
        m_writeIndex = 0;
        m_bodyOverflowed = true;
    }
    m_rxBuffer[m_writeIndex] = byte;
    m_runningSum = uint8_t(m_runningSum + byte);
    ++m_writeIndex;
}

bool VYX_Protocol::decodeByte(uint8_t byte, VYX_MSG &msgOut, const VyxRxConfig &config)
{
    if (byte == FRAME_START) {
        m_writeIndex = 0;
        m_runningSum = 0;
        m_inFrame = 1;
        m_escapePending = 0;
        m_bodyOverflowed = false;
        return false;
    }
    if (byte == FRAME_ESCAPE) {
        m_escapePending = 1;
        return false;
    }
    if (byte == FRAME_END && m_inFrame) {
        if (m_writeIndex < 3 && !m_bodyOverflowed)
            return false; // too short to be a frame: wait for more or for the next start

        const uint8_t received = m_rxBuffer[m_writeIndex == 0 ? RX_BODY_SIZE - 1 : m_writeIndex - 1];
        const uint8_t expected = checksumOf(uint8_t(m_runningSum - received));
        m_inFrame = 0;

        const uint32_t payloadLength = m_bodyOverflowed ? uint32_t(MAX_PAYLOAD + 1) : m_writeIndex - 3;
        msgOut.status = Good;
        msgOut.address = m_rxBuffer[0];
        msgOut.msgId = m_rxBuffer[1];
        msgOut.checksum = received;
        if (payloadLength > uint32_t(MAX_MSG_PAYLOAD)) {
            msgOut.status |= PayloadOverflow;
            msgOut.length = 0;
            qCDebug(lcVyx) << "dropped a frame with"
                           << (m_bodyOverflowed ? QByteArray("more than 40") : QByteArray::number(payloadLength))
                           << "payload bytes: more than" << MAX_MSG_PAYLOAD << "fit";
        } else {
            msgOut.length = payloadLength;
            std::copy_n(m_rxBuffer.begin() + 2, payloadLength, msgOut.payload.begin());
        }
        if (config.checkAddress && msgOut.address != config.address)
            msgOut.status |= AddressMismatch;
        if (received != expected)
            msgOut.status |= ChecksumError;
        m_bodyOverflowed = false;
        m_writeIndex = 0;
        return true;
    }

    storeBodyByte(byte);
    return false;
}

#pragma once

#include <QByteArray>
#include <QMetaType>

#include <array>
#include <cstdint>

// The VYX frame: 1A, address, message id, payload (0..40 bytes), checksum, 1F.
// Address, id, payload and checksum are byte-stuffed; the checksum is the ones'
// complement of the 8-bit sum of the unstuffed address, id and payload bytes.
// A plain value type: no threads, timers or I/O.
class VYX_Protocol
{
public:
    static constexpr uint8_t FRAME_START = 0x1A;
    static constexpr uint8_t FRAME_ESCAPE = 0x1D;
    static constexpr uint8_t FRAME_END = 0x1F;
    static constexpr uint8_t STUFF_MASK = 0x60;

    static constexpr int MAX_PAYLOAD = 40;          // on the wire, either direction
    static constexpr int MAX_MSG_PAYLOAD = 33;      // what a decoded frame carries
    static constexpr int RX_BODY_SIZE = 43;         // address + id + 40 payload + checksum
    static constexpr int MAX_FRAME_SIZE = 1 + 2 * (3 + MAX_PAYLOAD) + 1; // 88, every byte stuffed

    enum Status : uint8_t {
        Good = 0x00,
        ChecksumError = 0x04,
        AddressMismatch = 0x08,
        // Payload longer than a VYX_MSG holds: the frame is never delivered as good.
        PayloadOverflow = 0x10,
    };

    struct VYX_MSG
    {
        uint8_t status = 0;
        uint8_t address = 0;
        uint8_t msgId = 0;
        std::array<uint8_t, MAX_MSG_PAYLOAD> payload {};
        uint32_t length = 0;
        uint8_t checksum = 0;

        QByteArray payloadBytes() const
        {
            return QByteArray(reinterpret_cast<const char *>(payload.data()), int(length));
        }
    };

    struct VyxRxConfig
    {
        uint32_t checkAddress = 0;
        uint8_t address = 255;
    };

    static void init(VyxRxConfig &config, uint32_t checkAddress, uint8_t address);

    // Encodes one frame into the codec's fixed buffer and returns its size; a payload
    // longer than MAX_PAYLOAD is refused (size 0).
    int encodeFrame(uint8_t address, uint8_t msgId, const uint8_t *payload, uint8_t length);
    const uint8_t *encodedData() const { return m_txBuffer.data(); }
    int encodedSize() const { return m_txSize; }

    // Convenience for callers that work with QByteArray: empty when refused.
    QByteArray encode(uint8_t address, uint8_t msgId, const QByteArray &payload);

    // Consumes one received byte; true exactly when it completed a frame into msgOut.
    bool decodeByte(uint8_t byte, VYX_MSG &msgOut, const VyxRxConfig &config);

    static bool needsStuffing(uint8_t byte)
    {
        return byte == FRAME_START || byte == FRAME_ESCAPE || byte == FRAME_END;
    }
    static uint8_t checksumOf(uint8_t sum) { return uint8_t(~sum); }

private:
    void putStuffed(uint8_t byte);
    void storeBodyByte(uint8_t byte);

    std::array<uint8_t, MAX_FRAME_SIZE> m_txBuffer {};
    int m_txSize = 0;

    std::array<uint8_t, RX_BODY_SIZE> m_rxBuffer {};
    uint32_t m_writeIndex = 0;
    uint32_t m_inFrame = 0;
    uint32_t m_escapePending = 0;
    uint8_t m_runningSum = 0;
    bool m_bodyOverflowed = false; // the write index wrapped inside this frame
};

Q_DECLARE_METATYPE(VYX_Protocol::VYX_MSG)

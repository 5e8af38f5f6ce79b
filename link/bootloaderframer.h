#pragma once

#include <QByteArray>
#include <QMetaType>

#include <cstdint>

// What the bootloader answered to one request: its first acknowledgement, and for the
// requests that answer with data the data bytes (without the count byte) and the closing
// acknowledgement. A NACK in the first place ends the answer.
struct BootAnswer
{
    bool acknowledged = false; // the first byte was ACK (NACK otherwise)
    QByteArray data;           // FirstByte: the byte itself
    bool closingAck = false;   // data answers: the closing byte was ACK
};
Q_DECLARE_METATYPE(BootAnswer)

// The shape of the answer a bootloader request expects.
enum class BootShape : uint8_t {
    Ack = 0,          // ACK or NACK; other bytes are ignored
    FirstByte = 1,    // the first byte, whatever it is (a probe that only an ACK satisfies)
    CountedData = 2,  // ACK, count N, N + 1 data bytes, ACK or NACK
    FixedData = 3,    // ACK, a count byte that is ignored, a fixed number of data bytes, ACK or NACK
};
Q_DECLARE_METATYPE(BootShape)

// Collects the bytes of one bootloader answer; the request line feeds it only the bytes
// that arrive while a bootloader request is in flight, never those of a frame answer.
class BootloaderFramer
{
public:
    static constexpr uint8_t ACK = 0x79;
    static constexpr uint8_t NACK = 0x1F;

    void start(BootShape shape, int fixedLength = 0);
    // True when `byte` completed the answer (then answer() holds it).
    bool feed(uint8_t byte);
    const BootAnswer &answer() const { return m_answer; }

private:
    enum Stage { WaitAck, WaitCount, ReadData, WaitEndAck, Done };

    BootShape m_shape = BootShape::Ack;
    int m_fixedLength = 0;
    int m_expected = 0;
    Stage m_stage = WaitAck;
    BootAnswer m_answer;
};

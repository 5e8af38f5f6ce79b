#pragma once

#include <QByteArray>
#include <QMetaType>

#include <cstdint>

// One motor's complete parameter set: the row of the motor database, the payload of
// a motor file and, in two halves, the payload of the motor parameter messages.
//
// Wire layout, 28 bytes, little-endian:
//   0 Rs  4 Ls_d  8 Ls_q  12 Flux                      (f32 each: the identified half)
//   16 voltage_scale  18 maxFrequency  20 maxMotorCurrent (u16 each)
//   22 polePairs  23 validData                          (u8 each)
//   24 u32 word: bits 0-7 fluxFrequency, 8-19 resCurrent, 20-31 indCurrent
// Bytes 0-15 travel as the identified parameters (0x40 answer, 0x41 request),
// bytes 16-27 as the user parameters (0x30 request, 0x31 answer).
//
// The fields are plain integers so that a default-built record is all zero; the
// 12-bit currents keep only their low 12 bits when packed.
struct MOTOR_TOTAL
{
    static constexpr int SIZE = 28;
    static constexpr int IDENT_SIZE = 16;
    static constexpr int USER_SIZE = 12;
    static constexpr uint16_t CURRENT_MASK = 0x0FFF;   // resCurrent, indCurrent

    float Rs = 0.0f;
    float Ls_d = 0.0f;
    float Ls_q = 0.0f;
    float Flux = 0.0f;
    uint16_t voltage_scale = 0;
    uint16_t maxFrequency = 0;
    uint16_t maxMotorCurrent = 0;
    uint8_t polePairs = 0;
    uint8_t validData = 0;
    uint8_t fluxFrequency = 0;
    uint16_t resCurrent = 0;    // 0.01 A, 12 bits on the wire
    uint16_t indCurrent = 0;    // 0.01 A, 12 bits on the wire

    // The whole record (28 bytes) and its two halves.
    QByteArray pack() const;
    QByteArray packIdent() const;
    QByteArray packUser() const;

    // Read the first SIZE / IDENT_SIZE / USER_SIZE bytes of `bytes`; a shorter input
    // leaves the record unchanged and returns false. Longer input is accepted.
    bool unpack(const QByteArray &bytes);
    bool unpackIdent(const QByteArray &bytes);
    bool unpackUser(const QByteArray &bytes);

    static uint32_t packBitWord(uint8_t fluxFrequency, uint16_t resCurrent, uint16_t indCurrent);

    // Equal when the packed bytes are equal (floats compared bit for bit).
    friend bool operator==(const MOTOR_TOTAL &a, const MOTOR_TOTAL &b) { return a.pack() == b.pack(); }
    friend bool operator!=(const MOTOR_TOTAL &a, const MOTOR_TOTAL &b) { return !(a == b); }
};

static_assert(MOTOR_TOTAL::IDENT_SIZE + MOTOR_TOTAL::USER_SIZE == MOTOR_TOTAL::SIZE,
              "the two halves make up the whole record");

Q_DECLARE_METATYPE(MOTOR_TOTAL)

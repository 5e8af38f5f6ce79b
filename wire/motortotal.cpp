#include "wire/motortotal.h"

#include <QtEndian>

#include <cstring>

namespace {

constexpr int USER_OFFSET = MOTOR_TOTAL::IDENT_SIZE;

void putU16(uchar *at, uint16_t value) { qToLittleEndian<quint16>(value, at); }
void putU32(uchar *at, uint32_t value) { qToLittleEndian<quint32>(value, at); }
uint16_t getU16(const uchar *at) { return qFromLittleEndian<quint16>(at); }
uint32_t getU32(const uchar *at) { return qFromLittleEndian<quint32>(at); }

void putFloat(uchar *at, float value)
{
    quint32 bits;
    static_assert(sizeof(bits) == sizeof(value), "IEEE 754 single precision");
    std::memcpy(&bits, &value, sizeof(bits));
    putU32(at, bits);
}

float getFloat(const uchar *at)
{
    const quint32 bits = getU32(at);
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

const uchar *dataOf(const QByteArray &bytes) { return reinterpret_cast<const uchar *>(bytes.constData()); }
uchar *dataOf(QByteArray &bytes) { return reinterpret_cast<uchar *>(bytes.data()); }

void writeIdent(const MOTOR_TOTAL &m, uchar *out)
{
    putFloat(out + 0, m.Rs);
    putFloat(out + 4, m.Ls_d);
    putFloat(out + 8, m.Ls_q);
    putFloat(out + 12, m.Flux);
}

void writeUser(const MOTOR_TOTAL &m, uchar *out)
{
    putU16(out + 0, m.voltage_scale);
    putU16(out + 2, m.maxFrequency);
    putU16(out + 4, m.maxMotorCurrent);
    out[6] = m.polePairs;
    out[7] = m.validData;
    putU32(out + 8, MOTOR_TOTAL::packBitWord(m.fluxFrequency, m.resCurrent, m.indCurrent));
}

void readIdent(MOTOR_TOTAL &m, const uchar *in)
{
    m.Rs = getFloat(in + 0);
    m.Ls_d = getFloat(in + 4);
    m.Ls_q = getFloat(in + 8);
    m.Flux = getFloat(in + 12);
}

void readUser(MOTOR_TOTAL &m, const uchar *in)
{
    m.voltage_scale = getU16(in + 0);
    m.maxFrequency = getU16(in + 2);
    m.maxMotorCurrent = getU16(in + 4);
    m.polePairs = in[6];
    m.validData = in[7];
    const uint32_t word = getU32(in + 8);
    m.fluxFrequency = uint8_t(word & 0xFF);
    m.resCurrent = uint16_t((word >> 8) & MOTOR_TOTAL::CURRENT_MASK);
    m.indCurrent = uint16_t((word >> 20) & MOTOR_TOTAL::CURRENT_MASK);
}

} // namespace

uint32_t MOTOR_TOTAL::packBitWord(uint8_t fluxFrequency, uint16_t resCurrent, uint16_t indCurrent)
{
    return uint32_t(fluxFrequency)
        | (uint32_t(resCurrent & CURRENT_MASK) << 8)
        | (uint32_t(indCurrent & CURRENT_MASK) << 20);
}

QByteArray MOTOR_TOTAL::pack() const
{
    QByteArray bytes(SIZE, '\0');
    writeIdent(*this, dataOf(bytes));
    writeUser(*this, dataOf(bytes) + USER_OFFSET);
    return bytes;
}

QByteArray MOTOR_TOTAL::packIdent() const
{
    QByteArray bytes(IDENT_SIZE, '\0');
    writeIdent(*this, dataOf(bytes));
    return bytes;
}

QByteArray MOTOR_TOTAL::packUser() const
{
    QByteArray bytes(USER_SIZE, '\0');
    writeUser(*this, dataOf(bytes));
    return bytes;
}

bool MOTOR_TOTAL::unpack(const QByteArray &bytes)
{
    if (bytes.size() < SIZE)
        return false;
    readIdent(*this, dataOf(bytes));
    readUser(*this, dataOf(bytes) + USER_OFFSET);
    return true;
}

bool MOTOR_TOTAL::unpackIdent(const QByteArray &bytes)
{
    if (bytes.size() < IDENT_SIZE)
        return false;
    readIdent(*this, dataOf(bytes));
    return true;
}

bool MOTOR_TOTAL::unpackUser(const QByteArray &bytes)
{
    if (bytes.size() < USER_SIZE)
        return false;
    readUser(*this, dataOf(bytes));
    return true;
}

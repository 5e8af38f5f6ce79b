#include "link/bootloaderframer.h"

void BootloaderFramer::start(BootShape shape, int fixedLength)
{
    m_shape = shape;
    m_fixedLength = fixedLength;
    m_expected = 0;
    m_stage = WaitAck;
    m_answer = BootAnswer();
}

bool BootloaderFramer::feed(uint8_t byte)
{
    switch (m_stage) {
    case WaitAck:
        if (m_shape == BootShape::FirstByte) {
            m_answer.acknowledged = byte == ACK;
            m_answer.data = QByteArray(1, char(byte));
            m_stage = Done;
            return true;
        }
        if (byte != ACK && byte != NACK)
            return false; // not an acknowledgement: ignored
        m_answer.acknowledged = byte == ACK;
        if (!m_answer.acknowledged || m_shape == BootShape::Ack) {
            m_stage = Done;
            return true;
        }
        m_stage = WaitCount;
        return false;
    case WaitCount:
        m_expected = m_shape == BootShape::FixedData ? m_fixedLength : int(byte) + 1;
        m_stage = m_expected > 0 ? ReadData : WaitEndAck;
        return false;
    case ReadData:
        m_answer.data.append(char(byte));
        if (m_answer.data.size() >= m_expected)
            m_stage = WaitEndAck;
        return false;
    case WaitEndAck:
        if (byte != ACK && byte != NACK)
            return false;
        m_answer.closingAck = byte == ACK;
        m_stage = Done;
        return true;
    case Done:
        return false;
    }
    return false;
}

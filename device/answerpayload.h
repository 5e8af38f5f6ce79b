#pragma once

#include "wire/vyxprotocol.h"

#include <QByteArray>

#include <algorithm>
#include <cstdint>

// Bounds-checked view of a received answer's payload: the length the frame claims,
// never more than the payload buffer actually holds.
class AnswerPayload
{
public:
    explicit AnswerPayload(const VYX_Protocol::VYX_MSG &msg)
        : m_data(msg.payload.data()),
          m_length(int(std::min<uint32_t>(msg.length, uint32_t(msg.payload.size()))))
    {
    }

    const uint8_t *data() const { return m_data; }
    int length() const { return m_length; }

    // Byte `index`, or 0 when the answer is shorter.
    uint8_t at(int index) const { return index >= 0 && index < m_length ? m_data[index] : 0; }
    // Payload byte 0 of most answers: ANSWER_OK, ANSWER_REFUSED, or 0 for an empty answer.
    uint8_t answerCode() const { return at(0); }

    // The payload padded with zeros (or cut) to exactly `size` bytes.
    QByteArray bytes(int size) const
    {
        QByteArray out(reinterpret_cast<const char *>(m_data), std::min(m_length, size));
        out.append(QByteArray(size - out.size(), '\0'));
        return out;
    }

private:
    const uint8_t *m_data;
    int m_length;
};

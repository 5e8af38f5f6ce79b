#include "capture/lineframer.h"

using LineCapture::Kind;
using LineCapture::Record;

LineFramer::LineFramer(LineCapture::Direction direction, uint8_t line) : m_direction(direction), m_line(line)
{
    VYX_Protocol::init(m_config, 0, 255);
}

void LineFramer::emitRun(QVector<Record> &out)
{
    for (int at = 0; at < m_run.size(); at += LineCapture::MAX_RECORD_BYTES)
        out.append({m_runTimeUs, m_direction, Kind::Bytes, m_run.mid(at, LineCapture::MAX_RECORD_BYTES), m_line});
    m_run.clear();
}

void LineFramer::feed(const char *data, int size, qint64 timeUs, QVector<Record> &out)
{
    for (int i = 0; i < size; ++i) {
        const uint8_t byte = uint8_t(data[i]);
        if (byte == VYX_Protocol::FRAME_START) {
            // A frame still open is torn: its bytes form no frame.
            if (m_inFrame) {
                if (m_run.isEmpty())
                    m_runTimeUs = m_frameTimeUs;
                m_run += m_frame;
            }
            emitRun(out);
            m_frame = QByteArray(1, char(byte));
            m_frameTimeUs = timeUs;
            m_inFrame = true;
            VYX_Protocol::VYX_MSG unused;
            m_codec.decodeByte(byte, unused, m_config);
            continue;
        }
        if (m_inFrame) {
            m_frame.append(char(byte));
            VYX_Protocol::VYX_MSG msg;
            if (m_codec.decodeByte(byte, msg, m_config)) {
                out.append({m_frameTimeUs, m_direction, Kind::Frame, m_frame, m_line});
                m_frame.clear();
                m_inFrame = false;
            } else if (m_frame.size() >= VYX_Protocol::MAX_FRAME_SIZE) {
                // Longer than any frame: no frame at all (the decoder waits for the next start).
                m_runTimeUs = m_frameTimeUs;
                m_run = m_frame;
                m_frame.clear();
                m_inFrame = false;
            }
            continue;
        }
        if (m_run.isEmpty())
            m_runTimeUs = timeUs;
        m_run.append(char(byte));
    }
    emitRun(out);
}

void LineFramer::flush(QVector<Record> &out)
{
    if (!m_inFrame)
        return;
    m_run = m_frame;
    m_runTimeUs = m_frameTimeUs;
    m_frame.clear();
    m_inFrame = false;
    emitRun(out);
}

#pragma once

#include "capture/linerecord.h"
#include "wire/vyxprotocol.h"

#include <QVector>

// Splits the bytes of one direction into records as they are read: each VYX frame whole
// (also when it arrives in several reads) and, between frames, the runs of bytes that form
// no frame. Frames are found with the program's own decoder, so a capture shows a frame
// exactly where the program saw one.
class LineFramer
{
public:
    explicit LineFramer(LineCapture::Direction direction = LineCapture::Direction::FromController, uint8_t line = 0);

    // Appends the records the bytes complete to `out`. A run of bytes that forms no frame
    // ends with the read; a frame not yet ended waits for its next bytes.
    void feed(const char *data, int size, qint64 timeUs, QVector<LineCapture::Record> &out);
    // A frame begun but not ended is given out as bytes that form no frame (a pause on
    // the line, the port closed, the capture read).
    void flush(QVector<LineCapture::Record> &out);

    bool hasOpenFrame() const { return m_inFrame; }
    qint64 openFrameTimeUs() const { return m_frameTimeUs; }

private:
    void emitRun(QVector<LineCapture::Record> &out);

    LineCapture::Direction m_direction;
    uint8_t m_line;
    VYX_Protocol m_codec;
    VYX_Protocol::VyxRxConfig m_config;
    QByteArray m_run;     // bytes outside any frame, since the last record
    qint64 m_runTimeUs = 0;
    QByteArray m_frame;   // the frame being received, from its start byte
    qint64 m_frameTimeUs = 0;
    bool m_inFrame = false;
};

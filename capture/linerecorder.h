#pragma once

#include "capture/lineframer.h"
#include "capture/linering.h"
#include "capture/pcapfile.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QTimer>

#include <deque>
#include <map>

// The flight recorder of the serial line. The port hands it every run of bytes the program
// writes and reads (from the coordinator thread); it tells frames, the line's echo of the
// program's own bytes, runs of bytes that form no frame and bootloader bytes apart, keeps
// the last minutes in a bounded ring (always) and writes a pcap capture file when asked.
// Thread-safe: the window reads the ring from the GUI thread.
class LineRecorder : public QObject
{
    Q_OBJECT

public:
    // A frame begun this long ago and not ended is given out as bytes that form no frame.
    static constexpr qint64 OPEN_FRAME_LIMIT_US = 500000;
    static constexpr int FLUSH_INTERVAL_MS = 1000;

    explicit LineRecorder(qint64 ringCapacity = LineRing::DEFAULT_CAPACITY,
                          qint64 ringMaxAgeUs = LineRing::DEFAULT_MAX_AGE_US, QObject *parent = nullptr);
    ~LineRecorder() override;

    // Writes every record from now on to the file (created or replaced; the caller has
    // checked that it may be), flushed each second and whole after close or exit.
    bool startCapture(const QString &fileName, QString *error);
    void stopCapture();
    bool isCapturing() const;

    // The time of day in microseconds since 1970 (UTC).
    static qint64 nowUs();

    // `line` tells the ports apart where one recorder follows several (a production run).
    void recordWritten(const char *data, qint64 size, uint8_t line = 0) { recordWrittenAt(nowUs(), data, size, line); }
    void recordRead(const char *data, qint64 size, uint8_t line = 0) { recordReadAt(nowUs(), data, size, line); }
    // The port closed: what waits is given out, no echo is awaited any more.
    void recordClosed(uint8_t line = 0) { recordClosedAt(nowUs(), line); }
    // The same with a given time (tests).
    void recordWrittenAt(qint64 timeUs, const char *data, qint64 size, uint8_t line = 0);
    void recordReadAt(qint64 timeUs, const char *data, qint64 size, uint8_t line = 0);
    void recordClosedAt(qint64 timeUs, uint8_t line = 0);

    // The ring: the last minutes of the line before `atUs` (-1: now), as records or as a
    // pcap file no larger than the ring's capacity (the newest records that fit).
    QVector<LineCapture::Record> recentRecords(qint64 atUs = -1) const;
    QByteArray recentPcap(qint64 atUs = -1) const;
    int ringCount() const;
    qint64 ringUsedBytes() const;

    // Writes what waits to the file (the timer does it each second).
    void flush();
    // Why the capture file could not be written on (the capture then stops, the ring goes
    // on); empty while it can.
    QString captureError() const;

signals:
    // The capture file cannot be written on: sent once per capture, from the thread whose
    // write failed.
    void captureFailed(const QString &reason);

private:
    // What one line's records depend on besides its bytes.
    struct Line
    {
        explicit Line(uint8_t number) : framer(LineCapture::Direction::FromController, number), number(number) {}

        LineFramer framer;
        uint8_t number;
        bool bootloader = false; // the program's last write was no frame: the bootloader talks
        // The program's written bytes whose echo has not come back, one entry per write,
        // and how many bytes of the oldest one came back so far.
        std::deque<QByteArray> echoAwaited;
        int echoMatched = 0;
        qint64 echoTimeUs = 0;
        qint64 echoAwaitedBytes = 0;
    };

    Line &lineNumbered(uint8_t number);
    void store(const QVector<LineCapture::Record> &records);
    void readBytes(Line &line, qint64 timeUs, const char *data, int size, QVector<LineCapture::Record> &out);
    void giveUpEcho(Line &line, QVector<LineCapture::Record> &out);
    void flushWhenDue(qint64 timeUs);
    // The capture's failure, once: taken under the lock, told after it.
    QString takeNewFailure();
    void tellFailure(const QString &reason);

    mutable QMutex m_mutex;
    LineRing m_ring;
    PcapWriter m_file;
    QString m_captureError;
    bool m_failureTold = false;
    QTimer m_flushTimer;
    qint64 m_lastFlushUs = 0;
    std::map<uint8_t, Line> m_lines;
    QVector<LineCapture::Record> m_scratch;
};

#include "capture/linedecoder.h"
#include "capture/linerecorder.h"
#include "capture/linering.h"
#include "capture/pcapfile.h"
#include "wire/messageids.h"
#include "wire/records.h"
#include "wire/vyxprotocol.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

using LineCapture::Direction;
using LineCapture::Kind;
using LineCapture::Record;

Q_DECLARE_METATYPE(QVector<QByteArray>)

namespace {

QByteArray frame(uint8_t address, uint8_t msgId, const QByteArray &payload = QByteArray())
{
    return VYX_Protocol().encode(address, msgId, payload);
}

// "out"/"in" and the kind, then the bytes in hex: one line per record.
QStringList summary(const QVector<Record> &records)
{
    QStringList lines;
    for (const Record &r : records)
        lines << QStringLiteral("%1 %2 %3")
                     .arg(QLatin1String(LineCapture::directionName(r.direction)),
                          QLatin1String(LineCapture::kindName(r.kind)), QString::fromLatin1(r.bytes.toHex()));
    return lines;
}

constexpr qint64 T0 = 1765400000000000LL; // a time of day in 2025, in microseconds

} // namespace

class TestLineCapture : public QObject
{
    Q_OBJECT

private slots:
    // The program's writes and reads (">" written, "<" read, hex) in, the records out.
    void framesRuns_data()
    {
        const QByteArray poll = frame(NO_DEVICE_ADDRESS, VyxMsg::GET_STATUS);       // 1a ee 23 ee 1f
        const QByteArray answer = frame(0x01, VyxMsg::GET_STATUS, QByteArray("\x20\x00", 2));
        const QByteArray stuffed = frame(NO_DEVICE_ADDRESS, VyxMsg::TELEMETRY, QByteArray("\x01\x1f\x00", 3));
        QTest::addColumn<QStringList>("traffic");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("request, echo, answer in one read")
            << QStringList {">" + poll.toHex(), "<" + (poll + answer).toHex()}
            << QStringList {"out frame " + poll.toHex(), "in echo " + poll.toHex(), "in frame " + answer.toHex()};
        QTest::newRow("answer split over three reads")
            << QStringList {">" + poll.toHex(), "<" + (poll + answer.left(2)).toHex(), "<" + answer.mid(2, 3).toHex(),
                            "<" + answer.mid(5).toHex()}
            << QStringList {"out frame " + poll.toHex(), "in echo " + poll.toHex(), "in frame " + answer.toHex()};
        QTest::newRow("echo split, stuffed request")
            << QStringList {">" + stuffed.toHex(), "<" + stuffed.left(4).toHex(), "<" + stuffed.mid(4).toHex()}
            << QStringList {"out frame " + stuffed.toHex(), "in echo " + stuffed.toHex()};
        QTest::newRow("garbage before the answer")
            << QStringList {">" + poll.toHex(), "<" + poll.toHex() + "0102ff" + answer.toHex()}
            << QStringList {"out frame " + poll.toHex(), "in echo " + poll.toHex(), "in bytes 0102ff",
                            "in frame " + answer.toHex()};
        QTest::newRow("torn frame, then a whole one")
            << QStringList {"<" + answer.left(4).toHex() + answer.toHex()}
            << QStringList {"in bytes " + answer.left(4).toHex(), "in frame " + answer.toHex()};
        // Without echo on the line, an answer that starts like the request is no echo.
        QTest::newRow("no echo: answer alike at its start")
            << QStringList {">" + poll.toHex(), "<" + answer.toHex()}
            << QStringList {"out frame " + poll.toHex(), "in frame " + answer.toHex()};
        QTest::newRow("bootloader sync, echo, ACK")
            << QStringList {">f00f", "<f00f79"}
            << QStringList {"out bootloader f00f", "in echo f00f", "in bootloader 79"};
        // Page data full of frame bytes is still the bootloader's, both ways.
        QTest::newRow("bootloader bytes that look like a frame")
            << QStringList {">ff1aee23ee1f00", "<ff1aee23ee1f0079", "<1aee23ee1f"}
            << QStringList {"out bootloader ff1aee23ee1f00", "in echo ff1aee23ee1f00", "in bootloader 79",
                            "in bootloader 1aee23ee1f"};
        QTest::newRow("frames again after the bootloader")
            << QStringList {">21de", "<21de79", ">" + poll.toHex(), "<" + (poll + answer).toHex()}
            << QStringList {"out bootloader 21de", "in echo 21de", "in bootloader 79", "out frame " + poll.toHex(),
                            "in echo " + poll.toHex(), "in frame " + answer.toHex()};
        QTest::newRow("a frame cut by the port")
            << QStringList {">" + poll.left(3).toHex()} << QStringList {"out bytes " + poll.left(3).toHex()};
    }

    void framesRuns()
    {
        QFETCH(QStringList, traffic);
        QFETCH(QStringList, expected);
        LineRecorder recorder;
        qint64 time = T0;
        for (const QString &step : traffic) {
            const QByteArray bytes = QByteArray::fromHex(step.mid(1).toLatin1());
            if (step.startsWith(QLatin1Char('>')))
                recorder.recordWrittenAt(time, bytes.constData(), bytes.size());
            else
                recorder.recordReadAt(time, bytes.constData(), bytes.size());
            time += 1000;
        }
        QCOMPARE(summary(recorder.recentRecords(time)), expected);
    }

    // Two ports on one recorder (a production run): each keeps its own framing, echo and
    // bootloader state, and its records carry its line.
    void linesKeptApart()
    {
        const QByteArray poll = frame(NO_DEVICE_ADDRESS, VyxMsg::GET_STATUS);
        const QByteArray answer = frame(0x01, VyxMsg::GET_STATUS, QByteArray("\x20\x00", 2));
        LineRecorder recorder;
        recorder.recordWrittenAt(T0, poll.constData(), poll.size(), 0);
        recorder.recordWrittenAt(T0 + 1, "\xf0\x0f", 2, 1);
        const QByteArray first = poll + answer.left(3);
        recorder.recordReadAt(T0 + 2, first.constData(), first.size(), 0);
        recorder.recordReadAt(T0 + 3, "\xf0\x0f\x79", 3, 1);
        const QByteArray rest = answer.mid(3);
        recorder.recordReadAt(T0 + 4, rest.constData(), rest.size(), 0);
        QStringList lines;
        for (const Record &r : recorder.recentRecords(T0 + 5))
            lines << QStringLiteral("%1 %2 %3 %4").arg(r.line).arg(QLatin1String(LineCapture::directionName(r.direction)),
                                                                   QLatin1String(LineCapture::kindName(r.kind)),
                                                                   QString::fromLatin1(r.bytes.toHex()));
        QCOMPARE(lines, (QStringList {"0 out frame " + poll.toHex(), "1 out bootloader f00f", "0 in echo " + poll.toHex(),
                                      "1 in echo f00f", "1 in bootloader 79", "0 in frame " + answer.toHex()}));
    }

    // A frame begun and never ended is not lost: it is given out as bytes at the port's close.
    void openFrameGivenOutAtClose()
    {
        LineRecorder recorder;
        recorder.recordReadAt(T0, "\x1a\x01\x23", 3);
        QCOMPARE(recorder.recentRecords(T0).size(), 0);
        recorder.recordClosedAt(T0 + 10);
        QCOMPARE(summary(recorder.recentRecords(T0 + 10)), QStringList {"in bytes 1a0123"});
    }

    // The ring never holds more than its capacity, whatever the traffic, and nothing
    // older than its age limit; what it keeps is the newest, in order.
    void ringBounds_data()
    {
        QTest::addColumn<int>("recordBytes");
        QTest::addColumn<int>("records");
        QTest::newRow("small frames") << 5 << 400000;
        QTest::newRow("long runs") << LineCapture::MAX_RECORD_BYTES << 3000;
        QTest::newRow("mixed") << 0 << 100000;
    }

    void ringBounds()
    {
        QFETCH(int, recordBytes);
        QFETCH(int, records);
        LineRing ring; // 4 MiB, 10 minutes
        qint64 time = T0;
        qint64 lastTime = 0;
        for (int i = 0; i < records; ++i) {
            const int size = recordBytes ? recordBytes : 1 + (i * 7919) % 300;
            ring.append({time, Direction::FromController, Kind::Bytes, QByteArray(size, char(i)), uint8_t(i % 3)});
            QVERIFY(ring.usedBytes() <= 4 * 1024 * 1024);
            lastTime = time;
            time += 100; // 10 000 records a second: the byte bound comes first
        }
        QVERIFY(ring.usedBytes() > 4 * 1024 * 1024 - LineRing::ENTRY_OVERHEAD - LineCapture::MAX_RECORD_BYTES);
        const QVector<Record> kept = ring.records(lastTime);
        QCOMPARE(kept.size(), ring.count());
        QCOMPARE(kept.constLast().timeUs, lastTime);
        QCOMPARE(kept.constLast().bytes.at(0), char(records - 1));
        QCOMPARE(kept.constLast().line, uint8_t((records - 1) % 3));
        for (int i = 1; i < kept.size(); ++i)
            QVERIFY(kept[i].timeUs > kept[i - 1].timeUs);
    }

    // Records that fill the ring to exactly its byte bound are all kept; one byte more
    // makes the oldest leave.
    void ringFilledToItsBound_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("recordBytes");
        QTest::addColumn<int>("kept");
        QTest::newRow("exactly full") << 64 << 16 << 2;
        QTest::newRow("one byte short") << 63 << 16 << 1;
        QTest::newRow("room to spare") << 100 << 16 << 2;
    }

    void ringFilledToItsBound()
    {
        QFETCH(int, capacity);
        QFETCH(int, recordBytes);
        QFETCH(int, kept);
        LineRing ring(capacity);
        ring.append({T0, Direction::ToController, Kind::Frame, QByteArray(recordBytes, 'a')});
        ring.append({T0 + 1, Direction::FromController, Kind::Frame, QByteArray(recordBytes, 'b')});
        QCOMPARE(ring.count(), kept);
        const QVector<Record> records = ring.records(T0 + 1);
        QCOMPARE(records.size(), kept);
        QCOMPARE(records.constLast().bytes, QByteArray(recordBytes, 'b'));
        if (kept == 2)
            QCOMPARE(records.constFirst().bytes, QByteArray(recordBytes, 'a'));
    }

    // The bundle's line.pcap keeps within the ring's bound as a file, its headers included,
    // and holds the newest records; small records take more room in the file than in the ring.
    void recentPcapWithinItsBound_data()
    {
        QTest::addColumn<int>("recordBytes");
        QTest::newRow("1-byte records") << 1;
        QTest::newRow("frames") << 31;
        QTest::newRow("longest runs") << LineCapture::MAX_RECORD_BYTES;
    }

    void recentPcapWithinItsBound()
    {
        QFETCH(int, recordBytes);
        const qint64 bound = 64 * 1024;
        LineRecorder recorder(bound);
        qint64 time = T0;
        int written = 0;
        for (; written < int(4 * bound / recordBytes) + 10; ++written) {
            const QByteArray bytes(recordBytes, char(written));
            recorder.recordWrittenAt(time, bytes.constData(), bytes.size());
            time += 10;
        }
        const QByteArray pcap = recorder.recentPcap(time);
        QVERIFY2(pcap.size() <= bound, qPrintable(QString::number(pcap.size())));
        QVERIFY(pcap.size() > bound - 2 * PcapFormat::recordSize({0, Direction::ToController, Kind::Frame,
                                                                  QByteArray(recordBytes, 'x')}));
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("line.pcap")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(pcap);
        file.close();
        QVector<Record> read;
        QString error;
        QString damage;
        QVERIFY(PcapReader::read(file.fileName(), &read, &error, &damage));
        QVERIFY(damage.isEmpty());
        QVERIFY(!read.isEmpty());
        QCOMPARE(read.constLast().bytes, QByteArray(recordBytes, char(written - 1)));
    }

    // Records that leave by age give their pages back: after two minutes of traffic through
    // a ring that holds ten seconds of it, the memory taken is what those ten seconds need
    // (and a page at each end), not the whole buffer the writing walked through.
    void ringMemoryFollowsWhatItHolds()
    {
        const qint64 second = 1000 * 1000;
        LineRing ring(1024 * 1024, 10 * second);
        qint64 time = T0;
        for (int i = 0; i < 12000; ++i, time += 10000) // 100 records a second for two minutes
            ring.append({time, Direction::FromController, Kind::Frame, QByteArray(200, char(i))});
        QCOMPARE(ring.count(), 1001);
        const qint64 page = ::sysconf(_SC_PAGESIZE);
        QVERIFY2(ring.residentBytes() <= ring.usedBytes() + 2 * page,
                 qPrintable(QStringLiteral("%1 resident for %2 held").arg(ring.residentBytes()).arg(ring.usedBytes())));
        QCOMPARE(ring.records(time).constLast().bytes, QByteArray(200, char(11999)));
        ring.clear();
        QCOMPARE(ring.residentBytes(), qint64(0));
    }

    void ringAgeLimit()
    {
        LineRing ring;
        const qint64 minute = 60LL * 1000 * 1000;
        for (int i = 0; i <= 20; ++i) // one record a minute for 20 minutes
            ring.append({T0 + i * minute, Direction::ToController, Kind::Frame, QByteArray(1, char(i))});
        QCOMPARE(ring.count(), 11); // minutes 10..20
        QCOMPARE(ring.records(T0 + 20 * minute).constFirst().bytes.at(0), char(10));
        // Read later, without new records, the old ones are left out too.
        QCOMPARE(ring.records(T0 + 25 * minute).size(), 6);
    }

    // The capture file is whole at every flush, while it is still being written (a crash
    // loses only what came after), and after close.
    void pcapFileWholeAfterFlushAndClose()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("line.pcap"));
        PcapWriter writer;
        QString error;
        QVERIFY2(writer.open(path, &error), qPrintable(error));
        QVector<Record> read;
        QVERIFY(PcapReader::read(path, &read, &error)); // the empty capture is a capture
        QCOMPARE(read.size(), 0);

        const QVector<Record> records {
            {T0, Direction::ToController, Kind::Frame, frame(0xEE, VyxMsg::GET_STATUS)},
            {T0 + 1, Direction::FromController, Kind::Echo, frame(0xEE, VyxMsg::GET_STATUS)},
            {T0 + 987654, Direction::FromController, Kind::Bootloader, QByteArray("\x79", 1)},
            {T0 + 2000000, Direction::FromController, Kind::Bytes, QByteArray(LineCapture::MAX_RECORD_BYTES, 'x'), 7},
        };
        for (const Record &r : records)
            writer.write(r);
        writer.flush();
        QVERIFY(PcapReader::read(path, &read, &error));
        QCOMPARE(read.size(), records.size());
        for (int i = 0; i < records.size(); ++i) {
            QCOMPARE(read[i].timeUs, records[i].timeUs);
            QCOMPARE(read[i].direction, records[i].direction);
            QCOMPARE(read[i].kind, records[i].kind);
            QCOMPARE(read[i].bytes, records[i].bytes);
            QCOMPARE(read[i].line, records[i].line);
        }
        writer.write(records.constFirst());
        writer.close();
        read.clear();
        QVERIFY(PcapReader::read(path, &read, &error));
        QCOMPARE(read.size(), records.size() + 1);

        // The ring's copy is the same format.
        const QByteArray inMemory = PcapWriter::toPcap(records);
        QFile copy(dir.filePath(QStringLiteral("copy.pcap")));
        QVERIFY(copy.open(QIODevice::WriteOnly));
        copy.write(inMemory);
        copy.close();
        read.clear();
        QVERIFY(PcapReader::read(copy.fileName(), &read, &error));
        QCOMPARE(read.size(), records.size());
    }

    // With the program still running, what was recorded reaches the file within about a
    // second, ending at a record's end: a crash loses only the last second.
    void recorderFlushesEachSecond()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("running.pcap"));
        LineRecorder recorder;
        QString error;
        QVERIFY2(recorder.startCapture(path, &error), qPrintable(error));
        const QByteArray poll = frame(0xEE, VyxMsg::GET_STATUS);
        recorder.recordWritten(poll.constData(), poll.size());
        recorder.recordRead(poll.constData(), poll.size());
        const qint64 whole = 24 + 2 * (16 + LineCapture::HEADER_SIZE + poll.size()); // file header, two records
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(path).size(), whole, 10000);
        QVector<Record> read;
        QVERIFY(PcapReader::read(path, &read, &error));
        QCOMPARE(summary(read), (QStringList {"out frame " + poll.toHex(), "in echo " + poll.toHex()}));
        recorder.stopCapture();
        QCOMPARE(QFileInfo(path).size(), whole);
    }

    // A file that can take no more (a full disk; here a file-size limit, so that writes fail
    // with EFBIG) keeps its whole records only; the failure is told once and the ring goes on.
    void captureWriteFailureToldOnce()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("full.pcap"));
        const QByteArray poll = frame(0xEE, VyxMsg::GET_STATUS);
        const qint64 recordSize = 16 + LineCapture::HEADER_SIZE + poll.size();
        const qint64 limit = 24 + 3 * recordSize + recordSize / 2; // the fourth record cut in the middle
        LineRecorder recorder;
        QSignalSpy failed(&recorder, &LineRecorder::captureFailed);
        QString error;
        QVERIFY2(recorder.startCapture(path, &error), qPrintable(error));

        struct rlimit before {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = before;
        small.rlim_cur = rlim_t(limit);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        for (int i = 0; i < 10; ++i) {
            recorder.recordWrittenAt(T0 + i * 1000, poll.constData(), poll.size());
            recorder.flush();
        }
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &before), 0);
        std::signal(SIGXFSZ, oldHandler);

        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.constFirst().constFirst().toString(), QString::fromLocal8Bit(std::strerror(EFBIG)));
        QCOMPARE(recorder.captureError(), QString::fromLocal8Bit(std::strerror(EFBIG)));
        QVERIFY(!recorder.isCapturing());
        QCOMPARE(recorder.ringCount(), 10);
        recorder.recordWrittenAt(T0 + 20000, poll.constData(), poll.size());
        recorder.stopCapture();
        QCOMPARE(failed.count(), 1);
        QCOMPARE(recorder.ringCount(), 11);

        QCOMPARE(QFileInfo(path).size(), 24 + 3 * recordSize);
        QVector<Record> read;
        QString damage;
        QVERIFY(PcapReader::read(path, &read, &error, &damage));
        QVERIFY2(damage.isEmpty(), qPrintable(damage));
        QCOMPARE(read.size(), 3);
    }

    void readerRefusesOtherFiles()
    {
        QTemporaryDir dir;
        QFile text(dir.filePath(QStringLiteral("notes.txt")));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not a capture\n");
        text.close();
        QVector<Record> read;
        QString error;
        QVERIFY(!PcapReader::read(text.fileName(), &read, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!PcapReader::read(dir.filePath(QStringLiteral("missing.pcap")), &read, &error));
    }

    void decodedLines_data()
    {
        QTest::addColumn<int>("direction");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        Poll_Answer_s saved;
        saved.hasSavedMsg = true;
        saved.savedMsgId = VyxMsg::WRITE_MOTION_PARAMS;
        DeviceIdentity id;
        id.answerCode = ANSWER_OK;
        id.runFlag = 0;
        id.fw = {1, 2, 3};
        id.serialNumber = 12345;
        id.hwBuild = 2;
        id.address = 1;
        QTest::newRow("poll") << 0 << frame(0xEE, VyxMsg::GET_STATUS) << "out frame GET_STATUS (0x23) addr 0xEE";
        QTest::newRow("status") << 1 << frame(1, VyxMsg::GET_STATUS, StatusBlock::encode(ANSWER_OK, saved))
                                << "in  frame GET_STATUS (0x23) addr 0x01 answer OK flags 0x02 savedMsgId 0x45";
        QTest::newRow("identity") << 1 << frame(1, VyxMsg::GET_DEVICE_INFO, id.encodeLong())
                                  << "in  frame GET_DEVICE_INFO (0x22) addr 0x01 answer OK run 0 serial 12345 "
                                     "firmware 1.2.3 hardware 2 address 0x01 (long layout)";
        QByteArray bad = frame(1, VyxMsg::GET_MOTOR_HOURS, packMotorHours(7));
        bad[bad.size() - 2] = char(bad.at(bad.size() - 2) ^ 0x40);
        QTest::newRow("bad checksum") << 1 << bad
                                      << "in  frame GET_MOTOR_HOURS (0x48) addr 0x01 BAD CHECKSUM "
                                         + QStringLiteral("0x%1").arg(uint8_t(bad.at(bad.size() - 2)), 2, 16).toUpper().replace("0X", "0x")
                                         + " motor hours 7";
        DutyCommand duty;
        duty.enable = true;
        duty.duty = DutyCommand::dutyFromPercent(50);
        SET_PWM_IN_PARAMS pwm;
        pwm.pwmType = true;
        pwm.controlType = true;
        pwm.digitalControl = true;
        pwm.speedNorm = 300;
        pwm.scale = 120;
        QTest::newRow("pwm input bipolar")
            << 0 << frame(1, VyxMsg::WRITE_PWM_IN_PARAMS, pwm.pack())
            << "out frame WRITE_PWM_IN_PARAMS (0x47) addr 0x01 low_level 1000, center_level 1500, high_level "
               "2000, dead_zone 15, pwm_type 1, control_type 1, speed_norm 3000, scale 1.2, analog_control 0, "
               "digital_control 1";
        SET_MOTION_PARAMS motion;
        motion.acceleration = 30;
        motion.brakeIntensity = 70;
        motion.brakeEnable = true;
        motion.deviceAddress = 2;
        motion.timeToLeave = 10;
        motion.Kp = 1024;
        motion.Ki = 512;
        QTest::newRow("motion leaves after 500 ms")
            << 1 << frame(1, VyxMsg::GET_MOTION_PARAMS, motion.pack())
            << "in  frame GET_MOTION_PARAMS (0x44) addr 0x01 acceleration 3000, brake_intesity 1 (intensity 70), "
               "brake_enable 1, reverse 0, hw_address 0, device_address 2, ttl 500, kp 1, kff 0.5";
        QTest::newRow("duty") << 0 << frame(1, VyxMsg::TELEMETRY, duty.encode())
                              << "out frame TELEMETRY (0x70) addr 0x01 control on, duty 8181";
    }

    // The time keeps its microseconds, with the zeros in front.
    void decodedTime_data()
    {
        QTest::addColumn<qint64>("afterT0Us");
        QTest::addColumn<QString>("expected");
        QTest::newRow("microseconds") << qint64(123456) << "2025-12-10 20:53:20.123456";
        QTest::newRow("leading zeros") << qint64(1000005) << "2025-12-10 20:53:21.000005";
        QTest::newRow("last of a second") << qint64(999999) << "2025-12-10 20:53:20.999999";
    }

    void decodedTime()
    {
        QFETCH(qint64, afterT0Us);
        QFETCH(QString, expected);
        const Record record {T0 + afterT0Us, Direction::FromController, Kind::Bytes, QByteArray("\x01", 1)};
        QCOMPARE(LineDecoder::describe(record).left(expected.size() + 1), expected + QLatin1Char(' '));
    }

    void decodedLines()
    {
        QFETCH(int, direction);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        const Record record {T0 + 42, Direction(direction), Kind::Frame, bytes};
        const QString line = LineDecoder::describe(record);
        QCOMPARE(line.left(27), QStringLiteral("2025-12-10 20:53:20.000042 "));
        QCOMPARE(line.mid(27), expected);
        // Another line than the first is named.
        const Record onLine3 {T0 + 42, Direction(direction), Kind::Frame, bytes, 3};
        QCOMPARE(LineDecoder::describe(onLine3), QStringLiteral("2025-12-10 20:53:20.000042 line 3 ") + expected);
    }

    // A time before 1970 (a clock set wrong where the capture was made) reads as a time,
    // its microseconds never negative.
    void timesAroundTheEpoch_data()
    {
        QTest::addColumn<qint64>("timeUs");
        QTest::addColumn<QString>("shown");
        QTest::newRow("a microsecond before") << qint64(-1) << "1969-12-31 23:59:59.999999";
        QTest::newRow("a second before") << qint64(-1000000) << "1969-12-31 23:59:59.000000";
        QTest::newRow("a second and a half before") << qint64(-1500000) << "1969-12-31 23:59:58.500000";
        QTest::newRow("the epoch") << qint64(0) << "1970-01-01 00:00:00.000000";
        QTest::newRow("a microsecond after") << qint64(1) << "1970-01-01 00:00:00.000001";
    }

    void timesAroundTheEpoch()
    {
        QFETCH(qint64, timeUs);
        QFETCH(QString, shown);
        const Record record {timeUs, Direction::ToController, Kind::Bytes, QByteArray("\x01", 1)};
        QCOMPARE(LineDecoder::describe(record).left(shown.size() + 1), shown + QLatin1Char(' '));
    }
};

QTEST_GUILESS_MAIN(TestLineCapture)
#include "tst_linecapture.moc"

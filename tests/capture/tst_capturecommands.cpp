#include "app/linecapturesetup.h"
#include "cli/capturefailurenotice.h"
#include "capture/linerecorder.h"
#include "capture/pcapfile.h"
#include "wire/messageids.h"
#include "wire/vyxprotocol.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>

using LineCapture::Direction;
using LineCapture::Kind;
using LineCapture::Record;

namespace {

constexpr qint64 T0 = 1765400000000000LL;

QByteArray field(quint32 value)
{
    return QByteArray(reinterpret_cast<const char *>(&value), sizeof value);
}

// A record as it stands in the file, with the length it says it has and the bytes there are
// (a literal, zero bytes included).
template <int N>
QByteArray rawRecord(quint32 length, const char (&data)[N])
{
    return field(1765400000) + field(0) + field(length) + field(length) + QByteArray(data, N - 1);
}


} // namespace

// The program's capture commands: --decode of whole and damaged captures, and a capture file
// that cannot be written on.
class TestCaptureCommands : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    // Damage is told with where and why, the records before it still printed, exit 1;
    // records of an unknown form are counted; an empty capture says so.
    void decodeTellsDamage_data()
    {
        QTest::addColumn<QByteArray>("after");   // what follows two good records
        QTest::addColumn<int>("lines");          // records printed
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("told");       // on stderr; empty: nothing
        const QByteArray good = PcapWriter::toPcap(
            {{T0, Direction::ToController, Kind::Frame, VYX_Protocol().encode(1, VyxMsg::GET_STATUS, {})}});
        const QByteArray one = good.mid(PcapFormat::FILE_HEADER_SIZE);
        const QString at = QStringLiteral("decoding stopped at byte %1").arg(24 + 2 * one.size());
        QTest::newRow("whole") << QByteArray() << 2 << 0 << QString();
        QTest::newRow("length past the end") << rawRecord(40, "\x01\x00\x00\x00" "abc") << 2 << 1
                                             << at + " of " + QString::number(24 + 2 * one.size() + 23);
        QTest::newRow("length 2^31") << rawRecord(0x80000000u, "\x01\x00\x00\x00") << 2 << 1
                                     << "record 3 says it holds 2147483648 bytes";
        QTest::newRow("length 0xFFFFFFFF") << rawRecord(0xFFFFFFFFu, "") << 2 << 1
                                           << "record 3 says it holds 4294967295 bytes";
        QTest::newRow("cut in a record's header") << QByteArray("\x01\x02\x03", 3) << 2 << 1
                                                  << "the file ends inside the header of record 3";
        QTest::newRow("unknown version, direction, kind and a short one")
            << rawRecord(5, "\x02\x00\x00\x00x") + rawRecord(5, "\x01\x07\x00\x00x") + rawRecord(5, "\x01\x00\x09\x00x")
                   + rawRecord(2, "\x01\x00") + one
            << 3 << 0 << "4 record(s) of an unknown form (version, direction, kind or time) skipped.";
        QTest::newRow("skipped, then damaged")
            << rawRecord(5, "\x01\x00\x09\x00x") + rawRecord(9, "\x01") << 2 << 1
            << "1 record(s) of an unknown form (version, direction, kind or time) skipped.";
    }

    void decodeTellsDamage()
    {
        QFETCH(QByteArray, after);
        QFETCH(int, lines);
        QFETCH(int, exitCode);
        QFETCH(QString, told);
        const QByteArray good = PcapWriter::toPcap(
            {{T0, Direction::ToController, Kind::Frame, VYX_Protocol().encode(1, VyxMsg::GET_STATUS, {})},
             {T0 + 1, Direction::FromController, Kind::Echo, VYX_Protocol().encode(1, VyxMsg::GET_STATUS, {})}});
        const QString path = m_dir.filePath(QStringLiteral("%1.pcap").arg(QTest::currentDataTag()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(good + after);
        file.close();
        QString outText;
        QString errText;
        QTextStream out(&outText);
        QTextStream err(&errText);
        QCOMPARE(LineCaptureSetup::decode(path, out, err), exitCode);
        out.flush();
        err.flush();
        QCOMPARE(outText.count(QLatin1Char('\n')), lines);
        QVERIFY(outText.startsWith(QLatin1String("2025-12-10 20:53:20.000000 out frame GET_STATUS")));
        if (told.isEmpty())
            QCOMPARE(errText, QString());
        else
            QVERIFY2(errText.contains(told), qPrintable(errText));
        if (exitCode == 1)
            QVERIFY2(errText.contains(QLatin1String("is damaged")), qPrintable(errText));
    }

    void decodeSaysAnEmptyCaptureIsEmpty()
    {
        const QString path = m_dir.filePath(QStringLiteral("empty.pcap"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(PcapWriter::toPcap({}));
        file.close();
        QString outText;
        QString errText;
        QTextStream out(&outText);
        QTextStream err(&errText);
        QCOMPARE(LineCaptureSetup::decode(path, out, err), 0);
        err.flush();
        QCOMPARE(outText, QString());
        QCOMPARE(errText.trimmed(), QStringLiteral("The capture %1 holds no records.").arg(path));
    }

    // A capture file that can take no more (a file-size limit stands in for a full disk): the
    // command is told once, on stderr and as one JSON line, and goes on.
    void captureFailureToldOnce_data()
    {
        QTest::addColumn<bool>("json");
        QTest::newRow("text") << false;
        QTest::newRow("json") << true;
    }

    void captureFailureToldOnce()
    {
        QFETCH(bool, json);
        const QString path = m_dir.filePath(QStringLiteral("full-%1.pcap").arg(json));
        LineRecorder recorder;
        QString error;
        QVERIFY2(recorder.startCapture(path, &error), qPrintable(error));
        QString outText;
        QString errText;
        QTextStream out(&outText);
        QTextStream err(&errText);
        CaptureFailureNotice notice(&recorder, path, json, out, err);

        struct rlimit before {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = before;
        small.rlim_cur = 100;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const QByteArray poll = VYX_Protocol().encode(0xEE, VyxMsg::GET_STATUS, {});
        for (int i = 0; i < 5; ++i) {
            recorder.recordWritten(poll.constData(), poll.size());
            recorder.flush();
        }
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &before), 0);
        std::signal(SIGXFSZ, oldHandler);
        notice.finish();
        out.flush();
        err.flush();

        const QString reason = QString::fromLocal8Bit(std::strerror(EFBIG));
        QCOMPARE(errText.count(QLatin1Char('\n')), 1);
        QVERIFY2(errText.contains(path) && errText.contains(reason), qPrintable(errText));
        if (!json) {
            QCOMPARE(outText, QString());
            return;
        }
        QCOMPARE(outText.count(QLatin1Char('\n')), 1);
        const QJsonObject event = QJsonDocument::fromJson(outText.toUtf8()).object();
        QCOMPARE(event.value(QStringLiteral("event")).toString(), QStringLiteral("capture"));
        QCOMPARE(event.value(QStringLiteral("file")).toString(), path);
        QVERIFY(event.value(QStringLiteral("message")).toString().contains(reason));
    }
};

QTEST_GUILESS_MAIN(TestCaptureCommands)
#include "tst_capturecommands.moc"

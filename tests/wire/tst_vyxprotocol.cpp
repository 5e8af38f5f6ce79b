#include "wire/vyxprotocol.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

using Msg = VYX_Protocol::VYX_MSG;

QList<Msg> decodeAll(VYX_Protocol &codec, const QByteArray &wire)
{
    VYX_Protocol::VyxRxConfig config;
    VYX_Protocol::init(config, 0, 255);
    QList<Msg> frames;
    for (char c : wire) {
        Msg msg;
        if (codec.decodeByte(uint8_t(c), msg, config))
            frames.append(msg);
    }
    return frames;
}

QList<Msg> decodeAll(const QByteArray &wire)
{
    VYX_Protocol codec;
    return decodeAll(codec, wire);
}

} // namespace

class TestVyxProtocol : public QObject
{
    Q_OBJECT

private slots:
    void wireExamples_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("msgId");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("wire");

        QTest::newRow("poll") << 0xEE << 0x23 << QByteArray() << QByteArray::fromHex("1aee23ee1f");
        QTest::newRow("detection") << 0xEE << 0x22 << QByteArray() << QByteArray::fromHex("1aee22ef1f");
        QTest::newRow("stuffed payload byte")
            << 0xEE << 0x70 << QByteArray::fromHex("011f00") << QByteArray::fromHex("1aee70011d7f00811f");
        // 0x01 + 0xE4 = 0xE5, checksum 0x1A must be stuffed.
        QTest::newRow("checksum 0x1A stuffed") << 0x01 << 0xE4 << QByteArray() << QByteArray::fromHex("1a01e41d7a1f");
        // 0x01 + 0xE1 = 0xE2, checksum 0x1D.
        QTest::newRow("checksum 0x1D stuffed") << 0x01 << 0xE1 << QByteArray() << QByteArray::fromHex("1a01e11d7d1f");
        QTest::newRow("stuffed address and id")
            << 0x1A << 0x1D << QByteArray::fromHex("1a") << QByteArray::fromHex("1a1d7a1d7d1d7a" "ae" "1f");
    }

    void wireExamples()
    {
        QFETCH(int, address);
        QFETCH(int, msgId);
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, wire);

        VYX_Protocol codec;
        QCOMPARE(codec.encode(uint8_t(address), uint8_t(msgId), payload).toHex(), wire.toHex());

        const QList<Msg> frames = decodeAll(wire);
        QCOMPARE(frames.size(), 1);
        QCOMPARE(int(frames[0].status), 0);
        QCOMPARE(int(frames[0].address), address);
        QCOMPARE(int(frames[0].msgId), msgId);
        QCOMPARE(frames[0].payloadBytes().toHex(), payload.toHex());
    }

    void wrongChecksumIsFlagged()
    {
        const QList<Msg> frames = decodeAll(QByteArray::fromHex("1aee23ed1f"));
        QCOMPARE(frames.size(), 1);
        QCOMPARE(int(frames[0].status), int(VYX_Protocol::ChecksumError));
        QCOMPARE(int(frames[0].checksum), 0xED);
    }

    void resynchronisation_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QByteArray>("expectedIds");

        QTest::newRow("stray end before start") << QByteArray::fromHex("1f1aee23ee1f") << QByteArray::fromHex("23");
        QTest::newRow("short body waits for more") << QByteArray::fromHex("1aee1f23ee1f") << QByteArray::fromHex("23");
        QTest::newRow("new start drops open frame") << QByteArray::fromHex("1aee231aee22ef1f") << QByteArray::fromHex("22");
        QTest::newRow("garbage then frame") << QByteArray::fromHex("00ff1d551aee23ee1f") << QByteArray::fromHex("23");
        QTest::newRow("start storm") << QByteArray(50, '\x1a') + QByteArray::fromHex("ee23ee1f") << QByteArray::fromHex("23");
        QTest::newRow("two frames back to back")
            << QByteArray::fromHex("1aee23ee1f1aee22ef1f") << QByteArray::fromHex("2322");
    }

    void resynchronisation()
    {
        QFETCH(QByteArray, wire);
        QFETCH(QByteArray, expectedIds);
        QByteArray ids;
        for (const Msg &m : decodeAll(wire)) {
            QCOMPARE(int(m.status), 0);
            ids.append(char(m.msgId));
        }
        QCOMPARE(ids.toHex(), expectedIds.toHex());
    }

    void escapedStartContributesToSum()
    {
        // Payload 0x1A sent as 1D 7A: sum EE + 70 + 1A = 0x178 -> 0x78, checksum 0x87.
        const QList<Msg> frames = decodeAll(QByteArray::fromHex("1aee701d7a871f"));
        QCOMPARE(frames.size(), 1);
        QCOMPARE(int(frames[0].status), 0);
        QCOMPARE(frames[0].payloadBytes().toHex(), QByteArray("1a"));
    }

    void oversizePayloadIsNeverGood_data()
    {
        QTest::addColumn<int>("payloadSize");
        QTest::addColumn<bool>("good");
        QTest::newRow("33 fits") << 33 << true;
        QTest::newRow("34 dropped") << 34 << false;
        QTest::newRow("40 dropped") << 40 << false;
        QTest::newRow("41 wraps, dropped") << 41 << false;
        QTest::newRow("200 wraps, dropped") << 200 << false;
    }

    void oversizePayloadIsNeverGood()
    {
        QFETCH(int, payloadSize);
        QFETCH(bool, good);
        // Built by hand so the sizes past the encoder's limit can be sent too.
        QByteArray wire("\x1a\x01\x02", 3);
        uint8_t sum = 3;
        for (int i = 0; i < payloadSize; ++i) {
            wire.append(char(0x30 + i % 16));
            sum = uint8_t(sum + 0x30 + i % 16);
        }
        wire.append(char(uint8_t(~sum)));
        wire.append('\x1f');

        VYX_Protocol codec;
        const QList<Msg> frames = decodeAll(codec, wire + QByteArray::fromHex("1aee23ee1f"));
        QCOMPARE(frames.size(), 2);
        QCOMPARE(frames[0].status == 0, good);
        if (good)
            QCOMPARE(int(frames[0].length), payloadSize);
        else
            QVERIFY(frames[0].status & VYX_Protocol::PayloadOverflow);
        QCOMPARE(int(frames[1].status), 0); // the decoder is clean for the next frame
        QCOMPARE(int(frames[1].msgId), 0x23);
    }

    void encoderRefusesOverlongPayload()
    {
        VYX_Protocol codec;
        QVERIFY(codec.encode(0xEE, 0x45, QByteArray(41, 'x')).isEmpty());
        // Start, address, id, 40 stuffed bytes, checksum 0xF4 (not stuffed), end.
        QCOMPARE(codec.encode(0xEE, 0x45, QByteArray(40, '\x1f')).size(), 1 + 1 + 1 + 80 + 1 + 1);
    }

    void everyByteValueRoundTrips()
    {
        VYX_Protocol codec;
        for (int base = 0; base < 256; base += 32) {
            QByteArray payload;
            for (int v = base; v < base + 32; ++v)
                payload.append(char(v));
            const QList<Msg> frames = decodeAll(codec, codec.encode(uint8_t(base), uint8_t(255 - base), payload));
            QCOMPARE(frames.size(), 1);
            QCOMPARE(int(frames[0].status), 0);
            QCOMPARE(int(frames[0].address), base);
            QCOMPARE(int(frames[0].msgId), 255 - base);
            QCOMPARE(frames[0].payloadBytes(), payload);
        }
    }

    void randomBytesNeverYieldBadGoodFrames()
    {
        // Whatever arrives, a frame reported good carries a matching checksum and fits its record.
        QRandomGenerator rng(1234);
        VYX_Protocol codec;
        VYX_Protocol::VyxRxConfig config;
        VYX_Protocol::init(config, 0, 255);
        int good = 0;
        for (int i = 0; i < 200000; ++i) {
            // Bias towards the special bytes so frames and escapes actually happen.
            const quint32 r = rng.generate();
            const uint8_t specials[] = {0x1A, 0x1D, 0x1F};
            const uint8_t byte = (r & 7) == 0 ? specials[(r >> 3) % 3] : uint8_t(r >> 8);
            Msg msg;
            if (codec.decodeByte(byte, msg, config) && msg.status == 0) {
                ++good;
                QVERIFY(msg.length <= uint32_t(VYX_Protocol::MAX_MSG_PAYLOAD));
                uint8_t sum = uint8_t(msg.address + msg.msgId);
                for (uint32_t k = 0; k < msg.length; ++k)
                    sum = uint8_t(sum + msg.payload[k]);
                QCOMPARE(int(uint8_t(~sum)), int(msg.checksum));
            }
        }
        QVERIFY(good > 0);
    }

    void addressCheck()
    {
        VYX_Protocol codec;
        VYX_Protocol::VyxRxConfig config;
        VYX_Protocol::init(config, 1, 0x05);
        Msg msg;
        bool done = false;
        for (char c : QByteArray::fromHex("1aee23ee1f"))
            done = codec.decodeByte(uint8_t(c), msg, config);
        QVERIFY(done);
        QCOMPARE(int(msg.status), int(VYX_Protocol::AddressMismatch));
    }
};

QTEST_APPLESS_MAIN(TestVyxProtocol)
#include "tst_vyxprotocol.moc"

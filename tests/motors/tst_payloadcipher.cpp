#include "motors/payloadcipher.h"

#include <QtEndian>
#include <QtTest>

namespace {

constexpr uint64_t KEY = 0x0123456789ABCDEFULL;

// A 28-byte motor record.
const QByteArray RECORD = QByteArray::fromHex(
    "0000003e0000003f000000c00000803ffb00e8032c01070132bc3a12");

// RECORD under KEY with random byte 0x5A and the default modes (flags 0x02), computed
// outside this program from the definition of the format.
const QByteArray RECORD_CIPHER = QByteArray::fromHex(
    "0302b5bd8d0463263b3ad5188c056227c4c52a67f381e64b6b46a862c873a8d7e6");
const char RECORD_CIPHER_TEXT[] = "AwK1vY0EYyY7OtUYjAViJ8TFKmfzgeZLa0aoYshzqNfm";

// "Kordo " x 20 under KEY, random byte 0xC3, compressed (zlib level 9 with the 4-byte
// big-endian length) and protected by SHA-1: flags 0x05.
const QByteArray SHA1_COMPRESSED_CIPHER = QByteArray::fromHex(
    "03052cab41416d0675801f7561295e39cbd6e1b7d4db0c496a6bfc493842eb81e82098a5a81a7431028540e0");

QByteArray repeated(const char *text, int times)
{
    QByteArray out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

} // namespace

class TestPayloadCipher : public QObject
{
    Q_OBJECT

private slots:
    void knownCipherText()
    {
        PayloadCipher cipher(KEY);
        const QByteArray cipherData = cipher.encryptBytes(RECORD, 0x5A);
        QCOMPARE(cipherData.toHex(), RECORD_CIPHER.toHex());
        QCOMPARE(cipher.lastError(), PayloadCipher::CipherOk);
        QCOMPARE(QString::fromLatin1(cipherData.toBase64()), QString::fromLatin1(RECORD_CIPHER_TEXT));
    }

    void decryptsKnownCipherTexts()
    {
        PayloadCipher cipher(KEY);
        QCOMPARE(cipher.decryptBytes(QString::fromLatin1(RECORD_CIPHER_TEXT)).toHex(), RECORD.toHex());
        QCOMPARE(cipher.lastError(), PayloadCipher::CipherOk);
        QCOMPARE(cipher.decryptBytes(SHA1_COMPRESSED_CIPHER), repeated("Kordo ", 20));
        QCOMPARE(cipher.lastError(), PayloadCipher::CipherOk);
    }

    void recordTextHasFixedSize()
    {
        PayloadCipher cipher(KEY);
        const QString text = cipher.encryptText(RECORD);
        QCOMPARE(text.size(), 44);
        const QByteArray cipherData = QByteArray::fromBase64(text.toLatin1());
        QCOMPARE(cipherData.size(), 33);
        QCOMPARE(uint8_t(cipherData.at(0)), uint8_t(0x03));
        QCOMPARE(uint8_t(cipherData.at(1)), uint8_t(0x02));    // not compressed, CRC-16
        QCOMPARE(cipher.decryptBytes(text), RECORD);
    }

    void roundTripsInEveryMode_data()
    {
        QTest::addColumn<int>("compression");
        QTest::addColumn<int>("protection");
        QTest::addColumn<QByteArray>("plain");
        QTest::addColumn<int>("expectedFlags");

        const QByteArray longText = repeated("motor;", 200);
        QTest::newRow("if-smaller crc, record") << int(PayloadCipher::CompressIfSmaller)
            << int(PayloadCipher::IntegrityCrc16) << RECORD << 0x02;
        QTest::newRow("if-smaller crc, repetitive") << int(PayloadCipher::CompressIfSmaller)
            << int(PayloadCipher::IntegrityCrc16) << longText << 0x03;
        QTest::newRow("always sha1") << int(PayloadCipher::CompressAlways)
            << int(PayloadCipher::IntegritySha1) << RECORD << 0x05;
        QTest::newRow("always none, empty") << int(PayloadCipher::CompressAlways)
            << int(PayloadCipher::IntegrityNone) << QByteArray() << 0x01;
        QTest::newRow("never none") << int(PayloadCipher::CompressNever)
            << int(PayloadCipher::IntegrityNone) << longText << 0x00;
        QTest::newRow("never sha1, empty") << int(PayloadCipher::CompressNever)
            << int(PayloadCipher::IntegritySha1) << QByteArray() << 0x04;
        QTest::newRow("never crc, all byte values") << int(PayloadCipher::CompressNever)
            << int(PayloadCipher::IntegrityCrc16) << [] {
                QByteArray all;
                for (int i = 0; i < 256; ++i)
                    all.append(char(i));
                return all;
            }() << 0x02;
    }

    void roundTripsInEveryMode()
    {
        QFETCH(int, compression);
        QFETCH(int, protection);
        QFETCH(QByteArray, plain);
        QFETCH(int, expectedFlags);

        PayloadCipher writer(KEY);
        writer.setCompressionMode(PayloadCipher::CompressionMode(compression));
        writer.setIntegrityProtectionMode(PayloadCipher::IntegrityProtectionMode(protection));
        const QByteArray cipherData = writer.encryptBytes(plain);
        QVERIFY(!cipherData.isEmpty());
        QCOMPARE(int(uint8_t(cipherData.at(1))), expectedFlags);
        if (!(expectedFlags & PayloadCipher::FLAG_COMPRESSED) && plain.size() > 8)
            QVERIFY(!cipherData.contains(plain.left(8)));   // the chain hid the text

        PayloadCipher reader(KEY);      // default modes: the flags decide
        QCOMPARE(reader.decryptBytes(cipherData), plain);
        QCOMPARE(reader.lastError(), PayloadCipher::CipherOk);
    }

    void textsTakeUtf8()
    {
        PayloadCipher cipher(KEY);
        const QString text = QStringLiteral("Motor \u00e9\u4e2d 42");
        QCOMPARE(cipher.decryptText(cipher.encryptText(text)), text);
        QCOMPARE(cipher.decryptText(cipher.encryptBytes(text)), text);
    }

    void randomByteVariesTheText()
    {
        PayloadCipher cipher(KEY);
        const QByteArray first = cipher.encryptBytes(RECORD, 0x00);
        const QByteArray second = cipher.encryptBytes(RECORD, 0x01);
        QVERIFY(first != second);
        QCOMPARE(cipher.decryptBytes(first), RECORD);
        QCOMPARE(cipher.decryptBytes(second), RECORD);
    }

    // Each enciphered byte also changes the next plain byte through the chain; CRC-16
    // detects every such burst, so no position may slip through.
    void anyFlippedBodyByteFailsIntegrity_data()
    {
        QTest::addColumn<int>("position");
        for (int i = 2; i < RECORD_CIPHER.size(); ++i)
            QTest::addRow("byte %d", i) << i;
    }

    void anyFlippedBodyByteFailsIntegrity()
    {
        QFETCH(int, position);
        QByteArray damaged = RECORD_CIPHER;
        damaged[position] = char(damaged.at(position) ^ 0x10);
        PayloadCipher cipher(KEY);
        QVERIFY(cipher.decryptBytes(damaged).isEmpty());
        QCOMPARE(cipher.lastError(), PayloadCipher::CipherIntegrityFailed);
    }

    void wrongVersionIsRefused()
    {
        QByteArray damaged = RECORD_CIPHER;
        damaged[0] = 0x02;
        PayloadCipher cipher(KEY);
        QTest::ignoreMessage(QtWarningMsg, "Invalid version or not a cyphertext.");
        QVERIFY(cipher.decryptBytes(damaged).isEmpty());
        QCOMPARE(cipher.lastError(), PayloadCipher::CipherBadVersion);
    }

    void tooShortInputIsRefused()
    {
        PayloadCipher cipher(KEY);
        QCOMPARE(cipher.decryptBytes(RECORD_CIPHER), RECORD);    // leaves CipherOk behind
        QVERIFY(cipher.decryptBytes(QByteArray::fromHex("0302")).isEmpty());
        QCOMPARE(cipher.lastError(), PayloadCipher::CipherBadVersion);
        QVERIFY(cipher.decryptBytes(QByteArray()).isEmpty());
    }

    void wrongKeyFailsIntegrity()
    {
        PayloadCipher cipher(KEY ^ 0x0100000000000000ULL);
        QVERIFY(cipher.decryptBytes(RECORD_CIPHER).isEmpty());
        QCOMPARE(cipher.lastError(), PayloadCipher::CipherIntegrityFailed);
    }

    void noKeyRefusesBothWays()
    {
        PayloadCipher cipher;
        QTest::ignoreMessage(QtWarningMsg, "No key set.");
        QVERIFY(cipher.encryptBytes(RECORD).isEmpty());
        QCOMPARE(cipher.lastError(), PayloadCipher::CipherNoKey);
        QTest::ignoreMessage(QtWarningMsg, "No key set.");
        QVERIFY(cipher.encryptText(RECORD).isEmpty());
        QTest::ignoreMessage(QtWarningMsg, "No key set.");
        QVERIFY(cipher.decryptBytes(RECORD_CIPHER).isEmpty());
        QCOMPARE(cipher.lastError(), PayloadCipher::CipherNoKey);

        cipher.setKey(KEY);
        QCOMPARE(cipher.decryptBytes(RECORD_CIPHER), RECORD);
    }

    void zeroIsAValidKey()
    {
        PayloadCipher cipher(0);
        const QByteArray cipherData = cipher.encryptBytes(RECORD, 0x5A);
        QCOMPARE(cipher.lastError(), PayloadCipher::CipherOk);
        QCOMPARE(cipher.decryptBytes(cipherData), RECORD);
    }

    // A compressed flag on a body that zlib refuses, or one announcing an absurd size,
    // must fail without allocating the announced size.
    void brokenCompressedBodyIsRefused_data()
    {
        QTest::addColumn<QByteArray>("fakeCompressed");
        QTest::newRow("garbage stream") << QByteArray::fromHex("0000001c" "0102030405060708");
        QTest::newRow("announces 2 GB") << QByteArray::fromHex("7fffffff" "78da030000000001");
        QTest::newRow("shorter than its header") << QByteArray::fromHex("0000");
    }

    void brokenCompressedBodyIsRefused()
    {
        QFETCH(QByteArray, fakeCompressed);
        PayloadCipher cipher(KEY);
        cipher.setCompressionMode(PayloadCipher::CompressNever);
        QByteArray cipherData = cipher.encryptBytes(fakeCompressed, 0x11);
        cipherData[1] = char(PayloadCipher::FLAG_CHECKSUM | PayloadCipher::FLAG_COMPRESSED);
        QVERIFY(cipher.decryptBytes(cipherData).isEmpty());
        QCOMPARE(cipher.lastError(), PayloadCipher::CipherDecompressFailed);
    }

    // A compressed body is inflated only up to its announced length and the cipher's
    // limit: a stream that inflates further is refused as soon as it passes the bound,
    // never inflated whole (a zlib bomb announcing 28 bytes).
    void compressedBodyIsInflatedWithinItsBound_data()
    {
        QTest::addColumn<int>("plainSize");       // what the stream really inflates to
        QTest::addColumn<int>("announced");       // the length in front of it
        QTest::addColumn<int>("limit");           // the cipher's plain size limit
        QTest::addColumn<bool>("accepted");
        QTest::newRow("28 bytes as announced") << 28 << 28 << 28 << true;
        QTest::newRow("64 MB announced as 28 bytes") << 64 * 1024 * 1024 << 28 << 28 << false;
        QTest::newRow("29 bytes announced as 28") << 29 << 28 << 1000 << false;
        QTest::newRow("27 bytes announced as 28") << 27 << 28 << 1000 << false;
        QTest::newRow("announced beyond the limit") << 100 << 100 << 28 << false;
        QTest::newRow("1 MB within the default limit") << 1024 * 1024 << 1024 * 1024
                                                       << int(PayloadCipher::DEFAULT_MAX_PLAIN_SIZE) << true;
    }

    void compressedBodyIsInflatedWithinItsBound()
    {
        QFETCH(int, plainSize);
        QFETCH(int, announced);
        QFETCH(int, limit);
        QFETCH(bool, accepted);
        QByteArray compressed = qCompress(QByteArray(plainSize, '\0'), 9);
        qToBigEndian<quint32>(quint32(announced), compressed.data());

        PayloadCipher cipher(KEY);
        cipher.setCompressionMode(PayloadCipher::CompressNever);
        QByteArray cipherData = cipher.encryptBytes(compressed, 0x11);
        cipherData[1] = char(PayloadCipher::FLAG_CHECKSUM | PayloadCipher::FLAG_COMPRESSED);
        cipher.setMaxPlainSize(limit);
        const QByteArray plain = cipher.decryptBytes(cipherData);
        QCOMPARE(cipher.lastError(), accepted ? PayloadCipher::CipherOk : PayloadCipher::CipherDecompressFailed);
        QCOMPARE(plain, accepted ? QByteArray(plainSize, '\0') : QByteArray());
    }

    void compressedEmptyTextRoundTrips()
    {
        PayloadCipher cipher(KEY);
        cipher.setCompressionMode(PayloadCipher::CompressAlways);
        const QByteArray cipherData = cipher.encryptBytes(QByteArray());
        QVERIFY(!cipherData.isEmpty());
        QVERIFY(cipher.decryptBytes(cipherData).isEmpty());
        QCOMPARE(cipher.lastError(), PayloadCipher::CipherOk);
    }
};

QTEST_APPLESS_MAIN(TestPayloadCipher)
#include "tst_payloadcipher.moc"

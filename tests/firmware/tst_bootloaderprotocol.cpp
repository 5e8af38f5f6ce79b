#include "firmware/bootloaderprotocol.h"
#include "firmware/firmwareimage.h"
#include "firmware/updateerror.h"
#include "firmware/updatefwhelper.h"
#include "firmwareimages.h"
#include "tests/common/channelplayer.h"
#include "wire/messageids.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace Bootloader;

// The bootloader's bytes, the image checks, and the sequencer fed byte by byte.
class TestBootloaderProtocol : public QObject
{
    Q_OBJECT

    // The sequencer alone, with what it sends recorded and the bootloader's bytes fed in.
    struct Script
    {
        RequestChannel requests {QStringLiteral("UpdateFwHelper")};
        ChannelPlayer line {&requests};
        UpdateFwHelper fw {&requests};
        QSignalSpy raw {&requests, &RequestChannel::bytesSent};
        QSignalSpy finished {&fw, &UpdateFwHelper::updateFinished};
        QSignalSpy texts {&fw, &UpdateFwHelper::sendTextForMsgBox};
        QTemporaryDir dir;

        // A sound image: the update is not refused before it begins.
        QString imageFile()
        {
            const QString path = dir.filePath(QStringLiteral("fw.bin"));
            return TestImages::writeFile(path, TestImages::plainImage(8192)) ? path : QString();
        }

        // The bootloader's bytes, framed as the request line frames them.
        void feed(const QByteArray &bytes) { line.feed(bytes); }
        QByteArray lastSent() const { return raw.isEmpty() ? QByteArray() : raw.last().at(0).toByteArray(); }
        // Waiting for a bootloader; the first sync answered.
        void startInBootloader(const QString &file)
        {
            fw.startUpdate(file);
            fw.updateTick();
            feed(QByteArray::fromHex("79"));
        }
    };

private slots:
    void requestBytes()
    {
        QCOMPARE(commandRequest(0x31).toHex(), QByteArray("31ce"));
        QCOMPARE(commandRequest(0xA1).toHex(), QByteArray("a15e"));
        QCOMPARE(commandRequest(0x00).toHex(), QByteArray("00ff"));
        QCOMPARE(syncRequest().toHex(), QByteArray("f00f"));
        QCOMPARE(addressRequest(512).toHex(), QByteArray("0000020002"));
        const QByteArray zeros = pageRequest(QByteArray(256, '\0'));
        QCOMPARE(zeros, QByteArray(1, char(0xFF)) + QByteArray(256, '\0') + char(0xFF));
        // A short last page is filled with 0xFF: 0xFF, 0x01, 255 x 0xFF, and the XOR of
        // them all: 0xFF ^ 0x01 ^ 0xFF (the 255 fill bytes) = 0x01.
        const QByteArray shortPage = pageRequest(QByteArray(1, char(0x01)));
        QCOMPARE(shortPage.size(), 258);
        QCOMPARE(shortPage.mid(1, 257), QByteArray(1, char(0x01)) + QByteArray(255, char(0xFF)) + char(0x01));
        const QByteArray block = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
        QCOMPARE(aesBlockRequest(block), block + char(0x00));
    }

    void getAnswerMarksListedCommands()
    {
        CommandTable table;
        QVERIFY(table.isSupported(CmdGet));
        QVERIFY(!table.isSupported(CmdGetId));
        BootloaderInfo info;
        decodeGet(QByteArray::fromHex("91" "0002092131" "55"), &info, &table);
        QCOMPARE(info.version, uint8_t(0x91));
        QList<int> supported;
        for (int i = 0; i < CommandTable::SIZE; ++i) {
            if (table.isSupported(i))
                supported << i;
        }
        QCOMPARE(supported, QList<int>({CmdGet, CmdGetId, CmdGetInfo, CmdStart, CmdWritePage}));
    }

    void answersDecode()
    {
        BootloaderInfo info;
        decodeGetId(QByteArray::fromHex("1304"), &info);
        QCOMPARE(info.PID, 0x0413u);
        decodeGetId(QByteArray::fromHex("27"), &info);
        QCOMPARE(info.PID, 0x27u);
        decodeGetInfo(QByteArray::fromHex("5ac3" "38640110" "40000000" "31004300" "0b513734" "30383830"), &info);
        QCOMPARE(info.fead3, uint8_t(0x5A));
        QCOMPARE(info.fead4, uint8_t(0xC3));
        QCOMPARE(info.Mcu, 0x10016438u);
        QCOMPARE(info.Flash, 64);
        QCOMPARE(info.uid3, 0x30383830u);
        // A short security answer is read as far as it goes.
        decodeGetSecurity(QByteArray::fromHex("01020304" "05060708"), &info);
        QCOMPARE(info.Mcu, 0x04030201u);
        QCOMPARE(info.uid1, 0x08070605u);
        QCOMPARE(info.uid2, 0x3437510Bu);
        QVERIFY(!info.aesPresent);
        decodeGetSecurity(QByteArray::fromHex("01020304050607080900000001"), &info);
        QVERIFY(info.aesPresent);
    }

    void checksums()
    {
        // 4096 zero bytes with k0 = 1: 1023 x 0x01000000 = 0xFF000000, complemented.
        QByteArray plain(4096, '\0');
        plain[4096 - 8] = char(0x01);
        QCOMPARE(FirmwareImage::plainChecksum(plain), 0x00FFFFFFu);
        // The header's two words of "BOOTLD91" and nothing else.
        QByteArray encrypted(4352, '\0');
        encrypted.replace(0, 8, "BOOTLD91");
        encrypted[252] = char(0x55); // the checksum word itself is left out
        QCOMPARE(FirmwareImage::encryptedChecksum(encrypted), 0x7A776C71u);
    }

    void imageChecks_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("version");
        QTest::addColumn<bool>("aes");
        QTest::addColumn<uint32_t>("error");

        QByteArray noMagic = TestImages::encryptedImage(4352);
        noMagic[0] = 'X';
        QByteArray encryptedChanged = TestImages::encryptedImage(4352);
        encryptedChanged[4000] = char(encryptedChanged[4000] ^ 0x01);
        // 64 KiB of flash leave 48 KiB (49152 bytes) for the application.
        QTest::newRow("plain 0x90") << TestImages::plainImage(8192) << 0x90 << false << UpdateError::None;
        QTest::newRow("plain 0x91") << TestImages::plainImage(4096) << 0x91 << false << UpdateError::None;
        QTest::newRow("empty plain") << QByteArray() << 0x90 << false << UpdateError::Length;
        QTest::newRow("plain, 4100 bytes") << TestImages::plainImage(4100) << 0x90 << false << UpdateError::Length;
        QTest::newRow("plain, 52 KiB in 48") << TestImages::plainImage(53248) << 0x90 << false << UpdateError::Size;
        QTest::newRow("plain, exactly 48 KiB") << TestImages::plainImage(49152) << 0x90 << false << UpdateError::None;
        QTest::newRow("plain, other fead4") << TestImages::plainImage(8192, 0x5A, 0xC4) << 0x90 << false
                                            << UpdateError::Variant;
        QTest::newRow("encrypted") << TestImages::encryptedImage(4352) << 0x91 << true << UpdateError::None;
        QTest::newRow("encrypted, header only") << TestImages::encryptedImage(256) << 0x91 << true
                                                << UpdateError::Length;
        QTest::newRow("encrypted, plain length") << TestImages::plainImage(4096) << 0x91 << true
                                                 << UpdateError::Length;
        QTest::newRow("encrypted, no magic") << noMagic << 0x91 << true << UpdateError::Header;
        QTest::newRow("encrypted, other variant") << TestImages::encryptedImage(4352, 0x5B) << 0x91 << true
                                                  << UpdateError::Variant;
        QTest::newRow("encrypted, other fead4") << TestImages::encryptedImage(4352, 0x5A, 0xC4) << 0x91 << true
                                                << UpdateError::Variant;
        QTest::newRow("encrypted, exactly 48 KiB") << TestImages::encryptedImage(256 + 49152) << 0x91 << true
                                                   << UpdateError::None;
        QTest::newRow("encrypted, 52 KiB in 48") << TestImages::encryptedImage(256 + 53248) << 0x91 << true
                                                 << UpdateError::Size;
        QTest::newRow("encrypted, changed byte") << encryptedChanged << 0x91 << true << UpdateError::Checksum;
        QTest::newRow("other version: as it is") << QByteArray(300, 'x') << 0x92 << false << UpdateError::None;
        QTest::newRow("other version, empty") << QByteArray() << 0x92 << false << UpdateError::Length;
    }

    void imageChecks()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, version);
        QFETCH(bool, aes);
        QFETCH(uint32_t, error);
        BootloaderInfo info;
        info.version = uint8_t(version);
        info.aesPresent = aes;
        info.fead3 = 0x5A;
        info.fead4 = 0xC3;
        info.Flash = 64;
        const FirmwareImage image(file, FirmwareImage::layoutFor(info));
        QCOMPARE(image.check(info), error);
    }

    void shortLastPageOfAnUncheckedImage()
    {
        const FirmwareImage image(QByteArray(300, 'x'), FirmwareImage::Layout::Unchecked);
        QCOMPARE(image.pageCount(), 2);
        QCOMPARE(image.pageAt(256), QByteArray(44, 'x'));
        QCOMPARE(pageRequest(image.pageAt(256)).mid(45, 212), QByteArray(212, char(0xFF)));
    }

    // The 0x09 answer is 22 bytes whatever its count byte says; a command the bootloader
    // did not list ends the update with an error instead of stalling it.
    void identificationByBytes()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("fw.bin"));
        QVERIFY(TestImages::writeFile(file, TestImages::plainImage(4096)));
        Script s;
        s.startInBootloader(file);
        QCOMPARE(s.lastSent().toHex(), QByteArray("00ff"));
        s.feed(QByteArray::fromHex("79" "04" "90" "000209" "21" "79")); // no 0x31
        QCOMPARE(s.lastSent().toHex(), QByteArray("02fd"));
        s.feed(QByteArray::fromHex("79" "01" "1304" "79"));
        QCOMPARE(s.lastSent().toHex(), QByteArray("09f6"));
        s.feed(QByteArray::fromHex("79" "03" "5ac3" "38640110" "40000000" "31004300" "0b513734" "30383830" "79"));
        QCOMPARE(s.fw.bootloaderInfo().Flash, 64);
        QCOMPARE(s.fw.bootloaderInfo().uid3, 0x30383830u);
        // 0xA4 not offered: straight to the image, which needs 0x31.
        QCOMPARE(s.fw.state(), UpdateFwHelper::UpdateFailed);
        QCOMPARE(s.fw.errorCode(), UpdateError::NotOffered);
        s.fw.updateTick();
        QCOMPARE(s.texts.last().at(0).toString(), QStringLiteral("An update problem has occurred. Error 0x40"));
        QCOMPARE(s.fw.state(), UpdateFwHelper::UpdateIdle);
    }

    void nackClosingAMultiByteAnswerFails()
    {
        Script s;
        s.startInBootloader(s.imageFile());
        s.feed(QByteArray::fromHex("79" "01" "91" "00" "1f"));
        QCOMPARE(s.fw.errorCode(), UpdateError::Nack);
    }

    void refusedResetEndsTheUpdate()
    {
        Script s;
        QSignalSpy vyx(&s.requests, &RequestChannel::requestSent);
        s.fw.deviceConnectionState(DEVICE_CONNECTED);
        s.fw.startUpdate(s.imageFile());
        QCOMPARE(vyx.size(), 1);
        QCOMPARE(vyx.first().at(0).value<uint8_t>(), uint8_t(VyxMsg::FIRMWARE_UPDATE_ENTRY));
        VYX_Protocol::VYX_MSG refused;
        refused.msgId = VyxMsg::FIRMWARE_UPDATE_ENTRY;
        refused.payload[0] = ANSWER_REFUSED;
        refused.length = 1;
        s.line.answer(refused);
        s.fw.updateTick();
        QCOMPARE(s.finished.size(), 1);
        QCOMPARE(s.texts.last().at(0).toString(), QStringLiteral("An update problem has occurred. Error 0x200"));
        QVERIFY(!s.fw.isUpdateRunning());
    }

    // No tick of the firmware page follows a lost port: the end is reported at once.
    void lostPortEndsTheUpdateAtOnce()
    {
        Script s;
        QSignalSpy vyx(&s.fw, &UpdateFwHelper::setVyxProtocol);
        s.startInBootloader(s.imageFile());
        QVERIFY(s.fw.isUpdateRunning());
        s.fw.portClosed();
        QCOMPARE(s.finished.size(), 1);
        QCOMPARE(s.texts.last().at(0).toString(), QStringLiteral("An update problem has occurred. Error 0x100"));
        QCOMPARE(vyx.size(), 1);
        QCOMPARE(s.fw.state(), UpdateFwHelper::UpdateIdle);
        s.fw.portClosed(); // nothing more to end
        QCOMPARE(s.finished.size(), 1);
    }

    void otherReceiversAreIgnored()
    {
        Script s;
        s.startInBootloader(s.imageFile());
        RequestChannel other(QStringLiteral("PingHelper"));
        emit other.failed(s.line.open.last().ticket, RequestFailure::NoAnswer);
        emit s.requests.failed(ChannelPlayer::unknownTicket(), RequestFailure::NoAnswer);
        QCOMPARE(s.fw.state(), UpdateFwHelper::BlGet);
        QVERIFY(s.line.failBytes());
        QCOMPARE(s.fw.state(), UpdateFwHelper::UpdateFailed);
        QCOMPARE(s.fw.errorCode(), UpdateError::Timeout);
    }
};

QTEST_GUILESS_MAIN(TestBootloaderProtocol)
#include "tst_bootloaderprotocol.moc"

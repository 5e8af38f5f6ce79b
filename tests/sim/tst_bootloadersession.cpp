#include "simhost.h"

#include "wire/records.h"
#include "sim/simulatedcontroller.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

const QByteArray ACK = QByteArray::fromHex("79");
const QByteArray NACK = QByteArray::fromHex("1f");

QByteArray command(uint8_t code)
{
    return QByteArray(1, char(code)) + char(code ^ 0xFF);
}

uint8_t xorOf(const QByteArray &bytes)
{
    uint8_t x = 0;
    for (char c : bytes)
        x ^= uint8_t(c);
    return x;
}

QByteArray address(uint32_t offset)
{
    QByteArray a;
    for (int shift = 24; shift >= 0; shift -= 8)
        a.append(char((offset >> shift) & 0xFF));
    return a + char(xorOf(a));
}

QByteArray pageRequest(const QByteArray &data)
{
    const QByteArray body = QByteArray(1, char(data.size() - 1)) + data;
    return body + char(xorOf(body));
}

QByteArray randomPage(quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray page(256, '\0');
    for (char &c : page)
        c = char(random.bounded(256));
    return page;
}

// Sends the requests one after the other; what came back after each echo, joined.
QByteArray sendEach(SimHost &host, const QList<QByteArray> &requests)
{
    QByteArray answers;
    for (const QByteArray &request : requests)
        answers += host.send(request);
    return answers;
}

// Writes one page with command 0x31: the three acknowledgements.
QByteArray writePage(SimHost &host, uint32_t offset, const QByteArray &data, uint8_t writeCommand = 0x31)
{
    return sendEach(host, { command(writeCommand), address(offset), pageRequest(data) });
}

} // namespace

class TestBootloaderSession : public QObject
{
    Q_OBJECT

private slots:
    void fullSession_data()
    {
        QTest::addColumn<bool>("startInBootloader");
        QTest::newRow("after a reset request") << false;
        QTest::newRow("at power-up") << true;
    }

    void fullSession()
    {
        QFETCH(bool, startInBootloader);
        SimulatorConfig config;
        config.bootloader.startInBootloader = startInBootloader;
        SimulatedController controller(config);
        SimHost host(controller);
        if (!startInBootloader)
            QCOMPARE(host.ask(VyxMsg::FIRMWARE_UPDATE_ENTRY), QByteArray::fromHex("20"));
        QVERIFY(controller.isInBootloader());

        QCOMPARE(host.send(QByteArray::fromHex("f00f")), ACK);
        QCOMPARE(host.send(command(0x00)), QByteArray::fromHex("79" "06" "91" "0002092131a4" "79"));
        QCOMPARE(host.send(command(0x02)), QByteArray::fromHex("79" "01" "1304" "79"));
        // Variant bytes, MCU, flash 64 KiB, unique id in three words.
        QCOMPARE(host.send(command(0x09)),
                 QByteArray::fromHex("79" "15" "5ac3" "38640110" "40000000" "31004300" "0b513734" "30383830" "79"));
        QCOMPARE(host.send(command(0xA4)),
                 QByteArray::fromHex("79" "0c" "38640110" "31004300" "0b513734" "00" "79"));

        const QByteArray image = randomPage(1) + randomPage(2);
        QCOMPARE(writePage(host, 0, image.left(256)), ACK + ACK + ACK);
        QCOMPARE(writePage(host, 256, image.mid(256)), ACK + ACK + ACK);

        // A page whose checksum is wrong is refused and not written.
        QByteArray spoilt = pageRequest(randomPage(3));
        spoilt[spoilt.size() - 1] = char(spoilt.at(spoilt.size() - 1) ^ 0x01);
        QCOMPARE(sendEach(host, { command(0x31), address(512), spoilt }), ACK + ACK + NACK);

        QCOMPARE(controller.bootloader().flash().left(512), image);
        QCOMPARE(controller.bootloader().flash().mid(512, 256), QByteArray(256, char(0xFF)));
        QCOMPARE(controller.bootloader().pagesWritten(), 2);

        QCOMPARE(host.send(command(0x21)), ACK);
        QVERIFY(!controller.isInBootloader());
        QCOMPARE(DeviceIdentity::decode(host.ask(VyxMsg::GET_DEVICE_INFO)).runFlag, uint8_t(0));
    }

    void refusedRequests()
    {
        SimulatorConfig config;
        config.bootloader.startInBootloader = true;
        SimulatedController controller(config);
        SimHost host(controller);

        QCOMPARE(host.send(command(0x00)), QByteArray()); // nothing before the sync
        QCOMPARE(host.send(QByteArray::fromHex("f00f")), ACK);
        QCOMPARE(host.send(QByteArray::fromHex("3130")), NACK);  // wrong complement
        QCOMPARE(host.send(command(0xA0)), NACK);               // no encryption here
        QCOMPARE(host.send(command(0x44)), NACK);               // not offered
        QCOMPARE(sendEach(host, { command(0x31), QByteArray::fromHex("0000010002") }), ACK + NACK); // bad XOR
        // The application area is 64 - 16 = 48 KiB: 0xC000 lies past it.
        QCOMPARE(sendEach(host, { command(0x31), address(0xC000) }), ACK + NACK);
        QCOMPARE(writePage(host, 0xBF00, randomPage(4)), ACK + ACK + ACK); // the last page
        QCOMPARE(host.send(QByteArray::fromHex("f00f")), ACK);  // a repeated sync
    }

    void pageRefusedByFaultSwitch()
    {
        SimulatorConfig config;
        config.bootloader.startInBootloader = true;
        config.faults.nackPage = 1;
        SimulatedController controller(config);
        SimHost host(controller);
        host.send(QByteArray::fromHex("f00f"));
        QCOMPARE(writePage(host, 0, randomPage(5)), ACK + ACK + ACK);
        QCOMPARE(writePage(host, 256, randomPage(6)), ACK + ACK + NACK);
        QCOMPARE(writePage(host, 256, randomPage(6)), ACK + ACK + ACK); // refused once only
        QCOMPARE(controller.bootloader().flash().mid(256, 256), randomPage(6));
    }

    void startRefusedByFaultSwitch()
    {
        SimulatorConfig config;
        config.bootloader.startInBootloader = true;
        config.faults.nackStartTimes = 2;
        SimulatedController controller(config);
        SimHost host(controller);
        host.send(QByteArray::fromHex("f00f"));
        QCOMPARE(sendEach(host, { command(0x21), command(0x21) }), NACK + NACK);
        QVERIFY(controller.isInBootloader());
        QCOMPARE(host.send(command(0x21)), ACK);
        QVERIFY(!controller.isInBootloader());
    }

    void incompleteRequestIsForgotten()
    {
        SimulatorConfig config;
        config.bootloader.startInBootloader = true;
        SimulatedController controller(config);
        SimHost host(controller);
        host.send(QByteArray::fromHex("f00f"));
        host.send(command(0x31) + address(0));
        QCOMPARE(host.send(pageRequest(randomPage(7)).left(100)), QByteArray()); // the host gave up
        controller.advance(1500);
        QCOMPARE(host.send(QByteArray::fromHex("f00f")), ACK);
        QCOMPARE(controller.bootloader().pagesWritten(), 0);
    }

    void encryptedImageCommands()
    {
        SimulatorConfig config;
        config.bootloader.startInBootloader = true;
        config.bootloader.aes = true;
        SimulatedController controller(config);
        SimHost host(controller);
        host.send(QByteArray::fromHex("f00f"));
        QCOMPARE(host.send(command(0x00)), QByteArray::fromHex("79" "07" "91" "00020921a0a1a4" "79"));
        QCOMPARE(host.send(command(0xA4)).right(2), QByteArray::fromHex("0179")); // AES present
        QCOMPARE(host.send(command(0xA1)), NACK);   // no header block yet
        const QByteArray block = randomPage(8).left(16);
        QCOMPARE(sendEach(host, { command(0xA0), block + char(xorOf(block)) }), ACK + ACK);
        QCOMPARE(writePage(host, 0, randomPage(9), 0xA1), ACK + ACK + ACK);
        QCOMPARE(controller.bootloader().flash().left(256), randomPage(9));
    }

    void version90OffersNoSecurityCommand()
    {
        SimulatorConfig config;
        config.bootloader.startInBootloader = true;
        config.bootloader.version = 0x90;
        SimulatedController controller(config);
        SimHost host(controller);
        host.send(QByteArray::fromHex("f00f"));
        QCOMPARE(host.send(command(0x00)), QByteArray::fromHex("79" "05" "90" "0002092131" "79"));
        QCOMPARE(host.send(command(0xA4)), NACK);
    }
};

QTEST_GUILESS_MAIN(TestBootloaderSession)
#include "tst_bootloadersession.moc"

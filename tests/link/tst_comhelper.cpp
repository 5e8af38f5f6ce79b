#include "tests/common/fakeport.h"
#include "link/comhelper.h"

#include <QSignalSpy>
#include <QtTest>

#include <thread>

namespace {

QByteArray frame(uint8_t msgId, const QByteArray &payload = {}, uint8_t address = 0xEE)
{
    return VYX_Protocol().encode(address, msgId, payload);
}

PortInfo port(const QString &name, const QString &serial)
{
    return {name, QStringLiteral("/dev/") + name, serial, {}};
}

} // namespace

// Two requesters with their own class names, as the helpers that use the queue have.
class RequesterA : public QObject
{
    Q_OBJECT
signals:
    void com_sendVyxMessageObj(uint8_t vyxMsgId, QByteArray msg, bool pingType, bool waitForAnswer);
    void sendMessageToComPort(QByteArray msg, bool pollOrCheckDevice, bool waitForAnswer);
};

class RequesterB : public QObject
{
    Q_OBJECT
signals:
    void com_sendVyxMessageObj(uint8_t vyxMsgId, QByteArray msg, bool pingType, bool waitForAnswer);
};

class TestComHelper : public QObject
{
    Q_OBJECT

    FakeProvider *provider = nullptr;
    ComHelper *com = nullptr;
    RequesterA *a = nullptr;
    RequesterB *b = nullptr;

    FakePort *fakePort() { return provider->lastPort.data(); }

    // Ticks until the readiness thread has answered and the port is open.
    void connectToOneAdapter()
    {
        provider->ports = {port(QStringLiteral("ttyUSB0"), QStringLiteral("AE0001"))};
        com->startPortSelection();
        com->handleTimeout(); // choose
        com->handleTimeout(); // start readiness check
        QTRY_COMPARE_WITH_TIMEOUT(com->state(), ComHelper::PortOpen, 10000);
        com->handleTimeout(); // open
        QCOMPARE(com->state(), ComHelper::PortConnected);
        QVERIFY(fakePort());
    }

private slots:
    void init()
    {
        provider = new FakeProvider;
        com = new ComHelper(provider);
        a = new RequesterA;
        b = new RequesterB;
        connect(a, &RequesterA::com_sendVyxMessageObj, com, &ComHelper::sendVyxMessageObj);
        connect(a, &RequesterA::sendMessageToComPort, com, &ComHelper::sendMessage);
        connect(b, &RequesterB::com_sendVyxMessageObj, com, &ComHelper::sendVyxMessageObj);
    }

    void cleanup()
    {
        delete a;
        delete b;
        delete com;
        delete provider;
    }

    // ---- request queue ----

    void pollsJumpTheQueueNewestFirst()
    {
        connectToOneAdapter();
        emit a->com_sendVyxMessageObj(0x45, QByteArray("\x01", 1), false, true); // in flight
        emit a->com_sendVyxMessageObj(0x47, {}, false, true);
        emit a->com_sendVyxMessageObj(0x48, {}, false, true);
        emit a->com_sendVyxMessageObj(0x49, {}, false, true);
        emit b->com_sendVyxMessageObj(0x22, {}, true, true);
        emit b->com_sendVyxMessageObj(0x23, {}, true, true);
        QCOMPARE(fakePort()->writes.size(), 1);

        QByteArray order;
        for (int i = 0; i < 5; ++i) {
            fakePort()->answer(frame(0x20));
            order.append(char(uint8_t(fakePort()->writes.last().at(2))));
        }
        QCOMPARE(order.toHex(), QByteArray("2322474849"));
    }

    void echoIsDroppedByCountAndAnswerRoutedByName()
    {
        connectToOneAdapter();
        QSignalSpy answers(com, &ComHelper::processVyxMessageObj);
        emit b->com_sendVyxMessageObj(0x23, {}, true, true);
        QCOMPARE(fakePort()->writes.first(), QByteArray::fromHex("1aee23ee1f"));

        // Five echo bytes that differ from what was written are still dropped; the answer
        // carries an unexpected id and is still the answer to the request in flight.
        fakePort()->pendingEcho.clear();
        fakePort()->deliver(QByteArray::fromHex("0102030405") + frame(0x31, QByteArray::fromHex("20")));
        QCOMPARE(answers.size(), 1);
        QCOMPARE(answers[0][0].toString(), QStringLiteral("RequesterB"));
        const auto msg = answers[0][1].value<VYX_Protocol::VYX_MSG>();
        QCOMPARE(int(msg.msgId), 0x31);
        QCOMPARE(msg.payloadBytes(), QByteArray::fromHex("20"));
        QVERIFY(!com->isWatchDogRunning());
    }

    void badChecksumRunsIntoTheWatchdogAndEmptiesTheQueue()
    {
        connectToOneAdapter();
        QSignalSpy answers(com, &ComHelper::processVyxMessageObj);
        QSignalSpy lost(com, &ComHelper::watchDogOverflowObj);
        emit a->com_sendVyxMessageObj(0x44, {}, false, true);
        emit a->com_sendVyxMessageObj(0x46, {}, false, true);
        emit a->com_sendVyxMessageObj(0x48, {}, false, true);
        QByteArray bad = frame(0x44, QByteArray::fromHex("0102"));
        bad[bad.size() - 2] = char(bad.at(bad.size() - 2) ^ 0x01);
        fakePort()->answer(bad);
        QCOMPARE(answers.size(), 0);

        com->handleTimeout();
        QCOMPARE(lost.size(), 0);
        com->handleTimeout(); // default limit: two ticks
        QCOMPARE(lost.size(), 1);
        QCOMPARE(int(lost[0][0].value<uint8_t>()), 0x44);
        QCOMPARE(lost[0][1].toString(), QStringLiteral("RequesterA"));
        QCOMPARE(com->queuedRequests(), 0);
        QCOMPARE(fakePort()->writes.size(), 1);

        // Requests after the loss go out normally.
        emit a->com_sendVyxMessageObj(0x40, {}, false, true);
        QCOMPARE(fakePort()->writes.size(), 2);
    }

    void requestWithoutAnswerFreesTheLineAfterItsSlot()
    {
        connectToOneAdapter();
        QSignalSpy lost(com, &ComHelper::watchDogOverflowObj);
        emit a->com_sendVyxMessageObj(0x26, {}, false, false);
        emit a->com_sendVyxMessageObj(0x27, {}, false, true);
        QCOMPARE(fakePort()->writes.size(), 1);
        com->handleTimeout();
        com->handleTimeout(); // slot over: the same tick sends the next one
        QCOMPARE(fakePort()->writes.size(), 2);
        QCOMPARE(lost.size(), 0);

        // A poll does not wait for the slot of a request that expects no answer.
        fakePort()->answer(frame(0x27));
        emit a->com_sendVyxMessageObj(0x26, {}, false, false);
        emit b->com_sendVyxMessageObj(0x23, {}, true, true);
        QCOMPARE(uint8_t(fakePort()->writes.last().at(2)), uint8_t(0x23));
    }

    void failedWriteKeepsTheHead()
    {
        connectToOneAdapter();
        fakePort()->refuseWrites = true;
        emit a->com_sendVyxMessageObj(0x40, {}, false, true);
        QCOMPARE(com->queuedRequests(), 1);
        QVERIFY(!com->isWatchDogRunning());
        fakePort()->refuseWrites = false;
        com->handleTimeout();
        QCOMPARE(com->queuedRequests(), 0);
        QCOMPARE(fakePort()->writes.size(), 1);
    }

    void rawRequestPassesBytesOn()
    {
        connectToOneAdapter();
        QSignalSpy chars(com, &ComHelper::handleReceivedChar);
        emit a->sendMessageToComPort(QByteArray::fromHex("7f"), false, true);
        fakePort()->answer(QByteArray::fromHex("ff79"));
        QCOMPARE(chars.size(), 2);
        QCOMPARE(chars[0][0].value<long>(), 255L);
        QCOMPARE(chars[1][0].value<long>(), 0x79L);
        QVERIFY(com->isWatchDogRunning()); // raw requests end only by answerCorrect()
        com->answerCorrect();
        QVERIFY(!com->isWatchDogRunning());
    }

    void newAddressAppliesToLaterFrames()
    {
        connectToOneAdapter();
        com->setVyxAddress(0x05);
        emit a->com_sendVyxMessageObj(0x23, {}, true, true);
        QCOMPARE(fakePort()->writes.first(), frame(0x23, {}, 0x05));
    }

    void watchDogLimits_data()
    {
        QTest::addColumn<uint>("ms");
        QTest::addColumn<uint>("ticks");
        QTest::newRow("30") << 30u << 0u;
        QTest::newRow("50") << 50u << 2u;
        QTest::newRow("100") << 100u << 2u;
        QTest::newRow("149") << 149u << 2u;
        QTest::newRow("150") << 150u << 3u;
        QTest::newRow("1000") << 1000u << 20u;
    }

    void watchDogLimits()
    {
        QFETCH(uint, ms);
        QFETCH(uint, ticks);
        com->watchDogLimitSet(ms);
        QCOMPARE(com->watchDogLimit(), uint32_t(ticks));
        com->watchDogLimitReset();
        QCOMPARE(com->watchDogLimit(), 2u);
    }

    // ---- port life cycle ----

    void choosesTheOnlyAdapterWithoutAsking()
    {
        QSignalSpy ask(com, &ComHelper::needPortSelectAndInform);
        QSignalSpy opened(com, &ComHelper::comPortOpened);
        QSignalSpy status(com, &ComHelper::portConnectionStateChange);
        provider->ports = {port(QStringLiteral("ttyS0"), {}), port(QStringLiteral("ttyUSB0"), QStringLiteral("AE0001"))};
        connectToOneAdapter(); // replaces the list by the adapter alone; count changes once more
        QCOMPARE(ask.size(), 0);
        QCOMPARE(opened.size(), 1);
        QCOMPARE(status.last()[0].toString(), QStringLiteral("ttyUSB0"));
        QCOMPARE(status.last()[1].toBool(), true);
        QCOMPARE(status.last()[3].toBool(), true);
    }

    void asksWhenTheChoiceIsNotObvious_data()
    {
        QTest::addColumn<QList<PortInfo>>("ports");
        QTest::addColumn<QStringList>("offered");
        QTest::addColumn<bool>("adapters");

        const PortInfo a1 = port(QStringLiteral("ttyUSB0"), QStringLiteral("AE0001"));
        const PortInfo a2 = port(QStringLiteral("ttyUSB1"), QStringLiteral("AE0002"));
        const PortInfo generic = port(QStringLiteral("ttyS0"), QStringLiteral("FT123"));
        const PortInfo lowerCase = port(QStringLiteral("ttyUSB2"), QStringLiteral("ae0003"));
        QTest::newRow("two adapters, offered alone")
            << QList<PortInfo> {generic, a1, a2} << QStringList {QStringLiteral("ttyUSB0"), QStringLiteral("ttyUSB1")} << true;
        QTest::newRow("lower-case ae is generic")
            << QList<PortInfo> {lowerCase} << QStringList {QStringLiteral("ttyUSB2")} << false;
        QTest::newRow("one generic port still asks") << QList<PortInfo> {generic} << QStringList {QStringLiteral("ttyS0")} << false;
        QTest::newRow("no port at all") << QList<PortInfo> {} << QStringList {} << false;
    }

    void asksWhenTheChoiceIsNotObvious()
    {
        QFETCH(QList<PortInfo>, ports);
        QFETCH(QStringList, offered);
        QFETCH(bool, adapters);

        QSignalSpy ask(com, &ComHelper::needPortSelectAndInform);
        provider->ports = ports;
        com->startPortSelection();
        com->handleTimeout();
        QCOMPARE(ask.size(), 1);
        QStringList names;
        for (const PortInfo &p : ask[0][0].value<QList<PortInfo>>())
            names << p.portName;
        QCOMPARE(names, offered);
        QCOMPARE(ask[0][1].toBool(), adapters);
        QCOMPARE(com->state(), offered.isEmpty() ? ComHelper::PortIdle : ComHelper::PortAwaitSelection);
    }

    void userSelectionOpensThePort()
    {
        provider->ports = {port(QStringLiteral("ttyS0"), {}), port(QStringLiteral("ttyS1"), {})};
        com->startPortSelection();
        com->handleTimeout();
        com->selectPort(QStringLiteral("ttyS1"));
        com->handleTimeout();
        QTRY_COMPARE_WITH_TIMEOUT(com->state(), ComHelper::PortOpen, 10000);
        com->handleTimeout();
        QVERIFY(com->isConnected());
    }

    void cancelIdlesUntilThePortSetChanges()
    {
        QSignalSpy ask(com, &ComHelper::needPortSelectAndInform);
        provider->ports = {port(QStringLiteral("ttyS0"), {})};
        com->startPortSelection();
        com->handleTimeout();
        com->portSelectionCanceled();
        QCOMPARE(com->state(), ComHelper::PortIdle);
        for (int i = 0; i < 5; ++i)
            com->handleTimeout();
        QCOMPARE(ask.size(), 1);

        provider->ports.append(port(QStringLiteral("ttyS1"), {}));
        com->handleTimeout();
        QCOMPARE(ask.size(), 2);
    }

    void failedReadinessRetriesTheChoice()
    {
        provider->ready = false;
        provider->ports = {port(QStringLiteral("ttyUSB0"), QStringLiteral("AE0001"))};
        com->startPortSelection();
        com->handleTimeout();
        com->handleTimeout();
        QTRY_COMPARE_WITH_TIMEOUT(com->state(), ComHelper::PortChoose, 10000);
        provider->ready = true;
        com->handleTimeout();
        com->handleTimeout();
        QTRY_COMPARE_WITH_TIMEOUT(com->state(), ComHelper::PortOpen, 10000);
    }

    void failedOpenStartsTheChoiceAgain()
    {
        provider->openSucceeds = false;
        QSignalSpy opened(com, &ComHelper::comPortOpened);
        provider->ports = {port(QStringLiteral("ttyUSB0"), QStringLiteral("AE0001"))};
        com->startPortSelection();
        com->handleTimeout();
        com->handleTimeout();
        QTRY_COMPARE_WITH_TIMEOUT(com->state(), ComHelper::PortOpen, 10000);
        com->handleTimeout();
        QCOMPARE(com->state(), ComHelper::PortChoose);
        QCOMPARE(opened.size(), 0);
        QVERIFY(!com->isConnected());
    }

    void unpluggingClosesOnce()
    {
        connectToOneAdapter();
        QSignalSpy closed(com, &ComHelper::comPortClosed);
        emit a->com_sendVyxMessageObj(0x44, {}, false, true);
        emit a->com_sendVyxMessageObj(0x46, {}, false, true);
        provider->ports.clear();
        com->handleTimeout();
        QCOMPARE(com->state(), ComHelper::PortLost);
        com->handleTimeout(); // the watchdog expires in this tick too; the loss is still acted on
        QCOMPARE(closed.size(), 1);
        QCOMPARE(com->state(), ComHelper::PortIdle);
        QCOMPARE(com->queuedRequests(), 0);
        QVERIFY(!com->isConnected());
        for (int i = 0; i < 3; ++i)
            com->handleTimeout();
        QCOMPARE(closed.size(), 1);
    }

    void resourceErrorIsALossAtOnce()
    {
        connectToOneAdapter();
        QSignalSpy closed(com, &ComHelper::comPortClosed);
        fakePort()->vanish();
        QVERIFY(!fakePort()->isOpen()); // closed at once: a hung-up descriptor cannot spin
        QCOMPARE(com->state(), ComHelper::PortLost);
        com->handleTimeout();
        QCOMPARE(closed.size(), 1);
        QCOMPARE(com->state(), ComHelper::PortIdle);
    }

    void guiThreadCallsAreQueuedIntoTheOwnerThread()
    {
        provider->ports = {port(QStringLiteral("ttyS0"), {})};
        com->startPortSelection();
        com->handleTimeout();
        QCOMPARE(com->state(), ComHelper::PortAwaitSelection);

        std::thread other([this] { com->selectPort(QStringLiteral("ttyS0")); });
        other.join();
        QCOMPARE(com->state(), ComHelper::PortAwaitSelection); // nothing written from the other thread
        QTRY_COMPARE(com->state(), ComHelper::PortCheckReadiness);
    }
};

QTEST_GUILESS_MAIN(TestComHelper)
#include "tst_comhelper.moc"

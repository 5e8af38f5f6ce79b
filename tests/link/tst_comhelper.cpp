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

// Warnings of the link, counted while a test runs.
QStringList g_linkWarnings;
QtMessageHandler g_previousHandler = nullptr;

void collectLinkWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && qstrcmp(context.category, "kordo.link") == 0)
        g_linkWarnings.append(message);
    else
        g_previousHandler(type, context, message);
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

    void badChecksumRunsIntoTheWatchdogAndEveryDroppedSenderIsTold()
    {
        connectToOneAdapter();
        QSignalSpy answers(com, &ComHelper::processVyxMessageObj);
        QSignalSpy lost(com, &ComHelper::watchDogOverflowObj);
        emit a->com_sendVyxMessageObj(0x44, {}, false, true);
        emit b->com_sendVyxMessageObj(0x45, {}, false, true);
        emit a->com_sendVyxMessageObj(0x26, {}, false, false); // expects nothing: nothing to tell
        emit a->com_sendVyxMessageObj(0x48, {}, false, true);
        QByteArray bad = frame(0x44, QByteArray::fromHex("0102"));
        bad[bad.size() - 2] = char(bad.at(bad.size() - 2) ^ 0x01);
        fakePort()->answer(bad);
        QCOMPARE(answers.size(), 0);

        com->handleTimeout();
        QCOMPARE(lost.size(), 0);
        com->handleTimeout(); // default limit: two ticks
        QStringList reports;
        for (const QList<QVariant> &report : qAsConst(lost))
            reports << QStringLiteral("%1 %2").arg(report[0].value<uint8_t>(), 0, 16).arg(report[1].toString());
        QCOMPARE(reports, (QStringList{QStringLiteral("44 RequesterA"), QStringLiteral("45 RequesterB"),
                                       QStringLiteral("48 RequesterA")}));
        QCOMPARE(com->queuedRequests(), 0);
        QCOMPARE(fakePort()->writes.size(), 1);

        // Requests after the loss go out normally.
        emit a->com_sendVyxMessageObj(0x40, {}, false, true);
        QCOMPARE(fakePort()->writes.size(), 2);
    }

    void aRequestResentFromItsLossReportGoesOut()
    {
        connectToOneAdapter();
        emit b->com_sendVyxMessageObj(0x23, {}, true, true); // a status poll, lost
        emit a->com_sendVyxMessageObj(0x45, QByteArray("\x01", 1), false, true); // a write behind it
        connect(com, &ComHelper::watchDogOverflowObj, a, [this](uint8_t msgId, const QString &receiver) {
            if (receiver == QLatin1String("RequesterA"))
                emit a->com_sendVyxMessageObj(msgId, QByteArray("\x01", 1), false, true);
        });
        com->handleTimeout();
        com->handleTimeout();
        QCOMPARE(fakePort()->writes.size(), 2);
        QCOMPARE(uint8_t(fakePort()->writes.last().at(2)), uint8_t(0x45));
    }

    void nothingIsQueuedWithoutAPort()
    {
        QSignalSpy lost(com, &ComHelper::watchDogOverflowObj);
        for (int i = 0; i < 50; ++i)
            emit b->com_sendVyxMessageObj(0x22, {}, true, false); // detection: expects nothing
        emit a->com_sendVyxMessageObj(0x45, {}, false, true);
        QCOMPARE(com->queuedRequests(), 0);
        QCOMPARE(lost.size(), 0); // closing the port drops the device: nobody waits

        connectToOneAdapter();
        for (int i = 0; i < 5; ++i)
            com->handleTimeout();
        QVERIFY(fakePort()->writes.isEmpty()); // no stale request floods the controller
    }

    void writeFailures_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<bool>("isLost");
        QTest::newRow("write error (-1)") << "error" << false;
        QTest::newRow("full buffer (0)") << "full" << false;
        QTest::newRow("part of the frame") << "partial" << true;
    }

    void writeFailures()
    {
        QFETCH(QString, failure);
        QFETCH(bool, isLost);
        connectToOneAdapter();
        QSignalSpy lost(com, &ComHelper::watchDogOverflowObj);
        FakePort *line = fakePort();
        line->failWrites = failure == QLatin1String("error");
        line->refuseWrites = failure == QLatin1String("full");
        line->acceptAtMost = failure == QLatin1String("partial") ? 3 : -1;
        g_linkWarnings.clear();
        g_previousHandler = qInstallMessageHandler(collectLinkWarnings);
        emit a->com_sendVyxMessageObj(0x45, QByteArray::fromHex("0102030405060708"), false, true);
        emit a->com_sendVyxMessageObj(0x47, QByteArray::fromHex("0102030405060708"), false, true);
        for (int i = 0; i < 3; ++i)
            com->handleTimeout();
        qInstallMessageHandler(g_previousHandler);

        QCOMPARE(g_linkWarnings.size(), 1); // each kind of failure once, at warning level
        if (isLost) {
            // Every request cut short is lost at once, its sender told; the watchdog never ran.
            QVERIFY(lost.size() >= 1);
            QCOMPARE(int(lost[0][0].value<uint8_t>()), 0x45);
            QCOMPARE(lost[0][1].toString(), QStringLiteral("RequesterA"));
            QCOMPARE(com->queuedRequests(), 0);
            QVERIFY(!com->isWatchDogRunning());
        } else {
            // Nothing went out: the request waits at the head and is tried again.
            QCOMPARE(lost.size(), 0);
            QCOMPARE(com->queuedRequests(), 2);
            QVERIFY(!com->isWatchDogRunning());
            line->failWrites = line->refuseWrites = false;
            com->handleTimeout();
            QCOMPARE(line->writes.size(), 1);
            QCOMPARE(uint8_t(line->writes.first().at(2)), uint8_t(0x45));
            QVERIFY(com->isWatchDogRunning());
        }
    }

    void partialWriteEchoIsDropped()
    {
        connectToOneAdapter();
        QSignalSpy answers(com, &ComHelper::processVyxMessageObj);
        fakePort()->acceptAtMost = 3;
        emit a->com_sendVyxMessageObj(0x45, QByteArray::fromHex("0102030405060708"), false, true);
        fakePort()->acceptAtMost = -1;
        emit b->com_sendVyxMessageObj(0x23, {}, true, true);
        // The echo of the three bytes that did go out, then that of the poll, then its answer.
        fakePort()->answer(frame(0x23, QByteArray::fromHex("20")));
        QCOMPARE(answers.size(), 1);
        QCOMPARE(answers[0][0].toString(), QStringLiteral("RequesterB"));
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

    // A byte-wise request (the bootloader's sync) does not take the slot of a frame
    // request: the frame's late answer would be read as the sync's.
    void byteRequestWaitsForAFrameRequestsSlot()
    {
        connectToOneAdapter();
        emit b->com_sendVyxMessageObj(0x21, {}, true, false); // the identity poll: no answer awaited
        emit a->sendMessageToComPort(QByteArray::fromHex("7f"), true, false);
        QCOMPARE(fakePort()->writes.size(), 1);
        com->handleTimeout();
        com->handleTimeout(); // the slot is over
        QCOMPARE(fakePort()->writes.size(), 2);
        QCOMPARE(fakePort()->writes.last(), QByteArray::fromHex("7f"));

        // Polls repeated meanwhile go out once, and not again within their slot: two would
        // bring two answers, the second taken for the next request's.
        emit b->com_sendVyxMessageObj(0x21, {}, true, false);
        emit b->com_sendVyxMessageObj(0x21, {}, true, false);
        QCOMPARE(com->queuedRequests(), 1);
        com->handleTimeout();
        com->handleTimeout();
        QCOMPARE(fakePort()->writes.size(), 3);
        emit b->com_sendVyxMessageObj(0x21, {}, true, false);
        QCOMPARE(fakePort()->writes.size(), 3);
        QCOMPARE(com->queuedRequests(), 0);
    }

    // Whether a frame answer may still come, for the bootloader probe.
    void mayFrameAnswerArrive_data()
    {
        QTest::addColumn<QByteArray>("received"); // after the frame request's slot
        QTest::addColumn<int>("quietTicks");
        QTest::addColumn<bool>("mayArrive");
        QTest::newRow("nothing") << QByteArray() << 0 << false;
        QTest::newRow("frame begun") << QByteArray::fromHex("1a0121") << 0 << true;
        QTest::newRow("frame begun, a tick ago") << QByteArray::fromHex("1a0121") << 1 << true;
        QTest::newRow("frame begun, bytes stopped") << QByteArray::fromHex("1a0121") << 2 << false;
        QTest::newRow("frame ended") << QByteArray::fromHex("1a012179797979dd1f") << 0 << false;
    }

    void mayFrameAnswerArrive()
    {
        QFETCH(QByteArray, received);
        QFETCH(int, quietTicks);
        QFETCH(bool, mayArrive);
        connectToOneAdapter();
        emit b->com_sendVyxMessageObj(0x21, {}, true, false);
        QVERIFY(com->mayFrameAnswerArrive()); // its slot is open
        com->handleTimeout();
        com->handleTimeout();
        QVERIFY(!com->isWatchDogRunning());
        fakePort()->answer(received);
        for (int i = 0; i < quietTicks; ++i)
            com->handleTimeout();
        QCOMPARE(com->mayFrameAnswerArrive(), mayArrive);
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

    void portProblemIsReportedOncePerReason()
    {
        QSignalSpy problems(com, &ComHelper::portProblem);
        provider->ready = false;
        provider->problem = QStringLiteral("Port ttyUSB0 cannot be opened: it is in use by another program");
        provider->ports = {port(QStringLiteral("ttyUSB0"), QStringLiteral("AE0001"))};
        com->startPortSelection();
        for (int attempt = 0; attempt < 3; ++attempt) {
            com->handleTimeout(); // choose
            com->handleTimeout(); // check
            QTRY_COMPARE_WITH_TIMEOUT(com->state(), ComHelper::PortChoose, 10000);
        }
        QCOMPARE(problems.size(), 1);
        QCOMPARE(problems[0][0].toString(), provider->problem);
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
        QSignalSpy problems(com, &ComHelper::portProblem);
        provider->ports = {port(QStringLiteral("ttyUSB0"), QStringLiteral("AE0001"))};
        com->startPortSelection();
        com->handleTimeout();
        com->handleTimeout();
        QTRY_COMPARE_WITH_TIMEOUT(com->state(), ComHelper::PortOpen, 10000);
        com->handleTimeout();
        QCOMPARE(com->state(), ComHelper::PortChoose);
        QCOMPARE(opened.size(), 0);
        QVERIFY(!com->isConnected());
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problems[0][0].toString().startsWith(QLatin1String("Port ttyUSB0 cannot be opened")),
                 qPrintable(problems[0][0].toString()));
    }

    // A port that leaves the machine's list without an error of its own is taken as lost at
    // the next listing: every 100th tick (5 s) while connected, every tick while looking for a port,
    // so the adapter plugged in again is taken at the next tick.
    void unpluggingClosesOnce()
    {
        connectToOneAdapter();
        const QList<PortInfo> adapter = provider->ports;
        QSignalSpy closed(com, &ComHelper::comPortClosed);
        for (int tick = 1; tick < ComHelper::LISTING_TICKS_WHILE_CONNECTED - 1; ++tick)
            com->handleTimeout();
        emit a->com_sendVyxMessageObj(0x44, {}, false, true);
        emit a->com_sendVyxMessageObj(0x46, {}, false, true);
        provider->ports.clear();
        com->handleTimeout(); // the tick before the listing
        QCOMPARE(com->state(), ComHelper::PortConnected);
        com->handleTimeout(); // the listing
        QCOMPARE(com->state(), ComHelper::PortLost);
        com->handleTimeout(); // the watchdog expires in this tick too; the loss is still acted on
        QCOMPARE(closed.size(), 1);
        QCOMPARE(com->state(), ComHelper::PortIdle);
        QCOMPARE(com->queuedRequests(), 0);
        QVERIFY(!com->isConnected());
        for (int i = 0; i < 3; ++i)
            com->handleTimeout();
        QCOMPARE(closed.size(), 1);

        provider->ports = adapter;
        com->handleTimeout();
        QCOMPARE(com->state(), ComHelper::PortCheckReadiness);
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

    // A machine with a built-in port: losing the adapter ends in the choice of the built-in
    // port. The adapter coming back is taken at once, the open choice is closed, and a late
    // answer to it changes nothing.
    void replugWhileTheChoiceIsOpenTakesTheAdapter_data()
    {
        QTest::addColumn<QString>("lateAnswer");
        QTest::newRow("no answer") << QString();
        QTest::newRow("late cancel") << "cancel";
        QTest::newRow("late choice of the built-in port") << "ttyS0";
    }

    void replugWhileTheChoiceIsOpenTakesTheAdapter()
    {
        QFETCH(QString, lateAnswer);
        const PortInfo builtIn = port(QStringLiteral("ttyS0"), {});
        const PortInfo adapter = port(QStringLiteral("ttyUSB0"), QStringLiteral("AE0001"));
        QSignalSpy ask(com, &ComHelper::needPortSelectAndInform);
        QSignalSpy closedChoice(com, &ComHelper::portChoiceClosed);
        provider->ports = {builtIn};
        com->startPortSelection();
        com->handleTimeout();
        QCOMPARE(com->state(), ComHelper::PortAwaitSelection);
        QCOMPARE(ask.size(), 1);

        provider->ports = {builtIn, adapter};
        com->handleTimeout();
        QCOMPARE(closedChoice.size(), 1);
        QCOMPARE(com->state(), ComHelper::PortCheckReadiness);
        if (lateAnswer == QLatin1String("cancel"))
            com->portSelectionCanceled();
        else if (!lateAnswer.isEmpty())
            com->selectPort(lateAnswer);
        com->handleTimeout();
        QTRY_COMPARE_WITH_TIMEOUT(com->state(), ComHelper::PortOpen, 10000);
        QSignalSpy status(com, &ComHelper::portConnectionStateChange);
        com->handleTimeout();
        QCOMPARE(com->state(), ComHelper::PortConnected);
        QCOMPARE(status.last().at(0).toString(), QStringLiteral("ttyUSB0"));
        QCOMPARE(ask.size(), 1); // the adapter was taken without asking
        QCOMPARE(provider->portsCreated, 1);
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

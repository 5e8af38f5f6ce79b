#include "tests/common/fakeport.h"
#include "link/comhelper.h"
#include "link/requestchannel.h"

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

// What one requester's channel heard: every outcome, by ticket.
struct Heard
{
    explicit Heard(RequestChannel *channel)
        : answers(channel, &RequestChannel::answered), bootAnswers(channel, &RequestChannel::bootAnswered),
          failures(channel, &RequestChannel::failed)
    {
    }
    // "answered", "boot" or the failure's name, once per outcome of `ticket`.
    QStringList outcomesOf(RequestTicket ticket) const
    {
        QStringList out;
        for (const QList<QVariant> &args : answers) {
            if (args.at(0).value<RequestTicket>() == ticket)
                out << QStringLiteral("answered");
        }
        for (const QList<QVariant> &args : bootAnswers) {
            if (args.at(0).value<RequestTicket>() == ticket)
                out << QStringLiteral("boot");
        }
        for (const QList<QVariant> &args : failures) {
            if (args.at(0).value<RequestTicket>() == ticket)
                out << QString::fromLatin1(requestFailureName(args.at(1).value<RequestFailure>()));
        }
        return out;
    }
    int total() const { return answers.size() + bootAnswers.size() + failures.size(); }
    QSignalSpy answers;
    QSignalSpy bootAnswers;
    QSignalSpy failures;
};

class TestComHelper : public QObject
{
    Q_OBJECT

    FakeProvider *provider = nullptr;
    ComHelper *com = nullptr;
    RequestChannel *a = nullptr;
    RequestChannel *b = nullptr;

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

    RequestTicket send(RequestChannel *channel, uint8_t msgId, const QByteArray &payload, bool poll, bool wait)
    {
        return channel->send(msgId, payload, poll, wait);
    }

private slots:
    void init()
    {
        provider = new FakeProvider;
        com = new ComHelper(provider);
        a = new RequestChannel(QStringLiteral("A"));
        b = new RequestChannel(QStringLiteral("B"));
        com->requestLine()->attach(a);
        com->requestLine()->attach(b);
    }

    void cleanup()
    {
        delete a;
        delete b;
        delete com;
        delete provider;
    }

    // ---- request queue ----

    // Each way a request can end, tick-driven: the owner hears exactly one outcome per
    // ticket, the other requester nothing at all.
    void oneOutcomePerTicket_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("outcomes"); // of the request in flight, then the one queued behind it
        QTest::newRow("answer") << "answer" << QStringList {"answered", "answered"};
        QTest::newRow("no answer") << "no answer" << QStringList {"no answer", "dropped"};
        QTest::newRow("foreign answer") << "foreign answer" << QStringList {"answered", "answered"};
        QTest::newRow("protocol switched") << "protocol switched" << QStringList {"answered", "protocol switched"};
        QTest::newRow("port closed") << "port closed" << QStringList {"port closed", "port closed"};
        QTest::newRow("write cut") << "write cut" << QStringList {"write cut", "write cut"};
        QTest::newRow("late answer after the deadline") << "late answer" << QStringList {"no answer", "dropped"};
        QTest::newRow("no port") << "no port" << QStringList {"no port", "no port"};
    }

    void oneOutcomePerTicket()
    {
        QFETCH(QString, fault);
        QFETCH(QStringList, outcomes);
        Heard heardA(a);
        Heard heardB(b);
        if (fault != QLatin1String("no port"))
            connectToOneAdapter();
        if (fault == QLatin1String("write cut"))
            fakePort()->acceptAtMost = 3;
        const RequestTicket first = a->send(0x44, QByteArray::fromHex("01"), false, true);
        const RequestTicket second = a->send(0x45, {}, false, true);
        QVERIFY(first != 0 && second != 0 && first != second);
        QCOMPARE(heardA.total(), 0); // nothing is told before the sender knows its ticket

        if (fault == QLatin1String("answer")) {
            fakePort()->answer(frame(0x44, QByteArray::fromHex("20")));
            fakePort()->answer(frame(0x45, QByteArray::fromHex("20")));
        } else if (fault == QLatin1String("foreign answer")) {
            fakePort()->answer(frame(0x31, QByteArray::fromHex("20")));
            fakePort()->answer(frame(0x32, QByteArray::fromHex("20")));
        } else if (fault == QLatin1String("protocol switched")) {
            b->switchProtocol(); // any requester's switch ends every queued request
            fakePort()->answer(frame(0x44, QByteArray::fromHex("20")));
        } else if (fault == QLatin1String("port closed")) {
            fakePort()->vanish();
        } else if (fault == QLatin1String("late answer")) {
            com->handleTimeout();
            com->handleTimeout(); // the deadline: two ticks
            fakePort()->answer(frame(0x44, QByteArray::fromHex("20")));
        }
        for (int i = 0; i < 3; ++i)
            com->handleTimeout();
        if (fault == QLatin1String("late answer"))
            fakePort()->answer(frame(0x45, QByteArray::fromHex("20"))); // even later

        QCOMPARE(heardA.outcomesOf(first), QStringList {outcomes.at(0)});
        QCOMPARE(heardA.outcomesOf(second), QStringList {outcomes.at(1)});
        QCOMPARE(heardA.total(), 2);
        QCOMPARE(heardB.total(), 0);
        if (fault == QLatin1String("foreign answer")) // delivered as it came: the owner checks the id
            QCOMPARE(int(heardA.answers.at(0).at(1).value<VYX_Protocol::VYX_MSG>().msgId), 0x31);
    }

    void pollsJumpTheQueueNewestFirst()
    {
        connectToOneAdapter();
        a->send(0x45, QByteArray("\x01", 1), false, true); // in flight
        a->send(0x47, {}, false, true);
        a->send(0x48, {}, false, true);
        a->send(0x49, {}, false, true);
        b->send(0x22, {}, true, true);
        b->send(0x23, {}, true, true);
        QCOMPARE(fakePort()->writes.size(), 1);

        QByteArray order;
        for (int i = 0; i < 5; ++i) {
            fakePort()->answer(frame(0x20));
            order.append(char(uint8_t(fakePort()->writes.last().at(2))));
        }
        QCOMPARE(order.toHex(), QByteArray("2322474849"));
    }

    void echoIsDroppedByCountAndAnswerRoutedToItsOwner()
    {
        connectToOneAdapter();
        Heard heardA(a);
        Heard heardB(b);
        const RequestTicket poll = b->send(0x23, {}, true, true);
        QCOMPARE(fakePort()->writes.first(), QByteArray::fromHex("1aee23ee1f"));

        // Five echo bytes that differ from what was written are still dropped; the answer
        // carries an unexpected id and is still the answer to the request in flight.
        fakePort()->pendingEcho.clear();
        fakePort()->deliver(QByteArray::fromHex("0102030405") + frame(0x31, QByteArray::fromHex("20")));
        QCOMPARE(heardB.answers.size(), 1);
        QCOMPARE(heardB.answers[0][0].value<RequestTicket>(), poll);
        const auto msg = heardB.answers[0][1].value<VYX_Protocol::VYX_MSG>();
        QCOMPARE(int(msg.msgId), 0x31);
        QCOMPARE(msg.payloadBytes(), QByteArray::fromHex("20"));
        QCOMPARE(heardA.total(), 0);
        QVERIFY(!com->isWatchDogRunning());
    }

    // A request answered by its own id only: a late frame of another id is dropped, its own
    // answer still comes, and nothing else is told.
    void requestAnsweredByItsOwnIdOnly()
    {
        connectToOneAdapter();
        Heard heardA(a);
        const RequestTicket reset = a->send(0x80, {}, false, true, 100, RequestChannel::AnswerMatch::OwnId);
        fakePort()->answer(frame(0x23, QByteArray::fromHex("20")));
        QCOMPARE(heardA.total(), 0);
        QVERIFY(com->isWatchDogRunning());
        fakePort()->answer(frame(0x80, QByteArray::fromHex("20")));
        QCOMPARE(heardA.outcomesOf(reset), QStringList {"answered"});
        QCOMPARE(int(heardA.answers.at(0).at(1).value<VYX_Protocol::VYX_MSG>().msgId), 0x80);
    }

    // A poll lost its answer; the answer comes late, after the next request was written and
    // before that request's echo. The echo count takes the late answer's first bytes, and
    // the echo follows as a good frame of the request's own id: it is no answer. The
    // request answered by its own id only gets its real answer (it used to take its own
    // echo, an empty answer: a reset "refused").
    void ownEchoBehindALateAnswerIsNoAnswer()
    {
        connectToOneAdapter();
        Heard heardA(a);
        Heard heardB(b);
        const RequestTicket poll = b->send(0x23, {}, true, true);
        fakePort()->answer(QByteArray()); // its echo only
        com->handleTimeout();
        com->handleTimeout();
        QCOMPARE(heardB.outcomesOf(poll), QStringList {"no answer"});

        const RequestTicket reset = a->send(0x80, {}, false, true, 500, RequestChannel::AnswerMatch::OwnId);
        const QByteArray resetBytes = fakePort()->writes.last();
        QCOMPARE(resetBytes, frame(0x80));
        fakePort()->pendingEcho.clear();
        fakePort()->deliver(frame(0x23, QByteArray::fromHex("2000")) + resetBytes);
        QCOMPARE(heardA.total(), 0);
        QVERIFY(com->isWatchDogRunning());
        fakePort()->deliver(frame(0x80, QByteArray::fromHex("20")));
        QCOMPARE(heardA.outcomesOf(reset), QStringList {"answered"});
        QCOMPARE(heardA.answers.at(0).at(1).value<VYX_Protocol::VYX_MSG>().payloadBytes(), QByteArray::fromHex("20"));
        QCOMPARE(heardB.total(), 1);
    }

    // Frames the decoder flags are no answers: a wrong checksum, or a payload of 34 to 40
    // bytes (more than a decoded frame holds). The request runs into its deadline.
    void flaggedFramesRunIntoTheDeadline_data()
    {
        QTest::addColumn<QByteArray>("received");
        QByteArray bad = frame(0x44, QByteArray::fromHex("0102"));
        bad[bad.size() - 2] = char(bad.at(bad.size() - 2) ^ 0x01);
        QTest::newRow("checksum") << bad;
        QTest::newRow("34 payload bytes") << frame(0x44, QByteArray(34, '\x20'));
        QTest::newRow("40 payload bytes") << frame(0x44, QByteArray(40, '\x20'));
    }

    void flaggedFramesRunIntoTheDeadline()
    {
        QFETCH(QByteArray, received);
        connectToOneAdapter();
        Heard heardA(a);
        Heard heardB(b);
        const RequestTicket lost = a->send(0x44, {}, false, true);
        const RequestTicket dropped = b->send(0x45, {}, false, true);
        const RequestTicket noAnswerExpected = a->send(0x26, {}, false, false);
        QVERIFY(!received.isEmpty());
        fakePort()->answer(received);
        QCOMPARE(heardA.answers.size(), 0);

        com->handleTimeout();
        QCOMPARE(heardA.failures.size(), 0);
        com->handleTimeout(); // default limit: two ticks
        QCOMPARE(heardA.outcomesOf(lost), QStringList {"no answer"});
        QCOMPARE(heardA.outcomesOf(noAnswerExpected), QStringList {"dropped"});
        QCOMPARE(heardB.outcomesOf(dropped), QStringList {"dropped"});
        QCOMPARE(heardA.total() + heardB.total(), 3);
        QCOMPARE(com->queuedRequests(), 0);
        QCOMPARE(fakePort()->writes.size(), 1);

        // Requests after the loss go out normally.
        a->send(0x40, {}, false, true);
        QCOMPARE(fakePort()->writes.size(), 2);
    }

    void aRequestResentFromItsLossReportGoesOut()
    {
        connectToOneAdapter();
        b->send(0x23, {}, true, true); // a status poll, lost
        a->send(0x45, QByteArray("\x01", 1), false, true); // a write behind it
        connect(a, &RequestChannel::failed, this, [this] { a->send(0x45, QByteArray("\x01", 1), false, true); });
        com->handleTimeout();
        com->handleTimeout();
        QCOMPARE(fakePort()->writes.size(), 2);
        QCOMPARE(uint8_t(fakePort()->writes.last().at(2)), uint8_t(0x45));
    }

    void nothingIsQueuedWithoutAPort()
    {
        Heard heardA(a);
        Heard heardB(b);
        for (int i = 0; i < 50; ++i)
            b->send(0x22, {}, true, false); // detection: expects nothing
        a->send(0x45, {}, false, true);
        QCOMPARE(com->queuedRequests(), 0);
        com->handleTimeout();
        QCOMPARE(heardB.failures.size(), 50); // each told once: no port
        QCOMPARE(heardA.failures.size(), 1);

        connectToOneAdapter();
        for (int i = 0; i < 5; ++i)
            com->handleTimeout();
        QVERIFY(fakePort()->writes.isEmpty()); // no stale request floods the controller
        QCOMPARE(heardA.total() + heardB.total(), 51);
    }

    void writeFailures_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<int>("acceptAtMost");
        QTest::addColumn<bool>("isLost");
        QTest::newRow("write error (-1)") << "error" << -1 << false;
        QTest::newRow("full buffer (0)") << "full" << -1 << false;
        QTest::newRow("part of the frame") << "partial" << 3 << true;
        // 0x45 with 8 payload bytes: 1a ee 45 + 8 + checksum + 1f = 13 bytes, all but the end byte.
        QTest::newRow("all but the end byte") << "partial" << 12 << true;
    }

    void writeFailures()
    {
        QFETCH(QString, failure);
        QFETCH(int, acceptAtMost);
        QFETCH(bool, isLost);
        connectToOneAdapter();
        Heard heardA(a);
        FakePort *line = fakePort();
        line->failWrites = failure == QLatin1String("error");
        line->refuseWrites = failure == QLatin1String("full");
        line->acceptAtMost = acceptAtMost;
        g_linkWarnings.clear();
        g_previousHandler = qInstallMessageHandler(collectLinkWarnings);
        const RequestTicket first = a->send(0x45, QByteArray::fromHex("0102030405060708"), false, true);
        a->send(0x47, QByteArray::fromHex("0102030405060708"), false, true);
        for (int i = 0; i < 3; ++i)
            com->handleTimeout();
        qInstallMessageHandler(g_previousHandler);

        QCOMPARE(g_linkWarnings.size(), 1); // each kind of failure once, at warning level
        if (isLost) {
            // Every request cut short is lost at once, its sender told; the watchdog never ran.
            QCOMPARE(line->writes.first().size(), acceptAtMost);
            QCOMPARE(heardA.outcomesOf(first), QStringList {"write cut"});
            QCOMPARE(com->queuedRequests(), 0);
            QVERIFY(!com->isWatchDogRunning());
        } else {
            // Nothing went out: the request waits at the head and is tried again.
            QCOMPARE(heardA.total(), 0);
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
        Heard heardB(b);
        fakePort()->acceptAtMost = 3;
        a->send(0x45, QByteArray::fromHex("0102030405060708"), false, true);
        fakePort()->acceptAtMost = -1;
        const RequestTicket poll = b->send(0x23, {}, true, true);
        // The echo of the three bytes that did go out, then that of the poll, then its answer.
        fakePort()->answer(frame(0x23, QByteArray::fromHex("20")));
        QCOMPARE(heardB.outcomesOf(poll), QStringList {"answered"});
    }

    void requestWithoutAnswerFreesTheLineAfterItsSlot()
    {
        connectToOneAdapter();
        Heard heardA(a);
        const RequestTicket free = a->send(0x26, {}, false, false);
        a->send(0x27, {}, false, true);
        QCOMPARE(fakePort()->writes.size(), 1);
        com->handleTimeout();
        com->handleTimeout(); // slot over: the same tick sends the next one
        QCOMPARE(fakePort()->writes.size(), 2);
        // No answer came in its slot: it ends so when the next request goes out.
        QCOMPARE(heardA.outcomesOf(free), QStringList {"no answer"});

        // A poll does not wait for the slot of a request that expects no answer, once that
        // request's echo is back.
        fakePort()->answer(frame(0x27));
        a->send(0x26, {}, false, false);
        fakePort()->answer(QByteArray());
        b->send(0x23, {}, true, true);
        QCOMPARE(uint8_t(fakePort()->writes.last().at(2)), uint8_t(0x23));
    }

    // A poll cuts the slot of a request expecting no answer short only once that request's
    // echo is back (its answer may follow at once on a slow line); the slot that ended
    // without its echo leaves that echo to come before the next request's: both echoes are
    // dropped, and the poll's answer is its own.
    void echoOfARequestCutShortByAPollIsDropped()
    {
        connectToOneAdapter();
        Heard heardB(b);
        a->send(0x21, {}, true, false);
        const RequestTicket poll = b->send(0x23, {}, true, true);
        QCOMPARE(fakePort()->writes.size(), 1); // no echo yet: the slot holds
        com->handleTimeout();
        com->handleTimeout(); // the slot is over, its echo still to come
        QCOMPARE(fakePort()->writes.size(), 2);
        fakePort()->answer(frame(0x23, QByteArray::fromHex("2001")));
        QCOMPARE(heardB.outcomesOf(poll), QStringList {"answered"});
        QCOMPARE(heardB.answers.at(0).at(1).value<VYX_Protocol::VYX_MSG>().payloadBytes(), QByteArray::fromHex("2001"));
    }

    // A request that expects no answer holds the line for its slot only, but an answer that
    // comes after the slot, before the next request is written, is still its answer.
    void answerAfterTheSlotOfARequestWithoutWait()
    {
        connectToOneAdapter();
        Heard heardB(b);
        const RequestTicket probe = b->send(0x21, {}, true, false);
        com->handleTimeout();
        com->handleTimeout();
        QVERIFY(!com->isWatchDogRunning());
        fakePort()->answer(frame(0x21, QByteArray::fromHex("20")));
        QCOMPARE(heardB.outcomesOf(probe), QStringList {"answered"});
    }

    // Requests sent from the answer of a request whose slot had ended (a late identity
    // answer bringing the first reads) go out one at a time: the first keeps its own limit
    // and is not cut short by the second.
    void requestsSentFromALateAnswerKeepTheirTurn()
    {
        connectToOneAdapter();
        Heard heardA(a);
        RequestTicket first = 0;
        const RequestTicket poll = a->send(0x22, {}, true, false);
        connect(a, &RequestChannel::answered, this, [&](RequestTicket ticket) {
            if (ticket != poll)
                return;
            first = a->send(0x46, {}, false, true);
            a->send(0x44, {}, false, true);
        });
        com->handleTimeout();
        com->handleTimeout(); // the poll's slot is over
        fakePort()->answer(frame(0x22, QByteArray::fromHex("20")));
        QCOMPARE(heardA.outcomesOf(poll), QStringList {"answered"});
        QCOMPARE(fakePort()->writes.size(), 2);
        QCOMPARE(com->queuedRequests(), 1);
        fakePort()->answer(frame(0x46, QByteArray::fromHex("20")));
        QCOMPARE(heardA.outcomesOf(first), QStringList {"answered"});
        QCOMPARE(fakePort()->writes.size(), 3);
    }

    // A byte-wise request (the bootloader's sync) does not take the slot of a frame
    // request: the frame's late answer would be read as the sync's.
    void byteRequestWaitsForAFrameRequestsSlot()
    {
        connectToOneAdapter();
        Heard heardB(b);
        b->send(0x21, {}, true, false); // the identity poll: no answer awaited
        a->sendBytes(QByteArray::fromHex("7f"), BootShape::Ack, true, false);
        QCOMPARE(fakePort()->writes.size(), 1);
        com->handleTimeout();
        com->handleTimeout(); // the slot is over
        QCOMPARE(fakePort()->writes.size(), 2);
        QCOMPARE(fakePort()->writes.last(), QByteArray::fromHex("7f"));

        // Polls repeated while they wait in the queue go out once: two back to back would
        // bring two answers, the second taken for the next request's.
        const RequestTicket replaced = b->send(0x21, {}, true, false);
        const RequestTicket written = b->send(0x21, {}, true, false);
        QCOMPARE(com->queuedRequests(), 1);
        com->handleTimeout();
        com->handleTimeout();
        QCOMPARE(fakePort()->writes.size(), 3);
        // Repeated once written, within its slot and with its echo back: the repetition cuts
        // the slot short and goes out at once (a bootloader sync each tick).
        fakePort()->answer(QByteArray());
        const RequestTicket again = b->send(0x21, {}, true, false);
        QCOMPARE(fakePort()->writes.size(), 4);
        QCOMPARE(com->queuedRequests(), 0);
        com->handleTimeout();
        QCOMPARE(heardB.outcomesOf(replaced), QStringList {"replaced"});
        QCOMPARE(heardB.outcomesOf(written), QStringList {"no answer"});
        fakePort()->answer(frame(0x21, QByteArray::fromHex("20")));
        QCOMPARE(heardB.outcomesOf(again), QStringList {"answered"});
    }

    // On a slow line a bootloader answers a sync after the next one went out: its ACK comes
    // before that sync's echo. It answers the sync in flight instead of passing for echo,
    // which would push every later answer into an echo's place.
    void syncAcknowledgedBeforeItsEcho_data()
    {
        QTest::addColumn<QByteArray>("received"); // after the second sync went out
        QTest::newRow("ACK before the echo") << QByteArray::fromHex("79f00f");
        QTest::newRow("ACK after the echo") << QByteArray::fromHex("f00f79");
        QTest::newRow("NACK before the echo") << QByteArray::fromHex("1ff00f");
    }

    void syncAcknowledgedBeforeItsEcho()
    {
        QFETCH(QByteArray, received);
        connectToOneAdapter();
        Heard heardA(a);
        const QByteArray sync = QByteArray::fromHex("f00f");
        const RequestTicket first = a->sendBytes(sync, BootShape::Ack, true, false);
        fakePort()->answer(QByteArray()); // its echo
        com->handleTimeout();
        const RequestTicket second = a->sendBytes(sync, BootShape::Ack, true, false);
        QCOMPARE(fakePort()->writes.size(), 2);
        fakePort()->pendingEcho.clear();
        fakePort()->deliver(received);
        QCOMPARE(heardA.outcomesOf(second), QStringList {"boot"});
        com->handleTimeout(); // the first one's end, decided as the second went out, is told
        QCOMPARE(heardA.outcomesOf(first), QStringList {"no answer"});
        QCOMPARE(heardA.bootAnswers.at(0).at(1).value<BootAnswer>().acknowledged, received.contains('\x79'));
        // The next request's echo and answer are told apart as usual.
        const RequestTicket get = a->sendBytes(QByteArray::fromHex("00ff"), BootShape::Ack, false, true);
        fakePort()->answer(QByteArray::fromHex("79"));
        QCOMPARE(heardA.outcomesOf(get), QStringList {"boot"});
    }

    // A request's answer limit (here two ticks) counts from its echo: the moment its bytes
    // were on the wire, which an adapter's buffer may delay. Without an echo within the
    // limit it counts from the write.
    void answerLimitCountsFromTheEcho_data()
    {
        QTest::addColumn<int>("echoAfter");   // ticks after the write; -1: never
        QTest::addColumn<int>("answerAfter"); // ticks after the write; -1: never
        QTest::addColumn<QString>("outcome");
        QTest::newRow("echo at once, answer within the limit") << 0 << 1 << "answered";
        QTest::newRow("echo at once, answer after the limit") << 0 << 2 << "no answer";
        QTest::newRow("echo held a tick, answer a tick later") << 1 << 2 << "answered";
        QTest::newRow("echo held a tick, answer after the limit from it") << 1 << 3 << "no answer";
        QTest::newRow("no echo") << -1 << -1 << "no answer";
    }

    void answerLimitCountsFromTheEcho()
    {
        QFETCH(int, echoAfter);
        QFETCH(int, answerAfter);
        QFETCH(QString, outcome);
        connectToOneAdapter();
        Heard heardA(a);
        const RequestTicket read = a->send(0x46, {}, false, true);
        QCOMPARE(com->requestLine()->answerLimitTicks(), 2u);
        for (int tick = 0; tick < 4; ++tick) {
            if (tick == echoAfter)
                fakePort()->answer(QByteArray());
            if (tick == answerAfter)
                fakePort()->answer(frame(0x46, QByteArray::fromHex("20")));
            com->handleTimeout();
        }
        QCOMPARE(heardA.outcomesOf(read), QStringList {outcome});
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
        b->send(0x21, {}, true, false);
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
        a->send(0x40, {}, false, true);
        QCOMPARE(com->queuedRequests(), 1);
        QVERIFY(!com->isWatchDogRunning());
        fakePort()->refuseWrites = false;
        com->handleTimeout();
        QCOMPARE(com->queuedRequests(), 0);
        QCOMPARE(fakePort()->writes.size(), 1);
    }

    // Bootloader answers go through their own framer: the answer comes whole, in the shape
    // the request expects; bytes that are not acknowledgements where one is awaited are
    // ignored, and no frame decoder sees them.
    void bootloaderAnswersAreFramed_data()
    {
        QTest::addColumn<int>("shape");
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<bool>("ack");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("closingAck");
        QTest::newRow("ack") << int(BootShape::Ack) << QByteArray::fromHex("ff79") << true << QByteArray() << false;
        QTest::newRow("nack") << int(BootShape::Ack) << QByteArray::fromHex("1f") << false << QByteArray() << false;
        QTest::newRow("first byte") << int(BootShape::FirstByte) << QByteArray::fromHex("ff79") << false
                                    << QByteArray::fromHex("ff") << false;
        QTest::newRow("counted data") << int(BootShape::CountedData) << QByteArray::fromHex("7901aabb79") << true
                                      << QByteArray::fromHex("aabb") << true;
        QTest::newRow("closing nack") << int(BootShape::CountedData) << QByteArray::fromHex("7900aa1f") << true
                                      << QByteArray::fromHex("aa") << false;
        QTest::newRow("nack first") << int(BootShape::CountedData) << QByteArray::fromHex("1f") << false
                                    << QByteArray() << false;
        QTest::newRow("fixed data, count ignored") << int(BootShape::FixedData) << QByteArray::fromHex("7900a1a2a379")
                                                   << true << QByteArray::fromHex("a1a2a3") << true;
    }

    void bootloaderAnswersAreFramed()
    {
        QFETCH(int, shape);
        QFETCH(QByteArray, received);
        QFETCH(bool, ack);
        QFETCH(QByteArray, data);
        QFETCH(bool, closingAck);
        connectToOneAdapter();
        Heard heardA(a);
        const RequestTicket ticket = a->sendBytes(QByteArray::fromHex("7f"), BootShape(shape), false, true, 100, 3);
        for (char c : received)
            fakePort()->answer(QByteArray(1, c)); // byte by byte, as a slow line brings them
        QCOMPARE(heardA.outcomesOf(ticket), QStringList {"boot"});
        const BootAnswer answer = heardA.bootAnswers.at(0).at(1).value<BootAnswer>();
        QCOMPARE(answer.acknowledged, ack);
        QCOMPARE(answer.data, data);
        QCOMPARE(answer.closingAck, closingAck);
        QVERIFY(!com->isWatchDogRunning());
    }

    // A frame answer that comes late, while a bootloader request is in flight, never reaches
    // a frame requester; nor do bootloader bytes.
    void lateFrameNeverReachesTheOtherKind()
    {
        connectToOneAdapter();
        Heard heardA(a);
        Heard heardB(b);
        const RequestTicket frameRequest = b->send(0x23, {}, false, true);
        com->handleTimeout();
        com->handleTimeout(); // lost
        const RequestTicket boot = a->sendBytes(QByteArray::fromHex("7f"), BootShape::Ack, false, true);
        fakePort()->answer(frame(0x23, QByteArray::fromHex("2020")));
        QCOMPARE(heardB.outcomesOf(frameRequest), QStringList {"no answer"});
        QCOMPARE(heardB.total(), 1);
        QCOMPARE(heardA.outcomesOf(boot), QStringList {"boot"});
        // The frame's bytes are no acknowledgements, except its end byte 0x1F: a NACK, which
        // the updater never takes for a bootloader found.
        QVERIFY(!heardA.bootAnswers.at(0).at(1).value<BootAnswer>().acknowledged);
    }

    void newAddressAppliesToLaterFrames()
    {
        connectToOneAdapter();
        com->setVyxAddress(0x05);
        a->send(0x23, {}, true, true);
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

    // Each request carries its own answer limit.
    void watchDogLimits()
    {
        QFETCH(uint, ms);
        QFETCH(uint, ticks);
        connectToOneAdapter();
        a->send(0x40, {}, false, true, ms);
        QCOMPARE(com->requestLine()->answerLimitTicks(), uint32_t(ticks));
        fakePort()->answer(frame(0x40));
        a->send(0x41, {}, false, true);
        QCOMPARE(com->requestLine()->answerLimitTicks(), 2u);
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
        Heard heardA(a);
        const RequestTicket inFlight = a->send(0x44, {}, false, true);
        const RequestTicket queued = a->send(0x46, {}, false, true);
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
        // The expiry in the tick of the close decided the first; the close, the second.
        QCOMPARE(heardA.outcomesOf(inFlight), QStringList {"no answer"});
        QCOMPARE(heardA.outcomesOf(queued), QStringList {"dropped"});
        QCOMPARE(heardA.total(), 2);

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

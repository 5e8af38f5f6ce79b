#include "tests/common/fakeport.h"

#include "device/messageids.h"
#include "ident/idhelper.h"
#include "link/comhelper.h"

#include <QSignalSpy>
#include <QtTest>

#include <map>

// A whole identification through the real port manager: IdHelper's requests are framed,
// written and answered by a scripted controller at the other end of a fake port, and the
// answers find their way back by the receiver name "IdHelper". The controller's estimator
// walks its states one poll answer per tick.
class ScriptedController
{
public:
    // The identified motor the controller reports: Rs 0.05 Ohm, Ls_d 12 uH, Ls_q 15 uH,
    // flux 1.25 mWb (its byte 0x0a shows in the log as "a").
    static QByteArray identifiedParams()
    {
        return QByteArray::fromHex("cdcc4c3d" "9c534937" "82a87b37" "0ad7a33a");
    }

    explicit ScriptedController(FakePort *port) : m_port(port) {}

    // Answers every request written since the last call, in order.
    void serve()
    {
        while (m_answered < m_port->writes.size()) {
            const QByteArray written = m_port->writes.at(m_answered++);
            const VYX_Protocol::VYX_MSG request = decode(written);
            received.append(request);
            m_port->answer(VYX_Protocol().encode(NO_DEVICE_ADDRESS, request.msgId, answerTo(request.msgId)));
        }
    }

    // The estimator's report for the next poll: each state for a few polls, then finished.
    Poll_Answer_s nextPoll()
    {
        static const std::pair<uint8_t, int> timeline[] = {{1, 3}, {2, 2}, {3, 2}, {4, 3}, {5, 2}, {9, 2},
                                                            {13, 1}, {11, 1}, {8, 2}, {12, 100}};
        Poll_Answer_s poll;
        if (!m_running)
            return poll;
        int remaining = m_polls++;
        for (const auto &entry : timeline) {
            if (remaining < entry.second) {
                poll.hasIdState = true;
                poll.idState = uint8_t(entry.first << 4 | 0x1);
                break;
            }
            remaining -= entry.second;
        }
        return poll;
    }

    QVector<VYX_Protocol::VYX_MSG> received;

private:
    static VYX_Protocol::VYX_MSG decode(const QByteArray &frame)
    {
        VYX_Protocol codec;
        VYX_Protocol::VyxRxConfig config;
        VYX_Protocol::VYX_MSG msg;
        for (char byte : frame) {
            if (codec.decodeByte(uint8_t(byte), msg, config))
                return msg;
        }
        return {};
    }

    QByteArray answerTo(uint8_t msgId)
    {
        switch (msgId) {
        case VyxMsg::IDENT_RUN:
            m_running = true;
            return QByteArray(1, char(ANSWER_OK));
        case VyxMsg::GET_MOTOR_PARAMS:
            return identifiedParams();
        default:
            return QByteArray(1, char(ANSWER_OK));
        }
    }

    FakePort *m_port;
    int m_answered = 0;
    bool m_running = false;
    int m_polls = 0;
};

class TestIdentRun : public QObject
{
    Q_OBJECT

private slots:
    void fullIdentificationThroughThePortManager()
    {
        FakeProvider provider;
        provider.ports = {{QStringLiteral("ttyUSB0"), QStringLiteral("/dev/ttyUSB0"), QStringLiteral("AE0001"), {}}};
        ComHelper com(&provider);
        IdHelper id(nullptr);
        connect(&id, &IdHelper::com_sendVyxMessageObj, &com, &ComHelper::sendVyxMessageObj);
        connect(&com, &ComHelper::processVyxMessageObj, &id, &IdHelper::receiveVyxMessageObj);
        connect(&com, &ComHelper::watchDogOverflowObj, &id, &IdHelper::watchDogOverflowObj);

        com.startPortSelection();
        com.handleTimeout(); // choose the only adapter
        com.handleTimeout(); // readiness check in its own thread
        QTRY_COMPARE_WITH_TIMEOUT(com.state(), ComHelper::PortOpen, 10000);
        com.handleTimeout(); // open
        QVERIFY(provider.lastPort);
        ScriptedController controller(provider.lastPort.data());

        QSignalSpy steps(&id, &IdHelper::changeIdState);
        QSignalSpy finished(&id, &IdHelper::identFinished);
        QSignalSpy logs(&id, &IdHelper::writeLogMessage);
        QSignalSpy pages(&id, &IdHelper::setUiPage);

        id.deviceConnectionState(DEVICE_CONNECTED);
        QCOMPARE(id.setMotorUserParams(20.0f, false, 0.0f, 6, 900.0f, 7), int(IdHelper::Sent));
        controller.serve();
        QCOMPARE(id.state(), IdHelper::IdState::UserParamsAccepted);
        id.acceptConditions(IdHelper::ID_WIDGET_ATTENTION);
        id.acceptConditions(IdHelper::ID_WIDGET_NO_LOAD);
        id.acceptConditions(IdHelper::ID_WIDGET_STEPS);
        id.acceptAllConditions();
        controller.serve();
        QCOMPARE(id.state(), IdHelper::IdState::Running);

        for (int tick = 0; tick < 40 && finished.isEmpty(); ++tick) {
            com.handleTimeout();
            id.tick();
            id.receivePollAnswer(controller.nextPoll());
            controller.serve();
        }

        QCOMPARE(finished.size(), 1);
        QCOMPARE(id.state(), IdHelper::IdState::Finished);
        QVERIFY(!id.isIdentRunning());
        QCOMPARE(pages.size(), 0);

        // On the wire: the worked example's limits, the run, the result request.
        QCOMPARE(controller.received.size(), 3);
        QCOMPARE(int(controller.received[0].msgId), int(VyxMsg::SET_MOTOR_USER_PARAMS));
        QCOMPARE(controller.received[0].payloadBytes().toHex(), QByteArray("fb00560ac800070184c8800c"));
        QCOMPARE(int(controller.received[1].msgId), int(VyxMsg::IDENT_RUN));
        QCOMPARE(int(controller.received[1].length), 0);
        QCOMPARE(int(controller.received[2].msgId), int(VyxMsg::GET_MOTOR_PARAMS));

        // Each step announced once, in order, with its expected time.
        const struct { const char *name; const char *next; const char *button; uint32_t timeMs; } expected[] = {
            {"No movement", "Acceleration", "Help, motor spins", 18500},
            {"Acceleration", "Variable speed", "Help, motor not spins", 5000 + 200 * 132},
            {"Variable speed", "Decelaration", "Help, motor not spins", 50600},
            {"Decelaration", "Finish", "Help, motor spins", 2000},
        };
        QCOMPARE(steps.size(), 4);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(steps[i][0].toString(), QString::fromLatin1(expected[i].name));
            QCOMPARE(steps[i][1].toString(), QString::fromLatin1(expected[i].next));
            QCOMPARE(steps[i][2].toString(), QString::fromLatin1(expected[i].button));
            QCOMPARE(steps[i][5].value<uint32_t>(), expected[i].timeMs);
        }
        QCOMPARE(steps[0][3].toStringList(),
                 QStringList({"The motor is not spinning!", "The motor produces high-frequency noise"}));
        QCOMPARE(steps[3][4].toStringList(),
                 QStringList({"At the start, the motor is not spinning", "At the end, the motor is spinning"}));

        // The identified motor: the controller's electrical values and the user's limits.
        const MOTOR_TOTAL motor = *id.motorParams();
        QCOMPARE(motor.packIdent().toHex(), ScriptedController::identifiedParams().toHex());
        QCOMPARE(motor.packUser().toHex(), QByteArray("fb00560ac800070184c8800c"));
        QCOMPARE(motor.Rs, 0.05f);
        QCOMPARE(id.motorParamsSnapshot(), motor);

        QStringList lines;
        for (const auto &args : logs)
            lines << args.at(0).toString();
        QCOMPARE(lines, QStringList({"Curr scale:0", "Volt scale:25.20", "Flux freq:132.30", "Id Curr:2.00",
                                     "Max curr:20.00", "Pole pairs:7", "Set motor user params",
                                     "User accepts its attention during ID", "User has motor without load",
                                     "User knows all steps of ID", "User accpets all conditions", "Ident run",
                                     "No moving operations", "Accelarating operations", "Stable speed operations",
                                     "Decelarating operations", "Ident finish", "Get motors params",
                                     "Motor params:cdcc4c3d9c53493782a87b37ad7a33a"}));
    }
};

QTEST_GUILESS_MAIN(TestIdentRun)
#include "tst_identrun.moc"

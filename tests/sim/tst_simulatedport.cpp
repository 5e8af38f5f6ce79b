#include "sim/simulatedcontroller.h"
#include "sim/simulatedport.h"

#include "wire/records.h"
#include "wire/vyxprotocol.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

const QByteArray kDetection = QByteArray::fromHex("1aee22ef1f");

QByteArray frame(uint8_t msgId)
{
    return VYX_Protocol().encode(0xEE, msgId, {});
}

} // namespace

class TestSimulatedPort : public QObject
{
    Q_OBJECT

private slots:
    void answersArriveQueuedAfterTheWrite()
    {
        SimulatedController controller;
        SimulatedPort port(&controller);
        QVERIFY(port.open(QIODevice::ReadWrite));
        QSignalSpy readyRead(&port, &QIODevice::readyRead);

        QCOMPARE(port.write(kDetection), qint64(kDetection.size()));
        QCOMPARE(readyRead.count(), 0); // never from inside write()
        QCOMPARE(port.bytesAvailable(), qint64(0));

        QCoreApplication::processEvents();
        QCOMPARE(readyRead.count(), 1);
        const QByteArray received = port.readAll();
        QVERIFY(received.startsWith(kDetection));
        QCOMPARE(received.size(), kDetection.size() + 19);
        QCOMPARE(port.bytesAvailable(), qint64(0));
    }

    void reopenedPortTalksToTheSameController()
    {
        SimulatorConfig config;
        config.faults.answerDelayMs = 20;
        SimulatedController controller(config);
        {
            SimulatedPort port(&controller);
            QVERIFY(port.open(QIODevice::ReadWrite));
            port.write(frame(VyxMsg::START_RUN));
            controller.advance(20);
            QCoreApplication::processEvents();
            QVERIFY(port.readAll().size() > 5);
            port.write(kDetection); // its answer comes after the port has closed
        }
        controller.advance(20);
        SimulatedPort port(&controller);
        QVERIFY(port.open(QIODevice::ReadWrite));
        QCoreApplication::processEvents();
        QCOMPARE(port.bytesAvailable(), qint64(0)); // bytes sent to a closed port are lost

        port.write(kDetection);
        controller.advance(20);
        QCoreApplication::processEvents();
        const QByteArray received = port.readAll();
        VYX_Protocol codec;
        VYX_Protocol::VyxRxConfig rx;
        VYX_Protocol::VYX_MSG msg;
        bool complete = false;
        for (char c : received.mid(kDetection.size()))
            complete = codec.decodeByte(uint8_t(c), msg, rx) || complete;
        QVERIFY(complete);
        QCOMPARE(DeviceIdentity::decode(msg.payloadBytes()).runFlag, uint8_t(1)); // still running
    }

    void vanishingPortReportsTheLoss()
    {
        SimulatorConfig config;
        config.faults.vanishAfterMs = 100;
        SimulatedController controller(config);
        SimulatedPort port(&controller);
        QVERIFY(port.open(QIODevice::ReadWrite));
        QSignalSpy finished(&port, &QIODevice::readChannelFinished);

        controller.advance(100);
        QCoreApplication::processEvents();
        QCOMPARE(finished.count(), 1);
        char byte;
        QCOMPARE(port.read(&byte, 1), qint64(-1));
        QCOMPARE(port.write(kDetection), qint64(-1));
        port.close();
        QVERIFY(!port.open(QIODevice::ReadWrite));
    }

    void realTimeModeMovesTheClock()
    {
        SimulatorConfig config;
        config.faults.answerDelayMs = 30;
        SimulatedController controller(config);
        SimulatedPort port(&controller);
        port.setRealTime(true);
        QVERIFY(port.open(QIODevice::ReadWrite));
        port.write(kDetection);
        QByteArray received;
        QTRY_VERIFY_WITH_TIMEOUT((received += port.readAll()).size() >= kDetection.size() + 19, 5000);
        QVERIFY(controller.nowMs() >= 30);
    }
};

QTEST_GUILESS_MAIN(TestSimulatedPort)
#include "tst_simulatedport.moc"

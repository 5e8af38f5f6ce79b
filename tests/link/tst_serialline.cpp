#include "link/comhelper.h"
#include "link/serialportprovider.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <poll.h>
#include <pty.h>
#include <thread>
#include <unistd.h>

namespace {

// The controller's end of a pseudo-terminal: echoes one request as the half-duplex line
// does, then answers it in chunks of three bytes.
class PtyPeer
{
public:
    PtyPeer() { m_ok = openpty(&m_master, &m_slave, m_name, nullptr, nullptr) == 0; }
    ~PtyPeer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        closeMaster();
        if (m_slave >= 0)
            close(m_slave);
    }

    bool isOk() const { return m_ok; }
    QString path() const { return QString::fromLocal8Bit(m_name); }
    void closeMaster()
    {
        if (m_master >= 0)
            close(m_master);
        m_master = -1;
    }

    void answerOnce(const QByteArray &answer)
    {
        m_thread = std::thread([this, answer] {
            QByteArray request;
            char buf[64];
            while (!m_stop && !request.endsWith('\x1f')) {
                pollfd fd {m_master, POLLIN, 0};
                if (poll(&fd, 1, 50) > 0) {
                    const ssize_t n = read(m_master, buf, sizeof buf);
                    if (n > 0)
                        request.append(buf, int(n));
                }
            }
            const QByteArray reply = request + answer;
            for (int i = 0; !m_stop && i < reply.size(); i += 3) {
                (void)!write(m_master, reply.constData() + i, size_t(qMin(3, reply.size() - i)));
                usleep(2000);
            }
        });
    }

private:
    int m_master = -1;
    int m_slave = -1;
    char m_name[256] = {};
    bool m_ok = false;
    std::atomic<bool> m_stop {false};
    std::thread m_thread;
};

bool tickUntilConnected(ComHelper &com)
{
    com.handleTimeout();
    return com.isConnected();
}

} // namespace

class TestSerialLine : public QObject
{
    Q_OBJECT

private slots:
    void frameIsDecodedAcrossReads()
    {
        PtyPeer peer;
        QVERIFY(peer.isOk());
        peer.answerOnce(VYX_Protocol().encode(0xEE, 0x22, QByteArray::fromHex("2001020304")));

        SerialPortProvider provider({peer.path() + QStringLiteral("@AE0001")});
        ComHelper com(&provider);
        QSignalSpy answers(&com, &ComHelper::processVyxMessageObj);
        com.startPortSelection();
        QTRY_VERIFY_WITH_TIMEOUT(tickUntilConnected(com), 10000);

        QVERIFY(com.queueVyxMessage(QStringLiteral("Device"), 0x22, {}, true, true));
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 1, 10000);
        QCOMPARE(answers[0][0].toString(), QStringLiteral("Device"));
        const auto msg = answers[0][1].value<VYX_Protocol::VYX_MSG>();
        QCOMPARE(int(msg.msgId), 0x22);
        QCOMPARE(msg.payloadBytes(), QByteArray::fromHex("2001020304"));
    }

    void hangUpIsALostPort()
    {
        PtyPeer peer;
        QVERIFY(peer.isOk());
        SerialPortProvider provider({peer.path() + QStringLiteral("@AE0001")});
        ComHelper com(&provider);
        QSignalSpy closed(&com, &ComHelper::comPortClosed);
        com.startPortSelection();
        QTRY_VERIFY_WITH_TIMEOUT(tickUntilConnected(com), 10000);

        peer.closeMaster();
        QTRY_VERIFY_WITH_TIMEOUT(com.state() == ComHelper::PortLost, 10000);
        com.handleTimeout(); // the vanished path may take one more tick to be acted on
        com.handleTimeout();
        QCOMPARE(closed.size(), 1);
        QVERIFY(!com.isConnected());
    }

    // Why a serial port cannot be opened, as the user reads it. Qt reports a port held by
    // another program and one the user may not use alike; the device file tells them apart.
    void openProblemReasons_data()
    {
        QTest::addColumn<int>("serialError");
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<int>("reason");
        QTest::newRow("device not found") << int(QSerialPort::DeviceNotFoundError) << true
                                          << int(PortProblem::Reason::Gone);
        QTest::newRow("refused, file gone") << int(QSerialPort::PermissionError) << false
                                            << int(PortProblem::Reason::Gone);
        QTest::newRow("refused, file usable: busy") << int(QSerialPort::PermissionError) << true
                                                    << int(PortProblem::Reason::Busy);
        QTest::newRow("other error") << int(QSerialPort::OpenError) << true << int(PortProblem::Reason::Other);
    }

    void openProblemReasons()
    {
        QFETCH(int, serialError);
        QFETCH(bool, fileExists);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ttyUSB0"));
        if (fileExists)
            QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        QTEST(int(SerialPortProvider::reasonFor(serialError, path)), "reason");
    }

    void reasonTexts()
    {
        QCOMPARE(PortProblem::text(QStringLiteral("ttyUSB0"), PortProblem::Reason::Busy),
                 QStringLiteral("Port ttyUSB0 cannot be opened: it is in use by another program"));
        QCOMPARE(PortProblem::text(QStringLiteral("ttyUSB0"), PortProblem::Reason::Other, QStringLiteral("I/O error")),
                 QStringLiteral("Port ttyUSB0 cannot be opened: I/O error"));
    }

    // A port that cannot be opened is refused with its reason, not just "not ready".
    void readinessProblemOfAMissingPort()
    {
        SerialPortProvider provider;
        const QString problem = provider.readinessProblem(QStringLiteral("/nonexistent/ttyKORDO"));
        QVERIFY(!problem.isEmpty());
        QVERIFY2(problem.startsWith(QStringLiteral("Port /nonexistent/ttyKORDO cannot be opened")), qPrintable(problem));
        QVERIFY(!provider.checkReadiness(QStringLiteral("/nonexistent/ttyKORDO")));
    }
};

QTEST_GUILESS_MAIN(TestSerialLine)
#include "tst_serialline.moc"

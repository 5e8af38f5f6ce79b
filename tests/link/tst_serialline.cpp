#include "link/comhelper.h"
#include "link/devicefolderstamp.h"
#include "link/requestchannel.h"
#include "link/serialportprovider.h"
#include "tests/common/fakeportsystem.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <memory>
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
        RequestChannel requests(QStringLiteral("Device"));
        com.requestLine()->attach(&requests);
        QSignalSpy answers(&requests, &RequestChannel::answered);
        com.startPortSelection();
        QTRY_VERIFY_WITH_TIMEOUT(tickUntilConnected(com), 10000);

        const RequestTicket ticket = requests.send(0x22, {}, true, true, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 1, 10000);
        QCOMPARE(answers[0][0].value<RequestTicket>(), ticket);
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

    // A port that cannot be opened reaches the info line with the doctor's cause and fix,
    // from the readiness check as from a failed open.
    void readinessProblemNamesTheCauseAndTheFix()
    {
        QTemporaryDir dir;
        FakePortSystem system;
        system.path = dir.filePath(QStringLiteral("ttyKORDO")); // a plain file: no serial line
        QFile file(system.path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        system.accessible = false;
        SerialPortProvider provider({system.path + QStringLiteral("@AE0001")}, system);
        ComHelper com(&provider);
        QSignalSpy problems(&com, &ComHelper::portProblem);
        com.startPortSelection();
        QTRY_VERIFY_WITH_TIMEOUT((com.handleTimeout(), !problems.isEmpty()), 10000);
        const QString problem = problems.first().first().toString();
        QVERIFY2(problem.startsWith(QStringLiteral("You may not open ") + system.path), qPrintable(problem));
        QVERIFY2(problem.contains(QLatin1String("sudo usermod -aG dialout $USER")), qPrintable(problem));
        QVERIFY(!com.isConnected());
    }

    void failedOpenNamesTheCause()
    {
        FakePortSystem system;
        system.path = QStringLiteral("/nonexistent/ttyKORDO");
        system.present = false;
        SerialPortProvider provider({}, system);
        QVERIFY(!provider.checkReadiness(system.path));
        QVERIFY(provider.readinessProblem(system.path).startsWith(system.path + QStringLiteral(" is gone")));
        std::unique_ptr<QIODevice> port(provider.createPort(system.path, nullptr));
        QVERIFY(!port->open(QIODevice::ReadWrite));
        QVERIFY(provider.openProblem(*port, system.path).startsWith(system.path + QStringLiteral(" is gone")));

        QFile other(QStringLiteral("/nonexistent/kordo"));
        QVERIFY(!other.open(QIODevice::ReadOnly));
        QCOMPARE(provider.openProblem(other, QStringLiteral("Kordo simulator")),
                 QStringLiteral("Port Kordo simulator cannot be opened: ") + other.errorString());
    }

    // The device folder is looked at instead of listing the machine's ports: an entry that
    // comes or goes is seen at the next look, an unchanged folder is not, and a time too
    // young to be trusted is looked at again.
    void deviceFolderStampSeesEntriesComeAndGo()
    {
        QTemporaryDir dev;
        QVERIFY(dev.isValid());
        const QByteArray folder = QFile::encodeName(dev.path());
        const auto setModified = [&](time_t seconds) {
            const timespec times[2] = {{seconds, 0}, {seconds, 0}};
            return ::utimensat(AT_FDCWD, folder.constData(), times, 0) == 0;
        };
        const time_t past = 1600000000;
        QVERIFY(setModified(past));
        DeviceFolderStamp stamp(dev.path());
        QVERIFY(stamp.changed()); // the first look
        QVERIFY(!stamp.changed());
        QVERIFY(!stamp.changed());

        QFile adapter(dev.filePath(QStringLiteral("ttyUSB0")));
        QVERIFY(adapter.open(QIODevice::WriteOnly));
        adapter.close();
        QVERIFY(stamp.changed()); // plugged in: the time is now
        QVERIFY(stamp.changed()); // and still too young to be trusted
        QVERIFY(setModified(past + 1));
        QVERIFY(stamp.changed());
        QVERIFY(!stamp.changed());

        QVERIFY(adapter.remove());
        QVERIFY(setModified(past + 2)); // pulled
        QVERIFY(stamp.changed());
        QVERIFY(!stamp.changed());

        DeviceFolderStamp missing(dev.filePath(QStringLiteral("gone")));
        QVERIFY(missing.changed());
        QVERIFY(missing.changed()); // a folder that cannot be read never hides a change
    }
};

QTEST_GUILESS_MAIN(TestSerialLine)
#include "tst_serialline.moc"

#include "app/appbase.h"
#include "device/device.h"
#include "device/pinghelper.h"
#include "firmware/updatefwhelper.h"
#include "link/comhelper.h"
#include "sim/simulatedfirmware.h"
#include "tests/common/fakeport.h"
#include "tests/common/framedecode.h"
#include "tests/firmware/firmwareimages.h"
#include "wire/messageids.h"

#include <QCoreApplication>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

// The rhythm of the line, tick by tick: the coordinator's real tick drives the real request
// line, poller, device model and firmware updater against a port the test plays. Behind the
// port a controller firmware answers every request at once, unless the row keeps it silent
// for a given request; the echo of every write always comes back. Each tick is shown as the
// requests written during it:
//   D identity (detection)  S status  T telemetry  R start run  r a stored-record read
//   Y bootloader sync (F0 0F)  ? anything else  - nothing written
namespace {

QChar letterOf(const QByteArray &write)
{
    if (write == QByteArray::fromHex("f00f"))
        return QLatin1Char('Y');
    switch (decodeFrame(write).msgId) {
    case VyxMsg::GET_DEVICE_INFO:
        return QLatin1Char('D');
    case VyxMsg::GET_STATUS:
        return QLatin1Char('S');
    case VyxMsg::TELEMETRY:
        return QLatin1Char('T');
    case VyxMsg::START_RUN:
        return QLatin1Char('R');
    case VyxMsg::GET_PWM_IN_PARAMS:
    case VyxMsg::GET_MOTION_PARAMS:
    case VyxMsg::GET_MOTOR_PARAMS:
    case VyxMsg::GET_MOTOR_USER_PARAMS:
    case VyxMsg::GET_MOTOR_HOURS:
        return QLatin1Char('r');
    default:
        return QLatin1Char('?');
    }
}

// Requests the controller does not answer: "T3" is the third TELEMETRY request written,
// "r46.1" the first read 0x46 written (counted from the moment the port opened).
using Silence = QStringList;

enum class Controller { None, Idle, Running, WaitsForUpdate };

// Debug lines that say a read was given up, while a test runs.
QStringList g_givenUpLines;
QtMessageHandler g_previousHandler = nullptr;

void collectGivenUpLines(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("given up")))
        g_givenUpLines.append(message);
    g_previousHandler(type, context, message);
}

} // namespace

class TestLineRhythm : public QObject
{
    Q_OBJECT

    struct Rig
    {
        explicit Rig(Controller controller)
            : firmware(configFor(controller)),
              app(&provider, DataDirectory::resolve(dataDir.path(), QString(), QString())),
              present(controller == Controller::Idle || controller == Controller::Running)
        {
            provider.ports = {{QStringLiteral("ttyUSB0"), QStringLiteral("/dev/ttyUSB0"), QStringLiteral("AE0001"), {}}};
        }

        static SimulatorConfig configFor(Controller controller)
        {
            SimulatorConfig config;
            config.identity.startRunning = controller == Controller::Running;
            return config;
        }

        bool openPort()
        {
            app.comHelper()->startPortSelection();
            for (int i = 0; i < 2000 && app.activity() == AppBase::ActivityNoPort; ++i) {
                app.handleTimeout();
                QCoreApplication::processEvents();
                QTest::qWait(1); // the readiness check runs in its own thread
            }
            port = provider.lastPort;
            handled = port ? port->writes.size() : 0;
            return port && app.activity() != AppBase::ActivityNoPort;
        }

        // One tick, then the controller's side: every write echoed, answered unless silent.
        // An answer may bring the next request at once: it is played in the same tick.
        QString tick()
        {
            app.handleTimeout();
            QCoreApplication::processEvents();
            QString letters;
            while (port && handled < port->writes.size()) {
                const QByteArray write = port->writes.at(handled++);
                const QChar letter = letterOf(write);
                letters += letter;
                port->answer(answerTo(write, letter));
                QCoreApplication::processEvents(); // the device model's requests are posted
            }
            return letters.isEmpty() ? QStringLiteral("-") : letters;
        }

        QByteArray answerTo(const QByteArray &write, QChar letter)
        {
            if (!present || letter == QLatin1Char('Y'))
                return {};
            const VYX_Protocol::VYX_MSG request = decodeFrame(write);
            const QString name = letter == QLatin1Char('r')
                                     ? QStringLiteral("r%1.").arg(request.msgId, 0, 16)
                                     : QString(letter);
            const int number = ++written[name];
            if (silence.contains(name + QString::number(number)))
                return {};
            const FirmwareAnswer answer = firmware.handle(
                request.msgId, QByteArray(reinterpret_cast<const char *>(request.payload.data()), int(request.length)));
            if (!answer.answered)
                return {};
            return VYX_Protocol().encode(request.address, request.msgId, answer.payload);
        }

        QTemporaryDir dataDir;
        FakeProvider provider;
        SimulatedFirmware firmware;
        AppBase app;
        bool present;
        Silence silence;
        QMap<QString, int> written;
        FakePort *port = nullptr;
        int handled = 0;
    };

private slots:
    void initTestCase() { g_previousHandler = qInstallMessageHandler(collectGivenUpLines); }
    void cleanupTestCase() { qInstallMessageHandler(g_previousHandler); }
    void init() { g_givenUpLines.clear(); }

    void rhythm_data()
    {
        QTest::addColumn<int>("controller");
        QTest::addColumn<Silence>("silence");
        QTest::addColumn<int>("skip");  // ticks after the port opened that are not shown
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("ended"); // the known device was dropped

        const int none = int(Controller::None);
        const int idle = int(Controller::Idle);
        const int running = int(Controller::Running);
        QTest::newRow("detection every second tick")
            << none << Silence() << 0 << "D - D - D - D - D - D -" << false;
        // The look for a waiting bootloader goes in the free tick between two detection
        // requests (due after 20 ticks without a device): the detection keeps its rhythm.
        QTest::newRow("a probe does not move detection")
            << none << Silence() << 14 << "D - D - D Y D - D - D - D -" << false;
        // Found at the first detection request: the five stored records are read at once
        // (each answer brings the next read), then a status poll every fourth tick.
        QTest::newRow("status every fourth tick")
            << idle << Silence() << 0 << "Drrrrr - - - S - - - S - - - S -" << false;
        QTest::newRow("telemetry every tick")
            << running << Silence() << 0 << "Drrrrr T T T T T T T T T T T" << false;
        // A telemetry request written and not answered holds the line for its two-tick limit;
        // the one due meanwhile waits and is dropped with it, unwritten: only the written
        // ones count. Three lost in a row are tolerated.
        QTest::newRow("1 lost telemetry answer")
            << running << Silence {"T3"} << 2 << "T T - T T T T T T T" << false;
        QTest::newRow("2 lost telemetry answers")
            << running << Silence {"T3", "T4"} << 2 << "T T - T - T T T T T" << false;
        QTest::newRow("3 lost telemetry answers")
            << running << Silence {"T3", "T4", "T5"} << 2 << "T T - T - T - T T T T T" << false;
        // The fourth ends the connection: control off goes out, then the search, which finds
        // the controller (answering again) at once.
        QTest::newRow("4 lost telemetry answers")
            << running << Silence {"T3", "T4", "T5", "T6"} << 2 << "T T - T - T - T - T Drrrrr T T" << true;
        // The first PWM input read gets no answer: the reads queued behind it are dropped
        // unwritten and asked again with it; then the first motor-hours read written gets
        // none either. Both are asked again until answered, none given up; the status poll
        // keeps its rhythm.
        QTest::newRow("lost read asked again, a lost read behind it")
            << idle << Silence {"r46.1", "r48.1"} << 0 << "Dr - rrrrr - rS - - - S - - -" << false;
    }

    void rhythm()
    {
        QFETCH(int, controller);
        QFETCH(Silence, silence);
        QFETCH(int, skip);
        QFETCH(QString, expected);
        QFETCH(bool, ended);

        Rig rig {Controller(controller)};
        rig.silence = silence;
        QSignalSpy givenUp(rig.app.device(), &Device::setError);
        QSignalSpy dropped(rig.app.pingHelper(), &PingHelper::device_deleteDevice);
        QVERIFY(rig.openPort());
        for (int i = 0; i < skip; ++i)
            rig.tick();
        QStringList ticks;
        const int shown = expected.split(QLatin1Char(' ')).size();
        for (int i = 0; i < shown; ++i)
            ticks << rig.tick();
        QCOMPARE(ticks.join(QLatin1Char(' ')), expected);
        QCOMPARE(dropped.count(), ended ? 1 : 0);
        // No read is given up while the controller answers: no error, no such debug line.
        QCOMPARE(givenUp.count(), 0);
        QCOMPARE(g_givenUpLines, QStringList());
    }

    // While the updater waits for a bootloader, a sync goes out at every tick: 199 over the
    // ten-second countdown, the 200th tick ends it.
    void syncEveryTickWhileWaitingForTheBootloader()
    {
        Rig rig(Controller::WaitsForUpdate);
        QVERIFY(rig.openPort());
        const QString image = rig.dataDir.filePath(QStringLiteral("fw.bin"));
        QVERIFY(TestImages::writeFile(image, TestImages::plainImage(8192)));
        rig.app.startFirmwareUpdate(image);
        QCoreApplication::processEvents();
        QTRY_VERIFY(rig.app.updateFwHelper()->isUpdateRunning());
        QStringList ticks;
        for (int i = 0; i < UpdateFwHelper::SYNC_TICKS + 2; ++i)
            ticks << rig.tick();
        QCOMPARE(ticks.mid(0, 8).join(QLatin1Char(' ')), QStringLiteral("Y Y Y Y Y Y Y Y"));
        QCOMPARE(ticks.join(QString()).count(QLatin1Char('Y')), UpdateFwHelper::SYNC_TICKS - 1);
        QVERIFY(!rig.app.updateFwHelper()->isUpdateRunning());
    }
};

QTEST_GUILESS_MAIN(TestLineRhythm)
#include "tst_linerhythm.moc"

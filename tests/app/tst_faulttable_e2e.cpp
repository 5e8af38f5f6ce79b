#include "app/appbase.h"
#include "device/settingssnapshots.h"
#include "device/pinghelper.h"
#include "firmware/updatefwhelper.h"
#include "ident/idhelper.h"
#include "link/comhelper.h"
#include "link/serialportprovider.h"
#include "tests/common/runningcoordinator.h"
#include "tests/common/simprocess.h"
#include "tests/firmware/firmwareimages.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <ctime>
#include <memory>

namespace {

// How the fault of a row comes about.
enum class Fault {
    Line,             // the controller is replaced by one whose answers go wrong (simulator options)
    VanishConnected,  // the port goes while the device is connected
    VanishRunning,    // ... while it runs in control mode
    VanishIdentifying,
    VanishFlashing,
    FirmwareNack,     // the bootloader refuses a page twice while the firmware is written
};

// The coordinator's own CPU time, read inside its thread; -1 when it did not answer within
// five seconds (a hang).
qint64 coordinatorCpuNs(AppBase *app)
{
    auto result = std::make_shared<std::atomic<qint64>>(-2);
    QMetaObject::invokeMethod(
        app,
        [result] {
            timespec t {};
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
            *result = qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
        },
        Qt::QueuedConnection);
    QElapsedTimer waited;
    waited.start();
    while (*result == -2 && waited.elapsed() < 5000)
        QTest::qWait(10);
    return *result == -2 ? -1 : result->load();
}

// What the data directory holds apart from the logs and samples that the program writes
// all the time: path and content hash of every file.
QMap<QString, QByteArray> storedData(const QString &dataDir)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(dataDir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(dataDir).relativeFilePath(path);
        if (relative.startsWith(DataDirectory::LOG_DIR) || relative.startsWith(DataDirectory::SAMPLE_DIR))
            continue;
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            files.insert(relative, QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1));
    }
    return files;
}

} // namespace

Q_DECLARE_METATYPE(Fault)

// Faults of the line and of the controller, end to end: the standalone simulated controller
// on a pseudo-terminal and the coordinator in its own thread on its real clock. For every
// row: the coordinator keeps answering (no hang), it does not spin while the fault lasts
// nor a second after it ended, the user is told what happened, the stored motors and
// settings are untouched, and the controller is found again once it is sound.
class TestFaultTableEndToEnd : public QObject
{
    Q_OBJECT

    // Over two seconds the coordinator thread may use at most a quarter of a core: it
    // idles at about 1 %, a busy loop takes all the core it gets.
    static constexpr int CPU_WINDOW_MS = 2000;
    static constexpr qint64 CPU_BOUND_NS = qint64(CPU_WINDOW_MS) * 1000000 / 4;

    static void verifyNotSpinning(AppBase *app, const char *when)
    {
        const qint64 before = coordinatorCpuNs(app);
        QVERIFY2(before >= 0, qPrintable(QStringLiteral("the coordinator hangs %1").arg(when)));
        QTest::qWait(CPU_WINDOW_MS);
        const qint64 after = coordinatorCpuNs(app);
        QVERIFY2(after >= 0, qPrintable(QStringLiteral("the coordinator hangs %1").arg(when)));
        const qint64 used = after - before;
        qInfo("coordinator CPU %s: %lld ms in %d ms", when, used / 1000000, CPU_WINDOW_MS);
        QVERIFY2(used < CPU_BOUND_NS,
                 qPrintable(QStringLiteral("the coordinator used %1 ms of CPU in %2 ms %3")
                                .arg(used / 1000000).arg(CPU_WINDOW_MS).arg(QLatin1String(when))));
    }

private slots:
    void faults_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QStringList>("simOptions"); // of the controller during the fault
        QTest::addColumn<QString>("message");        // a text the user is shown, or empty

        const auto line = [](const char *name, const QStringList &options) {
            QTest::newRow(name) << Fault::Line << options << QString();
        };
        line("10 % answers dropped", {"--drop", "0.1", "--seed", "3"});
        line("10 % checksums wrong", {"--corrupt", "0.1", "--seed", "4"});
        line("garbage between frames", {"--garbage", "0.3", "--seed", "5"});
        line("10 % wrong ids", {"--wrong-id", "0.1", "--seed", "6"});
        line("10 % wrong lengths", {"--wrong-length", "0.1", "--seed", "7"});
        line("100 kB without an end byte", {"--unterminated", "0x23:100000"});
        line("silent", {"--silent-after", "0"});
        line("silent once connected", {"--silent-after-message", "0x48"});
        // Line faults: the device state is what the user sees (the replugging itself is
        // reported as a lost control signal).
        QTest::newRow("vanishes connected") << Fault::VanishConnected << QStringList()
                                            << QStringLiteral("Control signal lost");
        QTest::newRow("vanishes running") << Fault::VanishRunning << QStringList()
                                          << QStringLiteral("Control signal lost");
        QTest::newRow("vanishes identifying") << Fault::VanishIdentifying << QStringList()
                                              << QStringLiteral("Control signal lost");
        QTest::newRow("vanishes flashing") << Fault::VanishFlashing << QStringList({"--page-write-us", "50000"})
                                           << UpdateFwHelper::errorMessage(0x100);
        QTest::newRow("NACK of a page, twice") << Fault::FirmwareNack
                                               << QStringList({"--nack-page", "1", "--nack-times", "2"})
                                               << UpdateFwHelper::errorMessage(0x01);
    }

    void faults()
    {
        QFETCH(Fault, fault);
        QFETCH(QStringList, simOptions);
        QFETCH(QString, message);

        QTemporaryDir linkDir;
        const QString link = linkDir.filePath(QStringLiteral("ttyKORDO"));
        const QString image = linkDir.filePath(QStringLiteral("fw.bin"));
        QVERIFY(TestImages::writeFile(image, TestImages::plainImage(16384)));
        const bool faultyFromStart = fault == Fault::VanishFlashing || fault == Fault::FirmwareNack;
        auto sim = std::make_unique<SimProcess>(faultyFromStart ? simOptions : QStringList(), 30000, link);
        QVERIFY2(sim->isReady(), "kordo-sim did not start");

        QTemporaryDir dataDir;
        SerialPortProvider provider({sim->adapterPortSpec()});
        RunningCoordinator coordinator(&provider, dataDir.path());
        AppBase *app = coordinator.app;
        QStringList texts; // in the info line, a message box, or the control page
        int written = 0;   // percent of the image, as the progress bar shows it
        // The context of the connections below goes first: with it go the signals still
        // queued for them, which would otherwise reach these variables after the row.
        QObject listener;
        connect(app, &AppBase::sendTextForInfo, &listener, [&texts](const QString &text) { texts << text; });
        connect(app, &AppBase::resetControl, &listener, [&texts](const QString &text) { texts << text; });
        QSignalSpy motorName(app->device(), &Device::ui_fillMotorName);
        coordinator.start();
        QTRY_COMPARE_WITH_TIMEOUT(app->deviceState(), DEVICE_CONNECTED, 30000);
        // The device's motor has been looked up (and stored when new) before the snapshot.
        QTRY_VERIFY_WITH_TIMEOUT(!motorName.isEmpty(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(app->motorLibrary()->saveMotor(QStringLiteral("kept"), MOTOR_TOTAL()).ok, 20000);
        const QMap<QString, QByteArray> stored = storedData(dataDir.path());
        QVERIFY(!stored.isEmpty());
        QStringList namesBefore;
        QStringList datetimesBefore;
        QVERIFY(app->motorLibrary()->motorList(&namesBefore, &datetimesBefore));
        QVERIFY(namesBefore.contains(QStringLiteral("kept")));
        texts.clear();

        switch (fault) {
        case Fault::Line:
            sim.reset(); // replugged: another, faulty controller at the same place
            sim = std::make_unique<SimProcess>(simOptions, 30000, link);
            QVERIFY2(sim->isReady(), "the faulty kordo-sim did not start");
            QTest::qWait(3000);
            break;
        case Fault::VanishConnected:
            break;
        case Fault::VanishRunning:
            app->pingHelper()->startRun();
            QTRY_COMPARE_WITH_TIMEOUT(app->deviceState(), DEVICE_RUNNING, 20000);
            break;
        case Fault::VanishIdentifying:
            app->setActivePage(2);
            QTRY_COMPARE_WITH_TIMEOUT(app->activity(), AppBase::ActivityIdent, 10000);
            app->idHelper()->setMotorUserParams(20.0f, false, 0.0f, 6, 900.0f, 7);
            QTRY_COMPARE_WITH_TIMEOUT(app->idHelper()->state(), IdHelper::IdState::UserParamsAccepted, 10000);
            app->idHelper()->acceptAllConditions();
            QTRY_VERIFY_WITH_TIMEOUT(app->idHelper()->isIdentRunning(), 10000);
            break;
        case Fault::VanishFlashing:
        case Fault::FirmwareNack: {
            connect(app->updateFwHelper(), &UpdateFwHelper::updateProgressBar, &listener,
                    [&written](int value, int, int max) { written = max == 100 ? value : written; });
            app->setActivePage(4);
            QTRY_COMPARE_WITH_TIMEOUT(app->activity(), AppBase::ActivityFirmware, 10000);
            app->startFirmwareUpdate(image);
            if (fault == Fault::VanishFlashing)
                QTRY_VERIFY_WITH_TIMEOUT(written > 0 && app->updateFwHelper()->isUpdateRunning(), 30000);
            break;
        }
        }
        if (fault != Fault::Line && fault != Fault::FirmwareNack) {
            sim.reset(); // unplugged
            QTRY_COMPARE_WITH_TIMEOUT(app->deviceState(), DEVICE_DISCONNECTED, 20000);
        }
        if (!message.isEmpty())
            QTRY_VERIFY2_WITH_TIMEOUT(texts.contains(message), qPrintable(texts.join(QLatin1Char('|'))), 30000);
        verifyNotSpinning(app, "while the fault lasts");
        qInfo("told the user: %s", qPrintable(texts.join(QLatin1String(" | "))));

        // The fault ends: a sound controller at the same place.
        sim.reset();
        sim = std::make_unique<SimProcess>(QStringList(), 30000, link);
        QVERIFY2(sim->isReady(), "the sound kordo-sim did not start");
        QTRY_COMPARE_WITH_TIMEOUT(app->deviceState(), DEVICE_CONNECTED, 60000);
        QTest::qWait(1000);
        verifyNotSpinning(app, "a second after the fault ended");
        QStringList names;
        QStringList datetimes;
        QVERIFY(app->motorLibrary()->motorList(&names, &datetimes));
        QCOMPARE(names, namesBefore);
        QCOMPARE(datetimes, datetimesBefore);
        QMap<QString, QByteArray> after = storedData(dataDir.path());
        if (fault == Fault::VanishFlashing || fault == Fault::FirmwareNack) {
            // The update kept the controller's settings first: one backup more in the
            // database, whose motors are those listed above.
            const QString database = DataDirectory::DATABASE_DIR + QStringLiteral("/Kordo_data.db");
            SettingsSnapshots backups(QDir(dataDir.path()).filePath(DataDirectory::DATABASE_DIR), dataDir.path());
            QVector<SettingsSnapshot> kept;
            QString problem;
            QVERIFY2(backups.list(QString(), &kept, &problem), qPrintable(problem));
            QCOMPARE(kept.size(), 1);
            QCOMPARE(kept[0].reason, QStringLiteral("firmware update"));
            after[database] = stored.value(database);
        }
        QCOMPARE(after.keys(), stored.keys());
        QCOMPARE(after, stored);
    }
};

QTEST_GUILESS_MAIN(TestFaultTableEndToEnd)
#include "tst_faulttable_e2e.moc"

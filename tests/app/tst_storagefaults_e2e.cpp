#include "app/appbase.h"
#include "device/pinghelper.h"
#include "link/comhelper.h"
#include "link/serialportprovider.h"
#include "motors/dbmanager.h"
#include "tests/common/runningcoordinator.h"
#include "tests/common/simprocess.h"
#include "tests/motors/motortestsupport.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace MotorTestSupport;

namespace {

enum class StorageFault { Unwritable, Corrupt, Directory, Locked, DiskFull };

// A size-limited file system mounted at a directory for the guard's lifetime; active()
// is false where none can be mounted (mounting tmpfs needs root).
class SmallFileSystem
{
public:
    SmallFileSystem(const QString &path, int kib) : m_path(path)
    {
        QProcess mount;
        mount.start(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                              QStringLiteral("size=%1k").arg(kib), QStringLiteral("tmpfs"), path});
        m_active = mount.waitForFinished(10000) && mount.exitStatus() == QProcess::NormalExit && mount.exitCode() == 0;
    }
    ~SmallFileSystem()
    {
        if (m_active)
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), m_path});
    }
    SmallFileSystem(const SmallFileSystem &) = delete;
    SmallFileSystem &operator=(const SmallFileSystem &) = delete;
    bool active() const { return m_active; }

private:
    QString m_path;
    bool m_active = false;
};

// Fills the file system holding `directory` until a write fails.
void fillUp(const QString &directory)
{
    QFile filler(QDir(directory).filePath(QStringLiteral("filler")));
    if (!filler.open(QIODevice::WriteOnly))
        return;
    const QByteArray block(4096, 'x');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
}

} // namespace

Q_DECLARE_METATYPE(StorageFault)

// Storage going wrong under the running program, end to end: the coordinator in its own
// thread with the standalone simulated controller. The program keeps serving the device,
// says what is wrong and where, and what was stored before stays as it was.
class TestStorageFaultsEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void storageFaults_data()
    {
        QTest::addColumn<StorageFault>("fault");
        QTest::newRow("data directory not writable") << StorageFault::Unwritable;
        QTest::newRow("database corrupted") << StorageFault::Corrupt;
        QTest::newRow("database replaced by a directory") << StorageFault::Directory;
        QTest::newRow("database locked by another program") << StorageFault::Locked;
        QTest::newRow("disk full while samples are written") << StorageFault::DiskFull;
    }

    void storageFaults()
    {
        QFETCH(StorageFault, fault);
        QTemporaryDir tmp;
        const QString dataPath = tmp.filePath(QStringLiteral("data"));
        QVERIFY(QDir().mkpath(dataPath));
        std::unique_ptr<SmallFileSystem> smallDisk;
        if (fault == StorageFault::DiskFull) {
            smallDisk = std::make_unique<SmallFileSystem>(dataPath, 512);
            if (!smallDisk->active())
                QSKIP("no size-limited file system can be made here (mount -t tmpfs needs root): the full disk "
                      "is covered by tst_storagebackworker's write seam only");
        }
        const QString databaseDir = QDir(dataPath).filePath(DataDirectory::DATABASE_DIR);
        QVERIFY(QDir().mkpath(databaseDir));
        const QString databaseFile = QDir(databaseDir).filePath(QLatin1String(DbManager::FILE_NAME));
        {
            DbManager db(nullptr, databaseDir);
            MOTOR_TOTAL m = sampleMotor(1);
            QVERIFY(db.saveMotor(QStringLiteral("Stored"), QString(), &m));
        }
        std::unique_ptr<OtherConnection> otherProgram;
        std::unique_ptr<ImmutableGuard> dataGuard;
        std::unique_ptr<ImmutableGuard> databaseGuard;
        switch (fault) {
        case StorageFault::Unwritable:
            // Even root cannot write there: no log, sample or journal file can be made.
            dataGuard = std::make_unique<ImmutableGuard>(dataPath);
            databaseGuard = std::make_unique<ImmutableGuard>(databaseDir);
            if (!dataGuard->active() || !databaseGuard->active())
                QSKIP("chattr +i is not available here: an unwritable data directory cannot be made");
            break;
        case StorageFault::Corrupt: {
            QFile file(databaseFile);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(QByteArray(4096, '\x5a'));
            break;
        }
        case StorageFault::Directory:
            QVERIFY(QFile::remove(databaseFile));
            QVERIFY(QDir().mkdir(databaseFile));
            break;
        case StorageFault::Locked:
            otherProgram = std::make_unique<OtherConnection>(databaseFile);
            QVERIFY(otherProgram->exec(QStringLiteral("BEGIN IMMEDIATE")));
            break;
        case StorageFault::DiskFull:
            break;
        }
        const QByteArray databaseBefore = fileDigest(databaseFile);

        SimProcess sim;
        QVERIFY2(sim.isReady(), "kordo-sim did not start");
        SerialPortProvider provider({sim.adapterPortSpec()});
        RunningCoordinator coordinator(&provider, dataPath);
        AppBase *app = coordinator.app;
        QStringList texts;
        int samples = 0;
        // The context of the connections below goes first: with it go the signals still
        // queued for them, which would otherwise reach these variables after the row.
        QObject listener;
        connect(app, &AppBase::sendTextForInfo, &listener, [&texts](const QString &text) { texts << text; });
        connect(app->pingHelper(), &PingHelper::addSample, &listener, [&samples] { ++samples; });
        QSignalSpy motorName(app->device(), &Device::ui_fillMotorName);
        coordinator.start();

        // The device is served whatever the storage does.
        QTRY_COMPARE_WITH_TIMEOUT(app->deviceState(), DEVICE_CONNECTED, 30000);
        app->pingHelper()->startRun();
        QTRY_COMPARE_WITH_TIMEOUT(app->deviceState(), DEVICE_RUNNING, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(samples >= 20, 20000);

        const QString nativeDatabase = QDir::toNativeSeparators(databaseFile);
        QStringList names;
        QStringList datetimes;
        const QString sampleDir = QDir::toNativeSeparators(QDir(dataPath).filePath(DataDirectory::SAMPLE_DIR));
        switch (fault) {
        case StorageFault::Unwritable:
            // The stored motors are listed; nothing new can be stored, and the user is told.
            QTRY_VERIFY2_WITH_TIMEOUT(texts.contains(QStringLiteral("Log file is not created")),
                                      qPrintable(texts.join('|')), 10000);
            QVERIFY(app->motorLibrary()->motorList(&names, &datetimes));
            QCOMPARE(names, QStringList(QStringLiteral("Stored")));
            {
                const MotorResult refused = app->motorLibrary()->saveMotor(QStringLiteral("New"), MOTOR_TOTAL());
                QVERIFY(!refused.ok);
                QVERIFY2(refused.message.contains(QStringLiteral("cannot be written")), qPrintable(refused.message));
            }
            QTRY_VERIFY2_WITH_TIMEOUT(!texts.filter(QStringLiteral("telemetry samples were lost")).filter(sampleDir)
                                           .isEmpty(),
                                      qPrintable(texts.join('|')), 40000);
            QCOMPARE(fileDigest(databaseFile), databaseBefore);
            break;
        case StorageFault::Corrupt:
        case StorageFault::Directory:
            // Told at start-up what is wrong and with which file; nothing is written over it.
            QTRY_VERIFY2_WITH_TIMEOUT(!texts.filter(nativeDatabase).isEmpty(), qPrintable(texts.join('|')), 10000);
            QVERIFY(!app->motorLibrary()->saveMotor(QStringLiteral("New"), MOTOR_TOTAL()).ok);
            QCOMPARE(fileDigest(databaseFile), databaseBefore);
            QCOMPARE(QFileInfo(databaseFile).isDir(), fault == StorageFault::Directory);
            break;
        case StorageFault::Locked:
            QTRY_VERIFY2_WITH_TIMEOUT(!texts.filter(QStringLiteral("in use by another program")).isEmpty(),
                                      qPrintable(texts.join('|')), 10000);
            QVERIFY(!app->motorLibrary()->saveMotor(QStringLiteral("New"), MOTOR_TOTAL()).ok);
            QVERIFY(otherProgram->exec(QStringLiteral("ROLLBACK")));
            otherProgram.reset();
            QTRY_VERIFY_WITH_TIMEOUT(app->motorLibrary()->saveMotor(QStringLiteral("New"), MOTOR_TOTAL()).ok, 10000);
            QVERIFY(app->motorLibrary()->motorList(&names, &datetimes));
            QCOMPARE(names, QStringList({QStringLiteral("New"), QStringLiteral("Stored")}));
            break;
        case StorageFault::DiskFull: {
            // What the program stored itself (the device's motor, found new) counts as stored too.
            QTRY_VERIFY_WITH_TIMEOUT(!motorName.isEmpty(), 20000);
            QStringList namesBefore;
            QVERIFY(app->motorLibrary()->motorList(&namesBefore, &datetimes));
            const QByteArray databaseFull = fileDigest(databaseFile);
            fillUp(dataPath);
            // A batch of samples is written every 15 s.
            QTRY_VERIFY2_WITH_TIMEOUT(!texts.filter(QStringLiteral("telemetry samples were lost")).filter(sampleDir)
                                           .isEmpty(),
                                      qPrintable(texts.join('|')), 40000);
            QCOMPARE(app->deviceState(), DEVICE_RUNNING);
            QVERIFY(app->motorLibrary()->motorList(&names, &datetimes));
            QCOMPARE(names, namesBefore);
            QVERIFY(names.contains(QStringLiteral("Stored")));
            QCOMPARE(fileDigest(databaseFile), databaseFull);
            const QStringList sampleFiles = QDir(sampleDir).entryList(QDir::Files);
            QVERIFY(!sampleFiles.isEmpty());
            for (const QString &name : sampleFiles) {
                QFile file(QDir(sampleDir).filePath(name));
                QVERIFY(file.open(QIODevice::ReadOnly));
                const QByteArray content = file.readAll();
                QVERIFY2(content.isEmpty() || content.endsWith('\n'), qPrintable(name)); // whole lines only
            }
            break;
        }
        }
        // Still serving the device after all this.
        const int before = samples;
        QTRY_VERIFY_WITH_TIMEOUT(samples >= before + 20, 20000);
    }
};

QTEST_GUILESS_MAIN(TestStorageFaultsEndToEnd)
#include "tst_storagefaults_e2e.moc"

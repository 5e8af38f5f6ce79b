#include "app/appbase.h"
#include "app/datadirectory.h"
#include "motors/dbmanager.h"
#include "tests/common/fakeport.h"
#include "tests/motors/motortestsupport.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using MotorTestSupport::ImmutableGuard;

namespace {

// A path that no one, not even an administrator, can create files in.
QString blockedPath(const QTemporaryDir &tmp, const QString &name)
{
    const QString path = tmp.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot create %s", qPrintable(path));
    return path;
}

} // namespace

class TestDataDirectory : public QObject
{
    Q_OBJECT

private slots:
    void choosesFirstUsableCandidate_data()
    {
        QTest::addColumn<QString>("explicitDir"); // "" = none given, "blocked" = unusable, else a sub path
        QTest::addColumn<bool>("executableWritable");
        QTest::addColumn<int>("origin");
        QTest::addColumn<QString>("expected"); // sub path of the temporary directory, "" when invalid

        using O = DataDirectory::Origin;
        QTest::newRow("explicit, created when missing") << "mine/data" << true << int(O::CommandLine) << "mine/data";
        QTest::newRow("executable directory") << "" << true << int(O::Executable) << "bin";
        QTest::newRow("user data when executable not writable") << "" << false << int(O::UserAppData) << "user/Kordo";
        QTest::newRow("unusable explicit is not replaced") << "blocked" << true << int(O::None) << "";
    }

    void choosesFirstUsableCandidate()
    {
        QFETCH(QString, explicitDir);
        QFETCH(bool, executableWritable);
        QFETCH(int, origin);
        QFETCH(QString, expected);
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        QVERIFY(QDir().mkpath(tmp.filePath("bin")));

        const QString executableDir = executableWritable ? tmp.filePath("bin") : blockedPath(tmp, "bin-file");
        const QString explicitPath = explicitDir == QLatin1String("blocked") ? blockedPath(tmp, "blocked")
            : explicitDir.isEmpty() ? QString() : tmp.filePath(explicitDir);

        const DataDirectory data = DataDirectory::resolve(explicitPath, executableDir, tmp.filePath("user/Kordo"));

        QCOMPARE(int(data.origin()), origin);
        QCOMPARE(data.isValid(), !expected.isEmpty());
        if (data.isValid()) {
            QCOMPARE(data.path(), tmp.filePath(expected));
            QVERIFY(QFileInfo(data.path()).isDir());
            QCOMPARE(data.settingsFilePath(), tmp.filePath(expected + "/kordoman.ini"));
            QVERIFY(data.errorString().isEmpty());
        } else {
            QVERIFY(data.errorString().contains(QDir::toNativeSeparators(explicitPath)));
            QString error;
            QVERIFY(data.logDirectory(&error).isEmpty());
            QCOMPARE(error, data.errorString());
            QVERIFY(data.settingsFilePath().isEmpty());
        }
    }

    void nothingWritableIsReported()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString executableDir = blockedPath(tmp, "bin-file");
        const QString userDir = blockedPath(tmp, "user-file") + "/Kordo";

        const DataDirectory data = DataDirectory::resolve(QString(), executableDir, userDir);

        QVERIFY(!data.isValid());
        QVERIFY(data.errorString().contains(QDir::toNativeSeparators(executableDir)));
        QVERIFY(data.errorString().contains(QDir::toNativeSeparators(userDir)));
    }

    // A directory given on the command line that exists but cannot be written is used as
    // it is: what it holds is handed out, nothing is made in it or anywhere else.
    void readOnlyExplicitDirectoryIsUsedAsItIs()
    {
        QTemporaryDir tmp;
        const QString path = tmp.filePath(QStringLiteral("ro"));
        QVERIFY(QDir().mkpath(path + QStringLiteral("/Kordo_Db")));
        ImmutableGuard guard(path);
        if (!guard.active())
            QSKIP("chattr +i is not available here");

        const DataDirectory data = DataDirectory::resolve(path, tmp.filePath(QStringLiteral("bin")), QString());
        QVERIFY(data.isValid());
        QVERIFY(data.isReadOnly());
        QCOMPARE(int(data.origin()), int(DataDirectory::Origin::CommandLine));
        QCOMPARE(data.databaseDirectory(), path + QStringLiteral("/Kordo_Db"));
        QString error;
        QVERIFY(data.logDirectory(&error).isEmpty());
        QVERIFY(error.contains(QDir::toNativeSeparators(path + QStringLiteral("/Kordo_Logs"))));
        QVERIFY(!QFileInfo::exists(tmp.filePath(QStringLiteral("bin"))));
        // Named for the sample worker's message, not made here.
        QCOMPARE(data.samplePath(), path + QStringLiteral("/Kordo_Samples"));
        QVERIFY(!QFileInfo::exists(data.samplePath()));
    }

    // The whole coordinator started on a data directory it cannot write: no file appears
    // outside it (the working directory least of all); a database there is read-only,
    // and no database at all is said plainly.
    void coordinatorWritesNothingOutsideTheDataDirectory_data()
    {
        QTest::addColumn<bool>("withDatabase"); // false: the directory cannot even be made
        QTest::newRow("read-only, with a database") << true;
        QTest::newRow("cannot be created") << false;
    }

    void coordinatorWritesNothingOutsideTheDataDirectory()
    {
        QFETCH(bool, withDatabase);
        QTemporaryDir tmp;
        const QString dataPath = tmp.filePath(QStringLiteral("data"));
        const QString workingPath = tmp.filePath(QStringLiteral("cwd"));
        QVERIFY(QDir().mkpath(workingPath));
        std::unique_ptr<ImmutableGuard> dataGuard;
        std::unique_ptr<ImmutableGuard> databaseGuard;
        if (withDatabase) {
            const QString databasePath = dataPath + QStringLiteral("/Kordo_Db");
            QVERIFY(QDir().mkpath(databasePath));
            {
                DbManager db(nullptr, databasePath);
                MOTOR_TOTAL m = MotorTestSupport::sampleMotor(1);
                QVERIFY(db.saveMotor(QStringLiteral("Stored"), QString(), &m));
            }
            dataGuard = std::make_unique<ImmutableGuard>(dataPath);
            databaseGuard = std::make_unique<ImmutableGuard>(databasePath);
            if (!dataGuard->active() || !databaseGuard->active())
                QSKIP("chattr +i is not available here");
        } else {
            QFile blocker(dataPath); // a file where the directory should be
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }

        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(workingPath));
        {
            FakeProvider provider;
            const DataDirectory data = DataDirectory::resolve(dataPath, tmp.filePath(QStringLiteral("bin")), QString());
            AppBase app(&provider, data);
            QStringList names, dates;
            if (withDatabase) {
                QCOMPARE(app.dbManager()->health(), DbManager::Health::ReadOnly);
                QVERIFY(app.motorLibrary()->motorList(&names, &dates));
                QCOMPARE(names, QStringList {QStringLiteral("Stored")});
                const MotorResult refused = app.motorLibrary()->saveMotor(QStringLiteral("New"), MOTOR_TOTAL());
                QVERIFY(!refused.ok);
                QVERIFY2(refused.message.contains(QStringLiteral("cannot be written")), qPrintable(refused.message));
            } else {
                QCOMPARE(app.dbManager()->health(), DbManager::Health::Unavailable);
                QVERIFY2(app.dbManager()->problemText().startsWith(QStringLiteral("There is no motor database")),
                         qPrintable(app.dbManager()->problemText()));
                QVERIFY(!app.motorLibrary()->motorList(&names, &dates));
            }
        }
        QVERIFY(QDir::setCurrent(previous));
        QCOMPARE(QDir(workingPath).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
        QCOMPARE(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 (QStringList {"cwd", "data"}));
        if (withDatabase)
            QCOMPARE(QDir(dataPath).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                     QStringList {"Kordo_Db"});
    }

    void subdirectoriesCreatedOnDemand_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("logs") << "Kordo_Logs";
        QTest::newRow("database") << "Kordo_Db";
        QTest::newRow("samples") << "Kordo_Samples";
    }

    void subdirectoriesCreatedOnDemand()
    {
        QFETCH(QString, name);
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const DataDirectory data = DataDirectory::resolve(tmp.path(), QString(), QString());
        QVERIFY(data.isValid());
        QVERIFY(!QFileInfo::exists(tmp.filePath(name)));

        const auto directoryOf = [&data, &name](QString *error) {
            if (name == QLatin1String("Kordo_Logs"))
                return data.logDirectory(error);
            if (name == QLatin1String("Kordo_Db"))
                return data.databaseDirectory(error);
            return data.sampleDirectory(error);
        };

        QString error = QStringLiteral("stale");
        QCOMPARE(directoryOf(&error), tmp.filePath(name));
        QVERIFY(error.isEmpty());
        QVERIFY(QFileInfo(tmp.filePath(name)).isDir());
        QCOMPARE(directoryOf(nullptr), tmp.filePath(name)); // existing directory reused

        // A file in the way of the directory is reported, not returned.
        QVERIFY(QDir(tmp.filePath(name)).removeRecursively());
        blockedPath(tmp, name);
        QVERIFY(directoryOf(&error).isEmpty());
        QVERIFY(error.contains(QDir::toNativeSeparators(tmp.filePath(name))));
    }
};

QTEST_GUILESS_MAIN(TestDataDirectory)
#include "tst_datadirectory.moc"

#include "app/datadirectory.h"

#include <QTemporaryDir>
#include <QtTest>

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

#include "ui/appsettings.h"
#include "app/translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

// The settings file and the translations, as the program finds them at start-up.
class TestAppSettings : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    static QString builtLanguages()
    {
        return QDir(qEnvironmentVariable("KORDO_BIN_DIR")).filePath(Translations::DIRECTORY_NAME);
    }

private slots:
    void missingFileIsCreatedWithTheHomeDirectory()
    {
        const QString path = m_dir.filePath(QStringLiteral("new/kordoman.ini"));
        QDir().mkpath(QFileInfo(path).path());
        {
            AppSettings settings(path);
            QCOMPARE(settings.firmwareDirectory(), QDir::homePath());
        }
        QSettings written(path, QSettings::IniFormat);
        QCOMPARE(written.allKeys(), QStringList {"fw_dir"});
        QCOMPARE(written.value("fw_dir").toString(), QDir::homePath());
    }

    void existingFileIsReadAndWrittenAtOnce()
    {
        const QString path = m_dir.filePath(QStringLiteral("kordoman.ini"));
        {
            QSettings existing(path, QSettings::IniFormat);
            existing.setValue("fw_dir", "/opt/firmware");
        }
        AppSettings settings(path);
        QCOMPARE(settings.firmwareDirectory(), QStringLiteral("/opt/firmware"));
        settings.setFirmwareDirectory(QStringLiteral("/srv/images"));
        // Written before the object goes away.
        QCOMPARE(QSettings(path, QSettings::IniFormat).value("fw_dir").toString(), QStringLiteral("/srv/images"));
    }

    // Settings files are exported and imported where the last one was, which outlives the
    // run; until then where firmware files are.
    void settingsDirectoryIsRememberedApartFromTheFirmwareDirectory()
    {
        const QString path = m_dir.filePath(QStringLiteral("folders.ini"));
        {
            AppSettings settings(path);
            settings.setFirmwareDirectory(QStringLiteral("/srv/images"));
            QCOMPARE(settings.settingsDirectory(), QStringLiteral("/srv/images"));
            settings.setSettingsDirectory(QStringLiteral("/srv/exports"));
        }
        AppSettings again(path);
        QCOMPARE(again.settingsDirectory(), QStringLiteral("/srv/exports"));
        QCOMPARE(again.firmwareDirectory(), QStringLiteral("/srv/images"));
    }

    // A FIFO in the settings file's place (itself or through a link) holds nobody: the
    // settings last for the run, and the FIFO stays a FIFO.
    void settingsFileThatIsNoRegularFileIsLeftAlone()
    {
        const QString fifo = m_dir.filePath(QStringLiteral("fifo.ini"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString link = m_dir.filePath(QStringLiteral("link.ini"));
        QVERIFY(QFile::link(fifo, link));
        for (const QString &path : {fifo, link}) {
            QTest::ignoreMessage(QtWarningMsg,
                                 qPrintable(QStringLiteral("kordoman: %1 is not a regular file; the settings are not kept")
                                                .arg(path)));
            AppSettings settings(path);
            QCOMPARE(settings.firmwareDirectory(), QDir::homePath());
            settings.setWindowState(QByteArray("geometry"), 2);
            QCOMPARE(settings.lastPage(), 2);
        }
        struct stat status {};
        QCOMPARE(::stat(QFile::encodeName(fifo).constData(), &status), 0);
        QVERIFY(S_ISFIFO(status.st_mode));
    }

    void noLanguagesDirectoryMeansNoTranslation()
    {
        Translations translations(m_dir.filePath(QStringLiteral("languages")));
        QVERIFY(translations.availableLanguages().isEmpty());
        translations.load(QStringLiteral("de"));
        QVERIFY(!translations.isProgramTranslationInstalled());
        QCOMPARE(QCoreApplication::translate("EscSettingsPage", "File not contain settings!"),
                 QStringLiteral("File not contain settings!"));
    }

    void languageCodesComeFromTheFileNames()
    {
        const QString dir = m_dir.filePath(QStringLiteral("codes"));
        QDir().mkpath(dir);
        for (const char *name : {"kordo_de.qm", "kordo_pt_BR.qm", "qt_fr.qm", "kordo_de.ts"})
            QFile(QDir(dir).filePath(name)).open(QIODevice::WriteOnly);
        QCOMPARE(Translations(dir).availableLanguages(), (QStringList {"de", "pt_BR"}));
    }

    void systemLanguageIsCutAtTheLastUnderscore()
    {
        const QString name = QLocale::system().name();
        QCOMPARE(Translations::systemLanguage(), name.left(name.lastIndexOf('_')));
    }

    void germanTranslationIsBuiltAndInstalled()
    {
        Translations translations(builtLanguages());
        QVERIFY2(translations.availableLanguages().contains(QStringLiteral("de")), qPrintable(builtLanguages()));
        translations.load(QStringLiteral("de"));
        QVERIFY(translations.isProgramTranslationInstalled());
        QCOMPARE(QLocale().name(), QStringLiteral("de_DE"));
        const QString german = QCoreApplication::translate("EscSettingsPage", "File not contain settings!");
        QVERIFY(german != QStringLiteral("File not contain settings!"));
        QVERIFY(!german.isEmpty());

        // Loading the current language again changes nothing; another one removes German.
        translations.load(QStringLiteral("de"));
        QVERIFY(translations.isProgramTranslationInstalled());
        translations.load(QStringLiteral("xx"));
        QVERIFY(!translations.isProgramTranslationInstalled());
        QCOMPARE(QCoreApplication::translate("EscSettingsPage", "File not contain settings!"),
                 QStringLiteral("File not contain settings!"));
    }
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_appsettings.moc"

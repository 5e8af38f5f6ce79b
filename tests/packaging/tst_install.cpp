#include "app/installlayout.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// `cmake --install` into a temporary prefix: the files a Linux desktop expects, valid by the
// distribution's validators, and a program that keeps its data per user.
class TestInstall : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_prefix;

    QString installed(const QString &relative) const { return QDir(m_prefix).filePath(relative); }

    static int run(const QString &program, const QStringList &arguments, QByteArray *output,
                   const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
    {
        QProcess process;
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, arguments);
        if (!process.waitForFinished(120000))
            return -1;
        *output = process.readAll();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        m_prefix = m_root.filePath(QStringLiteral("usr"));
        QByteArray output;
        QCOMPARE(run(QStringLiteral(KORDO_CMAKE_COMMAND),
                     {"--install", QStringLiteral(KORDO_BUILD_DIR), "--prefix", m_prefix}, &output),
                 0);
    }

    void prefixHoldsTheDesktopProgram_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("program") << "bin/kordoman";
        QTest::newRow("simulated controller") << "bin/kordo-sim";
        QTest::newRow("German translation") << "share/kordoman/languages/kordo_de.qm";
        QTest::newRow("desktop entry") << "share/applications/org.kordo.KordoManager.desktop";
        QTest::newRow("metainfo") << "share/metainfo/org.kordo.KordoManager.metainfo.xml";
        QTest::newRow("icon") << "share/icons/hicolor/128x128/apps/org.kordo.KordoManager.png";
        QTest::newRow("udev rule") << "lib/udev/rules.d/70-kordo-zorbel.rules";
        QTest::newRow("Wireshark dissector") << "share/kordoman/wireshark/kordo.lua";
    }
    void prefixHoldsTheDesktopProgram()
    {
        QFETCH(QString, file);
        QVERIFY2(QFileInfo(installed(file)).isFile(), qPrintable(file));
        if (file.startsWith(QLatin1String("bin/")))
            QVERIFY(QFileInfo(installed(file)).isExecutable());
    }

    void udevRuleMatchesTheAdapterBySerialNumber()
    {
        QFile rule(installed(QStringLiteral("lib/udev/rules.d/70-kordo-zorbel.rules")));
        QVERIFY(rule.open(QIODevice::ReadOnly));
        const QByteArray text = rule.readAll();
        QVERIFY(text.contains("ATTRS{serial}==\"AE*\""));
        QVERIFY(text.contains("TAG+=\"uaccess\""));
    }

    void desktopEntryValidates()
    {
        const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (validator.isEmpty())
            QSKIP("desktop-file-validate is not installed (package desktop-file-utils)");
        QByteArray output;
        QCOMPARE(run(validator, {installed(QStringLiteral("share/applications/org.kordo.KordoManager.desktop"))},
                     &output),
                 0);
        QVERIFY2(output.trimmed().isEmpty(), output.constData());
    }

    void metainfoValidates()
    {
        const QString validator = QStandardPaths::findExecutable(QStringLiteral("appstreamcli"));
        if (validator.isEmpty())
            QSKIP("appstreamcli is not installed (package appstream)");
        QByteArray output;
        const int code = run(validator, {"validate", "--no-net",
                                         installed(QStringLiteral("share/metainfo/org.kordo.KordoManager.metainfo.xml"))},
                             &output);
        QVERIFY2(code == 0, output.constData());
    }

    void installedProgramFindsItsTranslations()
    {
        const InstallLayout layout = InstallLayout::detect(installed(QStringLiteral("bin")));
        QVERIFY(layout.isInstalled());
        QCOMPARE(layout.portableDataDirectory(), QString());
        QVERIFY(QFileInfo(QDir(layout.languagesDirectory()).filePath(QStringLiteral("kordo_de.qm"))).isFile());

        // Nothing but the two programs is in bin/: German help texts come from share/.
        QProcessEnvironment german = QProcessEnvironment::systemEnvironment();
        german.insert(QStringLiteral("LC_ALL"), QStringLiteral("de_DE.UTF-8"));
        german.insert(QStringLiteral("LANG"), QStringLiteral("de_DE.UTF-8"));
        QByteArray help;
        QCOMPARE(run(installed(QStringLiteral("bin/kordoman")), {"--help"}, &help, german), 0);
        // The help wraps its descriptions to the longest option's column: compare the words.
        const QString words = QString::fromUtf8(help).simplified();
        QVERIFY2(words.contains(QLatin1String("--list-ports"))
                     && words.contains(QStringLiteral("Die seriellen Anschl\u00fcsse auflisten")),
                 help.constData());

        // The build tree is the portable layout: translations and data beside the executable.
        const InstallLayout build = InstallLayout::detect(QStringLiteral(KORDO_BUILD_DIR "/bin"));
        QVERIFY(!build.isInstalled());
        QCOMPARE(build.languagesDirectory(), QStringLiteral(KORDO_BUILD_DIR "/bin/languages"));
        QCOMPARE(build.portableDataDirectory(), QStringLiteral(KORDO_BUILD_DIR "/bin"));
    }

    // The window in demo mode, offscreen, with a home of its own: it sets up its data in the
    // per-user directory, none beside the executable (which is writable here).
    void installedProgramKeepsItsDataPerUser()
    {
        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.remove(QStringLiteral("XDG_DATA_HOME"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        const QString userData = home.filePath(QStringLiteral(".local/share/Kordo/Kordo manager"));

        QProcess program;
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(installed(QStringLiteral("bin/kordoman")), {"--demo"});
        QVERIFY(program.waitForStarted(30000));
        const auto dataReady = [&] {
            return QFileInfo(QDir(userData).filePath(QStringLiteral("kordoman.ini"))).isFile()
                   && QFileInfo(QDir(userData).filePath(QStringLiteral("Kordo_Db"))).isDir();
        };
        // Bounded: a loaded machine starts the window within seconds.
        for (int i = 0; i < 600 && !dataReady() && program.state() == QProcess::Running; ++i)
            QTest::qWait(100);
        const bool ready = dataReady();
        const bool stillRunning = program.state() == QProcess::Running;
        program.kill();
        program.waitForFinished(30000);
        QVERIFY2(ready, qPrintable(userData));
        QVERIFY2(stillRunning, "the installed program ended on its own");
        const QStringList besideExecutable = QDir(installed(QStringLiteral("bin"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        QCOMPARE(besideExecutable, (QStringList {"kordo-sim", "kordoman"}));

        // The headless commands of the installed program use the same per-user directory.
        QByteArray output;
        const QString bundle = home.filePath(QStringLiteral("bundle.zip"));
        QCOMPARE(run(installed(QStringLiteral("bin/kordoman")), {"--support-bundle", bundle}, &output, env), 0);
        QVERIFY(QFileInfo(bundle).isFile());
        QVERIFY(QFileInfo(QDir(userData).filePath(QStringLiteral("Kordo_Logs"))).isDir());
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"

#include "app/demoportprovider.h"
#include "app/mainwindow.h"
#include "device/paramshelper.h"
#include "device/settingskeeper.h"
#include "tests/common/scripteddialogs.h"
#include "tests/common/threadwarnings.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <atomic>
#include <memory>

// The program's arrangement: the coordinator in its own thread on its real 50 ms clock,
// the simulated controller on the wall clock. Bounded waits only; no timing assertions.
class TestMainWindowThreads : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ThreadWarnings::install(); }
    void cleanupTestCase() { ThreadWarnings::uninstall(); }

    // The window listens before the coordinator's clock starts, so a problem found at
    // start-up reaches the user, once.
    void startUpProblemIsShownOnce_data()
    {
        QTest::addColumn<bool>("brokenDatabase");
        QTest::addColumn<int>("messages");
        QTest::newRow("working database") << false << 0;
        QTest::newRow("a directory where the database file should be") << true << 1;
    }
    void startUpProblemIsShownOnce()
    {
        QFETCH(bool, brokenDatabase);
        QFETCH(int, messages);
        QTemporaryDir dir;
        if (brokenDatabase)
            QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("Kordo_Db/Kordo_data.db")));
        DemoPortProvider ports;
        ScriptedDialogs dialogs;
        auto window = std::make_unique<MainWindow>(&ports, DataDirectory::resolve(dir.path(), QString(), QString()),
                                                   &dialogs);
        if (messages > 0)
            QTRY_COMPARE_WITH_TIMEOUT(dialogs.messages.size(), messages, 20000);
        QTest::qWait(500); // nothing more follows
        QCOMPARE(dialogs.messages.size(), messages);
        window.reset();
    }

    void editReachesTheDeviceAcrossThreadsAndShutdownIsClean()
    {
        QTemporaryDir dir;
        DemoPortProvider ports;
        ScriptedDialogs dialogs;
        auto window = std::make_unique<MainWindow>(&ports, DataDirectory::resolve(dir.path(), QString(), QString()),
                                                   &dialogs);
        QVERIFY(window->appBase().thread() != QThread::currentThread());
        window->show();
        auto *connection = window->findChild<QAbstractButton *>(QStringLiteral("pushButtonStateConnection"));
        QTRY_COMPARE_WITH_TIMEOUT(connection->text(), QStringLiteral("Connected"), 60000);

        window->findChild<QAbstractButton *>(QStringLiteral("toolButtonEscParams"))->click();
        // The page choice takes effect in the coordinator thread.
        QTRY_COMPARE_WITH_TIMEOUT(window->appBase().activity(), AppBase::ActivityParams, 10000);
        ParamsHelper *params = window->appBase().paramsHelper();
        QTRY_VERIFY_WITH_TIMEOUT(!params->isSending(), 60000);

        auto *ttl = window->findChild<QSpinBox *>(QStringLiteral("spinBoxTimeToLeave"));
        auto *indicator = window->findChild<QCheckBox *>(QStringLiteral("checkBoxSendMotion"));
        ttl->setValue(ttl->value() == 500 ? 550 : 500);
        QCOMPARE(indicator->checkState(), Qt::Unchecked);

        // The edit waits for its quiet period: the page may not be left. The coordinator
        // answers the window's question in its own thread and says why there.
        std::atomic<QThread *> toldIn {nullptr};
        const QMetaObject::Connection told =
            connect(&window->appBase(), &AppBase::sendTextForInfo, [&toldIn](const QString &text, bool) {
                if (text == QLatin1String("Parameteres are send to the device, now"))
                    toldIn = QThread::currentThread();
            });
        window->findChild<QAbstractButton *>(QStringLiteral("toolButtonControl"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(toldIn.load() != nullptr, 10000);
        disconnect(told);
        QCOMPARE(toldIn.load(), window->appBase().thread());
        auto *label = window->findChild<QLabel *>(QStringLiteral("labelInfo"));
        QTRY_COMPARE_WITH_TIMEOUT(label->text(), QStringLiteral("Parameteres are send to the device, now"), 10000);
        QCOMPARE(window->findChild<QStackedWidget *>(QStringLiteral("stackedWidgetMainDataArea"))->currentIndex(),
                 int(MainWindow::PageEscSettings));
        // The confirmation crosses from the coordinator thread as a queued Qt::CheckState.
        QTRY_COMPARE_WITH_TIMEOUT(indicator->checkState(), Qt::Checked, 60000);

        window.reset(); // stops the clock, brings the coordinator home, ends its thread
        const QString fault = ThreadWarnings::firstThreadingFault();
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        QVERIFY(dialogs.messages.isEmpty());
    }

    // The settings kept before an import, with a database that cannot take them: the keeper
    // says so in its own thread, the device model's, and the coordinator passes it on to the
    // window in the coordinator thread; the window names the file.
    void keptSettingsAreToldFromTheThreadOfTheirObject()
    {
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("Kordo_Db"))));
        {
            QFile db(dir.filePath(QStringLiteral("Kordo_Db/Kordo_data.db")));
            QVERIFY(db.open(QIODevice::WriteOnly));
            db.write(QByteArray(4096, '\x5a'));
        }
        const QString file = dir.filePath(QStringLiteral("esc.xml"));
        {
            QFile xml(file);
            QVERIFY(xml.open(QIODevice::WriteOnly));
            xml.write("<settings><motion><ttl>1000</ttl></motion></settings>");
        }
        DemoPortProvider ports;
        ScriptedDialogs dialogs;
        dialogs.openAnswer = file;
        auto window = std::make_unique<MainWindow>(&ports, DataDirectory::resolve(dir.path(), QString(), QString()),
                                                   &dialogs);
        AppBase &app = window->appBase();
        SettingsKeeper *keeper = app.settingsKeeper();
        QCOMPARE(keeper->thread(), app.device()->thread());
        QVERIFY(app.thread() != keeper->thread());
        window->show();
        auto *connection = window->findChild<QAbstractButton *>(QStringLiteral("pushButtonStateConnection"));
        QTRY_COMPARE_WITH_TIMEOUT(connection->text(), QStringLiteral("Connected"), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!app.device()->isReadBatchRunning(), 60000);
        window->findChild<QAbstractButton *>(QStringLiteral("toolButtonEscParams"))->click();
        QTRY_COMPARE_WITH_TIMEOUT(app.activity(), AppBase::ActivityParams, 10000);

        std::atomic<QThread *> keptIn {nullptr};
        std::atomic<QThread *> toldIn {nullptr};
        connect(keeper, &SettingsKeeper::snapshotKept, [&keptIn](qint64 id, const QString &) {
            if (id == 0)
                keptIn = QThread::currentThread();
        });
        connect(&app, &AppBase::sendTextForInfo, [&toldIn](const QString &text, bool) {
            if (text.contains(QLatin1String("were saved to")))
                toldIn = QThread::currentThread();
        });
        window->findChild<QToolButton *>(QStringLiteral("toolButtonImportParams"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(toldIn.load() != nullptr, 10000);
        QCOMPARE(keptIn.load(), keeper->thread());
        QCOMPARE(toldIn.load(), app.thread());
        const QStringList files = QDir(dir.path()).entryList({QStringLiteral("settings-backup-*.json")}, QDir::Files);
        QCOMPARE(files.size(), 1);
        const auto named = [&] {
            for (const ScriptedDialogs::Message &m : qAsConst(dialogs.messages))
                if (m.text.contains(QDir::toNativeSeparators(dir.filePath(files.first()))))
                    return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(named(), 10000);

        window.reset();
        const QString fault = ThreadWarnings::firstThreadingFault();
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }
};

QTEST_MAIN(TestMainWindowThreads)
#include "tst_mainwindow_threads.moc"

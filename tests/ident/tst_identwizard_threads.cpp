#include "app/demoportprovider.h"
#include "app/mainwindow.h"
#include "ident/ui/identwizard.h"
#include "sim/simulatedcontroller.h"
#include "tests/common/scripteddialogs.h"
#include "tests/common/threadwarnings.h"
#include "wire/messageids.h"
#include "wire/vyxprotocol.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// The wizard as the program runs it: the sequencer in the coordinator thread on its real
// 50 ms clock, the simulated controller on the wall clock. Bounded waits only.
class TestIdentWizardThreads : public QObject
{
    Q_OBJECT

    template <typename T>
    static T *find(const MainWindow &window, const char *name)
    {
        return window.findChild<T *>(QLatin1String(name));
    }

private slots:
    void initTestCase() { ThreadWarnings::install(); }
    void cleanupTestCase() { ThreadWarnings::uninstall(); }

    void closingTheWindowDuringARunStopsTheMotorAcrossThreads()
    {
        QTemporaryDir dir;
        SimulatorConfig config;
        config.ident.timeScale = 0.2; // the first step takes 3.7 s
        DemoPortProvider ports(QStringList(), config);
        ScriptedDialogs dialogs;
        auto window = std::make_unique<MainWindow>(&ports, DataDirectory::resolve(dir.path(), QString(), QString()),
                                                   &dialogs);
        window->show();
        auto *connection = find<QAbstractButton>(*window, "pushButtonStateConnection");
        QTRY_COMPARE_WITH_TIMEOUT(connection->text(), QStringLiteral("Connected"), 60000);

        // Frames the controller received, collected in this thread.
        QList<int> received;
        QObject collector;
        connect(ports.controller(), &SimulatedController::traffic, &collector,
                [&received](bool fromHost, const QByteArray &bytes) {
                    VYX_Protocol codec;
                    VYX_Protocol::VyxRxConfig rx;
                    VYX_Protocol::init(rx, 0, 255);
                    VYX_Protocol::VYX_MSG msg;
                    for (char byte : bytes) {
                        if (fromHost && codec.decodeByte(uint8_t(byte), msg, rx))
                            received << int(msg.msgId);
                    }
                });

        find<QAbstractButton>(*window, "toolButtonMotorParams")->click();
        // The page changes on the coordinator's answer.
        QTRY_COMPARE_WITH_TIMEOUT(find<QStackedWidget>(*window, "stackedWidgetMainDataArea")->currentIndex(),
                                  int(MainWindow::PageMotor), 10000);
        find<QDoubleSpinBox>(*window, "doubleSpinBoxMaxCurrent")->setValue(20);
        find<QDoubleSpinBox>(*window, "doubleSpinBoxKv")->setValue(900);
        find<QSpinBox>(*window, "spinBoxMaxLiPoCells")->setValue(6);
        find<QSpinBox>(*window, "spinBoxPolePairs")->setValue(7);
        find<QAbstractButton>(*window, "pushSetIdentifyMotor")->click();
        const auto *wizard = window->findChild<IdentWizard *>();
        QCOMPARE(wizard->currentPage(), int(IdentWizard::PageAttention));
        for (int i = 0; i < 3; ++i)
            find<QAbstractButton>(*window, "pushButtonAcceptIdent")->click();
        for (const char *name : {"checkBoxMotorNoLoad", "checkBoxAttention", "checkBoxStepsId"})
            find<QCheckBox>(*window, name)->setChecked(true);
        find<QAbstractButton>(*window, "pushButtonAcceptIdent")->click();
        QCOMPARE(wizard->currentPage(), int(IdentWizard::PageActualState));
        QTRY_COMPARE_WITH_TIMEOUT(find<QLabel>(*window, "labelActualStateId")->text(), QStringLiteral("No movement"),
                                  30000);
        QVERIFY(!received.contains(VyxMsg::IDENT_STOP));

        QVERIFY(!window->close()); // held until the controller confirmed the stop
        QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), 30000);
        QCOMPARE(wizard->currentPage(), int(IdentWizard::PageError));
        QVERIFY(received.contains(VyxMsg::IDENT_STOP));

        window.reset();
        const QString fault = ThreadWarnings::firstThreadingFault();
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }
};

QTEST_MAIN(TestIdentWizardThreads)
#include "tst_identwizard_threads.moc"

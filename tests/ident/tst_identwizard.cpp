#include "tests/common/windowrig.h"
#include "tests/common/pagechange.h"

#include "app/translations.h"

#include "wire/messageids.h"
#include "ident/idhelper.h"
#include "ident/ui/identwizard.h"
#include "ident/motorinfotext.h"
#include "sim/identrun.h"
#include "motors/dbmanager.h"
#include "motors/ui/motorpage.h"

#include <QCheckBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTextEdit>
#include "device/runningmode.h"

#include <QtTest>

#include <cmath>

// The identification wizard on the motor page, in the main window against the in-process
// simulated controller, whose identification runs at a quarter of its real time.
class TestIdentWizard : public QObject
{
    Q_OBJECT

    // The shortest step (deceleration, 2 s) still spans two status polls.
    static constexpr double TEST_TIME_SCALE = 0.25;
    // About 25.6 s of scaled identification, 513 ticks; twice that at most.
    static constexpr int RUN_TICKS = 1100;

    static SimulatorConfig config()
    {
        SimulatorConfig c;
        c.identity.blankMotor = true; // the motor the controller holds comes from the run
        c.motor.rs = 0.05;
        c.motor.ls = 15e-6;
        c.ident.timeScale = TEST_TIME_SCALE;
        return c;
    }

    static QStackedWidget *stack(const WindowRig &rig) { return rig.find<QStackedWidget>("stackedWidgetMotorParams"); }
    static IdentWizard *wizard(const WindowRig &rig) { return rig.window->findChild<IdentWizard *>(); }
    static int page(const WindowRig &rig) { return wizard(rig)->currentPage(); }
    static QAbstractButton *button(const WindowRig &rig, const char *name) { return rig.find<QAbstractButton>(name); }
    static QCheckBox *box(const WindowRig &rig, const char *name) { return rig.find<QCheckBox>(name); }
    static QString labelText(const WindowRig &rig, const char *name) { return rig.find<QLabel>(name)->text(); }
    static bool shown(const WindowRig &rig, const char *name) { return !rig.find<QWidget>(name)->isHidden(); }
    static QString lastMessage(const WindowRig &rig)
    {
        return rig.dialogs.messages.isEmpty() ? QString() : rig.dialogs.messages.last().text;
    }

    // The frames the host wrote to the controller that belong to the identification.
    struct WireLog
    {
        QVector<VYX_Protocol::VYX_MSG> frames;

        explicit WireLog(WindowRig &rig)
        {
            QObject::connect(&rig.controller(), &SimulatedController::traffic, &rig.controller(),
                             [this](bool fromHost, const QByteArray &bytes) {
                                 if (!fromHost)
                                     return;
                                 VYX_Protocol codec;
                                 VYX_Protocol::VyxRxConfig rx;
                                 VYX_Protocol::init(rx, 0, 255);
                                 VYX_Protocol::VYX_MSG msg;
                                 for (char byte : bytes) {
                                     if (codec.decodeByte(uint8_t(byte), msg, rx)) {
                                         if (msg.msgId >= VyxMsg::SET_MOTOR_USER_PARAMS
                                             && msg.msgId <= VyxMsg::SET_MOTOR_IDENT_PARAMS)
                                             frames.append(msg);
                                         return;
                                     }
                                 }
                             });
        }
        QVector<int> ids() const
        {
            QVector<int> result;
            for (const auto &msg : frames)
                result << msg.msgId;
            return result;
        }
    };

    static void enterMotorData(WindowRig &rig, double maxCurrent = 20.0)
    {
        rig.find<QDoubleSpinBox>("doubleSpinBoxMaxCurrent")->setValue(maxCurrent);
        rig.find<QDoubleSpinBox>("doubleSpinBoxKv")->setValue(900);
        rig.find<QSpinBox>("spinBoxMaxLiPoCells")->setValue(6);
        rig.find<QSpinBox>("spinBoxPolePairs")->setValue(7);
    }

    static bool connectedOnMotorPage(WindowRig &rig)
    {
        if (!rig.connectDevice())
            return false;
        rig.showPage("toolButtonMotorParams");
        return rig.tickUntil([&rig] { return !rig.device()->isReadBatchRunning(); });
    }

    // From the motor list through the three warnings and the start page into the run.
    static void startRun(WindowRig &rig)
    {
        enterMotorData(rig);
        button(rig, "pushSetIdentifyMotor")->click();
        QCOMPARE(page(rig), int(IdentWizard::PageAttention));
        for (int next : {IdentWizard::PageNoLoad, IdentWizard::PageSteps, IdentWizard::PageStart}) {
            QCOMPARE(rig.text("pushButtonAcceptIdent"), QStringLiteral("Accept"));
            button(rig, "pushButtonAcceptIdent")->click();
            QCOMPARE(page(rig), next);
        }
        QCOMPARE(rig.text("pushButtonAcceptIdent"), QStringLiteral("Start"));
        QVERIFY(!button(rig, "pushButtonAcceptIdent")->isEnabled());
        for (const char *name : {"checkBoxMotorNoLoad", "checkBoxAttention", "checkBoxStepsId"})
            box(rig, name)->setChecked(true);
        button(rig, "pushButtonAcceptIdent")->click();
        QCOMPARE(page(rig), int(IdentWizard::PageActualState));
    }

    // Started and the first step announced.
    static void runningFirstStep(WindowRig &rig)
    {
        QVERIFY(connectedOnMotorPage(rig));
        startRun(rig);
        QVERIFY(rig.tickUntil([&] { return labelText(rig, "labelActualStateId") == QLatin1String("No movement"); }));
        QVERIFY(rig.controller().firmware().ident().isWalking());
    }

    static bool tickUntilPage(WindowRig &rig, int index, int ticks = RUN_TICKS)
    {
        for (int i = 0; i < ticks && page(rig) != index; ++i)
            rig.tick();
        return page(rig) == index;
    }

    static void expectButtons(const WindowRig &rig, bool back, bool cancel, bool accept)
    {
        QCOMPARE(shown(rig, "pushButtonBackIdent"), back);
        QCOMPARE(shown(rig, "pushButtonCancelIdent"), cancel);
        QCOMPARE(shown(rig, "pushButtonAcceptIdent"), accept);
    }

    static bool near(double value, double truth) { return std::abs(value - truth) <= 0.05 * std::abs(truth); }

private slots:
    void fullPassSavesTheIdentifiedMotor()
    {
        WindowRig rig(config());
        QVERIFY(connectedOnMotorPage(rig));
        QCOMPARE(rig.find<QLineEdit>("lineEditActualMotorType")->text(), QStringLiteral("Unknown motor 1"));
        expectButtons(rig, false, false, false);
        WireLog wire(rig);
        QSignalSpy identified(rig.app().idHelper(), &IdHelper::identFinished);

        startRun(rig);
        expectButtons(rig, false, true, false);
        QStringList stepsShown;
        for (int i = 0; i < RUN_TICKS && page(rig) == IdentWizard::PageActualState; ++i) {
            rig.tick();
            const QString step = labelText(rig, "labelActualStateId");
            if (!step.isEmpty() && (stepsShown.isEmpty() || stepsShown.last() != step))
                stepsShown << step;
        }
        QCOMPARE(stepsShown, QStringList({"No movement", "Acceleration", "Variable speed", "Deceleration"}));
        QCOMPARE(page(rig), int(IdentWizard::PageFinish));
        QVERIFY(!rig.find<QTimer>("idProgressTimer")->isActive());
        expectButtons(rig, false, true, true);
        QCOMPARE(rig.text("pushButtonAcceptIdent"), QStringLiteral("Save motor"));
        QCOMPARE(wire.ids(), QVector<int>({VyxMsg::SET_MOTOR_USER_PARAMS, VyxMsg::IDENT_RUN, VyxMsg::GET_MOTOR_PARAMS}));
        QVERIFY(!rig.app().idHelper()->isIdentRunning());
        // The results show before they are saved.
        QCOMPARE(labelText(rig, "labelIdentResults"),
                 MotorInfoText::html(identified.value(0).value(0).value<MOTOR_TOTAL>()));
        QVERIFY(labelText(rig, "labelIdentResults").contains(QLatin1String("Rs: ")));

        // Cancel asks before the result is thrown away; No keeps it.
        rig.dialogs.answerYes = false;
        button(rig, "pushButtonCancelIdent")->click();
        QCOMPARE(rig.dialogs.questions, QStringList {"Discard the identified motor?"});
        QCOMPARE(page(rig), int(IdentWizard::PageFinish));

        // A stored name turns red and saves nothing; the motor can still be saved.
        QLineEdit *name = rig.find<QLineEdit>("lineEditMotorName");
        name->setText(QStringLiteral("Unknown motor 1"));
        QCOMPARE(name->palette().color(QPalette::Text), QColor(Qt::red));
        button(rig, "pushButtonAcceptIdent")->click();
        QCOMPARE(page(rig), int(IdentWizard::PageFinish));
        QVERIFY(rig.dialogs.messages.isEmpty());

        name->setText(QStringLiteral("Quad 2207"));
        QCOMPARE(name->palette().color(QPalette::Text), QColor(Qt::black));
        button(rig, "pushButtonAcceptIdent")->click();
        QCOMPARE(page(rig), int(IdentWizard::PageMotorList));
        QCOMPARE(lastMessage(rig), QStringLiteral("Motor was saved to database!"));
        QCOMPARE(name->text(), QString());
        expectButtons(rig, false, false, false);

        QTableWidget *table = rig.find<QTableWidget>("tableWidgetMotors");
        QCOMPARE(table->item(table->currentRow(), MotorPage::NameColumn)->text(), QStringLiteral("Quad 2207"));
        QCOMPARE(rig.find<QLineEdit>("lineEditActualMotorType")->text(), QStringLiteral("Quad 2207"));

        // The stored motor: the simulated motor's electrical values, the user's limits.
        MOTOR_TOTAL motor;
        QVERIFY(rig.app().dbManager()->getMotorParams(QStringLiteral("Quad 2207"), &motor));
        const MotorConfig truth = config().motor;
        QVERIFY2(near(motor.Rs, truth.rs), qPrintable(QString::number(motor.Rs)));
        QVERIFY2(near(motor.Ls_d, truth.ls), qPrintable(QString::number(motor.Ls_d)));
        QVERIFY2(near(motor.Ls_q, truth.ls), qPrintable(QString::number(motor.Ls_q)));
        QVERIFY2(near(motor.Flux, 60.0 / (truth.kv * truth.polePairs)), qPrintable(QString::number(motor.Flux)));
        QCOMPARE(motor.voltage_scale, uint16_t(251));
        QCOMPARE(motor.maxFrequency, uint16_t(2646));
        QCOMPARE(motor.maxMotorCurrent, uint16_t(200));
        QCOMPARE(motor.resCurrent, uint16_t(200));

        // The device model names the controller's motor by the new name too.
        QVERIFY(rig.tickUntil([&] { return rig.device()->motorName() == QLatin1String("Quad 2207"); }));
        QCOMPARE(pageChangeAnswer(rig.app(), MainWindow::PageEscSettings), QStringLiteral("allowed"));
    }

    void startFollowsTheConfirmationBoxes_data()
    {
        QTest::addColumn<QString>("checks"); // boxes checked in this order: n(o load), a(ttention), s(teps)
        QTest::addColumn<bool>("enabled");
        QTest::newRow("all three") << "nas" << true;
        QTest::newRow("no load last, with attention, without steps") << "an" << true;
        QTest::newRow("no load last, without attention") << "sn" << false;
        QTest::newRow("attention last, without steps") << "na" << false;
        QTest::newRow("steps last, without no load") << "as" << false;
        QTest::newRow("no load alone") << "n" << false;
    }

    void startFollowsTheConfirmationBoxes()
    {
        QFETCH(QString, checks);
        QFETCH(bool, enabled);
        WindowRig rig;
        wizard(rig)->showPage(IdentWizard::PageStart);
        expectButtons(rig, true, true, true);
        QVERIFY(!button(rig, "pushButtonAcceptIdent")->isEnabled());
        for (QChar c : checks) {
            const char *name = c == 'n' ? "checkBoxMotorNoLoad" : c == 'a' ? "checkBoxAttention" : "checkBoxStepsId";
            box(rig, name)->setChecked(true);
        }
        QCOMPARE(button(rig, "pushButtonAcceptIdent")->isEnabled(), enabled);
    }

    void reenteringTheStartPageUnchecksTheBoxes()
    {
        WindowRig rig;
        wizard(rig)->showPage(IdentWizard::PageStart);
        for (const char *name : {"checkBoxMotorNoLoad", "checkBoxAttention", "checkBoxStepsId"})
            box(rig, name)->setChecked(true);
        QVERIFY(button(rig, "pushButtonAcceptIdent")->isEnabled());
        button(rig, "pushButtonBackIdent")->click();
        QCOMPARE(page(rig), int(IdentWizard::PageSteps));
        QCOMPARE(rig.text("pushButtonAcceptIdent"), QStringLiteral("Accept"));
        button(rig, "pushButtonAcceptIdent")->click();
        QCOMPARE(page(rig), int(IdentWizard::PageStart));
        for (const char *name : {"checkBoxMotorNoLoad", "checkBoxAttention", "checkBoxStepsId"})
            QVERIFY2(!box(rig, name)->isChecked(), name);
        QVERIFY(!button(rig, "pushButtonAcceptIdent")->isEnabled());
    }

    void aStepAnnouncedWhileTheTimerRunsRestartsTheBar()
    {
        WindowRig rig;
        IdHelper *id = rig.app().idHelper();
        IdentWizard *wizard = rig.window->identWizard();
        QTimer *timer = rig.find<QTimer>("idProgressTimer");
        QProgressBar *bar = rig.find<QProgressBar>("progressBarStateId");
        wizard->showPage(IdentWizard::PageActualState);

        emit id->changeIdState("No movement", "Acceleration", "Help, motor spins", {"The motor is not spinning!"},
                               {"The motor is spinning"}, 18500);
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 500);
        QCOMPARE(bar->maximum(), 18500);
        QCOMPARE(labelText(rig, "labelStateIdBehaviour"),
                 QStringLiteral("<b>Right behaviour:</b><br>- The motor is not spinning!<br>"
                                "<b>Errors:</b><br>* The motor is spinning<br>"));
        QCOMPARE(labelText(rig, "labelNextStateId"), QStringLiteral("Acceleration"));
        QCOMPARE(rig.text("pushButtonStateId"), QStringLiteral("Help, motor spins"));
        for (int i = 0; i < 3; ++i)
            wizard->on_updateIdProgress();
        QCOMPARE(bar->value(), 1500);

        const int timerId = timer->timerId();
        emit id->changeIdState("Deceleration", "Finish", "Help, motor spins", {}, {}, 2000);
        QCOMPARE(bar->value(), 0);
        QCOMPARE(bar->maximum(), 2000);
        QCOMPARE(timer->timerId(), timerId); // not restarted
        for (int i = 0; i < 5; ++i)
            wizard->on_updateIdProgress();
        QCOMPARE(bar->value(), 2000); // full, and it stays full

        emit id->identificationFailed(false);
        QVERIFY(!timer->isActive());
        QCOMPARE(bar->value(), 0);
        QCOMPARE(page(rig), int(IdentWizard::PageError));
    }

    void cancelDuringTheRunWaitsForTheErrorPage()
    {
        WindowRig rig(config());
        runningFirstStep(rig);
        WireLog wire(rig);

        button(rig, "pushButtonCancelIdent")->click();
        QCOMPARE(page(rig), int(IdentWizard::PageActualState)); // the page waits for the sequencer
        QVERIFY(tickUntilPage(rig, IdentWizard::PageError, 100));
        QCOMPARE(wire.ids(), QVector<int>({VyxMsg::IDENT_STOP}));
        QVERIFY(!rig.controller().firmware().ident().isWalking());
        expectButtons(rig, false, true, true);
        QCOMPARE(rig.text("pushButtonAcceptIdent"), QStringLiteral("Repeat"));
        QVERIFY(shown(rig, "textEdit_ErrorRepeat"));
        QVERIFY(!shown(rig, "textEdit_ErrorCorretion"));
        QVERIFY(rig.find<QTextEdit>("textEdit_ErrorRepeat")->toPlainText().contains("Break identification by user"));
        QCOMPARE(rig.find<QLabel>("labelErrorTitle")->text(), QStringLiteral("Identification stopped")); // no "Error"

        // Repeat runs again with the limits the controller keeps.
        button(rig, "pushButtonAcceptIdent")->click();
        QCOMPARE(page(rig), int(IdentWizard::PageActualState));
        QVERIFY(rig.tickUntil([&] { return rig.controller().firmware().ident().isWalking(); }));
        QCOMPARE(wire.ids(), QVector<int>({VyxMsg::IDENT_STOP, VyxMsg::IDENT_RUN}));
    }

    // Escape is Cancel in every language, also after the language changed while the
    // wizard was open (a button's new text replaces its shortcut).
    void escapeCancelsTheRunInEveryLanguage_data()
    {
        QTest::addColumn<QStringList>("languages");
        QTest::newRow("English") << QStringList();
        QTest::newRow("German") << QStringList {"de"};
        QTest::newRow("German, then English again") << QStringList {"de", "en"};
    }

    void escapeCancelsTheRunInEveryLanguage()
    {
        QFETCH(QStringList, languages);
        Translations translations(QDir(qEnvironmentVariable("KORDO_BIN_DIR")).filePath(Translations::DIRECTORY_NAME));
        WindowRig rig(config());
        runningFirstStep(rig);
        for (const QString &code : languages) {
            translations.load(code);
            QCOMPARE(translations.isProgramTranslationInstalled(), code != QLatin1String("en"));
            QCoreApplication::processEvents(); // language change events
        }
        if (!languages.isEmpty()) {
            const QString cancel = languages.last() == QLatin1String("de") ? QStringLiteral("Abbrechen")
                                                                            : QStringLiteral("Cancel");
            QCOMPARE(rig.text("pushButtonCancelIdent"), cancel);
        }

        // A shortcut clicks its button at the end of a 100 ms press animation: the run
        // must not be ticked on meanwhile.
        QSignalSpy cancelClicked(button(rig, "pushButtonCancelIdent"), &QAbstractButton::clicked);
        QTest::keyClick(rig.window.get(), Qt::Key_Escape);
        QVERIFY(cancelClicked.wait(5000));
        QVERIFY(tickUntilPage(rig, IdentWizard::PageError, 100));
        QVERIFY(!rig.controller().firmware().ident().isWalking());
        button(rig, "pushButtonCancelIdent")->click();
        QCOMPARE(page(rig), int(IdentWizard::PageMotorList));
        QCOMPARE(pageChangeAnswer(rig.app(), MainWindow::PageEscSettings), QStringLiteral("allowed"));
    }

    // Yes on the finish page's question drops the result.
    void cancelOnTheFinishPageDiscardsOnYes()
    {
        WindowRig rig(config());
        QVERIFY(connectedOnMotorPage(rig));
        startRun(rig);
        QVERIFY(tickUntilPage(rig, IdentWizard::PageFinish));
        rig.dialogs.answerYes = true;
        button(rig, "pushButtonCancelIdent")->click();
        QCOMPARE(rig.dialogs.questions.size(), 1);
        QCOMPARE(page(rig), int(IdentWizard::PageMotorList));
        QStringList names;
        QStringList dates;
        QVERIFY(rig.app().dbManager()->getMotorList(&names, &dates));
        QVERIFY(!names.contains(QStringLiteral("Quad 2207")));
    }

    // The motor data fields start from the controller's values; a value entered stays.
    void motorDataStartsFromTheController()
    {
        WindowRig rig; // the demo controller holds a motor
        QVERIFY(connectedOnMotorPage(rig));
        const MotorUserInput held = MotorUserLimits::heldInput(rig.device()->motorParams());
        QVERIFY(held.isComplete());
        QCOMPARE(rig.find<QDoubleSpinBox>("doubleSpinBoxMaxCurrent")->value(), double(held.maxCurrent));
        QCOMPARE(rig.find<QDoubleSpinBox>("doubleSpinBoxKv")->value(), double(held.kv));
        QCOMPARE(rig.find<QSpinBox>("spinBoxMaxLiPoCells")->value(), held.lipoCells);
        QCOMPARE(rig.find<QSpinBox>("spinBoxPolePairs")->value(), held.polePairs);

        rig.find<QDoubleSpinBox>("doubleSpinBoxMaxCurrent")->setValue(33.0);
        emit rig.device()->ui_changeUserMotorParams();
        QCOMPARE(rig.find<QDoubleSpinBox>("doubleSpinBoxMaxCurrent")->value(), 33.0);
    }

    // The user's data comes back from the limits the controller keeps.
    void heldInputIsTheWayBack_data()
    {
        QTest::addColumn<double>("maxCurrent");
        QTest::addColumn<double>("kv");
        QTest::addColumn<int>("cells");
        QTest::addColumn<int>("polePairs");
        QTest::newRow("quad") << 20.0 << 900.0 << 6 << 7;
        QTest::newRow("small") << 2.5 << 2300.0 << 2 << 6;
        QTest::newRow("large") << 80.0 << 170.0 << 12 << 14;
    }
    void heldInputIsTheWayBack()
    {
        QFETCH(double, maxCurrent);
        QFETCH(double, kv);
        QFETCH(int, cells);
        QFETCH(int, polePairs);
        MotorUserInput input;
        input.maxCurrent = float(maxCurrent);
        input.kv = float(kv);
        input.lipoCells = cells;
        input.polePairs = polePairs;
        const MotorUserInput back = MotorUserLimits::heldInput(MotorUserLimits::compute(input).record);
        QCOMPARE(double(back.maxCurrent), maxCurrent);
        QCOMPARE(double(back.kv), kv);
        QCOMPARE(back.lipoCells, cells);
        QCOMPARE(back.polePairs, polePairs);
        QCOMPARE(MotorUserLimits::heldInput(MOTOR_TOTAL()).lipoCells, 0); // a blank controller fills nothing
    }

    void cancelBeforeTheRunSendsNothingAndFreesThePage()
    {
        WindowRig rig(config());
        QVERIFY(connectedOnMotorPage(rig));
        enterMotorData(rig);
        button(rig, "pushSetIdentifyMotor")->click();
        rig.tick(4);
        QVERIFY(rig.app().idHelper()->isIdentRunning()); // limits accepted: the page is held
        WireLog wire(rig);

        button(rig, "pushButtonCancelIdent")->click();
        QCOMPARE(page(rig), int(IdentWizard::PageMotorList));
        rig.tick(10);
        QVERIFY(wire.frames.isEmpty());
        QVERIFY(!rig.app().idHelper()->isIdentRunning());
        QCOMPARE(page(rig), int(IdentWizard::PageMotorList));
    }

    void predictedErrorOffersCorrection()
    {
        SimulatorConfig c = config();
        c.ident.predictedErrorCode = 4; // too small a resistance current, seen in the first step
        WindowRig rig(c);
        runningFirstStep(rig);
        QVERIFY(rig.tickUntil([&] { return shown(rig, "textEdit_ErrorPredicted"); }));
        QCOMPARE(rig.find<QTextEdit>("textEdit_ErrorPredicted")->toPlainText(),
                 QStringLiteral("Beware, you may need to break the identification!"));
        WireLog wire(rig);

        button(rig, "pushButtonStateId")->click(); // the help button breaks the run
        QVERIFY(tickUntilPage(rig, IdentWizard::PageError, 100));
        QCOMPARE(rig.text("pushButtonAcceptIdent"), QStringLiteral("Correction"));
        QCOMPARE(rig.find<QLabel>("labelErrorTitle")->text(), QStringLiteral("Error"));
        QVERIFY(shown(rig, "textEdit_ErrorCorretion"));
        QVERIFY(!shown(rig, "textEdit_ErrorRepeat"));

        button(rig, "pushButtonAcceptIdent")->click();
        QCOMPARE(page(rig), int(IdentWizard::PageActualState));
        QVERIFY(!shown(rig, "textEdit_ErrorPredicted"));
        QVERIFY(rig.tickUntil([&] { return rig.controller().firmware().ident().isWalking(); }));
        QCOMPARE(wire.ids(), QVector<int>({VyxMsg::IDENT_STOP, VyxMsg::SET_MOTOR_USER_PARAMS, VyxMsg::IDENT_RUN}));
        // The resistance current raised by half: 2.00 A -> 3.00 A.
        MOTOR_TOTAL sentLimits;
        QVERIFY(sentLimits.unpackUser(wire.frames[1].payloadBytes()));
        QCOMPARE(sentLimits.resCurrent, uint16_t(300));
        QCOMPARE(rig.controller().firmware().storedMotor().resCurrent, uint16_t(300));
    }

    void correctionWithoutTheDeviceReturnsToTheMotorList()
    {
        WindowRig rig;
        IdHelper *id = rig.app().idHelper();
        rig.setDeviceState(DEVICE_CONNECTED);
        Poll_Answer_s poll;
        poll.hasErrorPrediction = true;
        poll.errorPrediction = 7;
        id->receivePollAnswer(poll);
        rig.setDeviceState(DEVICE_DISCONNECTED);
        QSignalSpy sent(id->requests(), &RequestChannel::requestSent);

        emit id->identificationFailed(true);
        QCOMPARE(rig.text("pushButtonAcceptIdent"), QStringLiteral("Correction"));
        button(rig, "pushButtonAcceptIdent")->click();
        QCOMPARE(lastMessage(rig), QStringLiteral("Unexpected error occurs"));
        QCOMPARE(page(rig), int(IdentWizard::PageMotorList));
        QCOMPARE(sent.size(), 0);
    }

    // The controller went away between the click and the sequencer's turn: the refusal
    // comes back as a signal and the wizard returns to the motor list.
    void lateRefusalReturnsToTheMotorList()
    {
        WindowRig rig;
        rig.showPage("toolButtonMotorParams");
        wizard(rig)->showPage(IdentWizard::PageAttention);
        emit rig.app().idHelper()->userParamsRefused(IdHelper::DeviceNotConnected);
        QCOMPARE(lastMessage(rig), QStringLiteral("Device is not connected"));
        QCOMPARE(page(rig), int(IdentWizard::PageMotorList));
    }

    void deviceStateRefusalsSendNothing_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<double>("maxCurrent");
        QTest::addColumn<QString>("message");
        QTest::newRow("disconnected") << int(DEVICE_DISCONNECTED) << 20.0 << "Device is disconnected";
        QTest::newRow("running") << int(DEVICE_RUNNING) << 20.0 << RunningMode::refusal("Device is running");
        QTest::newRow("bootloader started") << int(DEVICE_BOOT_STARTED) << 20.0 << "Device is in bootloader mode";
        QTest::newRow("bootloader connected") << int(DEVICE_BOOT_CONNECTED) << 20.0 << "Device is in bootloader mode";
        QTest::newRow("zero max current") << int(DEVICE_CONNECTED) << 0.0
                                          << "Parameters must be non-zero value: Max current";
    }

    void deviceStateRefusalsSendNothing()
    {
        QFETCH(int, state);
        QFETCH(double, maxCurrent);
        QFETCH(QString, message);
        WindowRig rig;
        rig.setDeviceState(Device_State_e(state));
        QCOMPARE(int(rig.app().idHelper()->deviceState()), state);
        QSignalSpy sent(rig.app().idHelper()->requests(), &RequestChannel::requestSent);
        rig.showPage("toolButtonMotorParams");
        enterMotorData(rig, maxCurrent);

        button(rig, "pushSetIdentifyMotor")->click();
        QCoreApplication::processEvents();
        QCOMPARE(lastMessage(rig), message);
        QCOMPARE(sent.size(), 0);
        QCOMPARE(page(rig), int(IdentWizard::PageMotorList));
        QVERIFY(!rig.app().idHelper()->isIdentRunning());
    }

    void portLostMidRunEndsOnTheErrorPageWithTheMotorStopped()
    {
        SimulatorConfig c = config();
        c.faults.vanishAfterMs = 8000; // the adapter is pulled during the first step
        WindowRig rig(c);
        runningFirstStep(rig);
        QVERIFY(rig.controller().nowMs() < c.faults.vanishAfterMs);

        QVERIFY(tickUntilPage(rig, IdentWizard::PageError, 400));
        QVERIFY(rig.controller().hasVanished());
        QCOMPARE(rig.text("pushButtonAcceptIdent"), QStringLiteral("Repeat"));
        QVERIFY(!rig.app().idHelper()->isIdentRunning());
        // The controller, hearing nobody, stops the run itself.
        QVERIFY(rig.tickUntil([&] { return !rig.controller().firmware().ident().isWalking(); }));
    }

    void motorListShownAgainStopsTheRunFirst()
    {
        WindowRig rig(config());
        runningFirstStep(rig);
        WireLog wire(rig);

        stack(rig)->setCurrentIndex(IdentWizard::PageMotorList); // e.g. a device connected anew
        QCOMPARE(page(rig), int(IdentWizard::PageMotorList));
        QVERIFY(tickUntilPage(rig, IdentWizard::PageError, 100));
        QCOMPARE(wire.ids(), QVector<int>({VyxMsg::IDENT_STOP}));
        QVERIFY(!rig.controller().firmware().ident().isWalking());
    }

    // The coordinator echoes a device's connection after the window has shown "Connected";
    // a run the user started meanwhile must go on.
    void lateConnectionEchoLeavesTheRunAlone()
    {
        WindowRig rig(config());
        runningFirstStep(rig);
        WireLog wire(rig);

        rig.window->on_updateProcess();
        rig.tick(5);
        QCOMPARE(page(rig), int(IdentWizard::PageActualState));
        QVERIFY(!wire.ids().contains(VyxMsg::IDENT_STOP));
        QVERIFY(rig.controller().firmware().ident().isWalking());
    }

    // The motor page is not left while the run goes on: the coordinator refuses and says why.
    void runningIdentificationKeepsTheMotorPage()
    {
        WindowRig rig(config());
        runningFirstStep(rig);
        rig.showPage("toolButtonEscParams");
        QCOMPARE(rig.find<QStackedWidget>("stackedWidgetMainDataArea")->currentIndex(), int(MainWindow::PageMotor));
        QVERIFY(rig.find<QAbstractButton>("toolButtonMotorParams")->isChecked());
        QVERIFY(!rig.find<QAbstractButton>("toolButtonEscParams")->isChecked());
        QCOMPARE(rig.find<QLabel>("labelInfo")->text(), QStringLiteral("Motor identification is still running"));
        QCOMPARE(page(rig), int(IdentWizard::PageActualState));
        QVERIFY(rig.controller().firmware().ident().isWalking());
    }

    // A device connected anew starts on the motor list; the same device announced again
    // (a new bus address) leaves the wizard where it is.
    void newlyConnectedDeviceStartsOnTheMotorList()
    {
        WindowRig rig(config());
        QVERIFY(connectedOnMotorPage(rig));
        wizard(rig)->showPage(IdentWizard::PageAttention);
        rig.window->on_connectionChanged(12345, DEVICE_CONNECTED, Device_FW_s());
        QCOMPARE(page(rig), int(IdentWizard::PageAttention));
        rig.window->on_connectionChanged(0, DEVICE_DISCONNECTED, Device_FW_s());
        rig.window->on_connectionChanged(12345, DEVICE_CONNECTED, Device_FW_s());
        QCOMPARE(page(rig), int(IdentWizard::PageMotorList));
    }

    void closingTheWindowStopsTheRunFirst()
    {
        WindowRig rig(config());
        runningFirstStep(rig);
        WireLog wire(rig);

        QVERIFY(!rig.window->close());
        QVERIFY(rig.window->isVisible());
        QVERIFY(rig.tickUntil([&] { return !rig.window->isVisible(); }));
        QCOMPARE(wire.ids(), QVector<int>({VyxMsg::IDENT_STOP}));
        QVERIFY(!rig.controller().firmware().ident().isWalking());
    }

    // Even with the highest flux frequency (the longest acceleration step) a demo
    // identification is over within a minute.
    void demoIdentificationTakesUnderAMinute()
    {
        IdentRun run(DemoPortProvider::demoConfig().ident);
        run.start(255, 0);
        int ms = 0;
        for (; ms < 120000 && !run.isFinished(); ms += 50)
            run.advance(50000);
        QVERIFY(run.isFinished());
        QVERIFY2(ms < 60000, qPrintable(QString::number(ms)));
        QVERIFY2(ms > 30000, qPrintable(QString::number(ms))); // still long enough to follow
    }

    void motorInformationShowsIdentAndUserParts()
    {
        WindowRig rig;
        MOTOR_TOTAL motor;
        motor.Rs = 0.05f;
        motor.Ls_d = 15e-6f;
        motor.Ls_q = 16e-6f;
        motor.Flux = 0.0095f;
        QVERIFY(motor.unpackUser(QByteArray::fromHex("fb00560ac800070184c8800c")));
        QVERIFY(rig.app().dbManager()->saveMotor(QStringLiteral("M"), QString(), &motor));
        rig.showPage("toolButtonMotorParams");
        button(rig, "toolButtonInfoMotor")->click();
        QCOMPARE(lastMessage(rig), QStringLiteral("No motor is selected!"));

        rig.find<QTableWidget>("tableWidgetMotors")->setCurrentCell(0, MotorPage::NameColumn);
        button(rig, "toolButtonInfoMotor")->click();
        QCOMPARE(rig.dialogs.messages.last().title, QStringLiteral("M"));
        QCOMPARE(lastMessage(rig),
                 QString::fromUtf8("<b>Ident</b><br>Rs: 0.0500 \u03A9<br>Ls d: 15.00 \u00B5H<br>Ls q: 16.00 \u00B5H<br>"
                                  "Flux: 0.009500 V/Hz<br><br><b>User</b><br>Max voltage: 25.1 V<br>"
                                  "Max frequency: 2646 Hz<br>Max current: 20.0 A<br>Pole pairs: 7<br>"
                                  "Flux frequency: 132 Hz<br>Resistance current: 2.00 A<br>"
                                  "Inductance current: 2.00 A"));
    }
};

QTEST_MAIN(TestIdentWizard)
#include "tst_identwizard.moc"

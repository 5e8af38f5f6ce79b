#include "tests/common/windowrig.h"
#include "tests/common/framedecode.h"

#include "device/pinghelper.h"
#include "link/comhelper.h"
#include "tuning/testhelper.h"
#include "tuning/ui/controlpage.h"
#include "app/terminationsignals.h"
#include "app/windowtermination.h"
#include "wire/messageids.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <csignal>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_scale_draw.h>
#include <qwt_scale_widget.h>
#include <qwt_text.h>

// A way out of a running motor.
enum class WayOut { Stop, StopWithTypedDuty, UntickWithTypedDuty, HomeKey, EndKey, EscapeInMessageBox,
                    EscapeInFileDialog, Stall, DeviceError, ContactLost, PageChange, Close, Signal };
Q_DECLARE_METATYPE(WayOut)

// The control page on the simulated controller: telemetry in, duty command out, checked
// on the wire where the controller receives it.
class TestControlPage : public QObject
{
    Q_OBJECT

    // The window with a running controller, and every duty command the controller got.
    struct ControlRig : WindowRig
    {
        QVector<DutyCommand> commands;

        explicit ControlRig(const SimulatorConfig &config = SimulatorConfig()) : WindowRig(config) {}
        // The window's last request still reaches the recorder of commands.
        ~ControlRig() { window.reset(); }

        ControlPage *page() { return window->controlPage(); }
        QCheckBox *enable() { return find<QCheckBox>("checkBoxDutyCycle"); }
        QSlider *slider() { return find<QSlider>("horizontalSliderDutyCycle"); }
        QwtPlot *plot() { return find<QwtPlot>("qwtPlotTelemtry"); }
        QString value(const char *lineEdit) { return find<QLineEdit>(lineEdit)->text(); }
        QString info() { return find<QLabel>("labelInfo")->text(); }
        size_t plotted(int curve)
        {
            const QwtPlotItemList curves = plot()->itemList(QwtPlotItem::Rtti_PlotCurve);
            return static_cast<QwtPlotCurve *>(curves.at(curve))->dataSize();
        }

        QMessageBox *runQuestion()
        {
            for (QMessageBox *box : window->findChildren<QMessageBox *>()) {
                if (box->isVisible() && box->text().contains(QLatin1String("Do you run device?")))
                    return box;
            }
            return nullptr;
        }

        // Connects, opens the control page and answers Yes to running the device.
        bool run()
        {
            if (!connectDevice())
                return false;
            connect();
            showPage("toolButtonControl");
            QMessageBox *question = runQuestion();
            if (!question)
                return false;
            question->button(QMessageBox::Yes)->click();
            return tickUntil([this] { return page()->samplesReceived() > 0; });
        }

        void connect()
        {
            QObject::connect(&controller(), &SimulatedController::traffic, window.get(),
                             [this](bool fromHost, const QByteArray &bytes) {
                                 const VYX_Protocol::VYX_MSG msg = decodeFrame(bytes);
                                 if (fromHost && msg.msgId == VyxMsg::TELEMETRY)
                                     commands.append(DutyCommand::decode(msg.payloadBytes()));
                             });
        }

        // The command of the next TELEMETRY exchange.
        DutyCommand nextCommand()
        {
            commands.clear();
            tick();
            return commands.isEmpty() ? DutyCommand {true, -1} : commands.last();
        }

        void enableControl()
        {
            enable()->setChecked(true);
            QCoreApplication::processEvents();
        }

    };

    static ONLINE_QUANTS_S sampleWithSpeed(float speed)
    {
        ONLINE_QUANTS_S s;
        s.Speed = speed;
        s.Torque = 0.25f;
        s.Vbus = 24.0f;
        s.Temp = 30;
        s.PWm_in_us = 1500;
        return s;
    }

private slots:
    void pageSetUp()
    {
        ControlRig rig;
        ControlPage *page = rig.page();
        QCOMPARE(page->objectName(), QStringLiteral("pageMainEscOnline"));
        auto *curve1 = rig.find<QComboBox>("comboBoxTelQuant_1");
        auto *curve2 = rig.find<QComboBox>("comboBoxTelQuant_2");
        QCOMPARE(curve1->count(), 11);
        QCOMPARE(curve1->currentText(), QStringLiteral("Speed"));
        QCOMPARE(curve2->currentText(), QStringLiteral("None"));
        QCOMPARE(curve2->itemText(10), QStringLiteral("Temp"));
        QVERIFY(rig.find<QAbstractButton>("pushButtonPause")->isChecked());
        QVERIFY(rig.find<QWidget>("pushButtonTuning")->isHidden());
        QVERIFY(rig.find<QWidget>("pushButtonToggling")->isHidden());
        QCOMPARE(rig.find<QSpinBox>("spinBoxDeadBand")->value(), 3);
        QCOMPARE(rig.slider()->minimum(), -100);
        QCOMPARE(rig.slider()->maximum(), 100);
        QVERIFY(rig.find<QWidget>("pushButtonStop")->toolTip().contains(QLatin1String("Esc")));
        QCOMPARE(rig.find<QLabel>("labelUnitPwm")->text(), QStringLiteral("µs"));
        QCOMPARE(rig.find<QLabel>("labelUnitRs")->text(), QStringLiteral("Ω"));
        QCOMPARE(rig.plot()->axisTitle(QwtPlot::xBottom).text(), QStringLiteral("s"));
    }

    // The plot's tick labels are plain numbers in both languages: no group separator
    // ("1,000" / "1.000"), the language's decimal sign, also for labels drawn before the
    // language was set (the empty plot's 0 to 1000) and after it changes.
    void tickLabelsArePlainNumbers_data()
    {
        QTest::addColumn<QLocale>("language");
        QTest::addColumn<QString>("half");
        QTest::newRow("English") << QLocale(QLocale::English) << QStringLiteral("2.5");
        QTest::newRow("German") << QLocale(QLocale::German) << QStringLiteral("2,5");
    }

    void tickLabelsArePlainNumbers()
    {
        QFETCH(QLocale, language);
        QFETCH(QString, half);
        struct RestoreLocale
        {
            ~RestoreLocale() { QLocale::setDefault(QLocale::c()); }
        } restore;
        QLocale::setDefault(language); // the system's, with its group separator
        ControlRig rig;
        QLocale::setDefault(language);
        QEvent change(QEvent::LanguageChange);
        QCoreApplication::sendEvent(rig.page(), &change);
        const QFont font = rig.plot()->axisWidget(QwtPlot::xBottom)->font();
        for (int axis : {QwtPlot::xBottom, QwtPlot::yLeft, QwtPlot::yRight}) {
            const QwtScaleDraw *scale = rig.plot()->axisScaleDraw(axis);
            QCOMPARE(scale->label(1000.0).text(), QStringLiteral("1000"));
            QCOMPARE(scale->label(12000.0).text(), QStringLiteral("12000"));
            QCOMPARE(scale->label(2.5).text(), half);
            // What is drawn, from the cache as well.
            QCOMPARE(scale->labelSize(font, 1000.0).width(), QwtText(QStringLiteral("1000")).textSize(font).width());
        }
    }

    // The plot is laid out again only when an axis needs another size or other room at its
    // ends: what it shows is what a fresh layout shows, and longer labels get their room.
    void plotLayoutFollowsTheAxes()
    {
        ControlRig rig;
        QVERIFY(rig.run());
        QwtPlot *plot = rig.plot();
        const auto freshLayoutLooksTheSame = [plot] {
            const QImage shown = plot->grab().toImage();
            plot->updateLayout();
            return plot->grab().toImage() == shown;
        };
        rig.controller().firmware().setTelemetryOverride(sampleWithSpeed(5));
        for (int i = 0; i < 60; ++i) { // the time axis scrolls, its end labels move
            rig.tick();
            QVERIFY2(freshLayoutLooksTheSame(), qPrintable(QString::number(i)));
        }
        QwtScaleWidget *axis = plot->axisWidget(QwtPlot::yLeft);
        const int narrow = axis->width();

        rig.controller().firmware().setTelemetryOverride(sampleWithSpeed(123456));
        rig.tick(5);
        QVERIFY(freshLayoutLooksTheSame());
        QVERIFY(axis->width() > narrow);
        QVERIFY(axis->width() >= axis->minimumSizeHint().width());
    }

    void deadBandOnTheWire_data()
    {
        QTest::addColumn<int>("slider");
        QTest::addColumn<int>("sentPercent");
        for (int v = -2; v <= 2; ++v)
            QTest::addRow("%d", v) << v << 0;
        QTest::newRow("3") << 3 << 3;
        QTest::newRow("-3") << -3 << -3;
        QTest::newRow("100") << 100 << 100;
    }

    void deadBandOnTheWire()
    {
        QFETCH(int, slider);
        QFETCH(int, sentPercent);
        ControlRig rig;
        QVERIFY(rig.run());
        rig.enableControl();
        rig.slider()->setValue(50); // something else first, so that the value is a change
        rig.slider()->setValue(slider);
        QCOMPARE(rig.find<QSpinBox>("spinBoxDutyCycle")->value(), slider);
        const DutyCommand sent = rig.nextCommand();
        QVERIFY(sent.enable);
        QCOMPARE(sent.duty, DutyCommand::dutyFromPercent(sentPercent));
    }

    void spinBoxCommandsLikeTheSlider()
    {
        ControlRig rig;
        QVERIFY(rig.run());
        rig.enableControl();
        auto *spin = rig.find<QSpinBox>("spinBoxDutyCycle");
        QApplication::setActiveWindow(rig.window.get());
        QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
        spin->setFocus();
        spin->selectAll();
        QTest::keyClicks(spin, QStringLiteral("-40"));
        QCOMPARE(rig.nextCommand().duty, DutyCommand::dutyFromPercent(0)); // not before Return
        QTest::keyClick(spin, Qt::Key_Return);
        QCOMPARE(rig.slider()->value(), -40);
        QCOMPARE(rig.nextCommand().duty, DutyCommand::dutyFromPercent(-40));
        // In speed control the command is the reference the controller's loop follows.
        QVERIFY(rig.tickUntil([&] { return rig.controller().firmware().motor().duty() < 0; }));

        rig.enable()->setChecked(false);
        QCOMPARE(rig.slider()->value(), 0);
        const DutyCommand off = rig.nextCommand();
        QVERIFY(!off.enable);
    }

    void pauseFreezesThePictureWhileTheValuesUpdate()
    {
        ControlRig rig;
        QVERIFY(rig.run());
        rig.controller().firmware().setTelemetryOverride(sampleWithSpeed(1000));
        rig.tick(5);
        QCOMPARE(rig.value("lineEditSpeed"), QStringLiteral("1000"));
        const size_t before = rig.plotted(0);
        QVERIFY(before >= 5);

        rig.find<QAbstractButton>("pushButtonPause")->click(); // frozen
        rig.controller().firmware().setTelemetryOverride(sampleWithSpeed(2000));
        rig.tick(4);
        QCOMPARE(rig.value("lineEditSpeed"), QStringLiteral("2000"));
        QCOMPARE(rig.value("lineEditPwm"), QStringLiteral("1500"));
        QCOMPARE(rig.value("lineEditTemp"), QStringLiteral("30"));
        QCOMPARE(rig.plotted(0), before);

        rig.find<QAbstractButton>("pushButtonPause")->click(); // live again, with the points of the pause
        QCOMPARE(rig.plotted(0), before + 4);
        QCOMPARE(rig.page()->curve(0).points().last().y(), 2000.0);
    }

    void noneHidesTheCurveAndItsAxis()
    {
        ControlRig rig;
        QVERIFY(rig.run());
        rig.tick(3);
        QVERIFY(rig.plot()->axisEnabled(QwtPlot::yLeft));
        QCOMPARE(rig.plot()->axisTitle(QwtPlot::yLeft).text(), QStringLiteral("Speed[rpm]"));
        QVERIFY(!rig.plot()->axisEnabled(QwtPlot::yRight));

        rig.find<QComboBox>("comboBoxTelQuant_1")->setCurrentIndex(0);
        rig.find<QComboBox>("comboBoxTelQuant_2")->setCurrentIndex(1);
        rig.tick(2);
        QVERIFY(!rig.plot()->axisEnabled(QwtPlot::yLeft));
        QCOMPARE(rig.plotted(0), size_t(0));
        QVERIFY(rig.plot()->axisEnabled(QwtPlot::yRight));
        QCOMPARE(rig.plot()->axisTitle(QwtPlot::yRight).text(), QStringLiteral("Torque[Nm]"));
        QCOMPARE(rig.plotted(1), size_t(2));
        QCOMPARE(rig.plot()->axisWidget(QwtPlot::yRight)->palette().color(QPalette::WindowText), QColor(55, 100, 71));
    }

    void aOneSampleRecordingClearsBothCurves()
    {
        ControlRig rig;
        QVERIFY(rig.run());
        rig.find<QComboBox>("comboBoxTelQuant_2")->setCurrentIndex(1);
        rig.tick(60);
        QCOMPARE(rig.page()->curve(0).points().size(), CurveWindow::CAPACITY);
        QCOMPARE(rig.page()->curve(1).points().size(), CurveWindow::CAPACITY);

        // The device is found again, already running: a new recording starts.
        rig.app().pingHelper()->enablePolling(true);
        QVERIFY(rig.tickUntil([&] { return rig.page()->curve(0).points().size() < CurveWindow::CAPACITY; }));
        QCOMPARE(rig.page()->curve(0).points().size(), 1);
        QCOMPARE(rig.page()->curve(1).points().size(), 1);
        QCOMPARE(rig.page()->curve(0).points().first().x(), 0.0);
        QCOMPARE(rig.plotted(0), size_t(1));
    }

    void closingTheWindowPutsEnableZeroOnTheWire()
    {
        ControlRig rig;
        QVERIFY(rig.run());
        rig.enableControl();
        rig.slider()->setValue(60);
        QVERIFY(rig.nextCommand().enable);
        QVERIFY(rig.tickUntil([&] { return rig.controller().firmware().motor().duty() > 0; }));

        rig.commands.clear();
        rig.window->close();
        rig.window.reset(); // the program ends without another tick
        QVERIFY(!rig.commands.isEmpty());
        QVERIFY(!rig.commands.last().enable);
        QCOMPARE(rig.controller().firmware().motor().duty(), 0.0);
    }

    void stallReportStopsControl()
    {
        ControlRig rig;
        QVERIFY(rig.run());
        rig.enableControl();
        rig.slider()->setValue(50);
        QVERIFY(rig.nextCommand().enable);

        rig.controller().firmware().injectStall();
        rig.tick(); // the answer reports the stall
        QVERIFY(!rig.enable()->isChecked());
        QCOMPARE(rig.slider()->value(), 0);
        QCOMPARE(rig.info(), QStringLiteral("Stalled motor"));
        QVERIFY(!rig.nextCommand().enable);

        // On the page until acknowledged, long after the info line has moved on.
        rig.tick(100);
        QCOMPARE(rig.page()->stopNotice(), QStringLiteral("Stalled motor"));
        QVERIFY(rig.find<QWidget>("labelStopNotice")->isVisible());
        rig.find<QAbstractButton>("pushButtonAcknowledgeStop")->click();
        QCOMPARE(rig.page()->stopNotice(), QString());
    }

    void errorReportStopsControl()
    {
        ControlRig rig;
        QVERIFY(rig.run());
        rig.enableControl();
        rig.slider()->setValue(-30);
        QVERIFY(rig.nextCommand().enable);

        rig.controller().firmware().injectError(3);
        rig.tick();
        QVERIFY(!rig.enable()->isChecked());
        QCOMPARE(rig.info(), QStringLiteral("Error occured"));
        QVERIFY(!rig.nextCommand().enable);

        // On the page until control is enabled again.
        rig.tick(100);
        QCOMPARE(rig.page()->stopNotice(), QStringLiteral("Error occured"));
        rig.enableControl();
        QCOMPARE(rig.page()->stopNotice(), QString());
    }

    void lostConnectionStopsControl()
    {
        SimulatorConfig config;
        config.faults.vanishAfterMs = 6000;
        ControlRig rig(config);
        QVERIFY(rig.run());
        rig.enableControl();
        rig.slider()->setValue(40);
        QVERIFY(rig.nextCommand().enable);

        QVERIFY(!rig.value("lineEditSpeed").isEmpty());
        QVERIFY(rig.plotted(0) > 0);
        QVERIFY(rig.tickUntil([&] { return !rig.enable()->isChecked(); }));
        QCOMPARE(rig.slider()->value(), 0);
        QVERIFY(!rig.app().pingHelper()->isDutyEnabled());
        // Nothing shown is current any more, and the page says why.
        QCOMPARE(rig.page()->stopNotice(), QStringLiteral("Control signal lost"));
        for (const char *name : {"lineEditSpeed", "lineEditVdc", "lineEditTemp", "lineEditPwm"})
            QVERIFY2(rig.value(name).isEmpty(), name);
        QCOMPARE(rig.plotted(0), size_t(0));
    }

    void escapeStopsTheMotor()
    {
        ControlRig rig;
        QVERIFY(rig.run());
        rig.enableControl();
        rig.slider()->setValue(70);
        QVERIFY(rig.nextCommand().enable);

        // The run question was the active window; the offscreen platform does not hand
        // activation back by itself.
        QApplication::setActiveWindow(rig.window.get());
        QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
        rig.slider()->setFocus();
        QTest::keyClick(rig.window->windowHandle(), Qt::Key_Escape);
        QVERIFY(!rig.enable()->isChecked());
        QCOMPARE(rig.slider()->value(), 0);
        QVERIFY(!rig.nextCommand().enable);
        QCOMPARE(rig.info(), QStringLiteral("Motor stopped"));
    }

    void leavingThePageStopsTheMotor()
    {
        ControlRig rig;
        QVERIFY(rig.run());
        rig.enableControl();
        rig.slider()->setValue(20);
        QVERIFY(rig.nextCommand().enable);

        // Not while control is on: the user is told to disable it first.
        rig.showPage("toolButtonMotorParams");
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(rig.dialogs.messages[0].text, QStringLiteral("Please disable control first"));
        QVERIFY(rig.page()->isVisible());

        // Control off but a duty still set: leaving the page drops it.
        rig.enable()->setChecked(false);
        rig.slider()->setValue(20);
        rig.showPage("toolButtonMotorParams");
        QVERIFY(!rig.page()->isVisible());
        QCOMPARE(rig.slider()->value(), 0);
        const DutyCommand sent = rig.nextCommand();
        QVERIFY(!sent.enable);
    }

    // The ways out of a running motor: none sends more than the duty already running, and
    // the request after the action carries control off or duty 0.
    void waysOutOfARunningMotor_data()
    {
        QTest::addColumn<WayOut>("way");
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("Stop") << WayOut::Stop << 0;
        QTest::newRow("Stop with a typed duty") << WayOut::StopWithTypedDuty << 0;
        QTest::newRow("untick with a typed duty") << WayOut::UntickWithTypedDuty << 0;
        QTest::newRow("Home on the slider") << WayOut::HomeKey << 0;
        QTest::newRow("End on the slider") << WayOut::EndKey << 0;
        QTest::newRow("Escape in the program's message box") << WayOut::EscapeInMessageBox << 0;
        QTest::newRow("Escape in the program's file dialog") << WayOut::EscapeInFileDialog << 0;
        QTest::newRow("stall report") << WayOut::Stall << 0;
        QTest::newRow("error report") << WayOut::DeviceError << 0;
        QTest::newRow("contact lost") << WayOut::ContactLost << 0;
        QTest::newRow("page change") << WayOut::PageChange << 0;
        QTest::newRow("window closed") << WayOut::Close << 0;
        QTest::newRow("SIGTERM") << WayOut::Signal << SIGTERM;
        QTest::newRow("SIGINT") << WayOut::Signal << SIGINT;
        QTest::newRow("SIGHUP") << WayOut::Signal << SIGHUP;
    }

    void waysOutOfARunningMotor()
    {
        QFETCH(WayOut, way);
        QFETCH(int, signalNumber);
        constexpr int RUNNING = 30;
        ControlRig rig;
        QVERIFY(rig.run());
        rig.enableControl();
        rig.slider()->setValue(RUNNING);
        QCOMPARE(rig.nextCommand().duty, DutyCommand::dutyFromPercent(RUNNING));
        QApplication::setActiveWindow(rig.window.get());
        QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
        rig.commands.clear();

        auto *spin = rig.find<QSpinBox>("spinBoxDutyCycle");
        // A press (which takes the focus, as a real one does), a few exchanges while the
        // button is held, the release.
        auto pressAndRelease = [&](QWidget *button) {
            button->setFocus(Qt::MouseFocusReason);
            QTest::mousePress(button, Qt::LeftButton);
            rig.tick(3);
            QTest::mouseRelease(button, Qt::LeftButton);
        };
        switch (way) {
        case WayOut::Stop:
            pressAndRelease(rig.find<QWidget>("pushButtonStop"));
            break;
        case WayOut::StopWithTypedDuty:
        case WayOut::UntickWithTypedDuty:
            spin->setFocus();
            spin->selectAll();
            QTest::keyClicks(spin, QStringLiteral("80"));
            rig.tick();
            pressAndRelease(way == WayOut::StopWithTypedDuty ? rig.find<QWidget>("pushButtonStop")
                                                             : static_cast<QWidget *>(rig.enable()));
            break;
        case WayOut::HomeKey:
        case WayOut::EndKey:
            rig.slider()->setFocus();
            QTest::keyClick(rig.slider(), way == WayOut::HomeKey ? Qt::Key_Home : Qt::Key_End);
            rig.tick();
            break;
        case WayOut::EscapeInMessageBox:
        case WayOut::EscapeInFileDialog: {
            // The dialogs the program opens over its window, modal, with the focus in them.
            std::unique_ptr<QDialog> dialog;
            if (way == WayOut::EscapeInMessageBox) {
                dialog = std::make_unique<QMessageBox>(QMessageBox::Information, QStringLiteral("Kordo"),
                                                       QStringLiteral("Please disable control first"),
                                                       QMessageBox::Ok, rig.window.get());
            } else {
                auto *files = new QFileDialog(rig.window.get(), QStringLiteral("Save samples"));
                files->setOption(QFileDialog::DontUseNativeDialog);
                dialog.reset(files);
            }
            dialog->open();
            QApplication::setActiveWindow(dialog.get());
            QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
            QWidget *focus = QApplication::focusWidget() ? QApplication::focusWidget() : dialog.get();
            QVERIFY(focus->window() == dialog.get());
            QTest::keyClick(focus, Qt::Key_Escape);
            QVERIFY(!dialog->isVisible()); // the dialog closes too
            QVERIFY(!rig.enable()->isChecked());
            rig.tick();
            break;
        }
        case WayOut::Stall:
        case WayOut::DeviceError:
            if (way == WayOut::Stall)
                rig.controller().firmware().injectStall();
            else
                rig.controller().firmware().injectError(3);
            rig.tick(); // the answer reports it
            QVERIFY(!rig.enable()->isChecked());
            break;
        case WayOut::ContactLost:
            rig.controller().goSilent(); // hears every request, answers none
            QVERIFY(rig.tickUntil([&] { return !rig.enable()->isChecked(); }));
            break;
        case WayOut::PageChange:
            rig.showPage("toolButtonMotorParams"); // refused while control is on
            QCOMPARE(rig.dialogs.messages.size(), 1);
            QCOMPARE(rig.dialogs.messages[0].text, QStringLiteral("Please disable control first"));
            QVERIFY(rig.page()->isVisible());
            rig.tick();
            break;
        case WayOut::Close:
        case WayOut::Signal: {
            // The program ends without another exchange: the window's last request counts.
            TerminationSignals termination;
            closeWindowOnTermination(&termination, rig.window.get());
            if (way == WayOut::Close)
                rig.window->close();
            else
                ::raise(signalNumber);
            QTRY_VERIFY(!rig.window->isVisible());
            rig.window.reset(); // as after the event loop, in the program
            QVERIFY(!rig.commands.isEmpty());
            for (const DutyCommand &sent : qAsConst(rig.commands))
                QVERIFY(!sent.enable || std::abs(sent.duty) <= DutyCommand::dutyFromPercent(RUNNING));
            QVERIFY(!rig.commands.last().enable);
            return;
        }
        }
        const QVector<DutyCommand> duringAction = rig.commands;
        QVERIFY(!duringAction.isEmpty());
        const DutyCommand next = rig.nextCommand();
        for (const DutyCommand &sent : duringAction)
            QVERIFY2(!sent.enable || std::abs(sent.duty) <= DutyCommand::dutyFromPercent(RUNNING),
                     qPrintable(QString::number(sent.duty)));
        if (way == WayOut::HomeKey || way == WayOut::EndKey || way == WayOut::PageChange) {
            // Nothing stops here: the key or the page change is refused and the running duty stays.
            QCOMPARE(rig.slider()->value(), RUNNING);
            QVERIFY(next.enable);
            QCOMPARE(next.duty, DutyCommand::dutyFromPercent(RUNNING));
        } else if (way == WayOut::ContactLost) {
            // The one request after the loss carries control off, sent without awaiting an
            // answer; then the search, with no further duty command.
            QVERIFY(!duringAction.last().enable);
            QCOMPARE(duringAction.last().duty, int16_t(0));
            QCOMPARE(std::count_if(duringAction.begin(), duringAction.end(),
                                   [](const DutyCommand &sent) { return !sent.enable; }),
                     1);
            QCOMPARE(next.duty, int16_t(-1)); // no TELEMETRY request at all
        } else {
            // Every stop is the same one: the enable box unticked, the duty at 0, control off.
            QVERIFY(!rig.enable()->isChecked());
            QCOMPARE(rig.slider()->value(), 0);
            QVERIFY(!next.enable);
            QCOMPARE(next.duty, int16_t(0));
        }
    }

    // After No to running mode nothing on the page pretends to act: the duty command is
    // disabled, the page says why and asks again on request; Yes brings it to life.
    void declinedRunningModeDisablesTheDutyCommand()
    {
        ControlRig rig;
        QVERIFY(rig.connectDevice());
        rig.showPage("toolButtonControl");
        QMessageBox *question = rig.runQuestion();
        QVERIFY(question);
        question->button(QMessageBox::No)->click();
        const char *duty[] = {"checkBoxDutyCycle", "horizontalSliderDutyCycle", "spinBoxDutyCycle"};
        for (const char *name : duty)
            QVERIFY2(!rig.find<QWidget>(name)->isEnabled(), name);
        QVERIFY(rig.find<QWidget>("pushButtonStop")->isEnabled());
        QVERIFY(rig.find<QLabel>("labelModeHint")->isVisible());
        QVERIFY(rig.find<QLabel>("labelModeHint")->text().contains(QLatin1String("communication mode")));
        QVERIFY(rig.find<QWidget>("pushButtonRestartController")->isHidden()); // not a demo here

        auto *askAgain = rig.find<QAbstractButton>("pushButtonAskRun");
        QVERIFY(askAgain->isVisible());
        askAgain->click();
        question = rig.runQuestion();
        QVERIFY(question);
        question->button(QMessageBox::Yes)->click();
        QVERIFY(rig.tickUntil([&] { return rig.page()->samplesReceived() > 0; }));
        for (const char *name : duty)
            QVERIFY2(rig.find<QWidget>(name)->isEnabled(), name);
        QVERIFY(!rig.find<QWidget>("frameModeHint")->isVisible());
    }

    // In demo mode the way out of running mode is a button: the simulated controller is
    // switched off and on, the motor stopped first, and comes back in communication mode
    // without an alarm.
    void demoRestartLeavesRunningMode()
    {
        ControlRig rig;
        rig.window->setControllerRestart([&rig] { rig.ports.switchControllerOffAndOn(); });
        QVERIFY(rig.run());
        auto *restart = rig.find<QAbstractButton>("pushButtonRestartController");
        QVERIFY(restart->isVisible());
        rig.enableControl();
        rig.slider()->setValue(40);
        QVERIFY(rig.nextCommand().enable);

        restart->click();
        QVERIFY(!rig.enable()->isChecked());
        QVERIFY(!rig.app().pingHelper()->isDutyEnabled());
        rig.tick();
        QVERIFY(!rig.controller().isPowered());
        QVERIFY(rig.tickUntil([&] { return rig.text("pushButtonStateConnection") == QLatin1String("Connected"); }));
        QVERIFY(rig.controller().isPowered());
        QVERIFY(!rig.controller().firmware().isRunning());
        QCOMPARE(rig.page()->stopNotice(), QString());
        QVERIFY(rig.find<QWidget>("pushButtonAskRun")->isVisible());
        QVERIFY(!rig.enable()->isEnabled());
    }

    void togglingWithoutAdmissibleStepEnds()
    {
        ControlRig rig;
        rig.slider()->setValue(-100);
        rig.find<QAbstractButton>("pushButtonToggling")->click();
        QVERIFY(rig.page()->isTogglingActive());
        rig.page()->on_changeSequence();
        QCOMPARE(rig.slider()->value(), 11);
        rig.find<QAbstractButton>("pushButtonStop")->click();
        QVERIFY(!rig.page()->isTogglingActive());
        QCOMPARE(rig.slider()->value(), 0);
    }

    void controllerChoiceAfterTuning_data()
    {
        QTest::addColumn<bool>("emptyMotor");
        QTest::addColumn<bool>("accept");
        QTest::addColumn<int>("result");
        QTest::newRow("empty motor, default") << true << true << 0;
        QTest::newRow("approximation") << false << false << 1;
    }

    void controllerChoiceAfterTuning()
    {
        QFETCH(bool, emptyMotor);
        QFETCH(bool, accept);
        ControlRig rig;
        rig.dialogs.buttonsAnswerAccept = accept;
        QSignalSpy chosen(rig.page(), &ControlPage::controllerChosen);
        rig.page()->on_typeOfController(emptyMotor);
        QCOMPARE(rig.dialogs.buttonsOffers.size(), 1);
        QCOMPARE(rig.dialogs.buttonsOffers[0].acceptLabel, QStringLiteral("Default"));
        QCOMPARE(rig.dialogs.buttonsOffers[0].rejectLabel, QStringLiteral("Approx."));
        QCOMPARE(rig.dialogs.buttonsOffers[0].text.contains(QLatin1String("propeler")), emptyMotor);
        QCOMPARE(chosen.count(), 1);
        QTEST(int(chosen.at(0).at(0).value<int8_t>()), "result");
    }

    // The page's tuning buttons reach the sequencer, and the sequencer's end and question
    // reach the page: Tuning starts a run, Stop ends it, the end of a test gives manual
    // control back, and the user's choice of gains goes to the sequencer.
    void tuningIsWiredBothWays()
    {
        ControlRig rig;
        QVERIFY(rig.run());
        TestHelper *tuning = rig.app().testHelper();
        QSignalSpy gains(tuning, &TestHelper::updateControllerParams);

        rig.find<QAbstractButton>("pushButtonTuning")->click();
        QCoreApplication::processEvents();
        QVERIFY(tuning->isTuningRunning());
        QVERIFY(!rig.slider()->isEnabled());

        rig.find<QAbstractButton>("pushButtonStop")->click();
        QCoreApplication::processEvents();
        QVERIFY(!tuning->isTuningRunning());

        rig.slider()->setEnabled(false);
        emit tuning->testFinished();
        QCoreApplication::processEvents();
        QVERIFY(rig.slider()->isEnabled());
        QVERIFY(rig.enable()->isEnabled());

        rig.dialogs.buttonsAnswerAccept = true; // "Default": the gains from before the run
        gains.clear();
        emit tuning->chooseController(false);
        QCoreApplication::processEvents();
        QCOMPARE(rig.dialogs.buttonsOffers.size(), 1);
        QCOMPARE(gains.count(), 1);
    }

    void exportsHoldWhatThePageShows()
    {
        ControlRig rig;
        QVERIFY(rig.run());
        rig.enableControl();
        rig.slider()->setValue(60);
        rig.tick(70); // more than the plot's window, with the motor spinning up
        QTemporaryDir dir;
        QVERIFY(dir.isValid());

        rig.dialogs.saveAnswer = dir.filePath(QStringLiteral("plot"));
        rig.find<QAbstractButton>("pushButtonSavePlot")->click();
        const QImage saved(dir.filePath(QStringLiteral("plot.png")));
        QVERIFY(!saved.isNull());
        const QImage shown = rig.plot()->grab().toImage().convertToFormat(saved.format());
        QCOMPARE(saved.size(), shown.size());
        QVERIFY(saved == shown);
        bool curveDrawn = false;
        for (int y = 0; y < saved.height() && !curveDrawn; ++y) {
            for (int x = 0; x < saved.width() && !curveDrawn; ++x)
                curveDrawn = QColor(saved.pixel(x, y)) == QColor(55, 200, 171);
        }
        QVERIFY(curveDrawn);

        rig.dialogs.saveAnswer = dir.filePath(QStringLiteral("samples.csv"));
        rig.find<QAbstractButton>("pushButtonSaveSamples")->click();
        QFile csv(rig.dialogs.saveAnswer);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(csv.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), rig.page()->samplesReceived() + 1);
        QVERIFY(lines.first().startsWith(QLatin1String("Time [s],Torque [Nm],Speed [rpm]")));
        // The newest row is what the line edits show.
        const QStringList last = lines.last().split(QLatin1Char(','));
        QCOMPARE(last.size(), 11);
        QCOMPARE(last[1], rig.value("lineEditTorque"));
        QCOMPARE(last[2], rig.value("lineEditSpeed"));
        QCOMPARE(last[3], rig.value("lineEditIs"));
        QCOMPARE(last[4], rig.value("lineEditVdc"));
        QCOMPARE(last[5], rig.value("lineEditVs"));
        QCOMPARE(last[6], rig.value("lineEditPower"));
        QCOMPARE(last[7], rig.value("lineEditPwm"));
        QCOMPARE(last[8], rig.value("lineEditRs"));
        QCOMPARE(last[9], rig.value("lineEditFlux"));
        QCOMPARE(last[10], rig.value("lineEditTemp"));
        // The last 50 rows are the points of the speed curve.
        const QVector<QPointF> points = rig.page()->curve(0).points();
        QCOMPARE(points.size(), CurveWindow::CAPACITY);
        for (int i = 0; i < points.size(); ++i) {
            const QStringList row = lines.at(lines.size() - points.size() + i).split(QLatin1Char(','));
            QCOMPARE(row[0].toDouble(), points[i].x());
            QCOMPARE(row[2], QString::number(points[i].y(), 'g', 6));
        }
        QVERIFY(points.last().y() > 0); // the motor turned
    }
};

QTEST_MAIN(TestControlPage)
#include "tst_controlpage.moc"

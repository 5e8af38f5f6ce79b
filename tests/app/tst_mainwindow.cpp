#include "tests/common/windowrig.h"

#include "app/windowfit.h"
#include "tuning/ui/controlpage.h"

#include "ui/embeddedfonts.h"
#include "device/ui/escsettingspage.h"
#include "link/comhelper.h"
#include "device/runningmode.h"
#include "ident/idsteps.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QAbstractItemView>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_scale_widget.h>
#include <QGuiApplication>
#include <QScreen>
#include <QFontInfo>
#include <QLabel>
#include <QMessageBox>
#include <QSettings>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

Q_DECLARE_METATYPE(QMargins)

// The window shell on the simulated controller: start-up, device status, navigation, the
// info line and the port and run questions.
class TestMainWindow : public QObject
{
    Q_OBJECT

    static QStackedWidget *pages(const WindowRig &rig)
    {
        return rig.find<QStackedWidget>("stackedWidgetMainDataArea");
    }

    static QMessageBox *visibleBox(const WindowRig &rig, const QString &text)
    {
        for (QMessageBox *box : rig.window->findChildren<QMessageBox *>()) {
            if (box->isVisible() && box->text() == text)
                return box;
        }
        return nullptr;
    }

    // Questions that cannot be undone or destroy something take Return as No (or as the
    // answer that changes nothing), every time: the running-mode box is reused, and a Yes
    // pressed on it once must not become its default.
    enum Question { RunningMode, RunningModeAfterYes, RemoveMotor, DiscardIdentifiedMotor, ReplaceMotor,
                    OverwriteMotorList, WriteImportedSettings, RestoreBackup };

    // Presses Return where the keyboard focus is in the next modal dialog, as a user would;
    // a dialog that Return did not close is then closed (and reported through stillOpen).
    void pressReturnInNextDialog(bool *stillOpen)
    {
        QTimer::singleShot(0, this, [stillOpen] {
            QPointer<QWidget> dialog = QApplication::activeModalWidget();
            if (!dialog)
                return;
            QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog.data(), Qt::Key_Return);
            if (dialog && dialog->isVisible()) {
                *stillOpen = true;
                if (auto *d = qobject_cast<QDialog *>(dialog.data()))
                    d->reject();
            }
        });
    }

    static void pressReturn(QWidget *dialog)
    {
        QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog, Qt::Key_Return);
    }

private slots:
    void questionsTakeReturnAsNo_data()
    {
        QTest::addColumn<int>("question");
        QTest::newRow("Do you run device?") << int(RunningMode);
        QTest::newRow("Do you run device? again, after a Yes") << int(RunningModeAfterYes);
        QTest::newRow("Remove motor") << int(RemoveMotor);
        QTest::newRow("Discard the identified motor?") << int(DiscardIdentifiedMotor);
        QTest::newRow("Replace motor") << int(ReplaceMotor);
        QTest::newRow("Overwrite the motor list") << int(OverwriteMotorList);
        QTest::newRow("Write the imported settings") << int(WriteImportedSettings);
        QTest::newRow("Restore a backup") << int(RestoreBackup);
    }

    void questionsTakeReturnAsNo()
    {
        QFETCH(int, question);
        WindowRig rig;
        if (question == RunningMode || question == RunningModeAfterYes) {
            QVERIFY(rig.connectDevice());
            rig.showPage("toolButtonControl");
            const QString text = QStringLiteral("Actually device is in communication mode. Do you run device?");
            QMessageBox *box = visibleBox(rig, text);
            QVERIFY(box);
            if (question == RunningModeAfterYes) {
                box->button(QMessageBox::Yes)->setFocus(); // Yes chosen with the keyboard
                pressReturn(box);
                QCOMPARE(box->clickedButton(), box->button(QMessageBox::Yes));
                QVERIFY(rig.tickUntil([&] { return rig.text("pushButtonStateConnection") == QLatin1String("Running"); }));
                rig.window->on_deviceToRun(); // the same box once more
                QCOMPARE(visibleBox(rig, text), box);
            }
            pressReturn(box);
            QVERIFY(!box->isVisible());
            QCOMPARE(box->clickedButton(), box->button(QMessageBox::No));
            if (question == RunningMode) {
                rig.tick(10);
                QCOMPARE(rig.text("pushButtonStateConnection"), QStringLiteral("Connected"));
            }
            return;
        }
        WidgetDialogs dialogs(rig.window.get());
        bool stillOpen = false;
        pressReturnInNextDialog(&stillOpen);
        switch (question) {
        case RemoveMotor:
            QVERIFY(!dialogs.askYesNo(QStringLiteral("Remove motor"), QStringLiteral("Remove the motor \"M\" from the list?")));
            break;
        case DiscardIdentifiedMotor:
            QVERIFY(!dialogs.askYesNo(QStringLiteral("Discard the identified motor?"),
                                      QStringLiteral("The identified motor is not saved yet. Discard it?")));
            break;
        case ReplaceMotor:
            QVERIFY(!dialogs.askYesNo(QStringLiteral("Replace motor"), QStringLiteral("Replace it?")));
            break;
        case OverwriteMotorList:
            QCOMPARE(int(dialogs.askChoice(QStringLiteral("What operation to perform on the original motor list?"),
                                           QStringLiteral("Overwrite"), QStringLiteral("Append"), true)),
                     int(UserDialogs::Choice::Cancel));
            break;
        case WriteImportedSettings:
            QVERIFY(!dialogs.askButtons(QStringLiteral("Write these settings?"), QStringLiteral("Write"),
                                        QStringLiteral("Cancel")));
            break;
        case RestoreBackup:
            QVERIFY(!dialogs.askButtons(QStringLiteral("Restore the backup?"), QStringLiteral("Restore"),
                                        QStringLiteral("Keep the new settings")));
            break;
        }
        QVERIFY(!stillOpen); // Return answered, and with the safe answer
    }

    // A port choice that comes while another dialog is open waits for it to close: a key
    // meant for that dialog must not reach the choice. A choice the port manager withdrew
    // meanwhile is never offered.
    void portChoiceWaitsForTheOpenDialog()
    {
        WindowRig rig;
        auto *retry = rig.window->findChild<QTimer *>(QStringLiteral("portChoiceRetryTimer"));
        QVERIFY(retry);
        const QList<PortInfo> ports {{"ttyS0", "/dev/ttyS0", {}, {}}};
        int offersWhileOpen = -1;
        rig.dialogs.whileOpen = [&] {
            rig.window->on_needPortSelectAndInform(ports, false);
            QCoreApplication::processEvents();
            offersWhileOpen = rig.dialogs.itemOffers.size();
        };
        rig.window->on_showInfo(QStringLiteral("The data directory is read-only"), true);
        QCOMPARE(offersWhileOpen, 0);
        QVERIFY(retry->isActive());
        QMetaObject::invokeMethod(retry, "timeout");
        QCOMPARE(rig.dialogs.itemOffers.size(), 1);

        rig.dialogs.whileOpen = [&] {
            rig.window->on_needPortSelectAndInform(ports, false);
            rig.window->on_portChoiceClosed(); // the adapter came back and was taken
        };
        rig.window->on_showInfo(QStringLiteral("Another message"), true);
        QMetaObject::invokeMethod(retry, "timeout");
        QCOMPARE(rig.dialogs.itemOffers.size(), 1);
        QCOMPARE(rig.dialogs.itemChoicesClosed, 0); // nothing open to close
    }

    // With the stop notice showing, at the window's own size and at 1024 x 640, Stop, the
    // notice, the duty command and the info line are in sight without scrolling; the plot,
    // not the values, gives up the room, keeping enough for its axis title.
    void stopStaysInSightWithTheStopNotice()
    {
        WindowRig rig;
        QVERIFY(rig.connectDevice());
        rig.showPage("toolButtonControl");
        QMessageBox *question = visibleBox(rig, QStringLiteral("Actually device is in communication mode. Do you run device?"));
        QVERIFY(question);
        question->button(QMessageBox::Yes)->click();
        QVERIFY(rig.tickUntil([&] { return rig.text("pushButtonStateConnection") == QLatin1String("Running"); }));
        rig.window->controlPage()->on_resetControl(QStringLiteral("Stalled motor"), 1);
        auto *monitor = rig.find<QScrollArea>("scrollAreaMonitor");
        QWidget *shown = pages(rig);
        auto *plot = rig.find<QwtPlot>("qwtPlotTelemtry");
        QWidget *values = rig.find<QWidget>("groupBoxValues");
        QVERIFY(monitor && plot && values);
        QVector<int> plotHeights;
        QVector<int> valueHeights;
        for (const QSize size : {QSize(1180, 760), QSize(1024, 640)}) {
            rig.window->resize(size);
            QCoreApplication::processEvents();
            QCOMPARE(rig.window->size(), size);
            const QString at = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
            // Nothing scrolls: the plot and the values fit as well.
            QVERIFY2(!monitor->verticalScrollBar()->isVisible(), qPrintable(at));
            for (const char *name : {"pushButtonStop", "frameStopNotice", "checkBoxDutyCycle",
                                     "horizontalSliderDutyCycle"}) {
                QWidget *w = rig.find<QWidget>(name);
                const QString where = QStringLiteral("%1 at %2").arg(QLatin1String(name), at);
                QVERIFY2(w->isVisible(), qPrintable(where));
                const QRect inPage(w->mapTo(shown, QPoint(0, 0)), w->size());
                QVERIFY2(shown->rect().contains(inPage), qPrintable(where));
                const QRect inWindow(w->mapTo(rig.window.get(), QPoint(0, 0)), w->size());
                QVERIFY2(rig.window->rect().contains(inWindow), qPrintable(where));
            }
            QWidget *info = rig.find<QWidget>("labelInfo");
            QVERIFY2(rig.window->rect().contains(QRect(info->mapTo(rig.window.get(), QPoint(0, 0)), info->size())),
                     qPrintable(at));
            // The axis draws its title along its length between the ends its labels need.
            const QwtScaleWidget *axis = plot->axisWidget(QwtPlot::yLeft);
            const double titleLength = axis->title().textSize(axis->font()).width();
            const int room = axis->height() - axis->startBorderDist() - axis->endBorderDist();
            QVERIFY2(room >= titleLength, qPrintable(QStringLiteral("%1: room %2, title %3")
                                                         .arg(at).arg(room).arg(titleLength)));
            plotHeights << plot->height();
            valueHeights << values->height();
        }
        QVERIFY(plotHeights[0] > plotHeights[1]);
        QCOMPARE(valueHeights[0], valueHeights[1]);
    }

    // The whole window, frame included, on the screen's available area.
    void windowFitsWithItsFrame_data()
    {
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QMargins>("frame");
        QTest::addColumn<QRect>("client");
        QTest::addColumn<QRect>("fitted");
        const QMargins frame(1, 20, 1, 1);
        QTest::newRow("fits") << QRect(0, 0, 1024, 616) << frame << QRect(100, 100, 800, 500)
                              << QRect(100, 100, 800, 500);
        QTest::newRow("taller than the screen with its title bar")
            << QRect(0, 0, 1024, 616) << frame << QRect(1, 20, 1180, 760) << QRect(1, 20, 1022, 595);
        QTest::newRow("off the right and bottom edges")
            << QRect(0, 0, 1920, 1080) << frame << QRect(1500, 700, 800, 600) << QRect(1119, 479, 800, 600);
        QTest::newRow("title bar above the screen") << QRect(0, 24, 1920, 1056) << frame << QRect(50, 10, 800, 600)
                                                   << QRect(50, 44, 800, 600);
        QTest::newRow("second screen") << QRect(1920, 0, 1280, 1024) << QMargins() << QRect(0, 0, 800, 600)
                                       << QRect(1920, 0, 800, 600);
    }

    void windowFitsWithItsFrame()
    {
        QFETCH(QRect, available);
        QFETCH(QMargins, frame);
        QFETCH(QRect, client);
        QFETCH(QRect, fitted);
        const QRect result = WindowFit::clientGeometry(available, frame, client);
        QCOMPARE(result, fitted);
        QVERIFY(available.contains(result.marginsAdded(frame)));
    }

    void startUpWithoutSettingsFileOrLanguages()
    {
        WindowRig rig;
        const QString ini = QDir(rig.dataDir.path()).filePath(QStringLiteral("kordoman.ini"));
        QVERIFY(QFile::exists(ini));
        QSettings settings(ini, QSettings::IniFormat);
        QCOMPARE(settings.allKeys(), QStringList {"fw_dir"});
        QCOMPARE(settings.value("fw_dir").toString(), QDir::homePath());
        QCOMPARE(rig.window->settings().firmwareDirectory(), QDir::homePath());

        QCOMPARE(rig.find<QComboBox>("comboBoxLanguage")->count(), 0);
        QVERIFY(rig.find<QComboBox>("comboBoxLanguage")->isHidden());
        QVERIFY(!rig.window->translations().isProgramTranslationInstalled());
    }

    void embeddedFontsGiveTheDialogFont()
    {
        WindowRig rig; // the window makes the resources available
        QCOMPARE(EmbeddedFonts::registerAll(), 8);
        const QFontInfo dialog(EmbeddedFonts::dialogFont());
        QCOMPARE(dialog.family(), EmbeddedFonts::DIALOG_FONT_FAMILY);
        QCOMPARE(dialog.styleName(), QStringLiteral("Medium"));
        QCOMPARE(EmbeddedFonts::inDialogFont(QStringLiteral("Done")),
                 QStringLiteral("<font face=\"Roboto Medium\">Done</font>"));
    }

    void pagesAndInitialState()
    {
        WindowRig rig;
        const QStringList names {"pageMainWelcome", "pageMainEscSettings", "pageMainMotor", "pageMainEscOnline",
                                 "pageMainFwUpdate"};
        QCOMPARE(pages(rig)->count(), names.size());
        for (int i = 0; i < names.size(); ++i) {
            // The pages sit in scroll areas of their own (the welcome page does not).
            QWidget *page = pages(rig)->widget(i);
            if (auto *scroll = qobject_cast<QScrollArea *>(page))
                page = scroll->widget();
            QCOMPARE(page->objectName(), names[i]);
        }
        QCOMPARE(pages(rig)->currentIndex(), 0);
        QVERIFY(rig.find<QWidget>("toolButtonWelcome")->isHidden());
        QVERIFY(rig.find<QWidget>("pushButtonStateFirmware")->isHidden());
        QCOMPARE(rig.text("pushButtonStateDevice"), QStringLiteral("No Device"));
        QCOMPARE(rig.find<QLabel>("labelDeviceStatusIcon")->property("iconPath").toString(),
                 QStringLiteral(":/icons/device_none.png"));
        QVERIFY(!rig.find<QLabel>("labelDeviceStatusIcon")->pixmap(Qt::ReturnByValue).isNull());
    }

    void simulatedDeviceIsFoundWithoutDialog()
    {
        WindowRig rig;
        QVERIFY(rig.connectDevice());
        QVERIFY(rig.dialogs.itemOffers.isEmpty()); // the only adapter port is taken at once
        QCOMPARE(rig.text("pushButtonStatePort"), DemoPortProvider::DEMO_PORT_NAME);
        QVERIFY(rig.find<QWidget>("pushButtonStatePort")->styleSheet().contains(QLatin1String("bold")));
        QCOMPARE(rig.text("pushButtonStateDevice"), QStringLiteral("Device 12345"));
        QCOMPARE(rig.text("pushButtonStateConnection"), QStringLiteral("Connected"));
        QVERIFY(!rig.find<QWidget>("pushButtonStateFirmware")->isHidden());
        QCOMPARE(rig.text("pushButtonStateFirmware"), QStringLiteral("1.2.3"));
        QCOMPARE(rig.find<QLabel>("labelConnectionStatusIcon")->property("iconPath").toString(),
                 QStringLiteral(":/icons/link_connected.png"));
        QCOMPARE(rig.find<QLabel>("labelDeviceStatusIcon")->property("iconPath").toString(),
                 QStringLiteral(":/icons/device.png"));
        QVERIFY(rig.find<QWidget>("toolButtonExportParams")->isEnabled());
        QVERIFY(rig.find<QWidget>("toolButtonImportParams")->isEnabled());
    }

    void pageClickWhileBusyKeepsThePage()
    {
        WindowRig rig;
        QVERIFY(rig.connectDevice());
        rig.showPage("toolButtonEscParams");
        QCOMPARE(pages(rig)->currentIndex(), 1);
        QCOMPARE(rig.app().activity(), AppBase::ActivityParams);
        QVERIFY(rig.settle());

        // An edit waits for its quiet period: the page must not be left.
        rig.find<QSpinBox>("spinBoxTimeToLeave")->setValue(300);
        QCoreApplication::processEvents();
        QVERIFY(rig.params()->isSending());
        rig.showPage("toolButtonControl");
        QCOMPARE(pages(rig)->currentIndex(), 1);
        QVERIFY(rig.find<QAbstractButton>("toolButtonEscParams")->isChecked());
        QVERIFY(!rig.find<QAbstractButton>("toolButtonControl")->isChecked());
        QCOMPARE(rig.find<QLabel>("labelInfo")->text(), QStringLiteral("Parameteres are send to the device, now"));

        QVERIFY(rig.settle());
        // The coordinator answers a queued question: the page changes on the answer only.
        rig.find<QAbstractButton>("toolButtonControl")->click();
        QCOMPARE(pages(rig)->currentIndex(), 1);
        QVERIFY(rig.find<QAbstractButton>("toolButtonEscParams")->isChecked());
        QVERIFY(!rig.find<QAbstractButton>("toolButtonControl")->isChecked());
        QCoreApplication::processEvents();
        QCOMPARE(pages(rig)->currentIndex(), 3);
        QVERIFY(rig.find<QAbstractButton>("toolButtonControl")->isChecked());
        QVERIFY(!rig.find<QAbstractButton>("toolButtonEscParams")->isChecked());
        QCOMPARE(rig.app().activity(), AppBase::ActivityControl);
    }

    void runQuestionStartsTheDeviceAndClosesWhenItIsLost()
    {
        WindowRig rig;
        QVERIFY(rig.connectDevice());
        rig.showPage("toolButtonControl"); // a connected device is asked to run
        const QString question = QStringLiteral("Actually device is in communication mode. Do you run device?");
        QMessageBox *box = visibleBox(rig, question);
        QVERIFY(box);
        QCOMPARE(box->informativeText(), RunningMode::wayBack()); // how to come back, before saying Yes
        box->button(QMessageBox::Yes)->click();
        QVERIFY(rig.tickUntil([&] { return rig.text("pushButtonStateConnection") == QLatin1String("Running"); }));
        QCOMPARE(rig.find<QLabel>("labelConnectionStatusIcon")->property("iconPath").toString(),
                 QStringLiteral(":/icons/link_running.png"));
        QVERIFY(!rig.find<QWidget>("toolButtonExportParams")->isEnabled());

        rig.window->on_deviceToRun();
        QVERIFY(visibleBox(rig, question));
        rig.window->on_deviceDisconnected();
        QVERIFY(!visibleBox(rig, question));
    }

    void infoLineShowsTextForTwoSeconds()
    {
        WindowRig rig;
        QLabel *info = rig.find<QLabel>("labelInfo");
        auto *reset = rig.window->findChild<QTimer *>(QStringLiteral("infoResetTimer"));
        QVERIFY(reset);
        rig.window->on_showInfo(QStringLiteral("first"), false);
        rig.window->on_showInfo(QStringLiteral("second"), false);
        QCOMPARE(info->text(), QStringLiteral("second"));
        QVERIFY(reset->isActive());
        QCOMPARE(reset->interval(), 2000);
        QVERIFY(reset->isSingleShot());
        QMetaObject::invokeMethod(reset, "timeout");
        QCOMPARE(info->text(), QStringLiteral("..."));

        rig.window->on_showInfo(QStringLiteral("boxed"), true);
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(rig.dialogs.messages[0].text, QStringLiteral("boxed"));
        QCOMPARE(rig.dialogs.messages[0].icon, UserDialogs::Icon::Information);
        QCOMPARE(info->text(), QStringLiteral("..."));

        // The coordinator boxes only problems: they carry the warning icon.
        emit rig.app().sendTextForInfo(QStringLiteral("Log file is not created"), true);
        QCOMPARE(rig.dialogs.messages.size(), 2);
        QCOMPARE(rig.dialogs.messages[1].icon, UserDialogs::Icon::Warning);
    }

    void portChoice_data()
    {
        QTest::addColumn<bool>("adapters");
        QTest::addColumn<QString>("title");
        QTest::newRow("adapter ports") << true << "Select Zorbel Port";
        QTest::newRow("other ports") << false << "Select Port";
    }
    void portChoice()
    {
        QFETCH(bool, adapters);
        WindowRig rig;
        const QList<PortInfo> ports {{"ttyUSB0", "/dev/ttyUSB0", "AE01", {}}, {"ttyUSB1", "/dev/ttyUSB1", "AE02", {}}};
        rig.window->on_needPortSelectAndInform(ports, adapters);
        QTEST(rig.dialogs.itemTitles.value(0), "title");
        QCOMPARE(rig.dialogs.itemOffers.value(0), (QStringList {"ttyUSB0", "ttyUSB1"}));
    }

    // The adapter comes back while the choice of another port is open: the port manager
    // takes the adapter and closes the choice; the window closes its dialog.
    void portChoiceClosedByThePortManager()
    {
        WindowRig rig;
        const QList<PortInfo> ports {{"ttyS0", "/dev/ttyS0", {}, {}}};
        rig.dialogs.whileChoosingItem = [&rig] { emit rig.app().comHelper()->portChoiceClosed(); };
        rig.window->on_needPortSelectAndInform(ports, false);
        QCOMPARE(rig.dialogs.itemOffers.size(), 1);
        QCOMPARE(rig.dialogs.itemChoicesClosed, 1);
    }

    void emptyPortListOnlyInforms()
    {
        WindowRig rig;
        rig.window->on_needPortSelectAndInform({}, false);
        QVERIFY(rig.dialogs.itemOffers.isEmpty());
        QMessageBox *box = visibleBox(rig, QStringLiteral("No port is available"));
        QVERIFY(box);
        QCOMPARE(box->icon(), QMessageBox::Warning);
        rig.window->on_hidePortMessage();
        QVERIFY(!visibleBox(rig, QStringLiteral("No port is available")));
    }

    void portButtonAsksBeforeChangingAConnection()
    {
        WindowRig rig;
        QVERIFY(rig.connectDevice());
        rig.dialogs.answerYes = false;
        rig.find<QAbstractButton>("pushButtonStatePort")->click();
        QCOMPARE(rig.dialogs.questions, QStringList {"Connection change"});
        rig.tick(10);
        QVERIFY(rig.app().comHelper()->isConnected());
        QCOMPARE(rig.text("pushButtonStateConnection"), QStringLiteral("Connected"));
    }

    // A first start opens within the screen (the headless screen is 800 x 600, smaller than
    // the window's own size), as on a small screen or with a large scale factor.
    void firstStartOpensWithinTheScreen()
    {
        WindowRig rig;
        const QSize available = QGuiApplication::primaryScreen()->availableGeometry().size();
        QVERIFY(available.width() < 1180 || available.height() < 760); // or the test shows nothing
        QVERIFY2(rig.window->width() <= available.width() && rig.window->height() <= available.height(),
                 qPrintable(QStringLiteral("%1x%2").arg(rig.window->width()).arg(rig.window->height())));
    }

    // A second start finds the window as it was left: size, place and page.
    void windowAndPageComeBackOnTheNextStart()
    {
        QTemporaryDir data;
        QRect left;
        {
            WindowRig first(SimulatorConfig(), data.path());
            first.window->show();
            first.window->setGeometry(40, 30, 700, 500);
            first.showPage("toolButtonFirmware");
            QCOMPARE(first.find<QStackedWidget>("stackedWidgetMainDataArea")->currentIndex(),
                     int(MainWindow::PageFirmware));
            left = first.window->geometry();
        }
        WindowRig second(SimulatorConfig(), data.path());
        QCOMPARE(second.window->size(), left.size());
        QCOMPARE(second.window->pos(), left.topLeft());
        QTRY_COMPARE(second.find<QStackedWidget>("stackedWidgetMainDataArea")->currentIndex(),
                     int(MainWindow::PageFirmware)); // on the coordinator's answer
        QVERIFY(second.find<QToolButton>("toolButtonFirmware")->isChecked());
        QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("org.kordo.KordoManager"));
    }

    // The keys of a desktop program, and status buttons that lead somewhere.
    void keysAndStatusButtonsLeadToThePages_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("page");
        QTest::newRow("Ctrl+1") << int(Qt::Key_1) << int(MainWindow::PageEscSettings);
        QTest::newRow("Ctrl+2") << int(Qt::Key_2) << int(MainWindow::PageMotor);
        QTest::newRow("Ctrl+4") << int(Qt::Key_4) << int(MainWindow::PageFirmware);
    }
    void keysAndStatusButtonsLeadToThePages()
    {
        QFETCH(int, key);
        QFETCH(int, page);
        WindowRig rig;
        QVERIFY(rig.connectDevice());
        QStackedWidget *pages = rig.find<QStackedWidget>("stackedWidgetMainDataArea");
        rig.find<QAction>(qPrintable(QStringLiteral("actionPage%1").arg(key - Qt::Key_0)))->trigger();
        QTRY_COMPARE(pages->currentIndex(), page); // on the coordinator's answer
        QCOMPARE(rig.find<QAction>(qPrintable(QStringLiteral("actionPage%1").arg(key - Qt::Key_0)))->shortcut(),
                 QKeySequence(int(Qt::CTRL) + key));

        rig.showPage("toolButtonMotorParams");
        rig.find<QAbstractButton>("pushButtonStateDevice")->click();
        QTRY_COMPARE(pages->currentIndex(), int(MainWindow::PageEscSettings));

        QCOMPARE(rig.find<QAction>("actionQuit")->shortcut(), QKeySequence(Qt::CTRL + Qt::Key_Q));
        QCOMPARE(rig.find<QAction>("actionHelp")->shortcut(), QKeySequence(Qt::Key_F1));
        rig.find<QAction>("actionHelp")->trigger();
        QCOMPARE(rig.dialogs.messages.last().title, QStringLiteral("Help"));
        rig.find<QAction>("actionAbout")->trigger();
        const QString about = rig.dialogs.messages.last().text;
        QVERIFY2(about.contains(QString::fromLatin1(qVersion())), qPrintable(about));
        QVERIFY2(about.contains(DeviceStatusView::firmwareVersion(rig.device()->firmware())), qPrintable(about));
        QVERIFY2(about.contains(QLatin1String("Licence")), qPrintable(about));
    }

    // Every number field of the settings page names its range.
    void settingsFieldsNameTheirRange()
    {
        WindowRig rig;
        QVERIFY(rig.connectDevice());
        rig.showPage("toolButtonEscParams");
        const QList<QAbstractSpinBox *> boxes =
            rig.find<QWidget>("toolButtonEscParams")->window()->findChild<EscSettingsPage *>()->findChildren<QAbstractSpinBox *>();
        QVERIFY(boxes.size() >= 8);
        for (QAbstractSpinBox *box : boxes) {
            const QString tip = box->toolTip();
            QVERIFY2(tip.contains(QLatin1String(" to ")), qPrintable(box->objectName() + ": " + tip));
            if (auto *spin = qobject_cast<QSpinBox *>(box))
                QVERIFY2(tip.startsWith(QString::number(spin->minimum()) + spin->suffix()),
                         qPrintable(box->objectName() + ": " + tip));
        }
    }

    // A window of 1024 x 640 shows every control of every page, directly or by scrolling
    // its page; nothing is cut off.
    void everyControlFitsASmallWindow()
    {
        WindowRig rig;
        QVERIFY(rig.connectDevice());
        rig.window->resize(1024, 640);
        QCoreApplication::processEvents();
        QCOMPARE(rig.window->size(), QSize(1024, 640));
        const QRect windowRect = rig.window->rect();
        QStackedWidget *pages = rig.find<QStackedWidget>("stackedWidgetMainDataArea");
        for (const char *button : {"toolButtonEscParams", "toolButtonMotorParams", "toolButtonControl", "toolButtonFirmware"}) {
            rig.showPage(button);
            QCoreApplication::processEvents();
            QWidget *page = pages->currentWidget();
            int checked = 0;
            for (QWidget *w : page->findChildren<QWidget *>()) {
                const bool control = qobject_cast<QAbstractButton *>(w) || qobject_cast<QAbstractSpinBox *>(w)
                    || qobject_cast<QComboBox *>(w) || qobject_cast<QLineEdit *>(w)
                    || qobject_cast<QAbstractSlider *>(w) || qobject_cast<QAbstractItemView *>(w);
                if (!control || w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_"))
                    || !w->isVisibleTo(rig.window.get()))
                    continue;
                ++checked;
                QScrollArea *area = nullptr;
                for (QWidget *p = w->parentWidget(); p && !area; p = p->parentWidget())
                    area = qobject_cast<QScrollArea *>(p);
                const QString where = QStringLiteral("%1 on %2").arg(w->objectName(), QLatin1String(button));
                QVERIFY2(w->width() > 0 && w->height() > 0, qPrintable(where));
                if (area) {
                    const QRect inPage(w->mapTo(area->widget(), QPoint(0, 0)), w->size());
                    QVERIFY2(area->widget()->rect().contains(inPage), qPrintable(where));
                    const QRect viewport(area->viewport()->mapTo(rig.window.get(), QPoint(0, 0)), area->viewport()->size());
                    QVERIFY2(windowRect.contains(viewport), qPrintable(where));
                } else {
                    const QRect inWindow(w->mapTo(rig.window.get(), QPoint(0, 0)), w->size());
                    QVERIFY2(windowRect.contains(inWindow), qPrintable(where));
                }
            }
            QVERIFY2(checked >= 3, button);
        }
    }

    // At the window's own size the control page shows everything, its Stop button too,
    // without scrolling. Stop is in no scroll area at all: nothing can scroll it away.
    void controlPageFitsTheDefaultWindow()
    {
        WindowRig rig;
        QVERIFY(rig.connectDevice());
        rig.window->resize(1180, 760);
        rig.showPage("toolButtonControl");
        QCoreApplication::processEvents();
        auto *monitor = rig.find<QScrollArea>("scrollAreaMonitor"); // the plot and the values
        QVERIFY(monitor);
        QVERIFY(!monitor->verticalScrollBar()->isVisible());
        QVERIFY(!monitor->horizontalScrollBar()->isVisible());
        QWidget *stop = rig.find<QWidget>("pushButtonStop");
        for (QWidget *parent = stop->parentWidget(); parent; parent = parent->parentWidget())
            QVERIFY2(!qobject_cast<QScrollArea *>(parent), qPrintable(parent->objectName()));
        QWidget *shown = pages(rig);
        QVERIFY(shown->rect().contains(QRect(stop->mapTo(shown, QPoint(0, 0)), stop->size())));
    }

    // On a dark palette the PWM characteristic follows it: dark canvas, light axis text.
    void characteristicFollowsADarkPalette()
    {
        WindowRig rig;
        QVERIFY(rig.connectDevice());
        rig.showPage("toolButtonEscParams");
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(0x30, 0x30, 0x30));
        dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
        dark.setColor(QPalette::Base, QColor(0x20, 0x20, 0x20));
        dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
        auto *page = rig.window->findChild<EscSettingsPage *>();
        page->setPalette(dark);
        QCoreApplication::processEvents();
        auto *plot = rig.find<QwtPlot>("qwtPlot");
        const QImage canvas = plot->canvas()->grab().toImage();
        QCOMPARE(canvas.pixelColor(canvas.width() / 3, canvas.height() / 5), dark.color(QPalette::Base));
        const QImage axis = plot->axisWidget(QwtPlot::yLeft)->grab().toImage();
        bool lightText = false;
        for (int y = 0; y < axis.height() && !lightText; ++y)
            for (int x = 0; x < axis.width() && !lightText; ++x)
                lightText = axis.pixelColor(x, y).lightness() > 160;
        QVERIFY(lightText);
        const QImage whole = plot->grab().toImage();
        QCOMPARE(whole.pixelColor(1, 1), dark.color(QPalette::Window)); // on the dark background
    }

    void languageChangeKeepsTheStatus()
    {
        WindowRig rig;
        QVERIFY(rig.connectDevice());
        Translations german(QDir(qEnvironmentVariable("KORDO_BIN_DIR")).filePath(Translations::DIRECTORY_NAME));
        german.load(QStringLiteral("de"));
        QVERIFY(german.isProgramTranslationInstalled());
        QCoreApplication::processEvents(); // language change events
        QCOMPARE(rig.text("pushButtonStateConnection"), QStringLiteral("Verbunden"));
        QCOMPARE(rig.text("pushButtonStateDevice"), QStringLiteral("Ger\u00e4t 12345"));
        QCOMPARE(rig.text("pushButtonStatePort"), DemoPortProvider::DEMO_PORT_NAME);
        QCOMPARE(rig.text("toolButtonControl"), QStringLiteral("Steuerung"));
        // One number format per language: the boxes too.
        QDoubleSpinBox *kp = rig.find<QDoubleSpinBox>("doubleSpinBoxKp");
        QVERIFY2(kp->text().contains(QLatin1Char(',')), qPrintable(kp->text()));
        QCOMPARE(rig.find<QLabel>("labelCtrl_Ki_Kff")->text(),
                 rig.find<QComboBox>("comboBoxControlType")->currentIndex() == 0 ? QStringLiteral("Regler Ki")
                                                                                  : QStringLiteral("Regler Kff"));
        german.load(QStringLiteral("en")); // no such file: back to the program's own texts
        QCoreApplication::processEvents();
        QCOMPARE(rig.text("pushButtonStateConnection"), QStringLiteral("Connected"));
        QVERIFY2(kp->text().contains(QLatin1Char('.')), qPrintable(kp->text()));
    }

    // A box runs its own event loop; device messages arriving meanwhile wait for it to
    // close instead of opening a box inside the box, and one error is shown once while the
    // port stays open.
    void messagesNeverOpenABoxInsideABox()
    {
        WindowRig rig;
        QVERIFY(rig.connectDevice());
        rig.dialogs.messages.clear();
        rig.dialogs.whileOpen = [&rig] {
            for (int i = 0; i < 20; ++i)
                rig.app().setError(0x1f); // the same failing read after every re-detection
            rig.app().setError(0x20);
            for (int i = 0; i < 5; ++i)
                rig.app().logFileState(1);
            QCoreApplication::processEvents();
        };
        rig.app().setError(0x1f);
        QCoreApplication::processEvents();
        QCOMPARE(rig.dialogs.mostOpenDialogs, 1);
        QStringList texts;
        for (const ScriptedDialogs::Message &m : qAsConst(rig.dialogs.messages))
            texts << m.text.section(QLatin1Char('\n'), 0, 0); // the line under it names the records
        QCOMPARE(texts, (QStringList{QStringLiteral("Error: 0x1f"), QStringLiteral("Error: 0x20"),
                                     QStringLiteral("Log file is not created (\u00d75)")}));

        rig.app().setError(0x1f);
        QCOMPARE(rig.dialogs.messages.size(), 3);
        rig.app().comPortClosed(); // a new connection may show it again
        rig.app().setError(0x1f);
        QCOMPARE(rig.dialogs.messages.size(), 4);
    }

    // The checked background has the icons' colour: checked, each icon must still show.
    void checkedPageButtonsKeepAVisibleIcon_data()
    {
        QTest::addColumn<QString>("button");
        for (const char *name : {"toolButtonWelcome", "toolButtonEscParams", "toolButtonMotorParams",
                                 "toolButtonControl", "toolButtonFirmware"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void checkedPageButtonsKeepAVisibleIcon()
    {
        QFETCH(QString, button);
        WindowRig rig;
        auto *tool = rig.window->findChild<QToolButton *>(button);
        QVERIFY(tool);
        const QColor checkedBackground(0x37, 0xc8, 0xab);
        const QImage image = tool->icon().pixmap(tool->iconSize(), QIcon::Normal, QIcon::On).toImage();
        int opaque = 0;
        double distance = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.alpha() < 128)
                    continue;
                ++opaque;
                distance += std::abs(c.red() - checkedBackground.red()) + std::abs(c.green() - checkedBackground.green())
                            + std::abs(c.blue() - checkedBackground.blue());
            }
        }
        QVERIFY(opaque > 0);
        QVERIFY2(distance / opaque > 150, qPrintable(QStringLiteral("mean distance %1").arg(distance / opaque)));
    }

    // English is the program's own language: a translation is loaded only for a system
    // language that has one.
    void startLanguage_data()
    {
        QTest::addColumn<QString>("system");
        QTest::addColumn<QString>("loaded");
        QTest::addColumn<QString>("twentyThousandAndAHalf");
        QTest::newRow("English system") << "en" << QString() << "20000.5";
        QTest::newRow("French system, no French") << "fr" << QString() << "20000.5";
        QTest::newRow("German system") << "de" << "de" << "20000,5";
    }
    void startLanguage()
    {
        QFETCH(QString, system);
        QFETCH(QString, loaded);
        QFETCH(QString, twentyThousandAndAHalf);
        const QString languages = QDir(qEnvironmentVariable("KORDO_BIN_DIR")).filePath(Translations::DIRECTORY_NAME);
        {
            Translations translations(languages);
            QVERIFY(translations.availableLanguages().contains(QStringLiteral("de")));
            QCOMPARE(translations.loadStartLanguage(system), loaded);
            QCOMPARE(translations.isProgramTranslationInstalled(), !loaded.isEmpty());
            QCOMPARE(translations.isQtTranslationInstalled(), !loaded.isEmpty());
            QCOMPARE(QCoreApplication::translate("DeviceStatusView", "Connected"),
                     loaded.isEmpty() ? QStringLiteral("Connected") : QStringLiteral("Verbunden"));
            QCOMPARE(QLocale().toString(20000.5, 'f', 1), twentyThousandAndAHalf);
        }
        QLocale::setDefault(QLocale::c());
    }

    // Texts translated at run time are found under the context they are marked with, in
    // whatever language is loaded when they are shown.
    void runTimeTextsAreTranslated()
    {
        const QVector<IdStep> steps = IdSteps::build(); // built before the language is loaded
        Translations german(QDir(qEnvironmentVariable("KORDO_BIN_DIR")).filePath(Translations::DIRECTORY_NAME));
        german.load(QStringLiteral("de"));
        const IdStep shown = IdSteps::translated(steps.at(IdSteps::NoMovement));
        QCOMPARE(shown.name, QStringLiteral("Keine Bewegung"));
        QCOMPARE(shown.errors, QStringList{QStringLiteral("Der Motor dreht sich")});
        QCOMPARE(QCoreApplication::translate("SimulatedPort", "The simulated controller is gone"),
                 QStringLiteral("Der simulierte Regler ist nicht mehr da"));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Abbrechen"));
        german.load(QStringLiteral("en"));
        QLocale::setDefault(QLocale::c());
    }

    void portStatusTexts()
    {
        WindowRig rig;
        rig.window->on_portConnectionChange(QStringLiteral("ttyS0"), false, true, false);
        QCOMPARE(rig.text("pushButtonStatePort"), QStringLiteral("Connecting ..."));
        QCOMPARE(rig.find<QLabel>("labelConnectionStatusIcon")->property("iconPath").toString(),
                 QStringLiteral(":/icons/port_none.png"));
        rig.window->on_portConnectionChange(QStringLiteral("ttyS0"), false, false, true);
        QCOMPARE(rig.text("pushButtonStatePort"), QStringLiteral("ttyS0"));
        QVERIFY(!rig.find<QWidget>("pushButtonStatePort")->styleSheet().contains(QLatin1String("bold")));
        QCOMPARE(rig.find<QLabel>("labelConnectionStatusIcon")->property("iconPath").toString(),
                 QStringLiteral(":/icons/link_disconnected.png"));
        rig.window->on_portConnectionChange(QString(), false, false, false);
        QCOMPARE(rig.text("pushButtonStatePort"), QStringLiteral("Select Port ..."));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

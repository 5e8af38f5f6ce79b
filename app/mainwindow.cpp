#include "app/mainwindow.h"

#include "ui_mainwindow.h"

#include "ui/embeddedfonts.h"
#include "app/installlayout.h"
#include "app/metatypes.h"
#include "app/settingsbackupsaction.h"
#include "app/windowfit.h"
#include "app/supportbundleaction.h"
#include "capture/linerecorder.h"
#include "cli/supportbundlerecorder.h"
#include "ui/userdialogs.h"
#include "ui/buttonicons.h"
#include "device/device.h"
#include "device/paramshelper.h"
#include "device/pinghelper.h"
#include "device/runningmode.h"
#include "device/settingskeeper.h"
#include "device/ui/escsettingspage.h"
#include "ident/ui/identwizard.h"
#include "firmware/ui/firmwarepage.h"
#include "firmware/updatefwhelper.h"
#include "link/comhelper.h"
#include "motors/dbmanager.h"
#include "motors/ui/motorpage.h"
#include "tuning/testhelper.h"
#include "tuning/ui/controlpage.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLocale>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QToolButton>
#include <QWindow>

#include <cstdio>
#include <cstdlib>

// Resources live in the static UI library: the linker keeps them only when named.
static void initKordoResources()
{
    Q_INIT_RESOURCE(kordo);
}

Q_LOGGING_CATEGORY(lcMainWindow, "kordo.app.window")

namespace {

constexpr int INFO_RESET_MS = 2000;
const QString INFO_IDLE_TEXT = QStringLiteral("...");
// How long the window waits for the coordinator's clock to stop at shutdown.
constexpr int STOP_WAIT_MS = 5000;
// How often a waiting port choice looks whether the dialog in its way has closed.
constexpr int PORT_CHOICE_RETRY_MS = 250;
// After the first show the window manager adds its frame; the window is fitted again then.
constexpr int FRAME_FIT_DELAYS_MS[] = {0, 300, 1500};
// After a stop that did not come in time: how long the thread still gets to end.
constexpr int THREAD_END_WAIT_MS = 10000;

QDebug windowDebug()
{
    return QMessageLogger(nullptr, 0, nullptr).debug(lcMainWindow()).noquote() << "MAIN_WINDOW:";
}

QString readStyleSheet(const QString &name)
{
    QFile file(QStringLiteral(":/stylesheets/stylesheets/%1").arg(name));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString connectionIconPath(DeviceStatusView::ConnectionIcon icon)
{
    switch (icon) {
    case DeviceStatusView::ConnectionIcon::NoPort:
        return QStringLiteral(":/icons/port_none.png");
    case DeviceStatusView::ConnectionIcon::Connected:
        return QStringLiteral(":/icons/link_connected.png");
    case DeviceStatusView::ConnectionIcon::Running:
        return QStringLiteral(":/icons/link_running.png");
    case DeviceStatusView::ConnectionIcon::Flashing:
        return QStringLiteral(":/icons/link_flashing.png");
    case DeviceStatusView::ConnectionIcon::Disconnected:
    default:
        return QStringLiteral(":/icons/link_disconnected.png");
    }
}

QString deviceIconPath(DeviceStatusView::DeviceIcon icon)
{
    switch (icon) {
    case DeviceStatusView::DeviceIcon::Device:
        return QStringLiteral(":/icons/device.png");
    case DeviceStatusView::DeviceIcon::NonInitDevice:
        return QStringLiteral(":/icons/device_noninit.png");
    case DeviceStatusView::DeviceIcon::NoDevice:
    default:
        return QStringLiteral(":/icons/device_none.png");
    }
}

} // namespace

MainWindow::MainWindow(PortProvider *portProvider, const DataDirectory &dataDirectory, UserDialogs *dialogs,
                       Threading threading, QWidget *parent)
    : QMainWindow(parent),
      ui(new Ui::MainWindow),
      m_queuedDialogs(dialogs),
      m_dialogs(&m_queuedDialogs),
      m_threading(threading),
      m_translations(InstallLayout::ofRunningProgram().languagesDirectory()),
      m_settings(dataDirectory.settingsFilePath()),
      m_appBase(portProvider, dataDirectory)
{
    initKordoResources();
    // The window belongs to the desktop entry (the Wayland app id, the task bar's icon).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kordo.KordoManager"));
    m_portMessageBox = new QMessageBox(QMessageBox::Warning, QString(), QString(), QMessageBox::Ok, this);
    m_runQuestionBox = new QMessageBox(QMessageBox::Question, QString(), QString(),
                                       QMessageBox::Yes | QMessageBox::No, this);
    for (QMessageBox *box : {m_portMessageBox, m_runQuestionBox}) {
        box->setFont(EmbeddedFonts::dialogFont());
        box->setWindowModality(Qt::WindowModal);
    }

    startCoordinator();

    ui->setupUi(this);
    m_uiReady = true;
    buildPages();
    createActions();
    EscSettingsPage *settingsPage = m_escSettingsPage;
    m_supportBundleAction = new SupportBundleAction(
        this, new SupportBundleRecorder(m_appBase.comHelper(), m_appBase.paramsHelper(), m_appBase.device(), this),
        [settingsPage] { return settingsPage->settingsDocument(); }, m_appBase.logDirectory(), m_dialogs);
    ui->comboBoxLanguage->hide();
    ui->toolButtonWelcome->hide();
    ui->pushButtonStateFirmware->hide();
    fillLanguageList();
    setLocale(QLocale()); // the number format of the language loaded, for every widget

    registerApplicationMetaTypes();
    connectCoordinator();
    startClock();
    applyStyleSheets();
    setConnectionIcon(DeviceStatusView::ConnectionIcon::Disconnected);
    setDeviceIcon(DeviceStatusView::DeviceIcon::NoDevice);

    m_infoResetTimer.setParent(this);
    m_infoResetTimer.setObjectName(QStringLiteral("infoResetTimer"));
    m_infoResetTimer.setSingleShot(true);
    m_infoResetTimer.setInterval(INFO_RESET_MS);
    connect(&m_infoResetTimer, &QTimer::timeout, this, [this] { ui->labelInfo->setText(INFO_IDLE_TEXT); });
    // Drives the identification wizard's progress bar.
    m_idProgressTimer.setParent(this);
    m_idProgressTimer.setObjectName(QStringLiteral("idProgressTimer"));
    m_portChoiceRetry.setParent(this);
    m_portChoiceRetry.setObjectName(QStringLiteral("portChoiceRetryTimer"));
    m_portChoiceRetry.setSingleShot(true);
    m_portChoiceRetry.setInterval(PORT_CHOICE_RETRY_MS);
    connect(&m_portChoiceRetry, &QTimer::timeout, this, &MainWindow::offerPortChoice);
    restoreWindowState();
    windowDebug() << "End of init";
}

MainWindow::~MainWindow()
{
    m_settings.setWindowState(saveGeometry(), ui->stackedWidgetMainDataArea->currentIndex());
    // The motor stops before the coordinator sends its last request.
    m_controlPage->stopMotor();
    stopCoordinator();
    m_idProgressTimer.stop();
    m_infoResetTimer.stop();
    // The pages hold pointers into the coordinator: they go before it does.
    m_uiReady = false;
    delete takeCentralWidget();
}

void MainWindow::setLineRecorder(LineRecorder *recorder)
{
    m_supportBundleAction->setLineRecorder(recorder);
    // Sent once per capture, from the thread whose write failed.
    connect(recorder, &LineRecorder::captureFailed, this, [this](const QString &reason) {
        m_dialogs->message(UserDialogs::Icon::Warning, windowTitle(),
                           tr("The line capture cannot be written on: %1. The program goes on without it; the "
                              "file holds the line up to that moment.")
                               .arg(reason));
    });
}

void MainWindow::setControllerRestart(std::function<void()> restart)
{
    m_controlPage->setControllerRestart(std::move(restart));
}

void MainWindow::startCoordinator()
{
    if (m_threading != Threading::CoordinatorThread)
        return;
    QThread::currentThread()->setPriority(QThread::NormalPriority);
    m_appBase.moveToThread(&m_coordinatorThread);
    m_coordinatorThread.start(QThread::InheritPriority);
}

void MainWindow::startClock()
{
    // Queued, so both run in the coordinator's thread; tests tick the coordinator by hand
    // and only hear about the start-up problem.
    if (m_threading == Threading::CoordinatorThread)
        QMetaObject::invokeMethod(&m_appBase, &AppBase::startClock, Qt::QueuedConnection);
    else
        QMetaObject::invokeMethod(&m_appBase, &AppBase::reportStartupProblem, Qt::QueuedConnection);
}

void MainWindow::stopCoordinator()
{
    if (m_threading != Threading::CoordinatorThread) {
        m_appBase.stopTimer();
        return;
    }
    // Brought back to this thread before its thread ends, so that its port and timers are
    // destroyed in the thread they belong to.
    if (!m_appBase.stopAndMoveTo(thread(), STOP_WAIT_MS))
        qCWarning(lcMainWindow) << "MAIN_WINDOW: the coordinator did not stop in time";
    m_coordinatorThread.quit();
    if (m_coordinatorThread.wait(THREAD_END_WAIT_MS))
        return;
    // The coordinator is still busy in its thread: destroying the thread, or the coordinator
    // under it, would crash. The thread is left running and the program ends without it.
    qCCritical(lcMainWindow).noquote()
        << QStringLiteral("MAIN_WINDOW: the coordinator thread did not end within %1 s after its stop; "
                          "it is left running and the program ends now")
               .arg((STOP_WAIT_MS + THREAD_END_WAIT_MS) / 1000);
    std::fflush(nullptr);
    std::_Exit(EXIT_FAILURE);
}

// Each page in a scroll area: on a small screen (or a large scale factor) a page that
// does not fit scrolls instead of being cut off. The control page is the exception: Stop
// must never scroll out of sight, so the page scrolls only its plot and values itself.
void MainWindow::addPage(QWidget *page, PageScrolling scrolling)
{
    if (scrolling == PageScrolling::ByItself) {
        ui->stackedWidgetMainDataArea->addWidget(page);
        return;
    }
    auto *scroll = new QScrollArea;
    scroll->setObjectName(page->objectName() + QStringLiteral("Scroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(page);
    ui->stackedWidgetMainDataArea->addWidget(scroll);
}

void MainWindow::buildPages()
{
    m_escSettingsPage = new EscSettingsPage(m_appBase.paramsHelper(), m_appBase.device(), m_appBase.dbManager(),
                                            m_dialogs, &m_settings);
    addPage(m_escSettingsPage);
    m_motorPage = new MotorPage(m_appBase.device(), m_appBase.motorLibrary(), m_appBase.motorFiles(),
                                m_appBase.idHelper(), m_dialogs);
    addPage(m_motorPage);
    PingHelper *ping = m_appBase.pingHelper();
    m_controlPage = new ControlPage([ping](int16_t duty, bool enable) { ping->setDutyCycle(duty, enable); },
                                    m_dialogs);
    addPage(m_controlPage, PageScrolling::ByItself);
    m_firmwarePage = new FirmwarePage(m_appBase.updateFwHelper(), m_dialogs, &m_settings);
    addPage(m_firmwarePage);
    connect(m_firmwarePage, &FirmwarePage::infoText, this, &MainWindow::on_showInfo);
    connect(m_firmwarePage, &FirmwarePage::updateRequested, this,
            [this](const QString &fileName) { m_appBase.startFirmwareUpdate(fileName); });
    // Settings that could be kept nowhere: the update waits for the user's word (No unless said).
    connect(
        &m_appBase, &AppBase::updateBackupFailed, this,
        [this](const QString &fileName, const QString &text, bool stopped) {
            if (stopped
                && m_dialogs->askYesNo(tr("Firmware update"),
                                       tr("%1\nNothing was sent to the controller. Update its firmware without a "
                                          "backup of its settings?")
                                           .arg(text)))
                m_appBase.startFirmwareUpdate(fileName, AppBase::UpdateBackup::NotRequired);
        },
        Qt::QueuedConnection);
    // A controller left in its bootloader (an interrupted update): offer the update again.
    connect(m_appBase.updateFwHelper(), &UpdateFwHelper::bootloaderFound, this,
            [this] { navigate(m_navigationButtons.value(PageFirmware)); });
    connect(m_escSettingsPage, &EscSettingsPage::infoText, this, &MainWindow::on_showInfo);
    connect(m_motorPage, &MotorPage::infoText, this, &MainWindow::on_showInfo);
    connect(m_controlPage, &ControlPage::infoText, this, &MainWindow::on_showInfo);
    connect(m_controlPage, &ControlPage::runningModeRequested, this, [this] {
        if (m_deviceStatus.state == DEVICE_CONNECTED)
            on_deviceToRun();
    });
    connect(m_escSettingsPage, &EscSettingsPage::motorImported, m_motorPage, &MotorPage::on_motorImported);

    // The controller's settings are kept before an import, a motor write and an update; the
    // settings page lists the backups, and an update that changed the settings offers its own.
    // The keeper lives with the device model in this thread.
    SettingsKeeper *keeper = m_appBase.settingsKeeper();
    auto *backups = new SettingsBackupsAction(
        m_appBase.device(), m_appBase.paramsHelper(), m_appBase.idHelper(), keeper, m_dialogs,
        [this] { navigate(m_navigationButtons.value(PageEscSettings)); }, this);
    connect(backups, &SettingsBackupsAction::infoText, this, &MainWindow::on_showInfo);
    connect(m_escSettingsPage, &EscSettingsPage::backupsRequested, backups, &SettingsBackupsAction::chooseBackup);
    connect(m_escSettingsPage, &EscSettingsPage::aboutToImport, keeper,
            [keeper] { keeper->keep(SettingsSnapshot::Reason::SettingsImport); });
    connect(m_motorPage, &MotorPage::aboutToWriteMotor, keeper,
            [keeper] { keeper->keep(SettingsSnapshot::Reason::MotorWrite); });
    // Queued: the offer's dialog does not open inside the device model's read.
    connect(
        keeper, &SettingsKeeper::settingsChangedByUpdate, backups,
        [backups](SettingsSnapshot before, SettingsSnapshot now) { backups->offerRestore(before, now, true); },
        Qt::QueuedConnection);

    // The identification wizard, with its own pages, shown by the motor page in place of
    // its motor list.
    m_identWizard = new IdentWizard(m_appBase.device(), m_appBase.idHelper(), m_appBase.motorLibrary(), m_dialogs,
                                    &m_idProgressTimer);
    m_motorPage->addWizard(m_identWizard);
    connect(m_identWizard, &IdentWizard::shown, m_motorPage, &MotorPage::showWizard);
    connect(m_identWizard, &IdentWizard::motorListWanted, m_motorPage, &MotorPage::showMotorList);
    connect(m_motorPage, &MotorPage::motorListShown, m_identWizard, &IdentWizard::on_motorListShown);
    connect(m_motorPage, &MotorPage::identifyMotorRequested, m_identWizard,
            &IdentWizard::on_pushSetIdentifyMotor_clicked);
    connect(m_identWizard, &IdentWizard::motorSaved, m_motorPage, &MotorPage::on_fillMotorName);
    // The controller carries the motor just identified: the device model reads it again
    // and, with its motor hours, looks up its name.
    connect(m_identWizard, &IdentWizard::motorSaved, this, [this] {
        m_appBase.device()->updateMotorParams();
        m_appBase.device()->updateMotorHours();
    });
    connect(m_identWizard, &IdentWizard::readyToClose, this, &QWidget::close);

    m_navigationButtons = {ui->toolButtonWelcome, ui->toolButtonEscParams, ui->toolButtonMotorParams,
                           ui->toolButtonControl, ui->toolButtonFirmware};
    for (QAbstractButton *button : qAsConst(m_navigationButtons))
        connect(button, &QAbstractButton::clicked, this, [this, button] { navigate(button); });
    checkOnly(PageWelcome);
    ui->stackedWidgetMainDataArea->setCurrentIndex(PageWelcome);
    connect(ui->stackedWidgetMainDataArea, &QStackedWidget::currentChanged, this, &MainWindow::pageChanged);
}

void MainWindow::connectCoordinator()
{
    ComHelper *com = m_appBase.comHelper();
    connect(com, &ComHelper::portsUpdate, this, &MainWindow::on_portsUpdate);
    connect(com, &ComHelper::needPortSelectAndInform, this, &MainWindow::on_needPortSelectAndInform);
    connect(com, &ComHelper::hidePortMessage, this, &MainWindow::on_hidePortMessage);
    connect(com, &ComHelper::portChoiceClosed, this, &MainWindow::on_portChoiceClosed);
    connect(com, &ComHelper::portConnectionStateChange, this, &MainWindow::on_portConnectionChange);
    connect(&m_appBase, &AppBase::on_deviceToRun, this, &MainWindow::on_deviceToRun);
    connect(&m_appBase, &AppBase::on_deviceDisconnected, this, &MainWindow::on_deviceDisconnected);
    connect(&m_appBase, &AppBase::on_updateProcess, this, &MainWindow::on_updateProcess);
    connect(&m_appBase, &AppBase::pageChangeAllowed, this, &MainWindow::on_pageChangeAllowed);
    connect(&m_appBase, &AppBase::pageChangeRefused, this, &MainWindow::on_pageChangeRefused);
    // The coordinator's boxes all tell a problem (a log or database that fails, a device error).
    connect(&m_appBase, &AppBase::sendTextForInfo, this,
            [this](QString msg, bool isMsgBox) { on_showInfo(msg, isMsgBox, UserDialogs::Icon::Warning); });
    connect(m_appBase.device(), &Device::on_connectionChanged, this, &MainWindow::on_connectionChanged);
    // Telemetry and resets reach the control page as copies, queued from the coordinator.
    connect(m_appBase.pingHelper(), &PingHelper::telemetrySample, m_controlPage, &ControlPage::on_telemetryUpdated);
    connect(m_appBase.pingHelper(), &PingHelper::resetControl, m_controlPage, &ControlPage::on_resetControl);
    connect(&m_appBase, &AppBase::resetControl, m_controlPage, &ControlPage::on_resetControl);
    // The tuning run: the page's buttons and the user's choice of gains go to the sequencer
    // (its calls post themselves into its thread); its end and its question come back queued.
    // Stop also ends a run under way.
    TestHelper *tuning = m_appBase.testHelper();
    connect(m_controlPage, &ControlPage::tuningStartRequested, this, [tuning] { tuning->startTuning(); });
    connect(m_controlPage, &ControlPage::tuningStopRequested, this, [tuning] { tuning->stopTuning(); });
    connect(m_controlPage, &ControlPage::controllerChosen, this,
            [tuning](int8_t result) { tuning->choiseController(result); });
    connect(tuning, &TestHelper::testFinished, m_controlPage, &ControlPage::on_testFinished);
    connect(tuning, &TestHelper::chooseController, m_controlPage, &ControlPage::on_typeOfController);

    connect(m_runQuestionBox, &QMessageBox::buttonClicked, this, [this](QAbstractButton *button) {
        if (m_runQuestionBox->standardButton(button) != QMessageBox::Yes)
            return;
        PingHelper *ping = m_appBase.pingHelper();
        QMetaObject::invokeMethod(ping, [ping] { ping->startRun(); }, Qt::QueuedConnection);
    });
}

void MainWindow::applyStyleSheets()
{
    const QString toolButtons = readStyleSheet(QStringLiteral("toolbutton.css"));
    // The checked background has the icons' own colour: checked, an icon takes the
    // checked text colour of the style sheet instead.
    const QColor checkedIconColour(0x26, 0x32, 0x38);
    for (QAbstractButton *button : qAsConst(m_navigationButtons)) {
        button->setStyleSheet(toolButtons);
        button->setIcon(ButtonIcons::withCheckedColour(button->icon(), button->iconSize(), checkedIconColour));
    }
    ui->frameMenu->setStyleSheet(readStyleSheet(QStringLiteral("menu.css")));
    ui->frameTop->setStyleSheet(readStyleSheet(QStringLiteral("topframe.css")));
    const QString status = readStyleSheet(QStringLiteral("statusbutton.css"));
    for (QPushButton *button : {ui->pushButtonStatePort, ui->pushButtonStateDevice, ui->pushButtonStateConnection,
                                ui->pushButtonStateFirmware})
        button->setStyleSheet(status);
}

// ---------------------------------------------------------------------------------
// Menus, keys and the window's place

void MainWindow::createActions()
{
    m_fileMenu = menuBar()->addMenu(QString());
    m_quitAction = m_fileMenu->addAction(QString(), this, &QWidget::close);
    m_quitAction->setObjectName(QStringLiteral("actionQuit"));
    m_quitAction->setShortcut(QKeySequence(Qt::CTRL + Qt::Key_Q));
    m_quitAction->setMenuRole(QAction::QuitRole);
    m_helpMenu = menuBar()->addMenu(QString());
    m_helpMenu->setObjectName(QStringLiteral("menuHelp"));
    m_helpAction = m_helpMenu->addAction(QString(), this, &MainWindow::showHelp);
    m_helpAction->setObjectName(QStringLiteral("actionHelp"));
    m_helpAction->setShortcut(QKeySequence(Qt::Key_F1));
    m_aboutAction = m_helpMenu->addAction(QString(), this, &MainWindow::showAbout);
    m_aboutAction->setObjectName(QStringLiteral("actionAbout"));
    m_aboutAction->setMenuRole(QAction::AboutRole);

    // Ctrl+1 to Ctrl+4 show the pages in the order of their buttons.
    const int pages[] = {PageEscSettings, PageMotor, PageControl, PageFirmware};
    for (int i = 0; i < 4; ++i) {
        auto *action = new QAction(this);
        action->setObjectName(QStringLiteral("actionPage%1").arg(i + 1));
        action->setShortcut(QKeySequence(int(Qt::CTRL) + Qt::Key_1 + i));
        action->setShortcutContext(Qt::WindowShortcut);
        const int page = pages[i];
        connect(action, &QAction::triggered, this, [this, page] { navigate(m_navigationButtons.value(page)); });
        addAction(action);
        m_pageActions << action;
    }

    // The status buttons lead to what they show: the device to its settings, the connection
    // to the port choice (as the port button does).
    connect(ui->pushButtonStateDevice, &QAbstractButton::clicked, this,
            [this] { navigate(m_navigationButtons.value(PageEscSettings)); });
    connect(ui->pushButtonStateConnection, &QAbstractButton::clicked, this, &MainWindow::on_pushButtonStatePort_clicked);
    retranslateActions();
}

void MainWindow::retranslateActions()
{
    if (!m_fileMenu)
        return;
    m_fileMenu->setTitle(tr("&File"));
    m_quitAction->setText(tr("&Quit"));
    m_helpMenu->setTitle(tr("&Help"));
    m_helpAction->setText(tr("&Help"));
    m_aboutAction->setText(tr("&About Kordo manager"));
    const QStringList pageNames = {tr("Settings page"), tr("Motor page"), tr("Control page"), tr("Firmware page")};
    for (int i = 0; i < m_pageActions.size(); ++i)
        m_pageActions[i]->setText(pageNames.value(i));
    ui->pushButtonStateDevice->setToolTip(tr("The controller's settings"));
    ui->pushButtonStateConnection->setToolTip(tr("Choose the port"));
}

void MainWindow::showHelp()
{
    m_dialogs->message(UserDialogs::Icon::Information, tr("Help"),
                       tr("<b>Keys</b><br>"
                          "Escape: stops the motor on the control page; cancels a running identification.<br>"
                          "Ctrl+1 to Ctrl+4: the settings, motor, control and firmware pages.<br>"
                          "F1: this help. Ctrl+Q: quit (the motor stops first).<br><br>"
                          "The user guide is the README file that comes with the program."));
}

void MainWindow::showAbout()
{
    const QString firmware = m_deviceStatus.state == DEVICE_DISCONNECTED
        ? tr("no controller connected")
        : DeviceStatusView::firmwareVersion(m_deviceStatus.fw);
    m_dialogs->message(UserDialogs::Icon::Information, tr("About Kordo manager"),
                       tr("<b>Kordo manager %1</b><br>Qt %2<br>Controller firmware: %3<br><br>"
                          "Licence: proprietary, for the maker's controllers.")
                           .arg(QCoreApplication::applicationVersion(), QString::fromLatin1(qVersion()), firmware));
}

// The window as it was left: its place and size (never larger than the screen it opens
// on), and its last page; the control page, which may run the motor, is not reopened.
void MainWindow::restoreWindowState()
{
    const QByteArray geometry = m_settings.windowGeometry();
    if (geometry.isEmpty() || !restoreGeometry(geometry))
        fitIntoScreen();
    const int page = m_settings.lastPage();
    if (page == PageEscSettings || page == PageMotor || page == PageFirmware)
        navigate(m_navigationButtons.value(page));
}

// All of the window on its screen, the frame too once the window manager has added it:
// the info line at the bottom must not be below the screen's edge.
void MainWindow::fitIntoScreen()
{
    if (isMaximized() || isFullScreen())
        return;
    const QScreen *screen = windowHandle() && windowHandle()->screen() ? windowHandle()->screen()
                                                                       : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    // After the show only the frame, once the window manager has added it, changes what
    // fits; once fitted with it, the size and place are the user's.
    if (isVisible()) {
        if (m_fittedWithFrame || frame.isNull())
            return;
        m_fittedWithFrame = true;
    }
    const QRect fitted = WindowFit::clientGeometry(screen->availableGeometry(), frame, geometry());
    if (fitted.size() != size())
        resize(fitted.size());
    if (isVisible() && fitted.topLeft() != geometry().topLeft())
        setGeometry(fitted);
}

// ---------------------------------------------------------------------------------
// Languages

void MainWindow::fillLanguageList()
{
    // Filled with its change handler silent: adding the first item would make it current
    // and load that language on every system. The program's own texts (English) stay
    // unless the system language has a translation; choosing an item loads it later.
    const QSignalBlocker silent(ui->comboBoxLanguage);
    for (const QString &code : m_translations.availableLanguages())
        ui->comboBoxLanguage->addItem(code);
    const QString loaded = m_translations.loadStartLanguage(Translations::systemLanguage());
    ui->comboBoxLanguage->setCurrentIndex(loaded.isEmpty() ? -1 : ui->comboBoxLanguage->findText(loaded));
}

void MainWindow::on_comboBoxLanguage_currentIndexChanged(int index)
{
    if (index >= 0)
        m_translations.load(ui->comboBoxLanguage->itemText(index));
}

void MainWindow::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange && m_uiReady) {
        ui->retranslateUi(this);
        retranslateActions();
        // Widgets keep the locale they were made with: numbers follow the new language.
        setLocale(QLocale());
        showPortStatus();
        showDeviceStatus();
    } else if (event->type() == QEvent::LocaleChange) {
        m_translations.load(Translations::systemLanguage());
    }
    QMainWindow::changeEvent(event);
}

// ---------------------------------------------------------------------------------
// Navigation

void MainWindow::checkOnly(int pageIndex)
{
    for (int i = 0; i < m_navigationButtons.size(); ++i) {
        m_navigationButtons[i]->setCheckable(true);
        m_navigationButtons[i]->setChecked(i == pageIndex);
    }
}

// The coordinator decides, in its own thread, whether the work under way may be left; the
// page changes on its answer only (pageChangeAllowed), and until then the page shown stays
// chosen. A refusal has told the user why.
void MainWindow::navigate(QAbstractButton *clicked)
{
    const int index = m_navigationButtons.indexOf(clicked);
    if (index < 0)
        return;
    checkOnly(ui->stackedWidgetMainDataArea->currentIndex()); // a click toggled the button
    AppBase *app = &m_appBase;
    QMetaObject::invokeMethod(app, [app, index] { app->requestPageChange(index); }, Qt::QueuedConnection);
}

void MainWindow::on_pageChangeAllowed(int index)
{
    if (index < 0 || index >= m_navigationButtons.size())
        return;
    checkOnly(index);
    ui->stackedWidgetMainDataArea->setCurrentIndex(index);
}

void MainWindow::on_pageChangeRefused()
{
    checkOnly(ui->stackedWidgetMainDataArea->currentIndex());
}

void MainWindow::pageChanged(int index)
{
    windowDebug() << "Change index of tab" << index;
    m_appBase.setActivePage(uint8_t(index));
    if (index == PageEscSettings)
        m_escSettingsPage->redrawPwmCharacteristic();
    else if (index == PageMotor)
        m_motorPage->refresh();
}

void MainWindow::on_updateProcess()
{
    m_appBase.setActivePage(uint8_t(ui->stackedWidgetMainDataArea->currentIndex()));
}

// ---------------------------------------------------------------------------------
// Info line and messages

void MainWindow::on_showInfo(QString msg, bool isMsgBox, UserDialogs::Icon icon)
{
    if (isMsgBox) {
        m_dialogs->message(icon, windowTitle(), msg);
        return;
    }
    ui->labelInfo->setText(msg);
    // One timer for all messages: a newer text gets its full two seconds.
    m_infoResetTimer.start();
}

// ---------------------------------------------------------------------------------
// Port

void MainWindow::on_portsUpdate(QList<PortInfo>, QList<PortInfo>)
{
}

void MainWindow::on_needPortSelectAndInform(QList<PortInfo> ports, bool zorbelPorts)
{
    if (ports.isEmpty()) {
        m_pendingPortChoice.waiting = false;
        m_portMessageBox->setText(tr("No port is available"));
        m_portMessageBox->show();
        return;
    }
    m_portMessageBox->hide(); // ports have come: it no longer holds
    m_pendingPortChoice = {ports, zorbelPorts, true};
    offerPortChoice();
}

bool MainWindow::isAnotherDialogOpen() const
{
    return m_queuedDialogs.isDialogOpen() || QApplication::activeModalWidget() != nullptr;
}

void MainWindow::offerPortChoice()
{
    if (!m_pendingPortChoice.waiting)
        return;
    if (isAnotherDialogOpen()) {
        m_portChoiceRetry.start();
        return;
    }
    m_pendingPortChoice.waiting = false;
    const QList<PortInfo> ports = m_pendingPortChoice.ports;
    const bool zorbelPorts = m_pendingPortChoice.zorbelPorts;
    ComHelper *com = m_appBase.comHelper();
    QStringList names;
    for (const PortInfo &port : qAsConst(ports))
        names << port.portName;
    const int closedBefore = m_portChoicesClosed;
    const QString chosen = m_dialogs->chooseItem(zorbelPorts ? tr("Select Zorbel Port") : tr("Select Port"),
                                                 tr("Port:"), names);
    if (m_portChoicesClosed != closedBefore)
        return; // the port manager closed the choice and has moved on
    if (chosen.isEmpty())
        QMetaObject::invokeMethod(com, &ComHelper::portSelectionCanceled, Qt::QueuedConnection);
    else
        QMetaObject::invokeMethod(com, [com, chosen] { com->selectPort(chosen); }, Qt::QueuedConnection);
}

void MainWindow::on_portChoiceClosed()
{
    if (m_pendingPortChoice.waiting) { // not offered yet: the port manager has moved on
        m_pendingPortChoice.waiting = false;
        return;
    }
    ++m_portChoicesClosed;
    m_dialogs->closeItemChoice();
}

void MainWindow::on_hidePortMessage()
{
    if (m_portMessageBox->isVisible())
        m_portMessageBox->hide();
}

void MainWindow::startPortSelection()
{
    ComHelper *com = m_appBase.comHelper();
    QMetaObject::invokeMethod(com, &ComHelper::startPortSelection, Qt::QueuedConnection);
}

void MainWindow::on_pushButtonStatePort_clicked()
{
    if (!m_appBase.comHelper()->isConnected()) {
        startPortSelection();
        return;
    }
    if (m_dialogs->askYesNo(tr("Connection change"), tr("Do you want to change the current connection?")))
        startPortSelection();
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    for (int delay : FRAME_FIT_DELAYS_MS)
        QTimer::singleShot(delay, this, &MainWindow::fitIntoScreen);
    if (!m_appBase.comHelper()->isConnected())
        startPortSelection();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // A running identification is stopped before the window goes; it closes once the
    // controller confirmed the stop.
    if (m_identWizard->holdCloseForStop()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void MainWindow::on_portConnectionChange(QString portName, bool isZorbel, bool isConnecting, bool isConnected)
{
    m_portStatus = {portName, isZorbel, isConnecting, isConnected};
    showPortStatus();
}

void MainWindow::showPortStatus()
{
    const PortStatus &s = m_portStatus;
    QPushButton *button = ui->pushButtonStatePort;
    const QString style = readStyleSheet(s.isConnected && s.isZorbel ? QStringLiteral("statusbutton_bold.css")
                                                                      : QStringLiteral("statusbutton.css"));
    button->setStyleSheet(style);
    if (s.isConnected) {
        button->setText(s.portName);
        setConnectionIcon(DeviceStatusView::ConnectionIcon::Disconnected);
    } else {
        button->setText(s.isConnecting ? tr("Connecting ...") : tr("Select Port ..."));
        setConnectionIcon(DeviceStatusView::ConnectionIcon::NoPort);
    }
    setDeviceIcon(DeviceStatusView::DeviceIcon::NoDevice);
}

// ---------------------------------------------------------------------------------
// Device

void MainWindow::on_deviceToRun()
{
    m_runQuestionBox->setText(tr("Actually device is in communication mode. Do you run device?"));
    m_runQuestionBox->setInformativeText(RunningMode::wayBack());
    // Running mode has no way back but the controller's restart: Return says No, every
    // time, whichever button was pressed when the box was last shown.
    m_runQuestionBox->setDefaultButton(QMessageBox::No);
    m_runQuestionBox->setEscapeButton(QMessageBox::No);
    m_runQuestionBox->show();
}

void MainWindow::on_deviceDisconnected()
{
    if (m_runQuestionBox->isVisible())
        m_runQuestionBox->hide();
}

void MainWindow::on_connectionChanged(uint32_t serialNumber, Device_State_e deviceState, Device_FW_s fw)
{
    // A newly connected device starts on the motor list. Done here, with "Connected" shown,
    // and not on the coordinator's later echo of the same news: a wizard the user started
    // after seeing "Connected" would be thrown away by it, a running identification stopped.
    if (deviceState == DEVICE_CONNECTED && m_deviceStatus.state != DEVICE_CONNECTED)
        m_motorPage->showMotorList();
    m_deviceStatus = {serialNumber, deviceState, fw};
    showDeviceStatus();
    m_controlPage->setDeviceState(deviceState);
    m_escSettingsPage->redrawPwmCharacteristic();
}

void MainWindow::showDeviceStatus()
{
    // The device model announces its bus address with the state; the button names the
    // device by its serial number, which is what is printed on it.
    const DeviceStatusView view = DeviceStatusView::forState(m_deviceStatus.state, m_deviceStatus.number != 0,
                                                             m_appBase.device()->serialNumber(), m_deviceStatus.fw);
    ui->pushButtonStateFirmware->setVisible(view.firmwareVisible);
    ui->pushButtonStateFirmware->setText(view.firmwareText);
    ui->pushButtonStateDevice->setText(view.deviceText);
    ui->pushButtonStateConnection->setText(view.connectionText);
    setConnectionIcon(view.connectionIcon);
    setDeviceIcon(view.deviceIcon);
    m_escSettingsPage->setSettingsFileEnabled(view.settingsFileEnabled);
}

void MainWindow::setConnectionIcon(DeviceStatusView::ConnectionIcon icon)
{
    ui->labelConnectionStatusIcon->setPixmap(QPixmap(connectionIconPath(icon)));
    ui->labelConnectionStatusIcon->setProperty("iconPath", connectionIconPath(icon));
}

void MainWindow::setDeviceIcon(DeviceStatusView::DeviceIcon icon)
{
    ui->labelDeviceStatusIcon->setPixmap(QPixmap(deviceIconPath(icon)));
    ui->labelDeviceStatusIcon->setProperty("iconPath", deviceIconPath(icon));
}

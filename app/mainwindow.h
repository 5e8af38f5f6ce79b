#pragma once

#include "app/appbase.h"
#include "ui/appsettings.h"
#include "app/devicestatusview.h"
#include "app/translations.h"
#include "ui/queueddialogs.h"
#include "wire/records.h"
#include "link/portinfo.h"

#include <QList>
#include <QMainWindow>
#include <QThread>
#include <QTimer>

#include <functional>
#include <memory>

namespace Ui {
class MainWindow;
}

class QAction;
class QMenu;

class ControlPage;
class EscSettingsPage;
class IdentWizard;
class LineRecorder;
class SupportBundleAction;
class FirmwarePage;
class MotorPage;
class PortProvider;
class QAbstractButton;
class QMessageBox;
class UserDialogs;

// The program's single window, as a shell: the page stack with its navigation buttons, the
// port and device status, the info line, the port choice and the common questions. It owns
// the coordinator and the thread it runs in; the pages are widgets of their own.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    enum class Threading {
        CoordinatorThread, // the program: the coordinator in its own thread with its 50 ms clock
        CallerThread,      // tests: the coordinator stays here and is ticked by hand
    };

    enum Page { PageWelcome = 0, PageEscSettings = 1, PageMotor = 2, PageControl = 3, PageFirmware = 4 };

    // The provider and the dialogs must outlive the window.
    MainWindow(PortProvider *portProvider, const DataDirectory &dataDirectory, UserDialogs *dialogs,
               Threading threading = Threading::CoordinatorThread, QWidget *parent = nullptr);
    ~MainWindow() override;

    AppBase &appBase() { return m_appBase; }
    AppSettings &settings() { return m_settings; }
    Translations &translations() { return m_translations; }
    EscSettingsPage *escSettingsPage() const { return m_escSettingsPage; }
    MotorPage *motorPage() const { return m_motorPage; }
    IdentWizard *identWizard() const { return m_identWizard; }
    FirmwarePage *firmwarePage() const { return m_firmwarePage; }
    ControlPage *controlPage() const { return m_controlPage; }
    // The serial line's recorder (must outlive the window): the support bundle carries
    // its last minutes while a controller is connected.
    void setLineRecorder(LineRecorder *recorder);
    // Switches the controller off and on (demo mode: the simulated one), offered on the
    // control page as the way out of running mode.
    void setControllerRestart(std::function<void()> restart);

    // Reactions to the coordinator's objects (connected by pointer).
    void on_showInfo(QString msg, bool isMsgBox, UserDialogs::Icon icon = UserDialogs::Icon::Information);
    void on_portsUpdate(QList<PortInfo> zorbelPorts, QList<PortInfo> genPorts);
    void on_needPortSelectAndInform(QList<PortInfo> ports, bool zorbelPorts);
    void on_hidePortMessage();
    void on_portChoiceClosed();
    void on_portConnectionChange(QString portName, bool isZorbel, bool isConnecting, bool isConnected);
    void on_updateProcess();
    void on_pageChangeAllowed(int index);
    void on_pageChangeRefused();
    void on_deviceDisconnected();
    void on_deviceToRun();
    void on_connectionChanged(uint32_t serialNumber, Device_State_e deviceState, Device_FW_s fw);

protected:
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_pushButtonStatePort_clicked();
    void on_comboBoxLanguage_currentIndexChanged(int index);

private:
    void startCoordinator();
    // Once the window listens to the coordinator: its clock, and what went wrong at start.
    void startClock();
    void stopCoordinator();
    void buildPages();
    enum class PageScrolling { Whole, ByItself };
    void addPage(QWidget *page, PageScrolling scrolling = PageScrolling::Whole);
    void connectCoordinator();
    void applyStyleSheets();
    void fillLanguageList();
    void navigate(QAbstractButton *clicked);
    void checkOnly(int pageIndex);
    void pageChanged(int index);
    void startPortSelection();
    void showPortStatus();
    void showDeviceStatus();
    void setConnectionIcon(DeviceStatusView::ConnectionIcon icon);
    void setDeviceIcon(DeviceStatusView::DeviceIcon icon);
    void createActions();
    void retranslateActions();
    void showHelp();
    void showAbout();
    void restoreWindowState();
    void fitIntoScreen();
    // The port choice waits while another dialog is open: a key meant for that one must
    // not pick a port.
    void offerPortChoice();
    bool isAnotherDialogOpen() const;

    std::unique_ptr<Ui::MainWindow> ui;
    QueuedDialogs m_queuedDialogs;  // one dialog at a time, for the window and its pages
    UserDialogs *m_dialogs;
    int m_portChoicesClosed = 0; // choices the port manager closed without the user
    struct PendingPortChoice
    {
        QList<PortInfo> ports;
        bool zorbelPorts = false;
        bool waiting = false;
    } m_pendingPortChoice;
    QTimer m_portChoiceRetry; // looks again whether the other dialog has closed
    Threading m_threading;
    Translations m_translations;
    AppSettings m_settings;
    QThread m_coordinatorThread;
    AppBase m_appBase;
    QMessageBox *m_portMessageBox = nullptr;  // "No port is available", closed once a port is found
    QMessageBox *m_runQuestionBox = nullptr;  // "Do you run device?", closed when the device is lost
    QList<QAbstractButton *> m_navigationButtons;
    QTimer m_infoResetTimer;
    QTimer m_idProgressTimer;
    EscSettingsPage *m_escSettingsPage = nullptr;
    SupportBundleAction *m_supportBundleAction = nullptr;
    MotorPage *m_motorPage = nullptr;
    IdentWizard *m_identWizard = nullptr;
    FirmwarePage *m_firmwarePage = nullptr;
    ControlPage *m_controlPage = nullptr;
    QMenu *m_fileMenu = nullptr;
    QMenu *m_helpMenu = nullptr;
    QAction *m_quitAction = nullptr;
    QAction *m_helpAction = nullptr;
    QAction *m_aboutAction = nullptr;
    QList<QAction *> m_pageActions; // Ctrl+1 to Ctrl+4: the settings, motor, control and firmware pages
    bool m_uiReady = false;     // the widget tree exists (language events may come earlier)
    bool m_shownOnce = false;
    bool m_fittedWithFrame = false; // the window manager's frame is known and was fitted

    // The last status shown, so that a language change can show it again.
    struct PortStatus
    {
        QString portName;
        bool isZorbel = false;
        bool isConnecting = false;
        bool isConnected = false;
    } m_portStatus;
    struct DeviceStatus
    {
        uint32_t number = 0;
        Device_State_e state = DEVICE_DISCONNECTED;
        Device_FW_s fw;
    } m_deviceStatus;
};

#pragma once

#include "app/datadirectory.h"
#include "device/device.h"
#include "device/settingskeeper.h"
#include "link/requestchannel.h"
#include "wire/records.h"
#include "motors/motorfileexchange.h"
#include "motors/motorlibrary.h"

#include <QObject>
#include <QSet>
#include <QThread>

#include <atomic>
#include <memory>
#include <cstdint>

class ComHelper;
class DbManager;
class IdHelper;
class LogBackWorker;
class ParamsHelper;
class PingHelper;
class PortProvider;
class QTimer;
class StorageBackWorker;
class TestHelper;
class UpdateFwHelper;

// The device-side core: owns the port manager, the device model, the helpers, the motor
// database and the recording workers, wires them together, and drives them from the one
// 50 ms clock. Lives in the coordinator thread; the device model, the settings keeper and
// the database manager stay in the thread that constructed it (the GUI thread).
class AppBase : public QObject
{
    Q_OBJECT

public:
    enum AppActivity : int {
        ActivityPortClosed = 0,
        ActivityNoPort = 1,
        ActivityDevice = 2,
        ActivityParams = 3,
        ActivityIdent = 4,
        ActivityControl = 5,
        ActivityFirmware = 6,
    };
    Q_ENUM(AppActivity)

    static constexpr int TICK_MS = 50;

    // Whether the coordinator opens the motor database: the window does; a production job
    // does not (its motor is read once before the run, and a controller's motor is not
    // looked up or stored as an unknown motor).
    enum class MotorDatabase { Open, None };

    // The provider must outlive the coordinator.
    AppBase(PortProvider *portProvider, const DataDirectory &dataDirectory, QObject *parent = nullptr,
            MotorDatabase motorDatabase = MotorDatabase::Open);
    ~AppBase() override;

    // What the user, or a headless job, is working on; each runs its own steps on the ticks.
    enum class Work : uint8_t { Overview, Settings, Identification, Control, Firmware };

    // From any thread; takes effect in the coordinator thread.
    void setWork(Work work);
    // The window's page index (0 overview .. 4 firmware) as the work it stands for.
    void setActivePage(uint8_t page);
    bool isTimerActive() const { return m_timerActive.load(); }
    Device_State_e deviceState() const { return m_deviceState.load(); }
    bool isDeviceAvailable() const;
    AppActivity activity() const { return m_activity.load(); }

    ComHelper *comHelper() const { return m_comHelper; }
    Device *device() { return &m_device; }
    // Null with MotorDatabase::None, as are the motor list and the motor files.
    DbManager *dbManager() const { return m_dbManager; }
    PingHelper *pingHelper() const { return m_pingHelper; }
    ParamsHelper *paramsHelper() const { return m_paramsHelper; }
    IdHelper *idHelper() const { return m_idHelper; }
    // The motor list and the motor files; both live in the GUI thread with the database.
    MotorLibrary *motorLibrary() const { return m_motorLibrary.get(); }
    MotorFileExchange *motorFiles() const { return m_motorFiles.get(); }
    TestHelper *testHelper() const { return m_testHelper; }
    UpdateFwHelper *updateFwHelper() const { return m_updateFwHelper; }

    // Whether an update may go on when the controller's settings can be kept nowhere.
    enum class UpdateBackup : uint8_t { Required, NotRequired };

    // From any thread: the controller's settings are kept first, in the device model's
    // thread (SettingsKeeper::keepBeforeUpdate), before anything is sent; then the firmware
    // activity and the update itself in the coordinator thread. Settings that can be kept
    // neither in the database nor in a file are announced with updateBackupFailed; when the
    // backup is Required, the update is not started and nothing is sent.
    void startFirmwareUpdate(const QString &fileName, UpdateBackup backup = UpdateBackup::Required);

    // Keeps the controller's settings before a change that can lose them, and compares
    // them after an update; lives with the device model, in its thread, and is called there.
    SettingsKeeper *settingsKeeper() const { return m_settingsKeeper.get(); }

    QString logDirectory() const { return m_logDirectory; }

public slots:
    // Starts the 50 ms clock; call it in the coordinator thread once the coordinator has
    // been moved there (a queued call right after the thread starts).
    void startClock();
    // Tells the window, once, what went wrong at start-up (an unusable database).
    void reportStartupProblem();
    void stopTimer();
    // The window asks (a queued call from its thread) whether it may show its page `page`
    // (0 overview .. 4 firmware). Answered in the coordinator thread, once: pageChangeAllowed,
    // or pageChangeRefused after the reason went out through sendTextForInfo (the work under
    // way may not be left: a write waiting for its confirmation, an identification, a
    // running motor or tuning run, a firmware update). Called from another thread, it posts
    // itself into the coordinator thread.
    void requestPageChange(int page);

public:
    // At exit, from the thread that will destroy the coordinator: stops the clock and closes
    // the port in the coordinator thread, then hands the coordinator over to `home`. Waits
    // at most timeoutMs; false when the coordinator thread did not get to it in time.
    bool stopAndMoveTo(QThread *home, int timeoutMs);

public slots:

    void handleTimeout();
    void comPortOpened();
    void comPortClosed();
    void deviceStateChanged(Device_State_e deviceState);
    void logFileState(uint8_t state);
    void setError(uint32_t errorCode);
    void receiveTextForMsgBox(QString msg, bool isMsgBox);

signals:
    void sendTextForInfo(QString msg, bool isMsgBox);
    void resetControl(QString msg, uint8_t code);
    void on_deviceToRun();
    void on_deviceDisconnected();
    void on_updateProcess();
    // The answers to requestPageChange.
    void pageChangeAllowed(int page);
    void pageChangeRefused(int page);

    // The controller's settings could not be kept before the update of `fileName`; `text`
    // says why. `stopped`: the update was not started (the backup was required).
    void updateBackupFailed(QString fileName, QString text, bool stopped);

    void createLogFile(QString logDirectory, QString deviceSerialNumber);
    void writeMsgToLogFile(QString msg);
    void closeLogFile();

private:
    void startLogWorker();
    void startSampleWorker(const QString &sampleDirectory);
    void connectHelpers();
    void connectMotorDatabase();
    void connectTuning();
    void connectFirmwareUpdater();
    void rememberIdentity(uint32_t serialNumber);
    // Why the work under way may not be left now (empty: it may), and whether the user is
    // told in a message box rather than on the info line. Coordinator thread.
    QString busyReason(bool *messageBox) const;
    // The second half of startFirmwareUpdate, after the settings were kept.
    void startUpdateInOwnThread(const QString &fileName);

    DbManager *m_dbManager = nullptr;
    QTimer *m_timer = nullptr;
    ComHelper *m_comHelper = nullptr;
    IdHelper *m_idHelper = nullptr;
    ParamsHelper *m_paramsHelper = nullptr;
    PingHelper *m_pingHelper = nullptr;
    TestHelper *m_testHelper = nullptr;
    UpdateFwHelper *m_updateFwHelper = nullptr;

    std::atomic<AppActivity> m_activity {ActivityNoPort};
    std::atomic<Device_State_e> m_deviceState {DEVICE_DISCONNECTED};
    std::atomic<bool> m_timerActive {false};
    uint32_t m_serialNumber = 0; // of the device last identified by the polling helper
    QSet<uint32_t> m_errorsShown; // device errors shown since the port opened

    QThread m_logThread;
    QThread m_storageThread;
    LogBackWorker *m_logWorker = nullptr;
    StorageBackWorker *m_sampleWorker = nullptr;
    QString m_logDirectory;
    QString m_startupProblem;

    RequestChannel m_deviceRequests; // before the device model, which is built with it
    Device m_device;
    std::unique_ptr<MotorLibrary> m_motorLibrary;
    std::unique_ptr<MotorFileExchange> m_motorFiles;
    // Beside the device model, in its thread (no parent, never moved); made after it and
    // gone before it.
    std::unique_ptr<SettingsKeeper> m_settingsKeeper;
};

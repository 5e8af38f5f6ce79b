#include "appbase.h"

#include "device/paramshelper.h"
#include "device/pinghelper.h"
#include "firmware/updatefwhelper.h"
#include "ident/idhelper.h"
#include "link/comhelper.h"
#include "motors/dbmanager.h"
#include "recording/logbackworker.h"
#include "recording/storagebackworker.h"
#include "tuning/testhelper.h"
#include "wire/messageids.h"

#include <QDebug>
#include <QLoggingCategory>
#include <QSemaphore>
#include <QTimer>

#include <memory>

Q_LOGGING_CATEGORY(lcApp, "kordo.app")

namespace {

QDebug appDebug()
{
    return QMessageLogger(nullptr, 0, nullptr).debug(lcApp()).noquote() << "APP_BASE:";
}

} // namespace

AppBase::AppBase(PortProvider *portProvider, const DataDirectory &dataDirectory, QObject *parent,
                 MotorDatabase motorDatabase)
    : QObject(parent), m_deviceRequests(QStringLiteral("Device")), m_device(&m_deviceRequests)
{
    registerDeviceRecordMetaTypes();

    QString problem;
    m_logDirectory = dataDirectory.logDirectory(&problem);
    // A log directory that cannot be made is reported by the log worker at the first
    // connection ("Log file is not created").
    // Made by the sample worker with the first samples, which names it when it cannot be.
    const QString sampleDirectory = dataDirectory.samplePath();

    m_timer = new QTimer(this);
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(TICK_MS);
    const QString databaseDirectory = dataDirectory.databaseDirectory(&problem);
    if (motorDatabase == MotorDatabase::Open) {
        m_dbManager = new DbManager(nullptr, databaseDirectory);
        m_motorLibrary = std::make_unique<MotorLibrary>(*m_dbManager);
        m_motorFiles = std::make_unique<MotorFileExchange>(*m_dbManager);
        m_startupProblem = m_motorLibrary->startupProblem();
    }
    // The settings backups have a connection of their own, also in the production line's jobs.
    m_settingsKeeper = std::make_unique<SettingsKeeper>(m_device, databaseDirectory, dataDirectory.path());
    m_comHelper = new ComHelper(portProvider, this);
    // Each requester has its own channel on the port's request line: the answers and
    // failures of its requests come back to it alone.
    RequestLine *line = m_comHelper->requestLine();
    const auto channel = [this, line](const QString &tag) {
        auto *requests = new RequestChannel(tag, this);
        line->attach(requests);
        return requests;
    };
    line->attach(&m_deviceRequests);
    m_idHelper = new IdHelper(channel(QStringLiteral("IdHelper")), this);
    m_updateFwHelper = new UpdateFwHelper(channel(QStringLiteral("UpdateFwHelper")), this);
    m_updateFwHelper->setLineQuietCheck([line] { return line->isQuiet(); });
    m_paramsHelper = new ParamsHelper(channel(QStringLiteral("ParamsHelper")), this);
    m_pingHelper = new PingHelper(channel(QStringLiteral("PingHelper")), this);
    m_testHelper = new TestHelper(this);

    startLogWorker();
    startSampleWorker(sampleDirectory);
    connectHelpers();
    connectFirmwareUpdater();
}

AppBase::~AppBase()
{
    m_logThread.quit();
    m_logThread.wait();
    m_storageThread.quit();
    m_storageThread.wait();
    delete m_comHelper; // stops its readiness thread and closes the port
    m_comHelper = nullptr;
    delete m_dbManager;
}

void AppBase::startLogWorker()
{
    m_logWorker = new LogBackWorker;
    m_logWorker->moveToThread(&m_logThread);
    connect(&m_logThread, &QThread::finished, m_logWorker, &QObject::deleteLater);
    connect(this, &AppBase::createLogFile, m_logWorker, &LogBackWorker::createFile);
    connect(this, &AppBase::closeLogFile, m_logWorker, &LogBackWorker::closeFile);
    connect(this, &AppBase::writeMsgToLogFile, m_logWorker, &LogBackWorker::writeMessage);
    connect(m_idHelper, &IdHelper::writeLogMessage, m_logWorker, &LogBackWorker::writeMessage);
    connect(m_logWorker, &LogBackWorker::fileState, this, &AppBase::logFileState);
    connect(m_logWorker, &LogBackWorker::writeFailed, this, [this](QString text) { emit sendTextForInfo(text, true); });
    m_logThread.start();
}

void AppBase::startSampleWorker(const QString &sampleDirectory)
{
    m_sampleWorker = new StorageBackWorker(sampleDirectory);
    m_sampleWorker->moveToThread(&m_storageThread);
    connect(&m_storageThread, &QThread::finished, m_sampleWorker, &QObject::deleteLater);
    connect(m_pingHelper, &PingHelper::addSample, m_sampleWorker, &StorageBackWorker::addSample);
    connect(m_pingHelper, &PingHelper::changeFile, m_sampleWorker, &StorageBackWorker::changeFile);
    connect(m_sampleWorker, &StorageBackWorker::sendTextForMsgBox, this, &AppBase::receiveTextForMsgBox);
    m_storageThread.start();
}

void AppBase::connectHelpers()
{
    ComHelper *com = m_comHelper;
    connect(m_timer, &QTimer::timeout, this, &AppBase::handleTimeout);
    connect(com, &ComHelper::comPortOpened, this, &AppBase::comPortOpened);
    connect(com, &ComHelper::comPortClosed, this, &AppBase::comPortClosed);
    connect(com, &ComHelper::portProblem, this, [this](const QString &problem) { emit sendTextForInfo(problem, false); });

    // The serial number for the log file is taken here, in this thread, before the device
    // model (which may answer at once when it shares the thread) reports the new state.
    connect(m_pingHelper, &PingHelper::device_createDevice, this,
            [this](uint32_t serialNumber) { rememberIdentity(serialNumber); });
    connect(m_pingHelper, &PingHelper::device_runDevice, this, [this](bool actualSerNum, uint32_t serialNumber) {
        if (!actualSerNum)
            rememberIdentity(serialNumber);
    });
    connect(m_pingHelper, &PingHelper::device_createDevice, &m_device, &Device::createDevice);
    connect(m_pingHelper, &PingHelper::device_deleteDevice, &m_device, &Device::deleteDevice);
    connect(m_pingHelper, &PingHelper::device_runDevice, &m_device, &Device::runDevice);
    if (m_dbManager)
        connectMotorDatabase();
    connect(m_paramsHelper, &ParamsHelper::device_setPwmInParams, &m_device, &Device::setPwmInParams);
    connect(m_paramsHelper, &ParamsHelper::device_setMotionParams, &m_device, &Device::setMotionParams);

    connect(&m_device, &Device::setDeviceAddress, com, &ComHelper::setVyxAddress);

    connect(m_paramsHelper, &ParamsHelper::sendTextForMsgBox, this, &AppBase::receiveTextForMsgBox);
    connect(m_pingHelper, &PingHelper::sendPollAnswer, m_paramsHelper, &ParamsHelper::receivePollAnswer);
    connect(m_pingHelper, &PingHelper::sendPollAnswer, m_idHelper, &IdHelper::receivePollAnswer);
    connect(m_idHelper, &IdHelper::deviceDisconnect, &m_device, &Device::deleteDevice);
    connect(m_idHelper, &IdHelper::updateMotorHours, &m_device, &Device::updateMotorHours);
    connect(m_idHelper, &IdHelper::updateMotorParams, &m_device, &Device::updateMotorParams);

    connect(&m_device, &Device::deviceConnectionStateChanged, this, &AppBase::deviceStateChanged);
    connect(&m_device, &Device::deviceConnectionStateChanged, m_paramsHelper, &ParamsHelper::deviceConnectionState);
    connect(&m_device, &Device::deviceConnectionStateChanged, m_idHelper, &IdHelper::deviceConnectionState);
    connect(&m_device, &Device::deviceConnectionStateChanged, m_pingHelper, &PingHelper::deviceConnectionState);
    connect(&m_device, &Device::setError, this, &AppBase::setError);
    connect(&m_device, &Device::setMotionParamsDirectly, m_paramsHelper, &ParamsHelper::setMotionParamsDirectly);
    connect(m_paramsHelper, &ParamsHelper::updateDeviceAddress, &m_device, &Device::updateDeviceAddress);
    connectTuning();
}

void AppBase::connectMotorDatabase()
{
    connect(&m_device, &Device::db_findMotor, m_dbManager,
            qOverload<MOTOR_TOTAL *, const QString &>(&DbManager::findMotor));
    // A motor not stored while another program held the database is looked up (and
    // stored) again once the database is free. Both live in the GUI thread; queued, as
    // the database may notice it is free in the middle of the device model's own lookup.
    connect(
        m_dbManager, &DbManager::usableAgain, &m_device,
        [this] {
            if (m_device.state() == DEVICE_CONNECTED)
                m_device.updateMotorHours();
        },
        Qt::QueuedConnection);
    connect(m_dbManager, &DbManager::databaseMessage, this, [this](const QString &text) {
        emit sendTextForInfo(text, true);
    });
}

void AppBase::connectTuning()
{
    TestHelper *tuning = m_testHelper;
    connect(&m_device, &Device::deviceConnectionStateChanged, tuning, &TestHelper::deviceConnectionState);
    connect(m_paramsHelper, &ParamsHelper::device_setMotionParams, tuning, &TestHelper::motionParamsSaved);
    connect(tuning, &TestHelper::sendTextForMsgBox, this, &AppBase::receiveTextForMsgBox);
    // Same thread: the sample vector is read during the signal.
    connect(m_pingHelper, &PingHelper::on_telemetryUpdated, tuning, &TestHelper::telemetryUpdated);
    connect(tuning, &TestHelper::setDutyCycle, m_pingHelper, &PingHelper::setDutyCycle);
    connect(&m_device, &Device::setControllerParams, tuning, &TestHelper::setControllerParams);
    connect(tuning, &TestHelper::updateControllerParams, &m_device, &Device::updateControllerParams);
    connect(m_pingHelper, &PingHelper::resetControl, tuning, &TestHelper::resetControl);
}

void AppBase::connectFirmwareUpdater()
{
    ComHelper *com = m_comHelper;
    UpdateFwHelper *fw = m_updateFwHelper;
    // The updater empties the queue itself (its channel) whenever the line changes hands.
    connect(com, &ComHelper::comPortClosed, fw, &UpdateFwHelper::portClosed);
    connect(fw, &UpdateFwHelper::lowLatencyWanted, com, &ComHelper::setLowLatency);
    connect(fw, &UpdateFwHelper::setBootloaderProtocol, &m_device, &Device::bootloaderRun);
    connect(fw, &UpdateFwHelper::setVyxProtocol, &m_device, &Device::deleteDevice);
    // Back after a good update: its records are compared with those kept before it, by the
    // keeper in the device model's thread.
    SettingsKeeper *keeper = m_settingsKeeper.get();
    connect(fw, &UpdateFwHelper::updateFinished, keeper, &SettingsKeeper::updateFinished);
    connect(&m_device, &Device::readBatchFinished, keeper, &SettingsKeeper::compareAfterUpdate);
    // Where a snapshot went, when not in the database, on the coordinator's one way to the user.
    connect(keeper, &SettingsKeeper::sendTextForMsgBox, this, &AppBase::receiveTextForMsgBox);
    connect(fw, &UpdateFwHelper::finishPoll, &m_device, &Device::bootloaderConnected);
    connect(fw, &UpdateFwHelper::sendTextForMsgBox, this, &AppBase::receiveTextForMsgBox);
    connect(&m_device, &Device::deviceConnectionStateChanged, fw, &UpdateFwHelper::deviceConnectionState);
}

void AppBase::startFirmwareUpdate(const QString &fileName, UpdateBackup backup)
{
    // The records as the device model holds them, kept in its thread before anything is
    // sent; the update is then started in the coordinator thread.
    SettingsKeeper *keeper = m_settingsKeeper.get();
    if (QThread::currentThread() != keeper->thread()) {
        QMetaObject::invokeMethod(
            keeper, [this, fileName, backup] { startFirmwareUpdate(fileName, backup); }, Qt::QueuedConnection);
        return;
    }
    const SettingsSnapshots::Kept kept = keeper->keepBeforeUpdate();
    if (!kept.ok && !kept.problem.isEmpty()) {
        const bool stop = backup == UpdateBackup::Required;
        emit updateBackupFailed(fileName, SettingsSnapshots::keptText(kept), stop);
        if (stop)
            return;
    }
    startUpdateInOwnThread(fileName);
}

void AppBase::startUpdateInOwnThread(const QString &fileName)
{
    // The activity is changed in the coordinator thread only (see setActivePage).
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, fileName] { startUpdateInOwnThread(fileName); }, Qt::QueuedConnection);
        return;
    }
    m_activity = ActivityFirmware;
    m_updateFwHelper->startUpdate(fileName);
}

void AppBase::startClock()
{
    m_timer->start();
    m_timerActive = true;
    reportStartupProblem();
}

void AppBase::reportStartupProblem()
{
    if (m_startupProblem.isEmpty())
        return;
    emit sendTextForInfo(m_startupProblem, true);
    m_startupProblem.clear();
}

// Called once, at exit: the port is closed here, in the thread that owns it.
void AppBase::stopTimer()
{
    m_timer->stop();
    // A running motor must not keep its last command: the last request says "control off".
    if (m_pingHelper->pollMode() == PingHelper::PING_TELEMETRY) {
        m_pingHelper->setDutyCycle(0, false);
        m_comHelper->writeLastRequest(VyxMsg::TELEMETRY, DutyCommand().encode());
    }
    m_comHelper->shutdown();
    m_timerActive = false;
}

bool AppBase::stopAndMoveTo(QThread *home, int timeoutMs)
{
    const auto stop = [this, home] {
        stopTimer();
        moveToThread(home);
    };
    if (QThread::currentThread() == thread()) {
        stop();
        return true;
    }
    // The call is queued behind the tick that may be running; the caller waits for it to
    // finish, not for a flag to change.
    auto done = std::make_shared<QSemaphore>();
    QMetaObject::invokeMethod(this, [stop, done] {
        stop();
        done->release();
    }, Qt::QueuedConnection);
    return done->tryAcquire(1, timeoutMs);
}

void AppBase::handleTimeout()
{
    m_testHelper->handleTimeout();
    m_comHelper->handleTimeout();
    if (m_activity > ActivityNoPort)
        m_pingHelper->handleTimeout();
    // The probe looks after this tick's poll went out: it takes only a tick between two
    // detection requests (each holds the line until the next tick), never the place of one.
    m_updateFwHelper->probeTick(m_activity > ActivityNoPort, !m_comHelper->mayFrameAnswerArrive());

    // A failure raised just before the firmware page was left is still reported (and the
    // device model leaves its bootloader state).
    const AppActivity activity = m_activity.load();
    if (activity > ActivityNoPort && activity != ActivityFirmware
        && m_updateFwHelper->state() == UpdateFwHelper::UpdateFailed)
        m_updateFwHelper->updateTick();

    switch (activity) {
    case ActivityParams:
        m_paramsHelper->tick();
        break;
    case ActivityFirmware:
        m_updateFwHelper->updateTick();
        break;

    case ActivityPortClosed:
        m_activity = ActivityNoPort;
        m_comHelper->startPortSelection();
        break;
    default:
        break;
    }
}

void AppBase::comPortOpened()
{
    m_activity = ActivityDevice;
    m_pingHelper->enablePolling(true);
    appDebug() << "Com connected";
    emit on_updateProcess();
}

void AppBase::comPortClosed()
{
    appDebug() << "Com disconnected";
    m_activity = ActivityPortClosed;
    m_pingHelper->enablePolling(false);
    m_errorsShown.clear();
}

void AppBase::rememberIdentity(uint32_t serialNumber)
{
    m_serialNumber = serialNumber;
}

void AppBase::deviceStateChanged(Device_State_e deviceState)
{
    const Device_State_e before = m_deviceState.exchange(deviceState);
    switch (deviceState) {
    case DEVICE_CONNECTED:
        emit createLogFile(m_logDirectory, LogBackWorker::serialNumberForFileName(m_serialNumber));
        emit on_updateProcess();
        break;
    case DEVICE_DISCONNECTED:
        emit closeLogFile();
        // A controller that answered is gone. The end of its bootloader (a firmware update's
        // planned resets, its success as well) is none: no motor turned, and the update
        // tells its own outcome.
        if (before == DEVICE_CONNECTED || before == DEVICE_RUNNING)
            emit resetControl(tr("Control signal lost"), 2);
        emit on_deviceDisconnected();
        break;
    case DEVICE_RUNNING:
        emit closeLogFile();
        break;
    default:
        break;
    }
}

void AppBase::logFileState(uint8_t state)
{
    switch (state) {
    case 0:
        emit writeMsgToLogFile(QStringLiteral("Connected device ") + QString::number(m_serialNumber));
        break;
    case 1:
        emit sendTextForInfo(tr("Log file is not created"), true);
        break;
    case 2:
        emit sendTextForInfo(tr("Data is not written to log file!"), false);
        break;
    default:
        break;
    }
}

void AppBase::setError(uint32_t errorCode)
{
    // A controller that fails the same way on every re-detection would raise the same
    // box again and again: each error is shown once while the port stays open.
    if (m_errorsShown.contains(errorCode))
        return;
    m_errorsShown.insert(errorCode);
    QString text = tr("Error: 0x%1").arg(errorCode, 0, 16);
    const QStringList records = Device::recordNames(uint16_t(errorCode));
    if (!records.isEmpty())
        text += QLatin1Char('\n') + tr("Could not be read from the device: %1").arg(records.join(QStringLiteral(", ")));
    emit sendTextForInfo(text, true);
}

void AppBase::receiveTextForMsgBox(QString msg, bool isMsgBox)
{
    emit sendTextForInfo(msg, isMsgBox);
}

bool AppBase::isDeviceAvailable() const
{
    const Device_State_e state = m_deviceState;
    return state == DEVICE_CONNECTED || state == DEVICE_RUNNING;
}

void AppBase::setActivePage(uint8_t page)
{
    if (page <= uint8_t(Work::Firmware))
        setWork(Work(page));
}

// The activity is only ever changed in the coordinator thread, between two ticks: a page
// chosen in the GUI thread can then never hide a port loss from the tick that acts on it.
void AppBase::setWork(Work work)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, work] { setWork(work); }, Qt::QueuedConnection);
        return;
    }
    // Without a port nothing runs: no work starts polling or queues requests. The work's
    // activity follows once the port opens (on_updateProcess).
    if (m_activity <= ActivityNoPort)
        return;
    const bool connected = m_deviceState != DEVICE_DISCONNECTED;
    switch (work) {
    case Work::Overview:
        if (connected)
            m_activity = ActivityDevice;
        break;
    case Work::Settings:
        if (connected)
            m_activity = ActivityParams;
        break;
    case Work::Identification:
        if (connected) {
            m_activity = ActivityIdent;
            QMetaObject::invokeMethod(&m_device, &Device::updateMotorHours); // in the device's thread
        }
        break;
    case Work::Control:
        m_activity = ActivityControl;
        if (m_deviceState == DEVICE_CONNECTED)
            emit on_deviceToRun();
        break;
    case Work::Firmware:
        m_activity = ActivityFirmware;
        break;
    }
}

QString AppBase::busyReason(bool *messageBox) const
{
    *messageBox = false;
    switch (m_activity.load()) {
    case ActivityParams:
        if (m_paramsHelper->isSending())
            return tr("Parameteres are send to the device, now");
        return QString();
    case ActivityIdent:
        if (m_idHelper->isIdentRunning())
            return tr("Motor identification is still running");
        return QString();
    case ActivityControl:
        // A tuning run starts its next trial by itself: the page must not be left meanwhile.
        if ((m_deviceState == DEVICE_RUNNING && m_pingHelper->isDutyEnabled()) || m_testHelper->isTuningRunning()) {
            *messageBox = true;
            return tr("Please disable control first");
        }
        return QString();
    case ActivityFirmware:
        if (m_updateFwHelper->isUpdateRunning())
            return tr("Firmware update is still running");
        return QString();
    default:
        return QString();
    }
}

void AppBase::requestPageChange(int page)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, page] { requestPageChange(page); }, Qt::QueuedConnection);
        return;
    }
    if (page < 0 || page > int(Work::Firmware)) {
        emit pageChangeRefused(page);
        return;
    }
    bool messageBox = false;
    const QString reason = busyReason(&messageBox);
    if (!reason.isEmpty()) {
        emit sendTextForInfo(reason, messageBox);
        emit pageChangeRefused(page);
        return;
    }
    emit pageChangeAllowed(page);
}

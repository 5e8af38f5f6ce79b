#include "cli/productionjob.h"

#include "app/appbase.h"
#include "app/devicestatusview.h"
#include "device/paramshelper.h"
#include "device/settingsfielddiff.h"
#include "device/settingskeeper.h"
#include "device/settingsrecords.h"
#include "device/settingsrestore.h"
#include "firmware/updateerror.h"
#include "firmware/updatefwhelper.h"
#include "ident/idhelper.h"
#include "link/comhelper.h"
#include "capture/capturingportprovider.h"
#include "link/serialportprovider.h"
#include "wire/messageids.h"

#include <QFileInfo>
#include <QTimer>

namespace {

// An update that has not begun this long after its start was refused by the updater.
constexpr int UPDATE_START_MS = 2000;

bool isImageError(uint32_t code)
{
    switch (code) {
    case UpdateError::Size:
    case UpdateError::Header:
    case UpdateError::Variant:
    case UpdateError::Checksum:
    case UpdateError::File:
        return true;
    default:
        return false;
    }
}

// The job's own port only: listing the machine's ports walks the device tree, and a bench
// of coordinators doing that at every tick costs more than the updates themselves.
class OnePortProvider : public PortProvider
{
public:
    explicit OnePortProvider(const PortInfo &port) : m_port(port) {}

    QList<PortInfo> availablePorts() const override
    {
        // Gone while its device file is: an unplugged adapter, a closed pseudo-terminal.
        return QFileInfo::exists(m_port.systemLocation) ? QList<PortInfo> {m_port} : QList<PortInfo> {};
    }
    QIODevice *createPort(const QString &portName, QObject *parent) override
    {
        return m_serial.createPort(portName, parent);
    }
    bool checkReadiness(const QString &portName) override { return m_serial.checkReadiness(portName); }
    QString readinessProblem(const QString &portName) override { return m_serial.readinessProblem(portName); }
    bool setLowLatency(QIODevice *port, bool on) override { return m_serial.setLowLatency(port, on); }

private:
    PortInfo m_port;
    SerialPortProvider m_serial;
};

} // namespace

ProductionJob::ProductionJob(const PortInfo &port, const ProductionOrder &order)
    : m_port(port), m_portName(port.portName), m_order(order)
{
    m_outcome.port = m_portName;
}

ProductionJob::~ProductionJob() = default;

void ProductionJob::start()
{
    m_total.start();
    m_ports = std::make_unique<OnePortProvider>(m_port);
    if (m_order.lineRecorder)
        m_ports = std::make_unique<CapturingPortProvider>(std::move(m_ports), m_order.lineRecorder, m_order.captureLine);
    // Without the motor database: the jobs of one run would all look up, and store as
    // unknown motors, their controllers' motors in one file at once.
    m_app = std::make_unique<AppBase>(m_ports.get(), m_order.dataDirectory, nullptr, AppBase::MotorDatabase::None);
    AppBase *app = m_app.get();
    ComHelper *com = app->comHelper();
    UpdateFwHelper *updater = app->updateFwHelper();

    // Asked again while the port is away.
    connect(com, &ComHelper::needPortSelectAndInform, this, [this, com](QList<PortInfo> ports, bool) {
        for (const PortInfo &port : ports) {
            if (port.portName == m_portName) {
                com->selectPort(m_portName);
                return;
            }
        }
        com->portSelectionCanceled(); // asked again while the port is away
    });
    connect(com, &ComHelper::comPortOpened, this, [this] { m_portOpened = true; });
    connect(com, &ComHelper::portProblem, this, [this](const QString &problem) { m_portProblem = problem; });
    connect(com, &ComHelper::comPortClosed, this, [this] {
        switch (m_step) {
        case Step::Flash:
            m_portLost = true; // the updater reports the end of the update itself
            break;
        case Step::Settings:
        case Step::Restore:
        case Step::Motor:
            fail(tr("The port was lost."), tr("plug the controller in again and re-run on this port"));
            break;
        default:
            // While a controller is awaited the port manager opens the port again; the
            // step's time limit decides.
            break;
        }
    });

    connect(updater, &UpdateFwHelper::bootloaderFound, this, [this] {
        if (m_step != Step::Find)
            return;
        if (m_outcome.firmwareBefore.isEmpty()) // not when found again after a lost answer
            m_outcome.firmwareBefore = tr("bootloader");
        m_foundInBootloader = true;
        identify();
    });
    connect(updater, &UpdateFwHelper::on_updateFwState, this, [this](QString state) {
        if (!state.isEmpty() && state != m_lastState)
            emit progress(m_portName, state);
        m_lastState = state;
    });
    connect(updater, &UpdateFwHelper::updateProgressBar, this, [this](int value, int, int max, QString format) {
        if (max != 100 || !format.isNull())
            return; // the countdown and the busy bar: the state lines say enough
        if (value / 10 != m_lastPercent / 10 || m_lastPercent < 0)
            emit progress(m_portName, QStringLiteral("%1 %").arg(value));
        m_lastPercent = value;
    });
    connect(updater, &UpdateFwHelper::sendTextForMsgBox, this, [this](QString msg) { m_updateMessage = msg; });
    connect(updater, &UpdateFwHelper::updateFinished, this, [this](bool success, uint32_t code) {
        if (m_step != Step::Flash)
            return;
        m_flashEnded = true;
        m_flashSucceeded = success;
        m_flashError = code;
    });

    ParamsHelper *params = app->paramsHelper();
    connect(params, &ParamsHelper::device_setPwmInParams, this, [this] { m_pwmInConfirmed = true; });
    connect(params, &ParamsHelper::device_setMotionParams, this, [this] { m_motionConfirmed = true; });
    connect(params, &ParamsHelper::recordRefused, this, [this](uint8_t msgId) {
        if (m_step != Step::Settings)
            return;
        fail(tr("The controller refused the %1 settings.")
                 .arg(msgId == VyxMsg::WRITE_PWM_IN_PARAMS ? tr("PWM input") : tr("motion")),
             tr("check that the settings file suits this controller and its firmware; a re-run is refused again"));
    });
    connect(app->idHelper(), &IdHelper::storedMotorAnswered, this, [this](bool accepted, bool answered) {
        if (m_step != Step::Motor)
            return;
        if (accepted)
            succeed();
        else if (answered)
            fail(tr("The controller refused the motor %1.").arg(m_order.motorName),
                 tr("check that the motor suits this controller"));
        else
            fail(tr("The controller did not confirm the motor %1.").arg(m_order.motorName),
                 tr("re-run with --motor on this port"));
    });

    if (m_order.hasRestore) {
        m_restore = std::make_unique<SettingsRestore>(app->device(), params, app->idHelper());
        connect(m_restore.get(), &SettingsRestore::aboutToWrite, this, [this] {
            keepSnapshot(SettingsSnapshot::Reason::Restore);
            emit progress(m_portName, tr("Restoring: %1").arg(m_restore->written().join(QStringLiteral(", "))));
            const SettingsSnapshot &backup = m_order.restore;
            const QStringList written = m_restore->written();
            if (written.contains(SettingsRestore::pwmInName()) || written.contains(SettingsRestore::motionName())) {
                SettingsRecords records;
                records.pwmIn = backup.pwmIn.isEmpty() ? m_app->device()->pwmInParams() : SET_PWM_IN_PARAMS::unpack(backup.pwmIn);
                records.motion =
                    backup.motion.isEmpty() ? m_app->device()->motionParams() : SET_MOTION_PARAMS::unpack(backup.motion);
                reportChanges(records);
            }
        });
        connect(m_restore.get(), &SettingsRestore::finished, this, &ProductionJob::restoreFinished);
    }

    // The snapshot kept before the update (asked by the coordinator) and before each write.
    connect(app->settingsKeeper(), &SettingsKeeper::snapshotKept, this, [this](qint64 id, QString text) {
        if (id > 0)
            emit progress(m_portName, tr("Settings kept as backup %1").arg(id));
        else
            emit progress(m_portName, text);
    });

    // Settings that can be kept nowhere: without --without-backup the update is not started.
    connect(app, &AppBase::updateBackupFailed, this, [this](QString, QString text, bool stopped) {
        if (!stopped)
            emit progress(m_portName, text);
        else
            fail(tr("%1 The firmware was not updated; nothing was sent to the controller.").arg(text),
                 tr("make room for the backup, or re-run with --without-backup"));
    });

    m_timer = new QTimer(this);
    m_timer->setInterval(AppBase::TICK_MS);
    connect(m_timer, &QTimer::timeout, this, &ProductionJob::tick);
    app->startClock();
    com->startPortSelection();
    m_timer->start();
    startStep(Step::Find);
}

void ProductionJob::interrupt()
{
    if (m_step == Step::Flash)
        fail(tr("interrupted"), tr("re-run --flash on this port: the controller waits in its bootloader"));
    else
        fail(tr("interrupted"), tr("re-run on this port"));
}

void ProductionJob::startStep(Step step)
{
    m_step = step;
    m_stepClock.start();
}

bool ProductionJob::stepTimedOut(int limitMs) const
{
    return m_stepClock.hasExpired(limitMs);
}

bool ProductionJob::deviceReady() const
{
    const Device_State_e state = m_app->deviceState();
    return (state == DEVICE_CONNECTED && !m_app->device()->isReadBatchRunning()) || state == DEVICE_RUNNING;
}

QString ProductionJob::firmwareText() const
{
    return DeviceStatusView::firmwareVersion(m_app->device()->firmware());
}

void ProductionJob::tick()
{
    switch (m_step) {
    case Step::Find:
        checkFind();
        break;
    case Step::Identified:
        break; // waiting for the line's word
    case Step::Flash:
        checkFlash();
        break;
    case Step::Return:
        checkReturn();
        break;
    case Step::Settings:
        checkSettings();
        break;
    case Step::Restore:
        break; // the restore keeps its own time limit and tells its outcome
    case Step::Verify:
        checkVerify();
        break;
    case Step::Motor:
        if (stepTimedOut(WRITE_TIMEOUT_MS))
            fail(tr("The controller did not confirm the motor %1.").arg(m_order.motorName),
                 tr("re-run with --motor on this port"));
        break;
    case Step::Done:
        break;
    }
}

void ProductionJob::continueAfter(Step done)
{
    if (done < Step::Settings && (m_order.hasSettings || m_order.hasRestore))
        startSettings();
    else if (done < Step::Motor && !m_order.motorName.isEmpty())
        startMotor();
    else
        succeed();
}

void ProductionJob::checkFind()
{
    if (deviceReady()) {
        m_outcome.serialNumber = QString::number(m_app->device()->serialNumber());
        m_foundInBootloader = false;
        identify();
        return;
    }
    if (!stepTimedOut(m_order.findTimeoutMs))
        return;
    if (m_portOpened)
        fail(tr("No controller was found."), tr("check the cable and the power of the controller, then re-run"));
    else if (!m_portProblem.isEmpty())
        fail(tr("The port could not be opened: %1").arg(m_portProblem),
             tr("check that this is the controller's adapter and that no other program uses it, then re-run"));
    else
        fail(tr("The port was not found."), tr("check the port name and that the adapter is plugged in, then re-run"));
}

// The first time: the line hears of the controller and the job waits for its word. Found
// again later (after an update lost its first answer): it goes on at once.
void ProductionJob::identify()
{
    if (m_identified) {
        continueFound();
        return;
    }
    m_identified = true;
    startStep(Step::Identified);
    emit identified(m_portName, m_foundInBootloader ? QString() : m_outcome.serialNumber);
}

void ProductionJob::proceed()
{
    if (m_step != Step::Identified)
        return;
    continueFound();
}

void ProductionJob::standDown(const QString &result, const QString &advice)
{
    if (m_step != Step::Identified)
        return;
    fail(result, advice);
}

void ProductionJob::continueFound()
{
    if (m_foundInBootloader) {
        if (m_order.firmwareFile.isEmpty())
            fail(tr("The controller waits in its bootloader."), tr("write its firmware with --flash"));
        else
            startFlash();
        return;
    }
    // Lost again while the other ports were heard: looked for once more.
    if (!deviceReady()) {
        startStep(Step::Find);
        return;
    }
    // Nothing is written to a controller that drives its motor: the motor is not stopped
    // on anyone's behalf, and a running controller takes neither settings nor a motor.
    if (m_app->deviceState() == DEVICE_RUNNING) {
        fail(tr("The controller's motor is running; nothing was written."),
             tr("stop the motor, then re-run on this port"));
        return;
    }
    if (!m_flashRetried)
        m_outcome.firmwareBefore = firmwareText();
    m_outcome.firmwareAfter = firmwareText();
    emit progress(m_portName, tr("Controller %1, firmware %2").arg(m_outcome.serialNumber, m_outcome.firmwareBefore));
    if (!m_order.firmwareFile.isEmpty())
        startFlash();
    else
        continueAfter(Step::Return);
}

void ProductionJob::startFlash()
{
    startStep(Step::Flash);
    m_outcome.firmwareAfter.clear(); // known again once the new firmware answers
    m_app->startFirmwareUpdate(m_order.firmwareFile, m_order.updateWithoutBackup
                                                         ? AppBase::UpdateBackup::NotRequired
                                                         : AppBase::UpdateBackup::Required);
}

void ProductionJob::checkFlash()
{
    if (!m_flashEnded) {
        // The updater refuses to start on a controller that drives its motor.
        if (m_app->updateFwHelper()->state() == UpdateFwHelper::UpdateIdle && stepTimedOut(UPDATE_START_MS))
            fail(m_updateMessage.isEmpty() ? tr("The update did not start.") : m_updateMessage,
                 tr("stop the motor, then re-run --flash on this port"));
        return;
    }
    // Judged a tick after the end, when a lost port has been reported too.
    if (m_flashSucceeded) {
        emit progress(m_portName, tr("Firmware written; waiting for the controller to start it"));
        startStep(Step::Return);
        return;
    }
    // An answer lost before the first page (the reset's, an identification step's) leaves
    // the controller as it was or in its bootloader: look for it once more and start over.
    if (m_flashError == UpdateError::Timeout && !m_portLost && m_lastPercent < 0 && !m_flashRetried) {
        m_flashRetried = true;
        m_flashEnded = false;
        emit progress(m_portName, tr("No answer from the controller; looking for it once more"));
        startStep(Step::Find);
        return;
    }
    const QString waits = tr("re-run --flash on this port: the controller waits in its bootloader");
    if (m_portLost)
        fail(tr("The port was lost during the update."),
             tr("plug the controller in again and re-run --flash on this port: it waits in its bootloader"));
    else if (m_flashError == UpdateError::ResetRefused)
        fail(m_updateMessage, tr("its old firmware still runs: power it off and on, then re-run --flash on this port"));
    else if (m_flashError == UpdateError::None)
        fail(m_updateMessage, tr("check the cable and the power of the controller, then re-run --flash on this port"));
    else if (isImageError(m_flashError))
        fail(m_updateMessage, tr("use a firmware file made for this controller and %1").arg(waits));
    else
        fail(m_updateMessage, waits);
}

void ProductionJob::checkReturn()
{
    if (deviceReady()) {
        m_outcome.firmwareAfter = firmwareText();
        if (m_outcome.serialNumber.isEmpty())
            m_outcome.serialNumber = QString::number(m_app->device()->serialNumber());
        emit progress(m_portName, tr("Controller %1 runs firmware %2").arg(m_outcome.serialNumber, m_outcome.firmwareAfter));
        continueAfter(Step::Return);
        return;
    }
    if (stepTimedOut(RETURN_TIMEOUT_MS))
        fail(tr("The controller did not start after the update."),
             tr("power the controller off and on; if it stays in its bootloader, re-run --flash on this port"));
}

void ProductionJob::startSettings()
{
    if (m_order.hasRestore) {
        startRestore();
        return;
    }
    startStep(Step::Settings);
    Device *device = m_app->device();
    const SettingsRecords records = SettingsRecords::apply(m_order.settings, device->pwmInParams(), device->motionParams());
    if ((records.pwmInChanged && !device->hasRead(Device::READ_PWM_IN))
        || (records.motionChanged && !device->hasRead(Device::READ_MOTION))) {
        fail(tr("The controller's settings could not be read; nothing was written."),
             settingsRerun());
        return;
    }
    keepSnapshot(SettingsSnapshot::Reason::SettingsWrite);
    reportChanges(records);
    if (!records.limited.isEmpty())
        emit progress(m_portName, tr("Values out of range were limited: %1").arg(records.limited.join(QStringLiteral(", "))));
    m_notWritten = records.limited + records.skipped;
    m_pwmInWritten = records.pwmIn;
    m_motionWritten = records.motion;
    m_pwmInConfirmed = !records.pwmInChanged;
    m_motionConfirmed = !records.motionChanged;
    m_app->setWork(AppBase::Work::Settings); // the parameter exchange runs on these ticks
    ParamsHelper *params = m_app->paramsHelper();
    if (records.pwmInChanged)
        params->setPwmInRecord(records.pwmIn);
    if (records.motionChanged)
        params->setMotionRecord(records.motion);
    emit progress(m_portName, tr("Writing the settings"));
}

// The backup's records the controller does not hold are written as the window restores
// them: checked, written, confirmed and read back.
void ProductionJob::startRestore()
{
    startStep(Step::Restore);
    QString text;
    switch (m_restore->start(m_order.restore, &text)) {
    case SettingsRestore::Start::Refused:
        fail(text, m_order.restore.serialNumber != m_outcome.serialNumber
                       ? tr("choose a backup of this controller (kordoman --backups %1)").arg(m_outcome.serialNumber)
                       : settingsRerun());
        return;
    case SettingsRestore::Start::AlreadyHeld:
        emit progress(m_portName, text);
        m_restoreResult = tr("OK, already held, nothing written: %1").arg(m_restore->held().join(QStringLiteral(", ")));
        continueAfter(Step::Verify);
        return;
    case SettingsRestore::Start::Started:
        m_app->setWork(AppBase::Work::Settings); // the parameter exchange writes on these ticks
        return;
    }
}

void ProductionJob::restoreFinished(bool ok, const QString &text)
{
    if (m_step != Step::Restore)
        return;
    if (!ok) {
        fail(text, settingsRerun());
        return;
    }
    emit progress(m_portName, text);
    const QString written = m_restore->written().join(QStringLiteral(", "));
    m_restoreResult = m_restore->held().isEmpty()
                          ? tr("OK, restored: %1").arg(written)
                          : tr("OK, restored: %1; already held: %2").arg(written, m_restore->held().join(QStringLiteral(", ")));
    continueAfter(Step::Verify);
}

// Names the fields the write changes on this controller (its value now, the new one).
void ProductionJob::reportChanges(const SettingsRecords &records)
{
    const Device *device = m_app->device();
    QStringList changes;
    for (const SettingsFieldChange &change :
         SettingsFieldDiff::between(device->pwmInParams(), device->motionParams(), records.pwmIn, records.motion))
        changes << QStringLiteral("%1 %2 \u2192 %3").arg(change.tag, change.before, change.after);
    emit progress(m_portName, changes.isEmpty()
                                  ? tr("The controller already holds these settings; no field changes.")
                                  : tr("Settings fields that change: %1").arg(changes.join(QStringLiteral(", "))));
}

void ProductionJob::checkSettings()
{
    if (m_pwmInConfirmed && m_motionConfirmed) {
        // Read back what the controller stored: it forgets the device and reads it afresh.
        emit progress(m_portName, tr("Settings stored; reading them back"));
        startStep(Step::Verify);
        m_app->device()->deleteDevice();
        return;
    }
    const ParamsHelper *params = m_app->paramsHelper();
    if (params->isSending() && !stepTimedOut(WRITE_TIMEOUT_MS))
        return;
    QStringList missing;
    if (!m_pwmInConfirmed)
        missing << tr("PWM input");
    if (!m_motionConfirmed)
        missing << tr("motion");
    fail(tr("The controller did not confirm the settings (%1).").arg(missing.join(QStringLiteral(", "))),
         settingsRerun());
}

void ProductionJob::checkVerify()
{
    if (deviceReady()) {
        Device *device = m_app->device();
        QStringList differ;
        if (device->pwmInParams().pack() != m_pwmInWritten.pack())
            differ << tr("PWM input");
        if (device->motionParams().pack() != m_motionWritten.pack())
            differ << tr("motion");
        if (!differ.isEmpty()) {
            fail(tr("The settings read back differ from those written (%1).").arg(differ.join(QStringLiteral(", "))),
                 settingsRerun());
            return;
        }
        emit progress(m_portName, tr("Settings confirmed"));
        continueAfter(Step::Verify);
        return;
    }
    if (stepTimedOut(RETURN_TIMEOUT_MS))
        fail(tr("The controller did not answer after the settings were written."),
             m_order.hasRestore ? tr("check the cable, then re-run --restore-backup on this port")
                                : tr("check the cable, then re-run with --settings on this port"));
}

void ProductionJob::startMotor()
{
    startStep(Step::Motor);
    keepSnapshot(SettingsSnapshot::Reason::MotorWrite);
    emit progress(m_portName, tr("Writing the motor %1").arg(m_order.motorName));
    m_app->idHelper()->setStoredMotor(m_order.motor);
}

QString ProductionJob::settingsRerun() const
{
    return m_order.hasRestore ? tr("re-run --restore-backup on this port") : tr("re-run with --settings on this port");
}

void ProductionJob::keepSnapshot(SettingsSnapshot::Reason reason)
{
    // A database that cannot take it never stops the write: the file is named in the progress.
    m_app->settingsKeeper()->keep(reason);
}

void ProductionJob::succeed()
{
    if (m_step == Step::Done)
        return;
    // A value limited or left out is no success: the controller does not hold the file.
    if (!m_notWritten.isEmpty()) {
        fail(tr("Not written as in the settings file: %1").arg(m_notWritten.join(QStringLiteral(", "))),
             tr("correct the settings file or the controller's address setting and re-run with --settings"));
        return;
    }
    m_outcome.success = true;
    m_outcome.result = m_restoreResult.isEmpty() ? tr("OK") : m_restoreResult;
    finish();
}

void ProductionJob::fail(const QString &result, const QString &advice)
{
    if (m_step == Step::Done)
        return;
    m_outcome.success = false;
    m_outcome.result = result;
    m_outcome.advice = advice;
    finish();
}

// The coordinator is taken down after the signal that ended the job has returned: it may
// come from one of its own helpers.
void ProductionJob::finish()
{
    m_step = Step::Done;
    m_timer->stop();
    m_outcome.milliseconds = m_total.elapsed();
    QTimer::singleShot(0, this, [this] {
        m_app->stopTimer();
        m_restore.reset();
        m_app.reset();
        m_ports.reset();
        emit finished(m_outcome);
    });
}

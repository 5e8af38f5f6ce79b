#include "device/settingsrestore.h"

#include "device/device.h"
#include "device/paramshelper.h"
#include "wire/messageids.h"

SettingsRestore::SettingsRestore(Device *device, ParamsHelper *params, QObject *parent)
    : QObject(parent), m_device(device), m_params(params)
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(TIMEOUT_MS);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        finish(false, m_step == Step::Writing
                          ? tr("The controller did not confirm the restored settings; they may not be stored.")
                          : tr("The controller's settings could not be read back after the restore."));
    });
    // Queued from the exchange's thread: its confirmations and refusals.
    connect(m_params, &ParamsHelper::device_setPwmInParams, this, [this] { confirmed(true); });
    connect(m_params, &ParamsHelper::device_setMotionParams, this, [this] { confirmed(false); });
    connect(m_params, &ParamsHelper::recordRefused, this, &SettingsRestore::refused);
    connect(m_device, &Device::readBatchFinished, this, &SettingsRestore::readBack);
    connect(m_device, &Device::deviceConnectionStateChanged, this, [this](Device_State_e state) {
        if (state != DEVICE_CONNECTED && isRunning())
            finish(false, tr("The controller was lost during the restore; check its settings."));
    });
}

bool SettingsRestore::start(const SettingsSnapshot &snapshot, QString *why)
{
    if (isRunning()) {
        *why = tr("A restore is already running.");
        return false;
    }
    if (m_device->state() != DEVICE_CONNECTED) {
        *why = m_device->state() == DEVICE_RUNNING ? tr("The controller's motor is running; stop it first.")
                                                   : tr("Device is not connected");
        return false;
    }
    if (snapshot.serialNumber != QString::number(m_device->serialNumber())) {
        *why = tr("This backup was taken from the controller %1, not from the one connected.").arg(snapshot.serialNumber);
        return false;
    }
    m_writePwmIn = snapshot.pwmIn.size() == SET_PWM_IN_PARAMS::WIRE_SIZE;
    m_writeMotion = snapshot.motion.size() == SET_MOTION_PARAMS::WIRE_SIZE;
    if (!m_writePwmIn && !m_writeMotion) {
        *why = tr("This backup holds no settings records.");
        return false;
    }
    m_snapshot = snapshot;
    m_pwmInConfirmed = !m_writePwmIn;
    m_motionConfirmed = !m_writeMotion;
    m_step = Step::Writing;
    m_timeout.start();
    if (m_writePwmIn)
        m_params->setPwmInRecord(SET_PWM_IN_PARAMS::unpack(snapshot.pwmIn));
    if (m_writeMotion)
        m_params->setMotionRecord(SET_MOTION_PARAMS::unpack(snapshot.motion));
    return true;
}

void SettingsRestore::confirmed(bool pwmIn)
{
    if (m_step != Step::Writing)
        return;
    (pwmIn ? m_pwmInConfirmed : m_motionConfirmed) = true;
    if (!m_pwmInConfirmed || !m_motionConfirmed)
        return;
    // Both stored: what the controller holds now is read and compared.
    m_step = Step::ReadingBack;
    m_timeout.start();
    m_device->rereadSettings();
}

void SettingsRestore::refused(uint8_t msgId)
{
    if (m_step != Step::Writing)
        return;
    finish(false, msgId == VyxMsg::WRITE_PWM_IN_PARAMS
                      ? tr("The controller refused the restored PWM input settings.")
                      : tr("The controller refused the restored motion settings."));
}

void SettingsRestore::readBack()
{
    if (m_step != Step::ReadingBack)
        return;
    const bool pwmInRead = !m_writePwmIn || m_device->hasRead(Device::READ_PWM_IN);
    const bool motionRead = !m_writeMotion || m_device->hasRead(Device::READ_MOTION);
    if (!pwmInRead || !motionRead) {
        finish(false, tr("The controller's settings could not be read back after the restore."));
        return;
    }
    const bool pwmInSame = !m_writePwmIn || m_device->pwmInParams().pack() == m_snapshot.pwmIn;
    const bool motionSame = !m_writeMotion || m_device->motionParams().pack() == m_snapshot.motion;
    if (!pwmInSame || !motionSame)
        finish(false, tr("The settings read back differ from the backup."));
    else
        finish(true, tr("The settings of the backup were written and confirmed by the controller."));
}

void SettingsRestore::finish(bool ok, const QString &text)
{
    if (m_step == Step::Idle)
        return;
    m_step = Step::Idle;
    m_timeout.stop();
    emit finished(ok, text);
}

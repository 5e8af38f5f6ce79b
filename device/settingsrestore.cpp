#include "device/settingsrestore.h"

#include "device/device.h"
#include "device/paramshelper.h"
#include "device/settingsbackupcheck.h"
#include "ident/idhelper.h"
#include "wire/messageids.h"
#include "wire/motortotal.h"

SettingsRestore::SettingsRestore(Device *device, ParamsHelper *params, IdHelper *idHelper, QObject *parent)
    : QObject(parent), m_device(device), m_params(params), m_idHelper(idHelper)
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(TIMEOUT_MS);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        finish(false, m_step == Step::Writing
                          ? tr("The controller did not confirm the restored records; they may not be stored.")
                          : tr("The controller's records could not be read back after the restore."));
    });
    // Queued from the exchange's and the sequencer's thread: their confirmations and refusals.
    connect(m_params, &ParamsHelper::device_setPwmInParams, this, [this] { confirmed(true); });
    connect(m_params, &ParamsHelper::device_setMotionParams, this, [this] { confirmed(false); });
    connect(m_params, &ParamsHelper::recordRefused, this, &SettingsRestore::refused);
    connect(m_idHelper, &IdHelper::storedMotorAnswered, this, &SettingsRestore::motorAnswered);
    connect(m_device, &Device::readBatchFinished, this, &SettingsRestore::readBack);
    connect(m_device, &Device::deviceConnectionStateChanged, this, [this](Device_State_e state) {
        if (state != DEVICE_CONNECTED && isRunning())
            finish(false, tr("The controller was lost during the restore; check its settings."));
    });
}

QString SettingsRestore::pwmInName()
{
    return tr("PWM input settings");
}

QString SettingsRestore::motionName()
{
    return tr("motion settings");
}

QString SettingsRestore::motorName()
{
    return tr("motor");
}

QStringList SettingsRestore::names(const Records &records)
{
    QStringList list;
    if (records.pwmIn)
        list << pwmInName();
    if (records.motion)
        list << motionName();
    if (records.motor)
        list << motorName();
    return list;
}

QString SettingsRestore::refusal(const SettingsSnapshot &backup) const
{
    if (isRunning())
        return tr("A restore is already running.");
    if (m_device->state() != DEVICE_CONNECTED)
        return m_device->state() == DEVICE_RUNNING ? tr("The controller's motor is running; stop it first.")
                                                   : tr("Device is not connected");
    if (m_idHelper->isIdentRunning())
        return tr("An identification is running; nothing was written.");
    // A controller's backup goes back into that controller only.
    if (backup.serialNumber != QString::number(m_device->serialNumber()))
        return tr("This backup was taken from the controller %1, not from the one connected; nothing was written.")
            .arg(backup.serialNumber);
    const QString problem = SettingsBackupCheck::problemText(backup);
    if (!problem.isEmpty())
        return tr("This backup cannot be restored: %1. Nothing was written.").arg(problem);
    // Whether the controller already holds a record is known only from what was read.
    QStringList unread;
    if (!backup.pwmIn.isEmpty() && !m_device->hasRead(Device::READ_PWM_IN))
        unread << pwmInName();
    if (!backup.motion.isEmpty() && !m_device->hasRead(Device::READ_MOTION))
        unread << motionName();
    if (!backup.motor.isEmpty() && !m_device->hasReadMotor())
        unread << motorName();
    if (!unread.isEmpty())
        return tr("The controller's records could not be read (%1); nothing was written.")
            .arg(unread.join(QStringLiteral(", ")));
    return QString();
}

SettingsRestore::Records SettingsRestore::differing(const SettingsSnapshot &backup) const
{
    Records r;
    r.pwmIn = !backup.pwmIn.isEmpty() && backup.pwmIn != m_device->pwmInParams().pack();
    r.motion = !backup.motion.isEmpty() && backup.motion != m_device->motionParams().pack();
    r.motor = !backup.motor.isEmpty() && backup.motor != m_device->motorParams().pack();
    return r;
}

QStringList SettingsRestore::recordsToWrite(const SettingsSnapshot &backup) const
{
    return names(differing(backup));
}

SettingsRestore::Start SettingsRestore::start(const SettingsSnapshot &backup, QString *text)
{
    const QString why = refusal(backup);
    if (!why.isEmpty()) {
        *text = why;
        return Start::Refused;
    }
    m_backup = backup;
    m_write = differing(backup);
    Records inBackup;
    inBackup.pwmIn = !backup.pwmIn.isEmpty();
    inBackup.motion = !backup.motion.isEmpty();
    inBackup.motor = !backup.motor.isEmpty();
    m_written = names(m_write);
    m_held = names({inBackup.pwmIn && !m_write.pwmIn, inBackup.motion && !m_write.motion,
                    inBackup.motor && !m_write.motor});
    if (m_written.isEmpty()) {
        *text = tr("The controller already holds the records of this backup (%1); nothing was written.")
                    .arg(m_held.join(QStringLiteral(", ")));
        return Start::AlreadyHeld;
    }
    emit aboutToWrite();
    m_confirmed = Records();
    m_step = Step::Writing;
    m_timeout.start();
    if (m_write.pwmIn)
        m_params->setPwmInRecord(SET_PWM_IN_PARAMS::unpack(backup.pwmIn));
    if (m_write.motion)
        m_params->setMotionRecord(SET_MOTION_PARAMS::unpack(backup.motion));
    if (m_write.motor) {
        MOTOR_TOTAL motor;
        motor.unpack(backup.motor);
        m_idHelper->setStoredMotor(motor);
    }
    text->clear();
    return Start::Started;
}

void SettingsRestore::confirmed(bool pwmIn)
{
    if (m_step != Step::Writing)
        return;
    (pwmIn ? m_confirmed.pwmIn : m_confirmed.motion) = true;
    confirmWrite();
}

void SettingsRestore::motorAnswered(bool accepted, bool answered)
{
    if (m_step != Step::Writing || !m_write.motor)
        return;
    if (!accepted) {
        finish(false, answered ? tr("The controller refused the restored motor.")
                               : tr("The controller did not confirm the restored motor; it may not be stored."));
        return;
    }
    m_confirmed.motor = true;
    confirmWrite();
}

void SettingsRestore::refused(uint8_t msgId)
{
    if (m_step != Step::Writing)
        return;
    finish(false, msgId == VyxMsg::WRITE_PWM_IN_PARAMS
                      ? tr("The controller refused the restored PWM input settings.")
                      : tr("The controller refused the restored motion settings."));
}

// Every record written has been confirmed: what the controller holds now is read and compared.
void SettingsRestore::confirmWrite()
{
    if ((m_write.pwmIn && !m_confirmed.pwmIn) || (m_write.motion && !m_confirmed.motion)
        || (m_write.motor && !m_confirmed.motor))
        return;
    m_step = Step::ReadingBack;
    m_timeout.start();
    if (m_write.pwmIn || m_write.motion)
        m_device->rereadSettings();
    if (m_write.motor)
        m_device->rereadMotor();
}

void SettingsRestore::readBack()
{
    if (m_step != Step::ReadingBack)
        return;
    const bool pwmInRead = !m_write.pwmIn || m_device->hasRead(Device::READ_PWM_IN);
    const bool motionRead = !m_write.motion || m_device->hasRead(Device::READ_MOTION);
    const bool motorRead = !m_write.motor || m_device->hasReadMotor();
    if (!pwmInRead || !motionRead || !motorRead) {
        finish(false, tr("The controller's records could not be read back after the restore."));
        return;
    }
    // Every record of the backup, those held before as well: byte for byte.
    const Records differ = differing(m_backup);
    if (differ.pwmIn || differ.motion || differ.motor) {
        finish(false, tr("The settings read back differ from the backup: %1.").arg(names(differ).join(QStringLiteral(", "))));
        return;
    }
    QString text = tr("The records of the backup were written and confirmed by the controller and read back: %1.")
                       .arg(m_written.join(QStringLiteral(", ")));
    if (!m_held.isEmpty())
        text += QLatin1Char(' ') + tr("Already held, not written: %1.").arg(m_held.join(QStringLiteral(", ")));
    finish(true, text);
}

void SettingsRestore::finish(bool ok, const QString &text)
{
    if (m_step == Step::Idle)
        return;
    m_step = Step::Idle;
    m_timeout.stop();
    emit finished(ok, text);
}

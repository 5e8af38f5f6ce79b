#include "device/settingskeeper.h"

#include "device/device.h"
#include "device/devicelog.h"

#include <QThread>

SettingsKeeper::SettingsKeeper(const Device &device, const QString &databaseDirectory,
                               const QString &fallbackDirectory, QObject *parent)
    : QObject(parent), m_device(device), m_snapshots(databaseDirectory, fallbackDirectory)
{
    qRegisterMetaType<SettingsSnapshot>();
}

SettingsSnapshots::Kept SettingsKeeper::keep(SettingsSnapshot::Reason reason)
{
    bool fresh = false;
    const SettingsSnapshots::Kept kept = store(reason, &fresh);
    if (fresh)
        tell(kept);
    return kept;
}

SettingsSnapshots::Kept SettingsKeeper::store(SettingsSnapshot::Reason reason, bool *fresh)
{
    Q_ASSERT(QThread::currentThread() == thread() && thread() == m_device.thread());
    const Device_State_e state = m_device.state();
    if (state != DEVICE_CONNECTED && state != DEVICE_RUNNING)
        return {};
    SettingsSnapshot snapshot = SettingsSnapshot::ofDevice(m_device, reason);
    if (snapshot.isEmpty())
        return {};
    if (m_lastKept.ok && snapshot.serialNumber == m_lastSnapshot.serialNumber && snapshot.pwmIn == m_lastSnapshot.pwmIn
        && snapshot.motion == m_lastSnapshot.motion && snapshot.motor == m_lastSnapshot.motor) {
        if (reason == SettingsSnapshot::Reason::FirmwareUpdate)
            m_beforeUpdate = m_lastSnapshot;
        return m_lastKept;
    }
    const SettingsSnapshots::Kept kept = m_snapshots.keep(snapshot);
    snapshot.id = kept.id;
    m_lastSnapshot = snapshot;
    m_lastKept = kept;
    if (reason == SettingsSnapshot::Reason::FirmwareUpdate)
        m_beforeUpdate = snapshot;
    deviceDebug("SETTINGS_KEEPER:") << "settings snapshot" << kept.id << snapshot.reason << kept.file;
    *fresh = true;
    return kept;
}

void SettingsKeeper::tell(const SettingsSnapshots::Kept &kept)
{
    const QString text = SettingsSnapshots::keptText(kept);
    if (!text.isEmpty())
        emit sendTextForMsgBox(text, true);
    emit snapshotKept(kept.id, text);
}

SettingsSnapshots::Kept SettingsKeeper::keepBeforeUpdate()
{
    Q_ASSERT(QThread::currentThread() == thread());
    if (m_device.state() != DEVICE_CONNECTED)
        return {};
    m_beforeUpdate = SettingsSnapshot();
    m_awaitingUpdatedRecords = false;
    bool fresh = false;
    const SettingsSnapshots::Kept kept = store(SettingsSnapshot::Reason::FirmwareUpdate, &fresh);
    if (fresh && (kept.ok || kept.problem.isEmpty()))
        tell(kept);
    return kept;
}

void SettingsKeeper::updateFinished(bool success)
{
    m_awaitingUpdatedRecords = success && !m_beforeUpdate.isEmpty();
}

void SettingsKeeper::compareAfterUpdate()
{
    if (!m_awaitingUpdatedRecords || m_device.state() != DEVICE_CONNECTED)
        return;
    m_awaitingUpdatedRecords = false;
    const SettingsSnapshot now = SettingsSnapshot::ofDevice(m_device, SettingsSnapshot::Reason::Restore);
    if (now.serialNumber != m_beforeUpdate.serialNumber || m_beforeUpdate.isEmpty())
        return;
    const bool pwmInDiffers = !m_beforeUpdate.pwmIn.isEmpty() && !now.pwmIn.isEmpty() && now.pwmIn != m_beforeUpdate.pwmIn;
    const bool motionDiffers =
        !m_beforeUpdate.motion.isEmpty() && !now.motion.isEmpty() && now.motion != m_beforeUpdate.motion;
    // An update that lost the controller's motor is offered back as well.
    const bool motorDiffers = !m_beforeUpdate.motor.isEmpty() && !now.motor.isEmpty() && now.motor != m_beforeUpdate.motor;
    if (pwmInDiffers || motionDiffers || motorDiffers)
        emit settingsChangedByUpdate(m_beforeUpdate, now);
}

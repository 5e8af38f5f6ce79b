#include "app/settingsbackupsaction.h"

#include "device/device.h"
#include "device/settingsfielddiff.h"
#include "device/settingskeeper.h"
#include "ui/userdialogs.h"

namespace {

// The records of a snapshot, those not kept taken from `fallback`.
SET_PWM_IN_PARAMS pwmInOf(const SettingsSnapshot &s, const SET_PWM_IN_PARAMS &fallback)
{
    return s.pwmIn.size() == SET_PWM_IN_PARAMS::WIRE_SIZE ? SET_PWM_IN_PARAMS::unpack(s.pwmIn) : fallback;
}

SET_MOTION_PARAMS motionOf(const SettingsSnapshot &s, const SET_MOTION_PARAMS &fallback)
{
    return s.motion.size() == SET_MOTION_PARAMS::WIRE_SIZE ? SET_MOTION_PARAMS::unpack(s.motion) : fallback;
}

} // namespace

SettingsBackupsAction::SettingsBackupsAction(Device *device, ParamsHelper *paramsHelper, IdHelper *idHelper,
                                             SettingsKeeper *keeper, UserDialogs *dialogs,
                                             std::function<void()> showSettingsPage, QObject *parent)
    : QObject(parent)
    , m_device(device)
    , m_keeper(keeper)
    , m_dialogs(dialogs)
    , m_showSettingsPage(std::move(showSettingsPage))
    , m_restore(device, paramsHelper, idHelper)
{
    connect(&m_restore, &SettingsRestore::finished, this, [this](bool ok, QString text) {
        emit infoText(text, true, ok ? UserDialogs::Icon::Information : UserDialogs::Icon::Critical);
    });
    // What the controller held is kept right before the restore writes over it.
    connect(&m_restore, &SettingsRestore::aboutToWrite, this,
            [this] { m_keeper->keep(SettingsSnapshot::Reason::Restore); });
}

void SettingsBackupsAction::chooseBackup()
{
    const Device *device = m_device;
    if (device->state() != DEVICE_CONNECTED) {
        emit infoText(tr("Device is not connected"), true, UserDialogs::Icon::Warning);
        return;
    }
    const QString serial = QString::number(device->serialNumber());
    QVector<SettingsSnapshot> backups;
    QString problem;
    if (!m_keeper->snapshots()->list(serial, &backups, &problem)) {
        emit infoText(tr("The settings backups cannot be read: %1").arg(problem), true, UserDialogs::Icon::Critical);
        return;
    }
    if (backups.isEmpty()) {
        emit infoText(tr("There are no settings backups of this controller yet."), true);
        return;
    }
    QStringList items;
    for (const SettingsSnapshot &b : qAsConst(backups))
        items << tr("%1: %2, firmware %3, %4")
                     .arg(b.id)
                     .arg(b.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), b.firmware,
                          SettingsSnapshot::reasonText(b.reason));
    const QString chosen = m_dialogs->chooseItem(tr("Settings backups"),
                                                 tr("Backups of the controller %1, newest first:").arg(serial), items);
    const int index = items.indexOf(chosen);
    if (index < 0)
        return;
    offerRestore(backups.at(index), SettingsSnapshot::ofDevice(*device, SettingsSnapshot::Reason::Restore), false);
}

void SettingsBackupsAction::offerRestore(const SettingsSnapshot &backup, const SettingsSnapshot &now, bool afterUpdate)
{
    // A backup that cannot be written is not offered: the same checks as the restore's own.
    const QString refusal = m_restore.refusal(backup);
    if (!refusal.isEmpty()) {
        emit infoText(refusal, true, UserDialogs::Icon::Warning);
        return;
    }
    const Device *device = m_device;
    if (m_restore.recordsToWrite(backup).isEmpty()) {
        if (!afterUpdate)
            emit infoText(tr("The controller holds the settings of this backup."), true);
        return;
    }
    const SET_PWM_IN_PARAMS pwmInNow = pwmInOf(now, device->pwmInParams());
    const SET_MOTION_PARAMS motionNow = motionOf(now, device->motionParams());
    const QVector<SettingsFieldChange> changes = SettingsFieldDiff::between(
        pwmInNow, motionNow, pwmInOf(backup, pwmInNow), motionOf(backup, motionNow));
    QStringList lines;
    for (const SettingsFieldChange &change : changes)
        lines << tr("%1: now %2, backup %3").arg(change.tag, change.before, change.after);
    if (m_restore.recordsToWrite(backup).contains(SettingsRestore::motorName()))
        lines << tr("motor: the backup's motor %1 is written").arg(backup.motorName.isEmpty() ? tr("(not in the motor database)")
                                                                                          : backup.motorName);
    if (lines.isEmpty()) // records that differ only in bits no field shows
        lines << tr("the records differ in bits that no field shows");
    const QString intro =
        afterUpdate ? tr("The new firmware holds other settings than the controller had before the update. "
                         "Restore those kept before the update (backup %1)?")
                          .arg(backup.id)
                    : tr("Restoring the backup %1 changes these settings:").arg(backup.id);
    const QString text = QStringLiteral("%1\n\n%2").arg(intro, lines.join(QLatin1Char('\n')));
    if (!m_dialogs->askButtons(text, tr("Restore"), afterUpdate ? tr("Keep the new settings") : tr("Cancel")))
        return;
    if (m_showSettingsPage)
        m_showSettingsPage();
    QString why;
    if (m_restore.start(backup, &why) != SettingsRestore::Start::Started)
        emit infoText(why, true, UserDialogs::Icon::Warning);
}

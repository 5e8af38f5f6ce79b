#pragma once

#include "device/settingssnapshots.h"

#include <QObject>
#include <QString>

class Device;

// Keeps the connected controller's settings before a change that can lose them, and tells
// after a firmware update whether the controller came back with other settings than it had
// before. Reads the device model, so it lives beside it, in its thread (the window's GUI
// thread, a headless command's own), and is called in that thread only; what it has to say
// goes out as its own signals.
class SettingsKeeper : public QObject
{
    Q_OBJECT

public:
    // The device model must outlive the keeper. The snapshots go to the motor database of
    // databaseDirectory, or to a file of fallbackDirectory when the database cannot take them.
    SettingsKeeper(const Device &device, const QString &databaseDirectory, const QString &fallbackDirectory,
                   QObject *parent = nullptr);

    // The settings snapshots of the data directory.
    SettingsSnapshots *snapshots() { return &m_snapshots; }

    // Before a change that can lose settings: keeps the connected controller's records and
    // motor as read. Nothing is kept when no controller is connected or nothing of it was
    // read (Kept::ok false, no problem). Where the snapshot went is announced with
    // snapshotKept, and told the user (sendTextForMsgBox) when it is not in the database.
    // Records equal to those of the last snapshot kept are not kept again: that one is
    // returned.
    SettingsSnapshots::Kept keep(SettingsSnapshot::Reason reason);

    // Before a firmware update is started, when a controller runs its firmware: its
    // settings are kept, and remembered to be compared with those it has after the update.
    // A controller waiting in its bootloader has nothing to read: the snapshot of an
    // earlier, interrupted update stays the one compared with. A snapshot that could be kept
    // nowhere (Kept::ok false, with its problem) is not told here: the caller decides whether
    // the update may go on without it.
    SettingsSnapshots::Kept keepBeforeUpdate();

public slots:
    // The updater's updateFinished: after a good update the controller's new records are
    // awaited.
    void updateFinished(bool success);
    // The device model's readBatchFinished: the controller back after an update it
    // survived, with records other than those kept before it, is announced with
    // settingsChangedByUpdate (a controller that comes back with another serial number is
    // another controller: nothing is offered).
    void compareAfterUpdate();

signals:
    // A snapshot was kept: id in the database (0: not there); text says where else it went.
    void snapshotKept(qint64 id, QString text);
    void sendTextForMsgBox(QString msg, bool isMsgBox);
    // After an update the controller holds other settings than the snapshot taken before it.
    void settingsChangedByUpdate(SettingsSnapshot before, SettingsSnapshot now);

private:
    // keep() without telling; `fresh`: a new snapshot was tried (not the last one again).
    SettingsSnapshots::Kept store(SettingsSnapshot::Reason reason, bool *fresh);
    void tell(const SettingsSnapshots::Kept &kept);

    const Device &m_device;
    SettingsSnapshots m_snapshots;
    // The last snapshot kept, and where: the same records are not kept twice in a row.
    SettingsSnapshot m_lastSnapshot;
    SettingsSnapshots::Kept m_lastKept;
    // The snapshot taken before the running update, and whether the update has ended well
    // and the controller's new records are awaited.
    SettingsSnapshot m_beforeUpdate;
    bool m_awaitingUpdatedRecords = false;
};

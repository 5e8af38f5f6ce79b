#pragma once

#include "device/settingsrestore.h"
#include "device/settingssnapshots.h"
#include "ui/userdialogs.h"

#include <QObject>

#include <functional>

class Device;
class IdHelper;
class ParamsHelper;
class SettingsKeeper;
class UserDialogs;

// The way back in the window: lists the connected controller's settings backups (the
// settings page's "Backups..."), shows what a restore would change, and restores one after
// the user agrees; after a firmware update that changed the controller's settings it offers
// the backup taken before the update in the same way. Every question goes through the
// window's dialogs; the restore itself is a SettingsRestore (written, confirmed, read back).
class SettingsBackupsAction : public QObject
{
    Q_OBJECT

public:
    // Lives in the device model's thread, with the device model and the keeper; the parameter
    // exchange and the identification sequencer are only handed on to the restore, which
    // posts to them. showSettingsPage: the parameter exchange writes while the settings page
    // is shown.
    SettingsBackupsAction(Device *device, ParamsHelper *paramsHelper, IdHelper *idHelper, SettingsKeeper *keeper,
                          UserDialogs *dialogs, std::function<void()> showSettingsPage, QObject *parent = nullptr);

    // The controller's backups to choose from, newest first.
    void chooseBackup();
    // What restoring `backup` changes on the controller (whose records are `now`), and the
    // restore when the user agrees.
    void offerRestore(const SettingsSnapshot &backup, const SettingsSnapshot &now, bool afterUpdate);

signals:
    // A message box when isMsgBox, with the icon that says what kind of message it is.
    void infoText(QString msg, bool isMsgBox, UserDialogs::Icon icon = UserDialogs::Icon::Information);

private:
    Device *m_device;
    SettingsKeeper *m_keeper;
    UserDialogs *m_dialogs;
    std::function<void()> m_showSettingsPage;
    SettingsRestore m_restore;
};

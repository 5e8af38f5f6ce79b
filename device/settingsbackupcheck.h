#pragma once

#include "device/settingssnapshots.h"

#include <QCoreApplication>
#include <QStringList>

// Whether a settings backup may be written into a controller. A backup is an input like a
// settings file and passes the same checks: each record it holds has exactly its length,
// and each field lies within the range a settings file may give it (SettingsModel's), so
// that a damaged or forged backup is refused whole, naming what is wrong, before anything
// is written.
class SettingsBackupCheck
{
    Q_DECLARE_TR_FUNCTIONS(SettingsBackupCheck)

public:
    // What is wrong with the backup, one text per record or field; empty when it may be written.
    static QStringList problems(const SettingsSnapshot &backup);
    // The same as one text for the user, empty when nothing is wrong.
    static QString problemText(const SettingsSnapshot &backup);
};

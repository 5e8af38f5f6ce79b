#pragma once

#include <QString>

#include <ctime>

// Tells whether the machine's device folder may have changed since the last look. A serial
// adapter's device file appears in the folder when it is plugged in and vanishes when it is
// pulled, which moves the folder's modification time: one stat call, where a listing of the
// machine's serial ports walks the whole device tree (milliseconds).
class DeviceFolderStamp
{
public:
    explicit DeviceFolderStamp(QString folder = QStringLiteral("/dev"));

    // True at the first look, whenever the folder's time moved since the last look, while
    // the time is too young to be trusted, and where the time cannot be read.
    bool changed();

    // A file system keeps times at the resolution of its clock tick: a second change within
    // the tick of the last look could leave the time as it was, so a time younger than this
    // is looked at again.
    static constexpr int SETTLE_SECONDS = 1;

private:
    QString m_folder;
    bool m_seen = false;
    timespec m_modified {};
};

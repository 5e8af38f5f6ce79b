#include "devicefolderstamp.h"

#include <QFile>
#include <QtGlobal>

#include <sys/stat.h>
#include <utility>

DeviceFolderStamp::DeviceFolderStamp(QString folder) : m_folder(std::move(folder)) {}

bool DeviceFolderStamp::changed()
{
#ifndef Q_OS_LINUX
    return true; // elsewhere the device files are not one folder's entries
#else
    struct stat info {};
    if (::stat(QFile::encodeName(m_folder).constData(), &info) != 0) {
        m_seen = false;
        return true;
    }
    const bool same = m_seen && info.st_mtim.tv_sec == m_modified.tv_sec
        && info.st_mtim.tv_nsec == m_modified.tv_nsec;
    m_modified = info.st_mtim;
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    // A time still within the settling interval is not taken as seen.
    m_seen = now.tv_sec - info.st_mtim.tv_sec > SETTLE_SECONDS;
    return !same;
#endif
}

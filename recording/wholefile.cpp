#include "recording/wholefile.h"

#include <QSaveFile>

#include <cerrno>
#include <cstring>

QString WholeFile::cause(int errorNumber, const QFileDevice &file)
{
    switch (errorNumber) {
    case ENOSPC:
    case EFBIG: // beyond the size a file may have: no room for it, as the user sees it
#ifdef EDQUOT
    case EDQUOT:
#endif
        return tr("the disk is full");
    case 0:
        break;
    default:
        return QString::fromLocal8Bit(std::strerror(errorNumber));
    }
    if (file.error() != QFileDevice::NoError)
        return file.errorString();
    return tr("the file system took only part of it");
}

bool WholeFile::writeAll(QFileDevice &file, const QByteArray &bytes, QString *problem)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        errno = 0;
        const qint64 written = file.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0) {
            *problem = cause(errno, file);
            return false;
        }
        done += written;
    }
    return true;
}

bool WholeFile::write(const QString &path, const QByteArray &bytes, QString *problem)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *problem = cause(errno, file);
        return false;
    }
    if (!writeAll(file, bytes, problem)) {
        file.cancelWriting();
        return false;
    }
    errno = 0;
    if (!file.commit()) {
        *problem = cause(errno, file);
        return false;
    }
    return true;
}

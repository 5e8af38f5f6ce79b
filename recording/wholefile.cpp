#include "recording/wholefile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

bool WholeFile::read(const QString &path, qint64 maxBytes, QByteArray *content, QString *problem)
{
    QFile file;
#ifdef Q_OS_UNIX
    // Asked before opening, so that no device is opened at all; asked again of what was
    // opened (without waiting for a writer), so that a file swapped meanwhile is caught too.
    const QByteArray name = QFile::encodeName(path);
    struct stat status {};
    if (::stat(name.constData(), &status) == 0 && !S_ISREG(status.st_mode)) {
        *problem = tr("it is not a regular file");
        return false;
    }
    const int descriptor = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        *problem = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        *problem = tr("it is not a regular file");
        return false;
    }
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        *problem = file.errorString();
        return false;
    }
#else
    file.setFileName(path);
    if (QFileInfo::exists(path) && !QFileInfo(path).isFile()) {
        *problem = tr("it is not a regular file");
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = file.errorString();
        return false;
    }
#endif
    *content = file.read(maxBytes);
    if (file.error() != QFileDevice::NoError) {
        *problem = file.errorString();
        return false;
    }
    return true;
}

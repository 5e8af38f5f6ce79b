#include "cli/filechecks.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/stat.h>
#endif

namespace {

// QFileInfo::isFile() says yes to device nodes: the kind is asked of the system itself.
bool existsAsOtherThanRegularFile(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0) // follows links
        return false;
    return !S_ISREG(status.st_mode);
#else
    const QFileInfo file(path);
    return file.exists() && !file.isFile();
#endif
}

} // namespace

QString FileChecks::outputProblem(const QString &path)
{
    if (existsAsOtherThanRegularFile(path))
        return tr("%1 is not a regular file; only a regular file is replaced.").arg(path);
    return QString();
}

QString FileChecks::inputProblem(const QString &path)
{
#ifdef Q_OS_UNIX
    // A link that leads round in a loop exists, but leads nowhere: not "missing".
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 && errno == ELOOP)
        return tr("%1 is a link that leads round in a loop.").arg(path);
#endif
    if (existsAsOtherThanRegularFile(path))
        return tr("%1 is not a regular file.").arg(path);
    return QString();
}

#include "app/capturetarget.h"

#include "app/datadirectory.h"
#include "cli/filechecks.h"
#include "recording/wholefile.h"

#include <QDir>
#include <QFileInfo>
#include <QtEndian>

namespace {

constexpr quint32 PCAP_MAGIC_MICROSECONDS = 0xa1b2c3d4;
constexpr quint32 PCAP_MAGIC_NANOSECONDS = 0xa1b23c4d;
constexpr quint32 LINKTYPE_USER0 = 147; // the line's own records
constexpr int PCAP_HEADER_BYTES = 24;
constexpr int LINK_TYPE_OFFSET = 20;
// Links followed at most; a longer chain is a loop.
constexpr int MAX_LINKS = 40;

bool isInside(const QString &path, const QString &folder)
{
    return !folder.isEmpty() && path.startsWith(folder + QLatin1Char('/'));
}

} // namespace

QString CaptureTarget::resolved(const QString &fileName)
{
    QString path = QDir::cleanPath(QFileInfo(fileName).absoluteFilePath());
    for (int links = 0; links < MAX_LINKS && QFileInfo(path).isSymLink(); ++links)
        path = QDir::cleanPath(QFileInfo(path).symLinkTarget());
    const QFileInfo file(path);
    const QString canonical = file.canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    // Not there yet: its folder's own links are followed.
    const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? path : QDir(folder).filePath(file.fileName());
}

bool CaptureTarget::isLineCapture(const QByteArray &header)
{
    if (header.size() < PCAP_HEADER_BYTES)
        return false;
    const auto *bytes = reinterpret_cast<const uchar *>(header.constData());
    const quint32 little = qFromLittleEndian<quint32>(bytes);
    const quint32 big = qFromBigEndian<quint32>(bytes);
    if (little == PCAP_MAGIC_MICROSECONDS || little == PCAP_MAGIC_NANOSECONDS)
        return (qFromLittleEndian<quint32>(bytes + LINK_TYPE_OFFSET) & 0xffff) == LINKTYPE_USER0;
    if (big == PCAP_MAGIC_MICROSECONDS || big == PCAP_MAGIC_NANOSECONDS)
        return (qFromBigEndian<quint32>(bytes + LINK_TYPE_OFFSET) & 0xffff) == LINKTYPE_USER0;
    return false;
}

QString CaptureTarget::problem(const QString &fileName, const QStringList &commandFiles, const QString &dataDirectory)
{
    const QString notRegular = FileChecks::outputProblem(fileName);
    if (!notRegular.isEmpty())
        return notRegular;
    const QString target = resolved(fileName);
    for (const QString &other : commandFiles) {
        if (!other.isEmpty() && resolved(other) == target)
            return tr("The capture file %1 is also named as another file of this command (%2); choose another "
                      "capture file.")
                .arg(QDir::toNativeSeparators(fileName), QDir::toNativeSeparators(other));
    }
    if (!dataDirectory.isEmpty()) {
        const QString data = resolved(dataDirectory);
        const QString ownFolderProblem =
            tr("The capture file %1 would replace a file of the program's own (%2); choose a file outside it.");
        for (const QString &store : {DataDirectory::DATABASE_DIR, DataDirectory::LOG_DIR, DataDirectory::SAMPLE_DIR}) {
            const QString folder = resolved(QDir(data).filePath(store));
            if (isInside(target, folder))
                return ownFolderProblem.arg(QDir::toNativeSeparators(fileName), QDir::toNativeSeparators(folder));
        }
        const QFileInfo targetFile(target);
        const bool inData = QFileInfo(targetFile.absolutePath()).canonicalFilePath() == data;
        if (inData
            && (targetFile.fileName() == DataDirectory::SETTINGS_FILE
                || QDir::match(QStringLiteral("settings-backup-*.json"), targetFile.fileName())))
            return ownFolderProblem.arg(QDir::toNativeSeparators(fileName), QDir::toNativeSeparators(target));
    }
    if (QFileInfo::exists(target)) {
        QByteArray header;
        QString unreadable;
        if (!WholeFile::read(target, PCAP_HEADER_BYTES, &header, &unreadable) || !isLineCapture(header))
            return tr("%1 exists and is not a line capture; only a line capture is replaced. Choose another "
                      "capture file.")
                .arg(QDir::toNativeSeparators(fileName));
    }
    return QString();
}

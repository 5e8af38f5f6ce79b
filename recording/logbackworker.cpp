#include "recording/logbackworker.h"

#include "recording/recordinglog.h"
#include "recording/wholefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

const QString TAG = QStringLiteral("LOG_BACK_WORKER: ");

// Bounds the search for a free name when one controller reconnects many times in
// the same second.
constexpr int MAX_SAME_SECOND_FILES = 1000;

// The serial number becomes part of a path: allow only what base 20 produces.
bool isSafeSerialText(const QString &serial)
{
    static const QRegularExpression allowed(QStringLiteral("^[0-9A-Za-z]+$"));
    return allowed.match(serial).hasMatch();
}

} // namespace

LogBackWorker::LogBackWorker(QObject *parent)
    : QObject(parent)
    , m_clock([] { return QDateTime::currentDateTime(); })
{
}

LogBackWorker::~LogBackWorker() = default;

QString LogBackWorker::serialNumberForFileName(uint32_t serialNumber)
{
    return QString::number(serialNumber, 20);
}

void LogBackWorker::setClock(Clock clock)
{
    m_clock = std::move(clock);
}

QString LogBackWorker::currentFilePath() const
{
    return m_file ? m_file->fileName() : QString();
}

void LogBackWorker::createFile(QString logDirectory, QString deviceSerialNumber)
{
    // A reconnection without a disconnect arrives here with the old file still open.
    closeFile();
    m_file.reset();

    // The file is opened by absolute path; the process's current directory is
    // neither used nor changed.
    if (!QDir::isAbsolutePath(logDirectory) || !isSafeSerialText(deviceSerialNumber)) {
        qCWarning(lcRecording).noquote() << TAG + QStringLiteral("refused log file in \"%1\" for serial \"%2\"").arg(logDirectory, deviceSerialNumber);
        emit fileState(FileNotCreated);
        return;
    }

    const QDateTime now = m_clock();
    const QString baseName = deviceSerialNumber + QLatin1Char('_')
        + now.toString(QStringLiteral("yyyy_MM_dd_hh_mm_ss"));
    if (!openUniqueFile(logDirectory, baseName)) {
        emit fileState(FileNotCreated);
        return;
    }

    m_lineCounter = 0;
    m_writeFailureTold = false;
    if (!writeLine(QStringLiteral("Date ") + now.date().toString(QStringLiteral("dd.MM.yyyy")))) {
        // A log without even its date line is no log: it does not stay behind.
        m_file->close();
        m_file->remove();
        emit fileState(FileNotCreated);
        return;
    }
    qCDebug(lcRecording).noquote() << TAG + QStringLiteral("log file ") + m_file->fileName();
    emit fileState(FileCreated);
}

bool LogBackWorker::openUniqueFile(const QString &logDirectory, const QString &baseName)
{
    const QDir dir(logDirectory);
    for (int index = 1; index <= MAX_SAME_SECOND_FILES; ++index) {
        // Two connections in the same second would share a name: the later file
        // gets a suffix instead of overwriting the earlier one.
        const QString name = index == 1 ? baseName + QStringLiteral(".log")
                                        : baseName + QStringLiteral("_%1.log").arg(index);
        const QString path = dir.absoluteFilePath(name);
        if (QFileInfo::exists(path))
            continue;

        auto file = std::make_unique<QFile>(path);
        // NewOnly: never open a file that appeared after the check above. Unbuffered: a
        // failed write is seen at once, and what it left is known.
        if (file->open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            m_file = std::move(file);
            return true;
        }
        if (!QFileInfo::exists(path)) {
            qCWarning(lcRecording).noquote() << TAG + QStringLiteral("cannot create %1: %2").arg(path, file->errorString());
            return false;
        }
    }
    qCWarning(lcRecording).noquote() << TAG + QStringLiteral("no free log file name for ") + baseName;
    return false;
}

void LogBackWorker::writeMessage(QString logMsg)
{
    if (!m_file || !m_file->isOpen() || !writeLine(logMsg))
        emit fileState(MessageNotWritten);
}

bool LogBackWorker::writeLine(const QString &message)
{
    const QString line = QStringLiteral("N ") + QString::number(m_lineCounter)
        + QStringLiteral(", T ") + m_clock().toString(QStringLiteral("hh:mm:ss"))
        + QStringLiteral(", M ") + message + QLatin1Char('\n');
    // Unbuffered, so each line is on its way at once: a crash loses at most the line being
    // written. A line cut short (a full disk) is cut off again, so that the lines after it
    // do not continue a broken one.
    const qint64 lineStart = m_file->size();
    QString cause;
    if (!WholeFile::writeAll(*m_file, line.toUtf8(), &cause)) {
        qCWarning(lcRecording).noquote() << TAG + QStringLiteral("write failed: ") + cause;
        if (m_file->size() > lineStart && !m_file->resize(lineStart))
            qCWarning(lcRecording).noquote() << TAG + QStringLiteral("cannot cut the line off: ") + m_file->errorString();
        tellWriteFailure(cause);
        return false;
    }
    ++m_lineCounter;
    return true;
}

void LogBackWorker::tellWriteFailure(const QString &cause)
{
    if (m_writeFailureTold)
        return;
    m_writeFailureTold = true;
    emit writeFailed(tr("The device log %1 cannot be written: %2.").arg(QDir::toNativeSeparators(m_file->fileName()), cause));
}

void LogBackWorker::closeFile()
{
    if (m_file && m_file->isOpen())
        m_file->close();
}

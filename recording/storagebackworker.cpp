#include "recording/storagebackworker.h"

#include "recording/recordinglog.h"
#include "recording/samplecsv.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QThread>

#include <algorithm>

namespace {

const QString TAG = QStringLiteral("STORAGE_BACK_WORKER: ");

} // namespace

StorageBackWorker::StorageBackWorker(QString sampleDirectory, QObject *parent)
    : QObject(parent)
    , m_directory(std::move(sampleDirectory))
    , m_clock([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    qCDebug(lcRecording).noquote() << TAG + QStringLiteral("Init storage");
}

StorageBackWorker::~StorageBackWorker()
{
    // Samples queued just before the thread was told to stop are still waiting as
    // posted calls; take them in before the final write.
    if (thread() == QThread::currentThread())
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    flush();
}

void StorageBackWorker::setClock(Clock clock)
{
    m_clock = std::move(clock);
}

QString StorageBackWorker::currentFilePath() const
{
    return m_fileNamed ? QDir(m_directory).absoluteFilePath(m_fileName) : QString();
}

void StorageBackWorker::addSample(const ONLINE_QUANTS_S &sample)
{
    // Name the file before buffering, so no sample can ever be written to "init".
    if (!m_fileNamed)
        changeFile();

    Buffer &active = m_buffers[m_activeBuffer];
    active.times.append(m_clock());
    active.samples.append(sample);
    if (active.samples.size() >= BATCH_SIZE) {
        m_activeBuffer ^= 1;
        writeBuffer(active);
    }
}

void StorageBackWorker::changeFile()
{
    // The tail of the previous telemetry session belongs to the previous file.
    flush();

    // Two changes within one millisecond must still give two files.
    const qint64 stamp = std::max(m_clock(), m_lastFileStamp + 1);
    m_lastFileStamp = stamp;
    m_fileName = QStringLiteral("samples_") + QString::number(stamp) + QStringLiteral(".csv");
    m_fileNamed = true;
}

void StorageBackWorker::flush()
{
    // The inactive buffer holds the older samples, if any.
    writeBuffer(m_buffers[m_activeBuffer ^ 1]);
    writeBuffer(m_buffers[m_activeBuffer]);
}

void StorageBackWorker::writeBuffer(Buffer &buffer)
{
    if (buffer.samples.isEmpty())
        return;
    qCDebug(lcRecording).noquote() << TAG + QStringLiteral("write now");

    const int count = buffer.samples.size();
    const QString path = currentFilePath();
    // A relative directory would depend on the process's current directory.
    if (!QDir::isAbsolutePath(m_directory)) {
        reportWriteFailure(m_directory + QLatin1Char('/') + m_fileName, count, tr("no sample directory"));
    } else if (!QDir().mkpath(m_directory)) {
        reportWriteFailure(path, count, tr("the directory cannot be created"));
    } else {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
            reportWriteFailure(path, count, file.errorString());
        } else {
            QByteArray text;
            if (file.size() == 0)
                text += SampleCsv::header();
            for (int i = 0; i < count; ++i)
                text += SampleCsv::line(buffer.times.at(i), buffer.samples.at(i));
            if (file.write(text) != text.size() || !file.flush())
                reportWriteFailure(path, count, file.errorString());
        }
    }
    buffer.samples.clear();
    buffer.times.clear();
}

void StorageBackWorker::reportWriteFailure(const QString &path, int sampleCount, const QString &reason)
{
    qCWarning(lcRecording).noquote() << TAG + QStringLiteral("%1 samples lost, %2: %3").arg(sampleCount).arg(path, reason);
    emit sendTextForMsgBox(tr("%1 telemetry samples are not written to %2: %3")
                               .arg(sampleCount)
                               .arg(QDir::toNativeSeparators(path), reason),
                           false);
}

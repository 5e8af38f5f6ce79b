#include "recording/storagebackworker.h"

#include "recording/recordinglog.h"
#include "recording/samplecsv.h"
#include "recording/wholefile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QVector>

#include <algorithm>
#include <cerrno>

namespace {

const QString TAG = QStringLiteral("STORAGE_BACK_WORKER: ");

} // namespace

StorageBackWorker::StorageBackWorker(QString sampleDirectory, QObject *parent)
    : QObject(parent)
    , m_directory(std::move(sampleDirectory))
    , m_clock([] { return QDateTime::currentMSecsSinceEpoch(); })
    , m_write([](QFile &file, const QByteArray &data) { return file.write(data); })
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

void StorageBackWorker::setWriteFunction(WriteFunction write)
{
    m_write = std::move(write);
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
    const QFileInfo directory(m_directory);
    // A relative directory would depend on the process's current directory.
    if (!QDir::isAbsolutePath(m_directory)) {
        reportLoss(count, count, tr("there is no sample directory"));
    } else if (directory.exists() && !directory.isDir()) {
        reportLoss(count, count, tr("%1 is not a directory").arg(QDir::toNativeSeparators(m_directory)));
    } else if (!QDir().mkpath(m_directory)) {
        reportLoss(count, count, tr("the directory %1 cannot be created").arg(QDir::toNativeSeparators(m_directory)));
    } else {
        appendToFile(path, buffer);
    }
    buffer.samples.clear();
    buffer.times.clear();
}

// Unbuffered, so that what a failed write left in the file is known: the file is cut back
// to its last whole line, and only the samples whose lines are whole count as written.
void StorageBackWorker::appendToFile(const QString &path, const Buffer &buffer)
{
    const int count = buffer.samples.size();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        reportLoss(count, count, tr("%1 cannot be opened: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
        return;
    }
    const qint64 start = file.size();
    QByteArray text;
    QVector<int> sampleLineEnds;    // offset after each sample line
    sampleLineEnds.reserve(count);
    if (start == 0)
        text += SampleCsv::header();
    for (int i = 0; i < count; ++i) {
        text += SampleCsv::line(buffer.times.at(i), buffer.samples.at(i));
        sampleLineEnds.append(text.size());
    }
    errno = 0;
    if (m_write(file, text) == text.size())
        return;

    const QString reason = WholeFile::cause(errno, file);
    const qint64 landed = std::min<qint64>(std::max<qint64>(file.size() - start, 0), text.size());
    const auto whole = std::upper_bound(sampleLineEnds.cbegin(), sampleLineEnds.cend(), int(landed));
    const int written = int(whole - sampleLineEnds.cbegin());
    // Nothing of a batch that did not get past the header: the header goes too.
    const qint64 keep = written > 0 ? sampleLineEnds.at(written - 1) : 0;
    if (!file.resize(start + keep)) {
        qCWarning(lcRecording).noquote()
            << TAG + QStringLiteral("cannot cut %1 back: %2").arg(path, file.errorString());
    }
    reportLoss(count - written, count, tr("%1 cannot be written: %2").arg(QDir::toNativeSeparators(path), reason));
}

void StorageBackWorker::reportLoss(int lost, int batch, const QString &reason)
{
    qCWarning(lcRecording).noquote()
        << TAG + QStringLiteral("%1 of %2 samples lost: %3").arg(lost).arg(batch).arg(reason);
    // A message box: lost measurements must not pass by on the info line.
    // One arg() call: a path holding "%1" must not be taken for a place marker.
    emit sendTextForMsgBox(tr("%1 of %2 telemetry samples were lost: %3.")
                               .arg(QString::number(lost), QString::number(batch), reason),
                           true);
}

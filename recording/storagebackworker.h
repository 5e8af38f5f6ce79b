#pragma once

#include "wire/records.h"

#include <QList>
#include <QObject>
#include <QString>

class QFile;

#include <functional>

// Records telemetry samples into comma-separated files for later analysis. Lives in
// its own thread; samples are collected with their arrival times in two alternating
// buffers and a full buffer is appended to the current file in one go.
class StorageBackWorker : public QObject
{
    Q_OBJECT

public:
    static constexpr int BATCH_SIZE = 300;

    using Clock = std::function<qint64()>; // ms since the epoch
    // Writes the batch's text to the open (unbuffered, appending) file and returns the
    // bytes written or -1, as QFile::write does. Tests put a failing one in its place
    // (a full disk that takes only part of the batch).
    using WriteFunction = std::function<qint64(QFile &file, const QByteArray &text)>;

    // sampleDirectory: absolute path of the directory the sample files go to.
    explicit StorageBackWorker(QString sampleDirectory, QObject *parent = nullptr);
    // Writes what is still buffered, including samples queued to it before its thread
    // stopped, so stopping loses no sample.
    ~StorageBackWorker() override;

    void setClock(Clock clock);
    void setWriteFunction(WriteFunction write);

    // Absolute path of the current sample file; empty until the first file is named.
    QString currentFilePath() const;

public slots:
    // The sample travels by value, so the sender keeps nothing alive for this thread.
    void addSample(const ONLINE_QUANTS_S &sample);
    // Telemetry mode entered: samples from now on go to a new file.
    void changeFile();
    // Writes the buffered samples to the current file now.
    void flush();

signals:
    // A user message (a message box) when samples could not be written: how many of the
    // batch were lost, and why, naming the path at fault.
    void sendTextForMsgBox(QString msg, bool isMsgBox);

private:
    struct Buffer
    {
        QList<ONLINE_QUANTS_S> samples;
        QList<qint64> times;
    };

    void writeBuffer(Buffer &buffer);
    void appendToFile(const QString &path, const Buffer &buffer);
    void reportLoss(int lost, int batch, const QString &reason);

    QString m_directory;
    Buffer m_buffers[2];
    int m_activeBuffer = 0;
    bool m_fileNamed = false;
    QString m_fileName = QStringLiteral("init");
    qint64 m_lastFileStamp = 0;
    Clock m_clock;
    WriteFunction m_write;
};

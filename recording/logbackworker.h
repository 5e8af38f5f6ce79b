#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QFile;

// Writes the plain-text log file of one controller connection. Lives in its own
// thread; every call arrives as a queued signal, so the file is touched by that
// thread only.
class LogBackWorker : public QObject
{
    Q_OBJECT

public:
    // Codes of fileState().
    enum FileState : uint8_t {
        FileCreated = 0,       // file created and open, date line written
        FileNotCreated = 1,    // the file could not be created or opened
        MessageNotWritten = 2, // a line was lost: no file open, or the write failed
    };

    using Clock = std::function<QDateTime()>;

    explicit LogBackWorker(QObject *parent = nullptr);
    ~LogBackWorker() override;

    // Serial number as it appears in log file names: base 20, digits 0-9 then a-j,
    // so one controller always gives the same prefix.
    static QString serialNumberForFileName(uint32_t serialNumber);

    // Local time source for file names and line stamps; tests fix it.
    void setClock(Clock clock);

    // Absolute path of the file currently or last open; empty before the first file.
    QString currentFilePath() const;

public slots:
    void createFile(QString logDirectory, QString deviceSerialNumber);
    void writeMessage(QString logMsg);
    void closeFile();

signals:
    void fileState(uint8_t state);
    // The first failed write of a file, with its cause, for a message box (fileState
    // reports every line lost, on the info line).
    void writeFailed(QString text);

private:
    bool openUniqueFile(const QString &logDirectory, const QString &baseName);
    bool writeLine(const QString &message);
    void tellWriteFailure(const QString &cause);

    std::unique_ptr<QFile> m_file;
    uint32_t m_lineCounter = 0;
    bool m_writeFailureTold = false; // for the current file
    Clock m_clock;
};

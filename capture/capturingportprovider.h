#pragma once

#include "link/portprovider.h"

#include <QIODevice>
#include <memory>

class LineRecorder;

// A port that passes everything through to the port it wraps and hands each run of bytes
// written and read to the line recorder, with its time and direction. Above it nothing
// changes: the port manager sees the same signals and bytes.
class TappedPort : public QIODevice
{
    Q_OBJECT

public:
    // Takes `inner` over as its child; `line` names the port in the recorder's records.
    TappedPort(QIODevice *inner, LineRecorder *recorder, uint8_t line = 0, QObject *parent = nullptr);
    ~TappedPort() override;

    QIODevice *inner() const { return m_inner; }

    bool open(OpenMode mode) override;
    void close() override;
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    qint64 bytesToWrite() const override;
    bool waitForReadyRead(int msecs) override;
    bool waitForBytesWritten(int msecs) override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    QIODevice *m_inner;
    LineRecorder *m_recorder;
    uint8_t m_line;
};

// Another provider's ports, each tapped for the line recorder as line `line`.
class CapturingPortProvider : public PortProvider
{
public:
    CapturingPortProvider(PortProvider *ports, LineRecorder *recorder, uint8_t line = 0)
        : m_ports(ports), m_recorder(recorder), m_line(line)
    {
    }
    // The same, owning the provider.
    CapturingPortProvider(std::unique_ptr<PortProvider> ports, LineRecorder *recorder, uint8_t line = 0)
        : m_owned(std::move(ports)), m_ports(m_owned.get()), m_recorder(recorder), m_line(line)
    {
    }

    QList<PortInfo> availablePorts() const override { return m_ports->availablePorts(); }
    QIODevice *createPort(const QString &portName, QObject *parent) override;
    bool checkReadiness(const QString &portName) override { return m_ports->checkReadiness(portName); }
    QString readinessProblem(const QString &portName) override { return m_ports->readinessProblem(portName); }
    QString openProblem(const QIODevice &port, const QString &portName) override;
    bool setLowLatency(QIODevice *port, bool on) override;

private:
    static QIODevice *innerOf(QIODevice *port);

    std::unique_ptr<PortProvider> m_owned;
    PortProvider *m_ports;
    LineRecorder *m_recorder;
    uint8_t m_line;
};

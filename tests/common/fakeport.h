#pragma once

#include "link/portprovider.h"

#include <QIODevice>
#include <QList>
#include <QPointer>

#include <atomic>

// A port the test controls byte by byte: writes are recorded and come back as echo only
// when the test delivers them, together with whatever answer the test chooses.
class FakePort : public QIODevice
{
    Q_OBJECT

public:
    explicit FakePort(QObject *parent = nullptr) : QIODevice(parent) {}

    QList<QByteArray> writes;
    QByteArray pendingEcho;
    bool refuseWrites = false; // a full buffer: no byte taken
    bool failWrites = false;   // a write error
    int acceptAtMost = -1;     // >= 0: a write takes at most this many bytes
    bool failOpen = false;

    bool open(OpenMode mode) override { return failOpen ? false : QIODevice::open(mode); }

    // Delivers the echo of everything written so far, then `answer`.
    void answer(const QByteArray &answer)
    {
        const QByteArray echo = pendingEcho;
        pendingEcho.clear(); // the delivery may write the next request
        deliver(echo + answer);
    }
    void deliver(const QByteArray &bytes)
    {
        m_rx.append(bytes);
        emit readyRead();
    }
    void vanish() { emit readChannelFinished(); }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_rx.size() + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 n = qMin<qint64>(maxSize, m_rx.size());
        memcpy(data, m_rx.constData(), size_t(n));
        m_rx.remove(0, int(n));
        return n;
    }
    qint64 writeData(const char *data, qint64 size) override
    {
        if (failWrites)
            return -1;
        if (refuseWrites)
            return 0;
        if (acceptAtMost >= 0)
            size = qMin<qint64>(size, acceptAtMost);
        writes.append(QByteArray(data, int(size)));
        pendingEcho.append(data, int(size));
        return size;
    }

private:
    QByteArray m_rx;
};

class FakeProvider : public PortProvider
{
public:
    QList<PortInfo> ports;
    std::atomic<bool> ready {true};
    bool openSucceeds = true;
    QPointer<FakePort> lastPort;
    int portsCreated = 0;

    QList<PortInfo> availablePorts() const override { return ports; }
    QIODevice *createPort(const QString &, QObject *parent) override
    {
        ++portsCreated;
        auto *port = new FakePort(parent);
        port->failOpen = !openSucceeds;
        lastPort = port;
        return port;
    }
    QString problem; // the reason given when not ready
    bool checkReadiness(const QString &) override { return ready; }
    QString readinessProblem(const QString &name) override
    {
        return ready ? QString() : problem.isEmpty() ? PortDoctor::cannotOpen(name) : problem;
    }
};

#pragma once

#include "sim/realtimeclock.h"

#include <QIODevice>
#include <QPointer>

class SimulatedController;

// An in-process serial port with a simulated controller at the other end. The
// controller outlives the port: a port opened again talks to the same controller.
// Received bytes are delivered by a queued call, never from inside write(), so the
// writer has finished its bookkeeping before readyRead() comes.
class SimulatedPort : public QIODevice
{
    Q_OBJECT

public:
    explicit SimulatedPort(SimulatedController *controller, QObject *parent = nullptr);
    ~SimulatedPort() override;

    // Real-time mode: the controller's clock follows the wall clock while the port is
    // open (the demo). Off by default: tests advance the controller themselves.
    void setRealTime(bool on);

    bool open(OpenMode mode) override;
    void close() override;
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    void deliver();
    void onVanished();

    QPointer<SimulatedController> m_controller;
    RealTimeClock m_clock;
    QByteArray m_received;
    bool m_realTime = false;
    bool m_lost = false;
};

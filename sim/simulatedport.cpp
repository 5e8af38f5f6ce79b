#include "sim/simulatedport.h"

#include "sim/simulatedcontroller.h"

#include <algorithm>
#include <cstring>

SimulatedPort::SimulatedPort(SimulatedController *controller, QObject *parent)
    : QIODevice(parent)
    , m_controller(controller)
    , m_clock(controller)
{
    if (controller) {
        connect(controller, &SimulatedController::outputAvailable, this, &SimulatedPort::deliver,
                Qt::QueuedConnection);
        connect(controller, &SimulatedController::vanished, this, &SimulatedPort::onVanished,
                Qt::QueuedConnection);
    }
}

SimulatedPort::~SimulatedPort()
{
    if (isOpen())
        close();
}

void SimulatedPort::setRealTime(bool on)
{
    m_realTime = on;
    if (!isOpen())
        return;
    if (on)
        m_clock.start();
    else
        m_clock.stop();
}

bool SimulatedPort::open(OpenMode mode)
{
    if (!m_controller || m_controller->hasVanished()) {
        setErrorString(tr("The simulated controller is gone"));
        return false;
    }
    // Whatever the controller sent while the port was closed is lost, as on a real port.
    m_controller->takeOutput();
    m_received.clear();
    m_lost = false;
    if (!QIODevice::open(mode | QIODevice::Unbuffered))
        return false;
    if (m_realTime)
        m_clock.start();
    return true;
}

void SimulatedPort::close()
{
    m_clock.stop();
    m_received.clear();
    QIODevice::close();
}

qint64 SimulatedPort::bytesAvailable() const
{
    return m_received.size() + QIODevice::bytesAvailable();
}

qint64 SimulatedPort::readData(char *data, qint64 maxSize)
{
    if (m_received.isEmpty())
        return m_lost ? -1 : 0;
    const int count = int(std::min<qint64>(maxSize, m_received.size()));
    std::memcpy(data, m_received.constData(), size_t(count));
    m_received.remove(0, count);
    return count;
}

qint64 SimulatedPort::writeData(const char *data, qint64 size)
{
    if (!m_controller || m_lost)
        return -1;
    m_clock.catchUp();
    m_controller->receiveFromHost(QByteArray(data, int(size)));
    m_clock.scheduleNext();
    QMetaObject::invokeMethod(this, [this, size] { emit bytesWritten(size); }, Qt::QueuedConnection);
    return size;
}

void SimulatedPort::deliver()
{
    if (!isOpen() || !m_controller || m_lost)
        return;
    const QByteArray bytes = m_controller->takeOutput();
    if (bytes.isEmpty())
        return;
    m_received.append(bytes);
    emit readyRead();
}

void SimulatedPort::onVanished()
{
    if (!isOpen())
        return;
    m_lost = true;
    m_clock.stop();
    m_received.clear();
    emit readChannelFinished();
}

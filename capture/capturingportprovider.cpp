#include "capture/capturingportprovider.h"

#include "capture/linerecorder.h"

TappedPort::TappedPort(QIODevice *inner, LineRecorder *recorder, uint8_t line, QObject *parent)
    : QIODevice(parent), m_inner(inner), m_recorder(recorder), m_line(line)
{
    m_inner->setParent(this);
    connect(m_inner, &QIODevice::readyRead, this, &QIODevice::readyRead);
    connect(m_inner, &QIODevice::readChannelFinished, this, &QIODevice::readChannelFinished);
    connect(m_inner, &QIODevice::bytesWritten, this, &QIODevice::bytesWritten);
}

TappedPort::~TappedPort()
{
    if (isOpen())
        m_recorder->recordClosed(m_line);
}

bool TappedPort::open(OpenMode mode)
{
    if (!m_inner->open(mode)) {
        setErrorString(m_inner->errorString());
        return false;
    }
    return QIODevice::open(mode | QIODevice::Unbuffered);
}

void TappedPort::close()
{
    if (!isOpen())
        return;
    m_inner->close();
    m_recorder->recordClosed(m_line);
    QIODevice::close();
}

qint64 TappedPort::bytesAvailable() const
{
    return m_inner->bytesAvailable() + QIODevice::bytesAvailable();
}

qint64 TappedPort::bytesToWrite() const
{
    return m_inner->bytesToWrite();
}

bool TappedPort::waitForReadyRead(int msecs)
{
    return m_inner->waitForReadyRead(msecs);
}

bool TappedPort::waitForBytesWritten(int msecs)
{
    return m_inner->waitForBytesWritten(msecs);
}

qint64 TappedPort::readData(char *data, qint64 maxSize)
{
    const qint64 read = m_inner->read(data, maxSize);
    if (read > 0)
        m_recorder->recordRead(data, read, m_line);
    else if (read < 0)
        setErrorString(m_inner->errorString());
    return read;
}

qint64 TappedPort::writeData(const char *data, qint64 size)
{
    const qint64 written = m_inner->write(data, size);
    if (written > 0)
        m_recorder->recordWritten(data, written, m_line);
    else if (written < 0)
        setErrorString(m_inner->errorString());
    return written;
}

QIODevice *CapturingPortProvider::createPort(const QString &portName, QObject *parent)
{
    QIODevice *inner = m_ports->createPort(portName, nullptr);
    return inner ? new TappedPort(inner, m_recorder, m_line, parent) : nullptr;
}

QIODevice *CapturingPortProvider::innerOf(QIODevice *port)
{
    auto *tapped = qobject_cast<TappedPort *>(port);
    return tapped ? tapped->inner() : port;
}

QString CapturingPortProvider::openProblem(const QIODevice &port, const QString &portName)
{
    return m_ports->openProblem(*innerOf(const_cast<QIODevice *>(&port)), portName);
}

bool CapturingPortProvider::setLowLatency(QIODevice *port, bool on)
{
    return m_ports->setLowLatency(innerOf(port), on);
}

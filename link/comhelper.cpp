#include "comhelper.h"

#include "link/combackworker.h"
#include "link/portprovider.h"

#include <QDebug>
#include <QIODevice>
#include <QLoggingCategory>
#include <QMetaObject>
#include <QTime>

#include <algorithm>
#include <utility>

Q_LOGGING_CATEGORY(lcCom, "kordo.link")

namespace {

QDebug comDebug()
{
    return QMessageLogger(nullptr, 0, nullptr).debug(lcCom()).noquote()
           << "COM_HELPER:" << QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
}

bool containsPort(const QList<PortInfo> &ports, const QString &name)
{
    return std::any_of(ports.cbegin(), ports.cend(), [&](const PortInfo &p) { return p.portName == name; });
}

// How long the last request at exit may take to leave the port.
constexpr int LAST_REQUEST_WAIT_MS = 100;

} // namespace

void registerLinkMetaTypes()
{
    // Once, whichever thread comes first: a container registered from two threads at once
    // has its converter registered twice, and Qt warns.
    static const bool registered = [] {
        qRegisterMetaType<PortInfo>("PortInfo");
        qRegisterMetaType<QList<PortInfo>>("QList<PortInfo>");
        registerRequestMetaTypes();
        return true;
    }();
    Q_UNUSED(registered)
}

ComHelper::ComHelper(PortProvider *provider, QObject *parent)
    : QObject(parent), m_provider(provider), m_line(this)
{
    registerLinkMetaTypes();
}

ComHelper::~ComHelper()
{
    shutdown();
}

void ComHelper::shutdown()
{
    stopReadinessThread();
    m_line.portClosed();
    if (m_port) {
        m_port->close();
        delete m_port;
        m_port = nullptr;
    }
    m_portOpen = false;
    m_state = PortInit;
}

// ---- port life cycle ----------------------------------------------------------------

void ComHelper::startPortSelection()
{
    if (!runsInOwnThread()) {
        QMetaObject::invokeMethod(this, &ComHelper::startPortSelection, Qt::QueuedConnection);
        return;
    }
    if (m_state != PortInit && m_state != PortIdle)
        return;
    comDebug() << "Start port idle ";
    reportIdle();
    m_state = PortChoose;
}

void ComHelper::selectPort(const QString &portName)
{
    if (!runsInOwnThread()) {
        QMetaObject::invokeMethod(this, [this, portName] { selectPort(portName); }, Qt::QueuedConnection);
        return;
    }
    // A late answer to a choice the port manager has already closed (the adapter came back
    // and was taken) must not replace the port being checked or opened.
    if (m_state == PortAwaitSelection) {
        m_selectedPort = portName;
        m_state = PortCheckReadiness;
    } else if (m_state == PortInit || m_state == PortIdle) {
        m_selectedPort = portName;
    }
}

void ComHelper::portSelectionCanceled()
{
    if (!runsInOwnThread()) {
        QMetaObject::invokeMethod(this, &ComHelper::portSelectionCanceled, Qt::QueuedConnection);
        return;
    }
    if (m_state != PortAwaitSelection)
        return; // the choice was closed by the port manager: nothing to cancel
    m_selectedPort.clear();
    m_state = PortIdle;
}

void ComHelper::reportIdle()
{
    emit portConnectionStateChange(QString(), false, false, false);
}

void ComHelper::refreshPortLists(const QList<PortInfo> &ports)
{
    m_zorbelPorts.clear();
    m_genPorts.clear();
    for (const PortInfo &port : ports)
        (port.isAdapter() ? m_zorbelPorts : m_genPorts).append(port);
    m_knownPortCount = m_zorbelPorts.size() + m_genPorts.size();
    emit portsUpdate(m_zorbelPorts, m_genPorts);
}

void ComHelper::handleTimeout()
{
    m_line.tick();

    if (isPortListingDue()) {
        const QList<PortInfo> ports = m_provider->availablePorts();
        if (ports.size() != m_knownPortCount) {
            refreshPortLists(ports);
            if (m_port && !containsPort(ports, m_selectedPort)) {
                m_state = PortLost;
                return;
            }
            // A changed port set restarts the choice in every state without a port; an open
            // choice is closed first, so the window never shows an outdated list.
            if (m_state == PortAwaitSelection)
                emit portChoiceClosed();
            if (m_state == PortIdle || m_state == PortAwaitSelection)
                m_state = PortChoose;
        }
    }
    actOnState();
}

// Listing the machine's ports costs milliseconds. An open port that goes away says so
// through its own error at once, so while connected the list is only a backstop (and keeps
// the shown port set current); while looking for a port it is read every tick.
bool ComHelper::isPortListingDue()
{
    if (m_state != PortConnected) {
        m_ticksSinceListing = 0;
        return true;
    }
    if (++m_ticksSinceListing < LISTING_TICKS_WHILE_CONNECTED)
        return false;
    m_ticksSinceListing = 0;
    return true;
}

void ComHelper::actOnState()
{
    switch (m_state) {
    case PortInit:
    case PortIdle:
    case PortAwaitSelection:
        break;
    case PortChoose:
        choosePort();
        break;
    case PortCheckReadiness:
        startReadinessCheck();
        break;
    case PortWaitReadiness:
        emit portConnectionStateChange(m_selectedPort, m_isZorbel, true, false);
        break;
    case PortOpen:
        openSelectedPort();
        break;
    case PortConnected:
        m_line.sendNext();
        break;
    case PortLost:
        closeLostPort();
        break;
    }
}

void ComHelper::choosePort()
{
    m_selectedPort.clear();
    if (m_zorbelPorts.size() == 1) {
        m_selectedPort = m_zorbelPorts.first().portName;
        m_isZorbel = true;
        m_state = PortCheckReadiness;
        emit hidePortMessage();
    } else if (m_zorbelPorts.size() > 1) {
        m_isZorbel = true;
        m_state = PortAwaitSelection;
        emit needPortSelectAndInform(m_zorbelPorts, true);
        emit hidePortMessage();
    } else if (!m_genPorts.isEmpty()) {
        m_isZorbel = false;
        m_state = PortAwaitSelection;
        emit needPortSelectAndInform(m_genPorts, false);
        emit hidePortMessage();
    } else {
        m_state = PortIdle;
        emit needPortSelectAndInform({}, false);
    }
}

void ComHelper::startReadinessCheck()
{
    if (m_selectedPort.isEmpty())
        return;
    comDebug() << " Start working thread to wait for port readiness";
    auto *worker = new ComBackWorker(m_provider);
    worker->moveToThread(&m_readinessThread);
    connect(&m_readinessThread, &QThread::finished, worker, &QObject::deleteLater);
    connect(this, &ComHelper::checkComportReadiness, worker, &ComBackWorker::checkComportReadiness);
    connect(worker, &ComBackWorker::comPortReadiness, this, &ComHelper::handleComportReadiness);
    connect(worker, &ComBackWorker::comPortProblem, this, &ComHelper::reportPortProblem);
    m_readinessThread.start();
    emit checkComportReadiness(m_selectedPort);
    m_state = PortWaitReadiness;
}

void ComHelper::stopReadinessThread()
{
    if (!m_readinessThread.isRunning())
        return;
    comDebug() << " Stopping working thread";
    m_readinessThread.quit();
    m_readinessThread.wait();
}

void ComHelper::handleComportReadiness(bool isReady)
{
    if (isReady) {
        m_state = PortOpen;
    } else {
        reportIdle();
        m_state = PortChoose;
    }
    stopReadinessThread();
}

void ComHelper::openSelectedPort()
{
    comDebug() << " Opening port" << m_selectedPort;
    m_port = m_provider->createPort(m_selectedPort, this);
    comDebug() << "Creating: " << m_selectedPort;
    connect(m_port, &QIODevice::readChannelFinished, this, &ComHelper::takePortAsLost);
    if (!m_port->open(QIODevice::ReadWrite)) {
        comDebug() << " Error during port opening" << m_port->errorString();
        reportPortProblem(m_provider->openProblem(*m_port, m_selectedPort));
        reportIdle();
        delete m_port;
        m_port = nullptr;
        m_state = PortChoose;
        return;
    }
    comDebug() << "Port opened";
    m_portOpen = true;
    m_line.portOpened(m_port);
    m_lastPortProblem.clear();
    emit portConnectionStateChange(m_selectedPort, m_isZorbel, false, true);
    m_state = PortConnected;
    emit comPortOpened();
}

// A port that reports a resource error (unplugged, hung up) is closed at once, so a dead
// descriptor cannot keep waking the thread; the next tick finishes the clean-up.
void ComHelper::takePortAsLost()
{
    if (!m_port || m_state == PortLost)
        return;
    comDebug() << "Port lost" << m_selectedPort;
    m_port->close();
    m_portOpen = false;
    m_state = PortLost;
}

void ComHelper::closeLostPort()
{
    if (m_port) {
        comDebug() << "Send com port stop";
        if (m_port->isOpen())
            m_port->close();
        m_portOpen = false;
        m_line.portClosed();
        m_port->disconnect(this);
        comDebug() << "Deleting: " << m_selectedPort;
        m_port->deleteLater(); // the lost port may still be inside one of its own signals
        m_port = nullptr;
    }
    emit comPortClosed();
    reportIdle();
    m_state = PortIdle;
}

// A port that stays unusable is retried every few ticks: its reason is shown once.
void ComHelper::reportPortProblem(const QString &problem)
{
    if (problem == m_lastPortProblem)
        return;
    m_lastPortProblem = problem;
    qCWarning(lcCom).noquote() << "COM_HELPER:" << problem;
    emit portProblem(problem);
}

// ---- traffic ------------------------------------------------------------------------

bool ComHelper::writeLastRequest(uint8_t vyxMsgId, const QByteArray &msg)
{
    return m_line.writeLastRequest(vyxMsgId, msg, LAST_REQUEST_WAIT_MS);
}

void ComHelper::setVyxAddress(uint8_t address)
{
    m_line.setDeviceAddress(address);
}

void ComHelper::setLowLatency(bool on)
{
    if (m_port && m_port->isOpen() && !m_provider->setLowLatency(m_port, on))
        comDebug() << "Low latency" << (on ? "not available" : "not restored") << "on" << m_selectedPort;
}

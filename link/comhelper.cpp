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

constexpr uint32_t DEFAULT_ANSWER_LIMIT_MS = 100;
// A begun frame whose bytes stop for this many ticks is not awaited any more.
constexpr int FRAME_GAP_TICKS = 2;
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
        qRegisterMetaType<VYX_Protocol::VYX_MSG>("VYX_Protocol::VYX_MSG");
        qRegisterMetaType<uint8_t>("uint8_t");
        qRegisterMetaType<uint32_t>("uint32_t");
        return true;
    }();
    Q_UNUSED(registered)
}

ComHelper::ComHelper(PortProvider *provider, QObject *parent)
    : QObject(parent), m_provider(provider), m_watchdog(this)
{
    registerLinkMetaTypes();

    VYX_Protocol::init(m_rxConfig, 0, 255);
    m_watchdog.setLimit(DEFAULT_ANSWER_LIMIT_MS);
    connect(&m_watchdog, &WatchDog::expired, this, &ComHelper::watchDogExpired);
}

ComHelper::~ComHelper()
{
    shutdown();
}

void ComHelper::shutdown()
{
    stopReadinessThread();
    if (m_port) {
        m_port->close();
        delete m_port;
        m_port = nullptr;
    }
    m_portOpen = false;
    m_queue.clear();
    m_watchdog.stop();
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
    m_watchdog.update();
    if (m_ticksSinceByte < FRAME_GAP_TICKS)
        ++m_ticksSinceByte;

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
        sendNext();
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
    connect(m_port, &QIODevice::readyRead, this, &ComHelper::handleReadyRead);
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
    m_echoSkip = 0;
    m_lastPortProblem.clear();
    m_writeProblems = 0;
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
        m_watchdog.stop();
        m_queue.clear();
        m_frameBegun = false;
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

// ---- traffic -------------------------------------------------------------------------

QString ComHelper::senderName() const
{
    const QObject *requester = sender();
    return requester ? QString::fromLatin1(requester->metaObject()->className()) : QString();
}

bool ComHelper::sendVyxMessageObj(uint8_t vyxMsgId, QByteArray msg, bool pingType, bool waitForAnswer)
{
    return queueVyxMessage(senderName(), vyxMsgId, msg, pingType, waitForAnswer);
}

bool ComHelper::sendMessage(QByteArray msg, bool pollOrCheckDevice, bool waitForAnswer)
{
    return queueRawMessage(senderName(), msg, pollOrCheckDevice, waitForAnswer);
}

bool ComHelper::queueVyxMessage(const QString &receiver, uint8_t vyxMsgId, const QByteArray &msg, bool pingType,
                                bool waitForAnswer)
{
    const QByteArray frame = m_codec.encode(m_deviceAddress, vyxMsgId, msg);
    if (frame.isEmpty()) {
        comDebug() << "Request" << Qt::hex << vyxMsgId << "from" << receiver << "not sent: payload too long";
        return false;
    }
    return enqueue({frame, vyxMsgId, pingType, waitForAnswer, true, receiver});
}

bool ComHelper::queueRawMessage(const QString &receiver, const QByteArray &msg, bool pingType, bool waitForAnswer)
{
    return enqueue({msg, 0, pingType, waitForAnswer, false, receiver});
}

bool ComHelper::writeLastRequest(uint8_t vyxMsgId, const QByteArray &msg)
{
    if (!m_port || !m_port->isOpen())
        return false;
    const QByteArray frame = m_codec.encode(m_deviceAddress, vyxMsgId, msg);
    if (frame.isEmpty() || m_port->write(frame) != frame.size())
        return false;
    m_port->waitForBytesWritten(LAST_REQUEST_WAIT_MS);
    return true;
}

bool ComHelper::enqueue(PendingMessage request)
{
    // Without an open port nothing is kept: requests piled up here would flood the
    // controller when it returns. Nobody waits for them: closing the port drops the device,
    // and every requester hears of that.
    if (!m_port || !m_port->isOpen()) {
        comDebug() << "No port: request" << Qt::hex << request.msgId << "from" << request.receiver << "dropped";
        return false;
    }
    if (request.pingType) {
        // The newest poll goes first; it need not wait out the slot of a request of its own
        // kind that expects no answer. Frames and byte-wise requests never share a slot: a
        // late answer would be read as the other kind's.
        const bool sameKind = request.isVyx == m_currentRequest.isVyx;
        // A poll that expects no answer is not repeated while it is in its slot, and one that
        // waits still is replaced by its repetition: both going out back to back would bring
        // two answers, the second taken for the next request's.
        if (!request.waitForAnswer && m_watchdog.isRunning() && m_currentRequest.pingType
            && !m_currentRequest.waitForAnswer && m_lastSent == request.bytes
            && m_currentRequest.receiver == request.receiver)
            return true;
        if (!request.waitForAnswer) {
            m_queue.erase(std::remove_if(m_queue.begin(), m_queue.end(),
                                         [&](const PendingMessage &queued) {
                                             return queued.pingType && !queued.waitForAnswer
                                                 && queued.bytes == request.bytes
                                                 && queued.receiver == request.receiver;
                                         }),
                          m_queue.end());
        }
        m_queue.prepend(std::move(request));
        if (m_watchdog.isRunning() && !m_currentRequest.waitForAnswer && sameKind)
            m_watchdog.stop();
    } else {
        m_queue.append(std::move(request));
    }
    return sendNext();
}

bool ComHelper::sendNext()
{
    if (m_watchdog.isRunning() || m_queue.isEmpty() || !m_port || !m_port->isOpen())
        return false;

    const PendingMessage head = m_queue.takeFirst();
    const qint64 written = m_port->write(head.bytes);
    if (written <= 0) {
        // Nothing went out: the request stays at the head and the next send step retries.
        reportWriteProblem(written < 0 ? WriteFailed : WriteBlocked);
        m_queue.prepend(head);
        return false;
    }
    m_currentRequest = head;
    m_currentRequest.bytes.clear();
    m_echoSkip = uint16_t(written); // the part that went out still comes back as echo
    m_lastSent = head.bytes;
    if (written < head.bytes.size()) {
        // A cut frame is never answered: the request is lost at once.
        reportWriteProblem(WriteCut);
        loseCurrentRequest();
        return false;
    }
    m_writeProblems = 0;
    m_watchdog.start();
    return true;
}

void ComHelper::reportWriteProblem(WriteProblem problem)
{
    if (m_writeProblems & problem)
        return; // each kind once, until a write succeeds again
    m_writeProblems |= problem;
    switch (problem) {
    case WriteFailed:
        qCWarning(lcCom).noquote() << "COM_HELPER: write failed:" << m_port->errorString();
        break;
    case WriteBlocked:
        qCWarning(lcCom).noquote() << "COM_HELPER: the port took no byte; the request waits";
        break;
    case WriteCut:
        qCWarning(lcCom).noquote() << "COM_HELPER: the port took only part of a request; it is lost";
        break;
    }
}

void ComHelper::handleReadyRead()
{
    if (!m_port)
        return;
    const QByteArray received = m_port->readAll();
    for (char c : received)
        receiveByte(uint8_t(c));
}

bool ComHelper::mayFrameAnswerArrive() const
{
    return (m_currentRequest.isVyx && m_watchdog.isRunning()) || (m_frameBegun && m_ticksSinceByte < FRAME_GAP_TICKS);
}

void ComHelper::receiveByte(uint8_t byte)
{
    if (m_echoSkip > 0) {
        --m_echoSkip;
        return;
    }
    m_ticksSinceByte = 0;
    if (byte == VYX_Protocol::FRAME_START)
        m_frameBegun = true;
    else if (byte == VYX_Protocol::FRAME_END)
        m_frameBegun = false;
    if (!m_currentRequest.isVyx) {
        emit handleReceivedChar(long(byte));
        return;
    }
    if (!m_codec.decodeByte(byte, m_rxMsg, m_rxConfig))
        return;
    if (m_rxMsg.status != VYX_Protocol::Good) {
        comDebug() << "Error " << "Received msg " << QString::number(m_rxMsg.msgId, 16) << "address"
                   << QString::number(m_rxMsg.address, 16) << "status" << m_rxMsg.status;
        return;
    }
    emit processVyxMessageObj(m_currentRequest.receiver, m_rxMsg);
    m_watchdog.stop();
    m_currentRequest.pingType = false;
    m_currentRequest.waitForAnswer = false;
    sendNext();
}

void ComHelper::answerCorrect()
{
    comDebug() << "coreect answer";
    if (m_currentRequest.isVyx)
        return;
    m_watchdog.stop();
    m_currentRequest.pingType = false;
    m_currentRequest.waitForAnswer = false;
    sendNext();
}

void ComHelper::watchDogLimitReset()
{
    m_watchdog.setLimit(DEFAULT_ANSWER_LIMIT_MS);
}

void ComHelper::watchDogLimitSet(uint32_t time_in_ms)
{
    m_watchdog.setLimit(time_in_ms);
}

// An expiry never touches the port state: a port found lost in the same tick stays lost.
void ComHelper::watchDogExpired()
{
    if (!m_currentRequest.waitForAnswer)
        return; // only the line is freed; this tick's send step writes the next request
    if (m_lastSent.size() > 2)
        comDebug() << " Watch dog is enabled 0x" + QString::number(uint8_t(m_lastSent.at(2)), 16);
    loseCurrentRequest();
}

// The queue is emptied, and every requester whose request is dropped is told, exactly as
// the owner of the lost request is: each of them resends what it still needs. Requests
// queued from inside these reports go out normally.
void ComHelper::loseCurrentRequest()
{
    const QVector<PendingMessage> dropped = std::exchange(m_queue, {});
    const PendingMessage lost = m_currentRequest;
    m_currentRequest.pingType = false;
    m_currentRequest.waitForAnswer = false;
    if (lost.waitForAnswer)
        emit watchDogOverflowObj(lost.msgId, lost.receiver);
    for (const PendingMessage &request : dropped) {
        if (request.waitForAnswer)
            emit watchDogOverflowObj(request.msgId, request.receiver);
    }
}

void ComHelper::clearMessageStack()
{
    m_queue.clear();
}

void ComHelper::setVyxAddress(uint8_t address)
{
    m_deviceAddress = address;
}

void ComHelper::setLowLatency(bool on)
{
    if (m_port && m_port->isOpen() && !m_provider->setLowLatency(m_port, on))
        comDebug() << "Low latency" << (on ? "not available" : "not restored") << "on" << m_selectedPort;
}

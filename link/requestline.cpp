#include "link/requestline.h"

#include "link/requestchannel.h"

#include <QDebug>
#include <QIODevice>
#include <QLoggingCategory>
#include <QTime>

#include <algorithm>
#include <limits>
#include <utility>

Q_DECLARE_LOGGING_CATEGORY(lcCom)

namespace {

QDebug lineDebug()
{
    return QMessageLogger(nullptr, 0, nullptr).debug(lcCom()).noquote()
           << "COM_HELPER:" << QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
}

// A begun frame whose bytes stop for this many ticks is not awaited any more.
constexpr int FRAME_GAP_TICKS = 2;
// The echo bytes already dropped are let go in blocks of this size.
constexpr int ECHO_COMPACT_BYTES = 4096;

} // namespace

void registerRequestMetaTypes()
{
    static const bool registered = [] {
        qRegisterMetaType<RequestTicket>("RequestTicket");
        qRegisterMetaType<RequestFailure>("RequestFailure");
        qRegisterMetaType<BootAnswer>("BootAnswer");
        qRegisterMetaType<BootShape>("BootShape");
        qRegisterMetaType<VYX_Protocol::VYX_MSG>("VYX_Protocol::VYX_MSG");
        qRegisterMetaType<uint8_t>("uint8_t");
        qRegisterMetaType<uint32_t>("uint32_t");
        return true;
    }();
    Q_UNUSED(registered)
}

RequestLine::RequestLine(QObject *parent) : QObject(parent), m_watchdog(this)
{
    registerRequestMetaTypes();
    VYX_Protocol::init(m_rxConfig, 0, 255);
    m_watchdog.setLimit(RequestChannel::DEFAULT_ANSWER_LIMIT_MS);
    connect(&m_watchdog, &WatchDog::expired, this, &RequestLine::watchDogExpired);
}

RequestLine::~RequestLine()
{
    for (RequestChannel *channel : qAsConst(m_channels))
        channel->setAttachedLine(nullptr, {});
}

void RequestLine::attach(RequestChannel *channel)
{
    if (!channel || m_channels.contains(channel))
        return;
    if (RequestLine *other = channel->attachedLine())
        other->detach(channel);
    m_channels.append(channel);
    channel->setAttachedLine(this, {});
}

// A requester that goes away takes its requests with it: nobody is left to tell.
void RequestLine::detach(RequestChannel *channel)
{
    m_channels.removeAll(channel);
    channel->setAttachedLine(nullptr, {});
    m_queue.erase(std::remove_if(m_queue.begin(), m_queue.end(),
                                 [channel](const Pending &request) { return request.owner == channel; }),
                  m_queue.end());
    m_due.erase(std::remove_if(m_due.begin(), m_due.end(),
                               [channel](const Outcome &outcome) { return outcome.owner == channel; }),
                m_due.end());
    if (m_current.owner == channel)
        m_current.owner = nullptr;
}

// ---- port ----------------------------------------------------------------------------------

void RequestLine::portOpened(QIODevice *port)
{
    m_port = port;
    connect(m_port, &QIODevice::readyRead, this, &RequestLine::handleReadyRead);
    m_echoSkip = 0;
    m_echoBytes.clear();
    m_echoPosition = 0;
    m_awaitingEcho = false;
    m_writeProblems = 0;
    m_frameBegun = false;
}

// Nothing written before the close is answered any more: every open request fails.
void RequestLine::portClosed()
{
    if (m_port)
        m_port->disconnect(this);
    m_port = nullptr;
    m_watchdog.stop();
    m_frameBegun = false;
    m_echoSkip = 0;
    m_echoBytes.clear();
    m_echoPosition = 0;
    m_awaitingEcho = false;
    if (m_currentOpen)
        endCurrent(RequestFailure::PortClosed);
    clearQueue(RequestFailure::PortClosed);
}

// ---- queue -----------------------------------------------------------------------------------

void RequestLine::enqueueFrame(RequestChannel *owner, RequestTicket ticket, uint8_t msgId, const QByteArray &payload,
                               bool poll, bool waitForAnswer, uint32_t answerLimitMs, bool ownIdOnly)
{
    Pending request;
    request.owner = owner;
    request.ticket = ticket;
    request.msgId = msgId;
    request.poll = poll;
    request.waitForAnswer = waitForAnswer;
    request.isFrame = true;
    request.ownIdOnly = ownIdOnly;
    request.answerLimitMs = answerLimitMs;
    request.bytes = m_codec.encode(m_deviceAddress, msgId, payload);
    if (request.bytes.isEmpty()) {
        lineDebug() << "Request" << Qt::hex << msgId << "from" << owner->tag() << "not sent: payload too long";
        ++m_sending;
        fail(request, RequestFailure::TooLong);
        --m_sending;
        return;
    }
    enqueue(std::move(request));
}

void RequestLine::enqueueBytes(RequestChannel *owner, RequestTicket ticket, const QByteArray &bytes, BootShape shape,
                               int fixedLength, bool poll, bool waitForAnswer, uint32_t answerLimitMs)
{
    Pending request;
    request.owner = owner;
    request.ticket = ticket;
    request.bytes = bytes;
    request.poll = poll;
    request.waitForAnswer = waitForAnswer;
    request.isFrame = false;
    request.answerLimitMs = answerLimitMs;
    request.shape = shape;
    request.fixedLength = fixedLength;
    enqueue(std::move(request));
}

void RequestLine::enqueue(Pending request)
{
    // Outcomes decided while the request is being sent wait for the next tick: its owner
    // does not know the ticket before send() returns.
    ++m_sending;
    // Without an open port nothing is kept: requests piled up here would flood the
    // controller when it returns.
    if (!m_port || !m_port->isOpen()) {
        lineDebug() << "No port: request" << Qt::hex << request.msgId << "from"
                    << (request.owner ? request.owner->tag() : QString()) << "not sent";
        fail(request, RequestFailure::NoPort);
        --m_sending;
        return;
    }
    if (request.poll) {
        // The newest poll goes first; it need not wait out the slot of a request of its own
        // kind that expects no answer. Frames and bootloader requests never share a slot: a
        // late answer would be read as the other kind's.
        const bool sameKind = request.isFrame == m_current.isFrame;
        // A poll that expects no answer and still waits in the queue is replaced by its
        // repetition: both going out back to back would bring two answers for one turn. One
        // already written only holds its slot: the repetition cuts it short and goes out at
        // once (a bootloader sync each tick), once the echo of the one in flight is back.
        if (!request.waitForAnswer) {
            QVector<Pending> replaced;
            for (auto it = m_queue.begin(); it != m_queue.end();) {
                if (it->poll && !it->waitForAnswer && it->bytes == request.bytes && it->owner == request.owner) {
                    replaced.append(*it);
                    it = m_queue.erase(it);
                } else {
                    ++it;
                }
            }
            for (const Pending &old : qAsConst(replaced))
                fail(old, RequestFailure::Replaced);
        }
        m_queue.prepend(std::move(request));
        // The slot is cut only once the request's own echo is back: on a slow line (an
        // adapter that holds the bytes) its answer may follow at once, and a write before
        // the echo would let that answer be dropped as the next request's echo.
        if (m_watchdog.isRunning() && !m_current.waitForAnswer && sameKind && !m_awaitingEcho)
            m_watchdog.stop();
    } else {
        m_queue.append(std::move(request));
    }
    sendNext();
    --m_sending;
}

bool RequestLine::sendNext()
{
    if (m_watchdog.isRunning() || m_queue.isEmpty() || !m_port || !m_port->isOpen())
        return false;

    Pending head = m_queue.takeFirst();
    const qint64 written = m_port->write(head.bytes);
    if (written <= 0) {
        // Nothing went out: the request stays at the head and the next send step retries.
        reportWriteProblem(written < 0 ? WriteFailed : WriteBlocked);
        m_queue.prepend(std::move(head));
        return false;
    }
    // The request before, written without awaiting an answer, got none in its slot.
    if (m_currentOpen)
        endCurrent(RequestFailure::NoAnswer);
    // Every byte that went out comes back as echo, also those of a request whose slot a
    // poll cut short before its echo had come.
    m_echoSkip = int(std::min<qint64>(m_echoSkip + written, std::numeric_limits<int>::max()));
    m_echoBytes.append(head.bytes.left(int(written)));
    m_lastSent = head.bytes;
    m_current = std::move(head);
    m_current.bytes.clear();
    m_currentOpen = true;
    if (!m_current.isFrame)
        m_framer.start(m_current.shape, m_current.fixedLength);
    if (written < m_lastSent.size()) {
        // A cut request is never answered: it is lost at once.
        reportWriteProblem(WriteCutShort);
        loseCurrentRequest(RequestFailure::WriteCut);
        return false;
    }
    m_writeProblems = 0;
    m_watchdog.setLimit(m_current.answerLimitMs);
    m_watchdog.start();
    m_awaitingEcho = true;
    return true;
}

void RequestLine::clearQueue(RequestFailure reason)
{
    const QVector<Pending> dropped = std::exchange(m_queue, {});
    for (const Pending &request : dropped)
        fail(request, reason);
}

bool RequestLine::writeLastRequest(uint8_t vyxMsgId, const QByteArray &msg, int waitMs)
{
    if (!m_port || !m_port->isOpen())
        return false;
    const QByteArray frame = m_codec.encode(m_deviceAddress, vyxMsgId, msg);
    if (frame.isEmpty() || m_port->write(frame) != frame.size())
        return false;
    m_port->waitForBytesWritten(waitMs);
    return true;
}

void RequestLine::reportWriteProblem(WriteProblem problem)
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
    case WriteCutShort:
        qCWarning(lcCom).noquote() << "COM_HELPER: the port took only part of a request; it is lost";
        break;
    }
}

// ---- outcomes --------------------------------------------------------------------------------

void RequestLine::fail(const Pending &request, RequestFailure reason)
{
    if (!request.owner || !m_channels.contains(request.owner))
        return;
    if (m_sending > 0) {
        m_due.append({request.owner, request.ticket, reason});
        return;
    }
    emit request.owner->failed(request.ticket, reason);
}

void RequestLine::endCurrent(RequestFailure reason)
{
    m_currentOpen = false;
    m_current.poll = false;
    m_current.waitForAnswer = false;
    fail(m_current, reason);
}

// The queue is emptied, and every requester whose request is dropped is told, as the owner
// of the lost request is: each of them resends what it still needs. Requests sent from
// inside these reports go out normally.
void RequestLine::loseCurrentRequest(RequestFailure reason)
{
    const QVector<Pending> dropped = std::exchange(m_queue, {});
    if (m_currentOpen)
        endCurrent(reason);
    for (const Pending &request : dropped)
        fail(request, RequestFailure::Dropped);
}

// The answered request frees the line before its owner hears of it: a request the owner
// sends from the answer goes out at once, and keeps its own answer limit (the slot of an
// answered request may have ended already, so nothing else would hold it back).
void RequestLine::freeLine()
{
    m_currentOpen = false;
    m_watchdog.stop();
    m_current.poll = false;
    m_current.waitForAnswer = false;
}

void RequestLine::answerCurrent(const VYX_Protocol::VYX_MSG &frame)
{
    freeLine();
    RequestChannel *owner = m_current.owner;
    if (owner && m_channels.contains(owner))
        emit owner->answered(m_current.ticket, frame);
    sendNext();
}

void RequestLine::answerCurrentBoot(const BootAnswer &answer)
{
    freeLine();
    RequestChannel *owner = m_current.owner;
    if (owner && m_channels.contains(owner))
        emit owner->bootAnswered(m_current.ticket, answer);
    sendNext();
}

void RequestLine::tick()
{
    const QVector<Outcome> due = std::exchange(m_due, {});
    for (const Outcome &outcome : due) {
        if (m_channels.contains(outcome.owner))
            emit outcome.owner->failed(outcome.ticket, outcome.reason);
    }
    m_watchdog.update();
    if (m_ticksSinceByte < FRAME_GAP_TICKS)
        ++m_ticksSinceByte;
}

// An expiry frees the line. A request that waits for its answer has lost it; one that does
// not stays open for a late answer until the next request is written.
void RequestLine::watchDogExpired()
{
    if (!m_currentOpen || !m_current.waitForAnswer)
        return;
    if (m_lastSent.size() > 2)
        lineDebug() << " Watch dog is enabled 0x" + QString::number(uint8_t(m_lastSent.at(2)), 16);
    loseCurrentRequest(RequestFailure::NoAnswer);
}

// ---- receiving -------------------------------------------------------------------------------

void RequestLine::handleReadyRead()
{
    if (!m_port)
        return;
    const QByteArray received = m_port->readAll();
    for (char c : received)
        receiveByte(uint8_t(c));
}

// A bootloader answers a sync after the next sync went out (a slow line, a sync each
// tick): its acknowledgement comes before that sync's echo. Such a byte, where the echo
// awaited holds another byte, is the answer: dropped as echo, it would push every later
// answer into the place of an echo.
bool RequestLine::isAcknowledgementBeforeEcho(uint8_t byte) const
{
    if (m_current.isFrame || !m_currentOpen || m_current.shape != BootShape::Ack)
        return false;
    if (byte != BootloaderFramer::ACK && byte != BootloaderFramer::NACK)
        return false;
    return m_echoPosition < m_echoBytes.size() && uint8_t(m_echoBytes.at(m_echoPosition)) != byte;
}

bool RequestLine::mayFrameAnswerArrive() const
{
    return (m_current.isFrame && m_watchdog.isRunning()) || (m_frameBegun && m_ticksSinceByte < FRAME_GAP_TICKS);
}

void RequestLine::receiveByte(uint8_t byte)
{
    if (m_echoSkip > 0 && !isAcknowledgementBeforeEcho(byte)) {
        --m_echoSkip;
        ++m_echoPosition;
        if (m_echoSkip == 0 || m_echoPosition >= ECHO_COMPACT_BYTES) {
            m_echoBytes.remove(0, m_echoPosition);
            m_echoPosition = 0;
        }
        // The request's own bytes are back: they were on the wire only now (an adapter's
        // buffer may have held them), so its answer limit counts from here.
        if (m_echoSkip == 0 && m_awaitingEcho && m_currentOpen && m_watchdog.isRunning())
            m_watchdog.start();
        if (m_echoSkip == 0)
            m_awaitingEcho = false;
        return;
    }
    m_ticksSinceByte = 0;
    if (byte == VYX_Protocol::FRAME_START)
        m_frameBegun = true;
    else if (byte == VYX_Protocol::FRAME_END)
        m_frameBegun = false;
    if (!m_current.isFrame) {
        // Bootloader bytes go to the bootloader framer only, and only while a bootloader
        // request is open; the frame decoder never sees them.
        if (m_currentOpen && m_framer.feed(byte))
            answerCurrentBoot(m_framer.answer());
        return;
    }
    if (byte == VYX_Protocol::FRAME_START)
        m_rxFrame.clear();
    if (m_rxFrame.size() <= m_lastSent.size())
        m_rxFrame.append(char(byte));
    if (!m_codec.decodeByte(byte, m_rxMsg, m_rxConfig))
        return;
    if (m_rxMsg.status != VYX_Protocol::Good) {
        lineDebug() << "Error " << "Received msg " << QString::number(m_rxMsg.msgId, 16) << "address"
                    << QString::number(m_rxMsg.address, 16) << "status" << m_rxMsg.status;
        return;
    }
    // The echo is dropped by count: the bytes of a late answer that came before it take its
    // place, and the echo itself follows as a good frame of the request's own id. A request
    // answered by its own id only would take it for its answer (an empty one).
    if (m_currentOpen && m_current.ownIdOnly && m_rxFrame == m_lastSent) {
        lineDebug() << "Frame" << QString::number(m_rxMsg.msgId, 16)
                    << "is the echo of its request, behind a late answer - dropped";
        return;
    }
    if (m_currentOpen && m_current.ownIdOnly && m_rxMsg.msgId != m_current.msgId) {
        lineDebug() << "Frame" << QString::number(m_rxMsg.msgId, 16) << "is no answer to"
                    << QString::number(m_current.msgId, 16) << "- dropped";
        return;
    }
    if (!m_currentOpen) {
        // Its request has already ended (its answer came too late): nobody is told twice.
        lineDebug() << "Frame" << QString::number(m_rxMsg.msgId, 16) << "without an open request dropped";
        return;
    }
    answerCurrent(m_rxMsg);
}

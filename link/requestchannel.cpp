#include "link/requestchannel.h"

#include "link/requestline.h"

#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include <atomic>

const char *requestFailureName(RequestFailure reason)
{
    switch (reason) {
    case RequestFailure::NoAnswer:
        return "no answer";
    case RequestFailure::Dropped:
        return "dropped";
    case RequestFailure::PortClosed:
        return "port closed";
    case RequestFailure::NoPort:
        return "no port";
    case RequestFailure::WriteCut:
        return "write cut";
    case RequestFailure::ProtocolSwitched:
        return "protocol switched";
    case RequestFailure::TooLong:
        return "too long";
    case RequestFailure::Replaced:
        return "replaced";
    }
    return "?";
}

RequestChannel::RequestChannel(const QString &tag, QObject *parent) : QObject(parent), m_tag(tag)
{
    registerRequestMetaTypes();
}

RequestChannel::~RequestChannel()
{
    if (m_line)
        m_line->detach(this);
}

RequestTicket RequestChannel::nextTicket()
{
    static std::atomic<RequestTicket> last {0};
    return ++last;
}

RequestTicket RequestChannel::send(uint8_t msgId, const QByteArray &payload, bool poll, bool waitForAnswer,
                                   uint32_t answerLimitMs, AnswerMatch match)
{
    const RequestTicket ticket = nextTicket();
    emit requestSent(msgId, payload, poll, waitForAnswer, ticket, answerLimitMs);
    if (!m_line)
        return ticket; // a channel of its own: whoever drives it tells the outcome
    RequestLine *line = m_line;
    QPointer<RequestChannel> self(this);
    const bool ownIdOnly = match == AnswerMatch::OwnId;
    auto enqueue = [line, self, ticket, msgId, payload, poll, waitForAnswer, answerLimitMs, ownIdOnly] {
        if (self)
            line->enqueueFrame(self, ticket, msgId, payload, poll, waitForAnswer, answerLimitMs, ownIdOnly);
    };
    if (QThread::currentThread() == line->thread())
        enqueue();
    else
        QMetaObject::invokeMethod(line, enqueue, Qt::QueuedConnection);
    return ticket;
}

RequestTicket RequestChannel::sendBytes(const QByteArray &bytes, BootShape shape, bool poll, bool waitForAnswer,
                                        uint32_t answerLimitMs, int fixedLength)
{
    const RequestTicket ticket = nextTicket();
    emit bytesSent(bytes, poll, waitForAnswer, ticket, shape);
    if (!m_line)
        return ticket;
    RequestLine *line = m_line;
    QPointer<RequestChannel> self(this);
    auto enqueue = [line, self, ticket, bytes, shape, poll, waitForAnswer, answerLimitMs, fixedLength] {
        if (self)
            line->enqueueBytes(self, ticket, bytes, shape, fixedLength, poll, waitForAnswer, answerLimitMs);
    };
    if (QThread::currentThread() == line->thread())
        enqueue();
    else
        QMetaObject::invokeMethod(line, enqueue, Qt::QueuedConnection);
    return ticket;
}

void RequestChannel::switchProtocol()
{
    if (m_line)
        m_line->clearQueue(RequestFailure::ProtocolSwitched);
}

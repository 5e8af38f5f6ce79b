#pragma once

#include "link/bootloaderframer.h"
#include "link/request.h"
#include "wire/vyxprotocol.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>

class RequestLine;

// One requester's way onto the line to the controller. Each helper gets its own channel in
// its constructor; send() returns the request's ticket, and the answer or the failure of
// that request comes back on this channel only: answered()/bootAnswered() or failed(),
// exactly once per ticket. May be used from any thread: a request sent from another thread
// than the line's is posted there, its outcome reaches the requester by a queued signal.
class RequestChannel : public QObject
{
    Q_OBJECT

public:
    static constexpr uint32_t DEFAULT_ANSWER_LIMIT_MS = 100;

    // Answers are matched by order: the first good frame after the echo answers the request
    // in flight, whatever its id. A request that must not be taken as answered by a late
    // answer of an earlier one (it cannot simply be sent again) is answered by its own id
    // only; frames with other ids are dropped while it waits.
    enum class AnswerMatch : uint8_t { InOrder, OwnId };

    // `tag` names the requester in debug lines.
    explicit RequestChannel(const QString &tag, QObject *parent = nullptr);
    ~RequestChannel() override;

    QString tag() const { return m_tag; }
    bool isAttached() const { return m_line != nullptr; }
    RequestLine *attachedLine() const { return m_line; }

    // Only the line may make the key, so only RequestLine::attach() and detach() set the line.
    class LineKey
    {
        friend class RequestLine;
        LineKey() {} // user-provided: no one else can build one from {}
    };
    void setAttachedLine(RequestLine *line, LineKey) { m_line = line; }

    // A VYX request. `poll` requests go to the head of the queue; a request that does not
    // wait for an answer holds the line only for its answer limit, and is failed (NoAnswer)
    // when the next request is written without an answer having come.
    RequestTicket send(uint8_t msgId, const QByteArray &payload, bool poll, bool waitForAnswer,
                       uint32_t answerLimitMs = DEFAULT_ANSWER_LIMIT_MS, AnswerMatch match = AnswerMatch::InOrder);
    // A bootloader request: raw bytes, answered in the given shape (bootAnswered).
    RequestTicket sendBytes(const QByteArray &bytes, BootShape shape, bool poll, bool waitForAnswer,
                            uint32_t answerLimitMs = DEFAULT_ANSWER_LIMIT_MS, int fixedLength = 0);
    // The line switches between frames and bootloader bytes: every queued request (of any
    // requester) ends as ProtocolSwitched. In the line's thread only.
    void switchProtocol();

signals:
    // Every request as it is sent, with its ticket (for observers and tests).
    void requestSent(uint8_t msgId, QByteArray payload, bool poll, bool waitForAnswer, RequestTicket ticket,
                     uint32_t answerLimitMs);
    void bytesSent(QByteArray bytes, bool poll, bool waitForAnswer, RequestTicket ticket, BootShape shape);

    // The outcomes, exactly one per ticket.
    void answered(RequestTicket ticket, VYX_Protocol::VYX_MSG frame);
    void bootAnswered(RequestTicket ticket, BootAnswer answer);
    void failed(RequestTicket ticket, RequestFailure reason);

private:
    static RequestTicket nextTicket();

    QString m_tag;
    RequestLine *m_line = nullptr; // set and cleared by the line
};

#pragma once

#include "link/bootloaderframer.h"
#include "link/request.h"
#include "link/watchdog.h"
#include "wire/vyxprotocol.h"

#include <QByteArray>
#include <QObject>
#include <QVector>

#include <cstdint>

class QIODevice;
class RequestChannel;

// Registers the types of the request signals under their own names, once.
void registerRequestMetaTypes();

// The traffic on the one port: one send queue (polls first), one request in flight, the
// echo of each write dropped by count, the answer decoded by the decoder of the request's
// kind (VYX frames, or the bootloader framer for bootloader bytes) and handed to the
// request's owner, and a deadline per request. Every request ends exactly once, with its
// answer or a failure, told to its owner's channel only. Lives in the coordinator thread
// and is driven by its 50 ms tick; the port's life cycle is ComHelper's.
class RequestLine : public QObject
{
    Q_OBJECT

public:
    explicit RequestLine(QObject *parent = nullptr);
    ~RequestLine() override;

    // Answers and failures of requests sent through `channel` go to it; in this thread.
    void attach(RequestChannel *channel);
    void detach(RequestChannel *channel);

    // The port opened (requests go out from now on) or closed (every open request fails).
    void portOpened(QIODevice *port);
    void portClosed();

    // Every tick, first: the deadline of the request in flight, and outcomes decided while a
    // request was being sent (its owner learns the ticket first).
    void tick();
    // Writes the head of the queue if the line is free.
    bool sendNext();
    void handleReadyRead();
    // Ends every queued request with `reason`; the request in flight is left to its answer.
    void clearQueue(RequestFailure reason);
    void setDeviceAddress(uint8_t address) { m_deviceAddress = address; }
    // At exit: writes one request at once, past the queue, without awaiting an answer.
    bool writeLastRequest(uint8_t vyxMsgId, const QByteArray &msg, int waitMs);

    int queuedRequests() const { return m_queue.size(); }
    bool isWatchDogRunning() const { return m_watchdog.isRunning(); }
    uint32_t answerLimitTicks() const { return m_watchdog.limit(); }
    // A frame answer may still come: a frame request's slot is open, or a frame has begun on
    // the line and its bytes are still coming.
    bool mayFrameAnswerArrive() const;
    // No byte but echo came for the last two ticks.
    bool isQuiet() const { return m_ticksSinceByte >= 2; }

    // Called by the channels, in this thread.
    void enqueueFrame(RequestChannel *owner, RequestTicket ticket, uint8_t msgId, const QByteArray &payload,
                      bool poll, bool waitForAnswer, uint32_t answerLimitMs, bool ownIdOnly = false);
    void enqueueBytes(RequestChannel *owner, RequestTicket ticket, const QByteArray &bytes, BootShape shape,
                      int fixedLength, bool poll, bool waitForAnswer, uint32_t answerLimitMs);

private:
    struct Pending
    {
        RequestChannel *owner = nullptr;
        RequestTicket ticket = 0;
        QByteArray bytes;
        uint8_t msgId = 0;
        bool poll = false;
        bool waitForAnswer = false;
        bool isFrame = true;
        bool ownIdOnly = false; // answered only by a frame of its own id
        uint32_t answerLimitMs = 0;
        BootShape shape = BootShape::Ack;
        int fixedLength = 0;
    };
    struct Outcome
    {
        RequestChannel *owner;
        RequestTicket ticket;
        RequestFailure reason;
    };

    void enqueue(Pending request);
    void fail(const Pending &request, RequestFailure reason);
    void endCurrent(RequestFailure reason);
    void loseCurrentRequest(RequestFailure reason);
    void answerCurrent(const VYX_Protocol::VYX_MSG &frame);
    void answerCurrentBoot(const BootAnswer &answer);
    void freeLine();
    void watchDogExpired();
    void receiveByte(uint8_t byte);
    bool isAcknowledgementBeforeEcho(uint8_t byte) const;
    enum WriteProblem : uint8_t { WriteFailed = 1, WriteBlocked = 2, WriteCutShort = 4 };
    void reportWriteProblem(WriteProblem problem);

    QVector<RequestChannel *> m_channels;
    QIODevice *m_port = nullptr;
    QVector<Pending> m_queue;
    Pending m_current;               // the request last written
    bool m_currentOpen = false;      // it has no outcome yet
    int m_sending = 0;               // inside a channel's send: outcomes wait for the next tick
    QVector<Outcome> m_due;
    int m_echoSkip = 0;              // received bytes still to drop as echo
    bool m_awaitingEcho = false;     // the echo of the request in flight has not come whole yet
    QByteArray m_echoBytes;          // the bytes written whose echo is still to come, from m_echoPosition on
    int m_echoPosition = 0;
    QByteArray m_lastSent;
    QByteArray m_rxFrame;            // the bytes of the frame being received, while they may be m_lastSent
    bool m_frameBegun = false;       // a frame start was received, its end not yet
    int m_ticksSinceByte = 0;
    uint8_t m_writeProblems = 0;     // kinds of write failure reported since the last good write
    uint8_t m_deviceAddress = 0xEE;
    VYX_Protocol m_codec;
    VYX_Protocol::VyxRxConfig m_rxConfig;
    VYX_Protocol::VYX_MSG m_rxMsg;
    BootloaderFramer m_framer;
    WatchDog m_watchdog;
};

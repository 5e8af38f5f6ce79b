#pragma once

// Plays the request line for a channel of its own (not attached to a line): records what
// the helper sends and tells the outcomes the test chooses, by ticket, as the line would.

#include "link/bootloaderframer.h"
#include "link/requestchannel.h"

#include <QObject>
#include <QVector>

#include <utility>

class ChannelPlayer : public QObject
{
public:
    struct Open
    {
        RequestTicket ticket = 0;
        uint8_t msgId = 0;
        bool isFrame = true;
        BootShape shape = BootShape::Ack;
    };

    explicit ChannelPlayer(RequestChannel *channel) : m_channel(channel)
    {
        connect(channel, &RequestChannel::requestSent, this,
                [this](uint8_t msgId, const QByteArray &, bool, bool, RequestTicket ticket, uint32_t) {
                    open.append({ticket, msgId, true, BootShape::Ack});
                });
        connect(channel, &RequestChannel::bytesSent, this,
                [this](const QByteArray &, bool, bool, RequestTicket ticket, BootShape shape) {
                    open.append({ticket, 0, false, shape});
                });
    }

    // Answers the newest open request with the frame's id; without one, the oldest open
    // frame request (an answer with a foreign id, as the line delivers it). With none open,
    // a ticket the helper never saw (an answer it must take by its id, or ignore).
    RequestTicket answer(const VYX_Protocol::VYX_MSG &msg)
    {
        int index = -1;
        for (int i = open.size() - 1; i >= 0 && index < 0; --i) {
            if (open.at(i).isFrame && open.at(i).msgId == msg.msgId)
                index = i;
        }
        for (int i = 0; i < open.size() && index < 0; ++i) {
            if (open.at(i).isFrame)
                index = i;
        }
        const RequestTicket ticket = index < 0 ? unknownTicket() : open.takeAt(index).ticket;
        emit m_channel->answered(ticket, msg);
        return ticket;
    }

    // Fails the newest open request with this id. 0: none open.
    RequestTicket fail(uint8_t msgId, RequestFailure reason = RequestFailure::NoAnswer)
    {
        for (int i = open.size() - 1; i >= 0; --i) {
            if (open.at(i).isFrame && open.at(i).msgId == msgId) {
                const RequestTicket ticket = open.takeAt(i).ticket;
                emit m_channel->failed(ticket, reason);
                return ticket;
            }
        }
        return 0;
    }

    // Fails the newest open bootloader request. 0: none open.
    RequestTicket failBytes(RequestFailure reason = RequestFailure::NoAnswer)
    {
        for (int i = open.size() - 1; i >= 0; --i) {
            if (!open.at(i).isFrame) {
                const RequestTicket ticket = open.takeAt(i).ticket;
                emit m_channel->failed(ticket, reason);
                return ticket;
            }
        }
        return 0;
    }

    // Fails every open request, oldest first.
    void failAll(RequestFailure reason)
    {
        const QVector<Open> all = std::exchange(open, {});
        for (const Open &request : all)
            emit m_channel->failed(request.ticket, reason);
    }

    // Bootloader bytes, framed for the newest open bootloader request (the one in flight:
    // the helper sends the next only after an answer); bytes with none open are lost.
    void feed(const QByteArray &bytes)
    {
        for (char c : bytes) {
            int index = -1;
            for (int i = open.size() - 1; i >= 0 && index < 0; --i) {
                if (!open.at(i).isFrame)
                    index = i;
            }
            if (index < 0)
                continue;
            const RequestTicket ticket = open.at(index).ticket;
            if (m_framing != ticket) {
                m_framing = ticket;
                m_framer.start(open.at(index).shape, FIXED_LENGTH);
            }
            if (m_framer.feed(uint8_t(c))) {
                open.removeAt(index);
                m_framing = 0;
                emit m_channel->bootAnswered(ticket, m_framer.answer());
            }
        }
    }

    QVector<Open> open;

    // A ticket no request of the channel has: far above any the program hands out in a test.
    static RequestTicket unknownTicket()
    {
        static RequestTicket last = RequestTicket(1) << 48;
        return ++last;
    }

private:
    RequestChannel *m_channel;
    BootloaderFramer m_framer;
    RequestTicket m_framing = 0;
    // The one fixed-length answer of the bootloader protocol (device information).
    static constexpr int FIXED_LENGTH = 22;
};

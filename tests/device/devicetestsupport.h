#pragma once

#include "wire/records.h"
#include "wire/vyxprotocol.h"

#include <QByteArray>
#include <QSignalSpy>
#include <QVector>

#include <algorithm>
#include <cstring>

// An answer frame as the port manager hands it on. claimedLength < 0: the payload's
// own size; otherwise the length field says so, whatever the buffer holds.
inline VYX_Protocol::VYX_MSG answer(uint8_t msgId, const QByteArray &payload, int claimedLength = -1)
{
    VYX_Protocol::VYX_MSG msg;
    msg.msgId = msgId;
    msg.address = NO_DEVICE_ADDRESS;
    const int stored = std::min(payload.size(), int(msg.payload.size()));
    std::memcpy(msg.payload.data(), payload.constData(), size_t(stored));
    msg.length = uint32_t(claimedLength < 0 ? stored : claimedLength);
    return msg;
}

inline VYX_Protocol::VYX_MSG answer(uint8_t msgId, const char *hex, int claimedLength = -1)
{
    return answer(msgId, QByteArray::fromHex(hex), claimedLength);
}

// One request as a requester sent it on its channel (RequestChannel::requestSent).
struct SentRequest
{
    uint8_t msgId = 0;
    QByteArray payload;
    bool pingType = false;
    bool waitForAnswer = false;
};

// Takes (and removes) every request the spy has seen so far.
inline QVector<SentRequest> takeRequests(QSignalSpy &spy)
{
    QVector<SentRequest> out;
    for (const QList<QVariant> &args : qAsConst(spy))
        out.append({uint8_t(args.at(0).toUInt()), args.at(1).toByteArray(), args.at(2).toBool(), args.at(3).toBool()});
    spy.clear();
    return out;
}

inline QVector<uint8_t> idsOf(const QVector<SentRequest> &requests)
{
    QVector<uint8_t> ids;
    for (const SentRequest &r : requests)
        ids.append(r.msgId);
    return ids;
}

#pragma once

// A tiny scripted host for the simulator tests: writes requests, strips the echo and
// decodes what the controller answered.

#include "wire/vyxprotocol.h"
#include "sim/simulatedcontroller.h"

#include <QByteArray>
#include <QList>

class SimHost
{
public:
    explicit SimHost(SimulatedController &controller)
        : m_controller(controller)
    {
    }

    static QByteArray frame(uint8_t msgId, const QByteArray &payload = {}, uint8_t address = 0xEE)
    {
        return VYX_Protocol().encode(address, msgId, payload);
    }

    static QList<VYX_Protocol::VYX_MSG> decode(const QByteArray &wire)
    {
        VYX_Protocol codec;
        VYX_Protocol::VyxRxConfig config;
        VYX_Protocol::init(config, 0, 255);
        QList<VYX_Protocol::VYX_MSG> frames;
        for (char c : wire) {
            VYX_Protocol::VYX_MSG msg;
            if (codec.decodeByte(uint8_t(c), msg, config))
                frames.append(msg);
        }
        return frames;
    }

    // Writes raw bytes; returns what came back after their echo (empty when the echo
    // itself was wrong, which echoOk() then tells).
    QByteArray send(const QByteArray &bytes)
    {
        m_controller.receiveFromHost(bytes);
        const QByteArray out = m_controller.takeOutput();
        m_echoOk = out.startsWith(bytes);
        return m_echoOk ? out.mid(bytes.size()) : QByteArray();
    }

    // Sends one request frame; the answer frames that followed its echo.
    QList<VYX_Protocol::VYX_MSG> exchange(uint8_t msgId, const QByteArray &payload = {}, uint8_t address = 0xEE)
    {
        return decode(send(frame(msgId, payload, address)));
    }

    // The payload of the single good answer frame with the request's id; a null array
    // when there is none.
    QByteArray ask(uint8_t msgId, const QByteArray &payload = {})
    {
        const QList<VYX_Protocol::VYX_MSG> frames = exchange(msgId, payload);
        if (frames.size() != 1 || frames.first().status != 0 || frames.first().msgId != msgId)
            return QByteArray();
        const QByteArray answer = frames.first().payloadBytes();
        return answer.isNull() ? QByteArray("") : answer;
    }

    bool echoOk() const { return m_echoOk; }

private:
    SimulatedController &m_controller;
    bool m_echoOk = false;
};

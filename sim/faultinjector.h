#pragma once

#include "sim/simconfig.h"

#include <QByteArray>
#include <QRandomGenerator>

#include <cstdint>
#include <map>

// Seeded, repeatable decisions about which answers go wrong.
class FaultInjector
{
public:
    explicit FaultInjector(const FaultConfig &config);

    qint64 answerDelayUs() const;
    // Called once per answer, in order: whether to leave it out / spoil its checksum.
    bool dropAnswer();
    bool corruptAnswer();
    // The controller stops answering once it has answered silentAfterFrames frames, or
    // once it has answered the message named by silentAfterMessage.
    bool isSilent() const;
    void countAnswer() { ++m_answered; }
    // From now on, whatever the configuration says (a controller that stops answering).
    void silence() { m_silenced = true; }
    void countAnswerTo(uint8_t msgId);

    // Named faults, each consuming one of its count when it fires.
    bool dropAnswerTo(uint8_t msgId);
    bool refuseRequest(uint8_t msgId);
    // A motion write is stored with another Kp than written (storeOtherKp).
    bool storeOtherKp();
    bool hasVanished(qint64 nowUs) const;

    // Spoilt answers: stray bytes to send before a frame (mostly none), whether the frame
    // carries another id, and by how much its payload length is off (-1, 0, +1).
    QByteArray strayBytes();
    bool wrongId();
    int lengthChange();
    // How many bytes the unterminated frame replacing this answer has; 0: none, answer it.
    int unterminatedAnswerBytes(uint8_t msgId);

private:
    bool chance(double fraction);

    FaultConfig m_config;
    QRandomGenerator m_random;
    int m_answered = 0;
    bool m_silencedByMessage = false;
    bool m_silenced = false;
};

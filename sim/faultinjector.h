#pragma once

#include "sim/simconfig.h"

#include <QRandomGenerator>

// Seeded, repeatable decisions about which answers go wrong.
class FaultInjector
{
public:
    explicit FaultInjector(const FaultConfig &config);

    qint64 answerDelayUs() const;
    // Called once per answer, in order: whether to leave it out / spoil its checksum.
    bool dropAnswer();
    bool corruptAnswer();
    // The controller stops answering once it has answered silentAfterFrames frames.
    bool isSilent() const;
    void countAnswer() { ++m_answered; }
    bool hasVanished(qint64 nowUs) const;

private:
    bool chance(double fraction);

    FaultConfig m_config;
    QRandomGenerator m_random;
    int m_answered = 0;
};

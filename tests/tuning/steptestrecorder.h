#pragma once

// Plays the tuning step plan against the simulated controller's firmware, one
// TELEMETRY exchange per 50 ms tick, and records what the sequencer would record.

#include "sim/simulatedfirmware.h"
#include "tuning/testhelper.h"
#include "tuning/tuningrecords.h"

#include <cmath>

inline QVector<Test_Data_s> recordStepTest(SimulatedFirmware &firmware, uint16_t stepLen)
{
    QVector<Test_Data_s> samples;
    const QVector<TestStep> plan = TestHelper::buildPlan(stepLen);
    // The opening 0 % entry plays twice, then each step in turn; the end marker stops.
    QVector<TestStep> played {plan.first()};
    played += plan.mid(0, plan.size() - 1);
    for (const TestStep &step : qAsConst(played)) {
        DutyCommand command;
        command.enable = true;
        command.duty = DutyCommand::dutyFromPercent(step.dutyCycle);
        for (int tick = 0; tick < step.durationTicks; ++tick) {
            const QByteArray answer = firmware.handle(VyxMsg::TELEMETRY, command.encode()).payload;
            const StatusBlock block = StatusBlock::decode(answer);
            ONLINE_QUANTS_S sample;
            if (block.isValid()) {
                const QByteArray record = answer.mid(block.endIndex);
                TelemetryRecord::unpack(record).decodeInto(sample);
            }
            samples.append(Test_Data_s::fromSample(sample, step.dutyCycle));
            firmware.advance(50000);
        }
    }
    firmware.handle(VyxMsg::TELEMETRY, QByteArray(1, '\0'));
    return samples;
}

// The firmware running with the given gains (thousandths), written as the device model
// writes them.
inline SET_MOTION_PARAMS motionWithGains(const SimulatedFirmware &firmware, uint16_t kp, uint16_t ki)
{
    SET_MOTION_PARAMS motion = firmware.motionParams();
    motion.Kp = int16_t(std::lround(kp * 1.024));
    motion.Ki = int16_t(std::lround(ki * 1.024));
    return motion;
}

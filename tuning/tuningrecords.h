#pragma once

// The records of the tuning sequence: samples recorded during a step test, the state
// handed between the sequencer and the analysis, the plan entries and the trial list.

#include "wire/records.h"

#include <QMetaType>
#include <QVector>

#include <cstdint>

// One telemetry sample as received, followed by the duty command that was in force.
struct Test_Data_s
{
    uint8_t EstState = 0;
    uint8_t CtrlState = 0;
    float Torque = 0;
    float Speed = 0;    // rpm
    float Is = 0;
    float Vbus = 0;
    float Vs = 0;
    float Power = 0;
    float Rs = 0;
    float Flux = 0;
    int16_t Temp = 0;
    uint32_t PWm_in_us = 0;
    int16_t Duty_Cycle = 0; // percent

    static Test_Data_s fromSample(const ONLINE_QUANTS_S &sample, int16_t dutyCycle);
};

// Passed by value between the sequencer and the analysis. Gains in thousandths.
struct Test_Evalute_s
{
    static constexpr uint16_t INITIAL_STEP_LEN = 50; // ticks: 2.5 s

    uint16_t Kp = 0;
    uint16_t Ki = 0;          // on return from the analysis: the next value to try
    int32_t kiDelta = 0;      // change of Ki made by the last analysis
    uint8_t trialCount = 0;   // finished trials
    uint8_t retryCount = 0;   // consecutive verdicts in which only falling steps oscillate
    uint16_t stepLen = INITIAL_STEP_LEN; // duration of each test step, in ticks
};

// One entry of the step plan.
struct TestStep
{
    int16_t dutyCycle = 0;       // percent
    uint16_t durationTicks = 0;  // 0: end marker
};

// The outcome of one trial; the gains are those the trial ran with.
struct TrialResult
{
    float error = 0;
    uint16_t Kp = 0;
    uint16_t Ki = 0;
    uint8_t excluded = 0; // 1: the gains found before tuning, never offered as the best
};

// Registers the records that cross into the analysis thread under their own names.
void registerTuningMetaTypes();

Q_DECLARE_METATYPE(Test_Data_s)
Q_DECLARE_METATYPE(Test_Evalute_s)

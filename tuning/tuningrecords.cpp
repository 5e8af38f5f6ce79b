#include "tuning/tuningrecords.h"

Test_Data_s Test_Data_s::fromSample(const ONLINE_QUANTS_S &sample, int16_t dutyCycle)
{
    Test_Data_s data;
    data.EstState = sample.EstState;
    data.CtrlState = sample.CtrlState;
    data.Torque = sample.Torque;
    data.Speed = sample.Speed;
    data.Is = sample.Is;
    data.Vbus = sample.Vbus;
    data.Vs = sample.Vs;
    data.Power = sample.Power;
    data.Rs = sample.Rs;
    data.Flux = sample.Flux;
    data.Temp = sample.Temp;
    data.PWm_in_us = sample.PWm_in_us;
    data.Duty_Cycle = dutyCycle;
    return data;
}

void registerTuningMetaTypes()
{
    // Once, whichever thread comes first: a container registered from two threads at once
    // has its converter registered twice, and Qt warns (the production line starts several
    // coordinators at once).
    static const bool registered = [] {
        registerDeviceRecordMetaTypes();
        qRegisterMetaType<Test_Data_s>("Test_Data_s");
        qRegisterMetaType<QVector<Test_Data_s>>("QVector<Test_Data_s>");
        qRegisterMetaType<Test_Evalute_s>("Test_Evalute_s");
        qRegisterMetaType<int8_t>("int8_t");
        return true;
    }();
    Q_UNUSED(registered)
}

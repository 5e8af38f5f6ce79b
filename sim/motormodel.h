#pragma once

#include "wire/records.h"
#include "sim/simconfig.h"

#include <QtGlobal>

// The motor, its battery and the power stage behind the telemetry. Speed follows the
// commanded duty with a first-order lag; the current is what the propeller load and
// the acceleration ask for; the bus voltage sags with the battery current; the
// controller and the motor warm up with their losses.
class MotorModel
{
public:
    explicit MotorModel(const MotorConfig &config);

    // Duty as a fraction of full scale, -1..1; 0 lets the motor run down.
    void setDuty(double duty);
    double duty() const { return m_duty; }
    // A blocked rotor: the speed drops to zero and the duty is ignored until released.
    void setStalled(bool stalled);
    bool isStalled() const { return m_stalled; }

    void advance(qint64 us);

    double speedRpm() const { return m_speedRpm; }
    double phaseCurrent() const { return m_iq; }
    double busVoltage() const { return m_vbus; }
    double escTemperature() const { return m_escTempC; }
    double motorTemperature() const { return m_motorTempC; }
    bool isSpinning() const;
    // The loaded speed at full duty from the resting pack: the speed loop's full scale.
    double fullSpeedRpm() const;

    // Values the controller identifies or measures for this motor.
    double resistanceNow() const;    // Rs at the present winding temperature
    double fluxVoltPerHz() const;    // back-EMF per electrical hertz
    double torqueConstant() const;   // Nm per A

    ONLINE_QUANTS_S sample() const;

    // Run statistics since power-up.
    double maxCurrent() const { return m_maxAbsCurrent; }
    double averageCurrent() const;
    double maxEscTemperature() const { return m_maxEscTempC; }
    double maxMotorTemperature() const { return m_maxMotorTempC; }

private:
    void step(double dt);

    MotorConfig m_config;
    double m_restVoltage;
    double m_batteryResistance;
    double m_fullSpeedRadS;
    double m_loadCoefficient;
    double m_inertia;

    double m_duty = 0.0;
    bool m_stalled = false;
    double m_speedRpm = 0.0;
    double m_iq = 0.0;
    double m_vbus = 0.0;
    double m_busCurrent = 0.0;
    double m_electricalPower = 0.0;
    double m_escTempC;
    double m_motorTempC;

    double m_maxAbsCurrent = 0.0;
    double m_currentTimeIntegral = 0.0; // A*s while spinning
    double m_spinningSeconds = 0.0;
    double m_maxEscTempC;
    double m_maxMotorTempC;
};

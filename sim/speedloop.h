#pragma once

// The controller's speed loop in speed control mode: a PI controller from the speed
// error to the voltage duty, with the gains of the motion record (Kp, and the Ki/Kff
// word as the integral gain). Errors are taken relative to the motor's full speed, so
// the gains are plain numbers; the integral gain counts per 50 ms.
class SpeedLoop
{
public:
    // The integral gain acts per this many seconds: Ki 0.1 adds a tenth of the error
    // to the duty every 50 ms.
    static constexpr double INTEGRAL_PERIOD_S = 0.05;

    // Words of the motion record: gain x 1024. Negative words count as zero.
    void setGains(int kpWord, int kiWord);
    // Forgets the integral: control switched off or the reference went to zero.
    void reset() { m_integral = 0.0; }

    // The duty (-1..1) for the next dt seconds. The integral stops growing while the
    // duty is at its limit, so a long saturation does not wind it up.
    double update(double referenceRpm, double speedRpm, double fullSpeedRpm, double dt);

    double kp() const { return m_kp; }
    double ki() const { return m_ki; }

private:
    double m_kp = 0.0;
    double m_ki = 0.0;
    double m_integral = 0.0;
};

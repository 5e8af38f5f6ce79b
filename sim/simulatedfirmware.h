#pragma once

#include "wire/records.h"
#include "wire/motortotal.h"
#include "sim/identrun.h"
#include "sim/motormodel.h"
#include "sim/simconfig.h"
#include "sim/speedloop.h"

#include <QByteArray>
#include <QVector>

#include <optional>

// What the running firmware makes of one good request frame.
struct FirmwareAnswer
{
    bool answered = false;
    QByteArray payload;
    bool enterBootloader = false; // after this answer has gone out
};

// The controller's application firmware: the message catalogue seen from the device
// side, with the records it stores, the motor it drives and the identification it runs.
// Transport-free: takes a request's id and payload, returns the answer's payload.
class SimulatedFirmware
{
public:
    // A written record is reported as stored this long after it was accepted.
    static constexpr qint64 STORE_TIME_US = 60000;

    explicit SimulatedFirmware(const SimulatorConfig &config);

    FirmwareAnswer handle(uint8_t msgId, const QByteArray &payload);
    void advance(qint64 us);
    // Back from the bootloader: as after switching the power off and on.
    void powerCycle();
    // A new firmware was written: the minor version goes up by one.
    void takeNewVersion();
    // An update that does not keep the stored settings: other gains and time to leave.
    void takeOtherSettings();
    // Another identity: the serial number the controller reports from now on.
    void takeSerialNumber(uint32_t serialNumber);

    uint8_t busAddress() const;
    bool acceptsAddress(uint8_t frameAddress) const;

    // Reports on command (flag bits 3 and 4 of the status block).
    void injectStall();
    void injectError(uint8_t code);
    // Telemetry answers carry exactly this sample instead of the motor model's.
    void setTelemetryOverride(const ONLINE_QUANTS_S &sample) { m_override = sample; }
    void clearTelemetryOverride() { m_override.reset(); }

    bool isRunning() const { return m_running; }
    const MotorModel &motor() const { return m_motorModel; }
    const IdentRun &ident() const { return m_ident; }
    const MOTOR_TOTAL &storedMotor() const { return m_motor; }
    const SET_MOTION_PARAMS &motionParams() const { return m_motion; }
    const SET_PWM_IN_PARAMS &pwmInParams() const { return m_pwmIn; }
    const ERROR_WARN_LOG &errorLog() const { return m_errorLog; }
    uint32_t motorSeconds() const;

private:
    void step(qint64 us);
    QByteArray identityAnswer() const;
    QByteArray statusBlock(uint8_t answerCode);
    QByteArray telemetryAnswer(const QByteArray &payload);
    QByteArray runDataAnswer() const;
    QByteArray resistancesAnswer() const;
    uint8_t writeUserParams(const QByteArray &payload);
    uint8_t startIdentification();
    uint8_t stopIdentification();
    uint8_t writeIdentParams(const QByteArray &payload);
    uint8_t writeMotionParams(const QByteArray &payload);
    uint8_t writePwmInParams(const QByteArray &payload);
    void scheduleSave(uint8_t msgId);
    void storeIdentificationResult();
    void raiseError(uint8_t code);
    void clearReports();
    // Speed control (the PWM input record's control type) runs the speed loop; voltage
    // control sets the duty directly.
    bool isSpeedControl() const { return m_pwmIn.controlType; }
    void command(double fraction);
    void stopMotor();

    SimulatorConfig m_config;
    qint64 m_nowUs = 0;
    bool m_running = false;

    MotorModel m_motorModel;
    IdentRun m_ident;
    MOTOR_TOTAL m_motor;
    MOTOR_TOTAL m_paramsOfLastRun;
    SET_MOTION_PARAMS m_motion;
    SET_PWM_IN_PARAMS m_pwmIn;
    ERROR_WARN_LOG m_errorLog;
    qint64 m_motorUs = 0;
    std::optional<ONLINE_QUANTS_S> m_override;
    SpeedLoop m_speedLoop;
    double m_speedReference = 0.0; // fraction of full speed; 0: the motor runs down

    struct PendingSave
    {
        uint8_t msgId;
        qint64 readyAtUs;
    };
    QVector<PendingSave> m_pendingSaves;

    bool m_predictionPending = false; // the configured predicted error still applies
    bool m_predictionRaised = false;  // the last run reported it
    bool m_resultStored = false;
    uint8_t m_identErrorCode = 0;
    bool m_stallLatched = false;
    bool m_errorLatched = false;
    uint8_t m_errorCode = 0;
    bool m_stallInjected = false;
    bool m_errorInjected = false;
    qint64 m_lastCommandUs = 0;
    qint64 m_lastFrameUs = 0;        // the host's last frame, of any kind
};

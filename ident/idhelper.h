#pragma once

#include "link/requestchannel.h"
#include "wire/records.h"
#include "ident/idsteps.h"
#include "wire/vyxprotocol.h"
#include "wire/motortotal.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <cstdint>

struct MotorUserLimits;

// Drives the motor identification that runs inside the controller: sends the user's
// identification limits, starts the run, follows the estimator state that every poll
// answer carries, tells the wizard pages which step is in progress, and finally reads
// the identified parameters into motorParams(). Also writes a stored motor back to the
// controller.
//
// Lives in the coordinator thread and talks to the controller through its request channel.
// The operations the pages call (setMotorUserParams, correctIdentification,
// acceptAllConditions, stopIdentification, cancelIdentification, acceptConditions,
// setStoredMotor) post themselves into the coordinator thread, in the order they were
// made, and answer with signals; only isIdentRunning is read from the GUI thread.
class IdHelper : public QObject
{
    Q_OBJECT

public:
    enum class IdState : uint8_t {
        Idle = 0,               // nothing pending; also while the final GET_MOTOR_PARAMS is outstanding
        UserParamsSent = 2,
        StoredMotorSent = 3,
        UserParamsAccepted = 4,
        RunRequested = 5,
        Running = 6,            // the controller accepted IDENT_RUN
        StopRequested = 7,
        NoMovement = 8,
        Acceleration = 9,
        VariableSpeed = 10,
        Deceleration = 11,
        Finished = 12,          // identified parameters received
        ErrorInfoRequested = 14,
        Failed = 15,
    };
    Q_ENUM(IdState)

    // The confirmations of the wizard's start page.
    enum ID_WIDGET : uint8_t {
        ID_WIDGET_ATTENTION = 1,
        ID_WIDGET_NO_LOAD = 2,
        ID_WIDGET_STEPS = 3,
    };
    Q_ENUM(ID_WIDGET)

    // Results of setMotorUserParams and correctIdentification.
    enum SendResult : int {
        Sent = 0,
        ParameterZero = 1,
        DeviceNotConnected = 2,
    };

    // Error numbers written into the device log as "Ident error" + N.
    enum IdentError : uint8_t {
        NoError = 0,
        ErrorUserParamsRefused = 1,
        ErrorStopRefused = 2,
        ErrorRunRefused = 3,
        ErrorStopped = 4,         // stopped by the user or by an unhealthy estimator
        ErrorNoAnswer = 5,        // an answer was lost, dropped or unreadable
        ErrorConnectionLost = 7,
    };

    // Requests go out through `requests`, which must outlive the helper.
    explicit IdHelper(RequestChannel *requests, QObject *parent = nullptr);
    RequestChannel *requests() const { return m_requests; }

    // ---- called by the window's pages, from any thread: each posts itself into the
    // coordinator thread and answers with signals ----
    // Sends the user's limits; userParamsRefused(ParameterZero or DeviceNotConnected) when
    // a value is missing or no controller is connected.
    void setMotorUserParams(float maxCurrent, bool noLoadKnown, float noLoadCurrent, int lipoCells, float kv,
                            int polePairs);
    // The limits corrected as the predicted error asks; userParamsRefused(DeviceNotConnected)
    // without a controller.
    void correctIdentification();
    void acceptAllConditions();
    void stopIdentification();
    // The user left the wizard: a run that may turn the motor is stopped (IDENT_STOP);
    // limits sent or accepted without a run are dropped without a word to the controller.
    void cancelIdentification();
    // Sends a motor read from the database (both halves); storedMotorAnswered tells the
    // outcome, also when no controller is connected.
    void setStoredMotor(const MOTOR_TOTAL &motor);
    // Published for the window's busy check (read from the GUI thread).
    bool isIdentRunning() const { return m_identRunning.load(); }

    // ---- coordinator thread ----
    const MOTOR_TOTAL *motorParams() const { return &m_motorParams; }
    bool hasPredictedError() const { return m_predictedError; }
    Device_State_e deviceState() const { return m_deviceState; }

    IdState state() const { return m_state; }
    uint8_t lastError() const { return m_lastError; }
    uint8_t identErrorInfo() const { return m_identErrorInfo; }
    int predictedErrorCode() const { return m_predictedErrorCode; }
    const QVector<IdStep> &steps() const { return m_steps; }

public slots:
    void deviceConnectionState(Device_State_e deviceState);
    void receivePollAnswer(Poll_Answer_s pollAns);
    void acceptConditions(ID_WIDGET widget);

signals:
    void changeIdState(QString actualState, QString nextState, QString buttonLabel, QStringList features,
                       QStringList errors, uint32_t timeInMs);
    // The identified motor, a copy.
    void identFinished(MOTOR_TOTAL motor);
    // The run (or its start) has ended without identified parameters; `correctable`: the
    // controller predicted the error, so a corrected run may succeed.
    void identificationFailed(bool correctable);
    void showPredictError();
    void deviceDisconnect();
    void writeLogMessage(QString message);
    void updateMotorParams();
    void updateMotorHours();
    // setMotorUserParams or correctIdentification did not send (a SendResult).
    void userParamsRefused(int result);
    // The outcome of setStoredMotor: accepted when the controller took both halves;
    // otherwise `answered` tells a refusal from a lost answer or connection.
    void storedMotorAnswered(bool accepted, bool answered);

private:
    // The requests this class sends; answers are matched to them by message id.
    enum class Request : uint8_t {
        UserParams,        // SET_MOTOR_USER_PARAMS from the user's inputs or a correction
        StoredIdentParams, // SET_MOTOR_IDENT_PARAMS of a stored motor
        StoredUserParams,  // SET_MOTOR_USER_PARAMS of a stored motor
        Run,
        Stop,
        ErrorInfo,
        MotorParams,
    };
    static uint8_t messageIdOf(Request request);

    bool isDeviceConnected() const { return m_deviceState == DEVICE_CONNECTED; }
    template <typename Call>
    void runInOwnThread(Call call);

    void applyUserLimits(const MotorUserLimits &limits);
    void applyCorrection();
    void sendStoredMotor(const MOTOR_TOTAL &motor);
    void requestMotorParams();
    void requestIdentError();
    void send(Request request, const QByteArray &payload = {});
    void answered(RequestTicket ticket, const VYX_Protocol::VYX_MSG &msg);
    void failed(RequestTicket ticket, RequestFailure reason);

    void handleStatusAnswer(Request request, uint8_t status);
    void handleIdentError(const QByteArray &payload);
    void handleMotorParams(const QByteArray &payload);
    void handleLostAnswer(uint8_t msgId);
    void handleEstState(uint8_t estState, uint8_t health);
    void announceStep(IdState next, int step, uint32_t timeInMs);
    void noteProgress(const char *debugText, const QString &logText);
    void failOnUnhealthyEstimator();
    void finishStoredMotor(bool accepted, bool answered);
    void fail(IdentError error);

    void setState(IdState state);
    void setError(IdentError error) { m_lastError = error; }
    void log(const QString &message);
    void logError(IdentError error);
    bool motorMaySpin() const;
    bool motorMayTurn() const;
    bool isRunProgressState() const;
    static bool isRunningState(IdState state);

    RequestChannel *m_requests;
    QVector<IdStep> m_steps;

    IdState m_state = IdState::Idle;
    std::atomic<bool> m_identRunning {false};
    Device_State_e m_deviceState = DEVICE_DISCONNECTED;
    uint8_t m_lastEstState = 0;
    uint8_t m_lastError = NoError;
    uint8_t m_identErrorInfo = 0;       // byte 0 of the IDENT_ERROR answer, kept as is
    bool m_predictedError = false;
    int m_predictedErrorCode = 0;

    QHash<RequestTicket, Request> m_awaited; // sent, without an outcome yet
    bool m_storedMotorPending = false;   // both halves of a stored motor sent, outcome not told
    bool m_storedIdentRefused = false;   // the first half was refused

    MOTOR_TOTAL m_motorParams;
};

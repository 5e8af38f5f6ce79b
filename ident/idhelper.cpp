#include "ident/idhelper.h"

#include "device/answerpayload.h"
#include "wire/messageids.h"
#include "device/ownthread.h"
#include "ident/identlog.h"
#include "ident/motoruserlimits.h"


#include <algorithm>

#define ID_DEBUG qCDebug(lcIdent).noquote() << "ID_HELPER:"

namespace {

// The received payload, never longer than the frame's payload buffer, whatever length the
// frame claims.
QByteArray payloadOf(const VYX_Protocol::VYX_MSG &msg)
{
    const AnswerPayload answer(msg);
    return QByteArray(reinterpret_cast<const char *>(answer.data()), answer.length());
}

QString hexWithoutPadding(const QByteArray &bytes)
{
    QString text;
    for (char byte : bytes)
        text += QString::number(uint8_t(byte), 16);
    return text;
}

QString hex(uint8_t value)
{
    return QStringLiteral("0x") + QString::number(value, 16);
}

} // namespace

IdHelper::IdHelper(RequestChannel *requests, QObject *parent)
    : QObject(parent), m_requests(requests), m_steps(IdSteps::build())
{
    connect(m_requests, &RequestChannel::answered, this, &IdHelper::answered);
    connect(m_requests, &RequestChannel::failed, this, &IdHelper::failed);
    // The signals carry fixed-width integers; connections and spies made by signature
    // look them up under these names.
    qRegisterMetaType<uint8_t>("uint8_t");
    qRegisterMetaType<uint32_t>("uint32_t");
}

// ---- calls from the main window ---------------------------------------------------------

// The GUI thread must not touch the sequencer's state: its calls are posted into the
// coordinator thread, where they run in the order they were made.
template <typename Call>
void IdHelper::runInOwnThread(Call call)
{
    if (!postToOwnThread(this, call))
        call();
}

void IdHelper::setMotorUserParams(float maxCurrent, bool noLoadKnown, float noLoadCurrent, int lipoCells, float kv,
                                  int polePairs)
{
    const MotorUserInput input {maxCurrent, noLoadKnown, noLoadCurrent, lipoCells, kv, polePairs};
    runInOwnThread([this, input] {
        ID_DEBUG << "device state" << int(m_deviceState);
        if (!isDeviceConnected()) {
            emit userParamsRefused(DeviceNotConnected);
            return;
        }
        if (!input.isComplete()) {
            emit userParamsRefused(ParameterZero);
            return;
        }
        applyUserLimits(MotorUserLimits::compute(input));
    });
}

void IdHelper::correctIdentification()
{
    runInOwnThread([this] {
        if (!isDeviceConnected()) {
            emit userParamsRefused(DeviceNotConnected);
            return;
        }
        applyCorrection();
    });
}

void IdHelper::acceptAllConditions()
{
    runInOwnThread([this] {
        setState(IdState::RunRequested);
        m_predictedError = false;
        m_predictedErrorCode = 0;
        send(Request::Run);
        log(QStringLiteral("User accpets all conditions"));
    });
}

void IdHelper::stopIdentification()
{
    runInOwnThread([this] {
        ID_DEBUG << "Est state " + QString::number(m_lastEstState);
        setState(IdState::StopRequested);
        send(Request::Stop);
    });
}

void IdHelper::cancelIdentification()
{
    runInOwnThread([this] {
        if (m_state == IdState::StopRequested)
            return; // the stop is on its way
        if (motorMaySpin()) {
            stopIdentification();
            return;
        }
        // Limits sent or accepted, no run: nothing turns, nothing to tell the controller.
        // Their late answers find the sequencer idle and leave it so.
        if (isRunningState(m_state))
            setState(IdState::Idle);
    });
}

void IdHelper::setStoredMotor(const MOTOR_TOTAL &motor)
{
    runInOwnThread([this, motor] {
        if (!isDeviceConnected()) {
            emit storedMotorAnswered(false, false);
            return;
        }
        sendStoredMotor(motor);
    });
}

void IdHelper::acceptConditions(ID_WIDGET widget)
{
    runInOwnThread([this, widget] {
        switch (widget) {
        case ID_WIDGET_ATTENTION:
            log(QStringLiteral("User accepts its attention during ID"));
            break;
        case ID_WIDGET_NO_LOAD:
            log(QStringLiteral("User has motor without load"));
            break;
        case ID_WIDGET_STEPS:
            log(QStringLiteral("User knows all steps of ID"));
            break;
        }
    });
}

// ---- requests -----------------------------------------------------------------------------

uint8_t IdHelper::messageIdOf(Request request)
{
    switch (request) {
    case Request::UserParams:
    case Request::StoredUserParams:
        return VyxMsg::SET_MOTOR_USER_PARAMS;
    case Request::StoredIdentParams:
        return VyxMsg::SET_MOTOR_IDENT_PARAMS;
    case Request::Run:
        return VyxMsg::IDENT_RUN;
    case Request::Stop:
        return VyxMsg::IDENT_STOP;
    case Request::ErrorInfo:
        return VyxMsg::IDENT_ERROR;
    case Request::MotorParams:
        return VyxMsg::GET_MOTOR_PARAMS;
    }
    return 0;
}

void IdHelper::send(Request request, const QByteArray &payload)
{
    m_awaited.insert(m_requests->send(messageIdOf(request), payload, false, true), request);
}

void IdHelper::applyUserLimits(const MotorUserLimits &limits)
{
    m_motorParams.unpackUser(limits.record.packUser());
    for (const QString &line : limits.logLines())
        log(line);
    setState(IdState::UserParamsSent);
    send(Request::UserParams, m_motorParams.packUser());
}

void IdHelper::applyCorrection()
{
    if (m_predictedError) {
        if (m_predictedErrorCode == 4)
            m_motorParams.resCurrent = uint16_t((3 * m_motorParams.resCurrent) / 2) & MOTOR_TOTAL::CURRENT_MASK;
        else if (m_predictedErrorCode == 7)
            m_motorParams.fluxFrequency = uint8_t(m_motorParams.fluxFrequency + 20);
    }
    ID_DEBUG << "New ind res current: " + QString::number(m_motorParams.resCurrent) + " A";
    ID_DEBUG << "new flux freg: " + QString::number(m_motorParams.fluxFrequency) + " Hz";
    setState(IdState::UserParamsSent);
    send(Request::UserParams, m_motorParams.packUser());
}

void IdHelper::sendStoredMotor(const MOTOR_TOTAL &motor)
{
    setState(IdState::StoredMotorSent);
    m_storedMotorPending = true;
    m_storedIdentRefused = false;
    send(Request::StoredIdentParams, motor.packIdent());
    send(Request::StoredUserParams, motor.packUser());
    emit updateMotorParams();
    emit updateMotorHours();
}

void IdHelper::requestMotorParams()
{
    setState(IdState::Idle);
    send(Request::MotorParams);
}

void IdHelper::requestIdentError()
{
    setState(IdState::ErrorInfoRequested);
    send(Request::ErrorInfo);
}

// ---- answers ------------------------------------------------------------------------------

void IdHelper::answered(RequestTicket ticket, const VYX_Protocol::VYX_MSG &msg)
{
    const auto it = m_awaited.constFind(ticket);
    if (it == m_awaited.constEnd()) {
        ID_DEBUG << "Answer" << hex(msg.msgId) << "to no outstanding request ignored";
        return;
    }
    const Request request = it.value();
    m_awaited.erase(it);
    if (msg.msgId != messageIdOf(request)) {
        // Another id in the place of our answer: ours will not come.
        ID_DEBUG << "Answer" << hex(msg.msgId) << "in place of" << hex(messageIdOf(request));
        m_awaited.clear();
        handleLostAnswer(messageIdOf(request));
        return;
    }
    const QByteArray payload = payloadOf(msg);
    switch (msg.msgId) {
    case VyxMsg::SET_MOTOR_USER_PARAMS:
    case VyxMsg::IDENT_RUN:
    case VyxMsg::IDENT_STOP:
    case VyxMsg::SET_MOTOR_IDENT_PARAMS:
        handleStatusAnswer(request, payload.isEmpty() ? 0 : uint8_t(payload.at(0)));
        break;
    case VyxMsg::IDENT_ERROR:
        handleIdentError(payload);
        break;
    case VyxMsg::GET_MOTOR_PARAMS:
        handleMotorParams(payload);
        break;
    default:
        break;
    }
}

void IdHelper::handleStatusAnswer(Request request, uint8_t status)
{
    if (request == Request::StoredIdentParams) {
        // The stored half is confirmed later by the poll answers; a refusal is told with
        // the answer to the second half.
        m_storedIdentRefused = status != ANSWER_OK;
        if (status == ANSWER_OK) {
            log(m_state == IdState::StoredMotorSent ? QStringLiteral("Set motor ident params in total params")
                                                    : QStringLiteral("Set motor ident params"));
        }
        return;
    }
    if (status != ANSWER_OK && status != ANSWER_REFUSED) {
        // An answer that says neither yes nor no would leave the sequencer waiting for ever.
        ID_DEBUG << "Unreadable answer to" << hex(messageIdOf(request)) << "status" << hex(status);
        handleLostAnswer(messageIdOf(request));
        return;
    }
    const bool accepted = status == ANSWER_OK;
    if (request == Request::StoredUserParams)
        finishStoredMotor(accepted && !m_storedIdentRefused, true);

    switch (request) {
    case Request::UserParams:
    case Request::StoredUserParams:
        if (!accepted) {
            setState(IdState::Failed);
            setError(ErrorUserParamsRefused);
            requestIdentError();
            logError(ErrorUserParamsRefused);
        } else if (request == Request::StoredUserParams) {
            // The stored motor may already be confirmed by a poll answer (state Idle).
            if (m_state == IdState::StoredMotorSent)
                setState(IdState::Idle);
            log(QStringLiteral("Set motor user params in total params"));
        } else {
            // Only limits still waiting are accepted now: a run requested meanwhile (a
            // correction) or a cancelled wizard keeps its state.
            if (m_state == IdState::UserParamsSent)
                setState(IdState::UserParamsAccepted);
            log(QStringLiteral("Set motor user params"));
        }
        break;
    case Request::Run:
        if (accepted) {
            setState(IdState::Running);
            log(QStringLiteral("Ident run"));
        } else {
            setState(IdState::Failed);
            setError(ErrorRunRefused);
            logError(ErrorRunRefused);
        }
        break;
    case Request::Stop:
        setState(IdState::Failed);
        setError(accepted ? ErrorStopped : ErrorStopRefused);
        emit identificationFailed(m_predictedError);
        if (accepted)
            log(QStringLiteral("Ident stop"));
        else
            logError(ErrorStopRefused);
        break;
    default:
        break;
    }
}

void IdHelper::handleIdentError(const QByteArray &payload)
{
    emit identificationFailed(m_predictedError);
    setState(IdState::Failed);
    if (!payload.isEmpty())
        m_identErrorInfo = uint8_t(payload.at(0));
    ID_DEBUG << "Ident error info" << hex(m_identErrorInfo);
}

void IdHelper::handleMotorParams(const QByteArray &payload)
{
    ID_DEBUG << "MOtor params received";
    MOTOR_TOTAL params = m_motorParams;
    if (!params.unpackIdent(payload)) {
        ID_DEBUG << "Motor params answer too short:" << payload.size() << "bytes";
        fail(ErrorNoAnswer);
        return;
    }
    m_motorParams = params;
    log(QStringLiteral("Get motors params"));
    log(QStringLiteral("Motor params:") + hexWithoutPadding(payload));

    ID_DEBUG << "m_motorParams.Rs: " + QString::number(params.Rs);
    ID_DEBUG << "m_motorParams.Ls_d: " + QString::number(params.Ls_d);
    ID_DEBUG << "m_motorParams.Ls_q: " + QString::number(params.Ls_q);
    ID_DEBUG << "m_motorParams.Flux: " + QString::number(params.Flux);
    ID_DEBUG << "m_motorParams.voltage_scale: " + QString::number(params.voltage_scale);
    ID_DEBUG << "m_motorParams.maxFrequency: " + QString::number(params.maxFrequency);
    ID_DEBUG << "m_motorParams.maxMotorCurrent: " + QString::number(params.maxMotorCurrent);
    ID_DEBUG << "m_motorParams.polePairs: " + QString::number(params.polePairs);
    ID_DEBUG << "m_motorParams.validData: " + QString::number(params.validData);
    ID_DEBUG << "m_motorParams.fluxFrequency: " + QString::number(params.fluxFrequency);
    ID_DEBUG << "m_motorParams.resCurrent: " + QString::number(params.resCurrent);
    ID_DEBUG << "m_motorParams.indCurrent: " + QString::number(params.indCurrent);

    setState(IdState::Finished);
    emit identFinished(m_motorParams);
}

// ---- lost answers -------------------------------------------------------------------------

void IdHelper::failed(RequestTicket ticket, RequestFailure reason)
{
    const auto it = m_awaited.constFind(ticket);
    if (it == m_awaited.constEnd())
        return;
    // Without a port the device is dropped: deviceConnectionState ends the run and still
    // needs to know whether the result was awaited.
    if (reason == RequestFailure::PortClosed || reason == RequestFailure::ProtocolSwitched)
        return;
    const uint8_t msgId = messageIdOf(it.value());
    m_awaited.erase(it);
    if (reason == RequestFailure::NoPort)
        return;
    // A request lost or dropped: the rest of ours fail with it (the queue is emptied), and
    // only the first of those failures is acted on.
    m_awaited.clear();
    handleLostAnswer(msgId);
}

// A lost answer must never leave the sequencer running: the user could not leave the
// motor page any more. While the motor may be spinning the controller is told to stop
// first; the stop's answer (or its loss) then ends the run.
void IdHelper::handleLostAnswer(uint8_t msgId)
{
    finishStoredMotor(false, false);
    ID_DEBUG << "Answer lost" << hex(msgId) << "in state" << int(m_state);
    if (m_state == IdState::StopRequested) {
        // The controller did not confirm the stop: drop the connection.
        emit deviceDisconnect();
        fail(ErrorNoAnswer);
    } else if (motorMaySpin()) {
        setError(ErrorNoAnswer);
        logError(ErrorNoAnswer);
        stopIdentification();
    } else if (isRunningState(m_state) || msgId == VyxMsg::GET_MOTOR_PARAMS) {
        fail(ErrorNoAnswer);
    } else {
        emit identificationFailed(m_predictedError);
    }
}

// ---- device state and poll answers --------------------------------------------------------

void IdHelper::deviceConnectionState(Device_State_e deviceState)
{
    m_deviceState = deviceState;
    if (deviceState == DEVICE_CONNECTED)
        return;
    const bool resultPending = std::find(m_awaited.cbegin(), m_awaited.cend(), Request::MotorParams) != m_awaited.cend();
    m_awaited.clear();
    if (motorMayTurn()) {
        // The controller may still hear us while the port is open: tell it to stop. Nothing
        // waits for the answer, the run is over for this side either way.
        ID_DEBUG << "Device lost during a run: stop sent";
        m_requests->send(messageIdOf(Request::Stop), QByteArray(), false, false);
    }
    finishStoredMotor(false, false);
    if (isRunningState(m_state) || resultPending) {
        setState(IdState::Failed);
        setError(ErrorConnectionLost);
        emit identificationFailed(m_predictedError);
        log(QStringLiteral("Ident is broken"));
    }
}

void IdHelper::receivePollAnswer(Poll_Answer_s pollAns)
{
    if (pollAns.hasIdState)
        handleEstState(uint8_t(pollAns.idState >> 4), uint8_t(pollAns.idState & 0x0F));

    if (pollAns.hasSavedMsg && pollAns.savedMsgId == VyxMsg::SET_MOTOR_IDENT_PARAMS) {
        // While the motor may turn the run must end by its own finish or stop: an idle
        // sequencer would let the user leave the page with the motor turning.
        if (motorMayTurn()) {
            ID_DEBUG << "Stored motor confirmed during a run: the run goes on";
        } else {
            setState(IdState::Idle);
            ID_DEBUG << "Motor";
        }
    }

    if (pollAns.hasErrorPrediction) {
        // Every poll repeats the prediction; the pages are told once per prediction.
        const bool isNew = !m_predictedError || m_predictedErrorCode != pollAns.errorPrediction;
        m_predictedError = true;
        m_predictedErrorCode = pollAns.errorPrediction;
        if (isNew)
            emit showPredictError();
    }
}

// The estimator state is repeated by every poll; each step is announced once, when the
// sequencer is in the state that precedes it. Outside a run the value is not read, so a
// controller that keeps reporting a finished or broken estimator cannot restart anything.
void IdHelper::handleEstState(uint8_t estState, uint8_t health)
{
    if (!isRunProgressState())
        return;
    if (health == 0) {
        failOnUnhealthyEstimator();
        return;
    }
    m_lastEstState = estState;

    switch (estState) {
    case 1:
    case 2:
    case 3:
        if (m_state == IdState::Running) {
            announceStep(IdState::NoMovement, IdSteps::NoMovement, m_steps.at(IdSteps::NoMovement).timeInMs);
            noteProgress("Motor no move", QStringLiteral("No moving operations"));
        }
        break;
    case 4:
        if (m_state == IdState::NoMovement) {
            const uint8_t flux = m_motorParams.fluxFrequency;
            const uint32_t rampTime = IdSteps::accelerationTimeMs(m_steps, flux);
            ID_DEBUG << "frequency " + QString::number(flux);
            ID_DEBUG << "time ramp up " + QString::number(rampTime);
            announceStep(IdState::Acceleration, IdSteps::Acceleration, rampTime);
            noteProgress("Motor accelerate", QStringLiteral("Accelarating operations"));
        }
        break;
    case 5:
    case 6:
    case 7:
    case 9:
    case 10:
    case 11:
        if (m_state == IdState::Acceleration) {
            announceStep(IdState::VariableSpeed, IdSteps::VariableSpeed,
                         m_steps.at(IdSteps::VariableSpeed).timeInMs);
            noteProgress("MOtor oscillate", QStringLiteral("Stable speed operations"));
        }
        break;
    case 8:
        if (m_state == IdState::VariableSpeed) {
            announceStep(IdState::Deceleration, IdSteps::Deceleration, m_steps.at(IdSteps::Deceleration).timeInMs);
            noteProgress("MOtor decelerate", QStringLiteral("Decelarating operations"));
        }
        break;
    case 12:
        if (m_state == IdState::Deceleration) {
            setState(IdState::Finished);
            noteProgress("Ident finish", QStringLiteral("Ident finish"));
            requestMotorParams();
        }
        break;
    case 13:
        break;
    default: // 0, 14, 15: the estimator broke off
        failOnUnhealthyEstimator();
        break;
    }
}

void IdHelper::announceStep(IdState next, int step, uint32_t timeInMs)
{
    setState(next);
    const IdStep current = IdSteps::translated(m_steps.at(step));
    const QString nextName = IdSteps::translated(m_steps.at(step + 1)).name;
    emit changeIdState(current.name, nextName, current.buttonLabel, current.features, current.errors, timeInMs);
}

void IdHelper::noteProgress(const char *debugText, const QString &logText)
{
    ID_DEBUG << debugText;
    log(logText);
}

void IdHelper::failOnUnhealthyEstimator()
{
    stopIdentification();
    setError(ErrorStopped);
    logError(ErrorStopped);
}

void IdHelper::finishStoredMotor(bool accepted, bool answered)
{
    if (!m_storedMotorPending)
        return;
    m_storedMotorPending = false;
    emit storedMotorAnswered(accepted, answered);
}

void IdHelper::fail(IdentError error)
{
    setState(IdState::Failed);
    setError(error);
    logError(error);
    emit identificationFailed(m_predictedError);
}

// ---- state --------------------------------------------------------------------------------

void IdHelper::setState(IdState state)
{
    if (state != m_state)
        ID_DEBUG << "state" << int(m_state) << "->" << int(state);
    m_state = state;
    m_identRunning = isRunningState(state);
}

bool IdHelper::isRunningState(IdState state)
{
    return state != IdState::Idle && state != IdState::Finished && state != IdState::Failed;
}

bool IdHelper::isRunProgressState() const
{
    switch (m_state) {
    case IdState::Running:
    case IdState::NoMovement:
    case IdState::Acceleration:
    case IdState::VariableSpeed:
    case IdState::Deceleration:
        return true;
    default:
        return false;
    }
}

bool IdHelper::motorMaySpin() const
{
    return m_state == IdState::RunRequested || isRunProgressState();
}

// Also while a stop is asked for and not yet confirmed.
bool IdHelper::motorMayTurn() const
{
    return motorMaySpin() || m_state == IdState::StopRequested;
}

void IdHelper::log(const QString &message)
{
    emit writeLogMessage(message);
}

void IdHelper::logError(IdentError error)
{
    log(QStringLiteral("Ident error") + QString::number(int(error)));
}

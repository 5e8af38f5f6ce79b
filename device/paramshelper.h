#pragma once

#include "device/settingsmodel.h"
#include "link/requestchannel.h"
#include "wire/records.h"
#include "wire/vyxprotocol.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>

// Writes the user's PWM input and motion settings into the controller and reads its
// diagnostic records on request. An edit is packed at once but sent only after a quiet
// period of 16 ticks; the controller first accepts the record and later confirms in a
// status answer that it has stored it, and only then is the record handed to the device
// model. Lives in the coordinator thread; calls from the GUI thread are re-posted there.
class ParamsHelper : public QObject
{
    Q_OBJECT

public:
    enum SendState : uint32_t {
        PARAMS_IDLE = 0,            // nothing in flight
        PARAMS_SENDING_PWM_IN = 1,  // WRITE_PWM_IN_PARAMS sent, answer awaited
        PARAMS_SENDING_MOTION = 2,  // WRITE_MOTION_PARAMS sent, answer awaited
        PARAMS_ACCEPTED = 3,        // accepted; storage confirmation awaited
        PARAMS_TIMEOUT = 4,         // a request got no answer
    };
    Q_ENUM(SendState)

    // A record is sent on the tick after its quiet counter has passed this value,
    // i.e. on the 16th tick after the last edit.
    static constexpr uint32_t QUIET_TICKS = 14;
    // An accepted write whose storage is not confirmed within this many ticks (ten status
    // polls) is given up, so it cannot hold later writes and the page for good.
    static constexpr uint32_t CONFIRMATION_TICKS = 40;
    static constexpr std::array<uint16_t, 3> BRAKE_INTENSITY = SettingsModel::BRAKE_INTENSITY;

    // Requests go out through `requests`, which must outlive the helper.
    explicit ParamsHelper(RequestChannel *requests, QObject *parent = nullptr);
    RequestChannel *requests() const { return m_requests; }

    // Readable from any thread: an edit waits or a write is not yet confirmed.
    bool isSending() const;
    SendState sendState() const { return m_state.load(); }

    ERROR_WARN_LOG lastErrorLog() const { return m_errorLog; }
    RUN_DATA lastRunData() const { return m_runData; }
    RESISTANCE lastResistances() const { return m_resistances; }

public slots:
    // Edits of the settings page; dropped unless a device is connected.
    void setPwmInParams(uint16_t lowLevel, uint16_t centerLevel, uint16_t highLevel, uint8_t deadZone,
                        bool pwmType, bool controlType, bool digitalControl, bool analogControl,
                        uint16_t speedNorm, double scale);
    void setMotionParams(uint16_t acceleration, uint16_t brakeIntense, bool brakeEnable, bool reverseDir,
                         uint8_t deviceAddress, bool hwAddress, uint16_t timeToLeave, float Kp, float Ki);
    // Whole records from the settings page, which keeps every field the user did not edit
    // as the controller sent it; written after the quiet period like the edits above.
    void setPwmInRecord(SET_PWM_IN_PARAMS record);
    void setMotionRecord(SET_MOTION_PARAMS record);
    // New gains after a tuning run: written at once, without the quiet period.
    void setMotionParamsDirectly(SET_MOTION_PARAMS motionParams);
    // The quiet-period step, ticked while the settings page is shown.
    void tick();

    void requestErrorLog();
    void clearErrorLog();
    void requestRunData();
    void requestResistances();

    void receivePollAnswer(Poll_Answer_s pollAns);
    void deviceConnectionState(Device_State_e deviceState);

signals:
    void updateCheckBox(Qt::CheckState pwmIn, Qt::CheckState motion);
    // Confirmed records, by value: the receivers live in other threads.
    void device_setPwmInParams(SET_PWM_IN_PARAMS pwmInParams);
    void device_setMotionParams(SET_MOTION_PARAMS motionParams);
    void updateDeviceAddress(uint8_t address);
    void sendTextForMsgBox(QString msg, bool isMsgBox);
    void fillErrors(ERROR_WARN_LOG eaw);
    void fillData(RUN_DATA runData);
    void fillResistances(RESISTANCE res);
    void setParamFinished(bool paramsLoaded);
    // The controller answered a settings record (its message id) with a refusal: a repeat
    // would be refused again.
    void recordRefused(uint8_t vyxMsgId);

private:
    // One of the two settings records on its way to the controller.
    template <typename Record>
    struct Outgoing
    {
        std::atomic<bool> pending {false};  // waits for the quiet period
        uint32_t quietTicks = 0;            // ticks since the last edit
        Record toSend;
        Record sent;                        // copy taken at send time
        bool awaitingConfirmation = false;  // sent, storage not yet confirmed
    };

    bool isConnected() const;
    void send(uint8_t msgId, const QByteArray &payload, bool poll);
    void answered(RequestTicket ticket, const VYX_Protocol::VYX_MSG &msg);
    void failed(RequestTicket ticket, RequestFailure reason);
    void requestLost(uint8_t msgId, bool written);
    void setState(SendState state) { m_state.store(state); }
    template <typename Record>
    void stepQuietPeriod(Outgoing<Record> &record, SendState sendingState);
    void sendRecord();
    void confirmPwmIn();
    void confirmMotion();
    void recoverFromTimeout();
    bool isWriteInFlight(uint8_t msgId) const;
    void writeLost(uint8_t msgId, bool written);
    void giveUpConfirmation();
    void requestDiagnostic(uint8_t msgId);

    RequestChannel *m_requests;
    QHash<RequestTicket, uint8_t> m_open; // message id of each request without its outcome
    Outgoing<SET_PWM_IN_PARAMS> m_pwmIn;
    Outgoing<SET_MOTION_PARAMS> m_motion;
    std::atomic<SendState> m_state {PARAMS_IDLE};
    uint8_t m_lostMsgId = 0;
    bool m_writeResent = false; // the write in flight was already sent a second time
    uint32_t m_acceptedTicks = 0;
    ERROR_WARN_LOG m_errorLog;
    RUN_DATA m_runData;
    RESISTANCE m_resistances;
    Device_State_e m_deviceState = DEVICE_DISCONNECTED;
};

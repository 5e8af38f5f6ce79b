#pragma once

#include "link/requestchannel.h"
#include "wire/records.h"
#include "wire/vyxprotocol.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>
#include <cstdint>

// The heartbeat of the device connection. Driven by the coordinator's tick it searches
// for a controller with GET_DEVICE_INFO, keeps contact with GET_STATUS while the device
// is idle, switches it into running mode with START_RUN and then exchanges one TELEMETRY
// message per tick, turning each answer into a sample. It forwards the status block of
// every status and telemetry answer and declares the device lost when answers stop.
// Lives in the coordinator thread.
class PingHelper : public QObject
{
    Q_OBJECT

public:
    enum PollMode : uint32_t {
        PING_OFF = 0,            // no polling (port closed, bootloader active)
        PING_SEARCH = 1,         // looking for a device with GET_DEVICE_INFO
        PING_SEARCH_RESTART = 2, // identification refused; the search restarts next tick
        PING_CONNECTED = 3,      // device known and idle; GET_STATUS keeps contact
        PING_START_RUN = 4,      // START_RUN sent, its answer awaited
        PING_TELEMETRY = 5,      // device running; TELEMETRY every tick
    };
    Q_ENUM(PollMode)

    // Sends every n-th tick.
    static constexpr uint32_t SEARCH_EVERY = 2;
    static constexpr uint32_t STATUS_EVERY = 4;
    static constexpr uint32_t TELEMETRY_EVERY = 1;
    // Consecutive lost TELEMETRY requests that are still tolerated.
    static constexpr uint8_t TELEMETRY_LOSSES_TOLERATED = 3;
    static constexpr uint32_t TELEMETRY_ANSWER_LIMIT_MS = 50;
    // A detection request holds the line until the next tick only (a limit below one tick).
    static constexpr uint32_t SEARCH_SLOT_MS = 0;
    // The sample vector keeps at least this many of the newest samples; older ones are
    // dropped in blocks, so that a long run does not make the program grow.
    static constexpr int SAMPLES_KEPT = 200;

    // Requests go out through `requests`, which must outlive the helper.
    explicit PingHelper(RequestChannel *requests, QObject *parent = nullptr);
    RequestChannel *requests() const { return m_requests; }

    // Called by the coordinator when the port opens (true) or closes (false).
    void enablePolling(bool on);
    // Switches an idle device into running mode. May be called from any thread.
    void startRun();
    // May be called from any thread (the GUI asks before leaving the control page).
    bool isDutyEnabled() const { return dutyCommand().enable; }

    PollMode pollMode() const { return m_mode; }

public slots:
    void handleTimeout();
    void deviceConnectionState(Device_State_e deviceState);
    // Duty command in percent; may be called from any thread. Takes effect with the next
    // TELEMETRY request.
    void setDutyCycle(int16_t dutyCycle, bool enableDutyCycle);

signals:
    void device_createDevice(uint32_t serialNumber, uint8_t fw_h, uint8_t fw_m, uint8_t fw_l, uint32_t hwBuild,
                             uint8_t deviceAdd);
    void device_runDevice(bool actualSerNum, uint32_t serialNumber, uint8_t fw_h, uint8_t fw_m, uint8_t fw_l,
                          uint32_t hwBuild, uint8_t devAdd);
    void device_deleteDevice();
    void sendPollAnswer(Poll_Answer_s pollAns);
    void resetControl(QString msg, uint8_t code);
    // The live sample vector: only for receivers in this thread, read during the signal.
    void on_telemetryUpdated(QVector<ONLINE_QUANTS_S> *data);
    // A copy of every sample appended: for receivers in other threads (recorder, GUI).
    void addSample(ONLINE_QUANTS_S sample);
    // The same copy with its number since the run started (1 for the first sample).
    void telemetrySample(ONLINE_QUANTS_S sample, uint32_t sampleNumber);
    void changeFile();

private:
    friend class TestPingHelper;
    // Written in this thread only: not for readers in other threads.
    const QVector<ONLINE_QUANTS_S> &samples() const { return m_samples; }

    void answered(RequestTicket ticket, const VYX_Protocol::VYX_MSG &msg);
    void failed(RequestTicket ticket, RequestFailure reason);
    void requestLost(uint8_t msgId);
    void resetMode(PollMode mode);
    void stopDuty() { m_duty.store(0); }
    void sendEvery(uint32_t ticks, uint8_t msgId, const QByteArray &payload);
    void send(uint8_t msgId, const QByteArray &payload = QByteArray());
    void handleIdentity(const VYX_Protocol::VYX_MSG &msg);
    void handleTelemetry(const VYX_Protocol::VYX_MSG &msg);
    void enterTelemetry(bool actualSerNum, const DeviceIdentity &identity);
    // Index just past the status block, or -1 when the answer is too short for it.
    int decodeStatusBlock(const uint8_t *data, int length);
    void contactLost();
    bool isDeviceKnown() const;
    DutyCommand dutyCommand() const;

    RequestChannel *m_requests;
    QHash<RequestTicket, uint8_t> m_open; // message id of each request without its outcome
    uint32_t m_answerLimitMs = RequestChannel::DEFAULT_ANSWER_LIMIT_MS; // of the polls sent now
    uint32_t m_tickCounter = 0;
    PollMode m_mode = PING_OFF;
    ONLINE_QUANTS_S m_sample;
    Device_State_e m_deviceState = DEVICE_DISCONNECTED;
    // Enable flag (bit 16) and wire duty value (bits 0..15) in one word, so that a
    // setter in another thread never leaves a half-updated command.
    std::atomic<uint32_t> m_duty {0};
    QVector<ONLINE_QUANTS_S> m_samples;
    uint32_t m_sampleNumber = 0; // samples since the run started
    uint8_t m_retryCounter = 0;
    bool m_pollingEnabled = false; // a port is open
    uint32_t m_knownSerial = 0;    // of the device identified last
};

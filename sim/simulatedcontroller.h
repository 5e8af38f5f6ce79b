#pragma once

#include "wire/vyxprotocol.h"
#include "sim/faultinjector.h"
#include "sim/linescheduler.h"
#include "sim/simconfig.h"
#include "sim/simulatedbootloader.h"
#include "sim/simulatedfirmware.h"

#include <QObject>

#include <deque>
#include <functional>
#include <memory>
#include <map>
#include <set>

// A whole controller at the far end of a half-duplex serial line, without the line:
// the host's bytes go in through receiveFromHost(); takeOutput() gives back, in
// order, the echo of those bytes and then the controller's answer. The controller
// has no clock of its own: advance() moves time for everything time-driven (answer
// delay, line pacing, motor, identification, faults). With no delay or pacing, the
// answer is ready as soon as the request's last byte arrived.
class SimulatedController : public QObject
{
    Q_OBJECT

public:
    explicit SimulatedController(const SimulatorConfig &config = SimulatorConfig(), QObject *parent = nullptr);

    void receiveFromHost(const QByteArray &bytes);
    QByteArray takeOutput();
    bool hasOutput() const;

    void advance(int ms);
    void advanceMicroseconds(qint64 us);
    qint64 nowMs() const { return m_nowUs / 1000; }
    qint64 nowUs() const { return m_nowUs; }
    // When the line next goes quiet after a run of bytes (the host's arriving, the
    // controller's becoming readable), or -1: a real-time clock wakes up then instead of
    // at its next step. Nothing is lost by sleeping through a run: every byte is still
    // handled at its own arrival time, and the host cannot act on an answer before its
    // last byte.
    qint64 nextEventUs() const;

    // Good frames addressed to this controller, per message id, answered or not.
    int requestsReceived(uint8_t msgId) const;
    const std::map<uint8_t, int> &requestCounts() const { return m_requestCounts; }
    // Answer frames put on the line, per message id of the request they answer.
    const std::map<uint8_t, int> &answerCounts() const { return m_answerCounts; }
    // How many motion writes were stored with another Kp (the named fault storeOtherKp).
    int otherKpStored() const { return m_otherKpStored; }

    // Plays a recorded controller instead of the firmware: each good request is answered
    // with the next recorded answer frame of its message id, as recorded; a request with
    // none left gets no answer and is reported (replayMissing) once per message id.
    void setReplay(std::map<uint8_t, std::deque<QByteArray>> answers);
    // The same with the answers taken one at a time: `nextAnswer` gives the next recorded
    // answer frame of a message id, false when there is none left.
    void setReplay(std::function<bool(uint8_t msgId, QByteArray *frame)> nextAnswer);

    bool isInBootloader() const { return m_inBootloader; }
    // Power cut and return: while off, the controller hears nothing (the line still echoes
    // the host's bytes); back on, it starts where it was: in the bootloader when it was
    // there (the flash keeps what was written), otherwise in the firmware.
    void setPowered(bool on);
    bool isPowered() const { return m_powered; }
    // Switched off now and on again after offMs of the controller's clock (as a user does
    // to leave running mode).
    void powerCycle(int offMs);
    bool hasVanished() const { return m_vanished; }
    // Stops answering from now on; frames are still received (and counted, and traced).
    void goSilent() { m_faults.silence(); }
    const SimulatorConfig &config() const { return m_config; }
    SimulatedFirmware &firmware() { return m_firmware; }
    const SimulatedBootloader &bootloader() const { return m_bootloader; }

signals:
    // Bytes for the host have become readable (not emitted for every byte).
    void outputAvailable();
    // The "vanish" fault fired: the port is gone for good.
    void vanished();
    // The bootloader has started the application (end of a firmware update).
    void applicationStarted();
    // One frame (or bootloader request/answer) crossed the line; for traces.
    void traffic(bool fromHost, const QByteArray &bytes, qint64 timeMs);
    // A replayed capture has no (more) answers to requests of this message id.
    void replayMissing(uint8_t msgId);

private:
    void processInbound();
    void processByte(uint8_t byte, qint64 atUs);
    void processFirmwareByte(uint8_t byte, qint64 atUs);
    void processBootloaderByte(uint8_t byte, qint64 atUs);
    void handleFrame(const VYX_Protocol::VYX_MSG &msg, qint64 atUs);
    QByteArray encodeAnswer(uint8_t msgId, const QByteArray &payload, bool corrupt) const;
    // The answer frame with the spoiling faults applied (stray bytes, wrong id or length,
    // a frame without end).
    QByteArray spoilableAnswer(uint8_t msgId, QByteArray payload, bool corrupt);
    // False when a fault dropped it.
    bool sendAnswer(const QByteArray &bytes, qint64 readyUs);
    void replayAnswer(uint8_t msgId, qint64 atUs);
    void enterBootloader();
    void startApplication();
    void vanish();
    void notifyOutput();

    SimulatorConfig m_config;
    SimulatedFirmware m_firmware;
    SimulatedBootloader m_bootloader;
    FaultInjector m_faults;
    LineScheduler m_line;
    VYX_Protocol m_codec;
    VYX_Protocol::VyxRxConfig m_rxConfig;

    struct InboundByte
    {
        uint8_t byte;
        qint64 arrivalUs;
    };
    std::deque<InboundByte> m_inbound;
    QByteArray m_rawRequest; // the request being received, as on the wire (for traces)
    std::map<uint8_t, int> m_requestCounts;
    std::map<uint8_t, int> m_answerCounts;
    int m_otherKpStored = 0;
    bool m_replaying = false;
    std::function<bool(uint8_t, QByteArray *)> m_nextReplayAnswer;
    std::set<uint8_t> m_replayMissingReported;
    qint64 m_nowUs = 0;
    qint64 m_identityFromUs = -1; // identity requests are answered from this time on; -1: none asked yet
    bool m_inBootloader = false;
    bool m_vanished = false;
    bool m_powered = true;
    qint64 m_powerBackAtUs = -1; // a power cycle under way: the power comes back then
};

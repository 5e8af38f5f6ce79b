#pragma once

#include "firmware/bootloaderprotocol.h"
#include "firmware/firmwareimage.h"
#include "link/requestchannel.h"
#include "wire/records.h"
#include "wire/vyxprotocol.h"

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>

// Writes a firmware image into the controller through its bootloader: asks the running
// firmware to reset (or waits for a controller already in its bootloader), finds the
// bootloader with sync bytes, identifies it, checks the image against what it reported,
// writes the image page by page and starts the new firmware, reporting progress, success
// and errors. Lives in the coordinator thread; the tick and the answers of its request
// channel (frames, and bootloader answers framed by the line) are direct calls. While a port is open and no controller answers frames, it
// also looks for a controller left waiting in its bootloader by an interrupted update.
class UpdateFwHelper : public QObject
{
    Q_OBJECT

public:
    enum UpdateState : uint32_t {
        UpdateIdle = 0,
        UpdateResetting = 1,
        UpdateResetAccepted = 2,
        UpdateWaitDevice = 3,
        BlGet = 4,
        BlGetId = 5,
        BlGetInfo = 6,
        BlGetSecurity = 7,
        AesBegin = 8,
        AesBlockSent = 9,
        BlReady = 10,
        WriteCommand = 11,
        WriteAddress = 12,
        WritePage = 13,
        StartApplication = 14,
        UpdateFailed = 15,
    };
    Q_ENUM(UpdateState)

    static constexpr int SYNC_TICKS = 200;                  // 10 s of syncs before giving up
    static constexpr int RESET_SENDS = 3; // a reset request dropped unsent is sent again, this often in all
    // The reset cannot be asked twice of a controller that took it: its answer may take
    // longer than a poll's before the update is given up.
    static constexpr uint32_t RESET_ANSWER_LIMIT_MS = 500;
    // The bootloader's answers while it is identified, and to a start command sent again.
    // Each request goes out as the answer before it comes, anywhere between two ticks, and
    // the adapter's latency and a late controller add to each answer: two ticks (50 to
    // 100 ms, less when a tick comes late on a loaded machine) ended updates whose answer
    // was on its way.
    static constexpr uint32_t BOOTLOADER_ANSWER_LIMIT_MS = 500;
    static constexpr uint32_t WRITE_ANSWER_LIMIT_MS = 10000;
    static constexpr int MAX_START_NACKS = 3;               // NACKs to the start command before failing
    static constexpr int PROBE_AFTER_TICKS = 20;            // 1 s without a device before looking
    // A bootloader takes the identity polls (five bytes each) as two-byte commands and NACKs
    // them, so an odd number of poll bytes before a sync leaves the sync split across two of
    // its commands. The probe goes in the tick between two polls (every second tick), so
    // probes lie an even number of ticks apart: 22 ticks put 11 polls, an odd number, between
    // two probes, so every second probe finds the bootloader in step.
    static constexpr int PROBE_EVERY_TICKS = 22;
    // The probe's slot ends at the next tick (a limit below one tick): the next detection
    // request goes out on time.
    static constexpr uint32_t PROBE_SLOT_MS = 0;

    // After the bootloader answered one of several syncs, GET waits until no byte came for
    // this long (the answers to the other syncs may still come), at most GET_QUIET_TICKS.
    static constexpr int GET_QUIET_TICKS = 10;

    // Requests go out through `requests`, which must outlive the helper.
    explicit UpdateFwHelper(RequestChannel *requests, QObject *parent = nullptr);
    // Whether the line has been quiet (no byte received) for two ticks; without it, it is.
    void setLineQuietCheck(std::function<bool()> lineQuiet) { m_lineQuiet = std::move(lineQuiet); }
    RequestChannel *requests() const { return m_requests; }

    // Called by the coordinator in its thread (a call from another thread is posted there).
    void startUpdate(const QString &fileName);
    void updateTick();
    // Every tick: looks for a controller waiting in its bootloader while the port is open
    // and no device answers (the sync needs no frame). A look that is due waits while the
    // line is not quiet (a frame answer may still come).
    void probeTick(bool portOpen, bool lineQuiet);
    // May be asked from any thread.
    bool isUpdateRunning() const { return m_running.load(); }
    bool isBootloaderWaiting() const { return m_bootloaderWaiting.load(); }

    UpdateState state() const { return m_state; }
    uint32_t errorCode() const { return m_errorCode; }
    const Bootloader::BootloaderInfo &bootloaderInfo() const { return m_info; }
    const Bootloader::CommandTable &commands() const { return m_commands; }

    // The message of an update that ended with `errorCode`.
    static QString errorMessage(uint32_t errorCode);
    // What no bootloader could take, checked before anything is sent: a file that is not a
    // regular readable one, an empty one, one larger than any flash. 0 or the error code.
    static uint32_t checkImageFile(const QString &fileName);
    // What is wrong with the image, in words beside the code.
    static QString imageErrorMessage(uint32_t errorCode, const QString &fileName);

public slots:
    void deviceConnectionState(Device_State_e deviceState);
    // The port is gone: an update in progress cannot go on.
    void portClosed();

signals:
    void updateFwError();
    void updateProgressBar(int value, int min, int max, QString format);
    void setBootloaderProtocol(bool knownDevice);
    void finishPoll(bool knownDevice);
    void setVyxProtocol();
    void on_updateFwState(QString newState, bool showProgressBar, bool showRestart, bool enableUpdateButton);
    void sendTextForMsgBox(QString msg, bool isMsgBox);
    // A controller waits in its bootloader without an update running (found by the probe).
    void bootloaderFound();
    // The update has ended: success, or the error code that ended it (0 for a controller
    // that never showed up, see the message sent with it).
    void updateFinished(bool success, uint32_t errorCode);
    // While the bootloader is spoken to, every exchange waits on the port's latency.
    void lowLatencyWanted(bool on);

private:
    void setState(UpdateState state);
    void setLowLatency(bool on);
    void sendReset();
    void sendSync();
    void sendGet();
    bool sendCommand(int index);
    void sendRaw(const QByteArray &bytes, BootShape shape = BootShape::Ack, int fixedLength = 0);
    // The line changes hands: the device model hears of it, the queue is emptied.
    void toBootloader(bool knownDevice);
    void bootloaderAnswered(bool knownDevice);
    void toVyx();

    void answered(RequestTicket ticket, const VYX_Protocol::VYX_MSG &msg);
    void bootAnswered(RequestTicket ticket, const BootAnswer &answer);
    void failed(RequestTicket ticket, RequestFailure reason);
    void fail(uint32_t errorCode);
    void failNow(uint32_t errorCode);
    void reportFailure();
    void endSyncing();

    void onAck();
    void onNack();
    void onAnswerData(const QByteArray &data);
    void onBootloaderFound(bool acknowledged);
    void continueIdentification();
    void startWriting();
    void sendWriteCommand();
    void sendNextAfterPage();
    void finishSuccess();
    void restartImage();
    void restartOldApplication(uint32_t imageProblem);
    bool expectsDataAnswer() const;
    void handleProbeAnswer(const BootAnswer &answer);

    RequestChannel *m_requests;
    RequestTicket m_ticket = 0;          // this update's request without its outcome
    QSet<RequestTicket> m_syncTickets;   // syncs without their outcome
    RequestTicket m_probeTicket = 0;     // the probe's sync without its outcome
    uint32_t m_answerLimitMs = BOOTLOADER_ANSWER_LIMIT_MS; // of the requests sent now
    int m_resetSends = 0;
    UpdateState m_state = UpdateIdle;
    uint32_t m_errorCode = 0;
    Device_State_e m_deviceState = DEVICE_DISCONNECTED;
    QString m_fileName;
    FirmwareImage m_image;
    int m_pagePosition = 0;
    int m_tickCounter = 0;
    int m_syncsSent = 0;          // while waiting for the bootloader
    int m_getWaitTicks = -1;      // >= 0: GET waits for a quiet line since this many ticks
    std::function<bool()> m_lineQuiet = [] { return true; };
    bool m_retried = false;
    int m_startNacks = 0;
    bool m_lowLatency = false;
    QString m_failureText;       // the words of an image error; empty: the plain message
    bool m_restartingOld = false; // the image was refused after the reset: the old application is started

    Bootloader::CommandTable m_commands;
    Bootloader::BootloaderInfo m_info;

    int m_probeTicks = 0;
    std::atomic<bool> m_running {false};
    std::atomic<bool> m_bootloaderWaiting {false};
};

#pragma once

#include "link/requestchannel.h"
#include "wire/records.h"
#include "wire/vyxprotocol.h"
#include "wire/motortotal.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <atomic>
#include <cstdint>

// The application's picture of the connected controller: its identity, its connection
// state (the single source of it for every other device object) and copies of the records
// stored in it. Whenever a device is found or starts running, the stored records are read
// in one batch and published as they arrive. Lives in the GUI thread; talks to the helpers
// in the coordinator thread through queued signals only.
class Device : public QObject
{
    Q_OBJECT

public:
    // Bits of the stored-data read requests, in the order they are requested.
    enum ReadBit : uint16_t {
        READ_PWM_IN = 0x01,
        READ_MOTION = 0x02,
        READ_MOTOR_PARAMS = 0x04,
        READ_MOTOR_USER_PARAMS = 0x08,
        READ_MOTOR_HOURS = 0x10,
        READ_ALL = 0x1F,
    };

    struct ReadRequest
    {
        uint8_t msgId;
        uint16_t mask;
    };
    static const std::array<ReadRequest, 5> READ_REQUESTS;

    // Reads go out through `requests`, which must outlive the device model; its answers
    // reach this thread by queued signals.
    explicit Device(RequestChannel *requests, QObject *parent = nullptr);
    RequestChannel *requests() const { return m_requests; }

    // Readable from any thread: the coordinator names the log file after it.
    uint32_t serialNumber() const { return m_serialNumber.load(); }

    Device_State_e state() const { return m_state; }
    uint8_t deviceAddress() const { return m_deviceAddress; }
    uint8_t commandedAddress() const { return m_commandedAddress; }
    uint32_t hwBuild() const { return m_hwBuild; }
    Device_FW_s firmware() const { return m_fw; }
    QString motorName() const { return m_motorName; }
    MOTOR_TOTAL motorParams() const { return m_motorParams; }
    SET_PWM_IN_PARAMS pwmInParams() const { return m_pwmInParams; }
    SET_MOTION_PARAMS motionParams() const { return m_motionParams; }
    uint32_t motorHours() const { return m_motorHours; }
    bool isDigitalControl() const { return m_pwmInParams.digitalControl; }
    bool isHwAddress() const { return m_motionParams.hwAddress; }

    // Read requests not yet answered and those given up, in the current batch.
    uint16_t pendingReads() const { return m_pendingMask; }
    uint16_t failedReads() const { return m_failedMask; }
    bool isReadBatchRunning() const { return m_batchRunning; }
    // Whether the record (READ_PWM_IN or READ_MOTION) holds the present device's values:
    // a page offers no edit built on the defaults instead.
    bool hasRead(ReadBit record) const { return (m_recordsRead & record) == record; }
    // Whether both halves of the motor record were read from the present device.
    bool hasReadMotor() const
    {
        return (m_motorParamsRead & (READ_MOTOR_PARAMS | READ_MOTOR_USER_PARAMS))
               == (READ_MOTOR_PARAMS | READ_MOTOR_USER_PARAMS);
    }
    // The names of the records in a failed-read mask, for the user.
    static QStringList recordNames(uint16_t mask);

public slots:
    void createDevice(uint32_t serialNumber, uint8_t fw_h, uint8_t fw_m, uint8_t fw_l, uint32_t hwBuild,
                      uint8_t devAdd);
    // actualSerNum true: keep the stored identity (the trailing arguments are not used).
    void runDevice(bool actualSerNum, uint32_t serialNumber = 0, uint8_t fw_h = 0, uint8_t fw_m = 0,
                   uint8_t fw_l = 0, uint32_t hwBuild = 0, uint8_t devAdd = NO_DEVICE_ADDRESS);
    void bootloaderRun(bool knownDevice);
    void bootloaderConnected(bool knownDevice);
    void deleteDevice();

    // Records confirmed as stored by the controller (from the parameter exchange).
    void setMotionParams(SET_MOTION_PARAMS motionParams);
    void setPwmInParams(SET_PWM_IN_PARAMS pwmInParams);

    void updateMotorHours();
    void updateMotorParams();
    // New gains from tuning, in thousandths; written to the controller at once.
    void updateControllerParams(uint32_t Kp, uint32_t Ki);
    void updateDeviceAddress(uint8_t address);
    // Reads the two settings records again (a write is checked against what was stored).
    void rereadSettings();
    // Reads both halves of the motor record again (a motor write is checked the same way).
    void rereadMotor();

signals:
    void deviceConnectionStateChanged(Device_State_e deviceState);
    // The first argument carries the device address (0 when none is shown).
    void on_connectionChanged(uint32_t serialNumber, Device_State_e deviceState, Device_FW_s fw);
    void setDeviceAddress(uint8_t address);

    // For pages in this thread: the pointers are read during the (direct) call.
    void ui_fillPwmInParams(SET_PWM_IN_PARAMS *pwmInParams, bool forced);
    void ui_fillMotionParams(SET_MOTION_PARAMS *motionParams, bool forced);
    void ui_fillMotorHours(uint32_t motorHours);
    void ui_fillMotorName(QString motorName);
    void ui_changeUserMotorParams();
    void ui_emptyParams();

    // Answered directly by the motor database, which lives in this thread too; the
    // record is read during the call.
    QString db_findMotor(MOTOR_TOTAL *motorParams, QString name);

    // The controller's gains as its 16-bit wire words (1/1024 units).
    void setControllerParams(uint32_t Kp, uint32_t Ki);
    void setMotionParamsDirectly(SET_MOTION_PARAMS motionParams);
    // Read requests given up in the last batch.
    void setError(uint32_t errorCode);
    // The batch of stored-record reads has ended (answered or given up).
    void readBatchFinished();

private:
    void storeIdentity(uint32_t serialNumber, uint8_t fw_h, uint8_t fw_m, uint8_t fw_l, uint32_t hwBuild,
                       uint8_t devAdd);
    void announce(Device_State_e state, uint32_t shownAddress, Device_FW_s fw);

    void startReadBatch(uint16_t mask);
    void extendReadBatch(uint16_t mask);
    void endReadBatch();
    void request(uint16_t mask);
    void readAnswered(uint16_t bit);
    void readMissed(uint8_t msgId);
    void askAgain(uint8_t msgId);
    void answered(RequestTicket ticket, const VYX_Protocol::VYX_MSG &msg);
    void failed(RequestTicket ticket, RequestFailure reason);
    static uint16_t maskOf(uint8_t msgId);

    void takeMotorUserParams(const VYX_Protocol::VYX_MSG &msg);
    void takeMotorParams(const VYX_Protocol::VYX_MSG &msg);
    void takeMotionParams(const VYX_Protocol::VYX_MSG &msg);
    void takePwmInParams(const VYX_Protocol::VYX_MSG &msg);
    void takeMotorHours(const VYX_Protocol::VYX_MSG &msg);

    RequestChannel *m_requests;
    std::atomic<uint32_t> m_serialNumber {0};
    uint8_t m_deviceAddress = NO_DEVICE_ADDRESS;
    uint8_t m_commandedAddress = NO_DEVICE_ADDRESS;
    uint32_t m_hwBuild = 0;
    Device_FW_s m_fw;
    Device_State_e m_state = DEVICE_DISCONNECTED;
    QString m_motorName;
    SET_PWM_IN_PARAMS m_pwmInParams;
    SET_MOTION_PARAMS m_motionParams;
    MOTOR_TOTAL m_motorParams;
    // Which halves of m_motorParams hold complete answers of the present device.
    uint16_t m_motorParamsRead = 0;
    uint32_t m_motorHours = 0;

    bool m_batchRunning = false;
    uint16_t m_pendingMask = 0;
    uint16_t m_missedMask = 0; // missed once; a second miss gives the request up
    uint16_t m_failedMask = 0;
    QHash<RequestTicket, uint8_t> m_awaitedReads; // message id of each read of this batch without its outcome
    uint16_t m_recordsRead = 0;      // settings records holding the present device's values
};

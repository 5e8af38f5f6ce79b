#pragma once

#include "app/datadirectory.h"
#include "device/settingsdocument.h"
#include "device/settingssnapshots.h"
#include "link/portinfo.h"
#include "wire/motortotal.h"
#include "wire/records.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class AppBase;
class QTimer;
class LineRecorder;
class PortProvider;
class SettingsRestore;
struct SettingsRecords;

// What one production run does to every controller; read-only, shared by all the ports.
struct ProductionOrder
{
    explicit ProductionOrder(const DataDirectory &directory) : dataDirectory(directory) {}

    // How long a port may stay without a controller before it counts as failed.
    static constexpr int DEFAULT_FIND_TIMEOUT_MS = 20000;

    QString firmwareFile;         // empty: no update
    bool updateWithoutBackup = false; // the update goes on when the settings can be kept nowhere
    bool hasSettings = false;     // a settings file to write
    QVector<SettingsValue> settings;
    QString motorName;            // empty: no motor
    bool hasRestore = false;      // a snapshot to write back instead of a settings file
    SettingsSnapshot restore;     // its records as kept (an empty one is left alone)
    MOTOR_TOTAL motor;            // read once from the motor database before the run
    DataDirectory dataDirectory;
    int findTimeoutMs = DEFAULT_FIND_TIMEOUT_MS;
    LineRecorder *lineRecorder = nullptr; // --capture: the port's line is recorded
    uint8_t captureLine = 0;              // as this line (the port's place in the run)
};

// The line of the summary table for one port.
struct PortOutcome
{
    QString port;
    QString serialNumber;         // empty: not known (a controller found in its bootloader)
    QString firmwareBefore;
    QString firmwareAfter;
    bool success = false;
    QString result;               // what happened, for the user
    QString advice;               // what to do about a failure
    qint64 milliseconds = 0;
};
Q_DECLARE_METATYPE(PortOutcome)

// The production steps for the controller on one port: find it, write the firmware, write
// the settings and the motor, each write confirmed by the controller, and read the settings
// back. Owns a coordinator of its own, made in the thread the job runs in; nothing is
// shared with the jobs of the other ports but the order.
//
// Nothing is written before the line has heard every port: a job that has found its
// controller says so (identified) and waits until it is told to go on (proceed) or to
// stand down (standDown, when one controller answers on two ports of the run).
class ProductionJob : public QObject
{
    Q_OBJECT

public:
    // How long a controller may stay away after its update, or its answers after a settings
    // write, before the port counts as failed.
    static constexpr int RETURN_TIMEOUT_MS = 20000;
    // A write that is neither confirmed nor refused within this time has failed.
    static constexpr int WRITE_TIMEOUT_MS = 15000;

    ProductionJob(const PortInfo &port, const ProductionOrder &order);
    ~ProductionJob() override;

public slots:
    // Call in the job's thread (a queued call once the thread runs).
    void start();
    // A terminating signal: the job ends now, writing nothing more, its port "interrupted".
    void interrupt();
    // After identified: every port of the run has been heard; the job goes on writing.
    void proceed();
    // After identified: the run is refused as a whole; the job ends without writing.
    void standDown(const QString &result, const QString &advice);

signals:
    void progress(QString port, QString text);
    // The controller was found; `serial` is empty for one waiting in its bootloader. Once
    // per job, before anything is written; or never, when the job finishes first.
    void identified(QString port, QString serial);
    void finished(PortOutcome outcome);

private:
    enum class Step { Find, Identified, Flash, Return, Settings, Restore, Verify, Motor, Done };

    void tick();
    void startStep(Step step);
    void startFlash();
    void startSettings();
    void startRestore();
    void restoreFinished(bool ok, const QString &text);
    void startMotor();
    void continueAfter(Step done);
    void checkFind();
    void identify();
    void continueFound();
    void checkFlash();
    void checkReturn();
    void checkSettings();
    void checkVerify();
    void succeed();
    void fail(const QString &result, const QString &advice);
    void finish();
    bool deviceReady() const;
    bool stepTimedOut(int limitMs) const;
    QString firmwareText() const;

    PortInfo m_port;
    QString m_portName;
    ProductionOrder m_order;
    // Keeps the controller's records before a write; says where they went.
    void keepSnapshot(SettingsSnapshot::Reason reason);
    // What to do when the settings step failed: the command that wrote them, again.
    QString settingsRerun() const;
    void reportChanges(const SettingsRecords &records);
    bool m_identified = false;
    bool m_foundInBootloader = false;
    QStringList m_notWritten; // settings values limited or skipped on this controller
    std::unique_ptr<PortProvider> m_ports;
    std::unique_ptr<AppBase> m_app;
    std::unique_ptr<SettingsRestore> m_restore; // --restore-backup: writes the backup back
    QString m_restoreResult;                     // what the summary says of a good restore
    QTimer *m_timer = nullptr;
    Step m_step = Step::Find;
    QElapsedTimer m_total;
    QElapsedTimer m_stepClock;
    PortOutcome m_outcome;
    int m_lastPercent = -1;
    QString m_lastState;
    QString m_updateMessage;
    bool m_flashEnded = false;
    bool m_flashSucceeded = false;
    uint32_t m_flashError = 0;
    bool m_portLost = false;
    bool m_portOpened = false;   // at least once: a controller that never answers is the cause
    QString m_portProblem;       // why the port could not be opened, the last reason given
    bool m_flashRetried = false;
    bool m_pwmInConfirmed = false;
    bool m_motionConfirmed = false;
    SET_PWM_IN_PARAMS m_pwmInWritten;
    SET_MOTION_PARAMS m_motionWritten;
};

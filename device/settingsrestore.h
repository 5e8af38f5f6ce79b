#pragma once

#include "device/settingssnapshots.h"
#include "wire/records.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class Device;
class IdHelper;
class ParamsHelper;

// Writes a backup back into the controller it was taken from, in the window and on the
// command line alike. The backup is first checked as a settings file is (every record its
// length, every field in range); only the records the controller does not already hold are
// written: the settings through the parameter exchange (which sends while the settings work
// runs), the motor as the motor page writes one (both halves through the identification
// sequencer). Each write is confirmed by the controller, then every record of the backup is
// read back and compared byte for byte. Lives in the thread of the device model; the
// exchange and the sequencer are called through their own-thread posting.
class SettingsRestore : public QObject
{
    Q_OBJECT

public:
    // A write neither confirmed nor refused within this time, or a read-back that does not
    // come, has failed.
    static constexpr int TIMEOUT_MS = 20000;

    enum class Start {
        Refused,      // nothing was written; the text says why
        AlreadyHeld,  // the controller holds every record of the backup; nothing was written
        Started,      // finished() tells the outcome
    };

    SettingsRestore(Device *device, ParamsHelper *params, IdHelper *idHelper, QObject *parent = nullptr);

    // Why the backup cannot be written into the connected controller (none connected, one
    // running, another controller, a record out of range or of the wrong length, a record
    // of the controller not read); empty when it can.
    QString refusal(const SettingsSnapshot &backup) const;
    // The records of the backup that differ from those the controller holds, by name.
    QStringList recordsToWrite(const SettingsSnapshot &backup) const;

    // Checks the backup and starts the writes; `text` gets the reason of a refusal or says
    // that nothing needed writing.
    Start start(const SettingsSnapshot &backup, QString *text);
    bool isRunning() const { return m_step != Step::Idle; }

    // After a restore: the records written and read back, those the controller already
    // held, by name.
    QStringList written() const { return m_written; }
    QStringList held() const { return m_held; }

    static QString pwmInName();
    static QString motionName();
    static QString motorName();

signals:
    // Right before the first write: the controller's records are still those it held.
    void aboutToWrite();
    // The one outcome of a started restore, in the user's words.
    void finished(bool ok, QString text);

private:
    enum class Step { Idle, Writing, ReadingBack };

    struct Records
    {
        bool pwmIn = false;
        bool motion = false;
        bool motor = false;
    };
    Records differing(const SettingsSnapshot &backup) const;
    static QStringList names(const Records &records);

    void confirmed(bool pwmIn);
    void motorAnswered(bool accepted, bool answered);
    void refused(uint8_t msgId);
    void confirmWrite();
    void readBack();
    void finish(bool ok, const QString &text);

    Device *m_device;
    ParamsHelper *m_params;
    IdHelper *m_idHelper;
    QTimer m_timeout;
    Step m_step = Step::Idle;
    SettingsSnapshot m_backup;
    Records m_write;
    Records m_confirmed;
    QStringList m_written;
    QStringList m_held;
};

#pragma once

#include "device/settingssnapshots.h"
#include "wire/records.h"

#include <QObject>
#include <QString>
#include <QTimer>

class Device;
class ParamsHelper;

// Writes the settings records of a snapshot back into the controller it was taken from, as
// the production line writes a settings file: each record through the parameter exchange
// (which sends while the settings page is shown), each confirmed as stored by the
// controller, then both read back and compared byte for byte. Lives in the thread of the
// device model (the GUI thread); the exchange is called through its own-thread posting.
class SettingsRestore : public QObject
{
    Q_OBJECT

public:
    // A write neither confirmed nor refused within this time, or a read-back that does not
    // come, has failed.
    static constexpr int TIMEOUT_MS = 20000;

    SettingsRestore(Device *device, ParamsHelper *params, QObject *parent = nullptr);

    // Starts the writes. False, with the reason, when the snapshot cannot be written into the
    // connected controller (none connected, another controller, no records, one running).
    bool start(const SettingsSnapshot &snapshot, QString *why);
    bool isRunning() const { return m_step != Step::Idle; }

signals:
    // The one outcome of a started restore, in the user's words.
    void finished(bool ok, QString text);

private:
    enum class Step { Idle, Writing, ReadingBack };

    void confirmed(bool pwmIn);
    void refused(uint8_t msgId);
    void readBack();
    void finish(bool ok, const QString &text);

    Device *m_device;
    ParamsHelper *m_params;
    QTimer m_timeout;
    Step m_step = Step::Idle;
    SettingsSnapshot m_snapshot;
    bool m_writePwmIn = false;
    bool m_writeMotion = false;
    bool m_pwmInConfirmed = false;
    bool m_motionConfirmed = false;
};

#include "cli/flashcommand.h"

#include "app/appbase.h"
#include "app/devicestatusview.h"
#include "cli/jsonlines.h"
#include "cli/namedportsprovider.h"
#include "device/settingskeeper.h"
#include "app/terminationsignals.h"
#include "firmware/updatefwhelper.h"
#include "link/comhelper.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTextStream>
#include <QTimer>

FlashCommand::FlashCommand(PortProvider *ports, const DataDirectory &dataDirectory, const QStringList &portNames,
                           QTextStream &out, QTextStream &err)
    : m_ports(ports), m_dataDirectory(dataDirectory), m_portNames(portNames), m_out(out), m_err(err)
{
}

void FlashCommand::say(const QString &text)
{
    if (m_json)
        JsonLines::write(m_out, JsonLines::progress(m_outcome.port, text));
    else
        m_out << text << Qt::endl;
}

int FlashCommand::run(const QString &fileName)
{
    m_outcome = PortOutcome();
    m_touched = false;
    QElapsedTimer clock;
    clock.start();
    // An image that no bootloader could take is refused before any port is opened; what
    // depends on the bootloader's version is checked once it has told it, before any page.
    const QFileInfo file(fileName);
    const uint32_t imageProblem = UpdateFwHelper::checkImageFile(fileName);
    if (imageProblem != 0) {
        if (m_json)
            JsonLines::write(m_out, JsonLines::error(UpdateFwHelper::imageErrorMessage(imageProblem, fileName)));
        m_err << UpdateFwHelper::imageErrorMessage(imageProblem, fileName) << Qt::endl;
        return 1;
    }

    // A named port is the only one worked on, even where the port manager would take
    // another one without asking.
    NamedPortsProvider named(m_ports, m_portNames);
    AppBase app(m_portNames.isEmpty() ? m_ports : &named, m_dataDirectory);
    ComHelper *com = app.comHelper();
    UpdateFwHelper *updater = app.updateFwHelper();
    QEventLoop loop;
    int exitCode = 1;
    bool started = false;
    QString failure;

    const auto finish = [&](int code, const QString &message) {
        exitCode = code;
        failure = message;
        loop.quit();
    };
    const auto start = [&] {
        if (started)
            return;
        started = true;
        // The controller as found, for the record of the run.
        m_touched = true;
        const Device_State_e state = app.deviceState();
        if (state == DEVICE_CONNECTED || state == DEVICE_RUNNING) {
            m_outcome.serialNumber = QString::number(app.device()->serialNumber());
            m_outcome.firmwareBefore = DeviceStatusView::firmwareVersion(app.device()->firmware());
        } else {
            m_outcome.firmwareBefore = tr("bootloader");
        }
        app.startFirmwareUpdate(file.absoluteFilePath(), m_withoutBackup ? AppBase::UpdateBackup::NotRequired
                                                                         : AppBase::UpdateBackup::Required);
    };

    // Why no controller was found, told at the end as the production line tells it.
    bool portOpened = false;
    bool portSeen = false;
    QString portProblem;
    QObject::connect(com, &ComHelper::portProblem, &loop, [&](const QString &problem) { portProblem = problem; });
    QObject::connect(com, &ComHelper::portConnectionStateChange, &loop,
                     [&](QString portName, bool, bool isConnecting, bool isConnected) {
                         if ((isConnecting || isConnected) && !portName.isEmpty())
                             m_outcome.port = portName; // also a port the port manager took by itself
                     });
    QObject::connect(com, &ComHelper::needPortSelectAndInform, &loop, [&](QList<PortInfo> ports, bool) {
        portSeen = portSeen || !ports.isEmpty();
        QStringList names;
        for (const PortInfo &port : ports)
            names << port.portName;
        for (const QString &wanted : qAsConst(m_portNames)) {
            if (names.contains(wanted)) {
                m_outcome.port = wanted;
                com->selectPort(wanted);
                return;
            }
        }
        if (names.size() == 1 && m_portNames.isEmpty()) {
            m_outcome.port = names.first();
            com->selectPort(names.first());
        } else if (names.size() > 1 && m_portNames.isEmpty()) {
            finish(1, tr("Several ports are present (%1): name one with --port.").arg(names.join(QStringLiteral(", "))));
        } else {
            com->portSelectionCanceled(); // asked again while the port list changes
        }
    });
    // The running controller's settings are kept before the update: said where.
    QObject::connect(app.settingsKeeper(), &SettingsKeeper::snapshotKept, &loop, [&](qint64 id, QString text) {
        if (id > 0)
            say(tr("The controller's settings were kept as backup %1 (kordoman --restore-backup %1 --port PORT "
                   "writes them back).")
                    .arg(id));
        else
            say(text);
    });
    // Settings that can be kept nowhere: without --without-backup nothing is sent.
    QObject::connect(&app, &AppBase::updateBackupFailed, &loop, [&](QString, QString text, bool stopped) {
        if (!stopped) {
            say(text);
            return;
        }
        m_touched = false;
        finish(1, tr("%1 The firmware was not updated; nothing was sent to the controller. Make room for the backup, "
                     "or give --without-backup to update without one.")
                      .arg(text));
    });
    QObject::connect(com, &ComHelper::comPortOpened, &loop, [&] {
        portOpened = portSeen = true;
        say(tr("Port opened; looking for the controller."));
    });

    // The controller found: running firmware (once its records are read, so that the
    // reset request does not queue behind them), or one waiting in its bootloader.
    QTimer watch;
    watch.setInterval(AppBase::TICK_MS);
    // After the update: the new firmware, once it answers, is the run's firmware after.
    bool returning = false;
    QElapsedTimer returnClock;
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        const Device_State_e state = app.deviceState();
        const bool ready = (state == DEVICE_CONNECTED && !app.device()->isReadBatchRunning()) || state == DEVICE_RUNNING;
        if (returning && ready) {
            m_outcome.firmwareAfter = DeviceStatusView::firmwareVersion(app.device()->firmware());
            if (m_outcome.serialNumber.isEmpty())
                m_outcome.serialNumber = QString::number(app.device()->serialNumber());
            say(tr("Controller %1 runs firmware %2").arg(m_outcome.serialNumber, m_outcome.firmwareAfter));
            finish(0, QString());
        } else if (returning && returnClock.hasExpired(RETURN_TIMEOUT_MS)) {
            finish(1, tr("The controller did not start after the update."));
        } else if (ready) {
            start();
        }
    });
    // Found by the probe: the window's advice to choose the firmware is not printed here.
    bool bootloaderEntered = false;
    QObject::connect(updater, &UpdateFwHelper::bootloaderFound, &loop, [&] {
        bootloaderEntered = true;
        say(tr("A controller waits in its bootloader; its firmware is written."));
        start();
    });
    QObject::connect(updater, &UpdateFwHelper::setBootloaderProtocol, &loop, [&](bool knownDevice) {
        if (knownDevice)
            bootloaderEntered = true; // the reset was accepted
    });
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, &loop, [&] {
        if (started)
            return;
        if (portOpened)
            finish(1, tr("No controller was found."));
        else if (!portProblem.isEmpty())
            finish(1, tr("The port could not be opened: %1").arg(portProblem));
        else if (!m_portNames.isEmpty() || portSeen)
            finish(1, tr("The port was not found."));
        else
            finish(1, tr("No serial port was found."));
    });

    QString lastState;
    int lastPercent = -1;
    QObject::connect(updater, &UpdateFwHelper::on_updateFwState, &loop, [&](QString state) {
        if (!started)
            return; // the probe's words are for the window
        if (!state.isEmpty() && state != lastState)
            say(state);
        lastState = state;
    });
    QObject::connect(updater, &UpdateFwHelper::updateProgressBar, &loop,
                     [&](int value, int, int max, QString format) {
                         if (max != 100 || !format.isNull())
                             return; // the countdown and the busy bar: the state line says enough
                         const int percent = value / 10 * 10;
                         if (percent != lastPercent)
                             say(tr("Written: %1%").arg(percent));
                         lastPercent = percent;
                     });
    QString lastMessage;
    QObject::connect(updater, &UpdateFwHelper::sendTextForMsgBox, &loop, [&](QString msg) { lastMessage = msg; });
    QObject::connect(updater, &UpdateFwHelper::updateFinished, &loop, [&](bool success, uint32_t errorCode) {
        // The updater hears of a lost port first: the port is already closed then.
        const bool portLost = !com->isConnected();
        if (success) {
            say(tr("Firmware written; waiting for the controller to start it"));
            returning = true;
            returnClock.start();
        } else if (portLost && bootloaderEntered) {
            finish(1, tr("The port was lost during the update (Error 0x%1): plug the controller in again and re-run "
                         "--flash on this port; it waits in its bootloader.")
                          .arg(QString::number(errorCode, 16)));
        } else if (portLost) {
            finish(1, tr("The port was lost (Error 0x%1): plug the controller in again and re-run --flash on this "
                         "port.")
                          .arg(QString::number(errorCode, 16)));
        } else {
            finish(1, lastMessage);
        }
    });

    // A terminating signal ends the update where it is: no further page is written.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &loop, [&] {
        finish(1, started && !returning
                      ? tr("interrupted: re-run --flash on this port: the controller waits in its bootloader")
                      : tr("interrupted"));
    });

    // What it waits for is said at once: the search may take its whole time limit.
    if (m_portNames.size() == 1)
        m_outcome.port = m_portNames.first();
    if (m_portNames.isEmpty())
        say(tr("Looking for a controller on the serial ports (up to %1 s).").arg(FIND_TIMEOUT_MS / 1000));
    else
        say(tr("Looking for the controller on %1 (up to %2 s).")
                .arg(m_portNames.join(QStringLiteral(", ")))
                .arg(FIND_TIMEOUT_MS / 1000));
    app.startClock();
    com->startPortSelection();
    watch.start();
    giveUp.start(FIND_TIMEOUT_MS);
    loop.exec();
    app.stopTimer();

    m_outcome.success = exitCode == 0;
    m_outcome.result = exitCode == 0 ? tr("Firmware update successful") : failure;
    m_outcome.milliseconds = clock.elapsed();
    if (exitCode == 0) {
        say(tr("Firmware update successful"));
    } else {
        if (m_json)
            JsonLines::write(m_out, JsonLines::error(failure));
        m_err << failure << Qt::endl;
    }
    return exitCode;
}

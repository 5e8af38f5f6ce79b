#pragma once

#include "app/mainwindow.h"
#include "capture/capturingportprovider.h"
#include "capture/linerecorder.h"
#include "device/device.h"
#include "device/paramshelper.h"
#include "tests/common/scripteddialogs.h"
#include "app/demoportprovider.h"
#include "sim/simulatedcontroller.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>

#include <functional>
#include <memory>

// The main window in demo mode, with the coordinator in the test's thread: the test moves
// time by ticking the coordinator and the simulated controller together.
struct WindowRig
{
    QTemporaryDir dataDir;
    DemoPortProvider ports;
    LineRecorder lineRecorder;  // as in the program, every port is tapped for the line recorder
    CapturingPortProvider tappedPorts {&ports, &lineRecorder};
    ScriptedDialogs dialogs;
    std::unique_ptr<MainWindow> window;

    // dataPath: the data directory of an earlier window (a second start); its own otherwise.
    explicit WindowRig(const SimulatorConfig &config = SimulatorConfig(), const QString &dataPath = QString())
        : ports(QStringList(), config)
    {
        ports.setRealTime(false);
        window = std::make_unique<MainWindow>(
            &tappedPorts, DataDirectory::resolve(dataPath.isEmpty() ? dataDir.path() : dataPath, QString(), QString()),
            &dialogs, MainWindow::Threading::CallerThread);
        window->setLineRecorder(&lineRecorder);
    }

    SimulatedController &controller() { return *ports.controller(); }
    AppBase &app() { return window->appBase(); }
    Device *device() { return window->appBase().device(); }
    ParamsHelper *params() { return window->appBase().paramsHelper(); }

    template <typename T>
    T *find(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    QString text(const char *buttonName) const { return find<QAbstractButton>(buttonName)->text(); }

    // One 50 ms step of the controller and of the coordinator, then the queued calls.
    void tick(int count = 1)
    {
        for (int i = 0; i < count; ++i) {
            controller().advance(50);
            app().handleTimeout();
            QCoreApplication::processEvents();
        }
    }

    // Ticks until the condition holds. The port readiness check runs in a thread of its
    // own, so a generous wall-clock bound replaces a tick count.
    bool tickUntil(const std::function<bool()> &condition, int timeoutMs = 20000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!condition()) {
            if (deadline.hasExpired())
                return false;
            tick();
            QThread::yieldCurrentThread();
        }
        return true;
    }

    // Shows the window, which starts the port selection, and waits for the device's
    // records to be read.
    bool connectDevice()
    {
        window->show();
        return tickUntil([this] {
            return text("pushButtonStateConnection") == QLatin1String("Connected") && !device()->isReadBatchRunning();
        });
    }

    // Until no edit waits and no write is unconfirmed (edits reach the exchange queued).
    bool settle()
    {
        QCoreApplication::processEvents();
        return tickUntil([this] { return !params()->isSending(); });
    }

    // Clicks a navigation button; the window asks the coordinator with a queued call and
    // changes the page on its answer, both run here.
    void showPage(const char *buttonName)
    {
        find<QAbstractButton>(buttonName)->click();
        QCoreApplication::processEvents();
    }

    // Puts the device model into a state without a controller: first connected, as a
    // device always is, then on to the state asked for.
    void setDeviceState(Device_State_e state)
    {
        device()->createDevice(1, 1, 2, 3, 2, 1);
        switch (state) {
        case DEVICE_DISCONNECTED:
            device()->deleteDevice();
            break;
        case DEVICE_RUNNING:
            device()->runDevice(true);
            break;
        case DEVICE_BOOT_STARTED:
            device()->bootloaderRun(true);
            break;
        case DEVICE_BOOT_CONNECTED:
            device()->bootloaderConnected(true);
            break;
        case DEVICE_CONNECTED:
            break;
        }
    }
};

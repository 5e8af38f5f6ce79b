#pragma once

// The coordinator with its real port manager, polling helper, device model and firmware
// updater, ticked by hand, against the in-process simulated controller.

#include "app/appbase.h"
#include "firmware/updatefwhelper.h"
#include "link/comhelper.h"
#include "sim/simulatedcontroller.h"
#include "tests/common/simulatorprovider.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

class FlashRig
{
public:
    // Paced: bytes take their real time on the line, so every exchange takes a tick and a
    // test can stop the controller at any step.
    explicit FlashRig(SimulatorConfig config, bool paced = true)
        : controller(withPacing(config, paced)),
          provider(&controller),
          app(&provider, DataDirectory::resolve(dataDir.path(), QString(), QString())),
          fw(app.updateFwHelper()),
          messages(&app, &AppBase::sendTextForInfo),
          progress(fw, &UpdateFwHelper::updateProgressBar),
          sent(fw->requests(), &RequestChannel::bytesSent),
          finished(fw, &UpdateFwHelper::updateFinished)
    {
    }

    QString imagePath(const QString &name = QStringLiteral("image.bin")) const { return dataDir.filePath(name); }

    // What arrived during the 50 ms is read before the tick, as the event loop does.
    void tick()
    {
        controller.advance(AppBase::TICK_MS);
        for (int i = 0; i < 4; ++i) // the simulated port delivers by queued calls
            QCoreApplication::processEvents();
        app.handleTimeout();
    }

    // Ticks until the condition holds; false when it did not within maxTicks.
    bool tickUntil(const std::function<bool()> &condition, int maxTicks)
    {
        for (int i = 0; i < maxTicks; ++i) {
            if (condition())
                return true;
            tick();
        }
        return condition();
    }

    bool openPort()
    {
        app.comHelper()->startPortSelection();
        for (int i = 0; i < 2000 && app.activity() == AppBase::ActivityNoPort; ++i) {
            app.handleTimeout();
            QCoreApplication::processEvents();
            QTest::qWait(1); // the readiness check runs in its own thread
        }
        return app.activity() != AppBase::ActivityNoPort;
    }

    // Port open and the controller found by the polling helper, firmware page shown.
    bool connect(Device_State_e expected = DEVICE_CONNECTED)
    {
        if (!openPort() || !tickUntil([&] { return app.deviceState() == expected; }, 60))
            return false;
        app.setActivePage(4);
        return true;
    }

    // The last message shown to the user.
    QString lastMessage() const { return messages.isEmpty() ? QString() : messages.last().at(0).toString(); }

    bool shown(const QString &text) const
    {
        for (const auto &args : messages) {
            if (args.at(0).toString() == text)
                return true;
        }
        return false;
    }

    // The progress values of the writing phase (maximum 100).
    QList<int> writeProgress() const
    {
        QList<int> values;
        for (const auto &args : progress) {
            if (args.at(2).toInt() == 100)
                values << args.at(0).toInt();
        }
        return values;
    }

    // The raw requests sent that are page addresses (5 bytes), decoded.
    QList<uint32_t> pageAddresses() const
    {
        QList<uint32_t> addresses;
        for (const auto &args : sent) {
            const QByteArray bytes = args.at(0).toByteArray();
            if (bytes.size() == 5) {
                uint32_t a = 0;
                for (int i = 0; i < 4; ++i)
                    a = (a << 8) | uint8_t(bytes[i]);
                addresses << a;
            }
        }
        return addresses;
    }

    int sentRequests(const QByteArray &bytes) const
    {
        int count = 0;
        for (const auto &args : sent) {
            if (args.at(0).toByteArray() == bytes)
                ++count;
        }
        return count;
    }
    bool sentRequest(const QByteArray &bytes) const { return sentRequests(bytes) > 0; }

    QTemporaryDir dataDir;
    SimulatedController controller;
    SimulatorProvider provider;
    AppBase app;
    UpdateFwHelper *fw;
    QSignalSpy messages;
    QSignalSpy progress;
    QSignalSpy sent;
    QSignalSpy finished;

private:
    static SimulatorConfig withPacing(SimulatorConfig config, bool paced)
    {
        config.faults.paceOutput = paced;
        return config;
    }
};

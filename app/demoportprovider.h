#pragma once

#include "link/serialportprovider.h"
#include "sim/simconfig.h"

#include <atomic>
#include <memory>

class SimulatedController;

// The machine's ports plus the built-in simulated controller, listed as the maker's
// adapter so that the program picks it without asking (demo mode). The controller lives
// as long as the provider: a port opened again talks to the same controller.
class DemoPortProvider : public PortProvider
{
public:
    static const QString DEMO_PORT_NAME;

    // The controller of the program's demo mode: a whole identification takes about 41 s
    // instead of 103 s.
    static constexpr double DEMO_IDENT_TIME_SCALE = 0.4;
    static constexpr int DEMO_PAGE_WRITE_US = 25000; // a 48 KiB image takes about 5 s
    // Long enough for the program to notice the controller gone (a few lost answers).
    static constexpr int POWER_OFF_MS = 1500;
    static SimulatorConfig demoConfig();

    explicit DemoPortProvider(const QStringList &extraPortSpecs = {}, const SimulatorConfig &config = {});
    ~DemoPortProvider() override;

    // Off: the controller's clock stands still unless advanced by hand (tests).
    void setRealTime(bool on) { m_realTime = on; }
    // The controller behind the demo port; made in the thread of the first port opened.
    SimulatedController *controller();
    // From any thread: the controller is switched off and, POWER_OFF_MS later, on again,
    // in its own thread; it comes back in communication mode. Nothing before the first
    // port was opened.
    void switchControllerOffAndOn();

    QList<PortInfo> availablePorts() const override;
    QIODevice *createPort(const QString &portName, QObject *parent) override;
    bool checkReadiness(const QString &portName) override;

private:
    SerialPortProvider m_machinePorts;
    SimulatorConfig m_config;
    std::unique_ptr<SimulatedController> m_controller;
    std::atomic<SimulatedController *> m_madeController {nullptr}; // for other threads
    bool m_realTime = true;
};

#include "demoportprovider.h"

#include "sim/simulatedcontroller.h"
#include "sim/simulatedport.h"

const QString DemoPortProvider::DEMO_PORT_NAME = QStringLiteral("Kordo simulator");

SimulatorConfig DemoPortProvider::demoConfig()
{
    SimulatorConfig config;
    config.ident.timeScale = DEMO_IDENT_TIME_SCALE;
    // A firmware update takes a visible time, as on a real controller, and ends with a
    // new version.
    config.bootloader.pageWriteUs = DEMO_PAGE_WRITE_US;
    config.bootloader.newVersionAfterUpdate = true;
    return config;
}

DemoPortProvider::DemoPortProvider(const QStringList &extraPortSpecs, const SimulatorConfig &config)
    : m_machinePorts(extraPortSpecs), m_config(config)
{
}

DemoPortProvider::~DemoPortProvider() = default;

SimulatedController *DemoPortProvider::controller()
{
    if (!m_controller) {
        m_controller = std::make_unique<SimulatedController>(m_config);
        m_madeController = m_controller.get();
    }
    return m_controller.get();
}

void DemoPortProvider::switchControllerOffAndOn()
{
    SimulatedController *controller = m_madeController.load();
    if (!controller)
        return;
    QMetaObject::invokeMethod(
        controller, [controller] { controller->powerCycle(POWER_OFF_MS); }, Qt::QueuedConnection);
}

QList<PortInfo> DemoPortProvider::availablePorts() const
{
    QList<PortInfo> ports = m_machinePorts.availablePorts();
    ports.append({DEMO_PORT_NAME, QStringLiteral("built-in"), QStringLiteral("AE000DEMO"),
                  QStringLiteral("Simulated controller")});
    return ports;
}

QIODevice *DemoPortProvider::createPort(const QString &portName, QObject *parent)
{
    if (portName != DEMO_PORT_NAME)
        return m_machinePorts.createPort(portName, parent);
    auto *port = new SimulatedPort(controller(), parent);
    port->setRealTime(m_realTime);
    return port;
}

bool DemoPortProvider::checkReadiness(const QString &portName)
{
    return portName == DEMO_PORT_NAME || m_machinePorts.checkReadiness(portName);
}

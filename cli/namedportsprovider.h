#pragma once

#include "link/portprovider.h"

#include <QStringList>

// Another provider's ports, narrowed to those the user named: a headless command given
// --port works on that port only, never on another one the port manager would take by itself
// (the one adapter of the maker present, say). Everything else is passed on unchanged.
class NamedPortsProvider : public PortProvider
{
public:
    NamedPortsProvider(PortProvider *ports, const QStringList &names) : m_ports(ports), m_names(names) {}

    QList<PortInfo> availablePorts() const override
    {
        QList<PortInfo> named;
        for (const PortInfo &port : m_ports->availablePorts()) {
            if (m_names.contains(port.portName))
                named << port;
        }
        return named;
    }
    QIODevice *createPort(const QString &portName, QObject *parent) override
    {
        return m_ports->createPort(portName, parent);
    }
    bool checkReadiness(const QString &portName) override { return m_ports->checkReadiness(portName); }
    QString readinessProblem(const QString &portName) override { return m_ports->readinessProblem(portName); }
    QString openProblem(const QIODevice &port, const QString &portName) override
    {
        return m_ports->openProblem(port, portName);
    }
    bool setLowLatency(QIODevice *port, bool on) override { return m_ports->setLowLatency(port, on); }

private:
    PortProvider *m_ports;
    QStringList m_names;
};

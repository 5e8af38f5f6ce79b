#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

// One serial port as the port manager sees it. Replaces QSerialPortInfo above the port seam,
// so ports that are not serial devices (the simulated controller, pseudo-terminals) fit too.
struct PortInfo
{
    QString portName;       // the name the port factory opens
    QString systemLocation; // device path
    QString serialNumber;   // USB serial number; the maker's adapter starts with "AE"
    QString description;

    // The maker's adapter is recognised by its serial number, case-sensitively.
    bool isAdapter() const { return serialNumber.startsWith(QLatin1String("AE")); }
};

Q_DECLARE_METATYPE(PortInfo)
Q_DECLARE_METATYPE(QList<PortInfo>)

#pragma once

#include "wire/records.h"

#include <QCoreApplication>
#include <QString>

#include <cstdint>

// What the window's status buttons show for a device state. A plain mapping, so every
// state's texts can be checked without a window.
struct DeviceStatusView
{
    Q_DECLARE_TR_FUNCTIONS(DeviceStatusView)

public:
    enum class ConnectionIcon { NoPort, Disconnected, Connected, Running, Flashing };
    enum class DeviceIcon { NoDevice, Device, NonInitDevice };

    bool firmwareVisible = false;
    QString firmwareText;
    QString deviceText;
    QString connectionText;
    ConnectionIcon connectionIcon = ConnectionIcon::Disconnected;
    DeviceIcon deviceIcon = DeviceIcon::NoDevice;
    bool settingsFileEnabled = false; // settings import and export buttons

    // `knownDevice`: the device model announced an address with the state (boot states
    // only tell this way whether the device was identified before).
    static DeviceStatusView forState(Device_State_e state, bool knownDevice, uint32_t serialNumber,
                                     const Device_FW_s &fw);
    static QString firmwareVersion(const Device_FW_s &fw);
};

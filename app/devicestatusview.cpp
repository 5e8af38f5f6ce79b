#include "app/devicestatusview.h"

QString DeviceStatusView::firmwareVersion(const Device_FW_s &fw)
{
    return QStringLiteral("%1.%2.%3").arg(fw.fw_h).arg(fw.fw_m).arg(fw.fw_l);
}

DeviceStatusView DeviceStatusView::forState(Device_State_e state, bool knownDevice, uint32_t serialNumber,
                                            const Device_FW_s &fw)
{
    DeviceStatusView view;
    const QString deviceName = tr("Device %1").arg(serialNumber);
    const bool known = knownDevice;
    view.deviceText = tr("No Device");
    view.connectionText = tr("Disconnected");

    switch (state) {
    case DEVICE_CONNECTED:
        view.firmwareVisible = true;
        view.firmwareText = firmwareVersion(fw);
        view.deviceText = deviceName;
        view.connectionText = tr("Connected");
        view.connectionIcon = ConnectionIcon::Connected;
        view.deviceIcon = DeviceIcon::Device;
        view.settingsFileEnabled = true;
        break;
    case DEVICE_RUNNING:
        view.firmwareVisible = true;
        view.firmwareText = firmwareVersion(fw);
        view.deviceText = deviceName;
        view.connectionText = tr("Running");
        view.connectionIcon = ConnectionIcon::Running;
        view.deviceIcon = DeviceIcon::Device;
        break;
    case DEVICE_BOOT_STARTED:
        if (known) {
            view.firmwareVisible = true;
            view.firmwareText = tr("Boot");
            view.deviceText = deviceName;
            view.connectionText = tr("Flashing");
            view.connectionIcon = ConnectionIcon::Flashing;
            view.deviceIcon = DeviceIcon::Device;
        }
        break;
    case DEVICE_BOOT_CONNECTED:
        view.firmwareVisible = true;
        view.firmwareText = tr("Boot");
        view.deviceText = known ? deviceName : tr("Non-init device");
        view.connectionText = tr("Flashing");
        view.connectionIcon = ConnectionIcon::Flashing;
        view.deviceIcon = known ? DeviceIcon::Device : DeviceIcon::NonInitDevice;
        break;
    case DEVICE_DISCONNECTED:
    default:
        break;
    }
    return view;
}

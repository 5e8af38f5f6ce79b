#include "app/devicestatusview.h"

#include <QtTest>

using Icon = DeviceStatusView::ConnectionIcon;
using DevIcon = DeviceStatusView::DeviceIcon;
Q_DECLARE_METATYPE(Icon)
Q_DECLARE_METATYPE(DevIcon)

// What the status buttons say for each device state.
class TestDeviceStatusView : public QObject
{
    Q_OBJECT

private slots:
    void states_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("known");
        QTest::addColumn<bool>("firmwareVisible");
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("connection");
        QTest::addColumn<Icon>("connectionIcon");
        QTest::addColumn<DevIcon>("deviceIcon");
        QTest::addColumn<bool>("fileButtons");

        QTest::newRow("disconnected") << 0 << false << false << "" << "No Device" << "Disconnected"
                                      << Icon::Disconnected << DevIcon::NoDevice << false;
        QTest::newRow("connected") << 1 << true << true << "1.2.3" << "Device 4660" << "Connected" << Icon::Connected
                                   << DevIcon::Device << true;
        QTest::newRow("connected at address 0") << 1 << false << true << "1.2.3" << "Device 4660" << "Connected"
                                                << Icon::Connected << DevIcon::Device << true;
        QTest::newRow("running") << 2 << true << true << "1.2.3" << "Device 4660" << "Running" << Icon::Running
                                 << DevIcon::Device << false;
        QTest::newRow("boot started, known") << 3 << true << true << "Boot" << "Device 4660" << "Flashing"
                                             << Icon::Flashing << DevIcon::Device << false;
        QTest::newRow("boot started, unknown") << 3 << false << false << "" << "No Device" << "Disconnected"
                                               << Icon::Disconnected << DevIcon::NoDevice << false;
        QTest::newRow("boot connected, known") << 4 << true << true << "Boot" << "Device 4660" << "Flashing"
                                               << Icon::Flashing << DevIcon::Device << false;
        QTest::newRow("boot connected, unknown") << 4 << false << true << "Boot" << "Non-init device" << "Flashing"
                                                 << Icon::Flashing << DevIcon::NonInitDevice << false;
    }
    void states()
    {
        QFETCH(int, state);
        QFETCH(bool, known);
        Device_FW_s fw;
        fw.fw_h = 1;
        fw.fw_m = 2;
        fw.fw_l = 3;
        const DeviceStatusView view = DeviceStatusView::forState(Device_State_e(state), known, 4660, fw);
        QTEST(view.firmwareVisible, "firmwareVisible");
        if (view.firmwareVisible)
            QTEST(view.firmwareText, "firmware");
        QTEST(view.deviceText, "device");
        QTEST(view.connectionText, "connection");
        QTEST(view.connectionIcon, "connectionIcon");
        QTEST(view.deviceIcon, "deviceIcon");
        QTEST(view.settingsFileEnabled, "fileButtons");
    }

    void firmwareVersionIsDecimal()
    {
        Device_FW_s fw;
        fw.fw_h = 10;
        fw.fw_m = 0;
        fw.fw_l = 255;
        QCOMPARE(DeviceStatusView::firmwareVersion(fw), QStringLiteral("10.0.255"));
    }
};

QTEST_GUILESS_MAIN(TestDeviceStatusView)
#include "tst_devicestatusview.moc"

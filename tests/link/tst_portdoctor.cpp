#include "link/portdoctor.h"
#include "link/portreport.h"
#include "tests/common/fakeportsystem.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(PortDoctor::Cause)
Q_DECLARE_METATYPE(QSerialPort::SerialPortError)

// The port doctor names the cause of a failed open and the fix, from what the system tells.
class TestPortDoctor : public QObject
{
    Q_OBJECT

private slots:
    void explainsEachCause_data()
    {
        QTest::addColumn<QString>("group");
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("accessible");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<QStringList>("holders");
        QTest::addColumn<QSerialPort::SerialPortError>("error");
        QTest::addColumn<PortDoctor::Cause>("cause");
        QTest::addColumn<QStringList>("mentions");

        using C = PortDoctor::Cause;
        const QStringList none;
        QTest::newRow("opened") << "dialout" << true << true << false << none << QSerialPort::NoError << C::None
                                << QStringList {};
        QTest::newRow("not in the group")
            << "dialout" << true << false << false << none << QSerialPort::PermissionError << C::NoPermission
            << QStringList {"/dev/ttyUSB0", "\"dialout\"", "sudo usermod -aG dialout $USER", "log out"};
        QTest::newRow("other distribution's group")
            << "uucp" << true << false << false << none << QSerialPort::PermissionError << C::NoPermission
            << QStringList {"sudo usermod -aG uucp $USER"};
        QTest::newRow("joined, same login session")
            << "dialout" << true << false << true << none << QSerialPort::PermissionError << C::NewLoginNeeded
            << QStringList {"\"dialout\"", "Log out"};
        QTest::newRow("owned by root") << "root" << true << false << false << none << QSerialPort::PermissionError
                                       << C::NoAccess << QStringList {"udev rule", "administrator"};
        QTest::newRow("held by a named program")
            << "dialout" << true << true << false << QStringList {"minicom (4242)"} << QSerialPort::PermissionError
            << C::Busy << QStringList {"in use by another program: minicom (4242)"};
        QTest::newRow("held by many")
            << "dialout" << true << true << false << QStringList {"a (1)", "b (2)", "c (3)", "d (4)"}
            << QSerialPort::PermissionError << C::Busy << QStringList {"program: a (1), b (2), c (3), ...."};
        QTest::newRow("held, holder not told")
            << "dialout" << true << true << false << none << QSerialPort::PermissionError << C::Busy
            << QStringList {"in use by another program", "modem manager"};
        QTest::newRow("unplugged") << "dialout" << false << false << false << none
                                   << QSerialPort::DeviceNotFoundError << C::Vanished
                                   << QStringList {"/dev/ttyUSB0 is gone", "Plug it in again"};
        QTest::newRow("gone while refusing") << "dialout" << false << true << false << none
                                             << QSerialPort::PermissionError << C::Vanished << QStringList {"gone"};
        QTest::newRow("held, but refusing the settings")
            << "dialout" << true << true << false << QStringList {"cat (7)"} << QSerialPort::UnsupportedOperationError
            << C::Other << QStringList {"250000 baud"};
        QTest::newRow("settings refused")
            << "dialout" << true << true << false << none << QSerialPort::UnsupportedOperationError << C::Other
            << QStringList {"cannot be opened", "250000 baud"};
    }
    void explainsEachCause()
    {
        QFETCH(QStringList, mentions);
        QFETCH(QSerialPort::SerialPortError, error);
        FakePortSystem system;
        QFETCH(QString, group);
        system.group = group;
        QFETCH(bool, present);
        system.present = present;
        QFETCH(bool, accessible);
        system.accessible = accessible;
        QFETCH(bool, listed);
        system.listedInGroup = listed;
        QFETCH(QStringList, holders);
        system.holderNames = holders;

        QTEST(PortDoctor::diagnose(QStringLiteral("ttyUSB0"), error, system), "cause");
        const QString message = PortDoctor::explain(QStringLiteral("ttyUSB0"), error, system);
        QCOMPARE(message.isEmpty(), error == QSerialPort::NoError);
        for (const QString &mention : mentions)
            QVERIFY2(message.contains(mention), qPrintable(message));
    }

    // What the port manager hands over after a failed open: a serial port is explained by
    // its cause, another device by its own error text.
    void explainsAFailedPortObject()
    {
        FakePortSystem system;
        system.path = QStringLiteral("/dev/kordo-absent");
        system.present = false;
        QSerialPort serial(system.path);
        QVERIFY(!serial.open(QIODevice::ReadWrite));
        QCOMPARE(PortDoctor::explain(&serial, system).left(25), QStringLiteral("/dev/kordo-absent is gone"));

        QFile other(QStringLiteral("/nonexistent/kordo"));
        QVERIFY(!other.open(QIODevice::ReadOnly));
        QCOMPARE(PortDoctor::explain(&other, system), other.errorString());
        QCOMPARE(PortDoctor::explain(static_cast<const QIODevice *>(nullptr), system), QString());
    }

    void portNamesAndPathsNameTheSameDevice()
    {
        QCOMPARE(PortDoctor::devicePath(QStringLiteral("ttyACM1")), QStringLiteral("/dev/ttyACM1"));
        QCOMPARE(PortDoctor::devicePath(QStringLiteral("/dev/pts/7")), QStringLiteral("/dev/pts/7"));
    }

    // The machine's answers: a file held open by a child process is found with the
    // child's name; this process itself never counts as a holder.
    void machineNamesTheProgramHoldingADevice()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("held"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        const PortSystem &machine = PortSystem::machine();
        QVERIFY(machine.exists(file));
        QVERIFY(machine.isAccessible(file));
        QVERIFY(!machine.owningGroup(file).isEmpty());
        QVERIFY(machine.holders(file).isEmpty());

        QProcess holder;
        holder.setStandardInputFile(file);
        holder.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(holder.waitForStarted(10000));
        // Bounded: until the child has replaced itself by sleep.
        const QString expected = QStringLiteral("sleep (%1)").arg(holder.processId());
        QStringList holders;
        for (int i = 0; i < 100 && holders != QStringList {expected}; ++i) {
            QTest::qWait(20);
            holders = machine.holders(file);
        }
        holder.kill();
        holder.waitForFinished(10000);
        QCOMPARE(holders, QStringList {expected});
    }

    void reportListsPortsWithRecognitionAndOpenState()
    {
        FakePortSystem system;
        system.accessible = false;
        const QList<PortInfo> ports {
            {QStringLiteral("ttyUSB0"), QStringLiteral("/dev/ttyUSB0"), QStringLiteral("AE0042"), QStringLiteral("Zorbel")},
            {QStringLiteral("ttyS0"), QStringLiteral("/dev/ttyS0"), QString(), QString()},
        };
        const auto probe = [](const PortInfo &port) {
            return port.portName == QLatin1String("ttyUSB0") ? QSerialPort::PermissionError : QSerialPort::NoError;
        };
        const QString text = PortReport::describe(ports, probe, system);
        QVERIFY2(text.contains(QLatin1String("ttyUSB0: Zorbel adapter, serial number AE0042 (Zorbel)\n"
                                             "    You may not open /dev/ttyUSB0")),
                 qPrintable(text));
        QVERIFY2(text.contains(QLatin1String("sudo usermod -aG dialout $USER")), qPrintable(text));
        QVERIFY2(text.contains(QLatin1String("ttyS0: other port\n    can be opened\n")), qPrintable(text));

        const QString unprobed = PortReport::describe(ports);
        QVERIFY(!unprobed.contains(QLatin1String("opened")));
        QCOMPARE(PortReport::describe({}), QStringLiteral("No serial port found.\n"));
    }
};

QTEST_GUILESS_MAIN(TestPortDoctor)
#include "tst_portdoctor.moc"

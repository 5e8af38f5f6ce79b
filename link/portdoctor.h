#pragma once

#include <QCoreApplication>
#include <QSerialPort>
#include <QString>
#include <QStringList>

// What the port doctor asks the machine about a port's device file. The real answers come
// from the file system and the process table; tests give their own.
class PortSystem
{
public:
    virtual ~PortSystem() = default;

    virtual bool exists(const QString &devicePath) const = 0;
    // This process may read and write the device file now.
    virtual bool isAccessible(const QString &devicePath) const = 0;
    // The group that owns the device file; empty when unknown.
    virtual QString owningGroup(const QString &devicePath) const = 0;
    // The user is a listed member of the group: a membership added after this login
    // session began is listed but not yet in effect.
    virtual bool userIsListedInGroup(const QString &group) const = 0;
    // Names of the other programs that hold the device open, as far as the system tells.
    virtual QStringList holders(const QString &devicePath) const = 0;

    // The running machine.
    static const PortSystem &machine();
};

// Turns a failed port open into a message that names the cause and the fix: no
// permission (with the group and the command that grants it), a port held by another
// program (named when the system tells), or a port that vanished.
class PortDoctor
{
    Q_DECLARE_TR_FUNCTIONS(PortDoctor)

public:
    enum class Cause {
        None,           // the port opened
        Vanished,       // the device file is gone: unplugged or reset
        NoPermission,   // the user is not in the group that owns the device
        NewLoginNeeded, // the user was added to the group; this login session predates it
        NoAccess,       // no access, and no group to join would give it
        Busy,           // another program holds the port
        Other,
    };

    // "ttyUSB0" names /dev/ttyUSB0; a path stays as it is.
    static QString devicePath(const QString &portName);

    static Cause diagnose(const QString &portPath, QSerialPort::SerialPortError error,
                          const PortSystem &system = PortSystem::machine());
    // The message for the user; empty when error is NoError.
    static QString explain(const QString &portPath, QSerialPort::SerialPortError error,
                           const PortSystem &system = PortSystem::machine());
    // For a port from the port seam that failed to open: a serial port is explained as
    // above; any other device (the simulated controller) by its own error text.
    static QString explain(const QIODevice *port, const PortSystem &system = PortSystem::machine());
    // For a port that knows no cause: its name and, when given, the device's own text.
    static QString cannotOpen(const QString &portName, const QString &detail = QString());
};

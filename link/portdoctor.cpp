#include "link/portdoctor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <pwd.h>
#include <unistd.h>
#endif

namespace {

constexpr int MAX_NAMED_HOLDERS = 3;

// Groups that no user should join to reach a port.
bool isSystemGroup(const QString &group)
{
    return group.isEmpty() || group == QLatin1String("root") || group == QLatin1String("wheel");
}

class MachinePortSystem : public PortSystem
{
public:
    bool exists(const QString &devicePath) const override { return QFileInfo::exists(devicePath); }

    bool isAccessible(const QString &devicePath) const override
    {
#ifdef Q_OS_UNIX
        return ::access(QFile::encodeName(devicePath).constData(), R_OK | W_OK) == 0;
#else
        Q_UNUSED(devicePath)
        return true;
#endif
    }

    QString owningGroup(const QString &devicePath) const override { return QFileInfo(devicePath).group(); }

    bool userIsListedInGroup(const QString &group) const override
    {
#ifdef Q_OS_UNIX
        const struct group *entry = ::getgrnam(group.toLocal8Bit().constData());
        const struct passwd *user = ::getpwuid(::getuid());
        if (!entry || !user)
            return false;
        if (user->pw_gid == entry->gr_gid)
            return true;
        for (char **member = entry->gr_mem; member && *member; ++member) {
            if (qstrcmp(*member, user->pw_name) == 0)
                return true;
        }
#else
        Q_UNUSED(group)
#endif
        return false;
    }

    // Every process's open files are links in /proc/PID/fd; only the user's own processes
    // (all of them for an administrator) can be looked into.
    QStringList holders(const QString &devicePath) const override
    {
        QStringList names;
        const QString target = QFileInfo(devicePath).canonicalFilePath();
        if (target.isEmpty())
            return names;
        const QString ownPid = QString::number(QCoreApplication::applicationPid());
        const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &pid : processes) {
            bool isNumber = false;
            pid.toUInt(&isNumber);
            if (!isNumber || pid == ownPid)
                continue;
            const QDir fdDir(QStringLiteral("/proc/%1/fd").arg(pid));
            const QStringList fds = fdDir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
            for (const QString &fd : fds) {
                if (QFile::symLinkTarget(fdDir.filePath(fd)) != target)
                    continue;
                QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
                const QString name = comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed()
                                                                    : QString();
                const QString holder = QStringLiteral("%1 (%2)").arg(name.isEmpty() ? QStringLiteral("?") : name, pid);
                if (!names.contains(holder))
                    names.append(holder);
                break;
            }
        }
        return names;
    }
};

QString reasonText(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return PortDoctor::tr("the device was not found");
    case QSerialPort::PermissionError:
        return PortDoctor::tr("access was refused");
    case QSerialPort::OpenError:
        return PortDoctor::tr("it is already open");
    case QSerialPort::UnsupportedOperationError:
        return PortDoctor::tr("it does not take the line settings (250000 baud, 8N1)");
    case QSerialPort::ResourceError:
        return PortDoctor::tr("the device stopped answering");
    default:
        return PortDoctor::tr("error %1").arg(int(error));
    }
}

} // namespace

const PortSystem &PortSystem::machine()
{
    static const MachinePortSystem system;
    return system;
}

QString PortDoctor::devicePath(const QString &portName)
{
#ifdef Q_OS_UNIX
    if (!portName.isEmpty() && !portName.startsWith(QLatin1Char('/')))
        return QStringLiteral("/dev/") + portName;
#endif
    return portName;
}

PortDoctor::Cause PortDoctor::diagnose(const QString &portPath, QSerialPort::SerialPortError error,
                                       const PortSystem &system)
{
    if (error == QSerialPort::NoError)
        return Cause::None;
    const QString path = devicePath(portPath);
    if (!system.exists(path))
        return Cause::Vanished;
    if (!system.isAccessible(path)) {
        const QString group = system.owningGroup(path);
        if (isSystemGroup(group))
            return Cause::NoAccess;
        return system.userIsListedInGroup(group) ? Cause::NewLoginNeeded : Cause::NoPermission;
    }
    // Accessible yet refused: another program has it open or locked (Qt reports both, and
    // the system's "busy", as a permission error).
    if (error == QSerialPort::PermissionError)
        return Cause::Busy;
    return Cause::Other;
}

QString PortDoctor::explain(const QString &portPath, QSerialPort::SerialPortError error, const PortSystem &system)
{
    const QString path = devicePath(portPath);
    switch (diagnose(portPath, error, system)) {
    case Cause::None:
        return QString();
    case Cause::Vanished:
        return tr("%1 is gone: the adapter was unplugged or lost its power. Plug it in again; "
                  "the program finds it by itself.").arg(path);
    case Cause::NoPermission: {
        const QString group = system.owningGroup(path);
        return tr("You may not open %1: it belongs to the group \"%2\", and you are not a member. "
                  "Join the group with the command\n    %3\nthen log out and log in again.")
            .arg(path, group, QStringLiteral("sudo usermod -aG %1 $USER").arg(group));
    }
    case Cause::NewLoginNeeded:
        return tr("You may not open %1 yet: you were added to the group \"%2\" after this login session "
                  "began. Log out and log in again (or restart the computer).")
            .arg(path, system.owningGroup(path));
    case Cause::NoAccess:
        return tr("You may not open %1: it belongs to the group \"%2\", which is not meant for users. "
                  "Install the program's udev rule for the Zorbel adapter and plug the adapter in again, "
                  "or ask your administrator.")
            .arg(path, system.owningGroup(path));
    case Cause::Busy: {
        const QStringList holders = system.holders(path);
        if (holders.isEmpty())
            return tr("%1 is in use by another program. Close the program that uses it (a terminal "
                      "program, another Kordo manager, a modem manager) and try again.").arg(path);
        // A device everybody holds (a terminal) would name every shell: a few names do.
        QString names = QStringList(holders.mid(0, MAX_NAMED_HOLDERS)).join(QStringLiteral(", "));
        if (holders.size() > MAX_NAMED_HOLDERS)
            names += QStringLiteral(", ...");
        return tr("%1 is in use by another program: %2. Close it and try again.").arg(path, names);
    }
    case Cause::Other:
        break;
    }
    return tr("%1 cannot be opened: %2.").arg(path, reasonText(error));
}

QString PortDoctor::cannotOpen(const QString &portName, const QString &detail)
{
    if (detail.isEmpty())
        return tr("Port %1 cannot be opened").arg(portName);
    return tr("Port %1 cannot be opened: %2").arg(portName, detail);
}

QString PortDoctor::explain(const QIODevice *port, const PortSystem &system)
{
    if (!port)
        return QString();
    if (const auto *serial = qobject_cast<const QSerialPort *>(port))
        return explain(serial->portName(), serial->error(), system);
    return port->errorString();
}

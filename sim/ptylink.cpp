#include "sim/ptylink.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

PtyLink::PtyLink(QObject *parent)
    : QObject(parent)
{
}

PtyLink::~PtyLink()
{
    close();
}

bool PtyLink::open(QString *error)
{
    const auto fail = [this, error](const char *what) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
        close();
        return false;
    };
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return fail("posix_openpt");
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        return fail("grantpt/unlockpt");
    char name[256] = {};
    if (ptsname_r(m_master, name, sizeof(name)) != 0)
        return fail("ptsname_r");
    m_slavePath = QString::fromLocal8Bit(name);

    m_slaveKeeper = ::open(name, O_RDWR | O_NOCTTY);
    if (m_slaveKeeper < 0)
        return fail("open slave");
    // Raw bytes: no echo, no line editing, no newline translation by the terminal layer.
    termios tio {};
    if (tcgetattr(m_slaveKeeper, &tio) != 0)
        return fail("tcgetattr");
    cfmakeraw(&tio);
    if (tcsetattr(m_slaveKeeper, TCSANOW, &tio) != 0)
        return fail("tcsetattr");

    const int flags = fcntl(m_master, F_GETFL);
    if (flags < 0 || fcntl(m_master, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail("fcntl");

    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PtyLink::readAvailable);
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &PtyLink::writePending);
    return true;
}

void PtyLink::close()
{
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    if (m_slaveKeeper >= 0)
        ::close(m_slaveKeeper);
    if (m_master >= 0)
        ::close(m_master);
    m_slaveKeeper = m_master = -1;
    m_pending.clear();
}

void PtyLink::readAvailable()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof(buffer));
        if (n > 0) {
            emit received(QByteArray(buffer, int(n)));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            m_readNotifier->setEnabled(false); // the line is broken: do not spin on it
        return;
    }
}

void PtyLink::write(const QByteArray &bytes)
{
    if (m_master < 0 || bytes.isEmpty())
        return;
    m_pending.append(bytes);
    writePending();
}

void PtyLink::writePending()
{
    while (!m_pending.isEmpty()) {
        const ssize_t n = ::write(m_master, m_pending.constData(), size_t(m_pending.size()));
        if (n > 0) {
            m_pending.remove(0, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            m_pending.clear(); // the line is broken: what cannot be sent is lost
        break; // otherwise the host does not read: wait until the line has room
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(!m_pending.isEmpty());
}

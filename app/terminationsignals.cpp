#include "app/terminationsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int HANDLED[] = {SIGTERM, SIGINT, SIGHUP};

// The pipe's ends; -1 while no instance is installed.
int g_pipe[2] = {-1, -1};

extern "C" void writeSignalNumber(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (g_pipe[1] >= 0) {
        // A full pipe already holds a request to stop; losing this one changes nothing.
        [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    }
    errno = savedErrno;
}

void setHandler(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : HANDLED)
        ::sigaction(signalNumber, &action, nullptr);
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    if (g_pipe[0] >= 0 || ::pipe(g_pipe) != 0) {
        if (g_pipe[0] < 0)
            g_pipe[0] = g_pipe[1] = -1;
        return;
    }
    for (int fd : g_pipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readPipe);
    setHandler(writeSignalNumber);
}

TerminationSignals::~TerminationSignals()
{
    if (!m_notifier)
        return;
    setHandler(SIG_DFL);
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void TerminationSignals::readPipe()
{
    unsigned char bytes[16];
    ssize_t count;
    while ((count = ::read(g_pipe[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < count; ++i)
            emit terminationRequested(bytes[i]);
    }
}


// kordo-sim: a simulated controller on a pseudo-terminal, for the program's demo and
// for tests that go through the real serial stack.

#include "sim/captureanswers.h"
#include "sim/ptylink.h"
#include "sim/realtimeclock.h"
#include "sim/simcommandline.h"
#include "sim/simulatedcontroller.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The link is removed when the program is killed; a signal handler may only use this copy.
char g_linkPath[4096] = {};

void removeLinkAndExit(int)
{
    if (g_linkPath[0])
        ::unlink(g_linkPath);
    _exit(0);
}

// SIGUSR1 asks for the counters: the handler only wakes the event loop through this pipe.
int g_countsPipe[2] = {-1, -1};

void requestCounts(int)
{
    const char byte = 1;
    const ssize_t written = ::write(g_countsPipe[1], &byte, 1);
    (void)written;
}

QByteArray countsLine(const SimulatedController &controller)
{
    QByteArray line("counts in");
    for (const auto &entry : controller.requestCounts())
        line += ' ' + QByteArray::number(entry.first, 16) + '=' + QByteArray::number(entry.second);
    line += " out";
    for (const auto &entry : controller.answerCounts())
        line += ' ' + QByteArray::number(entry.first, 16) + '=' + QByteArray::number(entry.second);
    return line + '\n';
}

bool createLink(const QString &linkPath, const QString &target, QString *error)
{
    const QByteArray link = QFile::encodeName(linkPath);
    struct stat st {};
    if (::lstat(link.constData(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            *error = QStringLiteral("%1 exists and is not a symbolic link").arg(linkPath);
            return false;
        }
        ::unlink(link.constData());
    }
    if (::symlink(QFile::encodeName(target).constData(), link.constData()) != 0) {
        *error = QStringLiteral("cannot create %1: %2").arg(linkPath, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (size_t(link.size()) < sizeof(g_linkPath))
        std::memcpy(g_linkPath, link.constData(), size_t(link.size()) + 1);
    return true;
}

class TraceWriter
{
public:
    bool open(const QString &fileName)
    {
        m_file.setFileName(fileName);
        return m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text);
    }

    void write(bool fromHost, const QByteArray &bytes, qint64 timeMs)
    {
        if (!m_file.isOpen())
            return;
        const QByteArray line = QByteArray::number(timeMs) + (fromHost ? " in  " : " out ")
            + bytes.toHex(' ').toUpper() + '\n';
        m_file.write(line);
        m_file.flush();
    }

private:
    QFile m_file;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kordo-sim"));

    SimCommandLine options;
    QString error;
    if (!parseSimCommandLine(QCoreApplication::arguments(), &options, &error)) {
        std::fprintf(stderr, "kordo-sim: %s\n", qPrintable(error));
        return 2;
    }

    TraceWriter trace;
    if (!options.traceFile.isEmpty() && !trace.open(options.traceFile)) {
        std::fprintf(stderr, "kordo-sim: cannot write %s\n", qPrintable(options.traceFile));
        return 1;
    }

    auto replayAnswers = std::make_shared<CaptureAnswers>();
    QString damage;
    if (!options.replayFile.isEmpty() && !replayAnswers->open(options.replayFile, &error, &damage)) {
        std::fprintf(stderr, "kordo-sim: cannot replay %s: %s\n", qPrintable(options.replayFile), qPrintable(error));
        return 1;
    }
    if (!damage.isEmpty())
        std::fprintf(stderr, "kordo-sim: %s is damaged, it is played up to the damage: %s\n",
                     qPrintable(options.replayFile), qPrintable(damage));

    PtyLink link;
    if (!link.open(&error)) {
        std::fprintf(stderr, "kordo-sim: %s\n", qPrintable(error));
        return 1;
    }
    QString listenPath = link.slavePath();
    if (!options.linkPath.isEmpty()) {
        if (!createLink(options.linkPath, link.slavePath(), &error)) {
            std::fprintf(stderr, "kordo-sim: %s\n", qPrintable(error));
            return 1;
        }
        listenPath = options.linkPath;
    }
    std::signal(SIGTERM, removeLinkAndExit);
    std::signal(SIGINT, removeLinkAndExit);
    std::signal(SIGHUP, removeLinkAndExit);

    SimulatedController controller(options.config);
    RealTimeClock clock(&controller);
    if (!options.replayFile.isEmpty()) {
        controller.setReplay(
            [replayAnswers](uint8_t msgId, QByteArray *frame) { return replayAnswers->next(msgId, frame); });
        QObject::connect(&controller, &SimulatedController::replayMissing, &controller, [](uint8_t msgId) {
            std::fprintf(stderr, "kordo-sim: the capture has no answer to message 0x%02X\n", unsigned(msgId));
            std::fflush(stderr);
        });
    }
    if (::pipe2(g_countsPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::fprintf(stderr, "kordo-sim: %s\n", std::strerror(errno));
        return 1;
    }
    QSocketNotifier countsNotifier(g_countsPipe[0], QSocketNotifier::Read);
    QObject::connect(&countsNotifier, &QSocketNotifier::activated, &controller, [&controller] {
        char drain[64];
        while (::read(g_countsPipe[0], drain, sizeof drain) > 0) {
        }
        const QByteArray line = countsLine(controller);
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        std::fflush(stdout);
    });
    std::signal(SIGUSR1, requestCounts);

    QObject::connect(&link, &PtyLink::received, &controller, [&](const QByteArray &bytes) {
        clock.catchUp();
        controller.receiveFromHost(bytes);
        clock.scheduleNext();
    });
    QObject::connect(&controller, &SimulatedController::outputAvailable, &link,
                     [&] { link.write(controller.takeOutput()); });
    QObject::connect(&controller, &SimulatedController::traffic, &controller,
                     [&](bool fromHost, const QByteArray &bytes, qint64 timeMs) {
                         trace.write(fromHost, bytes, timeMs);
                     });
    QObject::connect(&controller, &SimulatedController::applicationStarted, &controller, [&] {
        if (options.flashDumpFile.isEmpty())
            return;
        // Unbuffered: a buffered QSaveFile commits a file whose last flush failed.
        QSaveFile dump(options.flashDumpFile);
        const QByteArray flash = controller.bootloader().flash();
        if (!dump.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || dump.write(flash) != flash.size()
            || !dump.commit())
            std::fprintf(stderr, "kordo-sim: cannot write %s\n", qPrintable(options.flashDumpFile));
    });
    QObject::connect(&controller, &SimulatedController::vanished, &app, [&] {
        link.close();
        if (g_linkPath[0])
            ::unlink(g_linkPath);
        std::printf("vanished\n");
        std::fflush(stdout);
        app.quit();
    });

    clock.start();
    std::printf("ready %s\n", qPrintable(listenPath));
    std::fflush(stdout);
    const int result = app.exec();
    if (g_linkPath[0])
        ::unlink(g_linkPath);
    return result;
}

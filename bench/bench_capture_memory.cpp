// Memory of reading a line capture: writes captures of telemetry exchanges of the given sizes,
// then measures the peak resident memory of `kordoman --decode` (output to /dev/null) and of
// `kordo-sim --replay` once it has checked the capture and is ready. Records are read one at
// a time, so both should stay the same whatever the capture's size.
//
//   build/bin/bench_capture_memory [--mb 10,100]

#include "capture/pcapfile.h"
#include "tests/common/simprocess.h"
#include "wire/messageids.h"
#include "wire/records.h"
#include "wire/vyxprotocol.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>

namespace {

// A capture of about `bytes` bytes: each exchange a request, its echo and the answer.
bool writeCapture(const QString &path, qint64 bytes)
{
    DutyCommand duty;
    duty.enable = true;
    duty.duty = DutyCommand::dutyFromPercent(30);
    const QByteArray request = VYX_Protocol().encode(1, VyxMsg::TELEMETRY, duty.encode());
    ONLINE_QUANTS_S sample;
    sample.Speed = 12000;
    const QByteArray answer = VYX_Protocol().encode(
        1, VyxMsg::TELEMETRY,
        StatusBlock::encode(ANSWER_OK, Poll_Answer_s()) + TelemetryRecord::fromQuantities(sample).pack());
    PcapWriter writer;
    QString error;
    if (!writer.open(path, &error)) {
        std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(path), qPrintable(error));
        return false;
    }
    qint64 timeUs = 1765400000000000LL;
    using LineCapture::Direction;
    using LineCapture::Kind;
    for (qint64 written = 24; written < bytes; timeUs += 50000) {
        const LineCapture::Record records[] = {{timeUs, Direction::ToController, Kind::Frame, request},
                                               {timeUs + 400, Direction::FromController, Kind::Echo, request},
                                               {timeUs + 900, Direction::FromController, Kind::Frame, answer}};
        for (const LineCapture::Record &record : records) {
            writer.write(record);
            written += PcapFormat::recordSize(record);
        }
    }
    writer.close();
    return writer.error().isEmpty();
}

// Peak resident memory of `kordoman --decode`, in MiB; -1 when it failed.
double decodePeakMiB(const QString &binDir, const QString &capture, double *seconds)
{
    QElapsedTimer clock;
    clock.start();
    std::fflush(stdout); // the child would write what waits once more
    const pid_t pid = fork();
    if (pid == 0) {
        if (!std::freopen("/dev/null", "w", stdout))
            _exit(127);
        const QByteArray program = QFile::encodeName(QDir(binDir).filePath(QStringLiteral("kordoman")));
        const QByteArray file = QFile::encodeName(capture);
        execl(program.constData(), program.constData(), "--decode", file.constData(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage {};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    *seconds = clock.nsecsElapsed() / 1e9;
    return usage.ru_maxrss / 1024.0; // KiB
}

// Peak resident memory of `kordo-sim --replay` once ready, in MiB; -1 when it did not start.
double replayPeakMiB(const QString &capture)
{
    SimProcess sim({QStringLiteral("--replay"), capture}, 300000);
    if (!sim.isReady())
        return -1;
    QFile status(QStringLiteral("/proc/%1/status").arg(sim.processId()));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption sizesOption(QStringLiteral("mb"), QStringLiteral("Capture sizes in MB (default 10,100)."),
                                   QStringLiteral("LIST"), QStringLiteral("10,100"));
    parser.addOption(sizesOption);
    parser.process(application);
    const QString binDir = qEnvironmentVariable("KORDO_BIN_DIR", QStringLiteral(KORDO_DEFAULT_BIN_DIR));

    QTemporaryDir dir;
    std::printf("%10s %22s %12s %22s\n", "capture", "decode peak RSS", "decode", "replay peak RSS (ready)");
    for (const QString &size : parser.value(sizesOption).split(QLatin1Char(','))) {
        const qint64 bytes = size.toLongLong() * 1000 * 1000;
        const QString path = dir.filePath(QStringLiteral("capture-%1.pcap").arg(size));
        if (bytes <= 0 || !writeCapture(path, bytes))
            return 1;
        double seconds = 0;
        const double decode = decodePeakMiB(binDir, path, &seconds);
        const double replay = replayPeakMiB(path);
        std::printf("%7.1f MB %18.1f MiB %10.2f s %18.1f MiB\n", QFileInfo(path).size() / 1e6, decode, seconds, replay);
        QFile::remove(path);
    }
    return 0;
}

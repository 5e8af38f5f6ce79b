// Control page benchmark: the real window (offscreen) with its coordinator thread against
// kordo-sim on a pseudo-terminal, paced at the real line rate, streaming telemetry with
// control enabled and the plot live. Reports the CPU time of the whole program (every
// thread; the simulator is a process of its own), the samples that reached the page
// against the exchanges on the line, and the growth of the resident memory.
//
// With --capture the port is tapped and the line recorded into a capture file, as
// kordoman --capture does.
//
//   QT_QPA_PLATFORM=offscreen build/bin/bench_control [--seconds 60] [--duty 30] [--capture]

#include "app/mainwindow.h"
#include "capture/capturingportprovider.h"
#include "capture/linerecorder.h"
#include "device/device.h"
#include "device/pinghelper.h"
#include "link/comhelper.h"
#include "link/serialportprovider.h"
#include "tests/common/scripteddialogs.h"
#include "tests/common/simprocess.h"
#include "bench/benchsupport.h"
#include "tuning/ui/controlpage.h"
#include "wire/messageids.h"

#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QSet>
#include <QFile>
#include <QMap>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <functional>
#include <malloc.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Bytes the program holds on the heap, all threads' arenas together.
long heapInUseKiB()
{
    return long(mallinfo2().uordblks / 1024);
}

long residentKiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

// CPU seconds of each thread of this process, by thread id, with the thread's name.
struct ThreadTime
{
    QByteArray name;
    double seconds = 0;
};
QMap<int, ThreadTime> threadTimes()
{
    QMap<int, ThreadTime> times;
    const double tick = double(sysconf(_SC_CLK_TCK));
    const QStringList tasks = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &task : tasks) {
        QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(task));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const int open = line.indexOf('(');
        const int close = line.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QList<QByteArray> fields = line.mid(close + 2).split(' '); // from the state on
        if (fields.size() < 13)
            continue;
        times[task.toInt()] = {line.mid(open + 1, close - open - 1),
                               (fields[11].toDouble() + fields[12].toDouble()) / tick};
    }
    return times;
}

} // namespace

using BenchSupport::processCpuSeconds;
using BenchSupport::threadCpuSeconds;
using BenchSupport::waitFor;

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("Streaming time (default 60)."),
                                     QStringLiteral("N"), QStringLiteral("60"));
    QCommandLineOption dutyOption(QStringLiteral("duty"), QStringLiteral("Duty command in percent (default 30)."),
                                  QStringLiteral("P"), QStringLiteral("30"));
    QCommandLineOption frozenOption(QStringLiteral("frozen"), QStringLiteral("Plot frozen (Pause unchecked)."));
    parser.addOption(secondsOption);
    parser.addOption(dutyOption);
    parser.addOption(frozenOption);
    QCommandLineOption captureOption(QStringLiteral("capture"), QStringLiteral("Record the line into a capture file."));
    parser.addOption(captureOption);
    parser.process(application);
    const int seconds = qMax(1, parser.value(secondsOption).toInt());
    const int duty = qBound(-100, parser.value(dutyOption).toInt(), 100);

    SimProcess sim({QStringLiteral("--pace")});
    if (!sim.isReady()) {
        std::fprintf(stderr, "kordo-sim did not start\n");
        return 1;
    }
    QTemporaryDir dataDir;
    SerialPortProvider serial({sim.adapterPortSpec()});
    LineRecorder recorder;
    CapturingPortProvider tapped(&serial, &recorder);
    const bool capture = parser.isSet(captureOption);
    if (capture) {
        QString error;
        if (!recorder.startCapture(dataDir.filePath(QStringLiteral("control.pcap")), &error)) {
            std::fprintf(stderr, "cannot capture: %s\n", qPrintable(error));
            return 1;
        }
    }
    PortProvider *provider = capture ? static_cast<PortProvider *>(&tapped) : &serial;
    // Exchanges counted where they happen, samples where the page gets them. The counters are
    // touched by the coordinator thread until the window is gone: they are declared before it.
    std::atomic<int> exchanges {0};
    std::atomic<int> lostRequests {0};
    int delivered = 0;
    QSet<RequestTicket> telemetryTickets;
    ScriptedDialogs dialogs;
    MainWindow window(provider, DataDirectory::resolve(dataDir.path(), {}, {}), &dialogs);
    if (capture)
        window.setLineRecorder(&recorder);
    PingHelper *ping = window.appBase().pingHelper();

    QObject::connect(ping, &PingHelper::telemetrySample, ping, [&] { ++exchanges; }, Qt::DirectConnection);
    // Telemetry requests that got no answer, told on the polling helper's channel.
    QObject::connect(ping->requests(), &RequestChannel::requestSent, ping,
                     [&](uint8_t msgId, const QByteArray &, bool, bool, RequestTicket ticket) {
                         if (msgId == VyxMsg::TELEMETRY)
                             telemetryTickets.insert(ticket);
                     },
                     Qt::DirectConnection);
    QObject::connect(ping->requests(), &RequestChannel::failed, ping,
                     [&](RequestTicket ticket, RequestFailure reason) {
                         if (telemetryTickets.remove(ticket) && reason == RequestFailure::NoAnswer)
                             ++lostRequests;
                     },
                     Qt::DirectConnection);
    QObject::connect(ping->requests(), &RequestChannel::answered, ping,
                     [&](RequestTicket ticket) { telemetryTickets.remove(ticket); }, Qt::DirectConnection);
    QObject::connect(ping, &PingHelper::telemetrySample, &window, [&] { ++delivered; });

    window.resize(1200, 800);
    window.show();
    const auto find = [&](const char *name) { return window.findChild<QWidget *>(QLatin1String(name)); };
    // The device is idle and its stored records are read.
    if (!waitFor([&] { return window.appBase().deviceState() == DEVICE_CONNECTED
                              && !window.appBase().device()->isReadBatchRunning(); },
                 30000)) {
        std::fprintf(stderr, "the device was not found within 30 s\n");
        return 1;
    }
    static_cast<QToolButton *>(find("toolButtonControl"))->click();
    QMessageBox *question = nullptr;
    waitFor([&] {
        for (QMessageBox *box : window.findChildren<QMessageBox *>()) {
            if (box->isVisible() && box->button(QMessageBox::Yes)) // the run question, in any language
                question = box;
        }
        return question != nullptr;
    }, 5000);
    if (!question) {
        std::fprintf(stderr, "no run question\n");
        return 1;
    }
    question->button(QMessageBox::Yes)->click();
    if (!waitFor([&] { return delivered > 0; }, 10000)) {
        std::fprintf(stderr, "no telemetry\n");
        return 1;
    }
    static_cast<QCheckBox *>(find("checkBoxDutyCycle"))->setChecked(true);
    static_cast<QSlider *>(find("horizontalSliderDutyCycle"))->setValue(duty);
    const bool frozen = parser.isSet(frozenOption);
    if (frozen)
        static_cast<QPushButton *>(find("pushButtonPause"))->setChecked(false);

    waitFor([] { return false; }, 3000); // warm-up: the motor spins up, buffers settle
    // The coordinator's thread, by its id, for the split by thread.
    int coordinatorTid = 0;
    QMetaObject::invokeMethod(&window.appBase(), [&] { coordinatorTid = int(syscall(SYS_gettid)); },
                              Qt::BlockingQueuedConnection);
    const int guiTid = int(syscall(SYS_gettid));
    const QMap<int, ThreadTime> threadsStart = threadTimes();
    const double cpuStart = processCpuSeconds();
    const double guiStart = threadCpuSeconds();
    const long memoryStart = residentKiB();
    const long heapStart = heapInUseKiB();
    const int exchangesStart = exchanges;
    const int deliveredStart = delivered;
    const int lostStart = lostRequests;
    QElapsedTimer streaming;
    streaming.start();
    // The program's own event loop, as in the application: nothing here polls.
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    QList<long> memoryTrend; // every 10 s, to tell a one-time rise from growth
    QTimer memoryProbe;
    QList<long> heapTrend;
    QObject::connect(&memoryProbe, &QTimer::timeout, [&] {
        memoryTrend.append(residentKiB());
        heapTrend.append(heapInUseKiB());
    });
    memoryProbe.start(10000);
    loop.exec();
    memoryProbe.stop();
    const double elapsed = double(streaming.elapsed()) / 1000.0;
    const double cpu = processCpuSeconds() - cpuStart;
    const double gui = threadCpuSeconds() - guiStart;
    const QMap<int, ThreadTime> threadsEnd = threadTimes();
    const long memoryEnd = residentKiB();
    const long heapEnd = heapInUseKiB();
    const int exchanged = exchanges - exchangesStart;
    const int shown = delivered - deliveredStart;

    std::printf("streaming %.1f s at %d %% duty, plot %s%s\n", elapsed, duty, frozen ? "frozen" : "live",
                capture ? ", line captured" : "");
    if (capture)
        std::printf("capture: %d records, %.0f KiB in the ring\n", recorder.ringCount(),
                    recorder.ringUsedBytes() / 1024.0);
    std::printf("telemetry: %d exchanges (%.1f per second), %d unanswered, %d reached the page, %d lost on the way\n",
                exchanged, exchanged / elapsed, int(lostRequests - lostStart), shown, exchanged - shown);
    std::printf("program CPU time: %.1f %% of one core (%.1f ms per second)\n", cpu * 100.0 / elapsed,
                cpu * 1000.0 / elapsed);
    std::printf("  of which the GUI thread: %.1f %% (%.1f ms per second)\n", gui * 100.0 / elapsed,
                gui * 1000.0 / elapsed);
    // Per thread, from the kernel's accounting in clock ticks (10 ms): a rough split.
    std::printf("  by thread (ms per second):");
    for (auto it = threadsEnd.cbegin(); it != threadsEnd.cend(); ++it) {
        const double spent = it.value().seconds - threadsStart.value(it.key()).seconds;
        if (spent <= 0)
            continue;
        const QByteArray name = it.key() == guiTid ? QByteArray("GUI")
            : it.key() == coordinatorTid           ? QByteArray("coordinator")
                                                   : it.value().name;
        std::printf(" %s %.1f;", name.constData(), spent * 1000.0 / elapsed);
    }
    std::printf("\n");
    std::printf("resident memory: %ld KiB -> %ld KiB (%+ld KiB); every 10 s:", memoryStart, memoryEnd,
                memoryEnd - memoryStart);
    for (long kib : qAsConst(memoryTrend))
        std::printf(" %ld", kib);
    std::printf("\nheap in use: %ld KiB -> %ld KiB (%+ld KiB); every 10 s:", heapStart, heapEnd, heapEnd - heapStart);
    for (long kib : qAsConst(heapTrend))
        std::printf(" %ld", kib);
    std::printf("\n");
    return 0;
}

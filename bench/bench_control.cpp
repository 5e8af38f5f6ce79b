// Control page benchmark: the real window (offscreen) with its coordinator thread against
// kordo-sim on a pseudo-terminal, paced at the real line rate, streaming telemetry with
// control enabled and the plot live. Reports the CPU time of the whole program (every
// thread; the simulator is a process of its own), the samples that reached the page
// against the exchanges on the line, and the growth of the resident memory.
//
//   QT_QPA_PLATFORM=offscreen build/bin/bench_control [--seconds 60] [--duty 30]

#include "app/mainwindow.h"
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
#include <QElapsedTimer>
#include <QSet>
#include <QFile>
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
    parser.process(application);
    const int seconds = qMax(1, parser.value(secondsOption).toInt());
    const int duty = qBound(-100, parser.value(dutyOption).toInt(), 100);

    SimProcess sim({QStringLiteral("--pace")});
    if (!sim.isReady()) {
        std::fprintf(stderr, "kordo-sim did not start\n");
        return 1;
    }
    QTemporaryDir dataDir;
    SerialPortProvider provider({sim.adapterPortSpec()});
    ScriptedDialogs dialogs;
    MainWindow window(&provider, DataDirectory::resolve(dataDir.path(), {}, {}), &dialogs);
    PingHelper *ping = window.appBase().pingHelper();

    // Exchanges counted where they happen; samples counted where the page gets them.
    std::atomic<int> exchanges {0};
    std::atomic<int> lostRequests {0};
    int delivered = 0;
    QObject::connect(ping, &PingHelper::telemetrySample, ping, [&] { ++exchanges; }, Qt::DirectConnection);
    // Telemetry requests that got no answer, told on the polling helper's channel.
    QSet<RequestTicket> telemetryTickets;
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
    const long memoryEnd = residentKiB();
    const long heapEnd = heapInUseKiB();
    const int exchanged = exchanges - exchangesStart;
    const int shown = delivered - deliveredStart;

    std::printf("streaming %.1f s at %d %% duty, plot %s\n", elapsed, duty, frozen ? "frozen" : "live");
    std::printf("telemetry: %d exchanges (%.1f per second), %d unanswered, %d reached the page, %d lost on the way\n",
                exchanged, exchanged / elapsed, int(lostRequests - lostStart), shown, exchanged - shown);
    std::printf("program CPU time: %.1f %% of one core (%.1f ms per second)\n", cpu * 100.0 / elapsed,
                cpu * 1000.0 / elapsed);
    std::printf("  of which the GUI thread: %.1f %% (%.1f ms per second)\n", gui * 100.0 / elapsed,
                gui * 1000.0 / elapsed);
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

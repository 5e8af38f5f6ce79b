// Link benchmark: the coordinator headless against kordo-sim on a pseudo-terminal, paced
// at the real line rate. Reports the time from port open to a device with all its stored
// records read, the telemetry exchanges per second and how many were lost, and the
// coordinator thread's CPU time per second of streaming.
//
//   build/bin/bench_link [--seconds 30]

#include "app/appbase.h"
#include "wire/messageids.h"
#include "device/pinghelper.h"
#include "link/comhelper.h"
#include "link/serialportprovider.h"
#include "bench/benchsupport.h"
#include "tests/common/simprocess.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <ctime>

using BenchSupport::threadCpuSeconds;
using BenchSupport::waitFor;

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("Streaming time (default 30)."),
                                     QStringLiteral("N"), QStringLiteral("30"));
    parser.addOption(secondsOption);
    parser.process(application);
    const int seconds = qMax(1, parser.value(secondsOption).toInt());

    SimProcess sim({QStringLiteral("--pace")});
    if (!sim.isReady()) {
        std::fprintf(stderr, "kordo-sim did not start\n");
        return 1;
    }
    QTemporaryDir dataDir;
    SerialPortProvider provider({sim.adapterPortSpec()});
    QThread coordinatorThread;
    auto *app = new AppBase(&provider, DataDirectory::resolve(dataDir.path(), {}, {}));
    Device *device = app->device();

    QElapsedTimer clock;
    std::atomic<qint64> portOpenedAt {-1};
    std::atomic<int> samples {0};
    std::atomic<int> lostTelemetry {0};
    int recordsRead = 0;
    QObject::connect(app->comHelper(), &ComHelper::comPortOpened, app->comHelper(),
                     [&] { portOpenedAt = clock.elapsed(); }, Qt::DirectConnection);
    QObject::connect(app->pingHelper(), &PingHelper::addSample, app->pingHelper(), [&] { ++samples; },
                     Qt::DirectConnection);
    // Telemetry requests that got no answer, told on the polling helper's channel.
    QSet<RequestTicket> telemetryTickets;
    RequestChannel *polls = app->pingHelper()->requests();
    QObject::connect(polls, &RequestChannel::requestSent, app->comHelper(),
                     [&](uint8_t msgId, const QByteArray &, bool, bool, RequestTicket ticket) {
                         if (msgId == VyxMsg::TELEMETRY)
                             telemetryTickets.insert(ticket);
                     },
                     Qt::DirectConnection);
    QObject::connect(polls, &RequestChannel::failed, app->comHelper(),
                     [&](RequestTicket ticket, RequestFailure reason) {
                         if (telemetryTickets.remove(ticket) && reason == RequestFailure::NoAnswer)
                             ++lostTelemetry;
                     },
                     Qt::DirectConnection);
    QObject::connect(polls, &RequestChannel::answered, app->comHelper(),
                     [&](RequestTicket ticket) { telemetryTickets.remove(ticket); }, Qt::DirectConnection);
    QObject::connect(device, &Device::ui_fillMotorHours, [&] { ++recordsRead; });
    QObject::connect(device, &Device::ui_fillPwmInParams, [&] { ++recordsRead; });
    QObject::connect(device, &Device::ui_fillMotionParams, [&] { ++recordsRead; });
    QObject::connect(device, &Device::ui_fillMotorName, [&] { ++recordsRead; });

    app->moveToThread(&coordinatorThread);
    coordinatorThread.start();
    clock.start();
    QMetaObject::invokeMethod(app, &AppBase::startClock, Qt::QueuedConnection);
    QMetaObject::invokeMethod(app->comHelper(), &ComHelper::startPortSelection, Qt::QueuedConnection);

    // The motor record takes two reads (0x40 and 0x31) and ends in the motor's name.
    const bool found = waitFor([&] { return recordsRead >= 4 && !device->isReadBatchRunning(); }, 30000);
    const qint64 foundAt = clock.elapsed();
    if (!found) {
        std::fprintf(stderr, "the device was not found and read within 30 s\n");
        return 1;
    }

    app->pingHelper()->startRun();
    waitFor([&] { return app->deviceState() == DEVICE_RUNNING; }, 10000);
    double cpuStart = 0;
    QMetaObject::invokeMethod(app, [&] { cpuStart = threadCpuSeconds(); }, Qt::BlockingQueuedConnection);
    const int samplesStart = samples;
    const int lostStart = lostTelemetry;
    QElapsedTimer streaming;
    streaming.start();
    waitFor([] { return false; }, seconds * 1000);
    double cpuEnd = 0;
    QMetaObject::invokeMethod(app, [&] { cpuEnd = threadCpuSeconds(); }, Qt::BlockingQueuedConnection);
    const double elapsed = double(streaming.elapsed()) / 1000.0;

    QMetaObject::invokeMethod(app, &AppBase::stopTimer, Qt::BlockingQueuedConnection);
    coordinatorThread.quit();
    coordinatorThread.wait();
    delete app;

    const int exchanged = samples - samplesStart;
    std::printf("port open -> device connected and records read: %lld ms\n",
                static_cast<long long>(foundAt - portOpenedAt));
    std::printf("telemetry over %.1f s: %d exchanges, %.1f per second, %d lost\n", elapsed, exchanged,
                exchanged / elapsed, int(lostTelemetry - lostStart));
    std::printf("coordinator CPU time: %.2f ms per second of streaming\n", (cpuEnd - cpuStart) * 1000.0 / elapsed);
    return 0;
}

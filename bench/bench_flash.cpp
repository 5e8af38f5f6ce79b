// Flashing benchmark: the coordinator headless, in its own thread, writes a 64 KiB plain
// image into kordo-sim on a pseudo-terminal, paced at the real line rate with a page
// write time of 2 ms. Reports the time from the first sync to the start of the
// application against the floor set by the line and the page writes. With --capture the
// port is tapped and the line recorded into a capture file, as kordoman --capture does.
//
//   build/bin/bench_flash [--runs 3] [--capture | --compare]

#include "app/appbase.h"
#include "capture/capturingportprovider.h"
#include "capture/linerecorder.h"
#include "firmware/bootloaderprotocol.h"
#include "firmware/updatefwhelper.h"
#include "link/comhelper.h"
#include "link/serialportprovider.h"
#include "bench/benchsupport.h"
#include "tests/common/simprocess.h"
#include "tests/firmware/firmwareimages.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <functional>

using BenchSupport::waitFor;

namespace {

constexpr int IMAGE_BYTES = 64 * 1024;
constexpr int PAGE_WRITE_US = 2000;
constexpr int PAGES = IMAGE_BYTES / Bootloader::PAGE_SIZE;
// Per page: command 2, address 5, page 258, three ACKs.
constexpr int LINE_BYTES = PAGES * (2 + 5 + 258 + 3);
constexpr int LINE_BYTES_PER_SECOND = 25000;


// One update; the milliseconds from the first sync to the ACK of the start command, or -1.
double flashOnce(const QString &imagePath, bool capture)
{
    SimProcess sim({QStringLiteral("--pace"), QStringLiteral("--bootloader"), QStringLiteral("--flash-kib"),
                    QString::number(IMAGE_BYTES / 1024 + 16), QStringLiteral("--page-write-us"),
                    QString::number(PAGE_WRITE_US)});
    if (!sim.isReady()) {
        std::fprintf(stderr, "kordo-sim did not start\n");
        return -1;
    }
    QTemporaryDir dataDir;
    SerialPortProvider serial({sim.adapterPortSpec()});
    LineRecorder recorder;
    CapturingPortProvider tapped(&serial, &recorder);
    if (capture) {
        QString error;
        if (!recorder.startCapture(dataDir.filePath(QStringLiteral("flash.pcap")), &error)) {
            std::fprintf(stderr, "cannot capture: %s\n", qPrintable(error));
            return -1;
        }
    }
    PortProvider *provider = capture ? static_cast<PortProvider *>(&tapped) : &serial;
    QThread coordinatorThread;
    auto *app = new AppBase(provider, DataDirectory::resolve(dataDir.path(), {}, {}));
    UpdateFwHelper *updater = app->updateFwHelper();

    QElapsedTimer clock;
    std::atomic<qint64> firstSyncNs {-1};
    std::atomic<qint64> finishedNs {-1};
    std::atomic<bool> success {false};
    std::atomic<bool> portOpen {false};
    QObject::connect(app->comHelper(), &ComHelper::comPortOpened, app, [&] { portOpen = true; },
                     Qt::DirectConnection);
    QObject::connect(updater->requests(), &RequestChannel::bytesSent, app,
                     [&](const QByteArray &bytes) {
                         if (bytes == Bootloader::syncRequest() && firstSyncNs < 0)
                             firstSyncNs = clock.nsecsElapsed();
                     },
                     Qt::DirectConnection);
    QObject::connect(updater, &UpdateFwHelper::updateFinished, app,
                     [&](bool ok) {
                         success = ok;
                         finishedNs = clock.nsecsElapsed();
                     },
                     Qt::DirectConnection);

    app->moveToThread(&coordinatorThread);
    coordinatorThread.start();
    clock.start();
    QMetaObject::invokeMethod(app, &AppBase::startClock, Qt::QueuedConnection);
    QMetaObject::invokeMethod(app->comHelper(), &ComHelper::startPortSelection, Qt::QueuedConnection);
    double result = -1;
    if (!waitFor([&] { return portOpen.load(); }, 20000)) {
        std::fprintf(stderr, "the port did not open\n");
    } else {
        app->startFirmwareUpdate(imagePath); // no device known: syncs until the bootloader answers
        if (!waitFor([&] { return finishedNs >= 0; }, 60000))
            std::fprintf(stderr, "the update did not end within 60 s\n");
        else if (!success)
            std::fprintf(stderr, "the update failed\n");
        else
            result = double(finishedNs - firstSyncNs) / 1e6;
    }
    QMetaObject::invokeMethod(app, &AppBase::stopTimer, Qt::BlockingQueuedConnection);
    coordinatorThread.quit();
    coordinatorThread.wait();
    delete app;
    if (capture) {
        recorder.stopCapture();
        std::printf("  captured %d records, %.0f KiB in the ring\n", recorder.ringCount(),
                    recorder.ringUsedBytes() / 1024.0);
    }
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    QLoggingCategory::setFilterRules(QStringLiteral("kordo.*.debug=false"));
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("Updates to time (default 3)."),
                                  QStringLiteral("N"), QStringLiteral("3"));
    parser.addOption(runsOption);
    QCommandLineOption captureOption(QStringLiteral("capture"), QStringLiteral("Record the line into a capture file."));
    parser.addOption(captureOption);
    QCommandLineOption compareOption(QStringLiteral("compare"),
                                     QStringLiteral("Each run without, then with the capture; report both."));
    parser.addOption(compareOption);
    parser.process(application);
    const int runs = qMax(1, parser.value(runsOption).toInt());

    QTemporaryDir dir;
    const QString imagePath = dir.filePath(QStringLiteral("fw64k.bin"));
    if (!TestImages::writeFile(imagePath, TestImages::plainImage(IMAGE_BYTES))) {
        std::fprintf(stderr, "cannot write the image\n");
        return 1;
    }
    const double floorMs = 1000.0 * LINE_BYTES / LINE_BYTES_PER_SECOND + PAGES * PAGE_WRITE_US / 1000.0;
    std::printf("64 KiB plain image, %d pages, %d line bytes, page write %d us\n", PAGES, LINE_BYTES,
                PAGE_WRITE_US);
    std::printf("floor: %.0f ms (line) + %.0f ms (page writes) = %.0f ms\n", 1000.0 * LINE_BYTES / LINE_BYTES_PER_SECOND,
                PAGES * PAGE_WRITE_US / 1000.0, floorMs);
    // --compare: each run flashes without and then with the capture, so that both meet the
    // same load of a shared machine.
    const bool compare = parser.isSet(compareOption);
    QList<bool> modes {parser.isSet(captureOption)};
    if (compare)
        modes = {false, true};
    double best[2] = {-1, -1};
    for (int run = 0; run < runs; ++run) {
        for (bool capture : qAsConst(modes)) {
            const double ms = flashOnce(imagePath, capture);
            if (ms < 0)
                return 1;
            std::printf("run %d%s: first sync -> application start: %.0f ms (%.3f x floor)\n", run + 1,
                        capture ? " (capture)" : "", ms, ms / floorMs);
            double &b = best[capture ? 1 : 0];
            if (b < 0 || ms < b)
                b = ms;
        }
    }
    for (bool capture : qAsConst(modes))
        std::printf("best%s: %.0f ms (%.3f x floor)\n", capture ? " with capture" : "", best[capture ? 1 : 0],
                    best[capture ? 1 : 0] / floorMs);
    if (compare)
        std::printf("with capture / without: %.3f\n", best[1] / best[0]);
    return 0;
}

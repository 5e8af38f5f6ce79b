// Production line benchmark: N simulated controllers on N pseudo-terminals, each paced at
// the real line rate with a page write time of 2 ms, take a 64 KiB plain image through the
// production line (one coordinator per port, each in its own thread): from the start to
// the last controller running its new firmware. Eight controllers against one. The
// simulators run on the same machine as the program: on a small machine their CPU adds
// to the program's (both printed).
//
//   build/bin/bench_production [--ports 8] [--runs 3]

#include "app/datadirectory.h"
#include "cli/productionline.h"
#include "bench/benchsupport.h"
#include "link/serialportprovider.h"
#include "tests/common/simprocess.h"
#include "tests/firmware/firmwareimages.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int IMAGE_BYTES = 64 * 1024;
constexpr int PAGE_WRITE_US = 2000;

// The milliseconds for `ports` controllers flashed at once, or -1 when a port failed.
double flashAll(int ports, const QString &imagePath)
{
    const double simCpuBefore = BenchSupport::processCpuSeconds(RUSAGE_CHILDREN);
    std::vector<std::unique_ptr<SimProcess>> sims;
    QTemporaryDir dataDir;
    ProductionLine::Request request(DataDirectory::resolve(dataDir.path(), {}, {}));
    request.firmwareFile = imagePath;
    for (int i = 0; i < ports; ++i) {
        sims.push_back(std::make_unique<SimProcess>(QStringList {
            QStringLiteral("--pace"), QStringLiteral("--serial"), QString::number(5000 + i),
            QStringLiteral("--flash-kib"), QString::number(IMAGE_BYTES / 1024 + 16),
            QStringLiteral("--page-write-us"), QString::number(PAGE_WRITE_US)}));
        if (!sims.back()->isReady()) {
            std::fprintf(stderr, "kordo-sim did not start\n");
            return -1;
        }
        request.ports << SerialPortProvider::parseExtraPort(sims.back()->adapterPortSpec());
    }
    QString outText;
    QString errText;
    QTextStream out(&outText);
    QTextStream err(&errText);
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = BenchSupport::processCpuSeconds();
    const int code = ProductionLine(request, out, err).run();
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    const double programCpu = BenchSupport::processCpuSeconds() - cpuBefore;
    sims.clear();
    std::printf("  %d controller(s): CPU of the program %.2f s, of the simulators %.2f s\n", ports, programCpu,
                BenchSupport::processCpuSeconds(RUSAGE_CHILDREN) - simCpuBefore);
    if (code != 0) {
        std::fprintf(stderr, "%s%s", qPrintable(outText), qPrintable(errText));
        return -1;
    }
    return ms;
}

} // namespace

int main(int argc, char *argv[])
{
    QLoggingCategory::setFilterRules(QStringLiteral("kordo.*.debug=false"));
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption portsOption(QStringLiteral("ports"), QStringLiteral("Controllers at once (default 8)."),
                                   QStringLiteral("N"), QStringLiteral("8"));
    QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("Runs of each (default 3)."),
                                  QStringLiteral("N"), QStringLiteral("3"));
    parser.addOptions({portsOption, runsOption});
    parser.process(application);
    const int ports = qMax(1, parser.value(portsOption).toInt());
    const int runs = qMax(1, parser.value(runsOption).toInt());

    QTemporaryDir dir;
    const QString imagePath = dir.filePath(QStringLiteral("fw64k.bin"));
    if (!TestImages::writeFile(imagePath, TestImages::plainImage(IMAGE_BYTES))) {
        std::fprintf(stderr, "cannot write the image\n");
        return 1;
    }
    std::printf("64 KiB plain image, paced line, page write %d us; whole job: detection, reset, update, restart\n",
                PAGE_WRITE_US);
    double best[2] = {-1, -1};
    const int counts[2] = {1, ports};
    for (int run = 0; run < runs; ++run) {
        for (int k = 0; k < 2; ++k) {
            const double ms = flashAll(counts[k], imagePath);
            if (ms < 0)
                return 1;
            std::printf("run %d: %d controller(s): %.0f ms\n", run + 1, counts[k], ms);
            if (best[k] < 0 || ms < best[k])
                best[k] = ms;
        }
    }
    std::printf("best: 1 controller %.0f ms, %d controllers %.0f ms: %.3f x (goal at most 1.2 x)\n", best[0], ports,
                best[1], best[1] / best[0]);
    return 0;
}

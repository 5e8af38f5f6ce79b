// Control page plot benchmark: the page alone (offscreen), fed telemetry samples as the
// coordinator would deliver them, each followed by the event loop's paint. Reports the
// GUI thread's CPU time per sample. Without a controller or other threads its work is
// the same on every run, so under callgrind the instruction count is a noise-free
// measure on a shared machine:
//
//   QT_QPA_PLATFORM=offscreen build/bin/bench_plot [SAMPLES] [PNG]
//   QT_QPA_PLATFORM=offscreen valgrind --tool=callgrind build/bin/bench_plot 300
//
// With PNG, the page as last painted is saved there (to compare two builds pixel by pixel).

#include "bench/benchsupport.h"
#include "tests/common/scripteddialogs.h"
#include "tuning/ui/controlpage.h"

#include <QApplication>

#include <cmath>
#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int samples = argc > 1 ? qMax(1, std::atoi(argv[1])) : 400;
    ScriptedDialogs dialogs;
    ControlPage page([](int16_t, bool) {}, &dialogs);
    page.resize(1000, 700);
    page.show();
    // A motor near 3000 rpm with some ripple: the values and the speed axis move.
    const auto feed = [&page](uint32_t number) {
        ONLINE_QUANTS_S sample;
        sample.Speed = 3000.0f + 50.0f * float(std::sin(number * 0.3));
        sample.Torque = 0.2f;
        sample.Vbus = 24.0f;
        sample.Temp = 30;
        sample.PWm_in_us = 1500;
        page.on_telemetryUpdated(sample, number);
        QCoreApplication::processEvents();
    };
    for (uint32_t number = 1; number <= 100; ++number) // the plot's window filled
        feed(number);
    const double start = BenchSupport::threadCpuSeconds();
    for (uint32_t number = 101; number <= uint32_t(100 + samples); ++number)
        feed(number);
    const double spent = BenchSupport::threadCpuSeconds() - start;
    std::printf("%d samples, %.3f ms CPU time per sample\n", samples, spent * 1000.0 / samples);
    if (argc > 2 && !page.grab().save(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}

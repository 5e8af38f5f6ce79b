// Line recorder benchmark: the cost of the tap on its own, without a port. Feeds the
// recorder the bytes of telemetry exchanges as the port would hand them over (the request
// written; its echo and the answer read in one run) with a capture file open, and reports
// the thread CPU time per exchange and what 20 exchanges a second cost of one core. Also
// a 64 KiB firmware update's bootloader traffic (256 pages of command, address and data,
// each echoed and acknowledged).
//
//   build/bin/bench_capture [--exchanges 200000]

#include "bench/benchsupport.h"
#include "capture/linerecorder.h"
#include "wire/messageids.h"
#include "wire/records.h"
#include "wire/vyxprotocol.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <initializer_list>

using BenchSupport::threadCpuSeconds;

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption countOption(QStringLiteral("exchanges"), QStringLiteral("Telemetry exchanges (default 200000)."),
                                   QStringLiteral("N"), QStringLiteral("200000"));
    parser.addOption(countOption);
    parser.process(application);
    const int count = qMax(1, parser.value(countOption).toInt());

    DutyCommand duty;
    duty.enable = true;
    duty.duty = DutyCommand::dutyFromPercent(30);
    const QByteArray request = VYX_Protocol().encode(1, VyxMsg::TELEMETRY, duty.encode());
    ONLINE_QUANTS_S sample;
    sample.Speed = 12000;
    sample.Vbus = 24.1f;
    sample.Is = 3.2f;
    sample.Temp = 41;
    const QByteArray answer = VYX_Protocol().encode(
        1, VyxMsg::TELEMETRY, StatusBlock::encode(ANSWER_OK, Poll_Answer_s()) + TelemetryRecord::fromQuantities(sample).pack());
    const QByteArray read = request + answer;

    QTemporaryDir dir;
    QString error;
    {
        LineRecorder recorder;
        if (!recorder.startCapture(dir.filePath(QStringLiteral("telemetry.pcap")), &error)) {
            std::fprintf(stderr, "cannot capture: %s\n", qPrintable(error));
            return 1;
        }
        qint64 time = LineRecorder::nowUs();
        const double start = threadCpuSeconds();
        for (int i = 0; i < count; ++i) {
            recorder.recordWrittenAt(time, request.constData(), request.size());
            recorder.recordReadAt(time + 1500, read.constData(), read.size());
            time += 50000; // 20 a second
        }
        const double seconds = threadCpuSeconds() - start;
        const double perExchangeUs = seconds * 1e6 / count;
        std::printf("telemetry: %d exchanges (%d + %d bytes), %.2f us CPU each; at 20 a second %.4f %% of one core\n",
                    count, int(request.size()), int(read.size()), perExchangeUs, perExchangeUs * 20 / 1e4);
        std::printf("  ring: %d records, %.0f KiB (bounded by 4 MiB and 10 minutes)\n", recorder.ringCount(),
                    recorder.ringUsedBytes() / 1024.0);
    }
    {
        LineRecorder recorder;
        if (!recorder.startCapture(dir.filePath(QStringLiteral("flash.pcap")), &error))
            return 1;
        const QByteArray command("\x31\xce", 2);
        const QByteArray address("\x00\x00\x01\x00\x01", 5);
        QByteArray page(258, '\x5a');
        page[0] = char(0xFF);
        const char ack = 0x79;
        qint64 time = LineRecorder::nowUs();
        const double start = threadCpuSeconds();
        for (int p = 0; p < 256; ++p) {
            for (const QByteArray *part : std::initializer_list<const QByteArray *> {&command, &address, &page}) {
                recorder.recordWrittenAt(time, part->constData(), part->size());
                recorder.recordReadAt(time + 100, (*part + ack).constData(), part->size() + 1);
                time += 1000;
            }
        }
        const double ms = (threadCpuSeconds() - start) * 1000;
        std::printf("64 KiB update: 256 pages, %.2f ms CPU in all (the update itself takes over 3 s)\n", ms);
    }
    return 0;
}

#include "sim/simcommandline.h"

#include <QCommandLineParser>

#include <functional>
#include <vector>

namespace {

struct ValueOption
{
    QString name;
    QString description;
    QString valueName;
    // Applies the value; false when it does not parse.
    std::function<bool(const QString &, SimCommandLine &)> apply;
};

struct FlagOption
{
    QString name;
    QString description;
    std::function<void(SimCommandLine &)> apply;
};

// Numbers accept 0x for hexadecimal.
bool toUnsigned(const QString &text, quint64 max, quint64 *value)
{
    bool ok = false;
    *value = text.toULongLong(&ok, 0);
    return ok && *value <= max;
}

bool toInt(const QString &text, int min, int max, int *value)
{
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok, 0);
    if (!ok || v < min || v > max)
        return false;
    *value = int(v);
    return true;
}

bool toDouble(const QString &text, double min, double max, double *value)
{
    bool ok = false;
    *value = text.toDouble(&ok);
    return ok && *value >= min && *value <= max;
}

template <typename Field>
std::function<bool(const QString &, SimCommandLine &)> uintField(Field *(*select)(SimCommandLine &), quint64 max)
{
    return [select, max](const QString &text, SimCommandLine &c) {
        quint64 v;
        if (!toUnsigned(text, max, &v))
            return false;
        *select(c) = Field(v);
        return true;
    };
}

std::function<bool(const QString &, SimCommandLine &)> intField(int *(*select)(SimCommandLine &), int min, int max)
{
    return [select, min, max](const QString &text, SimCommandLine &c) { return toInt(text, min, max, select(c)); };
}

std::function<bool(const QString &, SimCommandLine &)> doubleField(double *(*select)(SimCommandLine &), double min,
                                                                    double max)
{
    return [select, min, max](const QString &text, SimCommandLine &c) {
        return toDouble(text, min, max, select(c));
    };
}

bool parseFirmwareVersion(const QString &text, SimCommandLine &c)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 3)
        return false;
    int v[3];
    for (int i = 0; i < 3; ++i) {
        if (!toInt(parts[i], 0, 255, &v[i]))
            return false;
    }
    c.config.identity.fwMajor = uint8_t(v[0]);
    c.config.identity.fwMiddle = uint8_t(v[1]);
    c.config.identity.fwMinor = uint8_t(v[2]);
    return true;
}

// "ID:N" (N times) or "ID" (once), for the named faults; ID is a message id, 0x for hex.
bool addMessageCount(const QString &text, std::map<uint8_t, int> *counts)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() > 2)
        return false;
    quint64 msgId;
    int times = 1;
    if (!toUnsigned(parts[0], 255, &msgId) || (parts.size() == 2 && !toInt(parts[1], 0, 1 << 30, &times)))
        return false;
    (*counts)[uint8_t(msgId)] = times;
    return true;
}

std::vector<ValueOption> valueOptions()
{
    using C = SimCommandLine;
    return {
        { "link", "Make PATH a symbolic link to the pseudo-terminal.", "PATH",
          [](const QString &t, C &c) { c.linkPath = t; return !t.isEmpty(); } },
        { "trace", "Write every frame in and out, with a millisecond time stamp, to FILE.", "FILE",
          [](const QString &t, C &c) { c.traceFile = t; return !t.isEmpty(); } },
        { "flash-dump", "Write the simulated flash to FILE whenever the bootloader starts the application.",
          "FILE", [](const QString &t, C &c) { c.flashDumpFile = t; return !t.isEmpty(); } },
        { "replay", "Play the controller's side of a line capture (pcap, as written by kordoman --capture): each "
                    "request is answered with the next recorded answer of its message id; a request the capture "
                    "has no answer for is reported once on stderr.", "FILE",
          [](const QString &t, C &c) { c.replayFile = t; return !t.isEmpty(); } },
        // Identity
        { "serial", "Device serial number (default 12345).", "N",
          uintField<uint32_t>([](C &c) { return &c.config.identity.serialNumber; }, 0xFFFFFFFFu) },
        { "fw", "Firmware version major.middle.minor (default 1.2.3).", "X.Y.Z", parseFirmwareVersion },
        { "hw", "Hardware build (default 2).", "N",
          uintField<uint8_t>([](C &c) { return &c.config.identity.hwBuild; }, 255) },
        { "address", "Bus address (default 1; 0..7 is kept in the motion record).", "N",
          uintField<uint8_t>([](C &c) { return &c.config.identity.address; }, 0xED) },
        { "short-identity", "Answer identification with the short layout of LEN bytes (2..13).", "LEN",
          intField([](C &c) { return &c.config.identity.shortLayoutLength; }, 2, 13) },
        { "motor-seconds", "Motor hours counter at power-up, in seconds (default 12345).", "N",
          uintField<uint32_t>([](C &c) { return &c.config.identity.motorSeconds; }, 0xFFFFFFFFu) },
        // Motor
        { "kv", "Motor Kv, rpm per volt (default 900).", "KV",
          doubleField([](C &c) { return &c.config.motor.kv; }, 1, 100000) },
        { "cells", "LiPo cells (default 6).", "N", intField([](C &c) { return &c.config.motor.cells; }, 1, 30) },
        { "pole-pairs", "Motor pole pairs (default 7).", "N",
          intField([](C &c) { return &c.config.motor.polePairs; }, 1, 100) },
        { "rs", "Phase resistance in Ohm (default 0.06).", "OHM",
          doubleField([](C &c) { return &c.config.motor.rs; }, 0.0001, 10) },
        { "ls", "Phase inductance in H (default 12e-6).", "H",
          doubleField([](C &c) { return &c.config.motor.ls; }, 1e-8, 0.1) },
        { "max-current", "Maximum motor current in A (default 30).", "A",
          doubleField([](C &c) { return &c.config.motor.maxCurrent; }, 1, 400) },
        { "pwm-in", "Pulse width on the PWM input in us (default 1000).", "US",
          uintField<uint16_t>([](C &c) { return &c.config.motor.pwmInUs; }, 4095) },
        // Identification
        { "ident-time-scale", "Scale of the identification step times (default 1; 0.1 is ten times faster).",
          "F", doubleField([](C &c) { return &c.config.ident.timeScale; }, 0.0001, 100) },
        { "predict-error", "Predict identification error CODE (4 or 7) until a correction arrives.", "CODE",
          [](const QString &t, C &c) {
              return toInt(t, 4, 7, &c.config.ident.predictedErrorCode)
                  && (c.config.ident.predictedErrorCode == 4 || c.config.ident.predictedErrorCode == 7);
          } },
        { "ident-fail-state", "Let the identification step with estimator state N (1..11) go bad.", "N",
          intField([](C &c) { return &c.config.ident.failAtState; }, 1, 11) },
        // Bootloader
        { "bl-version", "Bootloader version reported by GET (default 0x91): 0x90, 0x91, or another one such as 0x92, which takes any image as it is.", "V",
          uintField<uint8_t>([](C &c) { return &c.config.bootloader.version; }, 255) },
        { "flash-kib", "Flash size reported by the bootloader, KiB (default 64).", "N",
          intField([](C &c) { return &c.config.bootloader.flashKiB; }, 17, 16384) },
        { "fead3", "Variant byte fead3 (default 0x5A).", "B",
          uintField<uint8_t>([](C &c) { return &c.config.bootloader.fead3; }, 255) },
        { "fead4", "Variant byte fead4 (default 0xC3).", "B",
          uintField<uint8_t>([](C &c) { return &c.config.bootloader.fead4; }, 255) },
        { "page-write-us", "Time the bootloader takes to write one page, in us (default 0).", "US",
          intField([](C &c) { return &c.config.bootloader.pageWriteUs; }, 0, 1000000) },
        // Faults
        { "seed", "Seed of the random faults (default 1).", "N",
          uintField<quint32>([](C &c) { return &c.config.faults.seed; }, 0xFFFFFFFFu) },
        { "delay", "Delay every answer by MS milliseconds.", "MS",
          intField([](C &c) { return &c.config.faults.answerDelayMs; }, 0, 600000) },
        { "identity-after", "Leave identity requests unanswered until MS milliseconds after the first one "
                            "since power-up or a start of the application (a controller still booting).", "MS",
          intField([](C &c) { return &c.config.faults.identityAfterMs; }, 0, 600000) },
        { "drop", "Leave out this fraction (0..1) of the answers.", "F",
          doubleField([](C &c) { return &c.config.faults.dropFraction; }, 0, 1) },
        { "corrupt", "Send this fraction (0..1) of the answer frames with a wrong checksum.", "F",
          doubleField([](C &c) { return &c.config.faults.corruptFraction; }, 0, 1) },
        { "garbage", "Send 1..8 stray bytes before this fraction (0..1) of the answer frames.", "F",
          doubleField([](C &c) { return &c.config.faults.garbageFraction; }, 0, 1) },
        { "wrong-id", "Send this fraction (0..1) of the answer frames with the id of the next message.", "F",
          doubleField([](C &c) { return &c.config.faults.wrongIdFraction; }, 0, 1) },
        { "wrong-length", "Send this fraction (0..1) of the answers one payload byte short or long.", "F",
          doubleField([](C &c) { return &c.config.faults.wrongLengthFraction; }, 0, 1) },
        { "silent-after", "Stop answering after N answered frames.", "N",
          intField([](C &c) { return &c.config.faults.silentAfterFrames; }, 0, 1 << 30) },
        { "nack-page", "Refuse the data of page N (address / 256) of a firmware update.", "N",
          intField([](C &c) { return &c.config.faults.nackPage; }, 0, 1 << 20) },
        { "nack-times", "How many times the page of --nack-page is refused (default 1).", "N",
          intField([](C &c) { return &c.config.faults.nackPageTimes; }, 0, 1 << 20) },
        { "nack-start", "Refuse the start command (GO) of the bootloader N times.", "N",
          intField([](C &c) { return &c.config.faults.nackStartTimes; }, 0, 1 << 20) },
        { "vanish-after", "Close the port for good after MS milliseconds.", "MS",
          intField([](C &c) { return &c.config.faults.vanishAfterMs; }, 0, 1 << 30) },
        { "stall-after", "Report a stalled motor after MS milliseconds.", "MS",
          intField([](C &c) { return &c.config.faults.stallAfterMs; }, 0, 1 << 30) },
        { "error-after", "Report a device error after MS milliseconds.", "MS",
          intField([](C &c) { return &c.config.faults.errorAfterMs; }, 0, 1 << 30) },
        { "error-code", "Code of that error: error bit + 1 (default 3, \"Undervoltage\").", "N",
          uintField<uint8_t>([](C &c) { return &c.config.faults.errorCode; }, 255) },
        // Named faults by message id (repeat an option for several ids)
        { "drop-first", "Leave out the first N answers to message ID (e.g. 0x48:2; N is 1 when left out).",
          "ID[:N]", [](const QString &t, C &c) { return addMessageCount(t, &c.config.faults.dropFirstAnswers); } },
        { "refuse-next", "Answer the next N requests of message ID with ANSWER_REFUSED, changing nothing "
                         "(e.g. 0x45; N is 1 when left out).",
          "ID[:N]", [](const QString &t, C &c) { return addMessageCount(t, &c.config.faults.refuseNext); } },
        { "unterminated", "Answer the next request of message ID with a frame start and N bytes that never "
                          "end (e.g. 0x48:100000).",
          "ID:N", [](const QString &t, C &c) {
              return t.contains(QLatin1Char(':')) && addMessageCount(t, &c.config.faults.unterminatedAnswer);
          } },
        { "silent-after-message", "Answer message ID, then go silent for good.", "ID",
          intField([](C &c) { return &c.config.faults.silentAfterMessage; }, 0, 255) },
        { "store-other-kp", "Accept and confirm the next N motion writes (0x45), but store them with Kp one "
                            "step (1/1024) higher.", "N",
          intField([](C &c) { return &c.config.faults.storeOtherKp; }, 0, 1 << 20) },
        { "serial-after-update", "The application started by the bootloader reports this serial number "
                                 "(a controller whose identity changes across an update).", "N",
          uintField<uint32_t>([](C &c) { return &c.config.bootloader.serialAfterUpdate; }, 0xFFFFFFFFu) },
    };
}

std::vector<FlagOption> flagOptions()
{
    using C = SimCommandLine;
    return {
        { "running", "Start in control mode (the identity's run flag is 1).",
          [](C &c) { c.config.identity.startRunning = true; } },
        { "blank-motor", "Start with no motor stored (all motor parameters zero).",
          [](C &c) { c.config.identity.blankMotor = true; } },
        { "bootloader", "Start in the bootloader (a controller without firmware).",
          [](C &c) { c.config.bootloader.startInBootloader = true; } },
        { "aes", "Bootloader 0x91 with encryption (commands 0xA0 and 0xA1).",
          [](C &c) { c.config.bootloader.aes = true; } },
        { "settings-change-on-update", "A firmware update loses the stored settings: the new application "
                                       "starts with Kp 0.3 and a time to leave of 1000 ms.",
          [](C &c) { c.config.bootloader.settingsChangeOnUpdate = true; } },
        { "pace", "Send at the real line rate (250000 baud, 8N1: 25000 bytes/s).",
          [](C &c) { c.config.faults.paceOutput = true; } },
    };
}

} // namespace

bool parseSimCommandLine(const QStringList &arguments, SimCommandLine *out, QString *error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated Kordo motor controller on a pseudo-terminal. Prints \"ready PATH\" when it listens "
        "and serves until killed; on SIGUSR1 it prints the frames counted per message id (\"counts in ID=N ... "
        "out ID=N ...\", ids in hex: requests received, answers sent). Without options it is an idle controller that answers detection at once."));
    parser.addHelpOption();
    const std::vector<ValueOption> values = valueOptions();
    const std::vector<FlagOption> flags = flagOptions();
    for (const ValueOption &o : values)
        parser.addOption(QCommandLineOption(o.name, o.description, o.valueName));
    for (const FlagOption &o : flags)
        parser.addOption(QCommandLineOption(o.name, o.description));

    parser.process(arguments); // --help and unknown options end the program here

    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first());
        return false;
    }
    SimCommandLine result;
    for (const ValueOption &o : values) {
        // Every occurrence, in order: repeatable options collect, the others keep the last.
        for (const QString &value : parser.values(o.name)) {
            if (!o.apply(value, result)) {
                *error = QStringLiteral("bad value for --%1: %2").arg(o.name, value);
                return false;
            }
        }
    }
    for (const FlagOption &o : flags) {
        if (parser.isSet(o.name))
            o.apply(result);
    }
    *out = result;
    return true;
}

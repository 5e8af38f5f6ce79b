#include "app/commandline.h"
#include "app/linecapturesetup.h"
#include "capture/linerecorder.h"
#include "app/demoportprovider.h"
#include "cli/diagnosticscommand.h"
#include "app/installlayout.h"
#include "app/translations.h"
#include "app/mainwindow.h"
#include "app/windowprogram.h"
#include "app/datadirectory.h"
#include "cli/backupscommand.h"
#include "cli/capturefailurenotice.h"
#include "cli/flashcommand.h"
#include "cli/motorbackupcommand.h"
#include "cli/jsonlines.h"
#include "cli/productionline.h"
#include "cli/resultscommand.h"
#include "link/serialportprovider.h"

#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLoggingCategory>
#include <QTextStream>

#include <cstdio>
#include <memory>

namespace {

const char *const PRODUCT_NAME = "Kordo manager";
const char *const VERSION = "1.1.0";

QStringList rawArguments(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

void nameApplication()
{
    QCoreApplication::setApplicationName(QString::fromLatin1(PRODUCT_NAME));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(VERSION));
    QCoreApplication::setOrganizationName(QStringLiteral("Kordo"));
}

// The machine's ports and those of --port, plus the built-in simulated controller with --demo,
// each tapped for the line recorder. `demo`, when given, is set to the simulated controller's
// provider (owned by the result), or null.
std::unique_ptr<PortProvider> makePortProvider(const CommandLineOptions &options, LineRecorder *recorder,
                                               DemoPortProvider **demo = nullptr)
{
    if (demo)
        *demo = nullptr;
    if (options.demo) {
        auto ports = std::make_unique<DemoPortProvider>(options.portSpecs, DemoPortProvider::demoConfig());
        if (demo)
            *demo = ports.get();
        return LineCaptureSetup::tapped(std::move(ports), recorder);
    }
    return LineCaptureSetup::tapped(std::make_unique<SerialPortProvider>(options.portSpecs), recorder);
}

// Every run of the program records its results.
ProductionRecording::Options recordingOptions(const CommandLineOptions &options)
{
    ProductionRecording::Options recording;
    recording.enabled = true;
    recording.resultsDb = options.resultsDb;
    recording.programVersion = QString::fromLatin1(VERSION);
    return recording;
}

int runFlash(const CommandLineOptions &options, const DataDirectory &dataDirectory, LineRecorder *recorder,
             QTextStream &out, QTextStream &err)
{
    if (!dataDirectory.isValid()) {
        err << dataDirectory.errorString() << Qt::endl;
        return 1;
    }
    const std::unique_ptr<PortProvider> ports = makePortProvider(options, recorder);
    QStringList portNames;
    for (const QString &spec : options.portSpecs)
        portNames << SerialPortProvider::parseExtraPort(spec).portName;
    if (options.demo)
        portNames << DemoPortProvider::DEMO_PORT_NAME;
    // The run's result is recorded as the production line's are; where it goes is checked first.
    ProductionOrder order(dataDirectory);
    order.firmwareFile = QFileInfo(options.firmwareFile).absoluteFilePath();
    ProductionRecording recording;
    recording.setWaitNotice([&](const QString &text) {
        if (options.json)
            JsonLines::write(out, JsonLines::progress(QString(), text));
        err << text << Qt::endl;
    });
    QString problem;
    if (!recording.prepare(recordingOptions(options), order, QString(), &problem)) {
        if (options.json)
            JsonLines::write(out, JsonLines::error(problem));
        err << problem << Qt::endl;
        return 1;
    }
    FlashCommand command(ports.get(), dataDirectory, portNames, out, err);
    command.setJson(options.json);
    command.setWithoutBackup(options.withoutBackup);
    const int code = command.run(options.firmwareFile);
    if (!command.touchedController())
        return code; // nothing was done to a controller: nothing to record
    const ProductionRecording::Recorded recorded = recording.record({command.outcome()}, code);
    if (options.json) {
        JsonLines::write(out, JsonLines::result(command.outcome()));
        JsonLines::write(out, ProductionRecording::summary(code == 0 ? 1 : 0, 1, recorded));
    } else if (recorded.status != ResultsRecorder::Status::Lost) {
        out << recorded.message << Qt::endl;
    }
    if (recorded.status == ResultsRecorder::Status::Lost)
        err << recorded.message << Qt::endl;
    return recorded.exitStatus;
}

// The named ports, then (--all-adapters) every other port of the maker's adapter present now.
// Each port gets its own coordinator, so the built-in simulated controller (--demo) has no part here.
int runProduction(const CommandLineOptions &options, const DataDirectory &dataDirectory, LineRecorder *recorder,
                  QTextStream &out, QTextStream &err)
{
    ProductionLine::Request request(dataDirectory);
    if (!options.captureFile.isEmpty())
        request.lineRecorder = recorder;
    request.firmwareFile = options.firmwareFile;
    request.withoutBackup = options.withoutBackup;
    request.settingsFile = options.settingsFile;
    request.motorName = options.motorNames.value(0);
    request.reportFile = options.reportFile;
    QList<PortInfo> named;
    for (const QString &spec : options.portSpecs)
        named << SerialPortProvider::parseExtraPort(spec);
    const QList<PortInfo> present = options.allAdapters ? SerialPortProvider(options.portSpecs).availablePorts()
                                                        : QList<PortInfo>();
    request.ports = ProductionLine::portsToWorkOn(named, present, options.allAdapters);
    request.results = recordingOptions(options);
    request.json = options.json;
    return ProductionLine(request, out, err).run();
}

// The settings backups: listed, pruned, one written back (the production line's settings step
// on the one named port), or a settings file compared with a controller.
int runBackups(const CommandLineOptions &options, const DataDirectory &dataDirectory, LineRecorder *recorder,
               QTextStream &out, QTextStream &err)
{
    BackupsCommand command(dataDirectory, out, err);
    command.setJson(options.json);
    switch (options.command) {
    case CommandLineOptions::Command::ListBackups:
        return command.list(options.backupSerial);
    case CommandLineOptions::Command::PruneBackups:
        return command.prune(options.pruneDays);
    case CommandLineOptions::Command::RestoreBackup: {
        ProductionLine::Request request(dataDirectory);
        request.restoreId = options.restoreId;
        request.restoreFile = options.restoreFile;
        request.json = options.json;
        if (!options.captureFile.isEmpty())
            request.lineRecorder = recorder;
        request.ports << SerialPortProvider::parseExtraPort(options.portSpecs.value(0));
        return ProductionLine(request, out, err).run();
    }
    default: {
        const std::unique_ptr<PortProvider> ports = makePortProvider(options, recorder);
        return command.diffSettings(ports.get(), SerialPortProvider::parseExtraPort(options.portSpecs.value(0)).portName,
                                    options.diffFile);
    }
    }
}

// The commands that may use a port, with the line recorder that taps it.
int runCommand(const CommandLineOptions &options, const DataDirectory &dataDirectory, LineRecorder *recorder,
               QTextStream &out, QTextStream &err)
{
    if (options.command == CommandLineOptions::Command::ListPorts)
        return DiagnosticsCommand(options.portSpecs, out, err).listPorts(options.json);

    if (options.command == CommandLineOptions::Command::SyncResults)
        return ResultsCommand(dataDirectory, options.resultsDb, out, err).syncResults();
    if (options.command == CommandLineOptions::Command::History)
        return ResultsCommand(dataDirectory, options.resultsDb, out, err).history(options.historySerial, options.json);
    if (options.command == CommandLineOptions::Command::Flash)
        return runFlash(options, dataDirectory, recorder, out, err);
    if (options.command == CommandLineOptions::Command::Production)
        return runProduction(options, dataDirectory, recorder, out, err);
    if (options.command == CommandLineOptions::Command::ListBackups
        || options.command == CommandLineOptions::Command::PruneBackups
        || options.command == CommandLineOptions::Command::RestoreBackup
        || options.command == CommandLineOptions::Command::DiffSettings)
        return runBackups(options, dataDirectory, recorder, out, err);
    QString problem;
    if (options.command == CommandLineOptions::Command::SupportBundle)
        return DiagnosticsCommand(options.portSpecs, out, err)
            .writeSupportBundle(options.bundleFile, QStringLiteral("%1 %2").arg(PRODUCT_NAME, VERSION),
                                dataDirectory.logDirectory(&problem));
    const QString databaseDirectory = dataDirectory.databaseDirectory(&problem);
    MotorBackupCommand command(databaseDirectory, out, err);
    if (options.command == CommandLineOptions::Command::ExportMotors)
        return command.exportMotors(options.motorFile, options.motorNames);
    return command.importMotors(options.motorFile, options.overwrite);
}

// Everything but the window runs without a display.
int runHeadless(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    nameApplication();
    // The commands speak the system's language, as the window does.
    Translations translations(InstallLayout::ofRunningProgram().languagesDirectory());
    translations.load(Translations::systemLanguage());
    QTextStream out(stdout);
    QTextStream err(stderr);
    const CommandLineOptions options = CommandLine::parse(app.arguments());
    switch (options.command) {
    case CommandLineOptions::Command::ShowHelp:
        out << options.helpText;
        return 0;
    case CommandLineOptions::Command::ShowVersion:
        out << PRODUCT_NAME << ' ' << VERSION << Qt::endl;
        return 0;
    case CommandLineOptions::Command::Invalid:
        err << options.error << Qt::endl;
        return 2;
    default:
        break;
    }

    if (options.command == CommandLineOptions::Command::Decode)
        return LineCaptureSetup::decode(options.decodeFile, out, err);
    // Declared before anything that uses a port: the capture file is whole when it is closed.
    LineRecorder recorder;
    const DataDirectory dataDirectory = DataDirectory::resolve(options.dataDirectory);
    if (!options.captureFile.isEmpty()) {
        const QString problem = LineCaptureSetup::startCapture(
            &recorder, options.captureFile, LineCaptureSetup::commandFiles(options), dataDirectory.path());
        if (!problem.isEmpty()) {
            err << problem << Qt::endl;
            return 1;
        }
    }
    CaptureFailureNotice captureNotice(&recorder, options.captureFile, options.json, out, err);
    const int code = runCommand(options, dataDirectory, &recorder, out, err);
    captureNotice.finish();
    return code;
}

QString windowTitle()
{
    const QString title = QStringLiteral("%1  %2").arg(QString::fromLatin1(PRODUCT_NAME), QString::fromLatin1(VERSION));
    return QLibraryInfo::isDebugBuild() ? QStringLiteral("Internal (%1)").arg(title) : title;
}

} // namespace

int main(int argc, char *argv[])
{
    // The program's debug lines are for developers: QT_LOGGING_RULES="kordo.*.debug=true"
    // brings them back (the environment overrides this default).
    QLoggingCategory::setFilterRules(QStringLiteral("kordo.*.debug=false"));
    const CommandLineOptions early = CommandLine::parse(rawArguments(argc, argv));
    if (early.command != CommandLineOptions::Command::RunWindow)
        return runHeadless(argc, argv);

    QApplication app(argc, argv);
    nameApplication();
    const CommandLineOptions options = CommandLine::parse(app.arguments());
    const DataDirectory dataDirectory = DataDirectory::resolve(options.dataDirectory);

    // The line recorder outlives the ports and the window: the capture is closed last.
    LineRecorder recorder;
    const QString captureProblem =
        options.captureFile.isEmpty()
            ? QString()
            : LineCaptureSetup::startCapture(&recorder, options.captureFile, LineCaptureSetup::commandFiles(options),
                                             dataDirectory.path());
    DemoPortProvider *demo = nullptr;
    const std::unique_ptr<PortProvider> ports = makePortProvider(options, &recorder, &demo);

    WindowProgram program(ports.get(), dataDirectory, windowTitle());
    program.window()->setLineRecorder(&recorder);
    // In demo mode the way back from running mode is a button, not a hand on the power switch.
    if (demo)
        program.window()->setControllerRestart([demo] { demo->switchControllerOffAndOn(); });
    if (!captureProblem.isEmpty()) {
        // The recording asked for cannot be made: nothing is started without it.
        QTextStream(stderr) << captureProblem << Qt::endl;
        program.refuse(captureProblem);
        return 1;
    }
    return program.exec();
}

#include "app/commandline.h"
#include "app/linecapturesetup.h"
#include "capture/linerecorder.h"
#include "app/demoportprovider.h"
#include "cli/diagnosticscommand.h"
#include "app/installlayout.h"
#include "app/translations.h"
#include "app/datadirectory.h"
#include "ui/embeddedfonts.h"
#include "app/mainwindow.h"
#include "cli/flashcommand.h"
#include "cli/motorbackupcommand.h"
#include "cli/productionline.h"
#include "app/terminationsignals.h"
#include "app/windowtermination.h"
#include "ui/userdialogs.h"
#include "link/serialportprovider.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLoggingCategory>
#include <QMessageBox>
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
// each tapped for the line recorder.
std::unique_ptr<PortProvider> makePortProvider(const CommandLineOptions &options, LineRecorder *recorder)
{
    if (options.demo)
        return LineCaptureSetup::tapped(
            std::make_unique<DemoPortProvider>(options.portSpecs, DemoPortProvider::demoConfig()), recorder);
    return LineCaptureSetup::tapped(std::make_unique<SerialPortProvider>(options.portSpecs), recorder);
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
    FlashCommand command(ports.get(), dataDirectory, portNames, out, err);
    return command.run(options.firmwareFile);
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
    request.settingsFile = options.settingsFile;
    request.motorName = options.motorNames.value(0);
    request.reportFile = options.reportFile;
    QList<PortInfo> named;
    for (const QString &spec : options.portSpecs)
        named << SerialPortProvider::parseExtraPort(spec);
    const QList<PortInfo> present = options.allAdapters ? SerialPortProvider(options.portSpecs).availablePorts()
                                                        : QList<PortInfo>();
    request.ports = ProductionLine::portsToWorkOn(named, present, options.allAdapters);
    return ProductionLine(request, out, err).run();
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
    if (!options.captureFile.isEmpty()) {
        const QString problem = LineCaptureSetup::startCapture(&recorder, options.captureFile);
        if (!problem.isEmpty()) {
            err << problem << Qt::endl;
            return 1;
        }
    }

    if (options.command == CommandLineOptions::Command::ListPorts)
        return DiagnosticsCommand(options.portSpecs, out, err).listPorts();

    const DataDirectory dataDirectory = DataDirectory::resolve(options.dataDirectory);
    if (options.command == CommandLineOptions::Command::Flash)
        return runFlash(options, dataDirectory, &recorder, out, err);
    if (options.command == CommandLineOptions::Command::Production)
        return runProduction(options, dataDirectory, &recorder, out, err);
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
        options.captureFile.isEmpty() ? QString() : LineCaptureSetup::startCapture(&recorder, options.captureFile);
    const std::unique_ptr<PortProvider> ports = makePortProvider(options, &recorder);

    WidgetDialogs dialogs;
    auto window = std::make_unique<MainWindow>(ports.get(), dataDirectory, &dialogs);
    window->setLineRecorder(&recorder);
    dialogs.setParent(window.get());
    EmbeddedFonts::registerAll();
    window->setWindowIcon(QIcon(QStringLiteral(":/icons/symbol.png")));
    window->setWindowTitle(windowTitle());
    if (!captureProblem.isEmpty()) {
        // The recording asked for cannot be made: nothing is started without it.
        QTextStream(stderr) << captureProblem << Qt::endl;
        dialogs.message(UserDialogs::Icon::Critical, window->windowTitle(), captureProblem);
        return 1;
    }
    if (!dataDirectory.isValid())
        dialogs.message(UserDialogs::Icon::Critical, window->windowTitle(), dataDirectory.errorString());
    // A terminating signal (kill, Ctrl+C in the terminal, a logout) closes the window as the
    // user would: the program's open dialogs first, then the window, which stops the motor.
    TerminationSignals terminationSignals;
    closeWindowOnTermination(&terminationSignals, window.get());
    window->show();
    const int result = app.exec();
    window.reset(); // the window (and the coordinator) before the ports it uses
    return result;
}

#include "app/commandline.h"

#include <QCommandLineParser>

CommandLineOptions CommandLine::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(tr("Configuration and diagnostics for the Kordo motor controller."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption demo(QStringLiteral("demo"), tr("Run on the built-in simulated controller."));
    const QCommandLineOption port(QStringLiteral("port"),
                                  tr("Add a serial port; a serial number starting with AE marks the maker's adapter."),
                                  QStringLiteral("PATH[@SERIAL]"));
    const QCommandLineOption dataDir(QStringLiteral("data-dir"),
                                     tr("Keep settings, logs and the motor database in this directory."),
                                     QStringLiteral("DIR"));
    const QCommandLineOption exportMotors(QStringLiteral("export-motors"),
                                          tr("Write the motors of the database to a motor file and exit."),
                                          QStringLiteral("FILE"));
    const QCommandLineOption motor(QStringLiteral("motor"),
                                   tr("With --export-motors: export only this motor (repeatable). Otherwise: write "
                                      "this motor from the database into the controllers on the ports."),
                                   QStringLiteral("NAME"));
    const QCommandLineOption importMotors(QStringLiteral("import-motors"),
                                          tr("Read the motors of a motor file into the database and exit."),
                                          QStringLiteral("FILE"));
    const QCommandLineOption overwrite(QStringLiteral("overwrite"),
                                       tr("With --import-motors: replace the whole motor list instead of adding."));
    const QCommandLineOption listPorts(QStringLiteral("list-ports"),
                                       tr("List the serial ports, tell the maker's adapter and whether each can be opened, and exit."));
    const QCommandLineOption supportBundle(QStringLiteral("support-bundle"),
                                           tr("Write a support bundle (zip) for whoever helps you, and exit."),
                                           QStringLiteral("FILE"));
    const QCommandLineOption flash(QStringLiteral("flash"),
                                   tr("Write a firmware image into the connected controller (or the one waiting in "
                                      "its bootloader), or into the controllers on several ports at once, and exit: 0 "
                                      "when every controller succeeded."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption settings(QStringLiteral("settings"),
                                      tr("Write an ESC settings file into the controllers on the ports (after --flash), "
                                         "each write confirmed by the controller, and exit: 0 when every port succeeded."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption allAdapters(QStringLiteral("all-adapters"),
                                         tr("With --flash, --settings or --motor: work on every port of the maker's "
                                            "adapter at once."));
    const QCommandLineOption report(QStringLiteral("report"),
                                    tr("With --flash, --settings or --motor: write the summary table as CSV."),
                                    QStringLiteral("FILE"));
    parser.addOptions({demo, port, dataDir, exportMotors, motor, importMotors, overwrite, listPorts, supportBundle, flash,
                       settings, allAdapters, report});
    // The line recorder's options.
    const QCommandLineOption capture(QStringLiteral("capture"),
                                     tr("Record everything on the serial line (both directions, with time stamps) "
                                        "into a pcap file for Wireshark or --decode."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption decode(QStringLiteral("decode"),
                                    tr("Print a line capture as text (time, direction, message, fields) and exit."),
                                    QStringLiteral("FILE"));
    parser.addOptions({capture, decode});

    CommandLineOptions options;
    const auto invalid = [&options](const QString &error) {
        options.command = CommandLineOptions::Command::Invalid;
        options.error = error;
        return options;
    };
    if (!parser.parse(arguments))
        return invalid(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return invalid(tr("Unexpected argument: %1").arg(parser.positionalArguments().constFirst()));

    options.demo = parser.isSet(demo);
    options.portSpecs = parser.values(port);
    options.dataDirectory = parser.value(dataDir);
    options.motorNames = parser.values(motor);
    options.overwrite = parser.isSet(overwrite);

    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        options.command = CommandLineOptions::Command::ShowHelp;
        if (QCoreApplication::instance())
            options.helpText = parser.helpText();
        return options;
    }
    if (parser.isSet(version)) {
        options.command = CommandLineOptions::Command::ShowVersion;
        return options;
    }
    if (parser.isSet(exportMotors) && parser.isSet(importMotors))
        return invalid(tr("--export-motors and --import-motors cannot be combined."));
    const bool production = parser.isSet(flash) || parser.isSet(settings);
    if (int(parser.isSet(exportMotors) || parser.isSet(importMotors)) + int(parser.isSet(listPorts))
            + int(parser.isSet(supportBundle)) + int(production) > 1)
        return invalid(tr("Give only one of --export-motors, --import-motors, --list-ports, --support-bundle and "
                              "--flash or --settings."));
    if (parser.isSet(listPorts))
        options.command = CommandLineOptions::Command::ListPorts;
    if (parser.isSet(flash)) {
        options.command = CommandLineOptions::Command::Flash; // or Production, below
        options.firmwareFile = parser.value(flash);
        if (options.firmwareFile.isEmpty())
            return invalid(tr("The firmware file name is empty."));
    }
    if (parser.isSet(supportBundle)) {
        options.command = CommandLineOptions::Command::SupportBundle;
        options.bundleFile = parser.value(supportBundle);
        if (options.bundleFile.isEmpty())
            return invalid(tr("The support bundle file name is empty."));
    }
    if (parser.isSet(exportMotors)) {
        options.command = CommandLineOptions::Command::ExportMotors;
        options.motorFile = parser.value(exportMotors);
    } else if (parser.isSet(importMotors)) {
        options.command = CommandLineOptions::Command::ImportMotors;
        options.motorFile = parser.value(importMotors);
    }
    if (options.command == CommandLineOptions::Command::Flash || options.command == CommandLineOptions::Command::RunWindow
        || options.command == CommandLineOptions::Command::Production) {
        options.settingsFile = parser.value(settings);
        options.reportFile = parser.value(report);
        options.allAdapters = parser.isSet(allAdapters);
        if (parser.isSet(settings) && options.settingsFile.isEmpty())
            return invalid(tr("The settings file name is empty."));
        if (parser.isSet(report) && options.reportFile.isEmpty())
            return invalid(tr("The report file name is empty."));
        // Several controllers, settings or a motor: the production line; one port with
        // only a firmware image: the plain --flash.
        const bool motorTask = !options.motorNames.isEmpty()
                               && (!options.portSpecs.isEmpty() || options.allAdapters || production);
        const bool severalPorts = options.portSpecs.size() > 1 || options.allAdapters;
        if (parser.isSet(settings) || motorTask || (parser.isSet(flash) && (severalPorts || parser.isSet(report))))
            options.command = CommandLineOptions::Command::Production;
    }
    if (options.motorNames.contains(QString()))
        return invalid(tr("The motor name is empty."));
    if (options.command == CommandLineOptions::Command::Production && options.motorNames.size() > 1)
        return invalid(tr("Give one --motor for the controllers."));
    if ((parser.isSet(allAdapters) || parser.isSet(report)) && options.command != CommandLineOptions::Command::Production)
        return invalid(tr("--all-adapters and --report are used only with --flash, --settings or --motor."));
    if (!options.motorNames.isEmpty() && options.command != CommandLineOptions::Command::ExportMotors
        && options.command != CommandLineOptions::Command::Production)
        return invalid(tr("--motor is used with --export-motors, or with --port, --flash or --settings."));
    if (options.overwrite && options.command != CommandLineOptions::Command::ImportMotors)
        return invalid(tr("--overwrite is used only with --import-motors."));
    if (parser.isSet(decode)) {
        if (options.command != CommandLineOptions::Command::RunWindow || parser.isSet(capture))
            return invalid(tr("--decode cannot be combined with another command or with --capture."));
        options.command = CommandLineOptions::Command::Decode;
        options.decodeFile = parser.value(decode);
        if (options.decodeFile.isEmpty())
            return invalid(tr("The capture file name is empty."));
    }
    if (parser.isSet(capture)) {
        options.captureFile = parser.value(capture);
        if (options.captureFile.isEmpty())
            return invalid(tr("The capture file name is empty."));
    }
    const bool motorCommand = options.command == CommandLineOptions::Command::ExportMotors
                              || options.command == CommandLineOptions::Command::ImportMotors;
    if (motorCommand && options.motorFile.isEmpty())
        return invalid(tr("The motor file name is empty."));
    return options;
}

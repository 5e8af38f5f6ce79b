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
                                   tr("With --export-motors: export only this motor (repeatable)."),
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
                                      "its bootloader) and exit: 0 on success."),
                                   QStringLiteral("FILE"));
    parser.addOptions({demo, port, dataDir, exportMotors, motor, importMotors, overwrite, listPorts, supportBundle, flash});

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
    if (int(parser.isSet(exportMotors) || parser.isSet(importMotors)) + int(parser.isSet(listPorts))
            + int(parser.isSet(supportBundle)) + int(parser.isSet(flash)) > 1)
        return invalid(tr("Give only one of --export-motors, --import-motors, --list-ports, --support-bundle and --flash."));
    if (parser.isSet(listPorts))
        options.command = CommandLineOptions::Command::ListPorts;
    if (parser.isSet(flash)) {
        options.command = CommandLineOptions::Command::Flash;
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
    if (!options.motorNames.isEmpty() && options.command != CommandLineOptions::Command::ExportMotors)
        return invalid(tr("--motor is used only with --export-motors."));
    if (options.overwrite && options.command != CommandLineOptions::Command::ImportMotors)
        return invalid(tr("--overwrite is used only with --import-motors."));
    const bool motorCommand = options.command == CommandLineOptions::Command::ExportMotors
                              || options.command == CommandLineOptions::Command::ImportMotors;
    if (motorCommand && options.motorFile.isEmpty())
        return invalid(tr("The motor file name is empty."));
    return options;
}

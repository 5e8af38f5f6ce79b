#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>

// What the program was asked to do on its command line.
struct CommandLineOptions
{
    enum class Command {
        RunWindow,      // the normal program
        ExportMotors,   // --export-motors FILE [--motor NAME]...
        ImportMotors,   // --import-motors FILE [--overwrite]
        ListPorts,      // --list-ports
        SupportBundle,  // --support-bundle FILE
        Flash,          // --flash FILE [--port PATH[@SERIAL]]
        Production,     // several ports at once: --flash, --settings, --motor, --report, --all-adapters
        Decode,         // --decode FILE: a line capture as text
        ShowHelp,
        ShowVersion,
        Invalid,        // see error
    };

    Command command = Command::RunWindow;
    bool demo = false;          // --demo: the built-in simulated controller
    QStringList portSpecs;      // --port PATH[@SERIAL], repeatable
    QString dataDirectory;      // --data-dir DIR; empty: the default choice
    QString motorFile;
    QStringList motorNames;     // --motor NAME, repeatable; empty: every motor
    bool overwrite = false;
    QString bundleFile;         // --support-bundle FILE
    QString firmwareFile;       // --flash FILE
    QString settingsFile;       // --settings FILE
    QString reportFile;         // --report FILE
    bool allAdapters = false;   // --all-adapters
    QString captureFile;        // --capture FILE: the serial line as a pcap file; empty: none
    QString decodeFile;         // --decode FILE
    QString error;
    QString helpText;
};

class CommandLine
{
    Q_DECLARE_TR_FUNCTIONS(CommandLine)

public:
    // arguments[0] is the program. Works before any application object exists (so the
    // program can choose a headless one for everything but the window); the help text is
    // filled only once a QCoreApplication exists.
    static CommandLineOptions parse(const QStringList &arguments);
};

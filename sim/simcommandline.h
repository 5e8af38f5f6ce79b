#pragma once

#include "sim/simconfig.h"

#include <QString>
#include <QStringList>

struct SimCommandLine
{
    SimulatorConfig config;
    QString linkPath;      // symbolic link to the pseudo-terminal; empty: none
    QString traceFile;     // every frame in and out, with a time stamp; empty: none
    QString flashDumpFile; // the simulated flash, written when the bootloader starts the application
    QString replayFile;    // a line capture whose controller side is played; empty: none
};

// Parses kordo-sim's arguments. --help prints every option and exits; an unknown option
// or a bad value gives false and a message.
bool parseSimCommandLine(const QStringList &arguments, SimCommandLine *out, QString *error);

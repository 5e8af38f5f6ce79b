#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QString>

#include <memory>

struct CommandLineOptions;
class LineRecorder;
class PortProvider;
class QTextStream;

// The program's side of the line recorder: every port it opens is tapped (the ring of the
// last minutes is always kept, for the support bundle), --capture writes a file as well,
// and --decode prints one.
class LineCaptureSetup
{
    Q_DECLARE_TR_FUNCTIONS(LineCaptureSetup)

public:
    // The provider's ports, tapped for the recorder.
    static std::unique_ptr<PortProvider> tapped(std::unique_ptr<PortProvider> ports, LineRecorder *recorder);
    // Starts the capture into `fileName` when it may take one (CaptureTarget: never one of
    // `commandFiles`, never a file of the data directory's stores, an existing file only
    // when it is a line capture); an empty text when it runs, else why it cannot.
    static QString startCapture(LineRecorder *recorder, const QString &fileName, const QStringList &commandFiles,
                                const QString &dataDirectory);
    // The files the command line names besides the capture: what the command reads or writes.
    static QStringList commandFiles(const CommandLineOptions &options);
    // --decode: one line per record; the exit code.
    static int decode(const QString &fileName, QTextStream &out, QTextStream &err);
};

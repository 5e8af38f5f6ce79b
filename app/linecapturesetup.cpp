#include "app/linecapturesetup.h"

#include "app/capturetarget.h"
#include "app/commandline.h"
#include "capture/capturingportprovider.h"
#include "capture/linedecoder.h"
#include "capture/linerecorder.h"
#include "capture/pcapfile.h"
#include "cli/filechecks.h"

#include <QFileInfo>
#include <QTextStream>

std::unique_ptr<PortProvider> LineCaptureSetup::tapped(std::unique_ptr<PortProvider> ports, LineRecorder *recorder)
{
    return std::make_unique<CapturingPortProvider>(std::move(ports), recorder);
}

QString LineCaptureSetup::startCapture(LineRecorder *recorder, const QString &fileName,
                                       const QStringList &commandFiles, const QString &dataDirectory)
{
    const QString problem = CaptureTarget::problem(fileName, commandFiles, dataDirectory);
    if (!problem.isEmpty())
        return problem;
    QString reason;
    if (!recorder->startCapture(fileName, &reason))
        return tr("The capture file %1 cannot be written: %2").arg(fileName, reason);
    return QString();
}

QStringList LineCaptureSetup::commandFiles(const CommandLineOptions &options)
{
    QStringList files {options.firmwareFile, options.settingsFile, options.reportFile, options.restoreFile,
                       options.diffFile,     options.motorFile,    options.bundleFile};
    files.removeAll(QString());
    return files;
}

int LineCaptureSetup::decode(const QString &fileName, QTextStream &out, QTextStream &err)
{
    QString problem = FileChecks::inputProblem(fileName);
    if (problem.isEmpty() && !QFileInfo::exists(fileName))
        problem = tr("The capture file %1 does not exist.").arg(fileName);
    // Record by record: a capture of any size takes the memory of one record.
    PcapReader reader;
    QString reason;
    if (problem.isEmpty() && !reader.open(fileName, &reason))
        problem = tr("%1 is not a line capture: %2").arg(fileName, reason);
    if (!problem.isEmpty()) {
        err << problem << Qt::endl;
        return 1;
    }
    LineCapture::Record record;
    while (reader.next(&record))
        out << LineDecoder::describe(record) << '\n';
    out.flush();
    if (reader.recordsSkipped() > 0)
        err << tr("%n record(s) of an unknown form (version, direction, kind or time) skipped.", "", reader.recordsSkipped())
            << Qt::endl;
    if (!reader.damage().isEmpty()) {
        err << tr("The capture %1 is damaged: decoding stopped at byte %2 of %3, after %4 record(s): %5.")
                   .arg(fileName)
                   .arg(reader.damageOffset())
                   .arg(reader.size())
                   .arg(reader.recordsRead() + reader.recordsSkipped())
                   .arg(reader.damage())
            << Qt::endl;
        return 1;
    }
    if (reader.recordsRead() + reader.recordsSkipped() == 0)
        err << tr("The capture %1 holds no records.").arg(fileName) << Qt::endl;
    return 0;
}

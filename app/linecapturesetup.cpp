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
    QVector<LineCapture::Record> records;
    QString reason;
    if (problem.isEmpty() && !PcapReader::read(fileName, &records, &reason))
        problem = tr("%1 is not a line capture: %2").arg(fileName, reason);
    if (!problem.isEmpty()) {
        err << problem << Qt::endl;
        return 1;
    }
    for (const LineCapture::Record &record : qAsConst(records))
        out << LineDecoder::describe(record) << '\n';
    out.flush();
    return 0;
}

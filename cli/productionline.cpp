#include "cli/productionline.h"

#include "cli/filechecks.h"
#include "cli/jsonlines.h"
#include "app/terminationsignals.h"
#include "device/settingsbackupcheck.h"
#include "device/settingsmodel.h"
#include "device/settingsrecords.h"
#include "device/settingssnapshots.h"
#include "motors/dbmanager.h"
#include "recording/wholefile.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

namespace {

QString seconds(qint64 milliseconds)
{
    return QString::number(double(milliseconds) / 1000.0, 'f', 1);
}

QByteArray csvField(const QString &text)
{
    QString field = text;
    if (field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) || field.contains(QLatin1Char('\n'))
        || field.contains(QLatin1Char('\r'))) {
        field.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        field = QLatin1Char('"') + field + QLatin1Char('"');
    }
    return field.toUtf8();
}

} // namespace

ProductionLine::ProductionLine(const Request &request, QTextStream &out, QTextStream &err)
    : m_request(request), m_out(out), m_err(err)
{
}

bool ProductionLine::refuse(const QString &reason)
{
    if (m_request.json)
        JsonLines::write(m_out, JsonLines::error(reason));
    m_err << reason << Qt::endl;
    m_refusal = reason;
    return false;
}

bool ProductionLine::prepare(ProductionOrder *order)
{
    if (!m_request.dataDirectory.isValid())
        return refuse(m_request.dataDirectory.errorString());
    if (m_request.ports.isEmpty())
        return refuse(tr("No port to work on: name them with --port, or use --all-adapters with the maker's adapters plugged in."));
    // Files named relative to where the program was started, whatever happens meanwhile.
    if (!m_request.reportFile.isEmpty()) {
        m_request.reportFile = QFileInfo(m_request.reportFile).absoluteFilePath();
        // The results of a run must not be lost at its end: the report is tried first.
        QString problem = FileChecks::outputProblem(m_request.reportFile);
        if (problem.isEmpty()) {
            QSaveFile probe(m_request.reportFile);
            if (!probe.open(QIODevice::WriteOnly))
                problem = probe.errorString();
            probe.cancelWriting();
        }
        if (!problem.isEmpty())
            return refuse(tr("The report %1 cannot be written: %2").arg(m_request.reportFile, problem));
    }
    m_reportUsable = !m_request.reportFile.isEmpty();
    if (!m_request.firmwareFile.isEmpty()) {
        const QFileInfo file(m_request.firmwareFile);
        if (!file.isFile() || !file.isReadable())
            return refuse(tr("The firmware file %1 cannot be opened.").arg(m_request.firmwareFile));
        order->firmwareFile = file.absoluteFilePath();
        order->updateWithoutBackup = m_request.withoutBackup;
    }
    if (!m_request.settingsFile.isEmpty()) {
        const QString problem = FileChecks::inputProblem(m_request.settingsFile);
        if (!problem.isEmpty())
            return refuse(problem);
        QFile file(m_request.settingsFile);
        if (!file.open(QIODevice::ReadOnly))
            return refuse(tr("The settings file %1 cannot be opened.").arg(m_request.settingsFile));
        const ImportedSettings settings = SettingsDocument::parse(file.read(SettingsDocument::MAX_FILE_SIZE + 1));
        if (settings.status != ImportedSettings::Status::Ok)
            return refuse(tr("The file %1 holds no ESC settings.").arg(m_request.settingsFile));
        // A file that names no field would be "written" without a word to any controller.
        if (settings.values.isEmpty() && settings.refused.isEmpty())
            return refuse(tr("The file %1 names no setting the controller knows.").arg(m_request.settingsFile));
        // Half a file is not written: the controllers would end up configured unlike the file.
        if (!settings.refused.isEmpty())
            return refuse(SettingsDocument::refusedValuesText(settings.refused));
        // A value out of range would be limited: the controllers would not hold the file's value.
        const QStringList limited = SettingsModel::outOfRange(settings.values);
        if (!limited.isEmpty())
            return refuse(tr("Values of the file %1 are out of range: %2")
                              .arg(m_request.settingsFile, limited.join(QStringLiteral(", "))));
        order->hasSettings = true;
        order->settings = settings.values;
    }
    if (m_request.restoreId != 0) {
        QString problem;
        SettingsSnapshots store(m_request.dataDirectory.databaseDirectory(&problem), m_request.dataDirectory.path());
        SettingsSnapshot snapshot;
        if (!store.find(m_request.restoreId, &snapshot, &problem))
            return refuse(tr("The settings backup %1 cannot be read: %2").arg(m_request.restoreId).arg(problem));
        // Checked as a settings file is, before any controller is touched.
        const QString wrong = SettingsBackupCheck::problemText(snapshot);
        if (!wrong.isEmpty())
            return refuse(tr("The settings backup %1 cannot be restored: %2.").arg(m_request.restoreId).arg(wrong));
        order->hasRestore = true;
        order->restore = snapshot;
    }
    if (!m_request.restoreFile.isEmpty()) {
        const QString problem = FileChecks::inputProblem(m_request.restoreFile);
        if (!problem.isEmpty())
            return refuse(problem);
        if (!QFileInfo::exists(m_request.restoreFile))
            return refuse(tr("The settings backup %1 is neither a backup number nor a file that exists (see --backups).")
                              .arg(m_request.restoreFile));
        QFile file(m_request.restoreFile);
        SettingsSnapshot snapshot;
        if (!file.open(QIODevice::ReadOnly)
            || !SettingsSnapshot::fromFileText(file.read(SettingsDocument::MAX_FILE_SIZE), &snapshot))
            return refuse(tr("The file %1 holds no settings backup.").arg(m_request.restoreFile));
        const QString wrong = SettingsBackupCheck::problemText(snapshot);
        if (!wrong.isEmpty())
            return refuse(tr("The settings backup %1 cannot be restored: %2.").arg(m_request.restoreFile, wrong));
        order->hasRestore = true;
        order->restore = snapshot;
    }
    if (!m_request.motorName.isEmpty()) {
        // Read once before the ports start: the jobs do not open the motor database, and a
        // missing motor stops the run before any controller is touched.
        QString problem;
        DbManager database(nullptr, m_request.dataDirectory.databaseDirectory(&problem));
        MOTOR_TOTAL motor;
        // A locked or damaged database is not a missing motor: it says what is wrong.
        if (!database.getMotorParams(m_request.motorName, &motor)) {
            const DbManager::Health health = database.health();
            if (health == DbManager::Health::Locked || health == DbManager::Health::Damaged
                || health == DbManager::Health::Unavailable)
                return refuse(database.problemText());
            return refuse(tr("The motor %1 is not in the motor database.").arg(m_request.motorName));
        }
        if (!DbManager::isUsable(motor))
            return refuse(tr("The motor \"%1\" has no usable values. Motor is not set!").arg(m_request.motorName));
        order->motorName = m_request.motorName;
        order->motor = motor;
    }
    m_recording.setWaitNotice([this](const QString &text) {
        if (m_request.json)
            JsonLines::write(m_out, JsonLines::progress(QString(), text));
        m_err << text << Qt::endl;
    });
    QString recordingProblem;
    if (!m_recording.prepare(m_request.results, *order, m_request.settingsFile, &recordingProblem))
        return refuse(recordingProblem);
    m_recording.connectWhileRunning();
    return true;
}

void ProductionLine::print(const QString &port, const QString &text)
{
    if (m_request.json)
        JsonLines::write(m_out, JsonLines::progress(port, text));
    else
        m_out << QStringLiteral("[%1] %2").arg(port, text) << Qt::endl;
}

QList<PortOutcome> ProductionLine::runJobs(const ProductionOrder &order)
{
    qRegisterMetaType<PortOutcome>();
    QEventLoop loop;
    QList<PortOutcome> outcomes;
    std::vector<std::unique_ptr<QThread>> threads;
    int running = 0;
    QStringList names;
    // The jobs still running, by thread; a terminating signal interrupts them all.
    std::map<QThread *, ProductionJob *> unfinished;
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &loop, [&unfinished] {
        for (const auto &entry : unfinished)
            QMetaObject::invokeMethod(entry.second, &ProductionJob::interrupt, Qt::QueuedConnection);
    });
    // The identification: nothing is written until every port has found its controller
    // or given up; one controller on two ports refuses the whole run.
    int unheard = m_request.ports.size();
    QList<QPair<QString, QString>> serials; // port, serial number, in the order heard
    const auto heardAll = [&] {
        const QString refusal = sameControllerTwice(serials);
        if (!refusal.isEmpty())
            m_refusal = refusal;
        for (const auto &entry : unfinished) {
            if (refusal.isEmpty())
                QMetaObject::invokeMethod(entry.second, &ProductionJob::proceed, Qt::QueuedConnection);
            else
                QMetaObject::invokeMethod(entry.second, [job = entry.second, refusal] {
                    job->standDown(refusal, tr("name each controller's port once and re-run"));
                }, Qt::QueuedConnection);
        }
    };
    for (const PortInfo &port : m_request.ports) {
        names << port.portName;
        auto thread = std::make_unique<QThread>();
        ProductionOrder jobOrder = order;
        jobOrder.captureLine = uint8_t(names.size() - 1); // the port's place in the run
        auto *job = new ProductionJob(port, jobOrder);
        job->moveToThread(thread.get());
        QObject::connect(thread.get(), &QThread::started, job, &ProductionJob::start);
        QObject::connect(thread.get(), &QThread::finished, job, &QObject::deleteLater);
        QObject::connect(job, &ProductionJob::progress, &loop,
                         [this](QString portName, QString text) { print(portName, text); });
        auto heard = std::make_shared<bool>(false);
        QObject::connect(job, &ProductionJob::identified, &loop, [&, heard](QString portName, QString serial) {
            *heard = true;
            serials.append({portName, serial});
            if (--unheard == 0)
                heardAll();
        });
        QThread *jobThread = thread.get();
        QObject::connect(job, &ProductionJob::finished, &loop, [&, jobThread, heard](PortOutcome outcome) {
            if (m_request.json)
                JsonLines::write(m_out, JsonLines::finished(outcome));
            else
                print(outcome.port, outcome.success ? tr("done") : outcome.result);
            outcomes.append(outcome);
            unfinished.erase(jobThread);
            jobThread->quit();
            if (!*heard && --unheard == 0)
                heardAll();
            if (--running == 0)
                loop.quit();
        });
        unfinished[jobThread] = job;
        threads.push_back(std::move(thread));
        ++running;
    }
    for (const auto &thread : threads)
        thread->start();
    loop.exec();
    for (const auto &thread : threads)
        thread->wait();
    // In the order the ports were named, whatever order they finished in.
    std::sort(outcomes.begin(), outcomes.end(), [&names](const PortOutcome &a, const PortOutcome &b) {
        return names.indexOf(a.port) < names.indexOf(b.port);
    });
    return outcomes;
}

QString ProductionLine::sameControllerTwice(const QList<QPair<QString, QString>> &serials)
{
    for (int i = 0; i < serials.size(); ++i) {
        for (int j = i + 1; j < serials.size(); ++j) {
            if (!serials[i].second.isEmpty() && serials[i].second == serials[j].second)
                return tr("The controller %1 answers on the ports %2 and %3: the run is refused and nothing was written.")
                    .arg(serials[i].second, serials[i].first, serials[j].first);
        }
    }
    return QString();
}

int ProductionLine::run()
{
    ProductionOrder order(m_request.dataDirectory);
    order.findTimeoutMs = m_request.findTimeoutMs;
    order.lineRecorder = m_request.lineRecorder;
    if (!prepare(&order)) {
        // An older report must not stand for this run: once its file may be written, it
        // says that no port was worked on, and why.
        if (m_reportUsable) {
            QList<PortOutcome> refused;
            for (const PortInfo &port : qAsConst(m_request.ports)) {
                PortOutcome outcome;
                outcome.port = port.portName;
                outcome.result = m_refusal;
                outcome.advice = tr("correct the command or its files and re-run");
                refused << outcome;
            }
            writeReport(refused);
        }
        return 1;
    }
    const QList<PortOutcome> outcomes = runJobs(order);
    if (!m_refusal.isEmpty())
        m_err << m_refusal << Qt::endl;
    int failed = 0;
    for (const PortOutcome &outcome : outcomes)
        failed += outcome.success ? 0 : 1;
    // The results are recorded before the summary is printed: it says where they are.
    ProductionRecording::Recorded recorded = m_recording.record(outcomes, failed == 0 ? 0 : 1);
    if (!m_request.reportFile.isEmpty() && !writeReport(outcomes))
        recorded.exitStatus = 1;
    if (m_request.json) {
        for (const PortOutcome &outcome : outcomes)
            JsonLines::write(m_out, JsonLines::result(outcome));
        JsonLines::write(m_out, ProductionRecording::summary(outcomes.size() - failed, outcomes.size(), recorded));
    } else {
        m_out << Qt::endl << table(outcomes);
        m_out << tr("%1 of %2 ports succeeded.").arg(outcomes.size() - failed).arg(outcomes.size()) << Qt::endl;
        if (!recorded.message.isEmpty() && recorded.status != ResultsRecorder::Status::Lost)
            m_out << recorded.message << Qt::endl;
    }
    if (recorded.status == ResultsRecorder::Status::Lost && !recorded.message.isEmpty())
        m_err << recorded.message << Qt::endl;
    return recorded.exitStatus;
}

bool ProductionLine::writeReport(const QList<PortOutcome> &outcomes)
{
    QString problem;
    if (!WholeFile::write(m_request.reportFile, csv(outcomes), &problem)) {
        m_err << tr("The report %1 cannot be written: %2").arg(m_request.reportFile, problem) << Qt::endl;
        return false;
    }
    return true;
}

QString ProductionLine::deviceOf(const PortInfo &port)
{
    const QString location = port.systemLocation.isEmpty() ? port.portName : port.systemLocation;
    const QFileInfo file(location);
    const QString canonical = file.canonicalFilePath(); // links resolved; empty when it does not exist
    return !canonical.isEmpty() ? canonical : file.isAbsolute() ? file.absoluteFilePath() : location;
}

QList<PortInfo> ProductionLine::portsToWorkOn(const QList<PortInfo> &named, const QList<PortInfo> &present,
                                              bool allAdapters)
{
    QList<PortInfo> ports;
    QStringList devices;
    const auto add = [&](const PortInfo &port) {
        const QString device = deviceOf(port);
        if (!devices.contains(device)) {
            devices << device;
            ports << port;
        }
    };
    for (const PortInfo &port : named)
        add(port);
    if (allAdapters) {
        for (const PortInfo &port : present) {
            if (port.isAdapter())
                add(port);
        }
    }
    return ports;
}

QString ProductionLine::table(const QList<PortOutcome> &outcomes)
{
    QList<QStringList> rows;
    rows << QStringList {tr("Port"), tr("Serial"), tr("Before"), tr("After"), tr("Result"), tr("Time"), tr("What to do")};
    for (const PortOutcome &o : outcomes)
        rows << QStringList {o.port, o.serialNumber, o.firmwareBefore, o.firmwareAfter, o.result,
                             seconds(o.milliseconds) + QStringLiteral(" s"), o.advice};
    QVector<int> widths(rows.first().size(), 0);
    for (const QStringList &row : qAsConst(rows))
        for (int i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], int(row[i].size()));
    QString text;
    for (const QStringList &row : qAsConst(rows)) {
        QString line;
        for (int i = 0; i < row.size(); ++i)
            line += (i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i]);
        text += line.trimmed() + QLatin1Char('\n');
    }
    return text;
}

QByteArray ProductionLine::csv(const QList<PortOutcome> &outcomes)
{
    QByteArray text = "port,serial,firmware_before,firmware_after,result,reason,time_s,what_to_do\n";
    for (const PortOutcome &o : outcomes) {
        const QStringList fields {o.port, o.serialNumber, o.firmwareBefore, o.firmwareAfter,
                                  o.success ? QStringLiteral("ok") : QStringLiteral("failed"),
                                  o.success ? QString() : o.result, seconds(o.milliseconds), o.advice};
        QByteArrayList encoded;
        for (const QString &field : fields)
            encoded << csvField(field);
        text += encoded.join(',') + '\n';
    }
    return text;
}

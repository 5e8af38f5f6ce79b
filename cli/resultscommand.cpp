#include "cli/resultscommand.h"

#include "cli/jsonlines.h"
#include "cli/terminaltext.h"
#include "results/resultsrecorder.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QPair>
#include <QTextStream>

#include <algorithm>

ResultsCommand::ResultsCommand(const DataDirectory &dataDirectory, const QString &resultsDb, QTextStream &out,
                               QTextStream &err)
    : m_dataDirectory(dataDirectory), m_resultsDb(resultsDb), m_out(out), m_err(err)
{
}

int ResultsCommand::fail(const QString &message, bool json)
{
    if (json)
        JsonLines::write(m_out, JsonLines::error(message));
    m_err << message << Qt::endl;
    return 1;
}

bool ResultsCommand::locate(ResultsLocation *target, QString *outbox)
{
    QString problem;
    if (!m_dataDirectory.isValid()) {
        m_err << m_dataDirectory.errorString() << Qt::endl;
        return false;
    }
    const QString databaseDirectory = m_dataDirectory.databaseDirectory(&problem);
    if (databaseDirectory.isEmpty()) {
        m_err << problem << Qt::endl;
        return false;
    }
    if (!ResultsRecorder::fromUrl(m_resultsDb, databaseDirectory, target, outbox, &problem)) {
        m_err << problem << Qt::endl;
        return false;
    }
    return true;
}

int ResultsCommand::syncResults()
{
    ResultsLocation target;
    QString outbox;
    if (!locate(&target, &outbox))
        return 1;
    ResultsRecorder recorder(target, outbox);
    recorder.setWaitNotice([this](const QString &text) { m_err << text << Qt::endl; });
    const ResultsRecorder::SyncOutcome sent = recorder.sync();
    if (sent.sent > 0)
        m_out << tr("Runs sent from the outbox to %1: %2.").arg(target.displayName()).arg(sent.sent) << Qt::endl;
    if (!sent.ok) {
        m_err << tr("Runs still waiting in the outbox %1: %2 (%3)").arg(outbox).arg(sent.waiting).arg(sent.error)
              << Qt::endl;
        return 1;
    }
    if (sent.sent == 0)
        m_out << tr("No results wait in the outbox.") << Qt::endl;
    return 0;
}

namespace {

QString timeText(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QJsonObject historyObject(const HistoryEntry &entry)
{
    const RunRecord &run = entry.run;
    const ResultRecord &result = entry.result;
    return QJsonObject {{QStringLiteral("event"), QStringLiteral("history")},
                        {QStringLiteral("serial"), result.serial},
                        {QStringLiteral("run"), run.id},
                        {QStringLiteral("station"), run.station},
                        {QStringLiteral("operator"), run.operatorName},
                        {QStringLiteral("started"), timeText(run.started)},
                        {QStringLiteral("ended"), timeText(run.ended)},
                        {QStringLiteral("program_version"), run.programVersion},
                        {QStringLiteral("image_sha256"), run.imageSha256},
                        {QStringLiteral("settings_sha256"), run.settingsSha256},
                        {QStringLiteral("motor"), run.motor},
                        {QStringLiteral("port"), result.port},
                        {QStringLiteral("firmware_before"), result.firmwareBefore},
                        {QStringLiteral("firmware_after"), result.firmwareAfter},
                        {QStringLiteral("result"), result.success ? QStringLiteral("ok") : QStringLiteral("failed")},
                        {QStringLiteral("reason"), result.reason},
                        {QStringLiteral("what_to_do"), result.advice},
                        {QStringLiteral("time_s"), double(result.milliseconds) / 1000.0},
                        {QStringLiteral("finished"), timeText(result.finished)},
                        {QStringLiteral("settings_fields"), QJsonArray::fromStringList(result.settingsFields)}};
}

} // namespace

int ResultsCommand::history(const QString &serial, bool json)
{
    ResultsLocation target;
    QString outbox;
    if (!locate(&target, &outbox)) {
        if (json)
            JsonLines::write(m_out, JsonLines::error(tr("The results database cannot be used.")));
        return 1;
    }
    ResultsStore store(target);
    store.setWaitNotice([this](const QString &text) { m_err << text << Qt::endl; });
    bool reached = false;
    const QList<HistoryEntry> recorded = store.history(serial, &reached);
    // The database away: this station's outbox still holds its own runs, shown as waiting.
    if (!reached) {
        const QString message = tr("The results database cannot be reached (%1): only the runs waiting in this "
                                   "station's outbox are shown.")
                                    .arg(store.errorString());
        if (json)
            JsonLines::write(m_out, JsonLines::error(message));
        m_err << message << Qt::endl;
    }
    QList<QPair<HistoryEntry, bool>> entries; // the entry, whether it waits in the outbox
    for (const HistoryEntry &entry : recorded)
        entries.append({entry, false});
    bool outboxRead = true;
    QString outboxProblem;
    if (QFileInfo::exists(outbox)) {
        ResultsStore outboxStore(ResultsLocation::sqlite(outbox));
        const QList<HistoryEntry> waiting = outboxStore.history(serial, &outboxRead);
        outboxProblem = outboxStore.errorString();
        for (const HistoryEntry &entry : waiting)
            entries.append({entry, true});
        std::stable_sort(entries.begin(), entries.end(), [](const auto &a, const auto &b) {
            return a.first.result.finished > b.first.result.finished;
        });
    }
    const auto exitStatus = [&] {
        if (!outboxRead) {
            const QString message = tr("The outbox %1 cannot be read: %2").arg(outbox, outboxProblem);
            if (json)
                JsonLines::write(m_out, JsonLines::error(message));
            m_err << message << Qt::endl;
        }
        return reached && outboxRead ? 0 : 1;
    };
    if (json) {
        for (const auto &entry : qAsConst(entries)) {
            QJsonObject object = historyObject(entry.first);
            object.insert(QStringLiteral("outbox"), entry.second);
            JsonLines::write(m_out, object);
        }
        return exitStatus();
    }
    // What the shared database holds reaches the terminal with its control characters escaped.
    const auto shown = &TerminalText::escaped;
    if (entries.isEmpty()) {
        if (reached)
            m_out << tr("No run is recorded for the controller %1 in %2.").arg(shown(serial), target.displayName())
                  << Qt::endl;
        return exitStatus();
    }
    QList<QStringList> rows;
    rows << QStringList {tr("Finished"), tr("Result"), tr("Before"), tr("After"), tr("Station"), tr("Operator"),
                         tr("Port"), tr("Motor"), tr("Reason")};
    for (const auto &entry : qAsConst(entries)) {
        const ResultRecord &r = entry.first.result;
        const QString result = r.success ? tr("ok") : tr("failed");
        rows << QStringList {r.finished.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                             entry.second ? tr("%1, waiting in the outbox").arg(result) : result,
                             shown(r.firmwareBefore), shown(r.firmwareAfter), shown(entry.first.run.station),
                             shown(entry.first.run.operatorName), shown(r.port), shown(entry.first.run.motor),
                             shown(r.reason)};
    }
    QVector<int> widths(rows.first().size(), 0);
    for (const QStringList &row : qAsConst(rows))
        for (int i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], int(row[i].size()));
    m_out << tr("Controller %1, results recorded: %2").arg(shown(serial)).arg(entries.size()) << Qt::endl;
    for (const QStringList &row : qAsConst(rows)) {
        QString line;
        for (int i = 0; i < row.size(); ++i)
            line += (i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i]);
        m_out << line.trimmed() << Qt::endl;
    }
    return exitStatus();
}

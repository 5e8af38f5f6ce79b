#pragma once

#include "cli/productionjob.h"

#include <QJsonObject>
#include <QString>

class QTextStream;

// --json: one compact JSON object per line, each with an "event" naming what it tells
// (the fields are listed in the README).
namespace JsonLines {

void write(QTextStream &out, const QJsonObject &object);

// {"event":"progress","port":…,"text":…}
QJsonObject progress(const QString &port, const QString &text);
// {"event":"finished","port":…,"success":…,"text":…}: one port is done.
QJsonObject finished(const PortOutcome &outcome);
// {"event":"result",…}: a row of the summary table, the columns of the CSV report.
QJsonObject result(const PortOutcome &outcome);
// {"event":"error","message":…}: the command did not run, or part of it failed.
QJsonObject error(const QString &message);
// {"event":"capture","file":…,"message":…}: the capture file cannot be written on; the run goes on.
QJsonObject captureFailed(const QString &file, const QString &message);

} // namespace JsonLines

#include "cli/jsonlines.h"

#include <QJsonDocument>
#include <QTextStream>

namespace JsonLines {

void write(QTextStream &out, const QJsonObject &object)
{
    out << QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) << '\n';
    out.flush(); // a test stand reads each line as it comes
}

QJsonObject progress(const QString &port, const QString &text)
{
    return QJsonObject {{QStringLiteral("event"), QStringLiteral("progress")},
                        {QStringLiteral("port"), port},
                        {QStringLiteral("text"), text}};
}

QJsonObject finished(const PortOutcome &outcome)
{
    return QJsonObject {{QStringLiteral("event"), QStringLiteral("finished")},
                        {QStringLiteral("port"), outcome.port},
                        {QStringLiteral("success"), outcome.success},
                        {QStringLiteral("text"), outcome.result}};
}

QJsonObject result(const PortOutcome &outcome)
{
    return QJsonObject {{QStringLiteral("event"), QStringLiteral("result")},
                        {QStringLiteral("port"), outcome.port},
                        {QStringLiteral("serial"), outcome.serialNumber},
                        {QStringLiteral("firmware_before"), outcome.firmwareBefore},
                        {QStringLiteral("firmware_after"), outcome.firmwareAfter},
                        {QStringLiteral("result"), outcome.success ? QStringLiteral("ok") : QStringLiteral("failed")},
                        {QStringLiteral("reason"), outcome.success ? QString() : outcome.result},
                        {QStringLiteral("time_s"), double(outcome.milliseconds) / 1000.0},
                        {QStringLiteral("what_to_do"), outcome.advice}};
}

QJsonObject captureFailed(const QString &file, const QString &message)
{
    return QJsonObject {{QStringLiteral("event"), QStringLiteral("capture")},
                        {QStringLiteral("file"), file},
                        {QStringLiteral("message"), message}};
}

QJsonObject error(const QString &message)
{
    return QJsonObject {{QStringLiteral("event"), QStringLiteral("error")}, {QStringLiteral("message"), message}};
}

} // namespace JsonLines

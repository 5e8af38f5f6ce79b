#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>

class QTextStream;

// The headless commands for helping a user: list the serial ports with the maker's adapter
// and whether each opens, and write a support bundle of what is available without a
// connected controller. Each returns the exit code.
class DiagnosticsCommand
{
    Q_DECLARE_TR_FUNCTIONS(DiagnosticsCommand)

public:
    // extraPortSpecs: the --port PATH[@SERIAL] ports.
    DiagnosticsCommand(const QStringList &extraPortSpecs, QTextStream &out, QTextStream &err);

    // json: one {"event":"port",…} object per port instead of text.
    int listPorts(bool json = false);
    // logDirectory may be empty (no data directory): the bundle then has no device log.
    int writeSupportBundle(const QString &fileName, const QString &program, const QString &logDirectory);

private:
    QString probedPortList() const;

    QStringList m_extraPortSpecs;
    QTextStream &m_out;
    QTextStream &m_err;
};

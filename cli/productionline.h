#pragma once

#include "cli/productionjob.h"
#include "cli/productionrecording.h"

#include <QCoreApplication>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class QTextStream;

// Flashes and configures the controllers on several ports at once, headless: one job (with
// its own coordinator) per port, each in its own thread. Prints "[port] text" progress
// lines and, at the end, a summary table; writes the table as CSV when asked. Returns the
// exit code: 0 only when every port succeeded.
class ProductionLine
{
    Q_DECLARE_TR_FUNCTIONS(ProductionLine)

public:
    struct Request
    {
        explicit Request(const DataDirectory &directory) : dataDirectory(directory) {}

        QString firmwareFile;
        bool withoutBackup = false;   // --without-backup: update when the settings can be kept nowhere
        QString settingsFile;
        QString motorName;
        qint64 restoreId = 0;     // a settings backup to write back instead of a settings file
        QString restoreFile;      // or a backup file (one the database could not take)
        QString reportFile;
        QList<PortInfo> ports;    // the ports to work on
        DataDirectory dataDirectory;
        int findTimeoutMs = ProductionOrder::DEFAULT_FIND_TIMEOUT_MS; // a port without a controller
        ProductionRecording::Options results; // where the results are recorded
        bool json = false;        // one JSON object per line instead of text
        LineRecorder *lineRecorder = nullptr; // --capture: every port, each as its own line (0, 1, ...)
    };

    ProductionLine(const Request &request, QTextStream &out, QTextStream &err);

    int run();

    // The named ports in their order, then, with allAdapters, every other port of the
    // maker's adapter among those present; each device once, however it is named (a link
    // in /dev/serial/by-id beside /dev/ttyUSB0): the first name given is kept.
    static QList<PortInfo> portsToWorkOn(const QList<PortInfo> &named, const QList<PortInfo> &present,
                                         bool allAdapters);

    // The summary as the terminal shows it and as CSV.
    static QString table(const QList<PortOutcome> &outcomes);
    static QByteArray csv(const QList<PortOutcome> &outcomes);

    // The device file a port stands for, links resolved.
    static QString deviceOf(const PortInfo &port);

    // Why the run is refused when one serial number was found on two ports (port, serial
    // number pairs; an empty serial number is a controller in its bootloader), else empty.
    static QString sameControllerTwice(const QList<QPair<QString, QString>> &serials);

private:
    bool prepare(ProductionOrder *order);
    bool refuse(const QString &reason); // says why the run is not done; returns false
    bool writeReport(const QList<PortOutcome> &outcomes);
    QList<PortOutcome> runJobs(const ProductionOrder &order);
    void print(const QString &port, const QString &text);

    Request m_request;
    QTextStream &m_out;
    QTextStream &m_err;
    QString m_refusal;
    bool m_reportUsable = false;
    ProductionRecording m_recording;
};

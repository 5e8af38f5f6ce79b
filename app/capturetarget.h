#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QStringList>

// Where --capture may write, checked before any port is opened: a regular file or none yet,
// never one of the files the command itself reads or writes, never a file of the program's
// own stores in the data directory (databases, logs, samples, its settings, its backups),
// and an existing file only when it already is a line capture. Links are followed first, so
// that no name leads around these rules.
class CaptureTarget
{
    Q_DECLARE_TR_FUNCTIONS(CaptureTarget)

public:
    // Empty when `fileName` may take the capture, else why not. `commandFiles`: the other
    // files named on the command line; `dataDirectory`: the program's (empty: none).
    static QString problem(const QString &fileName, const QStringList &commandFiles, const QString &dataDirectory);

    // Whether the bytes start as a line capture does: the pcap magic (either byte order)
    // and the line's link type.
    static bool isLineCapture(const QByteArray &header);

    // The absolute path `fileName` stands for once every link on the way is followed,
    // also when the file (or the file a link points to) does not exist yet.
    static QString resolved(const QString &fileName);
};

#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

class QFileDevice;

// Files that never lie about what they hold: every write and the commit checked, and a
// failure told with its cause in the user's words ("the disk is full"); and files read only
// when they are regular files.
//
// Qt's buffered QSaveFile commits a file whose flush failed (a full disk leaves it empty or
// cut, and commit() still says yes), so files are written unbuffered here: a short write is
// seen at once and nothing is committed after it.
class WholeFile
{
    Q_DECLARE_TR_FUNCTIONS(WholeFile)

public:
    // Writes `bytes` to `path` through a temporary file that replaces `path` only once every
    // byte is written; on failure an earlier file stays as it was, and `problem` says why.
    static bool write(const QString &path, const QByteArray &bytes, QString *problem);

    // Writes all of `bytes` to `file`, which must be open unbuffered, so that a failed write
    // is a failure of the file system and not of a later flush. False with the cause when not
    // all of it went; how much did is left to the caller (the file's size).
    static bool writeAll(QFileDevice &file, const QByteArray &bytes, QString *problem);

    // Reads at most `maxBytes` of `path`, only when it is a regular file once links are
    // followed: a FIFO or a device named like the file the user meant would hold the program
    // or never end. False with the cause when it is not one or cannot be read.
    static bool read(const QString &path, qint64 maxBytes, QByteArray *content, QString *problem);

    // The cause of the failed file operation just made on `file`: the system's error number
    // `errorNumber` (errno right after it), else the file's own error.
    static QString cause(int errorNumber, const QFileDevice &file);
};

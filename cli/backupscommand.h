#pragma once

#include "app/datadirectory.h"

#include <QCoreApplication>
#include <QString>

class PortProvider;
class QTextStream;

// The settings backups of the data directory from the command line: list them, prune the
// old ones, and compare a settings file with what a controller holds. (Writing one back is
// the production line's settings step: --restore-backup.)
class BackupsCommand
{
    Q_DECLARE_TR_FUNCTIONS(BackupsCommand)

public:
    // Exit codes of diffSettings.
    enum DiffResult { Equal = 0, Differ = 1, DiffError = 2 };
    // How long the port may stay without a controller whose settings are read.
    static constexpr int FIND_TIMEOUT_MS = 20000;

    BackupsCommand(const DataDirectory &dataDirectory, QTextStream &out, QTextStream &err);

    // --json: one JSON object per line instead of text (errors also as text on err).
    void setJson(bool json) { m_json = json; }

    // id, time (local), serial, firmware, reason; newest first; of one controller when
    // serial is not empty. 0, or 1 when the database cannot be read.
    int list(const QString &serial);
    // Removes the backups older than `days` days, in the database and the backup files;
    // says how many. 1 when the database cannot be pruned or a file cannot be removed.
    int prune(int days);
    // The fields in which the controller on `portName` differs from the settings file:
    // Equal, Differ, or DiffError (the file or the controller could not be read).
    int diffSettings(PortProvider *ports, const QString &portName, const QString &fileName,
                     int findTimeoutMs = FIND_TIMEOUT_MS);

private:
    // Says why on err (and as an "error" line with --json); returns `code`.
    int fail(const QString &message, int code);

    DataDirectory m_dataDirectory;
    QTextStream &m_out;
    QTextStream &m_err;
    bool m_json = false;
};

#pragma once

#include "app/datadirectory.h"
#include "cli/productionjob.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

class PortProvider;
class QTextStream;

// Headless firmware update for production lines: the coordinator without a window writes
// an image into the one controller on the line, a running one (reset into its bootloader)
// or one already waiting in its bootloader. Prints the steps and the progress to `out`,
// the failure with its error code and message to `err`, and returns the exit code.
// Holds no global state: several may run side by side, one per port.
class FlashCommand
{
    Q_DECLARE_TR_FUNCTIONS(FlashCommand)

public:
    // How long the line may stay without a controller before the command gives up.
    static constexpr int FIND_TIMEOUT_MS = 20000;
    // How long the new firmware may take to answer after the update.
    static constexpr int RETURN_TIMEOUT_MS = 20000;

    // `portNames`: the ports the user named (--port); empty: the only port there is.
    FlashCommand(PortProvider *ports, const DataDirectory &dataDirectory, const QStringList &portNames,
                 QTextStream &out, QTextStream &err);

    int run(const QString &fileName);

    // --json: the steps as {"event":"progress",…} lines, the failure as {"event":"error",…}.
    void setJson(bool json) { m_json = json; }
    // --without-backup: the update goes on when the controller's settings can be kept nowhere;
    // otherwise it is not started, and the run fails.
    void setWithoutBackup(bool withoutBackup) { m_withoutBackup = withoutBackup; }
    // What the run did to the controller, as a row of the production line's table.
    const PortOutcome &outcome() const { return m_outcome; }
    // Whether the update was started on a controller (not for a bad image or no controller).
    bool touchedController() const { return m_touched; }

private:
    void say(const QString &text);

    PortProvider *m_ports;
    DataDirectory m_dataDirectory;
    QStringList m_portNames;
    QTextStream &m_out;
    QTextStream &m_err;
    bool m_json = false;
    bool m_withoutBackup = false;
    bool m_touched = false;
    PortOutcome m_outcome;
};

#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// The standalone simulated controller (kordo-sim) on a pseudo-terminal, linked at a path
// in a temporary directory, or at `linkPath` (a controller unplugged and plugged in again
// comes back at the same path). Started on construction; killed on destruction.
class SimProcess
{
public:
    explicit SimProcess(const QStringList &options = {}, int readyTimeoutMs = 10000,
                        const QString &linkPath = QString())
    {
        m_linkPath = linkPath.isEmpty() ? m_dir.filePath(QStringLiteral("ttyKORDO")) : linkPath;
        const QString binDir = qEnvironmentVariable("KORDO_BIN_DIR", QStringLiteral(KORDO_DEFAULT_BIN_DIR));
        m_process.start(QDir(binDir).filePath(QStringLiteral("kordo-sim")),
                        QStringList {QStringLiteral("--link"), m_linkPath} + options);
        if (!m_process.waitForStarted(readyTimeoutMs))
            return;
        while (!m_ready && m_process.state() == QProcess::Running && m_process.waitForReadyRead(readyTimeoutMs))
            m_ready = m_process.readAllStandardOutput().startsWith("ready ");
    }

    ~SimProcess()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
        // Killed, the simulator cannot remove its link; left behind, the link would lead to
        // whatever program gets the freed pseudo-terminal next (another test's controller).
        QFile::remove(m_linkPath);
    }

    bool isReady() const { return m_ready; }
    QString linkPath() const { return m_linkPath; }
    // The link as an extra port of the maker's adapter, chosen without asking.
    QString adapterPortSpec() const { return m_linkPath + QStringLiteral("@AE0001"); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_linkPath;
    bool m_ready = false;
};

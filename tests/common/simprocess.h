#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <csignal>
#include <map>
#include <sys/types.h>

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
    qint64 processId() const { return m_process.processId(); }

    // The frames the simulator counted so far, per message id: requests received (in) and
    // answers sent (out). Empty maps when it does not tell within the time.
    struct Counts
    {
        std::map<int, int> in;
        std::map<int, int> out;
    };
    Counts counts(int timeoutMs = 10000)
    {
        Counts counts;
        if (::kill(pid_t(m_process.processId()), SIGUSR1) != 0)
            return counts;
        QByteArray line;
        while (!line.endsWith('\n') && m_process.waitForReadyRead(timeoutMs))
            line += m_process.readAllStandardOutput();
        const QList<QByteArray> words = line.trimmed().split(' ');
        std::map<int, int> *into = nullptr;
        for (const QByteArray &word : words) {
            if (word == "in" || word == "out") {
                into = word == "in" ? &counts.in : &counts.out;
            } else if (into && word.contains('=')) {
                const QList<QByteArray> pair = word.split('=');
                (*into)[pair[0].toInt(nullptr, 16)] = pair[1].toInt();
            }
        }
        return counts;
    }

    // What the simulator wrote on stderr so far.
    QByteArray errorOutput()
    {
        m_stderr += m_process.readAllStandardError();
        return m_stderr;
    }
    QString linkPath() const { return m_linkPath; }
    // The link as an extra port of the maker's adapter, chosen without asking.
    QString adapterPortSpec() const { return m_linkPath + QStringLiteral("@AE0001"); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_linkPath;
    QByteArray m_stderr;
    bool m_ready = false;
};

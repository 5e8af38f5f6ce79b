#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

// A PostgreSQL server of the test's own in a temporary directory: initdb and pg_ctl from
// /usr/lib/postgresql/*/bin, a unix socket in the directory and a free TCP port on
// 127.0.0.1, the superuser "kordo" without password (trust). Run as root (initdb refuses
// root), the server runs as the unprivileged user nobody. Stopped on destruction, always.
//
//   PostgresServer pg;
//   if (!pg.isAvailable())
//       QSKIP(qPrintable(pg.problem()));
//   QVERIFY2(pg.start(), qPrintable(pg.problem()));
class PostgresServer
{
public:
    PostgresServer()
    {
        const QStringList versions =
            QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString &version : versions) {
            const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(version);
            if (QFile::exists(bin + QStringLiteral("/initdb")) && QFile::exists(bin + QStringLiteral("/pg_ctl")))
                m_bin = bin; // the newest, as the names sort
        }
        if (m_bin.isEmpty())
            m_problem = QStringLiteral("PostgreSQL is not installed (initdb and pg_ctl in /usr/lib/postgresql/*/bin): "
                                       "scripts/install-deps.sh installs it");
        else if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
            m_problem = QStringLiteral("Qt's PostgreSQL driver is missing (package libqt5sql5-psql)");
    }

    ~PostgresServer() { stop(); }

    // The binaries and Qt's driver are there (else problem() says what is missing).
    bool isAvailable() const { return !m_bin.isEmpty() && QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")); }

    PostgresServer(const PostgresServer &) = delete;
    PostgresServer &operator=(const PostgresServer &) = delete;

    // Makes the cluster the first time, then starts the server (again, on the same port,
    // after stop()). False with problem() when it cannot.
    bool start()
    {
        if (!isAvailable())
            return false;
        if (m_running)
            return true;
        if (!m_made && !make())
            return false;
        const QStringList options {
            QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off "
                           "-c full_page_writes=off -c max_connections=40")
                .arg(m_port)
                .arg(m_socketDir)};
        if (!run(QStringLiteral("pg_ctl"),
                 {QStringLiteral("-D"), m_dataDir, QStringLiteral("-l"), m_dir.filePath(QStringLiteral("pg/log")),
                  QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("-o"),
                  options.first(), QStringLiteral("start")}))
            return false;
        m_running = true;
        return true;
    }

    // Stops the server at once (a server that goes away, not a tidy shutdown).
    bool stop()
    {
        if (!m_running)
            return true;
        m_running = false;
        return run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), m_dataDir, QStringLiteral("-m"),
                                              QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")});
    }

    bool isRunning() const { return m_running; }
    QString problem() const { return m_problem; }
    int port() const { return m_port; }

    // A database of its own for one test.
    bool createDatabase(const QString &name)
    {
        bool ok = false;
        {
            QSqlDatabase db = connection(QStringLiteral("postgres"), QStringLiteral("pgserver.create"));
            if (db.open()) {
                QSqlQuery query(db);
                ok = query.exec(QStringLiteral("CREATE DATABASE %1").arg(name));
                if (!ok)
                    m_problem = query.lastError().text();
            } else {
                m_problem = db.lastError().text();
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("pgserver.create"));
        return ok;
    }

    QString url(const QString &database) const
    {
        return QStringLiteral("postgresql://kordo@127.0.0.1:%1/%2").arg(m_port).arg(database);
    }

    // A connection of the test's own (remove it with QSqlDatabase::removeDatabase).
    QSqlDatabase connection(const QString &database, const QString &connectionName) const
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName);
        db.setHostName(QStringLiteral("127.0.0.1"));
        db.setPort(m_port);
        db.setUserName(QStringLiteral("kordo"));
        db.setDatabaseName(database);
        return db;
    }

    // One number from a query, -1 when it fails.
    long long number(const QString &database, const QString &sql)
    {
        long long value = -1;
        {
            QSqlDatabase db = connection(database, QStringLiteral("pgserver.number"));
            if (db.open()) {
                QSqlQuery query(db);
                if (query.exec(sql) && query.next())
                    value = query.value(0).toLongLong();
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("pgserver.number"));
        return value;
    }

private:
    static int freePort()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0)
            return -1;
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t length = sizeof(address);
        int port = -1;
        if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0
            && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        ::close(fd);
        return port;
    }

    bool make()
    {
        if (!m_dir.isValid())
            return fail(QStringLiteral("no temporary directory"));
        const QString pgDir = m_dir.filePath(QStringLiteral("pg"));
        m_dataDir = pgDir + QStringLiteral("/data");
        m_socketDir = pgDir;
        if (!QDir().mkpath(pgDir))
            return fail(QStringLiteral("cannot make ") + pgDir);
        m_port = freePort();
        if (m_port <= 0)
            return fail(QStringLiteral("no free TCP port"));
        if (::geteuid() == 0) {
            // initdb refuses root: the server runs as nobody, in a folder nobody owns.
            const passwd *nobody = ::getpwnam("nobody");
            if (!nobody)
                return fail(QStringLiteral("running as root without a user nobody"));
            m_runAs = QStringLiteral("nobody");
            QFile::setPermissions(m_dir.path(), QFile::permissions(m_dir.path()) | QFileDevice::ExeOther);
            if (::chown(QFile::encodeName(pgDir).constData(), nobody->pw_uid, nobody->pw_gid) != 0)
                return fail(QStringLiteral("cannot hand ") + pgDir + QStringLiteral(" to nobody"));
        }
        if (!run(QStringLiteral("initdb"),
                 {QStringLiteral("-D"), m_dataDir, QStringLiteral("-U"), QStringLiteral("kordo"),
                  QStringLiteral("--auth=trust"), QStringLiteral("-E"), QStringLiteral("UTF8"),
                  QStringLiteral("--no-sync"), QStringLiteral("--no-instructions")}))
            return false;
        m_made = true;
        return true;
    }

    bool run(const QString &tool, const QStringList &arguments)
    {
        QProcess process;
        process.setWorkingDirectory(m_dir.path()); // one nobody may enter
        process.setProcessChannelMode(QProcess::MergedChannels);
        const QString program = m_bin + QLatin1Char('/') + tool;
        if (m_runAs.isEmpty())
            process.start(program, arguments);
        else
            process.start(QStringLiteral("runuser"),
                          QStringList {QStringLiteral("-u"), m_runAs, QStringLiteral("--"), program} + arguments);
        if (!process.waitForFinished(90000)) {
            process.kill();
            process.waitForFinished(5000);
            return fail(tool + QStringLiteral(" did not finish"));
        }
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            return fail(tool + QStringLiteral(" failed: ") + QString::fromLocal8Bit(process.readAll()));
        return true;
    }

    bool fail(const QString &problem)
    {
        m_problem = problem;
        return false;
    }

    QTemporaryDir m_dir;
    QString m_bin;
    QString m_dataDir;
    QString m_socketDir;
    QString m_runAs;
    QString m_problem;
    int m_port = -1;
    bool m_made = false;
    bool m_running = false;
};

#pragma once

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

// What a standard unzip makes of an archive.
namespace ZipCheck {

inline QString unzipProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("unzip"));
}

// UTF-8 entry names come out as UTF-8 only in a UTF-8 locale.
inline void startUnzip(QProcess &process, const QStringList &arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(env);
    process.start(unzipProgram(), arguments);
}

inline int unzip(const QStringList &arguments, QByteArray *output)
{
    QProcess process;
    startUnzip(process, arguments);
    if (!process.waitForFinished(60000))
        return -1;
    *output = process.readAllStandardOutput() + process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// The entry names that "unzip -Z1" lists, after "unzip -t" found every entry sound; an
// empty list and a failed check when the archive does not open.
inline QStringList entries(const QString &zipFile)
{
    QByteArray output;
    if (unzip({"-tq", zipFile}, &output) != 0)
        return {};
    if (unzip({"-Z1", zipFile}, &output) != 0)
        return {};
    QStringList names = QString::fromUtf8(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    names.sort();
    return names;
}

inline QByteArray entry(const QString &zipFile, const QString &name)
{
    QProcess process;
    startUnzip(process, {"-p", zipFile, name});
    if (!process.waitForFinished(60000))
        return {};
    return process.readAllStandardOutput();
}

} // namespace ZipCheck

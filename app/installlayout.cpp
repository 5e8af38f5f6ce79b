#include "app/installlayout.h"

#include "app/translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

const QString InstallLayout::SHARE_DIRECTORY = QStringLiteral("share/kordoman");

InstallLayout InstallLayout::detect(const QString &executableDir)
{
    InstallLayout layout;
    const QDir bin(executableDir);
    layout.m_executableDir = bin.absolutePath();
    if (bin.dirName() == QLatin1String("bin")) {
        const QString share = QDir::cleanPath(bin.absoluteFilePath(QStringLiteral("../") + SHARE_DIRECTORY));
        if (QFileInfo(share).isDir())
            layout.m_shareDir = share;
    }
    return layout;
}

InstallLayout InstallLayout::ofRunningProgram()
{
    return detect(QCoreApplication::applicationDirPath());
}

QString InstallLayout::languagesDirectory() const
{
    return QDir(isInstalled() ? m_shareDir : m_executableDir).absoluteFilePath(Translations::DIRECTORY_NAME);
}

QString InstallLayout::portableDataDirectory() const
{
    return isInstalled() ? QString() : m_executableDir;
}

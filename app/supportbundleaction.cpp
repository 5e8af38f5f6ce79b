#include "app/supportbundleaction.h"

#include "capture/linerecorder.h"
#include "cli/supportbundlerecorder.h"
#include "ui/suggestedfiles.h"
#include "ui/userdialogs.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

SupportBundleAction::SupportBundleAction(QMainWindow *window, SupportBundleRecorder *recorder, SettingsXml settingsXml,
                                         const QString &logDirectory, UserDialogs *dialogs)
    : QObject(window),
      m_recorder(recorder),
      m_settingsXml(std::move(settingsXml)),
      m_logDirectory(logDirectory),
      m_dialogs(dialogs),
      // The window's Help menu when it has one.
      m_menu(window->menuBar()->findChild<QMenu *>(QStringLiteral("menuHelp"))
                 ? window->menuBar()->findChild<QMenu *>(QStringLiteral("menuHelp"))
                 : window->menuBar()->addMenu(QString())),
      m_action(m_menu->addAction(QString()))
{
    m_action->setObjectName(QStringLiteral("actionSupportBundle"));
    connect(m_action, &QAction::triggered, this, &SupportBundleAction::save);
    window->installEventFilter(this);
    retranslate();
}

bool SupportBundleAction::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        retranslate();
    return QObject::eventFilter(watched, event);
}

void SupportBundleAction::retranslate()
{
    m_menu->setTitle(tr("&Help"));
    m_action->setText(tr("Save support bundle..."));
}

void SupportBundleAction::save()
{
    const QString suggestion = SuggestedFiles::name(QDir::homePath(), QStringLiteral("kordo-support"), QStringLiteral("zip"));
    const QString fileName = m_dialogs->saveFileName(tr("Save support bundle"), suggestion, tr("Zip files (*.zip)"));
    if (fileName.isEmpty())
        return;
    const QString program =
        QStringLiteral("%1 %2").arg(QCoreApplication::applicationName(), QCoreApplication::applicationVersion());
    SupportBundleContent content = m_recorder->content(program, m_settingsXml(), m_logDirectory);
    if (content.deviceKnown && m_lineRecorder)
        content.linePcap = m_lineRecorder->recentPcap();
    QString error;
    if (!SupportBundle::write(fileName, content, &error)) {
        m_dialogs->message(UserDialogs::Icon::Critical, tr("Support bundle"),
                           tr("The support bundle %1 cannot be written: %2").arg(fileName, error));
        return;
    }
    m_dialogs->message(UserDialogs::Icon::Information, tr("Support bundle"),
                       tr("The support bundle was saved to %1. Send it to whoever helps you; it holds the "
                          "versions, the port list, the device logs of this session and, with a controller "
                          "connected, its settings, error log, last run data and the last minutes of the serial line.")
                           .arg(fileName));
}

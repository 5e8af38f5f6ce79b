#pragma once

#include <QObject>
#include <QString>

#include <functional>

class LineRecorder;
class QAction;
class QMainWindow;
class QMenu;
class SupportBundleRecorder;
class UserDialogs;

// The window's "Help" menu with "Save support bundle...": asks for a file name and writes
// the zip of what this session has shown.
class SupportBundleAction : public QObject
{
    Q_OBJECT

public:
    // The settings file of the connected controller, as the settings page would save it.
    using SettingsXml = std::function<QByteArray()>;

    // Adds the menu to the window's menu bar; the recorder and the dialogs must outlive this
    // object, which the window owns.
    SupportBundleAction(QMainWindow *window, SupportBundleRecorder *recorder, SettingsXml settingsXml,
                        const QString &logDirectory, UserDialogs *dialogs);

    QAction *action() const { return m_action; }
    // The bundle carries the line's last minutes (line.pcap) while a controller is connected.
    void setLineRecorder(LineRecorder *recorder) { m_lineRecorder = recorder; }
    void save();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void retranslate();

    SupportBundleRecorder *m_recorder;
    SettingsXml m_settingsXml;
    QString m_logDirectory;
    UserDialogs *m_dialogs;
    QMenu *m_menu;
    QAction *m_action;
    LineRecorder *m_lineRecorder = nullptr;
};

#pragma once

#include <QObject>

class AppBase;
class EscSettingsPage;
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
    // Adds the menu to the window's menu bar; everything given must outlive this object,
    // which the window owns.
    SupportBundleAction(QMainWindow *window, AppBase &appBase, EscSettingsPage *settingsPage, UserDialogs *dialogs);

    QAction *action() const { return m_action; }
    // The bundle carries the line's last minutes (line.pcap) while a controller is connected.
    void setLineRecorder(LineRecorder *recorder) { m_lineRecorder = recorder; }
    void save();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void retranslate();

    AppBase &m_appBase;
    EscSettingsPage *m_settingsPage;
    UserDialogs *m_dialogs;
    SupportBundleRecorder *m_recorder;
    QMenu *m_menu;
    QAction *m_action;
    LineRecorder *m_lineRecorder = nullptr;
};

#pragma once

#include "ui/userdialogs.h"

#include <QString>
#include <QWidget>

#include <memory>

namespace Ui {
class FirmwarePage;
}

class AppSettings;
class UpdateFwHelper;
class UserDialogs;

// The firmware page: chooses the image file (remembering its directory as fw_dir),
// starts the update and shows its state and progress. The updater lives in the
// coordinator thread: its signals arrive here queued, and the start goes out as a signal
// for the window to hand to the coordinator.
class FirmwarePage : public QWidget
{
    Q_OBJECT

public:
    FirmwarePage(UpdateFwHelper *updater, UserDialogs *dialogs, AppSettings *settings, QWidget *parent = nullptr);
    ~FirmwarePage() override;

    // Reactions to the updater. Plain member functions connected by pointer, so that the
    // by-name connection of the widget slots below does not look at them.
    void on_updateFwState(QString newState, bool showProgressBar, bool showRestart, bool enableUpdateButton);
    void on_updateProgressBar(int value, int min, int max, QString format);

signals:
    // The user asked to write this image into the controller.
    void updateRequested(QString fileName);
    // Text for the window's info line (isMsgBox false) or a message box.
    // A message box when isMsgBox, with the icon that says what kind of message it is.
    void infoText(QString msg, bool isMsgBox, UserDialogs::Icon icon = UserDialogs::Icon::Information);

protected:
    void changeEvent(QEvent *event) override;

private slots:
    void on_pushButtonBrowseFw_clicked();
    void on_pushButtonUpdateFw_clicked();

private:
    std::unique_ptr<Ui::FirmwarePage> ui;
    UserDialogs *m_dialogs;
    AppSettings *m_settings;
};

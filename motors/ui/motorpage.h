#pragma once

#include "wire/records.h"
#include "device/settingsdocument.h"
#include "motors/motorresult.h"
#include "ident/motoruserlimits.h"
#include "ui/userdialogs.h"

#include <QWidget>

#include <memory>

namespace Ui {
class MotorPage;
}

class Device;
class IdHelper;
class MotorFileExchange;
class MotorLibrary;
class UserDialogs;

// The motor page: the motors of the database, the motor the connected controller carries
// and its motor hours; writes a stored motor into the controller, renames and removes
// motors, and exchanges them with motor files. Also holds the motor data inputs from
// which an identification starts.
//
// Its collaborators: the device model, the motor list (the database) and the motor files,
// which live in this (the GUI) thread and are called directly, and the identification
// sequencer, which lives in the coordinator thread: the page uses only its thread-safe
// entry (which posts the work into that thread) and hears its outcome through a signal.
class MotorPage : public QWidget
{
    Q_OBJECT

public:
    // Columns of the motor table.
    enum Column { NameColumn = 0, DateColumn = 1 };

    // How long the programmatic click on "set motor" shows the button pressed.
    static constexpr int SET_MOTOR_CLICK_MS = 100;

    // All must outlive the page.
    MotorPage(Device *device, MotorLibrary *motors, MotorFileExchange *motorFiles, IdHelper *idHelper,
              UserDialogs *dialogs, QWidget *parent = nullptr);
    ~MotorPage() override;

    // Lists the database's motors by name and selects `selectName` when it is listed;
    // otherwise no motor is current.
    void fillMotorTable(const QString &selectName);
    // The page is shown again: the list may have changed meanwhile.
    void refresh();
    // Back to the motor list from any page of the inner stack.
    void showMotorList();

    // The identification wizard: a page of its own beside the motor list, shown when the
    // wizard asks for it (showWizard).
    void addWizard(QWidget *wizard);
    void showWizard();

    // Reactions to the device model. Plain member functions connected by pointer, so
    // that the by-name connection of the widget slots below does not look at them.
    void on_fillMotorName(QString motorName);
    void prefillMotorData();
    void on_fillMotorHours(uint32_t motorHours);
    // The motor of an imported settings file: found or stored, selected and applied.
    // A motor that cannot drive one (zero values) is refused; replacing a stored motor of
    // the same name with other values is asked first.
    void on_motorImported(ImportedMotor motor);
    // The controller's answer to "set motor".
    void on_storedMotorAnswered(bool accepted, bool answered);

protected:
    void changeEvent(QEvent *event) override;

signals:
    // Text for the window's info line (isMsgBox false) or a message box.
    // A message box when isMsgBox, with the icon that says what kind of message it is.
    void infoText(QString msg, bool isMsgBox, UserDialogs::Icon icon = UserDialogs::Icon::Information);
    // "Identify motor" with the motor data the user entered.
    void identifyMotorRequested(MotorUserInput input);
    // A motor is about to be written into the controller (its settings are kept first).
    void aboutToWriteMotor();
    // The motor list is shown again (in place of the wizard), however it came to it.
    void motorListShown();

private slots:
    void on_toolButtonSetMotor_clicked();
    void on_toolButtonRenameMotor_clicked();
    void on_toolButtonRemoveMotor_clicked();
    void on_pushButtonExportMotors_clicked();
    void on_pushButtonImportMotors_clicked();
    void on_checkBoxNoLoadCurrent_stateChanged(int state);
    void on_pushSetIdentifyMotor_clicked();
    void on_toolButtonInfoMotor_clicked();

private:
    // The name in the current row; a null string when no motor is current.
    QString selectedMotorName() const;
    QString selectedMotorDate() const;
    void showBox(const QString &msg);
    void showProblem(const QString &msg); // with the warning icon
    void showFailure(const QString &msg);
    static QString setMotorRefusal(Device_State_e state);
    // Shows the result's message, if any; returns whether it worked.
    bool report(const MotorResult &result);
    // After a change of the list: the shown motor names follow it.
    void renamed(const QString &oldName, const QString &newName);
    void removed(const QString &name);
    void showActualMotor(const QString &storedName);

    std::unique_ptr<Ui::MotorPage> ui;
    Device *m_device;
    MotorLibrary *m_motors;
    MotorFileExchange *m_motorFiles;
    IdHelper *m_idHelper;
    UserDialogs *m_dialogs;
    QString m_motorBeingSet;    // sent to the controller, answer awaited
    QString m_actualMotor;      // stored name of the controller's motor (shown translated)
    QWidget *m_wizard = nullptr;
};

#pragma once

#include "wire/records.h"
#include "device/settingsdocument.h"
#include "ident/motoruserlimits.h"

#include <QWidget>

#include <memory>

namespace Ui {
class MotorPage;
}

class AppBase;
class DbManager;
class Device;
class IdHelper;
class QStackedWidget;
class UserDialogs;

// The motor page: the motors of the database, the motor the connected controller carries
// and its motor hours; writes a stored motor into the controller, renames and removes
// motors, and exchanges them with motor files. Also holds the motor data inputs from
// which an identification starts.
//
// The database and the device model live in this (the GUI) thread and are called
// directly; the identification sequencer posts its work into the coordinator thread.
class MotorPage : public QWidget
{
    Q_OBJECT

public:
    // Columns of the motor table.
    enum Column { NameColumn = 0, DateColumn = 1 };

    // How long the programmatic click on "set motor" shows the button pressed.
    static constexpr int SET_MOTOR_CLICK_MS = 100;

    MotorPage(AppBase *coordinator, UserDialogs *dialogs, QWidget *parent = nullptr);
    ~MotorPage() override;

    // Lists the database's motors by name and selects `selectName` when it is listed;
    // otherwise no motor is current.
    void fillMotorTable(const QString &selectName);
    // The page is shown again: the list may have changed meanwhile.
    void refresh();
    // Back to the motor list from any page of the inner stack.
    void showMotorList();

    // The inner stack: the motor list is its first page, the identification wizard's
    // pages follow it. A widget added below it (the wizard's buttons) shares the page.
    QStackedWidget *motorParamsStack() const;
    void addBelowMotorParams(QWidget *widget);

    // Reactions to the device model. Plain member functions connected by pointer, so
    // that the by-name connection of the widget slots below does not look at them.
    void on_fillMotorName(QString motorName);
    void on_fillMotorHours(uint32_t motorHours);
    // The motor of an imported settings file: found or stored, selected and applied.
    void on_motorImported(ImportedMotor motor);

protected:
    void changeEvent(QEvent *event) override;

signals:
    // Text for the window's info line (isMsgBox false) or a message box.
    void infoText(QString msg, bool isMsgBox);
    // "Identify motor" with the motor data the user entered.
    void identifyMotorRequested(MotorUserInput input);

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
    void showFailure(const QString &msg);
    static QString setMotorRefusal(Device_State_e state);

    std::unique_ptr<Ui::MotorPage> ui;
    AppBase *m_coordinator;
    Device *m_device;
    DbManager *m_database;
    IdHelper *m_idHelper;
    UserDialogs *m_dialogs;
};

#pragma once

#include "wire/records.h"
#include "device/settingsdocument.h"
#include "device/settingsmodel.h"
#include "ui/userdialogs.h"

#include <QStringList>
#include <QWidget>

#include <memory>

namespace Ui {
class EscSettingsPage;
}

class AppSettings;
class DbManager;
class Device;
class ParamsHelper;
class QAbstractSpinBox;
class QDoubleSpinBox;
class QPalette;
class UserDialogs;

// The ESC settings page: shows and edits the controller's PWM input and motion settings,
// shows the diagnostic records read on request, draws the PWM input characteristic, and
// exports and imports the settings as an XML file.
//
// The device model fills the page with signals blocked, so filling never writes back.
// The page keeps the two records as the controller sent them; a user edit changes only
// its own field of that record, and the whole record goes to the parameter exchange,
// which writes it after its quiet period. So a value the controller holds is never
// changed by a widget's range or step: what the user did not edit goes back bit for bit.
// The exchange lives in the coordinator thread: calls to it are queued.
class EscSettingsPage : public QWidget
{
    Q_OBJECT

public:
    EscSettingsPage(ParamsHelper *params, Device *device, DbManager *database, UserDialogs *dialogs,
                    AppSettings *settings, QWidget *parent = nullptr);
    ~EscSettingsPage() override;

    // Enables the import and export buttons (a device is connected and idle).
    void setSettingsFileEnabled(bool enabled);

    void redrawPwmCharacteristic();

    // The settings file as an export writes it; empty while the records are not read.
    QByteArray settingsDocument() const;

    // Reactions to the device objects. Plain member functions connected by pointer, so
    // that the by-name connection of the widget slots below does not look at them.
    void on_fillPwmInParams(SET_PWM_IN_PARAMS *pwmInParams, bool forced);
    void on_fillMotionParams(SET_MOTION_PARAMS *motionParams, bool forced);
    void on_emptyParams();
    void on_updateCheckBox(Qt::CheckState pwmIn, Qt::CheckState motion);
    void on_fillErrors(ERROR_WARN_LOG eaw);
    void on_fillData(RUN_DATA runData);
    void on_fillResistances(RESISTANCE res);
    void on_fillSetParams();

protected:
    void changeEvent(QEvent *event) override;

signals:
    // Text for the window's info line (isMsgBox false) or a message box.
    // A message box when isMsgBox, with the icon that says what kind of message it is.
    void infoText(QString msg, bool isMsgBox, UserDialogs::Icon icon = UserDialogs::Icon::Information);
    // A motor named in an imported settings file, for the motor page to select and apply.
    void motorImported(ImportedMotor motor);
    // A settings file is about to be applied (the controller's settings are kept first).
    void aboutToImport();
    // The user asks for the controller's settings backups.
    void backupsRequested();

private slots:
    void on_horizontalSliderAcceleration_valueChanged(int value);
    void on_horizontalSliderBreak_valueChanged(int value);
    void on_checkBoxBreak_stateChanged(int state);
    void on_checkBoxReverseDir_stateChanged(int state);
    void on_spinBoxIndexDevice_valueChanged(int value);
    void on_spinBoxTimeToLeave_valueChanged(int value);
    void on_doubleSpinBoxKp_valueChanged(double value);
    void on_doubleSpinBoxKi_Kff_valueChanged(double value);
    void on_doubleSpinBoxScale_valueChanged(double value);
    void on_spinBoxSpeedNorm_valueChanged(int value);
    void on_spinBoxPwmLow_valueChanged(int value);
    void on_spinBoxPwmCenter_valueChanged(int value);
    void on_spinBoxPwmHigh_valueChanged(int value);
    void on_spinBoxPwmDeadZone_valueChanged(int value);
    void on_comboBoxPwmType_currentIndexChanged(int index);
    void on_comboBoxControlType_currentIndexChanged(int index);
    void on_checkBoxDigitalControl_stateChanged(int state);
    void on_checkBoxAnalogControl_stateChanged(int state);
    void on_pushButtonGetErrors_clicked();
    void on_pushButtonClearErrors_clicked();
    void on_pushButtonGetData_clicked();
    void on_pushButtonGetRes_clicked();
    void on_toolButtonImportParams_clicked();
    void on_toolButtonExportParams_clicked();
    void on_toolButtonBackups_clicked();

private:
    void setInitialState();
    // Send the records kept from the controller (nothing before they were read).
    void sendPwmInParams();
    void sendMotionParams();
    // Copies the widget's value into its field of the kept record (the user edited it).
    void takeEdit(const QWidget *widget);
    // Label, range and enabled states that follow the control / PWM type, without sending.
    void showControlType(int index);
    void showPwmType(int index);
    void setHardwareAddress(bool fromHardware);
    void showGainAsRead(QDoubleSpinBox *box, double value);
    void restoreUsualRange(QDoubleSpinBox *box);
    void showRangeToolTips();
    static QString plotStyleSheet(const QPalette &palette);
    static constexpr int READ_GAIN_DECIMALS = 4; // a gain word / 1024, exact to the word
    QList<QWidget *> pwmInputWidgets() const;
    QList<QWidget *> motionWidgets() const;

    bool hasSettingsToExport() const;
    EscSettingsSnapshot snapshot() const;
    void applyImported(const ImportedSettings &settings);
    static QString importQuestion(const QVector<SettingsModel::FieldChange> &changes, const QStringList &limited);
    bool editedField(const QWidget *widget, SettingsValue::Field *field, double *value) const;
    void showPwmIn(const SET_PWM_IN_PARAMS &p);
    void showMotion(const SET_MOTION_PARAMS &m);

    std::unique_ptr<Ui::EscSettingsPage> ui;
    ParamsHelper *m_params;
    Device *m_device;
    DbManager *m_database;
    UserDialogs *m_dialogs;
    AppSettings *m_settings;

    // The records as the controller holds them, changed field by field by the user's edits.
    SET_PWM_IN_PARAMS m_pwmIn;
    SET_MOTION_PARAMS m_motion;
    bool m_pwmInRead = false;
    bool m_motionRead = false;
};

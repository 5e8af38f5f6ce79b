#pragma once

#include "tuning/curvewindow.h"
#include "tuning/telemetryhistory.h"
#include "ui/userdialogs.h"
#include "wire/records.h"

#include <QRandomGenerator>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

namespace Ui {
class ControlPage;
}

class QLabel;
class QPushButton;
class QwtPlotCurve;
class PlainScaleDraw;
class UserDialogs;

// The online page: the running controller's telemetry as numbers and as a two-curve plot,
// the duty command, and the tuning controls. It sends the duty command through the sink
// it is given (the polling helper's thread-safe setter) and takes telemetry as copies.
//
// The motor stops (duty 0, control off) when the page is left, on Escape, and on every
// reset the coordinator or the polling helper reports.
class ControlPage : public QWidget
{
    Q_OBJECT

public:
    // Duty in percent and the enable flag; safe to call from the GUI thread.
    using DutyCommandSink = std::function<void(int16_t dutyCycle, bool enableDutyCycle)>;

    static constexpr int QUANTITY_SPEED = 2;
    // The reset code of a lost contact (1 stall, 4 device error).
    static constexpr uint8_t CODE_CONTACT_LOST = 2;
    static constexpr int TOGGLE_START_MS = 1500;
    static constexpr int TOGGLE_STEP_MS = 100;

    ControlPage(DutyCommandSink dutyCommand, UserDialogs *dialogs, QWidget *parent = nullptr);
    ~ControlPage() override;

    // Reactions to the coordinator's objects: plain member functions connected by
    // pointer, so that the by-name connection of the widget slots does not look at them.
    //
    // One new sample, numbered since the run started (1 for the first).
    void on_telemetryUpdated(ONLINE_QUANTS_S sample, uint32_t sampleNumber);
    // Control was taken away (stall, device error, lost connection): the motor stops.
    void on_resetControl(QString msg, uint8_t code);
    // From the tuning sequencer.
    void on_testFinished();
    void on_typeOfController(bool emptyMotor);
    // One step of the toggling walk.
    void on_changeSequence();

    // Duty 0 with control disabled, toggling ended.
    void stopMotor();

    // The controller's state: the duty command acts in running mode only; elsewhere the
    // page says why and how to get there.
    void setDeviceState(Device_State_e state);
    // How the user switches the controller off and on from here (demo mode: the simulated
    // controller); without it, the page only says to do so.
    void setControllerRestart(std::function<void()> restart);

    // Why control was taken away, shown on the page until acknowledged or control is
    // enabled again; empty while there is nothing to tell.
    QString stopNotice() const;

    const CurveWindow &curve(int index) const { return index == 0 ? m_curve1 : m_curve2; }
    bool isTogglingActive() const { return m_togglingActive; }
    int samplesReceived() const { return m_history.size(); }

signals:
    // Text for the window's info line (isMsgBox false) or a message box.
    // A message box when isMsgBox, with the icon that says what kind of message it is.
    void infoText(QString msg, bool isMsgBox, UserDialogs::Icon icon = UserDialogs::Icon::Information);
    // For the tuning sequencer: Tuning and Stop pressed, and the user's choice after a
    // tuning that found no gains (0 "Default", 1 "Approx.").
    void tuningStartRequested();
    void tuningStopRequested();
    void controllerChosen(int8_t result);
    // The user wants to be asked again to switch the controller into running mode.
    void runningModeRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private slots:
    void on_comboBoxTelQuant_1_currentIndexChanged(int index);
    void on_comboBoxTelQuant_2_currentIndexChanged(int index);
    void on_horizontalSliderDutyCycle_valueChanged(int value);
    void on_spinBoxDutyCycle_editingFinished();
    void on_checkBoxDutyCycle_stateChanged(int arg1);
    void on_pushButtonPause_toggled(bool live);
    void on_pushButtonTuning_clicked();
    void on_pushButtonToggling_clicked();
    void on_pushButtonStop_clicked();
    void on_pushButtonSavePlot_clicked();
    void on_pushButtonSaveSamples_clicked();

private:
    void setUpPlot();
    void fillQuantityNames();
    void retranslate();
    void showValues(const ONLINE_QUANTS_S &sample);
    void sendDuty(int percent);
    void showCurves(bool redraw = true);
    void showAxis(int axis, int quantity, const QColor &colour);
    void emergencyStop();
    void stopMotorAndTuning();
    bool isMotorCommanded() const;
    void showStopNotice(const QString &text);
    void buildModeHint();
    void showModeHint();
    void updateControlEnablement();
    void restartController();
    void clearValues();
    QString chooseFile(const QString &title, const QString &stem, const QString &suffix, const QString &filter);

    std::unique_ptr<Ui::ControlPage> ui;
    DutyCommandSink m_dutyCommand;
    UserDialogs *m_dialogs;
    QwtPlotCurve *m_plotCurve1 = nullptr; // owned by the plot
    QwtPlotCurve *m_plotCurve2 = nullptr;
    PlainScaleDraw *m_timeScale = nullptr; // owned by the plot
    CurveWindow m_curve1;
    CurveWindow m_curve2;
    TelemetryHistory m_history;
    bool m_togglingActive = false;
    QTimer m_toggleTimer;
    QRandomGenerator m_random;
    QWidget *m_stopNotice = nullptr; // a child of the page
    QLabel *m_stopNoticeText = nullptr;
    // Why the duty command cannot act, and the way to running mode and back.
    QWidget *m_modeHint = nullptr;
    QLabel *m_modeHintText = nullptr;
    QPushButton *m_askRunButton = nullptr;
    QPushButton *m_restartButton = nullptr;
    Device_State_e m_deviceState = DEVICE_DISCONNECTED;
    bool m_tuningRunning = false;
    std::function<void()> m_controllerRestart;
    bool m_restartRequested = false; // the next lost contact is the user's own doing
};

#pragma once

#include "ident/motoruserlimits.h"
#include "wire/motortotal.h"
#include "ui/userdialogs.h"

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <memory>

namespace Ui {
class IdentWizard;
}

class Device;
class IdHelper;
class MotorLibrary;
class UserDialogs;

// The identification wizard of the motor page: its seven pages in a stack of its own
// (PageAttention .. PageError), above the row of Back, Cancel and Accept. The motor page
// shows this widget in place of its motor list when the wizard asks for it (shown) and
// tells it when the motor list is back (on_motorListShown); PageMotorList stands for
// "the motor list is shown, not the wizard". It collects the user's confirmations, starts the run through
// the identification sequencer, shows each step with its expected behaviour and a progress
// bar, and saves the identified motor under a name.
//
// The sequencer lives in the coordinator thread: its operations are called here and post
// themselves there; its signals arrive queued. Every way out of a run (Cancel, Escape,
// the motor list shown again, the page hidden, the window closed) stops the motor first.
class IdentWizard : public QWidget
{
    Q_OBJECT

public:
    enum Page {
        PageMotorList = 0,
        PageAttention = 1,
        PageNoLoad = 2,
        PageSteps = 3,
        PageStart = 4,
        PageActualState = 5,
        PageFinish = 6,
        PageError = 7,
    };

    static constexpr int PROGRESS_STEP_MS = 500;         // interval of the progress timer
    static constexpr int PREDICTED_ERROR_SHOW_MS = 5000; // how long the warning stays
    static constexpr int CLOSE_STOP_WAIT_MS = 3000;      // longest wait for a stop at window close

    // All must outlive the wizard. The device model is read here, in its (the GUI) thread;
    // the sequencer only through its posted calls and its signals. The progress timer is
    // the window's idProgressTimer.
    IdentWizard(const Device *device, IdHelper *idHelper, MotorLibrary *motors, UserDialogs *dialogs,
                QTimer *progressTimer, QWidget *parent = nullptr);
    ~IdentWizard() override;

    // The window is about to close. True while a run that may turn the motor is being
    // stopped: the close has to wait for readyToClose().
    bool holdCloseForStop();

    // "Identify motor" with the user's motor data (the motor page's button).
    void on_pushSetIdentifyMotor_clicked(MotorUserInput input);

    // Reactions to the sequencer and to the progress timer. Plain member functions
    // connected by pointer, so that the by-name connection of the widget slots below does
    // not look at them.
    void on_changeIdState(QString actualState, QString nextState, QString buttonLabel, QStringList features,
                          QStringList errors, uint32_t timeInMs);
    void on_identificationFailed(bool correctable);
    void on_identificationfinish(MOTOR_TOTAL motor);
    // The motor page shows its motor list again, however it came to it.
    void on_motorListShown();

    // The page shown: PageMotorList while the motor list is, else one of the wizard's.
    int currentPage() const { return m_shownPage; }
    void showPage(int index);
    void on_userParamsRefused(int result);
    void on_showPredictError();
    void on_hidePredictError();
    void on_updateIdProgress();

signals:
    // The identified motor was stored under this name.
    void motorSaved(QString name);
    // The stop asked for by holdCloseForStop() is done (or took too long).
    void readyToClose();
    // The motor page is to show this widget in place of its motor list, or its list again.
    void shown();
    void motorListWanted();

protected:
    void changeEvent(QEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private slots:
    void on_pushButtonAcceptIdent_clicked();
    void on_pushButtonBackIdent_clicked();
    void on_pushButtonCancelIdent_clicked();
    void on_pushButtonStateId_clicked();
    void on_checkBoxMotorNoLoad_stateChanged(int state);
    void on_checkBoxAttention_stateChanged(int state);
    void on_checkBoxStepsId_stateChanged(int state);
    void on_lineEditMotorName_textChanged(QString text);

private:
    void pageChanged(int index);
    void showBox(const QString &msg, UserDialogs::Icon icon = UserDialogs::Icon::Information);
    void showButtons(int page);
    void acceptOnErrorPage();
    void saveMotor();
    bool isStoredMotorName(const QString &name) const;
    void stopProgress();
    void runEnded();
    void fillErrorTexts();
    void applyShortcuts();
    static QStringList missingFields(const MotorUserInput &input);
    bool allConditionsChecked() const;

    std::unique_ptr<Ui::IdentWizard> ui;
    const Device *m_device;
    IdHelper *m_idHelper;
    MotorLibrary *m_motors;
    UserDialogs *m_dialogs;
    QTimer *m_progressTimer;
    QTimer m_predictedErrorTimer;
    QTimer m_closeDeadline;
    int m_shownPage = PageMotorList;
    bool m_correctable = false;
    MOTOR_TOTAL m_identified;      // the motor of the last finished run, to be saved
    MotorUserInput m_input;        // the motor data of the last start    // the last run failed as the controller predicted
    bool m_closePending = false;   // the window waits for the run to stop
    bool m_closeReleased = false;  // the wait is over: let the window close
};

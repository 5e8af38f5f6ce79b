#include "ident/ui/identwizard.h"

#include "device/device.h"
#include "device/runningmode.h"

#include "ui_identwizard.h"

#include "ident/idhelper.h"
#include "ident/motorinfotext.h"
#include "motors/motorlibrary.h"
#include "ui/userdialogs.h"

#include <QEvent>
#include <QHideEvent>
#include <QLineEdit>
#include <QPalette>

#include <algorithm>
#include <cmath>

IdentWizard::IdentWizard(const Device *device, IdHelper *idHelper, MotorLibrary *motors, UserDialogs *dialogs,
                         QTimer *progressTimer, QWidget *parent)
    : QWidget(parent),
      ui(new Ui::IdentWizard),
      m_device(device),
      m_idHelper(idHelper),
      m_motors(motors),
      m_dialogs(dialogs),
      m_progressTimer(progressTimer)
{
    ui->setupUi(this);
    Q_ASSERT(ui->stackedWidgetIdentPages->count() == PageError);

    applyShortcuts();
    ui->textEdit_ErrorPredicted->hide();
    fillErrorTexts();

    m_predictedErrorTimer.setSingleShot(true);
    m_predictedErrorTimer.setInterval(PREDICTED_ERROR_SHOW_MS);
    connect(&m_predictedErrorTimer, &QTimer::timeout, this, &IdentWizard::on_hidePredictError);
    m_closeDeadline.setSingleShot(true);
    m_closeDeadline.setInterval(CLOSE_STOP_WAIT_MS);
    connect(&m_closeDeadline, &QTimer::timeout, this, &IdentWizard::runEnded);
    connect(m_progressTimer, &QTimer::timeout, this, &IdentWizard::on_updateIdProgress);

    connect(m_idHelper, &IdHelper::changeIdState, this, &IdentWizard::on_changeIdState);
    connect(m_idHelper, &IdHelper::identificationFailed, this, &IdentWizard::on_identificationFailed);
    connect(m_idHelper, &IdHelper::identFinished, this, &IdentWizard::on_identificationfinish);
    connect(m_idHelper, &IdHelper::showPredictError, this, &IdentWizard::on_showPredictError);
    connect(m_idHelper, &IdHelper::userParamsRefused, this, &IdentWizard::on_userParamsRefused);

    showButtons(m_shownPage);
}

IdentWizard::~IdentWizard() = default;

void IdentWizard::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        applyShortcuts();
        fillErrorTexts();
        showButtons(currentPage());
    }
    QWidget::changeEvent(event);
}

// The wizard hidden (the motor list shown, another page of the window, or the window
// closed) ends a run.
void IdentWizard::hideEvent(QHideEvent *event)
{
    if (!event->spontaneous() && currentPage() == PageActualState)
        m_idHelper->cancelIdentification();
    QWidget::hideEvent(event);
}

// A button's new text replaces its shortcut with the text's mnemonic: set again after
// every retranslation.
void IdentWizard::applyShortcuts()
{
    ui->pushButtonCancelIdent->setShortcut(Qt::Key_Escape);
}

void IdentWizard::showPage(int index)
{
    if (index < PageMotorList || index > PageError || index == m_shownPage)
        return;
    if (index == PageMotorList) {
        emit motorListWanted(); // on_motorListShown follows
        return;
    }
    ui->stackedWidgetIdentPages->setCurrentIndex(index - 1);
    emit shown();
    pageChanged(index);
}

void IdentWizard::on_motorListShown()
{
    if (m_shownPage != PageMotorList)
        pageChanged(PageMotorList);
}

void IdentWizard::showBox(const QString &msg, UserDialogs::Icon icon)
{
    m_dialogs->message(icon, window()->windowTitle(), msg);
}

// ---------------------------------------------------------------------------------
// Start

void IdentWizard::on_pushSetIdentifyMotor_clicked(MotorUserInput input)
{
    switch (m_device->state()) {
    case DEVICE_DISCONNECTED:
        showBox(tr("Device is disconnected"), UserDialogs::Icon::Warning);
        return;
    case DEVICE_RUNNING:
        showBox(RunningMode::refusal(tr("Device is running")), UserDialogs::Icon::Warning);
        return;
    case DEVICE_BOOT_STARTED:
    case DEVICE_BOOT_CONNECTED:
        showBox(tr("Device is in bootloader mode"), UserDialogs::Icon::Warning);
        return;
    case DEVICE_CONNECTED:
        break;
    }
    m_input = input;
    if (!input.isComplete()) {
        on_userParamsRefused(IdHelper::ParameterZero);
        return;
    }
    // Posted; a refusal (the controller gone meanwhile) comes back as userParamsRefused.
    m_idHelper->setMotorUserParams(input.maxCurrent, input.noLoadKnown, input.noLoadCurrent, input.lipoCells,
                                   input.kv, input.polePairs);
    for (QCheckBox *box : {ui->checkBoxMotorNoLoad, ui->checkBoxAttention, ui->checkBoxStepsId})
        box->setChecked(true);
    showPage(PageAttention);
}

void IdentWizard::on_userParamsRefused(int result)
{
    if (result == IdHelper::ParameterZero)
        showBox(tr("Parameters must be non-zero value: %1").arg(missingFields(m_input).join(QStringLiteral(", "))),
                UserDialogs::Icon::Warning);
    else
        showBox(tr("Device is not connected"), UserDialogs::Icon::Warning);
    showPage(PageMotorList);
}

// The motor data fields the identification needs and lacks, by their labels.
QStringList IdentWizard::missingFields(const MotorUserInput &input)
{
    const auto missing = [](double value) { return !(value > 0.0) || !std::isfinite(value); };
    QStringList fields;
    if (missing(double(input.maxCurrent)))
        fields << tr("Max current");
    if (missing(double(input.kv)))
        fields << tr("Kv");
    if (input.lipoCells <= 0)
        fields << tr("LiPo cells");
    if (input.polePairs <= 0)
        fields << tr("Pole pairs");
    if (input.noLoadKnown && missing(double(input.noLoadCurrent)))
        fields << tr("NoLoadCurrent");
    return fields;
}

// ---------------------------------------------------------------------------------
// Pages and buttons

void IdentWizard::pageChanged(int index)
{
    const int previous = m_shownPage;
    m_shownPage = index;
    if (index == PageStart) {
        for (QCheckBox *box : {ui->checkBoxMotorNoLoad, ui->checkBoxAttention, ui->checkBoxStepsId})
            box->setChecked(false);
    }
    showButtons(index);
    // Back on the motor list, however it came: nothing of the wizard may go on. A run is
    // stopped (the error page follows), sent limits are dropped.
    if (index == PageMotorList && previous != PageMotorList) {
        stopProgress();
        m_idHelper->cancelIdentification();
    }
}

void IdentWizard::showButtons(int page)
{
    QPushButton *back = ui->pushButtonBackIdent;
    QPushButton *cancel = ui->pushButtonCancelIdent;
    QPushButton *accept = ui->pushButtonAcceptIdent;
    back->setVisible(page >= PageAttention && page <= PageStart);
    cancel->setVisible(page != PageMotorList);
    accept->setVisible(page != PageMotorList && page != PageActualState);
    accept->setEnabled(true);

    switch (page) {
    case PageAttention:
    case PageNoLoad:
    case PageSteps:
        accept->setText(tr("Accept"));
        break;
    case PageStart:
        accept->setText(tr("Start"));
        accept->setEnabled(allConditionsChecked());
        break;
    case PageFinish:
        accept->setText(tr("Save motor"));
        break;
    case PageError: {
        const bool correction = m_correctable;
        accept->setText(correction ? tr("Correction") : tr("Repeat"));
        // Without a self-diagnosis finding the run was stopped, most often by the user: no error.
        ui->labelErrorTitle->setText(correction ? tr("Error") : tr("Identification stopped"));
        ui->textEdit_ErrorCorretion->setVisible(correction);
        ui->textEdit_ErrorRepeat->setVisible(!correction);
        break;
    }
    default:
        break;
    }
}

bool IdentWizard::allConditionsChecked() const
{
    return ui->checkBoxMotorNoLoad->isChecked() && ui->checkBoxAttention->isChecked()
        && ui->checkBoxStepsId->isChecked();
}

void IdentWizard::on_checkBoxMotorNoLoad_stateChanged(int)
{
    ui->pushButtonAcceptIdent->setEnabled(ui->checkBoxMotorNoLoad->isChecked() && ui->checkBoxAttention->isChecked());
}

void IdentWizard::on_checkBoxAttention_stateChanged(int)
{
    ui->pushButtonAcceptIdent->setEnabled(allConditionsChecked());
}

void IdentWizard::on_checkBoxStepsId_stateChanged(int)
{
    ui->pushButtonAcceptIdent->setEnabled(allConditionsChecked());
}

void IdentWizard::on_pushButtonAcceptIdent_clicked()
{
    switch (currentPage()) {
    case PageAttention:
    case PageNoLoad:
    case PageSteps:
        showPage(currentPage() + 1);
        break;
    case PageStart:
        m_idHelper->acceptConditions(IdHelper::ID_WIDGET_ATTENTION);
        m_idHelper->acceptConditions(IdHelper::ID_WIDGET_NO_LOAD);
        m_idHelper->acceptConditions(IdHelper::ID_WIDGET_STEPS);
        ui->textEdit_ErrorPredicted->hide();
        m_correctable = false; // a new run: no prediction yet
        m_idHelper->acceptAllConditions();
        showPage(PageActualState);
        break;
    case PageFinish:
        saveMotor();
        break;
    case PageError:
        acceptOnErrorPage();
        break;
    default:
        break;
    }
}

void IdentWizard::acceptOnErrorPage()
{
    if (m_correctable) {
        if (m_device->state() != DEVICE_CONNECTED) {
            showBox(tr("Unexpected error occurs"), UserDialogs::Icon::Critical);
            showPage(PageMotorList);
            return;
        }
        m_idHelper->correctIdentification();
    }
    ui->textEdit_ErrorPredicted->hide();
    m_correctable = false;
    m_idHelper->acceptAllConditions();
    showPage(PageActualState);
}

void IdentWizard::on_pushButtonBackIdent_clicked()
{
    if (currentPage() > PageMotorList)
        showPage(currentPage() - 1);
}

void IdentWizard::on_pushButtonCancelIdent_clicked()
{
    // During the run the page stays until the sequencer reports the stop (error page).
    if (currentPage() == PageActualState) {
        m_idHelper->stopIdentification();
        return;
    }
    // An identified motor not yet saved is thrown away only when the user says so.
    if (currentPage() == PageFinish
        && !m_dialogs->askYesNo(tr("Discard the identified motor?"),
                                tr("The identified motor is not saved yet. Discard it?")))
        return;
    showPage(PageMotorList);
}

void IdentWizard::on_pushButtonStateId_clicked()
{
    m_idHelper->stopIdentification();
}

// ---------------------------------------------------------------------------------
// Steps and progress

void IdentWizard::on_changeIdState(QString actualState, QString nextState, QString buttonLabel,
                                   QStringList features, QStringList errors, uint32_t timeInMs)
{
    ui->labelActualStateId->setText(actualState);
    QString text = tr("<b>Right behaviour:</b><br>");
    for (const QString &feature : qAsConst(features))
        text += QStringLiteral("- ") + feature + QStringLiteral("<br>");
    text += tr("<b>Errors:</b><br>");
    for (const QString &error : qAsConst(errors))
        text += QStringLiteral("* ") + error + QStringLiteral("<br>");
    ui->labelStateIdBehaviour->clear();
    ui->labelStateIdBehaviour->setText(text);
    ui->labelNextStateId->setText(nextState);
    ui->pushButtonStateId->setText(buttonLabel);

    ui->progressBarStateId->setValue(0);
    ui->progressBarStateId->setMaximum(int(std::min<uint32_t>(timeInMs, INT32_MAX)));
    if (!m_progressTimer->isActive()) {
        m_progressTimer->setInterval(PROGRESS_STEP_MS);
        m_progressTimer->start();
    }
}

void IdentWizard::on_updateIdProgress()
{
    QProgressBar *bar = ui->progressBarStateId;
    bar->setValue(std::min(bar->value() + PROGRESS_STEP_MS, bar->maximum()));
}

void IdentWizard::stopProgress()
{
    if (!m_progressTimer->isActive())
        return;
    m_progressTimer->stop();
    ui->progressBarStateId->setValue(0);
}

void IdentWizard::on_identificationFailed(bool correctable)
{
    m_correctable = correctable;
    stopProgress();
    showPage(PageError);
    runEnded();
}

void IdentWizard::on_identificationfinish(MOTOR_TOTAL motor)
{
    stopProgress();
    m_identified = motor;
    // The results before they are saved.
    ui->labelIdentResults->setText(MotorInfoText::html(m_identified));
    showPage(PageFinish);
    runEnded();
}

void IdentWizard::on_showPredictError()
{
    m_correctable = true;
    if (currentPage() == PageError)
        showButtons(PageError);
    ui->textEdit_ErrorPredicted->show();
    m_predictedErrorTimer.start();
}

void IdentWizard::on_hidePredictError()
{
    ui->textEdit_ErrorPredicted->hide();
}

// ---------------------------------------------------------------------------------
// Window close

bool IdentWizard::holdCloseForStop()
{
    if (m_closeReleased || currentPage() != PageActualState)
        return false;
    if (!m_closePending) {
        m_closePending = true;
        m_idHelper->cancelIdentification();
        m_closeDeadline.start();
    }
    return true;
}

void IdentWizard::runEnded()
{
    if (!m_closePending)
        return;
    m_closePending = false;
    m_closeReleased = true;
    m_closeDeadline.stop();
    emit readyToClose();
}

// ---------------------------------------------------------------------------------
// Saving the identified motor

bool IdentWizard::isStoredMotorName(const QString &name) const
{
    QStringList names;
    QStringList datetimes;
    m_motors->motorList(&names, &datetimes);
    return names.contains(name);
}

void IdentWizard::saveMotor()
{
    const QString name = ui->lineEditMotorName->text();
    // A clash saves nothing; the red name says why, and the motor can still be saved
    // under another name.
    if (isStoredMotorName(name))
        return;
    const MotorResult result = m_motors->saveMotor(name, m_identified);
    if (!result.message.isEmpty())
        showBox(result.message, result.ok ? UserDialogs::Icon::Information : UserDialogs::Icon::Warning);
    if (!result.ok)
        return;
    ui->lineEditMotorName->clear();
    emit motorSaved(name);
    showPage(PageMotorList);
}

void IdentWizard::on_lineEditMotorName_textChanged(QString text)
{
    QPalette palette = ui->lineEditMotorName->palette();
    palette.setColor(QPalette::Text, isStoredMotorName(text) ? Qt::red : Qt::black);
    ui->lineEditMotorName->setPalette(palette);
}

// ---------------------------------------------------------------------------------
// Texts

void IdentWizard::fillErrorTexts()
{
    const QString stepHints = tr("- Step Acceleration - without increasing speed") + QStringLiteral("<br>")
        + tr("- Probably bad params: pole pairs or kv") + QStringLiteral("<br>")
        + tr("- Step Variable speed - motor stops spinning") + QStringLiteral("<br>")
        + tr("- Probably bad (low) params: Max current");
    // Each sentence is one text, its markup inside, so that a translation orders its words.
    const QString repeat = QStringLiteral("<b>") + tr("Break identification by user") + QStringLiteral("</b><br>(")
        + tr("Self-diagnosis <u>did not find</u> an error") + QStringLiteral(")<br><br>") + tr("- No problems")
        + QStringLiteral("<br>") + tr("- Use `Repeat` identification with actual motor params") + QStringLiteral("<br>")
        + tr("- The motor did not have the desired behavior") + QStringLiteral("<br>")
        + tr("- Use `Cancel`, check and adjust motor params") + QStringLiteral("<br>") + stepHints;
    const QString correction = QStringLiteral("<b>") + tr("Break identification by warning")
        + QStringLiteral("</b><br>(") + tr("Self-diagnosis <u>find</u> an error") + QStringLiteral(")<br><br>")
        + tr("- Use `Correction` of identification <i>(no changes actual motor params)</i>") + QStringLiteral("<br>")
        + tr("- Use `Cancel`, check and adjust motor params <i>(update motor params affects internal params)</i>")
        + QStringLiteral("<br>") + stepHints;
    ui->textEdit_ErrorRepeat->setHtml(repeat);
    ui->textEdit_ErrorCorretion->setHtml(correction);
    ui->textEdit_ErrorPredicted->setHtml(QStringLiteral("<b>")
                                         + tr("Beware, you may need to break the identification!")
                                         + QStringLiteral("</b>"));
}

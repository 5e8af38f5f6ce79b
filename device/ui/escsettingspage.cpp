#include "device/ui/escsettingspage.h"

#include "ui_escsettingspage.h"

#include "ui/appsettings.h"
#include "ui/embeddedfonts.h"
#include "ui/suggestedfiles.h"
#include "ui/userdialogs.h"
#include "device/device.h"
#include "device/devicelog.h"
#include "device/escsettingstext.h"
#include "device/paramshelper.h"
#include "device/pwmcharacteristic.h"
#include "device/settingsmodel.h"
#include "device/settingsrecords.h"
#include "motors/dbmanager.h"
#include "recording/wholefile.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QListView>
#include <QLocale>
#include <QPalette>
#include <QSignalBlocker>
#include <QStandardItemModel>

#include <cmath>
#include <limits>

#include <qwt_plot_curve.h>
#include <qwt_text.h>

#include <vector>

namespace {

const QColor CHARACTERISTIC_COLOUR(55, 200, 171);
constexpr int PLOT_FONT_POINTS = 8;
// Only debug builds of the Qt library show and send the PWM scale.
bool isDebugQt()
{
    return SettingsModel::scaleIsSent();
}

// A combo box item that cannot be chosen; `hidden` also takes it out of the drop-down list.
void disableItem(QComboBox *box, int index, bool hidden)
{
    if (auto *model = qobject_cast<QStandardItemModel *>(box->model())) {
        if (QStandardItem *item = model->item(index))
            item->setEnabled(false);
    }
    if (hidden) {
        if (auto *view = qobject_cast<QListView *>(box->view()))
            view->setRowHidden(index, true);
    }
}

// Blocks the signals of a group of widgets for the lifetime of the guard.
class SignalBlockers
{
public:
    explicit SignalBlockers(const QList<QWidget *> &widgets)
    {
        m_blockers.reserve(size_t(widgets.size()));
        for (QWidget *w : widgets)
            m_blockers.emplace_back(w);
    }

private:
    std::vector<QSignalBlocker> m_blockers;
};

QwtPlotCurve *addCurve(QwtPlot *plot, const QVector<QPointF> &points, const QPen &pen)
{
    auto *curve = new QwtPlotCurve;
    curve->setPen(pen);
    curve->setRenderHint(QwtPlotItem::RenderAntialiased);
    curve->setSamples(points);
    curve->attach(plot);
    return curve;
}

} // namespace

EscSettingsPage::EscSettingsPage(ParamsHelper *params, Device *device, DbManager *database, UserDialogs *dialogs,
                                 AppSettings *settings, QWidget *parent)
    : QWidget(parent),
      ui(new Ui::EscSettingsPage),
      m_params(params),
      m_device(device),
      m_database(database),
      m_dialogs(dialogs),
      m_settings(settings)
{
    ui->setupUi(this);
    setInitialState();

    connect(m_device, &Device::ui_fillPwmInParams, this, &EscSettingsPage::on_fillPwmInParams);
    connect(m_device, &Device::ui_fillMotionParams, this, &EscSettingsPage::on_fillMotionParams);
    connect(m_device, &Device::ui_emptyParams, this, &EscSettingsPage::on_emptyParams);
    connect(m_device, &Device::ui_changeUserMotorParams, this, &EscSettingsPage::redrawPwmCharacteristic);
    connect(m_params, &ParamsHelper::updateCheckBox, this, &EscSettingsPage::on_updateCheckBox);
    connect(m_params, &ParamsHelper::fillErrors, this, &EscSettingsPage::on_fillErrors);
    connect(m_params, &ParamsHelper::fillData, this, &EscSettingsPage::on_fillData);
    connect(m_params, &ParamsHelper::fillResistances, this, &EscSettingsPage::on_fillResistances);
    redrawPwmCharacteristic();
}

EscSettingsPage::~EscSettingsPage() = default;

void EscSettingsPage::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        // The form's texts come back in the new language; the gain label follows the
        // control type, so it is set again.
        ui->retranslateUi(this);
        showControlType(ui->comboBoxControlType->currentIndex());
        if (m_motionRead) { // a gain shown as read keeps its widened box
            const QSignalBlocker blocker(ui->doubleSpinBoxKi_Kff);
            showGainAsRead(ui->doubleSpinBoxKi_Kff, SettingsModel::shownGain(m_motion.Ki));
        }
        showRangeToolTips();
    } else if (event->type() == QEvent::PaletteChange) {
        redrawPwmCharacteristic();
    }
    QWidget::changeEvent(event);
}

void EscSettingsPage::setInitialState()
{
    ui->comboBoxPwmType->setCurrentIndex(0);
    disableItem(ui->comboBoxPwmType, 1, false);
    ui->comboBoxControlType->setCurrentIndex(1);
    disableItem(ui->comboBoxControlType, 0, true);
    showControlType(1);
    showPwmType(0);

    for (QWidget *w : {static_cast<QWidget *>(ui->spinBoxPwmLow), static_cast<QWidget *>(ui->labelPwmLow),
                       static_cast<QWidget *>(ui->spinBoxPwmCenter), static_cast<QWidget *>(ui->labelPwmCenter),
                       static_cast<QWidget *>(ui->spinBoxPwmHigh), static_cast<QWidget *>(ui->labelPwmHigh),
                       static_cast<QWidget *>(ui->labelScale), static_cast<QWidget *>(ui->doubleSpinBoxScale)})
        w->setEnabled(false);
    ui->labelScale->setVisible(isDebugQt());
    ui->doubleSpinBoxScale->setVisible(isDebugQt());
    for (QWidget *w : {static_cast<QWidget *>(ui->checkBoxBreak), static_cast<QWidget *>(ui->labelBreak),
                       static_cast<QWidget *>(ui->horizontalSliderBreak),
                       static_cast<QWidget *>(ui->horizontalSliderAcceleration),
                       static_cast<QWidget *>(ui->spinBoxAcceleration),
                       static_cast<QWidget *>(ui->labelAcceleration), static_cast<QWidget *>(ui->labelLow),
                       static_cast<QWidget *>(ui->labelMid), static_cast<QWidget *>(ui->labelHigh)})
        w->hide();

    // The two indicators only show what the controller confirmed.
    for (QCheckBox *indicator : {ui->checkBoxSendPwmInput, ui->checkBoxSendMotion}) {
        indicator->setAttribute(Qt::WA_TransparentForMouseEvents);
        indicator->setFocusPolicy(Qt::NoFocus);
    }
    setSettingsFileEnabled(false);
    showRangeToolTips();
}

// Every number field names its range, in its unit; a gain shown beyond its usual range
// keeps the tooltip that says so.
void EscSettingsPage::showRangeToolTips()
{
    const QLocale locale;
    for (QSpinBox *box : findChildren<QSpinBox *>()) {
        box->setToolTip(tr("%1 to %2").arg(locale.toString(box->minimum()) + box->suffix(),
                                          locale.toString(box->maximum()) + box->suffix()));
    }
    for (QDoubleSpinBox *box : findChildren<QDoubleSpinBox *>()) {
        if (box->property("usualDecimals").isValid())
            continue;
        box->setToolTip(tr("%1 to %2").arg(locale.toString(box->minimum(), 'f', box->decimals()) + box->suffix(),
                                          locale.toString(box->maximum(), 'f', box->decimals()) + box->suffix()));
    }
}

void EscSettingsPage::setSettingsFileEnabled(bool enabled)
{
    ui->toolButtonExportParams->setEnabled(enabled);
    ui->toolButtonImportParams->setEnabled(enabled);
    ui->toolButtonBackups->setEnabled(enabled);
}

QList<QWidget *> EscSettingsPage::pwmInputWidgets() const
{
    return {ui->spinBoxPwmLow, ui->spinBoxPwmCenter, ui->spinBoxPwmHigh, ui->spinBoxPwmDeadZone,
            ui->comboBoxPwmType, ui->comboBoxControlType, ui->checkBoxDigitalControl, ui->checkBoxAnalogControl,
            ui->spinBoxSpeedNorm, ui->doubleSpinBoxScale};
}

QList<QWidget *> EscSettingsPage::motionWidgets() const
{
    return {ui->horizontalSliderAcceleration, ui->spinBoxAcceleration, ui->horizontalSliderBreak,
            ui->spinBoxIndexDevice, ui->spinBoxTimeToLeave, ui->checkBoxBreak, ui->checkBoxReverseDir,
            ui->doubleSpinBoxKp, ui->doubleSpinBoxKi_Kff};
}

// ---------------------------------------------------------------------------------
// Sending

void EscSettingsPage::sendPwmInParams()
{
    if (!m_device->hasRead(Device::READ_PWM_IN))
        return; // the fields hold defaults, not the controller's values
    ui->checkBoxSendPwmInput->setCheckState(Qt::Unchecked);
    if (!m_pwmInRead)
        return; // the page shows defaults, not the controller's values
    ParamsHelper *params = m_params;
    const SET_PWM_IN_PARAMS record = m_pwmIn;
    QMetaObject::invokeMethod(params, [params, record] { params->setPwmInRecord(record); }, Qt::QueuedConnection);
}

void EscSettingsPage::sendMotionParams()
{
    if (!m_device->hasRead(Device::READ_MOTION))
        return; // the fields hold defaults, not the controller's values
    ui->checkBoxSendMotion->setCheckState(Qt::Unchecked);
    deviceDebug("MAIN_WINDOW:") << "Index " << ui->spinBoxIndexDevice->value();
    if (!m_motionRead)
        return;
    ParamsHelper *params = m_params;
    const SET_MOTION_PARAMS record = m_motion;
    QMetaObject::invokeMethod(params, [params, record] { params->setMotionRecord(record); }, Qt::QueuedConnection);
}

// The field a widget edits and its value in the file's units.
bool EscSettingsPage::editedField(const QWidget *widget, SettingsValue::Field *field, double *value) const
{
    const struct {
        const QWidget *widget;
        SettingsValue::Field field;
        double value;
    } edits[] = {
        {ui->spinBoxPwmLow, SettingsValue::LowLevel, double(ui->spinBoxPwmLow->value())},
        {ui->spinBoxPwmCenter, SettingsValue::CenterLevel, double(ui->spinBoxPwmCenter->value())},
        {ui->spinBoxPwmHigh, SettingsValue::HighLevel, double(ui->spinBoxPwmHigh->value())},
        {ui->spinBoxPwmDeadZone, SettingsValue::DeadZone, double(ui->spinBoxPwmDeadZone->value())},
        {ui->comboBoxPwmType, SettingsValue::PwmType, double(ui->comboBoxPwmType->currentIndex())},
        {ui->comboBoxControlType, SettingsValue::ControlType, double(ui->comboBoxControlType->currentIndex())},
        {ui->checkBoxDigitalControl, SettingsValue::DigitalControl, ui->checkBoxDigitalControl->isChecked() ? 1.0 : 0.0},
        {ui->checkBoxAnalogControl, SettingsValue::AnalogControl, ui->checkBoxAnalogControl->isChecked() ? 1.0 : 0.0},
        {ui->spinBoxSpeedNorm, SettingsValue::SpeedNorm, double(ui->spinBoxSpeedNorm->value())},
        {ui->doubleSpinBoxScale, SettingsValue::Scale, ui->doubleSpinBoxScale->value()},
        {ui->horizontalSliderAcceleration, SettingsValue::Acceleration,
         double(SettingsModel::accelerationValue(ui->horizontalSliderAcceleration->value()))},
        {ui->horizontalSliderBreak, SettingsValue::BrakeIntensity, double(ui->horizontalSliderBreak->value())},
        {ui->checkBoxBreak, SettingsValue::BrakeEnable, ui->checkBoxBreak->isChecked() ? 1.0 : 0.0},
        {ui->checkBoxReverseDir, SettingsValue::Reverse, ui->checkBoxReverseDir->isChecked() ? 1.0 : 0.0},
        {ui->spinBoxTimeToLeave, SettingsValue::TimeToLeave, double(ui->spinBoxTimeToLeave->value())},
        {ui->doubleSpinBoxKp, SettingsValue::Kp, ui->doubleSpinBoxKp->value()},
        {ui->doubleSpinBoxKi_Kff, SettingsValue::KiKff, ui->doubleSpinBoxKi_Kff->value()},
    };
    for (const auto &edit : edits) {
        if (edit.widget == widget) {
            *field = edit.field;
            *value = edit.value;
            return true;
        }
    }
    return false;
}

void EscSettingsPage::takeEdit(const QWidget *widget)
{
    if (widget == ui->spinBoxIndexDevice) {
        // The box carries both the address and where it comes from.
        SettingsModel::setField(SettingsValue::DeviceAddress, ui->spinBoxIndexDevice->value(), m_pwmIn, m_motion);
        SettingsModel::setField(SettingsValue::HwAddress, ui->spinBoxIndexDevice->isReadOnly() ? 1 : 0, m_pwmIn,
                                m_motion);
        return;
    }
    SettingsValue::Field field;
    double value = 0;
    if (!editedField(widget, &field, &value))
        return;
    double used = 0;
    if (!SettingsModel::limit(field, value, &used)) {
        // A box may offer more than the field holds (a Ki beyond what its word holds, a gain
        // shown as read): what is sent is shown, and said.
        if (auto *box = qobject_cast<QDoubleSpinBox *>(const_cast<QWidget *>(widget))) {
            const QSignalBlocker blocker(box);
            box->setValue(used);
        }
        emit infoText(tr("Values out of range were limited: %1")
                          .arg(SettingsModel::limitedText(SettingsModel::tag(field), value, used)),
                      false);
    }
    SettingsModel::setField(field, used, m_pwmIn, m_motion);
}

void EscSettingsPage::on_fillSetParams()
{
    sendPwmInParams();
}

// ---------------------------------------------------------------------------------
// Widget reactions

void EscSettingsPage::on_horizontalSliderAcceleration_valueChanged(int value)
{
    ui->spinBoxAcceleration->setValue(SettingsModel::accelerationValue(value));
    takeEdit(ui->horizontalSliderAcceleration);
    sendMotionParams();
}

void EscSettingsPage::on_horizontalSliderBreak_valueChanged(int)
{
    takeEdit(ui->horizontalSliderBreak);
    sendMotionParams();
}

void EscSettingsPage::on_checkBoxBreak_stateChanged(int)
{
    takeEdit(ui->checkBoxBreak);
    sendMotionParams();
}

void EscSettingsPage::on_checkBoxReverseDir_stateChanged(int)
{
    takeEdit(ui->checkBoxReverseDir);
    sendMotionParams();
}

void EscSettingsPage::on_spinBoxIndexDevice_valueChanged(int)
{
    takeEdit(ui->spinBoxIndexDevice);
    sendMotionParams();
}

void EscSettingsPage::on_spinBoxTimeToLeave_valueChanged(int)
{
    takeEdit(ui->spinBoxTimeToLeave);
    sendMotionParams();
}

void EscSettingsPage::on_doubleSpinBoxKp_valueChanged(double)
{
    takeEdit(ui->doubleSpinBoxKp);
    sendMotionParams();
}

void EscSettingsPage::on_doubleSpinBoxKi_Kff_valueChanged(double)
{
    takeEdit(ui->doubleSpinBoxKi_Kff);
    sendMotionParams();
}

void EscSettingsPage::on_doubleSpinBoxScale_valueChanged(double)
{
    takeEdit(ui->doubleSpinBoxScale);
    sendPwmInParams();
}

void EscSettingsPage::on_spinBoxSpeedNorm_valueChanged(int)
{
    takeEdit(ui->spinBoxSpeedNorm);
    sendPwmInParams();
    redrawPwmCharacteristic();
}

void EscSettingsPage::on_spinBoxPwmLow_valueChanged(int)
{
    takeEdit(ui->spinBoxPwmLow);
    sendPwmInParams();
    redrawPwmCharacteristic();
}

void EscSettingsPage::on_spinBoxPwmCenter_valueChanged(int)
{
    takeEdit(ui->spinBoxPwmCenter);
    sendPwmInParams();
    redrawPwmCharacteristic();
}

void EscSettingsPage::on_spinBoxPwmHigh_valueChanged(int)
{
    takeEdit(ui->spinBoxPwmHigh);
    sendPwmInParams();
    redrawPwmCharacteristic();
}

void EscSettingsPage::on_spinBoxPwmDeadZone_valueChanged(int)
{
    takeEdit(ui->spinBoxPwmDeadZone);
    sendPwmInParams();
    redrawPwmCharacteristic();
}

void EscSettingsPage::on_comboBoxPwmType_currentIndexChanged(int index)
{
    showPwmType(index);
    takeEdit(ui->comboBoxPwmType);
    sendPwmInParams();
    redrawPwmCharacteristic();
}

void EscSettingsPage::on_comboBoxControlType_currentIndexChanged(int index)
{
    showControlType(index);
    ui->doubleSpinBoxKi_Kff->setValue(index == 0 ? 0.0 : 1.25);
    takeEdit(ui->comboBoxControlType);
    sendPwmInParams();
    redrawPwmCharacteristic();
}

void EscSettingsPage::showPwmType(int index)
{
    ui->spinBoxPwmCenter->setEnabled(index != 0);
}

void EscSettingsPage::showControlType(int index)
{
    QDoubleSpinBox *gain = ui->doubleSpinBoxKi_Kff;
    const QSignalBlocker blocker(gain); // a range change may clamp the value: not an edit
    restoreUsualRange(gain);
    if (index == 0) {
        ui->spinBoxSpeedNorm->setEnabled(false);
        ui->doubleSpinBoxScale->setEnabled(true);
        ui->labelCtrl_Ki_Kff->setText(tr("Controller Ki"));
        gain->setDecimals(3);
        gain->setRange(0.0, 65.535);
        gain->setSingleStep(0.001);
    } else {
        ui->spinBoxSpeedNorm->setEnabled(true);
        ui->doubleSpinBoxScale->setEnabled(false);
        ui->labelCtrl_Ki_Kff->setText(tr("Controller Kff"));
        gain->setDecimals(2);
        gain->setRange(1.0, 2.0);
        gain->setSingleStep(0.01);
    }
    showRangeToolTips();
}

// A gain the controller holds outside its box's usual range is shown as read all the
// same: the box widens to it, with the decimals a word / 1024 needs, and its tooltip names
// the usual range. The usual range comes back with the next value inside it or the next
// control type. The caller blocks the box's signals: showing is not an edit.
void EscSettingsPage::showGainAsRead(QDoubleSpinBox *box, double value)
{
    if (box == ui->doubleSpinBoxKi_Kff)
        showControlType(ui->comboBoxControlType->currentIndex());
    else
        restoreUsualRange(box);
    if (value < box->minimum() || value > box->maximum()) {
        box->setProperty("usualMinimum", box->minimum());
        box->setProperty("usualMaximum", box->maximum());
        box->setProperty("usualDecimals", box->decimals());
        box->setToolTip(tr("The controller holds %1, outside the usual range %2 to %3.")
                            .arg(QLocale().toString(value, 'f', READ_GAIN_DECIMALS))
                            .arg(QLocale().toString(box->minimum(), 'f', box->decimals()))
                            .arg(QLocale().toString(box->maximum(), 'f', box->decimals())));
        box->setDecimals(READ_GAIN_DECIMALS);
        box->setRange(std::min(box->minimum(), value), std::max(box->maximum(), value));
    }
    box->setValue(value);
}

void EscSettingsPage::restoreUsualRange(QDoubleSpinBox *box)
{
    if (!box->property("usualDecimals").isValid())
        return;
    box->setDecimals(box->property("usualDecimals").toInt());
    box->setRange(box->property("usualMinimum").toDouble(), box->property("usualMaximum").toDouble());
    for (const char *name : {"usualMinimum", "usualMaximum", "usualDecimals"})
        box->setProperty(name, QVariant());
    showRangeToolTips();
}

void EscSettingsPage::on_checkBoxDigitalControl_stateChanged(int state)
{
    // One of the two inputs always stays enabled.
    if (state == Qt::Unchecked) {
        const QSignalBlocker blocker(ui->checkBoxAnalogControl);
        ui->checkBoxAnalogControl->setChecked(true);
    }
    takeEdit(ui->checkBoxDigitalControl);
    takeEdit(ui->checkBoxAnalogControl);
    sendPwmInParams();
}

void EscSettingsPage::on_checkBoxAnalogControl_stateChanged(int state)
{
    if (state == Qt::Unchecked) {
        const QSignalBlocker blocker(ui->checkBoxDigitalControl);
        ui->checkBoxDigitalControl->setChecked(true);
    }
    takeEdit(ui->checkBoxDigitalControl);
    takeEdit(ui->checkBoxAnalogControl);
    sendPwmInParams();
}

void EscSettingsPage::setHardwareAddress(bool fromHardware)
{
    ui->spinBoxIndexDevice->setReadOnly(fromHardware);
    ui->spinBoxIndexDevice->setButtonSymbols(fromHardware ? QAbstractSpinBox::NoButtons
                                                          : QAbstractSpinBox::UpDownArrows);
}

// ---------------------------------------------------------------------------------
// Filling from the device

// Shows a record in the widgets, their signals blocked: showing is not an edit.
void EscSettingsPage::showPwmIn(const SET_PWM_IN_PARAMS &p)
{
    const SignalBlockers blocked(pwmInputWidgets());
    ui->spinBoxPwmLow->setValue(SettingsModel::levelMicroseconds(p.lowLevel));
    ui->spinBoxPwmCenter->setValue(SettingsModel::levelMicroseconds(p.centerLevel));
    ui->spinBoxPwmHigh->setValue(SettingsModel::levelMicroseconds(p.highLevel));
    ui->spinBoxPwmDeadZone->setValue(p.deadZone);
    ui->comboBoxPwmType->setCurrentIndex(p.pwmType ? 1 : 0);
    ui->comboBoxControlType->setCurrentIndex(p.controlType ? 1 : 0);
    showPwmType(ui->comboBoxPwmType->currentIndex());
    showControlType(ui->comboBoxControlType->currentIndex());
    ui->checkBoxDigitalControl->setChecked(p.digitalControl);
    ui->checkBoxAnalogControl->setChecked(p.analogControl);
    ui->spinBoxSpeedNorm->setValue(SettingsModel::speedNorm(p.speedNorm));
    ui->doubleSpinBoxScale->setValue(SettingsModel::scale(p.scale));
}

void EscSettingsPage::showMotion(const SET_MOTION_PARAMS &m)
{
    const SignalBlockers blocked(motionWidgets());
    ui->horizontalSliderAcceleration->setValue(SettingsModel::accelerationPosition(m.acceleration));
    ui->spinBoxAcceleration->setValue(int(SettingsModel::fieldValue(SettingsValue::Acceleration, m_pwmIn, m)));
    const int brake = SettingsModel::brakePosition(m.brakeIntensity);
    if (brake >= 0) // any other intensity leaves the slider
        ui->horizontalSliderBreak->setValue(brake);
    setHardwareAddress(m.hwAddress);
    ui->spinBoxIndexDevice->setValue(m.deviceAddress);
    ui->spinBoxTimeToLeave->setValue(SettingsModel::timeToLeave(m.timeToLeave));
    ui->checkBoxBreak->setChecked(m.brakeEnable);
    ui->checkBoxReverseDir->setChecked(m.reverseDir);
    showGainAsRead(ui->doubleSpinBoxKp, SettingsModel::shownGain(m.Kp));
    showGainAsRead(ui->doubleSpinBoxKi_Kff, SettingsModel::shownGain(m.Ki));
}

void EscSettingsPage::on_fillPwmInParams(SET_PWM_IN_PARAMS *pwmInParams, bool forced)
{
    if (!pwmInParams)
        return;
    const SET_PWM_IN_PARAMS p = *pwmInParams;
    showPwmIn(p);
    m_pwmIn = p;
    m_pwmInRead = true;
    ui->checkBoxSendPwmInput->setCheckState(Qt::Checked);
    redrawPwmCharacteristic();
    if (forced) {
        deviceDebug("MAIN_WINDOW:") << "Forced setup Pwm In Params";
        sendPwmInParams();
    }
}

void EscSettingsPage::on_fillMotionParams(SET_MOTION_PARAMS *motionParams, bool forced)
{
    if (!motionParams)
        return;
    const SET_MOTION_PARAMS m = *motionParams;
    deviceDebug("MAIN_WINDOW:") << "Motion fills" << m.hwAddress << m.deviceAddress;
    showMotion(m);
    m_motion = m;
    m_motionRead = true;
    ui->checkBoxSendMotion->setCheckState(Qt::Checked);
    if (forced) {
        deviceDebug("MAIN_WINDOW:") << "Forced setup Motion Params";
        sendMotionParams();
    }
}

void EscSettingsPage::on_emptyParams()
{
    m_pwmInRead = false;
    m_motionRead = false;
    {
        QList<QWidget *> widgets = pwmInputWidgets() + motionWidgets();
        const SignalBlockers blocked(widgets);
        ui->spinBoxPwmLow->setValue(1000);
        ui->spinBoxPwmCenter->setValue(1500);
        ui->spinBoxPwmHigh->setValue(2000);
        ui->spinBoxPwmDeadZone->setValue(ui->spinBoxPwmDeadZone->minimum());
        ui->comboBoxPwmType->setCurrentIndex(0);
        ui->comboBoxControlType->setCurrentIndex(1);
        showPwmType(0);
        showControlType(1);
        ui->spinBoxSpeedNorm->setValue(1000);
        ui->doubleSpinBoxScale->setValue(0.0);
        ui->checkBoxAnalogControl->setChecked(true);
        ui->checkBoxDigitalControl->setChecked(false);
        ui->horizontalSliderAcceleration->setValue(0);
        ui->spinBoxAcceleration->setValue(SettingsModel::ACCELERATION_BASE);
        ui->horizontalSliderBreak->setValue(0);
        ui->checkBoxBreak->setChecked(false);
        ui->checkBoxReverseDir->setChecked(false);
        setHardwareAddress(false);
        ui->spinBoxIndexDevice->setValue(0);
        ui->spinBoxTimeToLeave->setValue(150);
        restoreUsualRange(ui->doubleSpinBoxKp);
        ui->doubleSpinBoxKp->setValue(0.0);
        ui->doubleSpinBoxKi_Kff->setValue(0.0);
    }
    ui->textBrowserAllErrors->clear();
    ui->textBrowserPrevErrors->clear();
    ui->textBrowserLastErrors->clear();
    ui->textBrowserLastData->clear();
    ui->textBrowserRes->clear();
    redrawPwmCharacteristic();
}

void EscSettingsPage::on_updateCheckBox(Qt::CheckState pwmIn, Qt::CheckState motion)
{
    ui->checkBoxSendPwmInput->setCheckState(pwmIn);
    ui->checkBoxSendMotion->setCheckState(motion);
}

// ---------------------------------------------------------------------------------
// Diagnostics

void EscSettingsPage::on_pushButtonGetErrors_clicked()
{
    QMetaObject::invokeMethod(m_params, &ParamsHelper::requestErrorLog, Qt::QueuedConnection);
}

void EscSettingsPage::on_pushButtonClearErrors_clicked()
{
    QMetaObject::invokeMethod(m_params, &ParamsHelper::clearErrorLog, Qt::QueuedConnection);
}

void EscSettingsPage::on_pushButtonGetData_clicked()
{
    QMetaObject::invokeMethod(m_params, &ParamsHelper::requestRunData, Qt::QueuedConnection);
}

void EscSettingsPage::on_pushButtonGetRes_clicked()
{
    QMetaObject::invokeMethod(m_params, &ParamsHelper::requestResistances, Qt::QueuedConnection);
}

void EscSettingsPage::on_fillErrors(ERROR_WARN_LOG eaw)
{
    const struct {
        QTextBrowser *browser;
        uint32_t errors;
        uint32_t warnings;
    } views[] = {
        {ui->textBrowserLastErrors, eaw.lastErrors, eaw.lastWarnings},
        {ui->textBrowserPrevErrors, eaw.prevErrors, eaw.prevWarnings},
        {ui->textBrowserAllErrors, eaw.allErrors, eaw.allWarnings},
    };
    for (const auto &view : views) {
        view.browser->clear();
        for (const QString &line : EscSettingsText::errorLogLines(view.errors, view.warnings))
            view.browser->append(line);
    }
}

void EscSettingsPage::on_fillData(RUN_DATA runData)
{
    ui->textBrowserLastData->clear();
    for (const QString &line : EscSettingsText::runDataLines(runData))
        ui->textBrowserLastData->append(line);
}

void EscSettingsPage::on_fillResistances(RESISTANCE res)
{
    ui->textBrowserRes->clear();
    for (const QString &line : EscSettingsText::resistanceLines(res))
        ui->textBrowserRes->append(line);
}

// ---------------------------------------------------------------------------------
// PWM input characteristic

// The plot's own light colours on a light palette; on a dark one the plot follows the
// palette, so that its axis numbers stay readable.
QString EscSettingsPage::plotStyleSheet(const QPalette &palette)
{
    if (palette.color(QPalette::Base).lightness() >= 128) {
        QFile styleSheet(QStringLiteral(":/stylesheets/stylesheets/blue.css"));
        return styleSheet.open(QIODevice::ReadOnly) ? QString::fromUtf8(styleSheet.readAll()) : QString();
    }
    return QStringLiteral("QwtPlot { background-color: %1; color: %2; }\n"
                          "QwtPlotCanvas { background-color: %3; border: 1px solid %4; border-radius: 4px; }\n")
        .arg(palette.color(QPalette::Window).name(), palette.color(QPalette::WindowText).name(),
             palette.color(QPalette::Base).name(), palette.color(QPalette::Mid).name());
}

void EscSettingsPage::redrawPwmCharacteristic()
{
    const PwmCharacteristic c = PwmCharacteristic::compute(ui->comboBoxPwmType->currentIndex() == 1,
                                                           ui->comboBoxControlType->currentIndex() == 1,
                                                           ui->spinBoxSpeedNorm->value(),
                                                           ui->spinBoxPwmDeadZone->value());
    if (!c.valid)
        return;
    QwtPlot *plot = ui->qwtPlot;
    plot->detachItems(QwtPlotItem::Rtti_PlotItem, true);
    plot->setStyleSheet(plotStyleSheet(palette()));
    plot->setFont(EmbeddedFonts::dialogFont(PLOT_FONT_POINTS));

    plot->setAxisScale(QwtPlot::yLeft, c.yMin, c.yMax);
    plot->setAxisScale(QwtPlot::xBottom, c.yMin < 0 ? -1.1 : -0.1, 1.1);
    QwtText unit(c.unit);
    unit.setFont(EmbeddedFonts::dialogFont(PLOT_FONT_POINTS));
    plot->setAxisTitle(QwtPlot::yLeft, unit);
    QwtText input(tr("Input (full scale = 1)"));
    input.setFont(EmbeddedFonts::dialogFont(PLOT_FONT_POINTS));
    plot->setAxisTitle(QwtPlot::xBottom, input);

    QPen reference(CHARACTERISTIC_COLOUR, 1, Qt::DashLine);
    for (double x : c.referenceX)
        addCurve(plot, {{x, c.yMin}, {x, c.yMax}}, reference);
    addCurve(plot, c.curve, QPen(CHARACTERISTIC_COLOUR, 2));
    plot->replot();
}

// ---------------------------------------------------------------------------------
// Settings file

bool EscSettingsPage::hasSettingsToExport() const
{
    return m_pwmInRead && m_motionRead;
}

EscSettingsSnapshot EscSettingsPage::snapshot() const
{
    // The records as read, with the user's edits in their own fields: a widget's range or
    // decimals must not change what the file keeps (a Kff of 0.1 in a 1.0 to 2.0 box).
    EscSettingsSnapshot s = SettingsRecords::exported(m_pwmIn, m_motion);
    s.motorName = m_device->motorName();
    // A motor the database no longer holds is written as the controller holds it.
    if (!s.motorName.isEmpty() && !m_database->getMotorParams(s.motorName, &s.motor))
        s.motor = m_device->motorParams();
    return s;
}

QByteArray EscSettingsPage::settingsDocument() const
{
    return hasSettingsToExport() ? SettingsDocument::compose(snapshot()) : QByteArray();
}

void EscSettingsPage::on_toolButtonExportParams_clicked()
{
    if (!hasSettingsToExport()) {
        m_dialogs->message(UserDialogs::Icon::Warning, tr("Content"),
                           EmbeddedFonts::inDialogFont(tr("The settings have not been read from the controller yet: "
                                                          "there is nothing to export.")));
        return;
    }
    const QByteArray document = SettingsDocument::compose(snapshot());
    const QString fileName = SuggestedFiles::withSuffix(
        m_dialogs->saveFileName(tr("Choose params"),
                                SuggestedFiles::name(m_settings->settingsDirectory(), QStringLiteral("kordo-settings"),
                                                     QStringLiteral("xml")),
                                tr("XML Files (*.xml)")),
        QStringLiteral("xml"));
    if (fileName.isEmpty())
        return;
    // Written whole or not at all: a failed export never leaves a cut-off file behind.
    QString problem;
    if (!WholeFile::write(fileName, document, &problem)) {
        m_dialogs->message(UserDialogs::Icon::Critical, tr("Error"),
                           EmbeddedFonts::inDialogFont(tr("File saving failed!") + QStringLiteral("<br>")
                                                       + tr("%1 cannot be written: %2.")
                                                             .arg(QDir::toNativeSeparators(fileName), problem)
                                                             .toHtmlEscaped()));
        return;
    }
    m_settings->setSettingsDirectory(SuggestedFiles::folderOf(fileName));
    m_dialogs->message(UserDialogs::Icon::Information, tr("Done"),
                       EmbeddedFonts::inDialogFont(
                           tr("Settings are exported to %1.").arg(QDir::toNativeSeparators(fileName)).toHtmlEscaped()));
}

void EscSettingsPage::on_toolButtonImportParams_clicked()
{
    const QString fileName = m_dialogs->openFileName(tr("Choose params"), m_settings->settingsDirectory(),
                                                     tr("XML Files (*.xml)"));
    if (fileName.isEmpty())
        return;
    m_settings->setSettingsDirectory(SuggestedFiles::folderOf(fileName));
    // Only a regular file: a FIFO or a device would hold the window. One byte more than
    // allowed, so that a file that is too large is seen as such.
    QByteArray text;
    QString problem;
    if (!WholeFile::read(fileName, SettingsDocument::MAX_FILE_SIZE + 1, &text, &problem)) {
        m_dialogs->message(UserDialogs::Icon::Critical, tr("Error"),
                           EmbeddedFonts::inDialogFont(tr("File opening failed!")));
        return;
    }
    const ImportedSettings settings = SettingsDocument::parse(text);
    if (settings.status != ImportedSettings::Status::Ok) {
        m_dialogs->message(UserDialogs::Icon::Warning, tr("Content"),
                           EmbeddedFonts::inDialogFont(tr("File not contain settings!")));
        return;
    }
    emit aboutToImport();
    applyImported(settings);
}

// The question before an import writes: each field that would change, as the controller
// holds it now and as the file would set it, and the values the file gives out of range.
QString EscSettingsPage::importQuestion(const QVector<SettingsModel::FieldChange> &changes,
                                        const QStringList &limited)
{
    QString rows;
    for (const SettingsModel::FieldChange &change : changes)
        rows += QStringLiteral("<tr><td>%1</td><td align=\"right\">%2</td><td align=\"right\">%3</td></tr>")
                    .arg(change.tag, SettingsModel::valueText(change.field, change.now),
                         SettingsModel::valueText(change.field, change.file));
    QString text = tr("Writing this file changes %n setting(s) of the controller:", "", changes.size())
                   + QStringLiteral("<table cellspacing=\"4\"><tr><th align=\"left\">%1</th><th>%2</th><th>%3</th></tr>")
                         .arg(tr("Field"), tr("Controller now"), tr("File"))
                   + rows + QStringLiteral("</table>");
    if (!limited.isEmpty())
        text += QStringLiteral("<p>%1</p>").arg(tr("Values out of range are limited: %1")
                                                   .arg(limited.join(QStringLiteral(", ")).toHtmlEscaped()));
    return EmbeddedFonts::inDialogFont(text);
}

void EscSettingsPage::on_toolButtonBackups_clicked()
{
    emit backupsRequested();
}

void EscSettingsPage::applyImported(const ImportedSettings &settings)
{
    if (!settings.refused.isEmpty())
        emit infoText(SettingsDocument::refusedValuesText(settings.refused), true, UserDialogs::Icon::Warning);
    if (!settings.values.isEmpty()) {
        if (!m_pwmInRead || !m_motionRead) {
            m_dialogs->message(UserDialogs::Icon::Warning, tr("Content"),
                               EmbeddedFonts::inDialogFont(tr("The settings have not been read from the controller "
                                                              "yet: the file cannot be compared with them.")));
            return;
        }
        // The file laid over the records as the controller holds them, as --settings does;
        // the user sees what would change and agrees before anything is written.
        const SettingsRecords records = SettingsRecords::apply(settings.values, m_pwmIn, m_motion);
        const QVector<SettingsModel::FieldChange> changes =
            SettingsModel::changes(m_pwmIn, m_motion, records.pwmIn, records.motion);
        if (changes.isEmpty()) {
            m_dialogs->message(UserDialogs::Icon::Information, tr("Import"),
                               EmbeddedFonts::inDialogFont(tr("The controller already holds the settings of this "
                                                              "file: nothing was written.")));
        } else if (!m_dialogs->askButtons(importQuestion(changes, records.limited), tr("Write"), tr("Cancel"))) {
            return;
        } else {
            const bool pwmIn = records.pwmIn.pack() != m_pwmIn.pack();
            const bool motion = records.motion.pack() != m_motion.pack();
            m_pwmIn = records.pwmIn;
            m_motion = records.motion;
            showPwmIn(m_pwmIn);
            showMotion(m_motion); // after the control type, which sets the gain box's range
            redrawPwmCharacteristic();
            if (pwmIn)
                sendPwmInParams();
            if (motion)
                sendMotionParams();
        }
        QStringList notes;
        if (!records.limited.isEmpty())
            notes << tr("Values out of range were limited: %1").arg(records.limited.join(QStringLiteral(", ")));
        if (!records.skipped.isEmpty())
            notes << tr("Not applied, as the controller takes its address from hardware: %1")
                         .arg(records.skipped.join(QStringLiteral(", ")));
        if (!notes.isEmpty())
            emit infoText(notes.join(QLatin1Char(' ')), false);
    }
    if (settings.hasMotor) {
        deviceDebug("MAIN_WINDOW:") << "Imported motor: " << settings.motor.name;
        emit motorImported(settings.motor);
    }
}

#include "device/ui/escsettingspage.h"

#include "ui_escsettingspage.h"

#include "ui/appsettings.h"
#include "ui/embeddedfonts.h"
#include "ui/userdialogs.h"
#include "device/device.h"
#include "device/devicelog.h"
#include "device/escsettingstext.h"
#include "device/paramshelper.h"
#include "device/pwmcharacteristic.h"
#include "device/settingsrecords.h"
#include "motors/dbmanager.h"

#include <QEvent>
#include <QFile>
#include <QLibraryInfo>
#include <QListView>
#include <QLocale>
#include <QPalette>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QStandardItemModel>

#include <cmath>
#include <limits>

#include <qwt_plot_curve.h>
#include <qwt_text.h>

#include <vector>

namespace {

const QColor CHARACTERISTIC_COLOUR(55, 200, 171);
constexpr int ACCELERATION_BASE = 1000;   // slider position 0
constexpr int ACCELERATION_STEP = 500;    // per slider position
constexpr int PLOT_FONT_POINTS = 8;
// Release builds write the PWM scale 1.00 whatever is entered.
constexpr uint8_t RELEASE_SCALE = 100;

// Only debug builds of the Qt library show and send the PWM scale.
bool isDebugQt()
{
    return QLibraryInfo::isDebugBuild();
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

// Widget values in the units of the record fields.
uint8_t tenthsByte(int microseconds)
{
    return uint8_t(qBound(0, microseconds / 10, 0xFF));
}

uint8_t scaleField(double scale)
{
    if (!isDebugQt())
        return RELEASE_SCALE;
    if (!(scale > 0.0)) // NaN too
        return 0;
    return uint8_t(std::lround(std::min(scale, 1.27) * 100.0) & 0x7F);
}

// The gain boxes show a word read as unsigned / 1024 (up to 63.999): a value is written
// back as the same unsigned word, so that what is shown is what the controller gets.
int16_t gainWord(double gain)
{
    const double word = std::round(gain * 1024.0);
    if (!(word >= 0.0)) // NaN too
        return 0;
    return int16_t(uint16_t(std::min(word, double(std::numeric_limits<uint16_t>::max()))));
}

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
            showGainAsRead(ui->doubleSpinBoxKi_Kff, uint16_t(m_motion.Ki) / 1024.0);
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

void EscSettingsPage::takeEdit(const QWidget *widget)
{
    if (widget == ui->spinBoxPwmLow)
        m_pwmIn.lowLevel = tenthsByte(ui->spinBoxPwmLow->value());
    else if (widget == ui->spinBoxPwmCenter)
        m_pwmIn.centerLevel = tenthsByte(ui->spinBoxPwmCenter->value());
    else if (widget == ui->spinBoxPwmHigh)
        m_pwmIn.highLevel = tenthsByte(ui->spinBoxPwmHigh->value());
    else if (widget == ui->spinBoxPwmDeadZone)
        m_pwmIn.deadZone = uint8_t(ui->spinBoxPwmDeadZone->value() & 0x1F);
    else if (widget == ui->comboBoxPwmType)
        m_pwmIn.pwmType = ui->comboBoxPwmType->currentIndex() != 0;
    else if (widget == ui->comboBoxControlType)
        m_pwmIn.controlType = ui->comboBoxControlType->currentIndex() != 0;
    else if (widget == ui->checkBoxDigitalControl)
        m_pwmIn.digitalControl = ui->checkBoxDigitalControl->isChecked();
    else if (widget == ui->checkBoxAnalogControl)
        m_pwmIn.analogControl = ui->checkBoxAnalogControl->isChecked();
    else if (widget == ui->spinBoxSpeedNorm)
        m_pwmIn.speedNorm = uint16_t((ui->spinBoxSpeedNorm->value() / 10) & 0x0FFF);
    else if (widget == ui->doubleSpinBoxScale)
        m_pwmIn.scale = scaleField(ui->doubleSpinBoxScale->value());
    else if (widget == ui->horizontalSliderAcceleration)
        m_motion.acceleration = uint8_t(ui->horizontalSliderAcceleration->value() * 5 + 10);
    else if (widget == ui->horizontalSliderBreak)
        m_motion.brakeIntensity = uint8_t(ParamsHelper::BRAKE_INTENSITY[std::min<size_t>(
                                              size_t(ui->horizontalSliderBreak->value()),
                                              ParamsHelper::BRAKE_INTENSITY.size() - 1)]
                                          & 0x7F);
    else if (widget == ui->checkBoxBreak)
        m_motion.brakeEnable = ui->checkBoxBreak->isChecked();
    else if (widget == ui->checkBoxReverseDir)
        m_motion.reverseDir = ui->checkBoxReverseDir->isChecked();
    else if (widget == ui->spinBoxIndexDevice) {
        m_motion.deviceAddress = uint8_t(ui->spinBoxIndexDevice->value() & 0x07);
        m_motion.hwAddress = ui->spinBoxIndexDevice->isReadOnly();
    } else if (widget == ui->spinBoxTimeToLeave)
        m_motion.timeToLeave = uint8_t((ui->spinBoxTimeToLeave->value() / 50) & 0x3F);
    else if (widget == ui->doubleSpinBoxKp)
        m_motion.Kp = gainWord(ui->doubleSpinBoxKp->value());
    else if (widget == ui->doubleSpinBoxKi_Kff)
        m_motion.Ki = gainWord(ui->doubleSpinBoxKi_Kff->value());
}

void EscSettingsPage::on_fillSetParams()
{
    sendPwmInParams();
}

// ---------------------------------------------------------------------------------
// Widget reactions

void EscSettingsPage::on_horizontalSliderAcceleration_valueChanged(int value)
{
    ui->spinBoxAcceleration->setValue(value * ACCELERATION_STEP + ACCELERATION_BASE);
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

void EscSettingsPage::on_fillPwmInParams(SET_PWM_IN_PARAMS *pwmInParams, bool forced)
{
    if (!pwmInParams)
        return;
    const SET_PWM_IN_PARAMS p = *pwmInParams;
    {
        const SignalBlockers blocked(pwmInputWidgets());
        ui->spinBoxPwmLow->setValue(p.lowLevel * 10);
        ui->spinBoxPwmCenter->setValue(p.centerLevel * 10);
        ui->spinBoxPwmHigh->setValue(p.highLevel * 10);
        ui->spinBoxPwmDeadZone->setValue(p.deadZone);
        ui->comboBoxPwmType->setCurrentIndex(p.pwmType ? 1 : 0);
        ui->comboBoxControlType->setCurrentIndex(p.controlType ? 1 : 0);
        showPwmType(ui->comboBoxPwmType->currentIndex());
        showControlType(ui->comboBoxControlType->currentIndex());
        ui->checkBoxDigitalControl->setChecked(p.digitalControl);
        ui->checkBoxAnalogControl->setChecked(p.analogControl);
        ui->spinBoxSpeedNorm->setValue(p.speedNorm * 10);
        ui->doubleSpinBoxScale->setValue(p.scale / 100.0);
    }
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
    {
        const SignalBlockers blocked(motionWidgets());
        ui->horizontalSliderAcceleration->setValue((m.acceleration * 100 - ACCELERATION_BASE) / ACCELERATION_STEP);
        ui->spinBoxAcceleration->setValue(m.acceleration * 100);
        for (int position = 0; position < int(ParamsHelper::BRAKE_INTENSITY.size()); ++position) {
            if (ParamsHelper::BRAKE_INTENSITY[size_t(position)] == m.brakeIntensity)
                ui->horizontalSliderBreak->setValue(position);
        }
        setHardwareAddress(m.hwAddress);
        ui->spinBoxIndexDevice->setValue(m.deviceAddress);
        ui->spinBoxTimeToLeave->setValue(m.timeToLeave * 50);
        ui->checkBoxBreak->setChecked(m.brakeEnable);
        ui->checkBoxReverseDir->setChecked(m.reverseDir);
        showGainAsRead(ui->doubleSpinBoxKp, uint16_t(m.Kp) / 1024.0);
        showGainAsRead(ui->doubleSpinBoxKi_Kff, uint16_t(m.Ki) / 1024.0);
    }
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
        ui->spinBoxAcceleration->setValue(ACCELERATION_BASE);
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
    const QString fileName = m_dialogs->saveFileName(tr("Choose params"), m_settings->firmwareDirectory(),
                                                     tr("XML Files (*.xml)"));
    if (fileName.isEmpty())
        return;
    // Written atomically: a failed export never leaves a cut-off file behind.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(document) != document.size()
        || !file.commit()) {
        m_dialogs->message(UserDialogs::Icon::Critical, tr("Error"),
                           EmbeddedFonts::inDialogFont(tr("File saving failed!")));
        return;
    }
    m_dialogs->message(UserDialogs::Icon::Information, tr("Done"),
                       EmbeddedFonts::inDialogFont(tr("Settings are exported.")));
}

void EscSettingsPage::on_toolButtonImportParams_clicked()
{
    const QString fileName = m_dialogs->openFileName(tr("Choose params"), m_settings->firmwareDirectory(),
                                                     tr("XML Files (*.xml)"));
    if (fileName.isEmpty())
        return;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        m_dialogs->message(UserDialogs::Icon::Critical, tr("Error"),
                           EmbeddedFonts::inDialogFont(tr("File opening failed!")));
        return;
    }
    // One byte more than allowed, so that a file that is too large is seen as such.
    const ImportedSettings settings = SettingsDocument::parse(file.read(SettingsDocument::MAX_FILE_SIZE + 1));
    if (settings.status != ImportedSettings::Status::Ok) {
        m_dialogs->message(UserDialogs::Icon::Warning, tr("Content"),
                           EmbeddedFonts::inDialogFont(tr("File not contain settings!")));
        return;
    }
    emit aboutToImport();
    applyImported(settings);
}

void EscSettingsPage::on_toolButtonBackups_clicked()
{
    emit backupsRequested();
}

void EscSettingsPage::applyImported(const ImportedSettings &settings)
{
    // Set with signals active: each value goes through the widget's reaction (and so to
    // the device after the quiet period), exactly as if the user had entered it.
    // A value equal to the one shown changes no widget and so fires no reaction; it is
    // taken into the record all the same, since the file asks for it.
    QStringList clamped;
    QList<QWidget *> applied;
    for (const SettingsValue &value : settings.values) {
        if (QWidget *widget = applyValue(value, clamped))
            applied.append(widget);
    }
    bool pwmInput = false;
    bool motion = false;
    for (QWidget *widget : qAsConst(applied)) {
        takeEdit(widget);
        (pwmInputWidgets().contains(widget) ? pwmInput : motion) = true;
    }
    if (pwmInput)
        sendPwmInParams();
    if (motion)
        sendMotionParams();
    if (!clamped.isEmpty())
        emit infoText(tr("Values out of range were limited: %1").arg(clamped.join(QStringLiteral(", "))), false);
    if (!settings.refused.isEmpty())
        emit infoText(SettingsDocument::refusedValuesText(settings.refused), true);
    if (settings.hasMotor) {
        deviceDebug("MAIN_WINDOW:") << "Imported motor: " << settings.motor.name;
        emit motorImported(settings.motor);
    }
}

QWidget *EscSettingsPage::applyValue(const SettingsValue &value, QStringList &clamped)
{
    const auto report = [&](double used) {
        clamped.append(QStringLiteral("%1 %2 \u2192 %3").arg(value.tag, QString::number(value.value),
                                                               QString::number(used)));
    };
    const auto setInt = [&](auto *widget, double v) {
        const int bounded = int(qBound(double(widget->minimum()), v, double(widget->maximum())));
        if (bounded != v)
            report(bounded);
        widget->setValue(bounded);
    };
    const auto setDouble = [&](QDoubleSpinBox *widget, double v) {
        const double bounded = qBound(widget->minimum(), v, widget->maximum());
        if (bounded != v)
            report(bounded);
        widget->setValue(bounded);
    };
    const auto setIndex = [&](QComboBox *box, double v) {
        const int bounded = int(qBound(0.0, v, double(box->count() - 1)));
        if (bounded != v)
            report(bounded);
        box->setCurrentIndex(bounded);
    };
    const bool on = value.value != 0;

    switch (value.field) {
    case SettingsValue::LowLevel:
        setInt(ui->spinBoxPwmLow, value.value);
        return ui->spinBoxPwmLow;
    case SettingsValue::CenterLevel:
        setInt(ui->spinBoxPwmCenter, value.value);
        return ui->spinBoxPwmCenter;
    case SettingsValue::HighLevel:
        setInt(ui->spinBoxPwmHigh, value.value);
        return ui->spinBoxPwmHigh;
    case SettingsValue::DeadZone:
        setInt(ui->spinBoxPwmDeadZone, value.value);
        return ui->spinBoxPwmDeadZone;
    case SettingsValue::PwmType:
        setIndex(ui->comboBoxPwmType, value.value);
        return ui->comboBoxPwmType;
    case SettingsValue::ControlType:
        setIndex(ui->comboBoxControlType, value.value);
        return ui->comboBoxControlType;
    case SettingsValue::SpeedNorm:
        setInt(ui->spinBoxSpeedNorm, value.value);
        return ui->spinBoxSpeedNorm;
    case SettingsValue::Scale:
        setDouble(ui->doubleSpinBoxScale, value.value);
        return ui->doubleSpinBoxScale;
    case SettingsValue::AnalogControl:
        ui->checkBoxAnalogControl->setChecked(on);
        return ui->checkBoxAnalogControl;
    case SettingsValue::DigitalControl:
        ui->checkBoxDigitalControl->setChecked(on);
        return ui->checkBoxDigitalControl;
    case SettingsValue::Acceleration: {
        // The file holds the value (1000..10000); the slider its position.
        const double position = std::floor((value.value - ACCELERATION_BASE) / ACCELERATION_STEP);
        QSlider *slider = ui->horizontalSliderAcceleration;
        const int bounded = int(qBound(double(slider->minimum()), position, double(slider->maximum())));
        if (bounded != position)
            report(bounded * ACCELERATION_STEP + ACCELERATION_BASE);
        slider->setValue(bounded);
        return ui->horizontalSliderAcceleration;
    }
    case SettingsValue::BrakeIntensity:
        setInt(ui->horizontalSliderBreak, value.value);
        return ui->horizontalSliderBreak;
    case SettingsValue::BrakeEnable:
        ui->checkBoxBreak->setChecked(on);
        return ui->checkBoxBreak;
    case SettingsValue::Reverse:
        ui->checkBoxReverseDir->setChecked(on);
        return ui->checkBoxReverseDir;
    case SettingsValue::HwAddress:
        setHardwareAddress(on);
        return ui->spinBoxIndexDevice;
    case SettingsValue::DeviceAddress:
        if (ui->spinBoxIndexDevice->isReadOnly())
            return nullptr;
        setInt(ui->spinBoxIndexDevice, value.value);
        return ui->spinBoxIndexDevice;
    case SettingsValue::TimeToLeave:
        setInt(ui->spinBoxTimeToLeave, value.value);
        return ui->spinBoxTimeToLeave;
    case SettingsValue::Kp:
        setDouble(ui->doubleSpinBoxKp, value.value);
        return ui->doubleSpinBoxKp;
    case SettingsValue::KiKff:
        setDouble(ui->doubleSpinBoxKi_Kff, value.value);
        return ui->doubleSpinBoxKi_Kff;
    }
    return nullptr;
}

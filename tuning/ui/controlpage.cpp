#include "tuning/ui/controlpage.h"

#include "ui_controlpage.h"

#include "recording/wholefile.h"
#include "tuning/dutycontrol.h"
#include "ui/suggestedfiles.h"
#include "ui/units.h"
#include "ui/userdialogs.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QLocale>
#include <QHideEvent>
#include <QKeyEvent>
#include <QBuffer>
#include <QShortcut>
#include <QStaticText>
#include <QPainter>
#include <QHash>
#include <QVector>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_scale_draw.h>
#include <qwt_scale_engine.h>
#include <qwt_text.h>
#include <qwt_text_engine.h>
#include <qwt_scale_widget.h>

namespace {

const QColor CURVE_1_COLOUR(55, 200, 171);
const QColor CURVE_2_COLOUR(55, 100, 71);
constexpr double CURVE_1_WIDTH = 2.5;
constexpr double CURVE_2_WIDTH = 1.5;

// Button labels of the question after a tuning without result; not translated.
const QString DEFAULT_LABEL = QStringLiteral("Default");
const QString APPROX_LABEL = QStringLiteral("Approx.");

// Once a minute at 20 samples per second.
constexpr uint32_t LABEL_CACHE_SAMPLES = 1200;
// The live plot is redrawn at every second sample, ten pictures a second at full telemetry:
// the eye sees no difference, and a redraw is most of the page's work. The curves get every
// sample at once; only the picture waits.
constexpr uint32_t REDRAW_EVERY_SAMPLES = 2;

// The colours of the other plots' style sheet, set through palettes and a square frame:
// the style sheet's rounded canvas border clips every redraw of the curves to a path and
// has the plot paint below the canvas, about a fifth of the cost of a live plot.
const QColor PLOT_BACKGROUND(0xf4, 0xf8, 0xf9);
const QColor PLOT_TEXT(0x26, 0x32, 0x38);
const QColor CANVAS_BACKGROUND(Qt::white);
const QColor CANVAS_BORDER(0xb0, 0xbe, 0xc5);

QString quantityName(int quantity)
{
    return QCoreApplication::translate(RECORD_NAMES_CONTEXT, QUANTITY_NAMES[size_t(quantity)]);
}

} // namespace

// Tick labels as plain numbers in the language's decimal sign, never with a group
// separator ("1000", not "1,000" or "1.000"), whatever the locale's options. Labels are
// cached per value for good: on a time axis that moves on, the cache would grow for as
// long as the run lasts, so it is dropped now and then, and on a change of language.
//
// The labels are drawn by TickLabelEngine: Qwt's plain text engine, with the margins of a
// font kept. Qwt asks for a label's margins at every size it computes (a replot, a layout,
// a paint) and finds the ones it keeps by the font's key, a string made anew each time: at
// 20 samples a second that was the largest part of a live plot's cost after the curves.
class TickLabelEngine : public QwtPlainTextEngine
{
public:
    static constexpr QwtText::TextFormat FORMAT = QwtText::TextFormat(QwtText::OtherFormat + 1);

    // Registered once, owned by Qwt from then on.
    static void registerOnce()
    {
        static const bool registered = [] {
            QwtText::setTextEngine(FORMAT, new TickLabelEngine);
            return true;
        }();
        Q_UNUSED(registered)
    }

    // A plain text's margins depend on the font only.
    void textMargins(const QFont &font, const QString &text, double &left, double &right, double &top,
                     double &bottom) const override
    {
        for (const Margins &known : qAsConst(m_margins)) {
            if (known.font == font) {
                left = known.left;
                right = known.right;
                top = known.top;
                bottom = known.bottom;
                return;
            }
        }
        QwtPlainTextEngine::textMargins(font, text, left, right, top, bottom);
        if (m_margins.size() >= 8) // a few fonts at a time; a style or language change may bring others
            m_margins.removeFirst();
        m_margins.append({font, left, right, top, bottom});
    }

    // The text laid out once per label and font, drawn where Qt's own layout puts it.
    void draw(QPainter *painter, const QRectF &rect, int flags, const QString &text) const override
    {
        if (flags != 0 || painter->device()->devType() == QInternal::Printer) {
            QwtPlainTextEngine::draw(painter, rect, flags, text);
            return;
        }
        auto known = m_laidOut.find(text);
        if (known == m_laidOut.end()) {
            if (m_laidOut.size() >= 256) // the time axis' labels move on
                m_laidOut.clear();
            QStaticText laidOut(text);
            laidOut.setTextFormat(Qt::PlainText);
            known = m_laidOut.insert(text, laidOut);
        }
        painter->drawStaticText(rect.topLeft(), known.value()); // laid out again for another font
    }

private:
    mutable QHash<QString, QStaticText> m_laidOut;
    struct Margins
    {
        QFont font;
        double left, right, top, bottom;
    };
    mutable QVector<Margins> m_margins;
};

class PlainScaleDraw : public QwtScaleDraw
{
public:
    PlainScaleDraw() { TickLabelEngine::registerOnce(); }

    QwtText label(double value) const override
    {
        QLocale locale;
        locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
        return QwtText(locale.toString(value), TickLabelEngine::FORMAT);
    }
    void dropLabelCache() { invalidateCache(); }
};

namespace {

// What the plot's layout takes from each axis: the room its labels need at both ends, its
// width across, its smallest size.
QString axisSizeKey(const QwtPlot *plot)
{
    QString key;
    for (int axis = 0; axis < QwtPlot::axisCnt; ++axis) {
        if (!plot->axisEnabled(axis)) {
            key += QStringLiteral("-;");
            continue;
        }
        const QwtScaleWidget *scale = plot->axisWidget(axis);
        int start = 0;
        int end = 0;
        scale->getBorderDistHint(start, end);
        const QSize hint = scale->minimumSizeHint();
        key += QStringLiteral("%1 %2 %3 %4 %5 %6x%7;")
                   .arg(start)
                   .arg(end)
                   .arg(scale->startBorderDist())
                   .arg(scale->endBorderDist())
                   .arg(scale->dimForLength(QWIDGETSIZE_MAX, scale->font()))
                   .arg(hint.width())
                   .arg(hint.height());
    }
    return key;
}

// The scrolling time axis asks for a new layout of the whole plot at every sample; the
// layout changes only when an axis needs another size or other room at its ends (longer
// labels, another title, an axis shown or hidden, the end labels moving). The gate lets
// only those requests through; the axis itself has already been redrawn either way.
// A filter of its own: the page's filter on the whole application sees the same event
// before the plot's filters do, and one key for both would let none through.
class PlotLayoutGate : public QObject
{
public:
    explicit PlotLayoutGate(QwtPlot *plot) : QObject(plot), m_plot(plot) { plot->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_plot || event->type() != QEvent::LayoutRequest)
            return false;
        const QString sizeKey = axisSizeKey(m_plot);
        if (sizeKey == m_sizeKey)
            return true;
        m_sizeKey = sizeKey;
        return false;
    }

private:
    QwtPlot *m_plot;
    QString m_sizeKey;  // the axes' sizes the plot was laid out for
};

} // namespace

ControlPage::ControlPage(DutyCommandSink dutyCommand, UserDialogs *dialogs, QWidget *parent)
    : QWidget(parent),
      ui(new Ui::ControlPage),
      m_dutyCommand(std::move(dutyCommand)),
      m_dialogs(dialogs),
      m_random(quint32(QDateTime::currentMSecsSinceEpoch()))
{
    ui->setupUi(this);
    setUpPlot();
    fillQuantityNames();
    ui->comboBoxTelQuant_1->setCurrentIndex(QUANTITY_SPEED);
    ui->comboBoxTelQuant_2->setCurrentIndex(CurveWindow::QUANTITY_NONE);
    ui->spinBoxDeadBand->setValue(DutyControl::DEFAULT_DEAD_BAND);
    on_horizontalSliderDutyCycle_valueChanged(0);
    // Home and End would jump to full forward or full reverse in one key press.
    ui->horizontalSliderDutyCycle->installEventFilter(this);
    // The tuning sequence starts from here once it is part of the program.
    ui->pushButtonTuning->hide();
    ui->pushButtonToggling->hide();

    // Escape stops the motor wherever the focus is in the window, while this page shows.
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &ControlPage::emergencyStop);
    // In the program's own dialogs too (the window's shortcut does not reach them): Escape
    // stops a running motor there, and then closes the dialog as usual.
    qApp->installEventFilter(this);

    // Stall, error and lost contact stay on the page until the user acknowledges them.
    m_stopNotice = new QFrame(this);
    m_stopNotice->setObjectName(QStringLiteral("frameStopNotice"));
    m_stopNotice->setStyleSheet(QStringLiteral("#frameStopNotice { background: #fdecea; border: 1px solid #c62828; }"
                                               " QLabel { color: #b71c1c; font-weight: bold; }"));
    m_stopNoticeText = new QLabel(m_stopNotice);
    m_stopNoticeText->setObjectName(QStringLiteral("labelStopNotice"));
    m_stopNoticeText->setWordWrap(true);
    auto *acknowledge = new QPushButton(m_stopNotice);
    acknowledge->setObjectName(QStringLiteral("pushButtonAcknowledgeStop"));
    connect(acknowledge, &QPushButton::clicked, m_stopNotice, &QWidget::hide);
    auto *noticeLayout = new QHBoxLayout(m_stopNotice);
    noticeLayout->setContentsMargins(9, 3, 3, 3); // the room is the plot's
    noticeLayout->addWidget(m_stopNoticeText, 1);
    noticeLayout->addWidget(acknowledge);
    // Beside the duty command and Stop, below the plot and the values: those scroll and
    // shrink when room is short, the notice and Stop never leave the page.
    if (auto *pageLayout = qobject_cast<QBoxLayout *>(layout()))
        pageLayout->insertWidget(pageLayout->indexOf(ui->scrollAreaMonitor) + 1, m_stopNotice);
    m_stopNotice->hide();
    buildModeHint();
    QFont stopFont = ui->pushButtonStop->font();
    stopFont.setBold(true);
    ui->pushButtonStop->setFont(stopFont);

    m_toggleTimer.setSingleShot(true);
    connect(&m_toggleTimer, &QTimer::timeout, this, &ControlPage::on_changeSequence);
    retranslate();
    updateControlEnablement();
}

// Below the stop notice: why the duty command cannot act now, and the way into running
// mode and out of it.
void ControlPage::buildModeHint()
{
    m_modeHint = new QFrame(this);
    m_modeHint->setObjectName(QStringLiteral("frameModeHint"));
    m_modeHintText = new QLabel(m_modeHint);
    m_modeHintText->setObjectName(QStringLiteral("labelModeHint"));
    m_modeHintText->setWordWrap(true);
    m_askRunButton = new QPushButton(m_modeHint);
    m_askRunButton->setObjectName(QStringLiteral("pushButtonAskRun"));
    connect(m_askRunButton, &QPushButton::clicked, this, &ControlPage::runningModeRequested);
    m_restartButton = new QPushButton(m_modeHint);
    m_restartButton->setObjectName(QStringLiteral("pushButtonRestartController"));
    connect(m_restartButton, &QPushButton::clicked, this, &ControlPage::restartController);
    auto *hintLayout = new QHBoxLayout(m_modeHint);
    hintLayout->setContentsMargins(0, 0, 0, 0);
    hintLayout->addWidget(m_modeHintText, 1);
    hintLayout->addWidget(m_askRunButton);
    hintLayout->addWidget(m_restartButton);
    if (auto *pageLayout = qobject_cast<QBoxLayout *>(layout()))
        pageLayout->insertWidget(pageLayout->indexOf(m_stopNotice) + 1, m_modeHint);
}

void ControlPage::showModeHint()
{
    QString text;
    switch (m_deviceState) {
    case DEVICE_DISCONNECTED:
        text = tr("No controller is connected: the motor cannot run.");
        break;
    case DEVICE_CONNECTED:
        text = tr("The controller is in communication mode: the motor cannot run. In running mode it can; the "
                  "controller then stays in running mode until it is switched off and on again.");
        break;
    case DEVICE_RUNNING:
        if (m_controllerRestart)
            text = tr("The simulated controller leaves running mode when it is switched off and on.");
        break;
    case DEVICE_BOOT_STARTED:
    case DEVICE_BOOT_CONNECTED:
        text = tr("The controller is in its bootloader: the motor cannot run.");
        break;
    }
    m_modeHintText->setText(text);
    m_askRunButton->setVisible(m_deviceState == DEVICE_CONNECTED);
    m_restartButton->setVisible(m_deviceState == DEVICE_RUNNING && m_controllerRestart);
    m_modeHint->setVisible(!text.isEmpty());
}

// The duty command acts in running mode only, and not while a tuning run commands the motor.
void ControlPage::updateControlEnablement()
{
    const bool canAct = m_deviceState == DEVICE_RUNNING && !m_tuningRunning;
    ui->checkBoxDutyCycle->setEnabled(canAct);
    ui->horizontalSliderDutyCycle->setEnabled(canAct);
    ui->spinBoxDutyCycle->setEnabled(canAct);
}

void ControlPage::setDeviceState(Device_State_e state)
{
    m_deviceState = state;
    if (state != DEVICE_RUNNING) {
        stopMotor(); // nothing to command; a controller found again starts stopped
        m_tuningRunning = false; // a tuning run ends with running mode (its sequencer hears the state too)
    }
    if (state == DEVICE_DISCONNECTED)
        clearValues(); // nothing shown is current any more
    else
        m_restartRequested = false; // back after a restart, or none was under way
    updateControlEnablement();
    showModeHint();
}

void ControlPage::setControllerRestart(std::function<void()> restart)
{
    m_controllerRestart = std::move(restart);
    showModeHint();
}

void ControlPage::restartController()
{
    if (!m_controllerRestart)
        return;
    stopMotor();
    m_restartRequested = true;
    m_controllerRestart();
    emit infoText(tr("The simulated controller is switched off and on again"), false);
}

ControlPage::~ControlPage() = default;

void ControlPage::setUpPlot()
{
    QwtPlot *plot = ui->qwtPlotTelemtry;
    QPalette plotPalette = plot->palette();
    plotPalette.setColor(QPalette::Window, PLOT_BACKGROUND);
    plotPalette.setColor(QPalette::WindowText, PLOT_TEXT);
    plotPalette.setColor(QPalette::Text, PLOT_TEXT);
    plot->setPalette(plotPalette);
    plot->setAutoFillBackground(true);
    if (auto *canvas = qobject_cast<QwtPlotCanvas *>(plot->canvas())) {
        QPalette canvasPalette = canvas->palette();
        canvasPalette.setColor(QPalette::Window, CANVAS_BACKGROUND);
        canvasPalette.setColor(QPalette::WindowText, CANVAS_BORDER); // a plain frame's colour
        canvas->setPalette(canvasPalette);
        canvas->setFrameStyle(QFrame::Box | QFrame::Plain);
        canvas->setLineWidth(1);
        // Every sample changes the picture: a cache of it would only be painted twice.
        canvas->setPaintAttribute(QwtPlotCanvas::BackingStore, false);
    }
    for (int axis : {QwtPlot::xBottom, QwtPlot::yLeft, QwtPlot::yRight}) {
        plot->enableAxis(axis, true);
        plot->setAxisAutoScale(axis, true);
    }
    plot->axisScaleEngine(QwtPlot::xBottom)->setAttribute(QwtScaleEngine::Floating, true);
    m_timeScale = new PlainScaleDraw;
    plot->setAxisScaleDraw(QwtPlot::xBottom, m_timeScale);
    plot->setAxisScaleDraw(QwtPlot::yLeft, new PlainScaleDraw);
    plot->setAxisScaleDraw(QwtPlot::yRight, new PlainScaleDraw);

    m_plotCurve1 = new QwtPlotCurve;
    m_plotCurve1->setPen(CURVE_1_COLOUR, CURVE_1_WIDTH);
    m_plotCurve1->setAxes(QwtPlot::xBottom, QwtPlot::yLeft);
    m_plotCurve2 = new QwtPlotCurve;
    m_plotCurve2->setPen(CURVE_2_COLOUR, CURVE_2_WIDTH);
    m_plotCurve2->setAxes(QwtPlot::xBottom, QwtPlot::yRight);
    for (QwtPlotCurve *curve : {m_plotCurve1, m_plotCurve2}) {
        curve->setRenderHint(QwtPlotItem::RenderAntialiased);
        curve->attach(plot);
    }
    plot->replot();
    new PlotLayoutGate(plot);
}

void ControlPage::fillQuantityNames()
{
    for (QComboBox *box : {ui->comboBoxTelQuant_1, ui->comboBoxTelQuant_2}) {
        const QSignalBlocker block(box);
        const int current = box->currentIndex();
        box->clear();
        for (int q = 0; q < int(QUANTITY_NAMES.size()); ++q)
            box->addItem(quantityName(q));
        box->setCurrentIndex(current);
    }
}

void ControlPage::retranslate()
{
    if (auto *acknowledge = findChild<QPushButton *>(QStringLiteral("pushButtonAcknowledgeStop")))
        acknowledge->setText(tr("OK"));
    if (m_askRunButton) {
        m_askRunButton->setText(tr("Switch to running mode..."));
        m_restartButton->setText(tr("Switch off and on"));
        showModeHint();
    }
    ui->pushButtonStop->setToolTip(tr("Stop the motor (Esc)"));
    ui->labelUnitSpeed->setText(Units::text(Units::Rpm));
    QwtPlot *plot = ui->qwtPlotTelemtry;
    plot->setAxisTitle(QwtPlot::xBottom, QStringLiteral("s"));
    plot->setAxisTitle(QwtPlot::yLeft, QStringLiteral("%"));
    plot->setAxisTitle(QwtPlot::yRight, QStringLiteral("%"));
    showCurves();
}

bool ControlPage::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape
        && isMotorCommanded()) {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (widget && widget->window() != window())
            emergencyStop();
        return false; // the dialog closes as well
    }
    if (watched == ui->horizontalSliderDutyCycle && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Home || key == Qt::Key_End)
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

void ControlPage::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange && ui) {
        for (int axis : {QwtPlot::xBottom, QwtPlot::yLeft, QwtPlot::yRight}) // the decimal sign may change
            static_cast<PlainScaleDraw *>(ui->qwtPlotTelemtry->axisScaleDraw(axis))->dropLabelCache();
        ui->retranslateUi(this);
        fillQuantityNames();
        retranslate();
    }
    QWidget::changeEvent(event);
}

void ControlPage::hideEvent(QHideEvent *event)
{
    // Another page or the window closing: nobody watches the motor any more. A minimised
    // window (a hide from the window system) keeps control.
    if (!event->spontaneous())
        stopMotor();
    QWidget::hideEvent(event);
}

// ---------------------------------------------------------------------------------
// Telemetry

void ControlPage::on_telemetryUpdated(ONLINE_QUANTS_S sample, uint32_t sampleNumber)
{
    showValues(sample);
    m_history.append(sampleNumber, sample);
    m_curve1.update(ui->comboBoxTelQuant_1->currentIndex(), sample, sampleNumber);
    m_curve2.update(ui->comboBoxTelQuant_2->currentIndex(), sample, sampleNumber);
    if (sampleNumber % LABEL_CACHE_SAMPLES == 0)
        m_timeScale->dropLabelCache();
    if (ui->pushButtonPause->isChecked())
        showCurves(sampleNumber % REDRAW_EVERY_SAMPLES == 0);
}

void ControlPage::showValues(const ONLINE_QUANTS_S &sample)
{
    const struct
    {
        QLineEdit *edit;
        int quantity;
    } fields[] = {
        {ui->lineEditSpeed, 2}, {ui->lineEditVs, 5},  {ui->lineEditVdc, 4}, {ui->lineEditPower, 6},
        {ui->lineEditTorque, 1}, {ui->lineEditIs, 3}, {ui->lineEditPwm, 7}, {ui->lineEditRs, 8},
        {ui->lineEditFlux, 9},  {ui->lineEditTemp, 10},
    };
    for (const auto &field : fields) {
        const QString text = TelemetryHistory::displayText(sample, field.quantity, QLocale());
        if (field.edit->text() != text) // unchanged values cost no repaint
            field.edit->setText(text);
    }
}

// Hands the points to the plot and, when asked, redraws it: once per sample at most, and
// only while the plot is live.
void ControlPage::showCurves(bool redraw)
{
    m_plotCurve1->setSamples(m_curve1.points());
    m_plotCurve2->setSamples(m_curve2.points());
    showAxis(QwtPlot::yLeft, ui->comboBoxTelQuant_1->currentIndex(), CURVE_1_COLOUR);
    showAxis(QwtPlot::yRight, ui->comboBoxTelQuant_2->currentIndex(), CURVE_2_COLOUR);
    if (redraw)
        ui->qwtPlotTelemtry->replot();
}

void ControlPage::showAxis(int axis, int quantity, const QColor &colour)
{
    QwtPlot *plot = ui->qwtPlotTelemtry;
    const bool shown = quantity > CurveWindow::QUANTITY_NONE && quantity < int(QUANTITY_NAMES.size());
    if (plot->axisEnabled(axis) != shown)
        plot->enableAxis(axis, shown);
    if (!shown)
        return;
    const QString title = quantityName(quantity) + QStringLiteral("[")
        + Units::text(Units::ofQuantity(quantity)) + QStringLiteral("]");
    if (plot->axisTitle(axis).text() != title)
        plot->setAxisTitle(axis, title);
    QwtScaleWidget *scale = plot->axisWidget(axis);
    if (scale->palette().color(QPalette::WindowText) != colour) {
        QPalette palette = scale->palette();
        palette.setColor(QPalette::WindowText, colour);
        palette.setColor(QPalette::Text, colour);
        scale->setPalette(palette);
    }
}

void ControlPage::on_comboBoxTelQuant_1_currentIndexChanged(int)
{
    m_curve1.clear();
    if (ui->pushButtonPause->isChecked())
        showCurves();
}

void ControlPage::on_comboBoxTelQuant_2_currentIndexChanged(int)
{
    m_curve2.clear();
    if (ui->pushButtonPause->isChecked())
        showCurves();
}

void ControlPage::on_pushButtonPause_toggled(bool live)
{
    if (live) // with the points collected meanwhile
        showCurves();
}

// ---------------------------------------------------------------------------------
// Duty command

void ControlPage::sendDuty(int percent)
{
    const int duty = DutyControl::afterDeadBand(percent, ui->spinBoxDeadBand->value());
    m_dutyCommand(int16_t(duty), ui->checkBoxDutyCycle->isChecked());
}

void ControlPage::on_horizontalSliderDutyCycle_valueChanged(int value)
{
    ui->spinBoxDutyCycle->setValue(value);
    sendDuty(value);
}

void ControlPage::on_spinBoxDutyCycle_editingFinished()
{
    // A typed value counts on Return only. The box also finishes editing when it loses the
    // focus, for example to the Stop button or the enable box pressed to stop the motor:
    // the typed value then goes back to the one running.
    if (!ui->spinBoxDutyCycle->hasFocus()) {
        ui->spinBoxDutyCycle->setValue(ui->horizontalSliderDutyCycle->value());
        return;
    }
    const int value = ui->spinBoxDutyCycle->value();
    {
        // The slider would send the same command again.
        const QSignalBlocker block(ui->horizontalSliderDutyCycle);
        ui->horizontalSliderDutyCycle->setValue(value);
    }
    sendDuty(value);
}

void ControlPage::on_checkBoxDutyCycle_stateChanged(int arg1)
{
    if (arg1 != Qt::Unchecked) // started again
        m_stopNotice->hide();
    {
        const QSignalBlocker block(ui->horizontalSliderDutyCycle);
        ui->horizontalSliderDutyCycle->setValue(0);
    }
    ui->spinBoxDutyCycle->setValue(0);
    m_dutyCommand(0, arg1 != Qt::Unchecked);
}

void ControlPage::stopMotor()
{
    m_togglingActive = false;
    m_toggleTimer.stop();
    {
        const QSignalBlocker blockBox(ui->checkBoxDutyCycle);
        const QSignalBlocker blockSlider(ui->horizontalSliderDutyCycle);
        ui->checkBoxDutyCycle->setChecked(false);
        ui->horizontalSliderDutyCycle->setValue(0);
    }
    ui->spinBoxDutyCycle->setValue(0);
    m_dutyCommand(0, false);
}

void ControlPage::on_resetControl(QString msg, uint8_t code)
{
    stopMotor();
    if (code == CODE_CONTACT_LOST) {
        clearValues(); // nothing shown is current any more
        if (m_restartRequested) { // the user switched the controller off: no alarm
            m_restartRequested = false;
            return;
        }
    }
    showStopNotice(msg);
    emit infoText(msg, false);
}

void ControlPage::showStopNotice(const QString &text)
{
    m_stopNoticeText->setText(text);
    m_stopNotice->show();
}

QString ControlPage::stopNotice() const
{
    return m_stopNotice->isHidden() ? QString() : m_stopNoticeText->text();
}

void ControlPage::clearValues()
{
    for (QLineEdit *edit : findChildren<QLineEdit *>(QRegularExpression(QStringLiteral("^lineEdit"))))
        edit->clear();
    m_curve1.clear();
    m_curve2.clear();
    showCurves();
}

bool ControlPage::isMotorCommanded() const
{
    return ui->checkBoxDutyCycle->isChecked() || ui->horizontalSliderDutyCycle->value() != 0 || m_togglingActive;
}

void ControlPage::emergencyStop()
{
    if (!isVisible())
        return;
    stopMotorAndTuning();
}

// Stop and Escape: one stop, the enable box unticked with the rest.
void ControlPage::stopMotorAndTuning()
{
    stopMotor();
    m_tuningRunning = false;
    updateControlEnablement();
    emit tuningStopRequested();
    emit infoText(tr("Motor stopped"), false);
}

// ---------------------------------------------------------------------------------
// Tuning and toggling

void ControlPage::on_pushButtonTuning_clicked()
{
    stopMotor();
    m_tuningRunning = true;
    updateControlEnablement();
    emit tuningStartRequested();
}

void ControlPage::on_pushButtonStop_clicked()
{
    stopMotorAndTuning();
}

void ControlPage::on_testFinished()
{
    m_tuningRunning = false;
    updateControlEnablement();
}

void ControlPage::on_typeOfController(bool emptyMotor)
{
    const QString text = emptyMotor
        ? tr("Controller params tuninig is stopped because motor has not propeler or propeler is inconvenient. "
             "You can set approximation of params or default params")
        : QStringLiteral("Controller params tuninig is stopped. You can set approximation of params or default "
                         "params");
    const bool defaults = m_dialogs->askButtons(text, DEFAULT_LABEL, APPROX_LABEL);
    emit controllerChosen(defaults ? 0 : 1);
}

void ControlPage::on_pushButtonToggling_clicked()
{
    if (m_tuningRunning)
        return;
    m_togglingActive = true;
    m_toggleTimer.start(TOGGLE_START_MS);
}

void ControlPage::on_changeSequence()
{
    if (!m_togglingActive)
        return;
    ui->horizontalSliderDutyCycle->setValue(
        DutyControl::nextToggleDuty(ui->horizontalSliderDutyCycle->value(), m_random));
    m_toggleTimer.start(TOGGLE_STEP_MS);
}

// ---------------------------------------------------------------------------------
// Saving the plot and the samples

QString ControlPage::chooseFile(const QString &title, const QString &stem, const QString &suffix,
                                const QString &filter)
{
    return SuggestedFiles::withSuffix(
        m_dialogs->saveFileName(title, SuggestedFiles::name(QDir::homePath(), stem, suffix), filter), suffix);
}

void ControlPage::on_pushButtonSavePlot_clicked()
{
    const QString fileName =
        chooseFile(tr("Save plot"), QStringLiteral("kordo-plot"), QStringLiteral("png"), tr("PNG images (*.png)"));
    if (fileName.isEmpty())
        return;
    // Drawn in memory first: the file is written whole or not at all.
    QByteArray image;
    QBuffer buffer(&image);
    QString problem;
    if (!buffer.open(QIODevice::WriteOnly) || !ui->qwtPlotTelemtry->grab().save(&buffer, "PNG")) {
        emit infoText(tr("The plot could not be saved to %1").arg(QDir::toNativeSeparators(fileName)), true,
                      UserDialogs::Icon::Critical);
        return;
    }
    if (!WholeFile::write(fileName, image, &problem)) {
        emit infoText(tr("The plot could not be saved to %1: %2").arg(QDir::toNativeSeparators(fileName), problem),
                      true, UserDialogs::Icon::Critical);
        return;
    }
    emit infoText(tr("Plot saved to %1").arg(QDir::toNativeSeparators(fileName)), false);
}

void ControlPage::on_pushButtonSaveSamples_clicked()
{
    const QString fileName =
        chooseFile(tr("Save samples"), QStringLiteral("kordo-samples"), QStringLiteral("csv"), tr("CSV tables (*.csv)"));
    if (fileName.isEmpty())
        return;
    QString problem;
    if (!WholeFile::write(fileName, m_history.toCsv(), &problem)) {
        emit infoText(tr("The samples could not be saved to %1: %2").arg(QDir::toNativeSeparators(fileName), problem),
                      true, UserDialogs::Icon::Critical);
        return;
    }
    emit infoText(tr("%n samples saved to %1", nullptr, m_history.size()).arg(QDir::toNativeSeparators(fileName)),
                  false);
}

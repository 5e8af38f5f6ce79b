#include "firmware/ui/firmwarepage.h"

#include "ui_firmwarepage.h"

#include "firmware/firmwarelog.h"
#include "firmware/updatefwhelper.h"
#include "ui/appsettings.h"
#include "ui/userdialogs.h"

#include <QEvent>
#include <QFileInfo>

FirmwarePage::FirmwarePage(UpdateFwHelper *updater, UserDialogs *dialogs, AppSettings *settings, QWidget *parent)
    : QWidget(parent), ui(new Ui::FirmwarePage), m_dialogs(dialogs), m_settings(settings)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("pageMainFwUpdate"));
    ui->groupBoxUpdateProgress->hide();
    connect(updater, &UpdateFwHelper::on_updateFwState, this, &FirmwarePage::on_updateFwState);
    connect(updater, &UpdateFwHelper::updateProgressBar, this, &FirmwarePage::on_updateProgressBar);
}

FirmwarePage::~FirmwarePage() = default;

void FirmwarePage::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QWidget::changeEvent(event);
}

void FirmwarePage::on_pushButtonBrowseFw_clicked()
{
    const QString fileName =
        m_dialogs->openFileName(tr("Choose FW"), m_settings->firmwareDirectory(), tr("FW Files (*.bin *.BIN)"));
    if (fileName.isEmpty())
        return;
    firmwareDebug() << "filename: " + fileName;
    ui->lineEditFwFileAddress->setText(fileName);
    m_settings->setFirmwareDirectory(QFileInfo(fileName).absolutePath());
}

void FirmwarePage::on_pushButtonUpdateFw_clicked()
{
    const QString fileName = ui->lineEditFwFileAddress->text().trimmed();
    if (fileName.isEmpty()) {
        emit infoText(tr("No firmware file is selected."), true, UserDialogs::Icon::Warning);
        return;
    }
    emit updateRequested(fileName);
}

void FirmwarePage::on_updateFwState(QString newState, bool showProgressBar, bool showRestart,
                                    bool enableUpdateButton)
{
    Q_UNUSED(showRestart) // the controller restarts by itself
    ui->labelFwActualState->setText(newState);
    ui->groupBoxUpdateProgress->setVisible(showProgressBar);
    ui->pushButtonUpdateFw->setEnabled(enableUpdateButton);
}

void FirmwarePage::on_updateProgressBar(int value, int min, int max, QString format)
{
    QProgressBar *bar = ui->progressBarUpdateFw;
    bar->setRange(min, max);
    bar->setValue(value);
    bar->setFormat(format.isNull() ? QStringLiteral("%p%") : format);
}

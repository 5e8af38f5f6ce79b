#include "motors/ui/motorpage.h"

#include "device/runningmode.h"

#include "ui_motorpage.h"

#include "ui/embeddedfonts.h"
#include "ui/suggestedfiles.h"
#include "ui/userdialogs.h"
#include "device/device.h"
#include "device/escsettingstext.h"
#include "ident/idhelper.h"
#include "motors/motorfileexchange.h"
#include "ident/motorinfotext.h"
#include "motors/dbmanager.h"
#include "motors/motorlibrary.h"

#include <QEvent>
#include <QDir>
#include <QHeaderView>
#include <QLayout>

#include <cmath>

namespace {

// Button texts of the two motor file questions; not translated.
const QString ALL_LABEL = QStringLiteral("All");
const QString SELECTED_LABEL = QStringLiteral("Selected");
const QString OVERWRITE_LABEL = QStringLiteral("Overwrite");
const QString APPEND_LABEL = QStringLiteral("Append");

bool canDriveAMotor(const MOTOR_TOTAL &motor)
{
    return DbManager::isUsable(motor);
}

// The values a settings file carries; the database rebuilds the others when reading.
bool sameSettingsFileValues(const MOTOR_TOTAL &a, const MOTOR_TOTAL &b)
{
    MOTOR_TOTAL left = a;
    MOTOR_TOTAL right = b;
    for (MOTOR_TOTAL *m : {&left, &right}) {
        m->validData = 0;
        m->fluxFrequency = 0;
        m->indCurrent = 0;
    }
    return left == right;
}

} // namespace

MotorPage::MotorPage(Device *device, MotorLibrary *motors, MotorFileExchange *motorFiles, IdHelper *idHelper,
                     UserDialogs *dialogs, QWidget *parent)
    : QWidget(parent),
      ui(new Ui::MotorPage),
      m_device(device),
      m_motors(motors),
      m_motorFiles(motorFiles),
      m_idHelper(idHelper),
      m_dialogs(dialogs)
{
    ui->setupUi(this);
    QHeaderView *header = ui->tableWidgetMotors->horizontalHeader();
    header->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(DateColumn, QHeaderView::ResizeToContents);
    showMotorList();

    connect(m_device, &Device::ui_fillMotorName, this, &MotorPage::on_fillMotorName);
    connect(m_device, &Device::ui_fillMotorHours, this, &MotorPage::on_fillMotorHours);
    connect(m_device, &Device::ui_changeUserMotorParams, this, &MotorPage::prefillMotorData);
    connect(m_idHelper, &IdHelper::storedMotorAnswered, this, &MotorPage::on_storedMotorAnswered);
    connect(ui->stackedWidgetMotorParams, &QStackedWidget::currentChanged, this, [this](int index) {
        if (ui->stackedWidgetMotorParams->widget(index) == ui->pageMotorParams)
            emit motorListShown();
    });
    fillMotorTable(QString());
}

MotorPage::~MotorPage() = default;

void MotorPage::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QWidget::changeEvent(event);
}

void MotorPage::showMotorList()
{
    ui->stackedWidgetMotorParams->setCurrentWidget(ui->pageMotorParams);
}

void MotorPage::addWizard(QWidget *wizard)
{
    m_wizard = wizard;
    ui->stackedWidgetMotorParams->addWidget(wizard);
}

void MotorPage::showWizard()
{
    if (m_wizard)
        ui->stackedWidgetMotorParams->setCurrentWidget(m_wizard);
}

void MotorPage::refresh()
{
    fillMotorTable(m_actualMotor);
}

void MotorPage::showBox(const QString &msg)
{
    emit infoText(msg, true);
}

void MotorPage::showProblem(const QString &msg)
{
    emit infoText(msg, true, UserDialogs::Icon::Warning);
}

bool MotorPage::report(const MotorResult &result)
{
    if (!result.message.isEmpty())
        result.ok ? showBox(result.message) : showProblem(result.message);
    return result.ok;
}

void MotorPage::showFailure(const QString &msg)
{
    m_dialogs->message(UserDialogs::Icon::Critical, tr("Error"), EmbeddedFonts::inDialogFont(msg));
}

// ---------------------------------------------------------------------------------
// The motor list

void MotorPage::fillMotorTable(const QString &selectName)
{
    QStringList names;
    QStringList datetimes;
    m_motors->motorList(&names, &datetimes);

    QTableWidget *table = ui->tableWidgetMotors;
    // Resets the model: no cell stays current to name whichever motor the refill puts there.
    table->clearContents();
    table->setRowCount(names.size());
    for (int row = 0; row < names.size(); ++row) {
        // Shown in the user's language, kept as stored: the stored name finds the motor.
        auto *name = new QTableWidgetItem(DbManager::shownName(names[row]));
        name->setData(Qt::UserRole, names[row]);
        name->setToolTip(name->text());
        table->setItem(row, NameColumn, name);
        table->setItem(row, DateColumn, new QTableWidgetItem(datetimes.value(row)));
    }
    const int row = selectName.isEmpty() ? -1 : names.indexOf(selectName);
    if (row >= 0) {
        table->setCurrentCell(row, NameColumn);
        table->selectRow(row);
    }
}

QString MotorPage::selectedMotorName() const
{
    // The name column of the current row, whichever cell of the row is current.
    const int row = ui->tableWidgetMotors->currentRow();
    const QTableWidgetItem *item = row >= 0 ? ui->tableWidgetMotors->item(row, NameColumn) : nullptr;
    return item ? item->data(Qt::UserRole).toString() : QString();
}

QString MotorPage::selectedMotorDate() const
{
    const int row = ui->tableWidgetMotors->currentRow();
    const QTableWidgetItem *item = row >= 0 ? ui->tableWidgetMotors->item(row, DateColumn) : nullptr;
    return item ? item->text() : QString();
}

void MotorPage::on_fillMotorName(QString motorName)
{
    if (motorName.isEmpty()) {
        showActualMotor(QString());
        ui->lineEditMotorHours->clear();
        return;
    }
    showActualMotor(motorName);
    fillMotorTable(motorName);
}

void MotorPage::showActualMotor(const QString &storedName)
{
    m_actualMotor = storedName;
    ui->lineEditActualMotorType->setText(DbManager::shownName(storedName));
}

void MotorPage::on_fillMotorHours(uint32_t motorHours)
{
    ui->lineEditMotorHours->setText(EscSettingsText::motorHoursText(motorHours));
}

// ---------------------------------------------------------------------------------
// Actions on the selected motor

QString MotorPage::setMotorRefusal(Device_State_e state)
{
    switch (state) {
    case DEVICE_CONNECTED:
        return QString();
    case DEVICE_RUNNING:
        return RunningMode::refusal(tr("Device is running"));
    case DEVICE_BOOT_STARTED:
    case DEVICE_BOOT_CONNECTED:
        return tr("Bootloader mode");
    case DEVICE_DISCONNECTED:
    default:
        return tr("Device is disconnected");
    }
}

void MotorPage::on_toolButtonSetMotor_clicked()
{
    const QString name = selectedMotorName();
    if (name.isNull()) {
        showProblem(tr("No motor is selected!"));
        return;
    }
    const QString refusal = setMotorRefusal(m_device->state());
    if (!refusal.isEmpty()) {
        showProblem(refusal);
        return;
    }
    // A stored motor without usable values (written by an older version) never reaches
    // the controller.
    MOTOR_TOTAL stored;
    if (!m_motors->motorParams(name, &stored)) {
        showProblem(tr("Problem. Motor is not set!"));
        return;
    }
    if (!canDriveAMotor(stored)) {
        showProblem(tr("The motor \"%1\" has no usable values. Motor is not set!").arg(DbManager::shownName(name)));
        return;
    }
    emit aboutToWriteMotor();
    // Read here, in the database's thread; the sequencer gets a copy through a posted call
    // and answers with storedMotorAnswered.
    m_motorBeingSet = name;
    m_idHelper->setStoredMotor(stored);
}

void MotorPage::on_storedMotorAnswered(bool accepted, bool answered)
{
    const QString name = m_motorBeingSet;
    m_motorBeingSet.clear();
    if (name.isEmpty())
        return; // not a motor this page sent
    if (accepted) {
        showActualMotor(name);
        showBox(tr("Motor is set"));
    } else if (answered) {
        showProblem(tr("The controller refused the motor \"%1\". Motor is not set!").arg(DbManager::shownName(name)));
    } else {
        showProblem(tr("The controller did not answer. Motor is not set!"));
    }
}

void MotorPage::on_toolButtonRenameMotor_clicked()
{
    const QString oldName = selectedMotorName();
    if (oldName.isNull()) {
        showProblem(tr("No motor is selected!"));
        return;
    }
    const QString newName =
        m_dialogs->askText(tr("Rename motor"), EmbeddedFonts::inDialogFont(tr("New motor name:")), oldName);
    if (newName.isEmpty())
        return;
    if (!report(m_motors->renameMotor(oldName, newName)))
        return;
    fillMotorTable(newName);
    renamed(oldName, newName);
}

void MotorPage::renamed(const QString &oldName, const QString &newName)
{
    if (m_actualMotor == oldName)
        showActualMotor(newName);
    // The device model still names the motor by its old name (a settings export would
    // write it): let it look its motor up again.
    if (m_device->motorName() == oldName)
        m_device->updateMotorHours();
}

void MotorPage::on_toolButtonRemoveMotor_clicked()
{
    const QString name = selectedMotorName();
    if (name.isNull()) {
        showProblem(tr("No motor is selected!"));
        return;
    }
    if (!m_dialogs->askYesNo(tr("Remove motor"), tr("Remove the motor \"%1\" from the list?").arg(DbManager::shownName(name))))
        return;
    if (!report(m_motors->removeMotor(name)))
        return;
    fillMotorTable(QString());
    removed(name);
}

void MotorPage::removed(const QString &name)
{
    if (m_actualMotor == name)
        showActualMotor(QString());
    // A connected controller still carries the motor: the device model looks it up again,
    // which names it anew, and its answer selects it.
    if (m_device->motorName() == name && m_device->state() != DEVICE_DISCONNECTED)
        m_device->updateMotorHours();
}

// ---------------------------------------------------------------------------------
// Motor files

void MotorPage::on_pushButtonExportMotors_clicked()
{
    const bool hasSelection = !selectedMotorName().isNull();
    const UserDialogs::Choice choice =
        m_dialogs->askChoice(tr("Which motor to save to the file?"), ALL_LABEL, SELECTED_LABEL, hasSelection);
    QStringList names;
    QStringList datetimes;
    switch (choice) {
    case UserDialogs::Choice::Cancel:
        return;
    case UserDialogs::Choice::No:
        if (!hasSelection)
            return;
        names << selectedMotorName();
        datetimes << selectedMotorDate();
        break;
    case UserDialogs::Choice::Yes:
        if (!m_motors->motorList(&names, &datetimes)) {
            showFailure(tr("Export failed!"));
            return;
        }
        break;
    }

    const QString fileName = SuggestedFiles::withSuffix(
        m_dialogs->saveFileName(tr("Save motors"),
                                SuggestedFiles::name(QDir::homePath(), QStringLiteral("kordo-motors"), QStringLiteral("ms")),
                                tr("MS Files (*.ms)")),
        QStringLiteral("ms"));
    if (fileName.isEmpty())
        return;
    const MotorResult exported = m_motorFiles->exportMotors(fileName, names, datetimes);
    if (!exported.ok) { // "Export failed!" and, on a line of its own, why
        showFailure(exported.reason.isEmpty()
                        ? exported.message
                        : exported.message + QStringLiteral("<br>") + exported.reason.toHtmlEscaped());
    }
}

void MotorPage::on_pushButtonImportMotors_clicked()
{
    const QString fileName = m_dialogs->openFileName(tr("Load motors"), QString(), tr("MS Files (*.ms)"));
    if (fileName.isEmpty())
        return;
    const UserDialogs::Choice choice = m_dialogs->askChoice(
        tr("What operation to perform on the original motor list?"), OVERWRITE_LABEL, APPEND_LABEL, true);
    if (choice == UserDialogs::Choice::Cancel)
        return;
    const MotorResult imported = m_motorFiles->importMotors(fileName, choice == UserDialogs::Choice::Yes);
    if (!imported.ok) { // "Import failed!" and, on a line of its own, why
        showFailure(imported.reason.isEmpty()
                        ? imported.message
                        : imported.message + QStringLiteral("<br>") + imported.reason.toHtmlEscaped());
    }

    // The list is shown at once (a controller in its bootloader answers no reads); a
    // connected device model then looks its motor up again, reading its motor hours, and
    // its answer selects that motor.
    const bool disconnected = m_device->state() == DEVICE_DISCONNECTED;
    fillMotorTable(disconnected ? QString() : m_actualMotor);
    if (!disconnected)
        m_device->updateMotorHours();
}

// ---------------------------------------------------------------------------------
// The motor of an imported settings file

void MotorPage::on_motorImported(ImportedMotor motor)
{
    if (motor.name.isEmpty())
        return;
    QString name = motor.name;
    const QString invalidName = DbManager::invalidNameReason(name);
    if (!invalidName.isEmpty()) {   // which character, not "Problem with database!"
        showProblem(invalidName);
        return;
    }
    if (motor.hasParams) {
        if (!canDriveAMotor(motor.params)) {
            showProblem(tr("The motor \"%1\" of the settings file has no usable values (resistance, inductances, "
                       "flux and pole pairs must be set). It is not stored and not set.")
                        .arg(motor.name));
            return;
        }
        MOTOR_TOTAL stored;
        if (m_motors->motorParams(motor.name, &stored) && !sameSettingsFileValues(stored, motor.params)
            && !m_dialogs->askYesNo(tr("Replace motor"),
                                    tr("A motor named \"%1\" is stored with other values. Replace it with the "
                                       "motor of the settings file?")
                                        .arg(motor.name)))
            return;
        name = m_motors->findMotor(motor.params, motor.name);
        if (name.isNull()) {
            showProblem(MotorLibrary::problemText());
            return;
        }
    } else {
        QStringList names;
        QStringList datetimes;
        if (!m_motors->motorList(&names, &datetimes) || !names.contains(motor.name))
            return; // not a stored motor: nothing changes
    }
    fillMotorTable(name);
    // Only the motor just selected may be applied, never whatever row happens to be current.
    if (selectedMotorName() == name)
        ui->toolButtonSetMotor->animateClick(SET_MOTOR_CLICK_MS);
}

void MotorPage::on_checkBoxNoLoadCurrent_stateChanged(int state)
{
    ui->doubleSpinBoxNoLoadCurrent->setEnabled(state == Qt::Checked);
}

// The motor data fields start from what the connected controller holds: each field still
// at zero takes the controller's value, a value the user entered stays.
void MotorPage::prefillMotorData()
{
    const MotorUserInput held = MotorUserLimits::heldInput(m_device->motorParams());
    const auto fill = [](auto *box, double value) {
        if (box->value() == 0 && value > 0)
            box->setValue(value);
    };
    fill(ui->doubleSpinBoxMaxCurrent, double(held.maxCurrent));
    fill(ui->doubleSpinBoxKv, double(held.kv));
    fill(ui->spinBoxMaxLiPoCells, held.lipoCells);
    fill(ui->spinBoxPolePairs, held.polePairs);
}

void MotorPage::on_pushSetIdentifyMotor_clicked()
{
    MotorUserInput input;
    input.maxCurrent = float(ui->doubleSpinBoxMaxCurrent->value());
    input.noLoadKnown = ui->checkBoxNoLoadCurrent->isChecked();
    input.noLoadCurrent = float(ui->doubleSpinBoxNoLoadCurrent->value());
    input.lipoCells = ui->spinBoxMaxLiPoCells->value();
    input.kv = float(ui->doubleSpinBoxKv->value());
    input.polePairs = ui->spinBoxPolePairs->value();
    emit identifyMotorRequested(input);
}

void MotorPage::on_toolButtonInfoMotor_clicked()
{
    const QString name = selectedMotorName();
    if (name.isNull()) {
        showProblem(tr("No motor is selected!"));
        return;
    }
    MOTOR_TOTAL motor;
    if (!m_motors->motorParams(name, &motor)) {
        showProblem(MotorLibrary::problemText());
        return;
    }
    m_dialogs->message(UserDialogs::Icon::Information, name, MotorInfoText::html(motor));
}

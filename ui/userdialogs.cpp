#include "ui/userdialogs.h"

#include "ui/embeddedfonts.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSysInfo>

namespace {

// The platform's own file dialog is used only on Windows.
QFileDialog::Options fileDialogOptions()
{
    return QSysInfo::productType() == QLatin1String("windows") ? QFileDialog::Options()
                                                                : QFileDialog::DontUseNativeDialog;
}

QMessageBox::Icon boxIcon(UserDialogs::Icon icon)
{
    switch (icon) {
    case UserDialogs::Icon::Warning:
        return QMessageBox::Warning;
    case UserDialogs::Icon::Critical:
        return QMessageBox::Critical;
    case UserDialogs::Icon::Information:
    default:
        return QMessageBox::Information;
    }
}

} // namespace

void WidgetDialogs::message(Icon icon, const QString &title, const QString &text)
{
    QMessageBox box(boxIcon(icon), title, text, QMessageBox::Ok, m_parent, Qt::Dialog);
    box.setFont(EmbeddedFonts::dialogFont());
    box.exec();
}

bool WidgetDialogs::askYesNo(const QString &title, const QString &informativeText)
{
    QMessageBox box(QMessageBox::Question, title, title, QMessageBox::Yes | QMessageBox::No, m_parent, Qt::Dialog);
    box.setDefaultButton(QMessageBox::No); // each question asks before something that cannot be undone
    box.setFont(EmbeddedFonts::dialogFont());
    box.setInformativeText(informativeText);
    return box.exec() == QMessageBox::Yes;
}

QString WidgetDialogs::chooseItem(const QString &title, const QString &label, const QStringList &items)
{
    QInputDialog dialog(m_parent);
    dialog.setWindowTitle(title);
    dialog.setLabelText(label);
    dialog.setFont(EmbeddedFonts::dialogFont());
    dialog.setComboBoxItems(items);
    dialog.setComboBoxEditable(false);
    dialog.setTextValue(items.value(0));
    m_openChoice = &dialog;
    const int result = dialog.exec();
    m_openChoice.clear();
    if (result != QDialog::Accepted)
        return QString();
    return dialog.textValue();
}

void WidgetDialogs::closeItemChoice()
{
    if (m_openChoice)
        m_openChoice->reject();
}

QString WidgetDialogs::askText(const QString &title, const QString &label, const QString &text)
{
    QInputDialog dialog(m_parent);
    dialog.setWindowTitle(title);
    dialog.setLabelText(label);
    dialog.setFont(EmbeddedFonts::dialogFont());
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setTextEchoMode(QLineEdit::Normal);
    dialog.setTextValue(text);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    // Accepted but empty stays distinguishable from a cancel.
    const QString answer = dialog.textValue();
    return answer.isNull() ? QStringLiteral("") : answer;
}

UserDialogs::Choice WidgetDialogs::askChoice(const QString &informativeText, const QString &yesLabel,
                                             const QString &noLabel, bool noEnabled)
{
    QMessageBox box(QMessageBox::Question, QString(), QString(),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, m_parent, Qt::Dialog);
    box.setFont(EmbeddedFonts::dialogFont());
    box.setInformativeText(informativeText);
    box.button(QMessageBox::Yes)->setText(yesLabel);
    box.button(QMessageBox::No)->setText(noLabel);
    box.button(QMessageBox::No)->setEnabled(noEnabled);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Choice::Yes;
    case QMessageBox::No:
        return Choice::No;
    default:
        return Choice::Cancel;
    }
}

bool WidgetDialogs::askButtons(const QString &text, const QString &acceptLabel, const QString &rejectLabel)
{
    QMessageBox box(QMessageBox::Question, QString(), text, QMessageBox::NoButton, m_parent, Qt::Dialog);
    box.setFont(EmbeddedFonts::dialogFont());
    QPushButton *accept = box.addButton(acceptLabel, QMessageBox::AcceptRole);
    box.addButton(rejectLabel, QMessageBox::RejectRole);
    box.exec();
    return box.clickedButton() == accept;
}

QString WidgetDialogs::saveFileName(const QString &title, const QString &directory, const QString &filter)
{
    return QFileDialog::getSaveFileName(m_parent, title, directory, filter, nullptr, fileDialogOptions());
}

QString WidgetDialogs::openFileName(const QString &title, const QString &directory, const QString &filter)
{
    return QFileDialog::getOpenFileName(m_parent, title, directory, filter, nullptr, fileDialogOptions());
}

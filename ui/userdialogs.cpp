#include "ui/userdialogs.h"

#include "ui/embeddedfonts.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSysInfo>
#include <QVBoxLayout>

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
    if (m_closing)
        return;
    QMessageBox box(boxIcon(icon), title, text, QMessageBox::Ok, m_parent, Qt::Dialog);
    box.setFont(EmbeddedFonts::dialogFont());
    box.exec();
}

bool WidgetDialogs::askYesNo(const QString &title, const QString &informativeText)
{
    if (m_closing)
        return false;
    QMessageBox box(QMessageBox::Question, title, title, QMessageBox::Yes | QMessageBox::No, m_parent, Qt::Dialog);
    box.setDefaultButton(QMessageBox::No); // each question asks before something that cannot be undone
    box.setFont(EmbeddedFonts::dialogFont());
    box.setInformativeText(informativeText);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

// A list without a current choice, and OK only once an item is picked (a click, or the
// arrow keys): a Return meant for another window chooses nothing. A double click picks
// and accepts at once.
QString WidgetDialogs::chooseItem(const QString &title, const QString &label, const QStringList &items)
{
    if (m_closing)
        return QString();
    QDialog dialog(m_parent);
    dialog.setObjectName(QStringLiteral("dialogChooseItem"));
    dialog.setWindowTitle(title);
    dialog.setFont(EmbeddedFonts::dialogFont());
    auto *text = new QLabel(label, &dialog);
    auto *list = new QListWidget(&dialog);
    list->setObjectName(QStringLiteral("listWidgetChoice"));
    list->addItems(items);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setCurrentRow(-1);
    list->clearSelection();
    text->setBuddy(list);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QPushButton *ok = buttons->button(QDialogButtonBox::Ok);
    ok->setEnabled(false);
    for (QAbstractButton *button : buttons->buttons()) {
        if (auto *push = qobject_cast<QPushButton *>(button)) {
            push->setAutoDefault(false);
            push->setDefault(push == ok);
        }
    }
    QObject::connect(list, &QListWidget::itemSelectionChanged, ok,
                     [list, ok] { ok->setEnabled(!list->selectedItems().isEmpty()); });
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, [list, &dialog](QListWidgetItem *item) {
        list->setCurrentItem(item);
        item->setSelected(true);
        dialog.accept();
    });
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(text);
    layout->addWidget(list);
    layout->addWidget(buttons);

    m_openChoice = &dialog;
    const int result = dialog.exec();
    m_openChoice.clear();
    const QList<QListWidgetItem *> picked = list->selectedItems();
    if (result != QDialog::Accepted || picked.isEmpty())
        return QString();
    return picked.first()->text();
}

void WidgetDialogs::closeItemChoice()
{
    if (m_openChoice)
        m_openChoice->reject();
}

QString WidgetDialogs::askText(const QString &title, const QString &label, const QString &text)
{
    if (m_closing)
        return QString();
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
    if (m_closing)
        return Choice::Cancel;
    QMessageBox box(QMessageBox::Question, QString(), QString(),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, m_parent, Qt::Dialog);
    box.setFont(EmbeddedFonts::dialogFont());
    box.setInformativeText(informativeText);
    box.button(QMessageBox::Yes)->setText(yesLabel);
    box.button(QMessageBox::No)->setText(noLabel);
    box.button(QMessageBox::No)->setEnabled(noEnabled);
    box.setDefaultButton(QMessageBox::Cancel);
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
    if (m_closing)
        return false;
    QMessageBox box(QMessageBox::Question, QString(), text, QMessageBox::NoButton, m_parent, Qt::Dialog);
    box.setFont(EmbeddedFonts::dialogFont());
    QPushButton *accept = box.addButton(acceptLabel, QMessageBox::AcceptRole);
    box.setDefaultButton(box.addButton(rejectLabel, QMessageBox::RejectRole));
    box.exec();
    return box.clickedButton() == accept;
}

QString WidgetDialogs::saveFileName(const QString &title, const QString &directory, const QString &filter)
{
    if (m_closing)
        return QString();
    return QFileDialog::getSaveFileName(m_parent, title, directory, filter, nullptr, fileDialogOptions());
}

QString WidgetDialogs::openFileName(const QString &title, const QString &directory, const QString &filter)
{
    if (m_closing)
        return QString();
    return QFileDialog::getOpenFileName(m_parent, title, directory, filter, nullptr, fileDialogOptions());
}

#pragma once

#include <QDialog>
#include <QMetaType>
#include <QPointer>
#include <QString>
#include <QStringList>

class QWidget;

// The modal questions and file choices of the program, behind one small interface so that
// widget tests answer them from a script instead of blocking on a dialog.
class UserDialogs
{
public:
    enum class Icon { Information, Warning, Critical };
    // The buttons of a three-way question.
    enum class Choice { Yes, No, Cancel };

    virtual ~UserDialogs() = default;

    // A message with an OK button.
    virtual void message(Icon icon, const QString &title, const QString &text) = 0;
    // Yes / No; true for Yes. No is the default: Return never says Yes.
    virtual bool askYesNo(const QString &title, const QString &informativeText) = 0;
    // One of the items, or a null string when cancelled. Nothing is chosen until the user
    // picks an item: Return alone chooses nothing.
    virtual QString chooseItem(const QString &title, const QString &label, const QStringList &items) = 0;
    // Closes an item choice that is open, as if cancelled; nothing when none is open.
    virtual void closeItemChoice() = 0;
    // A line of text, starting from `text`; a null string when cancelled.
    virtual QString askText(const QString &title, const QString &label, const QString &text) = 0;
    // Yes, No and Cancel, the first two with their own labels; No may be offered disabled.
    // Cancel is the default.
    virtual Choice askChoice(const QString &informativeText, const QString &yesLabel, const QString &noLabel,
                             bool noEnabled) = 0;
    // A question with two buttons of its own labels; true for the first (accept) button.
    // The second is the default: the first acts (writes, restores), the second leaves things.
    virtual bool askButtons(const QString &text, const QString &acceptLabel, const QString &rejectLabel) = 0;
    // A file name, or an empty string when cancelled.
    virtual QString saveFileName(const QString &title, const QString &directory, const QString &filter) = 0;
    virtual QString openFileName(const QString &title, const QString &directory, const QString &filter) = 0;
};

// The real dialogs, as children of the given window, in the program's dialog font.
class WidgetDialogs : public UserDialogs
{
public:
    explicit WidgetDialogs(QWidget *parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget *parent) { m_parent = parent; }
    // The program is ending: no dialog opens any more; a question gets its default answer
    // (No, Cancel, nothing chosen) at once.
    void closeForGood() { m_closing = true; }
    bool isClosing() const { return m_closing; }

    void message(Icon icon, const QString &title, const QString &text) override;
    bool askYesNo(const QString &title, const QString &informativeText) override;
    QString chooseItem(const QString &title, const QString &label, const QStringList &items) override;
    void closeItemChoice() override;
    QString askText(const QString &title, const QString &label, const QString &text) override;
    Choice askChoice(const QString &informativeText, const QString &yesLabel, const QString &noLabel,
                     bool noEnabled) override;
    bool askButtons(const QString &text, const QString &acceptLabel, const QString &rejectLabel) override;
    QString saveFileName(const QString &title, const QString &directory, const QString &filter) override;
    QString openFileName(const QString &title, const QString &directory, const QString &filter) override;

private:
    QWidget *m_parent;
    QPointer<QDialog> m_openChoice;
    bool m_closing = false;
};

Q_DECLARE_METATYPE(UserDialogs::Icon)

#pragma once

#include "ui/userdialogs.h"

#include <QList>
#include <QString>

// Puts the program's dialogs one at a time in front of the user. A modal dialog runs its
// own event loop, in which messages from the device side keep arriving: while any dialog
// is open they wait in a queue instead of opening a box inside the box, and a text that
// is already waiting is counted once more instead of queued again ("×N"). The queue is
// shown as soon as the open dialog closes.
class QueuedDialogs : public UserDialogs
{
public:
    // The real dialogs must outlive this object.
    explicit QueuedDialogs(UserDialogs *dialogs) : m_dialogs(dialogs) {}

    bool isDialogOpen() const { return m_openDialogs > 0; }
    int waitingMessages() const { return m_waiting.size(); }

    // The text shown for a message that arrived `count` times while it waited.
    static QString countedText(const QString &text, int count);

    void message(Icon icon, const QString &title, const QString &text) override;
    bool askYesNo(const QString &title, const QString &informativeText) override;
    QString chooseItem(const QString &title, const QString &label, const QStringList &items) override;
    // Closing the open choice opens nothing: it goes straight through.
    void closeItemChoice() override { m_dialogs->closeItemChoice(); }
    QString askText(const QString &title, const QString &label, const QString &text) override;
    Choice askChoice(const QString &informativeText, const QString &yesLabel, const QString &noLabel,
                     bool noEnabled) override;
    bool askButtons(const QString &text, const QString &acceptLabel, const QString &rejectLabel) override;
    QString saveFileName(const QString &title, const QString &directory, const QString &filter) override;
    QString openFileName(const QString &title, const QString &directory, const QString &filter) override;

private:
    struct Waiting
    {
        Icon icon;
        QString title;
        QString text;
        int count;
    };

    // Runs one dialog, then the messages that arrived meanwhile.
    template <typename Dialog>
    auto open(Dialog dialog);
    void showWaiting();

    UserDialogs *m_dialogs;
    QList<Waiting> m_waiting;
    int m_openDialogs = 0;
};

#pragma once

#include "ui/userdialogs.h"

#include <QList>
#include <functional>
#include <QStringList>

#include <algorithm>
#include <functional>

// Answers the program's modal dialogs from a script and records what was asked.
class ScriptedDialogs : public UserDialogs
{
public:
    struct Message
    {
        Icon icon;
        QString title;
        QString text;
    };

    QList<Message> messages;
    QStringList questions;          // titles of Yes/No questions
    QStringList questionTexts;      // and their informative texts
    bool answerYes = false;
    QStringList itemTitles;         // titles of item choices
    QList<QStringList> itemOffers;
    QString itemAnswer;             // null: cancel
    int itemChoicesClosed = 0;      // closeItemChoice() calls
    std::function<void()> whileChoosingItem; // runs while the choice is "open"
    struct TextPrompt
    {
        QString title;
        QString label;
        QString text;
    };
    QList<TextPrompt> textPrompts;
    QString textAnswer;             // null: cancel
    struct ChoiceOffer
    {
        QString informativeText;
        QString yesLabel;
        QString noLabel;
        bool noEnabled;
    };
    QList<ChoiceOffer> choiceOffers;
    Choice choiceAnswer = Choice::Cancel;
    struct ButtonsOffer
    {
        QString text;
        QString acceptLabel;
        QString rejectLabel;
    };
    QList<ButtonsOffer> buttonsOffers;
    bool buttonsAnswerAccept = true;
    QString saveAnswer;             // empty: cancel
    QString openAnswer;
    int fileDialogs = 0;
    QString fileDialogStart;        // the folder or suggested name the last file dialog opened with

    // Runs while a dialog is open, as the real dialog's event loop would run queued work.
    std::function<void()> whileOpen;
    int openDialogs = 0;
    int mostOpenDialogs = 0;   // more than 1: a dialog was opened inside another

    void message(Icon icon, const QString &title, const QString &text) override
    {
        messages.append({icon, title, text});
        runOpen();
    }
    bool askYesNo(const QString &title, const QString &informativeText) override
    {
        questions.append(title);
        questionTexts.append(informativeText);
        runOpen();
        return answerYes;
    }
    QString chooseItem(const QString &title, const QString &, const QStringList &items) override
    {
        itemTitles.append(title);
        itemOffers.append(items);
        if (whileChoosingItem)
            whileChoosingItem();
        return itemAnswer;
    }
    void closeItemChoice() override { ++itemChoicesClosed; }
    QString askText(const QString &title, const QString &label, const QString &text) override
    {
        textPrompts.append({title, label, text});
        return textAnswer;
    }
    Choice askChoice(const QString &informativeText, const QString &yesLabel, const QString &noLabel,
                     bool noEnabled) override
    {
        choiceOffers.append({informativeText, yesLabel, noLabel, noEnabled});
        // A disabled button cannot be pressed: the user can only cancel then.
        return choiceAnswer == Choice::No && !noEnabled ? Choice::Cancel : choiceAnswer;
    }
    bool askButtons(const QString &text, const QString &acceptLabel, const QString &rejectLabel) override
    {
        buttonsOffers.append({text, acceptLabel, rejectLabel});
        return buttonsAnswerAccept;
    }
    QString saveFileName(const QString &, const QString &directory, const QString &) override
    {
        ++fileDialogs;
        fileDialogStart = directory;
        return saveAnswer;
    }
    QString openFileName(const QString &, const QString &directory, const QString &) override
    {
        ++fileDialogs;
        fileDialogStart = directory;
        return openAnswer;
    }

private:
    void runOpen()
    {
        ++openDialogs;
        mostOpenDialogs = std::max(mostOpenDialogs, openDialogs);
        if (whileOpen) {
            const std::function<void()> work = whileOpen;
            whileOpen = nullptr; // once, like a burst of messages
            work();
        }
        --openDialogs;
    }
};

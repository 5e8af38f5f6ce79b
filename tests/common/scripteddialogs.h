#pragma once

#include "ui/userdialogs.h"

#include <QList>
#include <QStringList>

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
    bool answerYes = false;
    QStringList itemTitles;         // titles of item choices
    QList<QStringList> itemOffers;
    QString itemAnswer;             // null: cancel
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

    void message(Icon icon, const QString &title, const QString &text) override { messages.append({icon, title, text}); }
    bool askYesNo(const QString &title, const QString &) override
    {
        questions.append(title);
        return answerYes;
    }
    QString chooseItem(const QString &title, const QString &, const QStringList &items) override
    {
        itemTitles.append(title);
        itemOffers.append(items);
        return itemAnswer;
    }
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
    QString saveFileName(const QString &, const QString &, const QString &) override
    {
        ++fileDialogs;
        return saveAnswer;
    }
    QString openFileName(const QString &, const QString &, const QString &) override
    {
        ++fileDialogs;
        return openAnswer;
    }
};

#include "ui/queueddialogs.h"
#include "tests/common/scripteddialogs.h"

#include <QtTest>

// One dialog at a time: messages that arrive while a dialog is open wait, the same text
// waiting twice is counted, and the queue is shown once the open dialog has closed.
class TestQueuedDialogs : public QObject
{
    Q_OBJECT

    static QStringList texts(const ScriptedDialogs &dialogs)
    {
        QStringList out;
        for (const ScriptedDialogs::Message &m : dialogs.messages)
            out << m.text;
        return out;
    }

private slots:
    void messagesDuringAMessageWaitAndAreCounted()
    {
        ScriptedDialogs script;
        QueuedDialogs dialogs(&script);
        script.whileOpen = [&] {
            for (int i = 0; i < 150; ++i)
                dialogs.message(UserDialogs::Icon::Information, QStringLiteral("T"), QStringLiteral("Error: 0x3"));
            dialogs.message(UserDialogs::Icon::Information, QStringLiteral("T"), QStringLiteral("Log file is not created"));
            QCOMPARE(dialogs.waitingMessages(), 2);
        };
        dialogs.message(UserDialogs::Icon::Information, QStringLiteral("T"), QStringLiteral("Error: 0x3"));
        QCOMPARE(script.mostOpenDialogs, 1);
        QCOMPARE(texts(script), (QStringList{QStringLiteral("Error: 0x3"), QStringLiteral("Error: 0x3 (\u00d7150)"),
                                             QStringLiteral("Log file is not created")}));
        QCOMPARE(dialogs.waitingMessages(), 0);
        QVERIFY(!dialogs.isDialogOpen());
    }

    void aMessageDuringAQuestionFollowsIt()
    {
        ScriptedDialogs script;
        QueuedDialogs dialogs(&script);
        script.answerYes = true;
        script.whileOpen = [&] {
            dialogs.message(UserDialogs::Icon::Warning, QStringLiteral("T"), QStringLiteral("Device is gone"));
            QVERIFY(script.messages.isEmpty());
        };
        QVERIFY(dialogs.askYesNo(QStringLiteral("Connection change"), QString()));
        QCOMPARE(script.mostOpenDialogs, 1);
        QCOMPARE(texts(script), QStringList{QStringLiteral("Device is gone")});
    }
};

QTEST_MAIN(TestQueuedDialogs)
#include "tst_queueddialogs.moc"

#include "ui/userdialogs.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QtTest>

// The real dialogs where a test can drive them without a user.
class TestUserDialogs : public QObject
{
    Q_OBJECT

private slots:
    // The port manager closes a port choice that is no longer needed: the open dialog
    // ends as if cancelled.
    void closeItemChoiceEndsTheOpenChoice()
    {
        WidgetDialogs dialogs;
        bool closedByTheTest = false;
        QTimer::singleShot(0, this, [&dialogs] { dialogs.closeItemChoice(); });
        // Should closeItemChoice not work, the test must still end.
        QTimer::singleShot(5000, this, [&closedByTheTest] {
            closedByTheTest = true;
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                if (auto *dialog = qobject_cast<QDialog *>(widget))
                    dialog->reject();
            }
        });
        const QString chosen = dialogs.chooseItem(QStringLiteral("Select Port"), QStringLiteral("Port:"),
                                                  {QStringLiteral("ttyS0"), QStringLiteral("ttyS1")});
        QVERIFY(!closedByTheTest);
        QVERIFY(chosen.isNull());
    }

    // The port choice starts with nothing chosen: Return alone (meant for another window,
    // or pressed at once) opens no port. An item picked with the arrow keys is taken.
    void itemChoiceTakesReturnOnlyAfterAPick()
    {
        WidgetDialogs dialogs;
        const QStringList ports {QStringLiteral("ttyS0"), QStringLiteral("ttyUSB0")};
        bool openAfterReturn = false;
        QTimer::singleShot(0, this, [&openAfterReturn] {
            QWidget *dialog = QApplication::activeModalWidget();
            if (!dialog)
                return;
            QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog, Qt::Key_Return);
            openAfterReturn = dialog->isVisible();
            if (auto *d = qobject_cast<QDialog *>(dialog))
                d->reject();
        });
        QVERIFY(dialogs.chooseItem(QStringLiteral("Select Port"), QStringLiteral("Port:"), ports).isNull());
        QVERIFY(openAfterReturn);

        QTimer::singleShot(0, this, [] {
            QWidget *dialog = QApplication::activeModalWidget();
            auto *list = dialog ? dialog->findChild<QWidget *>(QStringLiteral("listWidgetChoice")) : nullptr;
            if (!list)
                return;
            QTest::keyClick(list, Qt::Key_Down); // the first port, picked
            QTest::keyClick(list, Qt::Key_Down);
            QTest::keyClick(list, Qt::Key_Return);
        });
        QTimer::singleShot(5000, this, [] { // should Return not take the pick, the test still ends
            if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                dialog->reject();
        });
        QCOMPARE(dialogs.chooseItem(QStringLiteral("Select Port"), QStringLiteral("Port:"), ports),
                 QStringLiteral("ttyUSB0"));
    }

    // A program that is ending opens no dialog; questions get their safe answer at once.
    void noDialogOnceClosing()
    {
        WidgetDialogs dialogs;
        dialogs.closeForGood();
        bool dialogOpened = false; // only a dialog's own event loop runs this timer
        QTimer::singleShot(0, this, [&dialogOpened] {
            dialogOpened = true;
            if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                dialog->reject();
        });
        dialogs.message(UserDialogs::Icon::Warning, QStringLiteral("T"), QStringLiteral("text"));
        QVERIFY(!dialogs.askYesNo(QStringLiteral("T"), QStringLiteral("text")));
        QVERIFY(dialogs.chooseItem(QStringLiteral("T"), QStringLiteral("L"), {QStringLiteral("a")}).isNull());
        QCOMPARE(int(dialogs.askChoice(QStringLiteral("T"), QStringLiteral("Y"), QStringLiteral("N"), true)),
                 int(UserDialogs::Choice::Cancel));
        QVERIFY(!dialogs.askButtons(QStringLiteral("T"), QStringLiteral("A"), QStringLiteral("R")));
        QVERIFY(dialogs.askText(QStringLiteral("T"), QStringLiteral("L"), QStringLiteral("x")).isNull());
        QVERIFY(dialogs.saveFileName(QStringLiteral("T"), QString(), QString()).isEmpty());
        QVERIFY(dialogs.openFileName(QStringLiteral("T"), QString(), QString()).isEmpty());
        QVERIFY(!dialogOpened);
        QCoreApplication::processEvents(); // the timer, now that the test is done with it
    }

    void closingWithoutAnOpenChoiceDoesNothing()
    {
        WidgetDialogs dialogs;
        dialogs.closeItemChoice();
        QVERIFY(QApplication::topLevelWidgets().isEmpty() || !QApplication::activeModalWidget());
    }
};

QTEST_MAIN(TestUserDialogs)
#include "tst_userdialogs.moc"

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

    void closingWithoutAnOpenChoiceDoesNothing()
    {
        WidgetDialogs dialogs;
        dialogs.closeItemChoice();
        QVERIFY(QApplication::topLevelWidgets().isEmpty() || !QApplication::activeModalWidget());
    }
};

QTEST_MAIN(TestUserDialogs)
#include "tst_userdialogs.moc"

#include "app/windowtermination.h"

#include "app/terminationsignals.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QWidget>

void closeWindowOnTermination(TerminationSignals *signalSource, QWidget *window,
                              std::function<void()> beforeClosing)
{
    const QPointer<QWidget> target(window);
    QObject::connect(signalSource, &TerminationSignals::terminationRequested, window,
                     [target, beforeClosing = std::move(beforeClosing)] {
                         if (beforeClosing)
                             beforeClosing();
                         for (QWidget *widget : QApplication::topLevelWidgets()) {
                             if (auto *dialog = qobject_cast<QDialog *>(widget); dialog && dialog->isVisible())
                                 dialog->reject();
                         }
                         if (target)
                             target->close();
                     });
}

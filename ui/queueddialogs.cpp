#include "ui/queueddialogs.h"

QString QueuedDialogs::countedText(const QString &text, int count)
{
    return count > 1 ? QStringLiteral("%1 (\u00d7%2)").arg(text).arg(count) : text;
}

template <typename Dialog>
auto QueuedDialogs::open(Dialog dialog)
{
    ++m_openDialogs;
    const auto answer = dialog();
    --m_openDialogs;
    showWaiting();
    return answer;
}

void QueuedDialogs::showWaiting()
{
    // Only the outermost caller shows the queue; further down the stack a dialog is open.
    if (m_openDialogs > 0)
        return;
    ++m_openDialogs;
    while (!m_waiting.isEmpty()) {
        const Waiting next = m_waiting.takeFirst();
        m_dialogs->message(next.icon, next.title, countedText(next.text, next.count));
    }
    --m_openDialogs;
}

void QueuedDialogs::message(Icon icon, const QString &title, const QString &text)
{
    for (Waiting &waiting : m_waiting) {
        if (waiting.text == text && waiting.title == title && waiting.icon == icon) {
            ++waiting.count;
            return;
        }
    }
    m_waiting.append({icon, title, text, 1});
    showWaiting();
}

bool QueuedDialogs::askYesNo(const QString &title, const QString &informativeText)
{
    return open([&] { return m_dialogs->askYesNo(title, informativeText); });
}

QString QueuedDialogs::chooseItem(const QString &title, const QString &label, const QStringList &items)
{
    return open([&] { return m_dialogs->chooseItem(title, label, items); });
}

bool QueuedDialogs::askButtons(const QString &text, const QString &acceptLabel, const QString &rejectLabel)
{
    return open([&] { return m_dialogs->askButtons(text, acceptLabel, rejectLabel); });
}

QString QueuedDialogs::askText(const QString &title, const QString &label, const QString &text)
{
    return open([&] { return m_dialogs->askText(title, label, text); });
}

UserDialogs::Choice QueuedDialogs::askChoice(const QString &informativeText, const QString &yesLabel,
                                             const QString &noLabel, bool noEnabled)
{
    return open([&] { return m_dialogs->askChoice(informativeText, yesLabel, noLabel, noEnabled); });
}

QString QueuedDialogs::saveFileName(const QString &title, const QString &directory, const QString &filter)
{
    return open([&] { return m_dialogs->saveFileName(title, directory, filter); });
}

QString QueuedDialogs::openFileName(const QString &title, const QString &directory, const QString &filter)
{
    return open([&] { return m_dialogs->openFileName(title, directory, filter); });
}

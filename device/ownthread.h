#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <utility>

// Calls made from another thread (the GUI pressing a button) are re-posted into the
// target's own thread, so the target's state is only ever touched by one thread.
// Returns true when the call was posted and the caller must return at once.
template <typename Call>
bool postToOwnThread(QObject *target, Call &&call)
{
    if (QThread::currentThread() == target->thread())
        return false;
    QMetaObject::invokeMethod(target, std::forward<Call>(call), Qt::QueuedConnection);
    return true;
}

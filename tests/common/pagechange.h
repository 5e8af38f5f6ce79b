#pragma once

#include "app/appbase.h"

#include <QSignalSpy>
#include <QString>

// The window's question whether it may show `page` now, asked in the coordinator's thread
// (the test's): "allowed" or "refused", as the one answer says; anything else names what
// came instead.
inline QString pageChangeAnswer(AppBase &app, int page)
{
    QSignalSpy allowed(&app, &AppBase::pageChangeAllowed);
    QSignalSpy refused(&app, &AppBase::pageChangeRefused);
    app.requestPageChange(page);
    if (allowed.size() + refused.size() != 1)
        return QStringLiteral("%1 allowed, %2 refused").arg(allowed.size()).arg(refused.size());
    const QSignalSpy &answer = allowed.isEmpty() ? refused : allowed;
    if (answer.first().first().toInt() != page)
        return QStringLiteral("an answer for page %1").arg(answer.first().first().toInt());
    return allowed.isEmpty() ? QStringLiteral("refused") : QStringLiteral("allowed");
}

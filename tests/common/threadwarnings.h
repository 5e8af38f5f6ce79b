#pragma once

#include <QLatin1String>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects the warnings Qt prints while a test runs across threads: a queued call with a
// type it cannot copy, an object used from a thread it does not live in. install() in
// initTestCase, uninstall() in cleanupTestCase, firstThreadingFault() after the test.
namespace ThreadWarnings {

inline QStringList &collected()
{
    static QStringList warnings;
    return warnings;
}

inline QtMessageHandler &previousHandler()
{
    static QtMessageHandler handler = nullptr;
    return handler;
}

inline void collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg || type == QtCriticalMsg)
        collected() << message;
    previousHandler()(type, context, message);
}

inline void install() { previousHandler() = qInstallMessageHandler(collect); }
inline void uninstall() { qInstallMessageHandler(previousHandler()); }

// The first warning that tells of a threading fault; empty when there is none.
inline QString firstThreadingFault()
{
    for (const QString &warning : qAsConst(collected())) {
        if (warning.contains(QLatin1String("Cannot queue")) || warning.startsWith(QLatin1String("QObject"))
            || warning.contains(QLatin1String("another thread")))
            return warning;
    }
    return QString();
}

} // namespace ThreadWarnings

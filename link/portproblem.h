#pragma once

#include <QCoreApplication>
#include <QString>

// Why a port cannot be opened, in the user's words: the reason reaches the info line, not
// only a debug line.
class PortProblem
{
    Q_DECLARE_TR_FUNCTIONS(PortProblem)

public:
    enum class Reason { NoPermission, Busy, Gone, Other };

    // `detail` (the system's own text) is used only for Reason::Other.
    static QString text(const QString &portName, Reason reason, const QString &detail = QString());
};

#pragma once

#include <QCoreApplication>
#include <QString>

// What the commands check before they read or write a file the user named: an output
// replaces only a regular file (a link to one is followed), never a device node, a FIFO or a
// folder; an input is opened only when it is a regular file, so a FIFO cannot hold the
// program (a missing input is each caller's own matter). Each returns an empty text when
// the file may be used, else why it may not.
class FileChecks
{
    Q_DECLARE_TR_FUNCTIONS(FileChecks)

public:
    static QString outputProblem(const QString &path);
    static QString inputProblem(const QString &path);
};

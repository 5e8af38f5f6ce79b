#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP delivered into the event loop: the handler only writes the
// signal's number into a pipe, and terminationRequested() is emitted from the loop that reads it, so
// that the program stops as it does on any other way out (the motor stopped, the ports
// closed, the files whole).
//
// One instance at a time; the default actions come back when it goes.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

signals:
    // Once per signal received.
    void terminationRequested(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};

#pragma once

#include "app/appbase.h"
#include "link/comhelper.h"

#include <QDir>
#include <QThread>

// The coordinator in its own thread on its real clock, as the window runs it.
struct RunningCoordinator
{
    QThread thread;
    AppBase *app;

    RunningCoordinator(PortProvider *ports, const QString &dataDir)
        : app(new AppBase(ports, DataDirectory::resolve(dataDir, {}, {})))
    {
    }

    void start()
    {
        app->moveToThread(&thread);
        thread.start();
        QMetaObject::invokeMethod(app, &AppBase::startClock, Qt::QueuedConnection);
        QMetaObject::invokeMethod(app->comHelper(), &ComHelper::startPortSelection, Qt::QueuedConnection);
    }

    ~RunningCoordinator()
    {
        app->stopAndMoveTo(QThread::currentThread(), 10000);
        thread.quit();
        thread.wait(10000);
        delete app;
    }

    int logFiles() const { return QDir(app->logDirectory()).entryList({QStringLiteral("*.log")}, QDir::Files).size(); }
};

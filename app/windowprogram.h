#pragma once

#include "app/terminationsignals.h"
#include "ui/userdialogs.h"

#include <QString>

#include <memory>

class DataDirectory;
class MainWindow;
class PortProvider;

// The window program as the user runs it: the main window on the given ports with the
// program's own dialogs, closed by a terminating signal (kill, Ctrl+C in the terminal, a
// logout) as by the user: the program's open dialogs first, then the window, which stops
// the motor.
class WindowProgram
{
public:
    WindowProgram(PortProvider *ports, const DataDirectory &dataDirectory, const QString &title);
    ~WindowProgram();

    MainWindow *window() const { return m_window.get(); }

    // Tells the user why the program cannot start; the window is never shown.
    void refuse(const QString &problem);

    // Shows the window and runs the event loop; the window (and its coordinator) ends
    // before this returns, so before the ports it uses.
    int exec();

private:
    // First: a signal that comes while the window is built, or while a box is shown before
    // it, is heard too.
    TerminationSignals m_terminationSignals;
    WidgetDialogs m_dialogs;
    std::unique_ptr<MainWindow> m_window;
    bool m_terminated = false; // a terminating signal came: the window is never shown again
};

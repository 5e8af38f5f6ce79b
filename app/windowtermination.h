#pragma once

class QWidget;
class TerminationSignals;

// Each terminating signal closes the program's open dialogs, then the window, as the user
// would; the window stops the motor as it closes.
void closeWindowOnTermination(TerminationSignals *signalSource, QWidget *window);

#pragma once

#include <functional>

class QWidget;
class TerminationSignals;

// Each terminating signal closes the program's open dialogs, then the window, as the user
// would; the window stops the motor as it closes. `beforeClosing` runs first: the program
// keeps further dialogs from opening (a closed box would otherwise make room for the next
// message waiting behind it, in an event loop that no longer ends with the program's).
void closeWindowOnTermination(TerminationSignals *signalSource, QWidget *window,
                              std::function<void()> beforeClosing = {});

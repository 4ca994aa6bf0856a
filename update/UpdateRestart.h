#pragma once

#include <QString>

// The window's answer to a completed update: a message, then the program ends and starts its new executable.

/// Title and text of the message box that announces a completed update.
QString updateSuccessTitle();
QString updateSuccessText();

/// Whether a completed update is announced and the program restarted now: not when the program started
/// quietly (first argument exactly "-autorun"); the new executable then takes effect at the next start.
bool restartsAfterUpdate(const char* firstArgument);

/// Asks the application to quit and at once starts the executable at `startPath` again, with an empty
/// command line and a normally shown window: the new copy starts while this one is leaving. 0 when the new
/// process was created, -1 otherwise.
int quitAndRestart(const char* startPath);

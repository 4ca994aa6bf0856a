#pragma once

#include <QString>

/// Title of the usage notes box.
QString UsageNotesTitle();

/// The usage notes: one rich-text paragraph of four numbered notes.
QString UsageNotesText();

/// Whether the program was asked to start quietly: the first argument is exactly "-autorun".
bool IsAutorunArgument(const char* firstArgument);

/// Whether the window shows itself at start: always, unless the program starts quietly and the desktop
/// has a notification area, whose icon then brings the window up. Without one, a hidden window could
/// never be reached.
bool ShowsWindowAtStart(const char* firstArgument, bool trayAvailable);

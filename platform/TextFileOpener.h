#pragma once

#include <QString>

#include <functional>

namespace platform {

/// Opens a text file for the user to read, without waiting: the desktop's opener for it ("notepad.exe"
/// on Windows); nothing when the desktop has none.
void openTextFileForUser(const QString& path);

/// Replaces what openTextFileForUser() does, for programs without a desktop (the command-line converter
/// prints the path) and for tests, which launch nothing. An empty function restores the desktop's opener.
void setTextFileOpener(std::function<void(const QString&)> opener);

} // namespace platform

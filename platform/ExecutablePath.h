#pragma once

#include <QByteArray>

namespace platform {

/// Absolute path of the running program's executable file, as platform::fileNameBytes() writes a path
/// (the system's 8-bit encoding here, UTF-8 on Windows), whatever the command line called it (a bare name
/// looked up in PATH, a symbolic link); empty when it cannot be told.
QByteArray runningExecutablePath();

} // namespace platform

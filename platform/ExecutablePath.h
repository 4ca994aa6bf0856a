#pragma once

#include <QByteArray>

namespace platform {

/// Absolute path of the running program's executable file, in the system's 8-bit encoding, whatever the
/// command line called it (a bare name looked up in PATH, a symbolic link); empty when it cannot be told.
QByteArray runningExecutablePath();

} // namespace platform

#pragma once

namespace platform {

/// Starts the program at `executablePath` and does not wait for it. `commandLine` holds its arguments,
/// separated by blanks (Windows hands the line over as it is); `showState` is how its first window shows
/// on Windows and means nothing here. The program's standard output and standard error go nowhere: nobody
/// reads them, and writing to them never harms it. True when the process was created.
bool startProgram(const char* executablePath, const char* commandLine, int showState);

} // namespace platform

#pragma once

#include <string>
#include <vector>

namespace platform {

/// A running process as the system's process list shows it.
struct ProcessEntry
{
    long id;
    std::string executableName; // bare file name of its executable, without folder
    std::string user;           // the account it runs for (the real user id here); empty when unknown
};

/// Snapshot of the running processes in the system's order; false when the list cannot be taken.
bool listProcesses(std::vector<ProcessEntry>& processes);

/// This process's id, and the account it runs for, as listProcesses() shows them.
long currentProcessId();
std::string currentUser();

/// Ends a process at once, without notice (exit code 0 where the system lets us choose it).
/// Failures are not reported.
void terminateProcess(long id);

/// The program's own executable file name, as it appears in the process list ("Quillmark" here,
/// "Quillmark.exe" on Windows).
const char* programExecutableName();

} // namespace platform

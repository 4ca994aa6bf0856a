#include "app/SingleInstance.h"

#include <cstring>

int CountProcessesByName(const char* name)
{
    std::vector<platform::ProcessEntry> processes;
    if (!name || !platform::listProcesses(processes))
        return 0;
    int count = 0;
    for (const platform::ProcessEntry& process : processes)
        count += process.executableName == name;
    return count;
}

long CopyToTerminate(const std::vector<platform::ProcessEntry>& processes, const char* name, long self,
                     const std::string& user)
{
    if (!name || user.empty())
        return -1;
    int copies = 0;
    long first = -1;
    for (const platform::ProcessEntry& process : processes) {
        if (process.executableName != name || process.user != user)
            continue;
        ++copies;
        if (first < 0 && process.id != self)
            first = process.id;
    }
    return copies > 1 ? first : -1;
}

int TerminateFirstProcessByName(const char* name)
{
    std::vector<platform::ProcessEntry> processes;
    if (!name || !platform::listProcesses(processes))
        return 0;
    const long self = platform::currentProcessId();
    const std::string user = platform::currentUser();
    for (const platform::ProcessEntry& process : processes) {
        if (process.executableName == name && process.user == user && process.id != self) {
            platform::terminateProcess(process.id);
            return 1;
        }
    }
    return 0;
}

bool KeepSingleInstance(RunningCopyAnswer answer, const char* name)
{
    if (answer == RunningCopyAnswer::Busy)
        return false;
    std::vector<platform::ProcessEntry> processes;
    if (!platform::listProcesses(processes))
        return true;
    const long copy = CopyToTerminate(processes, name, platform::currentProcessId(), platform::currentUser());
    if (copy >= 0)
        platform::terminateProcess(copy);
    return true;
}

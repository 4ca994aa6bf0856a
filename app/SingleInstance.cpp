#include "app/SingleInstance.h"

#include "platform/ProcessList.h"

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

int TerminateFirstProcessByName(const char* name)
{
    std::vector<platform::ProcessEntry> processes;
    if (!name || !platform::listProcesses(processes))
        return 0;
    for (const platform::ProcessEntry& process : processes) {
        if (process.executableName == name) {
            platform::terminateProcess(process.id);
            return 1;
        }
    }
    return 0;
}

void KeepSingleInstance()
{
    const char* name = platform::programExecutableName();
    if (CountProcessesByName(name) > 1)
        TerminateFirstProcessByName(name);
}

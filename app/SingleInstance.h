#pragma once

#include "app/RunningCopy.h"
#include "platform/ProcessList.h"

#include <string>
#include <vector>

/// Number of running processes whose executable file name (without folder) equals `name` byte for
/// byte; 0 when `name` is null or the process list cannot be taken.
int CountProcessesByName(const char* name);

/// The process the single-instance rule ends, among `processes` in the order of the system's list: when
/// more than one process of `user` runs under `name` (the starting process `self` counted when its name
/// is `name`), the first of them that is not `self`; -1 for none. Processes of other users take no part,
/// and the starting process is never the one, wherever it stands in the list (once process numbers wrap,
/// a new copy may come first).
long CopyToTerminate(const std::vector<platform::ProcessEntry>& processes, const char* name, long self,
                     const std::string& user);

/// Ends the first running process, in the order of the system's process list, whose executable file
/// name equals `name`, that runs for this process's user and is not this process: 1 when one was found,
/// else 0 (also for a null name or no process list).
int TerminateFirstProcessByName(const char* name);

/// Whether this start goes on, given the running copy's `answer`. A copy that is converting is never
/// ended: this start leaves the window to it and does not go on. Otherwise, when more than one copy runs
/// under the executable name `name` for this user (this one included), exactly one is ended, the first
/// other copy in the process list, and start-up goes on at once.
bool KeepSingleInstance(RunningCopyAnswer answer, const char* name = platform::programExecutableName());

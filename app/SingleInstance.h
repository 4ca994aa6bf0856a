#pragma once

/// Number of running processes whose executable file name (without folder) equals `name` byte for
/// byte; 0 when `name` is null or the process list cannot be taken.
int CountProcessesByName(const char* name);

/// Ends the first running process, in the order of the system's process list, whose executable file
/// name equals `name`: 1 when one was found, else 0 (also for a null name or no process list).
int TerminateFirstProcessByName(const char* name);

/// When more than one copy of the program runs (this one included), ends exactly one: the first in the
/// process list. Start-up goes on at once either way.
void KeepSingleInstance();

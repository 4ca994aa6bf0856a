#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace platform {

// Opening, removing and moving files by a path held in 8-bit text. Such a path is the file system's own
// bytes here and UTF-8 on Windows, where it becomes a UTF-16 name: every name that a folder can hold is
// reachable, also one that the system's 8-bit code page cannot write (a Korean or emoji folder on a
// Chinese system). Qt code turns a QString path into these bytes with platform::fileNameBytes().

/// std::fopen for such a path: the same modes, "x" (fail when the file exists, errno EEXIST) included.
/// Null on failure, with errno set.
std::FILE* openFile(const std::string& path, const char* mode);

/// Removes the file at `path`; false, with errno set, when it could not be removed.
bool removeFile(const std::string& path);

/// Moves the file `from` to `to`, replacing a file that exists there, in one step on the same volume
/// (readers see the old file or the new one, never a part). False, with errno set, when it failed.
bool replaceFile(const std::string& from, const std::string& to);

/// std::fseek to a 64-bit offset: a long, which std::fseek takes, holds only 2 GiB on Windows. False on
/// failure.
bool seekFile(std::FILE* file, long long offset, int origin);

/// Position of the last folder separator in `path` ("/" here; "\" or "/" on Windows); npos when it has none.
std::size_t lastPathSeparator(const std::string& path);

} // namespace platform

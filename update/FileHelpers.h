#pragma once

#include <cstddef>
#include <cstdint>

// File and process helpers of the self-update, on NUL-terminated 8-bit texts in the system's encoding.
// None of them shows or logs anything.

/// Whether `path` names at least one existing file or folder; wildcards (* ?) in its last component
/// match names in that folder. False for an empty path and for a path ending in a separator.
bool fileExists(const char* path);

/// Writes the MD5 digest of the file at `path` into `output` as 32 lowercase hexadecimal digits and a NUL.
/// 0 on success; -1 when the file cannot be read or `outputSize` is below 33, with `output` untouched.
int fileMd5Hex(char* output, std::size_t outputSize, const char* path);

/// Replaces, in place, the last occurrence of `find` in `text` (occurrences counted from the start without
/// overlapping) by `replacement`. True when replaced; false, with `text` unchanged, when `find` is empty or
/// does not occur, or the result would not fit in `textSize` bytes.
bool replaceLast(char* text, std::size_t textSize, const char* find, const char* replacement);

/// Writes `value` in decimal ("-" first when negative) and a NUL; every 32-bit value fits in 12 bytes.
/// Writes an empty text when the digits do not fit in `outputSize` bytes.
void intToDecimal(std::int32_t value, char* output, std::size_t outputSize);

/// Starts the program at `path` with `commandLine` (its arguments, separated by blanks) and `showState`
/// (how its window shows, where the system has such a state) and does not wait for it. Its output is
/// discarded. 0 when the process was created, -1 otherwise.
int runProgram(const char* path, const char* commandLine, int showState);

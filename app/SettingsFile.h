#pragma once

#include <cstddef>

// The settings file: 8-bit key=value lines beside the program, written with CR LF and read with any line
// end (CR LF, LF or CR: a file edited on another system). Keys are ASCII and case-sensitive; values are
// stored unchanged, without quoting. Lines this code does not touch stay byte for byte as they were.

/// Size of the window's copy of the settings file; at most one byte less of the file is read.
constexpr std::size_t kSettingsTextSize = 10240;
/// Size of a buffer for one value: values longer than 1023 bytes are read cut.
constexpr std::size_t kSettingValueSize = 1024;
/// Room for the entry a rewrite adds: key, "=", value, CR LF, and the CR LF that may go in front of it.
constexpr std::size_t kSettingEntryRoom = 2048;
/// A rewrite reads the whole file first; a larger file (never one the program wrote) is left alone.
constexpr long long kSettingsFileMaxBytes = 16LL * 1024 * 1024;

/// Reads at most `size - 1` bytes of the file at `path` into `buffer` and terminates them. 0, or -1 when
/// the file cannot be opened, leaving the buffer as it was.
int ReadSettingsFile(char* buffer, std::size_t size, const char* path);

/// The value of `key` in `text` into `output`: the bytes after the first "key=" (anywhere in the text) up
/// to the next CR or LF, without the blanks around them, cut to `outputSize - 1` bytes. Empty when the key
/// or its line end is missing.
void GetSettingValue(char* output, std::size_t outputSize, const char* text, const char* key);

/// Sets `key` to `value` in the file at `path`: the first entry of the key is replaced up to its line end,
/// which is kept (CR LF through the end of the text when none follows), or the entry is appended with CR
/// LF, after a CR LF when the text does not end with a line end. The new text goes to a temporary file
/// that then takes the old one's place, so an interrupted write leaves the old file whole.
/// 0 when the file was rewritten; -1, with the file untouched, when it cannot be read whole (a missing
/// file is never created; one over kSettingsFileMaxBytes is not read), when the entry does not fit in
/// kSettingEntryRoom bytes, or when the new file cannot be written.
int SetSettingValue(const char* path, const char* key, const char* value);

#pragma once

namespace platform {

/// Whether `path` names at least one existing file or folder. A `*` or `?` in its last component matches
/// names in that folder (any name, so "dir/*.zip" is true while one archive lies there). A path ending in a
/// separator names nothing, and any failure to look, denied access included, counts as absence.
bool anyFileMatches(const char* path);

/// Lets the file at `path` be run as a program by everyone who may read it (nothing to do on Windows).
/// False when its mode cannot be changed.
bool makeExecutable(const char* path);

} // namespace platform

#pragma once

#include "spreadsheet/model/Status.h"
#include "spreadsheet/read/TextDecoding.h"

#include <string>

namespace spreadsheet {

/// Success when `path` names a regular file (or a link to one); otherwise a failure that says what it is
/// instead: missing, a folder, a named pipe (FIFO), a device or a socket. Reading a pipe or a device could
/// block for ever or never end, so they are never opened.
Status checkRegularFile(const std::string& path);

/// Reads a whole file into memory; fails with a message for a missing, unreadable or non-regular file.
Status readWholeFile(const std::string& path, std::string& bytes);

/// Reads a text file into UTF-8, decoding it piece by piece as it is read, so that the file's bytes and
/// its text are never both held whole. A byte-order mark overrides `encoding` and is dropped; invalid
/// sequences become U+FFFD.
Status readTextFile(const std::string& path, TextEncoding encoding, std::string& text);

} // namespace spreadsheet

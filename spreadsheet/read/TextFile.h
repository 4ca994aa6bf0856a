#pragma once

#include "spreadsheet/model/Status.h"
#include "spreadsheet/read/TextDecoding.h"

#include <string>

namespace spreadsheet {

/// Reads a whole file into memory; fails with a message for a missing, unreadable or non-regular file.
Status readWholeFile(const std::string& path, std::string& bytes);

/// Reads a text file into UTF-8, decoding it piece by piece as it is read, so that the file's bytes and
/// its text are never both held whole. A byte-order mark overrides `encoding` and is dropped; invalid
/// sequences become U+FFFD.
Status readTextFile(const std::string& path, TextEncoding encoding, std::string& text);

} // namespace spreadsheet

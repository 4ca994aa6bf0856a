#pragma once

#include <string>

namespace spreadsheet {

/// Sheet name derived from a file's base name: without the characters []:*?/\, control characters and
/// surrounding apostrophes, bytes that are not UTF-8 as U+FFFD, at most 31 characters, "Sheet1" when nothing
/// is left.
std::string sheetNameFor(const std::string& fileBaseName);

} // namespace spreadsheet

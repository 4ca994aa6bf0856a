#pragma once

#include "Status.h"
#include "Workbook.h"

#include <string>

namespace spreadsheet {

/// Writes the workbook as an Office Open XML workbook (.xlsx) with libxlsxwriter in constant-memory
/// mode, streaming row by row. The file appears at `path` only when complete: it is written beside it
/// under a temporary name and then moved into place, so an existing file is never left half written.
Status saveXlsx(const Workbook& workbook, const std::string& path);

/// Text as a cell stores it: NUL-terminated, with NUL written as _x0000_ and a literal _xHHHH_ escaped
/// as _x005F_xHHHH_, the way spreadsheet files carry characters XML cannot (libxlsxwriter escapes the
/// other control characters itself). Returns a pointer into `scratch`.
const char* cellCString(std::string_view text, std::string& scratch);

} // namespace spreadsheet

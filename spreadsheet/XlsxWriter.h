#pragma once

#include "Status.h"
#include "Workbook.h"

#include <string>

namespace spreadsheet {

/// Writes the workbook as an Office Open XML workbook (.xlsx). Rows stream from the cell grid into
/// worksheet XML, which is compressed on all cores while the next rows are formatted; nothing of the
/// sheet is held in memory but the chunks in flight. The file appears at `path` only when complete: it
/// is written beside it under a temporary name and then moved into place, so an existing file is never
/// left half written, and a failed save writes nothing.
Status saveXlsx(const Workbook& workbook, const std::string& path);

} // namespace spreadsheet

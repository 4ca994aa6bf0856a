#pragma once

#include "spreadsheet/model/Status.h"
#include "spreadsheet/model/StopCheck.h"
#include "spreadsheet/model/Workbook.h"

#include <string>

namespace spreadsheet {

/// Writes the workbook as an Office Open XML workbook (.xlsx). Rows stream from the cell grid into
/// worksheet XML, which is compressed on all cores while the next rows are formatted; nothing of the
/// sheet is held in memory but the chunks in flight. The file appears at `path` only when complete: it
/// is written beside it under a temporary name and then moved into place, so an existing file is never
/// left half written, and a failed (or stopped) save writes nothing. `stop` is asked at every flush of
/// the sheet XML.
Status saveXlsx(const Workbook& workbook, const std::string& path, const StopCheck& stop = StopCheck());

} // namespace spreadsheet

#pragma once

#include "spreadsheet/model/Status.h"
#include "spreadsheet/model/StopCheck.h"
#include "spreadsheet/model/Workbook.h"

#include <string>

namespace spreadsheet {

/// Writes the workbook as an Excel 97-2003 workbook (.xls): BIFF8 records in the "Workbook" stream of a
/// compound document file. Rows past 65,536 continue on further sheets; a row wider than 256 columns or
/// a cell longer than 32,767 characters fails the save before anything is written. The records are
/// laid out in a first pass that measures every sheet and collects the shared strings, and written in a
/// second; only the strings' table is held, as views into the cell grids. The file appears at `path`
/// only when complete: it is written beside it under a temporary name and then moved into place, so an
/// existing file is never left half written, and a failed (or stopped) save writes nothing. `stop` is
/// asked once per row block in both passes.
Status saveXls(const Workbook& workbook, const std::string& path, const StopCheck& stop = StopCheck());

} // namespace spreadsheet

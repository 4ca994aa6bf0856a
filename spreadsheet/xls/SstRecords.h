#pragma once

#include "spreadsheet/model/Status.h"
#include "spreadsheet/xls/BiffRecords.h"

namespace spreadsheet {

class SharedStrings;

/// Writes the table as an SST record, continued in CONTINUE records where it passes the record size,
/// then the EXTSST record that indexes it. Fails for a string longer than a cell may hold.
Status writeSharedStrings(const SharedStrings& strings, biff::RecordStream& out);

} // namespace spreadsheet

#pragma once

#include "spreadsheet/model/CellGrid.h"
#include "spreadsheet/model/Status.h"
#include "spreadsheet/model/StopCheck.h"
#include "spreadsheet/model/Workbook.h"

#include <string>
#include <vector>

namespace spreadsheet {

/// How to split decoded (UTF-8) delimited text into rows and fields.
struct DelimitedOptions
{
    std::string delimiters = ",";         // any of these bytes splits fields
    bool quoted = true;                   // double quotes enclose fields (RFC 4180)
    bool consecutiveDelimitersAsOne = false;
    std::size_t startRow = 1;             // 1-based first row taken
    std::vector<ColumnImport> columns;    // per source column (0-based); missing ones are General
    const StopCheck* stop = nullptr;      // asked once per block of records; the parse ends when it says so
    /// Bytes the row and cell tables may take; more throws std::bad_alloc before any is allocated, as an
    /// allocation that failed would. 0: no limit but the machine's.
    unsigned long long tableBytesLimit = 0;
};

/// Length of a first line "sep=X" (X one character, the line end included), which names the delimiter
/// in `delimiter`; 0 when the text does not start with such a line.
std::size_t separatorLineLength(const std::string& text, char& delimiter);

/// The delimiter (tab, semicolon, pipe or comma) whose split of the sample's records, read as the parser
/// reads them (quoted fields may span lines), gives the most records with the usual field count (two or
/// more; records of one field fit every candidate and are not counted) and the fewest quotes out of
/// place; in a tie the earlier in that list; comma when nothing splits.
char detectDelimiter(const std::string& text);

/// Splits `text` into the grid, reusing its buffer: field texts are unquoted and compacted in place.
/// CR LF, LF and CR all end a record. A quote that never closes is taken as a plain character, so the
/// rest of the file still arrives as rows. A final line break does not make an extra row.
/// `columnFormats` receives, per output column, whether it was asked to hold text. A parse that was told
/// to stop returns the rows read so far, which the caller throws away.
CellGrid parseDelimited(std::string&& text, const DelimitedOptions& options,
                        std::vector<ColumnImport>* columnFormats = nullptr);

} // namespace spreadsheet

#pragma once

#include "CellGrid.h"
#include "DelimitedText.h"

#include <string>
#include <vector>

namespace spreadsheet {

/// One sheet: its cells and, per column, whether the column holds text ("@") or general values.
struct Sheet
{
    std::string name;
    CellGrid cells;
    std::vector<ColumnImport> columnFormats; // General or Text, per 0-based column

    bool columnIsText(std::size_t column) const
    {
        return column < columnFormats.size() && columnFormats[column] == ColumnImport::Text;
    }
    void setColumnText(std::size_t column)
    {
        if (column >= columnFormats.size())
            columnFormats.resize(column + 1, ColumnImport::General);
        columnFormats[column] = ColumnImport::Text;
    }
};

/// A workbook held by the embedded spreadsheet application: its sheets, in order.
struct Workbook
{
    std::vector<Sheet> sheets;
    std::size_t activeSheet = 0;
};

/// Sheet name derived from a file's base name: without the characters []:*?/\, control characters and
/// surrounding apostrophes, bytes that are not UTF-8 as U+FFFD, at most 31 characters, "Sheet1" when nothing
/// is left.
std::string sheetNameFor(const std::string& fileBaseName);

} // namespace spreadsheet

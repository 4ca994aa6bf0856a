#pragma once

#include "spreadsheet/model/CellGrid.h"

#include <string>
#include <vector>

namespace spreadsheet {

/// How a column of delimited text is taken in (the text import's field info).
enum class ColumnImport : unsigned char
{
    General, // typed by the value rules
    Text,    // every field kept as text
    Skip,    // not imported; later columns move left
};

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


} // namespace spreadsheet

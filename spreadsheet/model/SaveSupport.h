#pragma once

#include "spreadsheet/model/FileHandle.h"
#include "spreadsheet/model/Status.h"
#include "spreadsheet/model/Workbook.h"

#include <string>
#include <vector>

namespace spreadsheet {

/// Limits of one workbook file format.
struct FormatLimits
{
    std::size_t maxRows;
    std::size_t maxColumns;
    std::size_t maxCellCharacters; // in UTF-16 units
};

constexpr FormatLimits kXlsxLimits{1048576, 16384, 32767};
constexpr FormatLimits kXlsLimits{65536, 256, 32767};

/// Column letters of a 0-based column, as cell names start: 0 -> "A", 26 -> "AA".
std::string columnLetters(std::size_t column);

/// Number of UTF-16 code units of well-formed UTF-8 text; the unit in which cell text limits are stated.
std::size_t utf16Length(const char* first, const char* last);

/// Checks every sheet against the format's column and text limits before anything is written.
Status checkLimits(const Workbook& workbook, const FormatLimits& limits);

/// A run of rows of one sheet that goes into one sheet of the file. Rows beyond the format's limit
/// continue on further sheets named after the first with a number, "Data (2)", so nothing is dropped.
/// A workbook without sheets gives one empty sheet, "Sheet1".
struct SheetPiece
{
    const Sheet* sheet;
    std::size_t firstRow;
    std::size_t rowCount;
    std::string name;
};
std::vector<SheetPiece> splitIntoPieces(const Workbook& workbook, std::size_t maxRows);

/// A temporary file beside a destination, for writing a file that replaces the destination only once
/// it is complete. Removed on destruction unless committed.
class TemporarySibling
{
public:
    explicit TemporarySibling(const std::string& destination);
    ~TemporarySibling();
    TemporarySibling(const TemporarySibling&) = delete;
    TemporarySibling& operator=(const TemporarySibling&) = delete;

    /// Empty when no file could be created beside the destination.
    const std::string& path() const { return path_; }
    /// Moves the temporary file onto the destination.
    Status commit();

    /// Opens the temporary file for writing through a 1 MiB buffer; a failure names the destination's folder.
    Status openForWriting(FileHandle& file) const;

private:
    std::string destination_;
    std::string path_;
    bool committed_ = false;
};

} // namespace spreadsheet

#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace spreadsheet::biff {

// The records of an Excel 97-2003 (BIFF8) workbook stream that the .xls writer uses, one function per
// record. Each appends the whole record, its 4-byte header (type, data size) and its data, little-endian,
// to `out`. Row and column indexes are 0-based.

/// Most bytes of data one record may hold; longer data continues in CONTINUE records.
constexpr std::size_t kMaxRecordData = 8224;

/// Cell formats (XF records) in the order the workbook globals write them: 15 style formats, then the
/// cell formats, which follow CellStyle of SheetXml.h.
constexpr std::uint16_t kFirstCellXf = 15;
/// Formats of our own are numbered from 164, as in the xlsx styles; 49 is the built-in text format "@".
constexpr std::uint16_t kTextFormat = 49;
constexpr std::uint16_t kFirstCustomFormat = 164;

enum class Substream : std::uint16_t
{
    Globals = 0x0005,
    Worksheet = 0x0010,
};

// ---------------------------------------------------------------------------------------------------------
// Workbook globals
// ---------------------------------------------------------------------------------------------------------

void writeBof(std::string& out, Substream type);
void writeEof(std::string& out);
/// Strings are UTF-16 (code page 1200).
void writeCodePage(std::string& out);
void writeWindow1(std::string& out);
/// Dates count days in the 1900 date system.
void writeDateMode(std::string& out);
/// The default font, Arial 10.
void writeFont(std::string& out);
/// A number format of our own: its number and format code (ASCII).
void writeFormat(std::string& out, std::uint16_t number, std::string_view code);
/// A style format (the "Normal" style and the built-in outline styles): default font, general numbers.
void writeStyleXf(std::string& out, bool normal);
/// A cell format with the given number format, derived from the Normal style; `wrap` wraps its text at
/// line breaks.
void writeCellXf(std::string& out, std::uint16_t numberFormat, bool wrap = false);
/// The built-in "Normal" style, on XF 0.
void writeNormalStyle(std::string& out);
/// A worksheet: the stream position of its BOF record and its name (UTF-8, at most 31 UTF-16 units).
void writeBoundSheet(std::string& out, std::uint32_t position, std::string_view name);

// ---------------------------------------------------------------------------------------------------------
// Shared strings
// ---------------------------------------------------------------------------------------------------------

/// A string as BIFF8 stores it: its length in UTF-16 units and whether it needs two bytes a character
/// (otherwise each character is one byte, its code below 256).
struct StringShape
{
    std::size_t units = 0;
    bool wide = false;
};
/// Shape of UTF-8 text; a byte that is not part of a well-formed character counts as U+FFFD.
StringShape shapeOf(std::string_view utf8);
/// Appends the characters of UTF-8 text in the given width, at most `maxUnits` UTF-16 units and never
/// half of a surrogate pair. Returns the units written and sets `next` to the byte offset in `utf8` of
/// the first character not written.
std::size_t writeCharacters(std::string& out, std::string_view utf8, bool wide, std::size_t maxUnits,
                            std::size_t& next);

void writeSstHeader(std::string& out, std::uint16_t dataSize, std::uint32_t references, std::uint32_t unique);
void writeContinueHeader(std::string& out, std::uint16_t dataSize);
/// Where a string of the table begins: its stream position and its offset in its SST or CONTINUE record
/// (header included). One entry for each bucket of `stringsPerBucket` strings.
struct StringPosition
{
    std::uint32_t position;
    std::uint16_t offsetInRecord;
};
void writeExtSst(std::string& out, std::uint16_t stringsPerBucket,
                 const std::vector<StringPosition>& buckets);

// ---------------------------------------------------------------------------------------------------------
// Cells
// ---------------------------------------------------------------------------------------------------------

/// The cells of a sheet: rows [firstRow, endRow), columns [firstColumn, endColumn); all zero when empty.
struct CellExtent
{
    std::uint32_t firstRow = 0, endRow = 0;
    std::uint16_t firstColumn = 0, endColumn = 0;
};

/// Index of the row blocks of a sheet: the stream positions of its DEFCOLWIDTH and DBCELL records.
void writeIndex(std::string& out, const CellExtent& extent, std::uint32_t defColWidthPosition,
                const std::vector<std::uint32_t>& dbCellPositions);
/// Size of the INDEX record of a sheet with this many row blocks.
std::size_t indexSize(std::size_t blocks);
void writeWsBool(std::string& out);
void writeDefColWidth(std::string& out);
/// One column formatted with the cell format `xf`, `width` wide in 1/256 of a character.
void writeColInfo(std::string& out, std::uint16_t column, std::uint16_t xf, std::uint16_t width);
void writeDimensions(std::string& out, const CellExtent& extent);
/// A row holding cells in [firstColumn, endColumn), `height` tall in 1/20 of a point (a height above the
/// default, 12.75 points, is the row's own); kRowRecordSize bytes.
constexpr std::size_t kRowRecordSize = 20;
constexpr std::uint16_t kDefaultRowHeight = 255;
void writeRow(std::string& out, std::uint16_t row, std::uint16_t firstColumn, std::uint16_t endColumn,
              std::uint16_t height = kDefaultRowHeight);
/// A number in RK form (see rkValue).
void writeRk(std::string& out, std::uint16_t row, std::uint16_t column, std::uint16_t xf, std::uint32_t rk);
void writeNumber(std::string& out, std::uint16_t row, std::uint16_t column, std::uint16_t xf, double value);
/// A string cell: the index of its string in the shared string table.
void writeLabelSst(std::string& out, std::uint16_t row, std::uint16_t column, std::uint16_t xf,
                   std::uint32_t index);
/// End of a row block: the distance back to its first ROW record (0 for a block without rows) and, per
/// row, the distance to its first cell (from the end of the first ROW record, then from the previous
/// row's first cell).
void writeDbCell(std::string& out, std::uint32_t backToFirstRow,
                 const std::vector<std::uint16_t>& cellOffsets);
void writeWindow2(std::string& out, bool selected);

/// The 32-bit RK form of a number, when it holds the number exactly: a 30-bit integer or the upper 30
/// bits of the double, either of them possibly multiplied by 100.
bool rkValue(double value, std::uint32_t& rk);

// ---------------------------------------------------------------------------------------------------------
// The stream
// ---------------------------------------------------------------------------------------------------------

/// Where the records of a workbook stream go: records are appended to buffer(), which is handed to the
/// sink in large pieces. Without a sink the bytes are only counted, so that a writer can run once to
/// measure and once to write. position() is the stream position of the next byte either way.
class RecordStream
{
public:
    using Sink = std::function<bool(const char* data, std::size_t size)>;

    explicit RecordStream(Sink sink = {});

    std::string& buffer() { return buffer_; }
    std::uint64_t position() const { return handedOn_ + buffer_.size(); }
    /// Hands the buffer on once it holds a large piece.
    void flushIfFull()
    {
        if (buffer_.size() >= kPieceSize)
            flush();
    }
    /// Hands the buffer on; false once the sink has failed (nothing more is handed to it then).
    bool flush();
    bool ok() const { return !failed_; }

private:
    static constexpr std::size_t kPieceSize = 1 << 20;

    Sink sink_;
    std::string buffer_;
    std::uint64_t handedOn_ = 0;
    bool failed_ = false;
};

} // namespace spreadsheet::biff

#include "spreadsheet/xls/XlsWriter.h"

#include "spreadsheet/model/CellDisplay.h"
#include "spreadsheet/model/CellStyle.h"
#include "spreadsheet/model/SaveSupport.h"
#include "spreadsheet/model/SharedStrings.h"
#include "spreadsheet/model/ValueTyping.h"
#include "spreadsheet/xls/BiffRecords.h"
#include "spreadsheet/xls/CompoundFile.h"
#include "spreadsheet/xls/SstRecords.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <cstdio>
#include <memory>
#include <string_view>

namespace spreadsheet {

namespace {

constexpr std::uint32_t kRowsPerBlock = 32;
// Stream positions in the records have 32 bits, and some readers take them as signed.
constexpr std::uint64_t kMaxStreamSize = 0x7FFFFFFF;
// A shorter stream would go into the compound file's mini stream: Excel pads its own workbook streams to
// this size, and some readers expect it. Readers stop at the last EOF record.
constexpr std::uint64_t kMinStreamSize = 4096;
// Number formats of our own, numbered from biff::kFirstCustomFormat, as in the xlsx styles.
constexpr std::string_view kCustomFormats[] = {"yyyy\\-mm\\-dd", "yyyy\\-mm\\-dd\\ hh:mm",
                                               "yyyy\\-mm\\-dd\\ hh:mm:ss", "0.###############"};
constexpr std::uint16_t kLongDecimalFormat = biff::kFirstCustomFormat + 3;
// The built-in format "0".
constexpr std::uint16_t kWholeNumberFormat = 1;

std::uint16_t xfOf(CellStyle style)
{
    return static_cast<std::uint16_t>(biff::kFirstCellXf + style);
}

// ---------------------------------------------------------------------------------------------------------
// Workbook globals
// ---------------------------------------------------------------------------------------------------------

// The globals up to the shared strings, with the sheets at the given stream positions.
std::string globalsHead(const std::vector<SheetPiece>& pieces, const std::vector<std::uint32_t>& positions)
{
    std::string out;
    biff::writeBof(out, biff::Substream::Globals);
    biff::writeCodePage(out);
    biff::writeWindow1(out);
    biff::writeDateMode(out);
    // Readers expect the four built-in fonts; all four are the default font.
    for (int i = 0; i < 4; ++i)
        biff::writeFont(out);
    for (std::size_t i = 0; i < std::size(kCustomFormats); ++i)
        biff::writeFormat(out, static_cast<std::uint16_t>(biff::kFirstCustomFormat + i), kCustomFormats[i]);
    for (int i = 0; i < biff::kFirstCellXf; ++i)
        biff::writeStyleXf(out, i == 0);
    static_assert(kStyleGeneral == 0 && kStyleText == 1 && kStyleDate == 2 && kStyleDateTimeMinutes == 3 &&
                      kStyleDateTimeSeconds == 4 && kStyleWholeNumber == 5 && kStyleLongDecimal == 6 &&
                      kStyleWrapped == 7 && kStyleTextWrapped == 8 && kCellStyleCount == 9,
                  "the cell formats below follow CellStyle");
    biff::writeCellXf(out, 0);
    biff::writeCellXf(out, biff::kTextFormat);
    for (std::uint16_t i = 0; i < 3; ++i)
        biff::writeCellXf(out, static_cast<std::uint16_t>(biff::kFirstCustomFormat + i));
    biff::writeCellXf(out, kWholeNumberFormat);
    biff::writeCellXf(out, kLongDecimalFormat);
    biff::writeCellXf(out, 0, true);
    biff::writeCellXf(out, biff::kTextFormat, true);
    biff::writeNormalStyle(out);
    for (std::size_t i = 0; i < pieces.size(); ++i)
        biff::writeBoundSheet(out, positions[i], pieces[i].name);
    return out;
}

// ---------------------------------------------------------------------------------------------------------
// Cells
// ---------------------------------------------------------------------------------------------------------

// Where the records of a sheet land: its cell extent, and the positions of its DBCELL records and its
// size, both counted from its BOF record.
struct SheetLayout
{
    biff::CellExtent extent;
    std::vector<std::uint32_t> dbCells;
    std::uint64_t size = 0;

    bool sameRecordsAs(const SheetLayout& other) const
    {
        return dbCells == other.dbCells && size == other.size;
    }
};

// The columns [first, end) from a row's first to its last non-empty cell; first == end for none.
void rowSpan(const CellGrid& cells, std::size_t row, std::uint16_t& first, std::uint16_t& end)
{
    std::size_t begin = 0, last = cells.cellCount(row);
    while (begin < last && cells.cell(row, begin).empty())
        ++begin;
    while (last > begin && cells.cell(row, last - 1).empty())
        --last;
    first = static_cast<std::uint16_t>(begin);
    end = static_cast<std::uint16_t>(last);
}

biff::CellExtent extentOf(const SheetPiece& piece)
{
    biff::CellExtent extent;
    std::uint16_t firstColumn = 0xFFFF, endColumn = 0;
    for (std::uint32_t r = 0; r < piece.rowCount; ++r) {
        std::uint16_t first, end;
        rowSpan(piece.sheet->cells, piece.firstRow + r, first, end);
        if (first == end)
            continue;
        if (extent.endRow == 0)
            extent.firstRow = r;
        extent.endRow = r + 1;
        firstColumn = std::min(firstColumn, first);
        endColumn = std::max(endColumn, end);
    }
    if (extent.endRow != 0) {
        extent.firstColumn = firstColumn;
        extent.endColumn = endColumn;
    }
    return extent;
}

std::size_t blockCount(const biff::CellExtent& extent)
{
    return (extent.endRow - extent.firstRow + kRowsPerBlock - 1) / kRowsPerBlock;
}

// A non-empty cell of a row block, typed, to be written.
struct BlockCell
{
    std::string_view text; // a string cell's text, and its hash
    std::size_t hash;
    double number;
    std::uint16_t column;
    std::uint16_t xf;
    bool isString;
    bool transient; // the text is not a view of the grid: the table keeps a copy
};

// Numbers and dates get a number record; everything else, and everything in a text column, the shared
// string. A text with a line break wraps. ="..." is the text inside, which `scratch` holds when its
// quotes had to be undoubled.
BlockCell typeCell(std::string_view text, std::uint16_t column, bool textColumn, std::string& scratch)
{
    BlockCell cell{text, 0, 0, column, xfOf(textColumn ? kStyleText : kStyleGeneral), false, false};
    const TypedValue value = textColumn ? TypedValue{ValueKind::Text, 0} : typeField(text);
    switch (value.kind) {
    case ValueKind::Number:
        cell.xf = xfOf(numberStyle(text));
        break;
    case ValueKind::Date:
        cell.xf = xfOf(kStyleDate);
        break;
    case ValueKind::DateTimeMinutes:
        cell.xf = xfOf(kStyleDateTimeMinutes);
        break;
    case ValueKind::DateTimeSeconds:
        cell.xf = xfOf(kStyleDateTimeSeconds);
        break;
    default:
        if (value.kind == ValueKind::WrappedText) {
            scratch.clear();
            cell.text = unwrapText(text, scratch);
            cell.transient = !scratch.empty();
        }
        if (std::memchr(cell.text.data(), '\n', cell.text.size()))
            cell.xf = xfOf(textColumn ? kStyleTextWrapped : kStyleWrapped);
        cell.isString = true;
        cell.hash = SharedStrings::hashOf(cell.text);
        return cell;
    }
    cell.number = value.number;
    return cell;
}

void writeCell(std::string& out, std::uint16_t row, const BlockCell& cell, SharedStrings& strings)
{
    std::uint32_t rk;
    if (cell.isString)
        biff::writeLabelSst(out, row, cell.column, cell.xf, strings.add(cell.text, cell.hash, cell.transient));
    else if (biff::rkValue(cell.number, rk))
        biff::writeRk(out, row, cell.column, cell.xf, rk);
    else
        biff::writeNumber(out, row, cell.column, cell.xf, cell.number);
}

// Room for the cells of one row block, kept from block to block.
struct BlockScratch
{
    std::vector<BlockCell> cells;
    std::vector<std::uint16_t> cellOffsets;
    std::deque<std::string> unwrapped; // texts of ="..." cells with doubled quotes, for the block
};

// Writes the rows [firstRow, endRow) of a sheet piece, a row block: the ROW records of the rows with
// data, their cells, and a DBCELL record that says where each row's cells start; returns the DBCELL
// record's position. The cells are typed first, so that the lookups of the block's strings can overlap
// their waits for memory.
std::uint64_t writeRowBlock(const SheetPiece& piece, std::uint32_t firstRow, std::uint32_t endRow,
                            SharedStrings& strings, biff::RecordStream& stream, BlockScratch& scratch)
{
    struct Span
    {
        std::uint16_t row, first, end;
        std::size_t cellsEnd; // in scratch.cells
        std::size_t lines;    // of its tallest text
    };
    Span spans[kRowsPerBlock];
    std::size_t rows = 0;
    scratch.cells.clear();
    scratch.unwrapped.clear();
    for (std::uint32_t r = firstRow; r < endRow; ++r) {
        Span& span = spans[rows];
        span.row = static_cast<std::uint16_t>(r);
        rowSpan(piece.sheet->cells, piece.firstRow + r, span.first, span.end);
        if (span.first == span.end)
            continue;
        span.lines = 1;
        for (std::uint16_t column = span.first; column < span.end; ++column) {
            const std::string_view text = piece.sheet->cells.cell(piece.firstRow + r, column);
            if (text.empty())
                continue;
            std::string scratchText;
            BlockCell cell = typeCell(text, column, piece.sheet->columnIsText(column), scratchText);
            if (cell.transient)
                cell.text = scratch.unwrapped.emplace_back(std::move(scratchText));
            if (cell.xf == xfOf(kStyleWrapped) || cell.xf == xfOf(kStyleTextWrapped))
                span.lines = std::max(span.lines, lineCount(cell.text));
            scratch.cells.push_back(cell);
        }
        span.cellsEnd = scratch.cells.size();
        ++rows;
    }
    for (int step = 0; step < 3; ++step) {
        for (const BlockCell& cell : scratch.cells) {
            if (cell.isString)
                strings.prefetch(cell.hash, step);
        }
    }

    std::string& out = stream.buffer();
    const std::uint64_t rowsAt = stream.position();
    for (std::size_t i = 0; i < rows; ++i)
        biff::writeRow(out, spans[i].row, spans[i].first, spans[i].end,
                       spans[i].lines > 1 ? static_cast<std::uint16_t>(rowHeightForLines(spans[i].lines) * 20)
                                          : biff::kDefaultRowHeight);
    scratch.cellOffsets.clear();
    std::uint64_t previous = rowsAt + biff::kRowRecordSize;
    std::size_t next = 0;
    for (std::size_t i = 0; i < rows; ++i) {
        const std::uint64_t at = stream.position();
        scratch.cellOffsets.push_back(static_cast<std::uint16_t>(at - previous));
        previous = at;
        for (; next < spans[i].cellsEnd; ++next)
            writeCell(out, spans[i].row, scratch.cells[next], strings);
    }
    const std::uint64_t dbCellAt = stream.position();
    biff::writeDbCell(out, rows == 0 ? 0 : static_cast<std::uint32_t>(dbCellAt - rowsAt),
                      scratch.cellOffsets);
    return dbCellAt;
}

// Writes the substream of one sheet piece, with the DBCELL positions that `planned` holds (zeros in the
// measuring pass) in its INDEX record, and returns where its records actually landed. Tells `stop` how
// far it is in the pass `stage`, and ends early, the substream unfinished, when it says so.
SheetLayout writeSheet(const SheetPiece& piece, bool selected, const SheetLayout& planned,
                       SharedStrings& strings, biff::RecordStream& stream, const StopCheck& stop,
                       WorkStage stage)
{
    const Sheet& sheet = *piece.sheet;
    const biff::CellExtent& extent = planned.extent;
    const std::uint64_t start = stream.position();
    std::string& out = stream.buffer();
    SheetLayout written;
    written.extent = extent;

    biff::writeBof(out, biff::Substream::Worksheet);
    std::vector<std::uint32_t> dbCellPositions;
    for (std::uint32_t offset : planned.dbCells)
        dbCellPositions.push_back(static_cast<std::uint32_t>(start + offset));
    std::string wsBool;
    biff::writeWsBool(wsBool);
    const std::uint64_t defColWidthAt =
        stream.position() + biff::indexSize(dbCellPositions.size()) + wsBool.size();
    biff::writeIndex(out, extent, static_cast<std::uint32_t>(defColWidthAt), dbCellPositions);
    out += wsBool;
    biff::writeDefColWidth(out);
    const std::vector<double> widths = fitColumnWidths(piece, kXlsLimits.maxColumns);
    const std::size_t formattedColumns =
        std::min(std::max(sheet.columnFormats.size(), widths.size()), kXlsLimits.maxColumns);
    for (std::size_t column = 0; column < formattedColumns; ++column) {
        const bool text = sheet.columnIsText(column);
        const double width = column < widths.size() ? widths[column] : kDefaultColumnWidth;
        if (text || width != kDefaultColumnWidth)
            biff::writeColInfo(out, static_cast<std::uint16_t>(column), xfOf(text ? kStyleText : kStyleGeneral),
                               static_cast<std::uint16_t>(width * 256));
    }
    biff::writeDimensions(out, extent);

    BlockScratch scratch;
    for (std::uint32_t first = extent.firstRow; first < extent.endRow; first += kRowsPerBlock) {
        stop.progress(stage, piece.firstRow + first, sheet.cells.rowCount());
        if (stop.requested())
            return written;
        const std::uint64_t dbCellAt = writeRowBlock(
            piece, first, std::min(first + kRowsPerBlock, extent.endRow), strings, stream, scratch);
        written.dbCells.push_back(static_cast<std::uint32_t>(dbCellAt - start));
        stream.flushIfFull();
    }
    biff::writeWindow2(out, selected);
    biff::writeEof(out);
    written.size = stream.position() - start;
    return written;
}

} // namespace

Status saveXls(const Workbook& workbook, const std::string& path, const StopCheck& stop)
{
    if (Status limits = checkLimits(workbook, kXlsLimits); !limits.ok())
        return limits;
    const std::vector<SheetPiece> pieces = splitIntoPieces(workbook, kXlsLimits.maxRows);

    // First pass: every sheet is laid out and its strings collected; the bytes are only counted. The
    // shared strings and the sheets' positions in the globals need to be known before any sheet.
    SharedStrings strings;
    std::vector<SheetLayout> layouts;
    biff::RecordStream measure;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        SheetLayout planned;
        planned.extent = extentOf(pieces[i]);
        planned.dbCells.assign(blockCount(planned.extent), 0);
        layouts.push_back(writeSheet(pieces[i], i == 0, planned, strings, measure, stop, WorkStage::Preparing));
    }
    if (stop.requested())
        return stoppedStatus();
    const std::size_t distinctStrings = strings.size();
    biff::RecordStream measureStrings;
    if (Status table = writeSharedStrings(strings, measureStrings); !table.ok())
        return table;

    std::vector<std::uint32_t> positions(pieces.size(), 0);
    std::string eof;
    biff::writeEof(eof);
    std::uint64_t end = globalsHead(pieces, positions).size() + measureStrings.position() + eof.size();
    for (std::size_t i = 0; i < pieces.size() && end <= kMaxStreamSize; ++i) {
        positions[i] = static_cast<std::uint32_t>(end);
        end += layouts[i].size;
    }
    if (end > kMaxStreamSize)
        return Status::failure("the workbook is too large for the Excel 97-2003 file format (2 GiB at most)");

    TemporarySibling temporary(path);
    FileHandle file;
    if (Status opened = temporary.openForWriting(file); !opened.ok())
        return opened;

    // Second pass: the same records, written. Every sheet must land where the first pass measured it.
    const Status written = writeCompoundFile(file.get(), path, "Workbook", [&](const StreamSink& sink) {
        const Status diskFull = Status::failure("cannot write " + path + " (disk full?)");
        const Status changed =
            Status::failure("cannot write " + path +
                            ": the records did not land where they were measured (a fault of the writer)");
        biff::RecordStream stream(sink);
        stream.buffer() = globalsHead(pieces, positions);
        if (Status table = writeSharedStrings(strings, stream); !table.ok())
            return table;
        stream.buffer() += eof;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            if (!stream.ok())
                return diskFull;
            if (stream.position() != positions[i] ||
                !writeSheet(pieces[i], i == 0, layouts[i], strings, stream, stop, WorkStage::Writing)
                     .sameRecordsAs(layouts[i]))
                return stop.requested() ? stoppedStatus() : changed;
        }
        if (stream.position() != end || strings.size() != distinctStrings)
            return changed;
        if (end < kMinStreamSize)
            stream.buffer().append(kMinStreamSize - end, '\0');
        return stream.flush() ? Status::success() : diskFull;
    });
    if (!written.ok())
        return written;
    if (std::fclose(file.release()) != 0)
        return Status::failure("cannot write " + path + " (disk full?)");
    return temporary.commit();
}

} // namespace spreadsheet

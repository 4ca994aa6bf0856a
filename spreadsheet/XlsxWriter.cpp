#include "XlsxWriter.h"

#include "SaveSupport.h"
#include "ValueTyping.h"

#include <cstring>
#include <memory>
#include <xlsxwriter.h>

namespace spreadsheet {

namespace {

// ---------------------------------------------------------------------------------------------------------
// Workbook handle
// ---------------------------------------------------------------------------------------------------------

// libxlsxwriter frees a workbook only through workbook_close(), which also writes it; a workbook that
// failed half way is closed into the temporary file, which is then removed.
struct WorkbookCloser
{
    void operator()(lxw_workbook* workbook) const { workbook_close(workbook); }
};
using WorkbookHandle = std::unique_ptr<lxw_workbook, WorkbookCloser>;

struct CellFormats
{
    lxw_format* text;
    lxw_format* date;
    lxw_format* dateTimeMinutes;
    lxw_format* dateTimeSeconds;
};

CellFormats addFormats(lxw_workbook* workbook)
{
    CellFormats formats{};
    formats.text = workbook_add_format(workbook);
    format_set_num_format(formats.text, "@");
    formats.date = workbook_add_format(workbook);
    format_set_num_format(formats.date, "yyyy-mm-dd");
    formats.dateTimeMinutes = workbook_add_format(workbook);
    format_set_num_format(formats.dateTimeMinutes, "yyyy-mm-dd hh:mm");
    formats.dateTimeSeconds = workbook_add_format(workbook);
    format_set_num_format(formats.dateTimeSeconds, "yyyy-mm-dd hh:mm:ss");
    return formats;
}

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// ---------------------------------------------------------------------------------------------------------
// Rows
// ---------------------------------------------------------------------------------------------------------

lxw_error writeCell(lxw_worksheet* sheet, lxw_row_t row, lxw_col_t column, std::string_view text, bool textColumn,
                    const CellFormats& formats, std::string& scratch)
{
    if (textColumn)
        return worksheet_write_string(sheet, row, column, cellCString(text, scratch), formats.text);
    const TypedValue value = typeField(text);
    switch (value.kind) {
    case ValueKind::Empty:
        return LXW_NO_ERROR;
    case ValueKind::Number:
        return worksheet_write_number(sheet, row, column, value.number, nullptr);
    case ValueKind::Date:
        return worksheet_write_number(sheet, row, column, value.number, formats.date);
    case ValueKind::DateTimeMinutes:
        return worksheet_write_number(sheet, row, column, value.number, formats.dateTimeMinutes);
    case ValueKind::DateTimeSeconds:
        return worksheet_write_number(sheet, row, column, value.number, formats.dateTimeSeconds);
    case ValueKind::Text:
        break;
    }
    return worksheet_write_string(sheet, row, column, cellCString(text, scratch), nullptr);
}

lxw_error writePiece(lxw_worksheet* worksheet, const SheetPiece& piece, const CellFormats& formats)
{
    const Sheet& sheet = *piece.sheet;
    for (std::size_t column = 0; column < sheet.columnFormats.size(); ++column) {
        if (sheet.columnIsText(column)) {
            const lxw_col_t col = static_cast<lxw_col_t>(column);
            if (lxw_error error = worksheet_set_column(worksheet, col, col, LXW_DEF_COL_WIDTH, formats.text))
                return error;
        }
    }
    std::string scratch;
    for (std::size_t r = 0; r < piece.rowCount; ++r) {
        const std::size_t sourceRow = piece.firstRow + r;
        const std::size_t count = sheet.cells.cellCount(sourceRow);
        for (std::size_t column = 0; column < count; ++column) {
            const std::string_view text = sheet.cells.cell(sourceRow, column);
            if (text.empty())
                continue;
            if (lxw_error error = writeCell(worksheet, static_cast<lxw_row_t>(r), static_cast<lxw_col_t>(column),
                                            text, sheet.columnIsText(column), formats, scratch))
                return error;
        }
    }
    return LXW_NO_ERROR;
}

std::uint64_t xmlEstimate(const Workbook& workbook)
{
    std::uint64_t total = 0;
    for (const Sheet& sheet : workbook.sheets)
        total += sheet.cells.storedBytes() + sheet.cells.storedCells() * 32; // text plus a cell's markup
    return total;
}

} // namespace

const char* cellCString(std::string_view text, std::string& scratch)
{
    scratch.assign(text.data(), text.size());
    // Rare slow path: only text holding a NUL or an underscore needs a look byte by byte.
    if (std::memchr(text.data(), '\0', text.size()) || std::memchr(text.data(), '_', text.size())) {
        std::string escaped;
        escaped.reserve(text.size() + 16);
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c == '\0') {
                escaped += "_x0000_";
            } else if (c == '_' && i + 6 < text.size() && text[i + 1] == 'x' && isHex(text[i + 2]) &&
                       isHex(text[i + 3]) && isHex(text[i + 4]) && isHex(text[i + 5]) && text[i + 6] == '_') {
                escaped += "_x005F_";
            } else {
                escaped += c;
            }
        }
        scratch.swap(escaped);
    }
    return scratch.c_str();
}

Status saveXlsx(const Workbook& workbook, const std::string& path)
{
    if (Status limits = checkLimits(workbook, kXlsxLimits); !limits.ok())
        return limits;
    const std::vector<SheetPiece> pieces = splitIntoPieces(workbook, kXlsxLimits.maxRows);

    TemporarySibling temporary(path);
    if (temporary.path().empty())
        return Status::failure("cannot create a file in the folder of " + path);

    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    // ZIP64 only when a sheet's XML may pass 4 GiB: some readers still stumble on it.
    options.use_zip64 = xmlEstimate(workbook) > (std::uint64_t(3) << 30) ? LXW_TRUE : LXW_FALSE;
    WorkbookHandle book(workbook_new_opt(temporary.path().c_str(), &options));
    if (!book)
        return Status::failure("cannot start the workbook " + path);
    const CellFormats formats = addFormats(book.get());

    for (const SheetPiece& piece : pieces) {
        lxw_worksheet* worksheet = workbook_add_worksheet(book.get(), piece.name.c_str());
        if (!worksheet)
            return Status::failure("cannot add the sheet \"" + piece.name + "\"");
        if (lxw_error error = writePiece(worksheet, piece, formats); error != LXW_NO_ERROR)
            return Status::failure("cannot write sheet \"" + piece.name + "\": " + lxw_strerror(error));
    }
    if (workbook.sheets.empty())
        workbook_add_worksheet(book.get(), nullptr);

    const lxw_error closed = workbook_close(book.release());
    if (closed != LXW_NO_ERROR)
        return Status::failure("cannot write " + path + ": " + lxw_strerror(closed));
    return temporary.commit();
}

} // namespace spreadsheet

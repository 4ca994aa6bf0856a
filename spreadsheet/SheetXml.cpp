#include "SheetXml.h"

#include "ParallelDeflate.h"
#include "SaveSupport.h"
#include "ValueTyping.h"

#include <array>
#include <charconv>
#include <cstring>
#include <vector>

namespace spreadsheet {

namespace {

constexpr std::size_t kFlushSize = 1 << 20;

// Bytes that need a look in cell text: markup characters, control characters, the start of a possible
// _xHHHH_ sequence, and the lead byte of U+FFFE / U+FFFF. Everything else is copied in runs.
constexpr std::array<bool, 256> makeSpecialBytes()
{
    std::array<bool, 256> special{};
    for (int c = 0; c < 0x20; ++c)
        special[c] = c != '\t' && c != '\n';
    special['&'] = special['<'] = special['>'] = special['_'] = true;
    special[0xEF] = true;
    return special;
}
constexpr std::array<bool, 256> kSpecial = makeSpecialBytes();

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

void appendEscapedCode(std::string& out, unsigned code)
{
    static const char digits[] = "0123456789ABCDEF";
    out += "_x";
    out += digits[(code >> 12) & 0xF];
    out += digits[(code >> 8) & 0xF];
    out += digits[(code >> 4) & 0xF];
    out += digits[code & 0xF];
    out += '_';
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// A number as the field shows it when that is already plain XML (digits, one inner point, a minus);
// otherwise the shortest text that reads back as the same double.
void appendNumber(std::string& out, std::string_view field, double value)
{
    while (!field.empty() && (field.front() == ' ' || field.front() == '\t'))
        field.remove_prefix(1);
    while (!field.empty() && (field.back() == ' ' || field.back() == '\t'))
        field.remove_suffix(1);
    bool plain = !field.empty() && field.size() <= 24;
    std::size_t i = field.size() > 0 && field[0] == '-' ? 1 : 0;
    bool sawDigit = false, sawPoint = false;
    for (; plain && i < field.size(); ++i) {
        const char c = field[i];
        if (c >= '0' && c <= '9') {
            sawDigit = true;
        } else if (c == '.' && !sawPoint && sawDigit && i + 1 < field.size()) {
            sawPoint = true;
        } else {
            plain = false;
        }
    }
    if (plain && sawDigit) {
        out.append(field.data(), field.size());
        return;
    }
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void appendUnsigned(std::string& out, std::uint64_t value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void appendStyle(std::string& out, int style)
{
    if (style != kStyleGeneral) {
        out += " s=\"";
        out += static_cast<char>('0' + style);
        out += '"';
    }
}

// ---------------------------------------------------------------------------------------------------------
// Elements
// ---------------------------------------------------------------------------------------------------------

void writeWorksheetStart(std::string& out, const SheetPiece& piece, bool selected)
{
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
           "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
           "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">";
    std::size_t columns = 0;
    for (std::size_t r = 0; r < piece.rowCount; ++r)
        columns = std::max(columns, piece.sheet->cells.cellCount(piece.firstRow + r));
    out += "<dimension ref=\"A1";
    if (piece.rowCount > 0 && columns > 0) {
        out += ':';
        out += columnLetters(columns - 1);
        appendUnsigned(out, piece.rowCount);
    }
    out += "\"/><sheetViews><sheetView ";
    if (selected)
        out += "tabSelected=\"1\" ";
    out += "workbookViewId=\"0\"/></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/>";
}

void writeColumns(std::string& out, const Sheet& sheet)
{
    bool any = false;
    // Formats asked for past the last column of the format name no column: they are not written (the
    // save fails anyway if a cell stands there).
    const std::size_t columns = std::min(sheet.columnFormats.size(), kXlsxLimits.maxColumns);
    for (std::size_t column = 0; column < columns; ++column) {
        if (!sheet.columnIsText(column))
            continue;
        if (!any)
            out += "<cols>";
        any = true;
        out += "<col min=\"";
        appendUnsigned(out, column + 1);
        out += "\" max=\"";
        appendUnsigned(out, column + 1);
        out += "\" width=\"9.140625\" style=\"1\"/>";
    }
    if (any)
        out += "</cols>";
}

void writeCell(std::string& out, const std::string& reference, std::string_view text, bool textColumn)
{
    TypedValue value;
    if (!textColumn)
        value = typeField(text);
    else
        value.kind = ValueKind::Text;

    out += "<c r=\"";
    out += reference;
    out += '"';
    switch (value.kind) {
    case ValueKind::Empty:
        break;
    case ValueKind::Number:
        out += "><v>";
        appendNumber(out, text, value.number);
        out += "</v></c>";
        return;
    case ValueKind::Date:
    case ValueKind::DateTimeMinutes:
    case ValueKind::DateTimeSeconds: {
        appendStyle(out, value.kind == ValueKind::Date              ? kStyleDate
                         : value.kind == ValueKind::DateTimeMinutes ? kStyleDateTimeMinutes
                                                                    : kStyleDateTimeSeconds);
        out += "><v>";
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value.number);
        out.append(buffer, result.ptr);
        out += "</v></c>";
        return;
    }
    case ValueKind::Text:
        break;
    }
    if (textColumn)
        appendStyle(out, kStyleText);
    out += " t=\"inlineStr\"><is><t";
    if (isBlank(text.front()) || isBlank(text.back()))
        out += " xml:space=\"preserve\"";
    out += '>';
    appendCellText(out, text);
    out += "</t></is></c>";
}

} // namespace

std::string columnLetters(std::size_t column)
{
    std::string letters;
    for (std::size_t c = column + 1; c > 0; c = (c - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    return letters;
}

void appendCellText(std::string& out, std::string_view text)
{
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const char* run = p;
        while (p < end && !kSpecial[static_cast<unsigned char>(*p)])
            ++p;
        out.append(run, p);
        if (p == end)
            break;
        // The rare slow path: one special byte.
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '&') {
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else if (c == '\r') {
            // A character reference survives every XML reader's line-end normalisation; _x000D_ would
            // reach readers that do not undo that escape as seven characters.
            out += "&#13;";
        } else if (c == '_') {
            if (end - p >= 7 && p[1] == 'x' && isHex(p[2]) && isHex(p[3]) && isHex(p[4]) && isHex(p[5]) &&
                p[6] == '_')
                out += "_x005F";
            out += '_';
        } else if (c == 0xEF) {
            if (end - p >= 3 && static_cast<unsigned char>(p[1]) == 0xBF &&
                (static_cast<unsigned char>(p[2]) == 0xBE || static_cast<unsigned char>(p[2]) == 0xBF)) {
                appendEscapedCode(out, static_cast<unsigned char>(p[2]) == 0xBE ? 0xFFFEu : 0xFFFFu);
                p += 3;
                continue;
            }
            out += static_cast<char>(c);
        } else {
            appendEscapedCode(out, c);
        }
        ++p;
    }
}

void writeSheetXml(const SheetPiece& piece, bool selected, ParallelDeflate& out, const StopCheck& stop)
{
    const Sheet& sheet = *piece.sheet;
    const CellGrid& cells = sheet.cells;
    std::string xml;
    xml.reserve(kFlushSize + (64 << 10));
    writeWorksheetStart(xml, piece, selected);
    writeColumns(xml, sheet);
    xml += "<sheetData>";

    // Column letters are looked up, not computed, for every cell.
    std::vector<std::string> letters;
    std::string reference;
    for (std::size_t r = 0; r < piece.rowCount; ++r) {
        const std::size_t row = piece.firstRow + r;
        const std::size_t count = cells.cellCount(row);
        char rowNumber[24];
        const auto rowEnd = std::to_chars(rowNumber, rowNumber + sizeof rowNumber, r + 1).ptr;
        xml += "<row r=\"";
        xml.append(rowNumber, rowEnd);
        xml += "\">";
        for (std::size_t column = 0; column < count; ++column) {
            const std::string_view text = cells.cell(row, column);
            if (text.empty())
                continue;
            while (letters.size() <= column)
                letters.push_back(columnLetters(letters.size()));
            reference.assign(letters[column]);
            reference.append(rowNumber, rowEnd);
            writeCell(xml, reference, text, sheet.columnIsText(column));
        }
        xml += "</row>";
        if (xml.size() >= kFlushSize) {
            out.write(xml);
            stop.progress(WorkStage::Writing, row + 1, cells.rowCount());
            if (stop.requested())
                return;
        }
    }
    xml += "</sheetData><pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
           "footer=\"0.3\"/></worksheet>";
    out.write(xml);
}

} // namespace spreadsheet

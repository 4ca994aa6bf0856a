#include "spreadsheet/model/CellDisplay.h"

#include "spreadsheet/model/SaveSupport.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace spreadsheet {

namespace {

// The General format shows at most this many characters of a number.
constexpr std::size_t kGeneralNumberCharacters = 11;
// Rows a sheet piece is judged on: the first ones, and as many spread evenly over the rest.
constexpr std::size_t kHeadRows = 2000;
constexpr std::size_t kSpreadRows = 2000;

std::string_view trimBlanks(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// East Asian wide and full-width characters: the ranges in which Chinese, Japanese and Korean text lies.
bool isWide(char32_t c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1FAFF) ||
           (c >= 0x20000 && c <= 0x3FFFD);
}

// Characters a cell of this kind shows.
std::size_t shownCharacters(std::string_view text, bool textColumn)
{
    if (textColumn)
        return textWidth(text);
    const TypedValue value = typeField(text);
    switch (value.kind) {
    case ValueKind::Empty:
        return 0;
    case ValueKind::Number:
        // As written, blanks left out; a long decimal shows 15 places at most.
        return std::min<std::size_t>(trimBlanks(text).size(), 18);
    case ValueKind::Date:
        return 10;
    case ValueKind::DateTimeMinutes:
        return 16;
    case ValueKind::DateTimeSeconds:
        return 19;
    case ValueKind::WrappedText: {
        std::string scratch;
        return textWidth(unwrapText(text, scratch));
    }
    case ValueKind::Text:
        break;
    }
    return textWidth(text);
}

} // namespace

CellStyle numberStyle(std::string_view field)
{
    field = trimBlanks(field);
    if (field.size() <= kGeneralNumberCharacters || field.find_first_of("eE") != std::string_view::npos)
        return kStyleGeneral;
    return field.find('.') == std::string_view::npos ? kStyleWholeNumber : kStyleLongDecimal;
}

std::size_t textWidth(std::string_view text)
{
    std::size_t widest = 0, width = 0;
    auto p = reinterpret_cast<const unsigned char*>(text.data());
    const auto end = p + text.size();
    while (p < end) {
        const unsigned char lead = *p;
        if (lead == '\n') {
            widest = std::max(widest, width);
            width = 0;
            ++p;
            continue;
        }
        if (lead < 0x80) {
            width += lead >= 0x20;
            ++p;
            continue;
        }
        // The text is UTF-8; a byte that does not start a character counts as one narrow character.
        const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (length == 1 || end - p < length) {
            ++width;
            ++p;
            continue;
        }
        char32_t c = lead & (0x7F >> length);
        for (int i = 1; i < length; ++i)
            c = (c << 6) | (p[i] & 0x3F);
        width += isWide(c) ? 2 : 1;
        p += length;
    }
    return std::max(widest, width);
}

std::size_t lineCount(std::string_view text)
{
    return 1 + static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

double rowHeightForLines(std::size_t lines)
{
    return std::min(15.0 * static_cast<double>(lines), 409.0);
}

std::vector<double> fitColumnWidths(const SheetPiece& piece, std::size_t maxColumns)
{
    const Sheet& sheet = *piece.sheet;
    const std::size_t columns = std::min(sheet.cells.columnCount(), maxColumns);
    std::vector<std::size_t> widest(columns, 0);
    auto judge = [&](std::size_t r) {
        const std::size_t row = piece.firstRow + r;
        const std::size_t count = std::min(sheet.cells.cellCount(row), columns);
        for (std::size_t column = 0; column < count; ++column) {
            const std::string_view text = sheet.cells.cell(row, column);
            // A cell can show no more characters than it has bytes: most cells need no closer look.
            if (!text.empty() && text.size() > widest[column])
                widest[column] = std::max(widest[column], shownCharacters(text, sheet.columnIsText(column)));
        }
    };
    const std::size_t head = std::min(piece.rowCount, kHeadRows);
    for (std::size_t r = 0; r < head; ++r)
        judge(r);
    if (piece.rowCount > head) {
        const std::size_t rest = piece.rowCount - head;
        const std::size_t step = std::max<std::size_t>(1, rest / kSpreadRows);
        for (std::size_t r = head; r < piece.rowCount; r += step)
            judge(r);
    }
    std::vector<double> widths(columns, kDefaultColumnWidth);
    for (std::size_t column = 0; column < columns; ++column) {
        if (widest[column] == 0)
            continue;
        // Characters of text average a little wider than the digit the unit is measured in; and a cell
        // keeps a margin on either side.
        const double fitted = static_cast<double>(widest[column]) * 1.1 + 1.0;
        widths[column] = std::clamp(fitted, kDefaultColumnWidth, kMaxColumnWidth);
    }
    return widths;
}

} // namespace spreadsheet

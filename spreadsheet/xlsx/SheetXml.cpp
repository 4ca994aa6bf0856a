#include "spreadsheet/xlsx/SheetXml.h"

#include "spreadsheet/model/CellDisplay.h"
#include "spreadsheet/model/SaveSupport.h"
#include "spreadsheet/model/SharedStrings.h"
#include "spreadsheet/model/ShortBytes.h"
#include "spreadsheet/model/ValueTyping.h"
#include "spreadsheet/xlsx/ParallelDeflate.h"

#include <array>
#include <charconv>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace spreadsheet {

namespace {

constexpr std::size_t kFlushSize = 1 << 20;

// Most bytes a cell's markup takes besides its text: <c r="XFD1048576" s="1" t="inlineStr"><is><t
// xml:space="preserve"> and </t></is></c>, rounded up.
constexpr std::size_t kCellMarkup = 96;

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
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Copies a string literal without its terminating NUL; the caller has made room.
template <std::size_t N>
char* put(char* p, const char (&text)[N])
{
    std::memcpy(p, text, N - 1);
    return p + N - 1;
}

char* put(char* p, std::string_view text)
{
    moveBytes(p, text.data(), text.size());
    return p + text.size();
}

char* putEscapedCode(char* p, unsigned code)
{
    static const char digits[] = "0123456789ABCDEF";
    *p++ = '_';
    *p++ = 'x';
    *p++ = digits[(code >> 12) & 0xF];
    *p++ = digits[(code >> 8) & 0xF];
    *p++ = digits[(code >> 4) & 0xF];
    *p++ = digits[code & 0xF];
    *p++ = '_';
    return p;
}

char* putDouble(char* p, double value)
{
    // The shortest text that reads back as the same double; 24 bytes always hold it.
    return std::to_chars(p, p + 24, value).ptr;
}

// Length of the run of bytes from `p` that cell text copies unchanged.
std::size_t plainRun(const char* p, const char* end)
{
    const char* const start = p;
#if defined(__SSE2__)
    // Sixteen bytes at a time: the text of a cell is mostly plain, and a byte-by-byte table lookup would
    // cost more than the rest of the cell's formatting.
    const __m128i below20 = _mm_set1_epi8(0x1F);
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i lineFeed = _mm_set1_epi8('\n');
    const __m128i amp = _mm_set1_epi8('&');
    const __m128i lt = _mm_set1_epi8('<');
    const __m128i gt = _mm_set1_epi8('>');
    const __m128i underscore = _mm_set1_epi8('_');
    const __m128i ef = _mm_set1_epi8(static_cast<char>(0xEF));
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        // Unsigned v <= 0x1F, but for tab and line feed.
        __m128i special = _mm_cmpeq_epi8(_mm_min_epu8(v, below20), v);
        special = _mm_andnot_si128(_mm_or_si128(_mm_cmpeq_epi8(v, tab), _mm_cmpeq_epi8(v, lineFeed)), special);
        special = _mm_or_si128(special, _mm_or_si128(_mm_cmpeq_epi8(v, amp), _mm_cmpeq_epi8(v, lt)));
        special = _mm_or_si128(special, _mm_or_si128(_mm_cmpeq_epi8(v, gt), _mm_cmpeq_epi8(v, underscore)));
        special = _mm_or_si128(special, _mm_cmpeq_epi8(v, ef));
        const int mask = _mm_movemask_epi8(special);
        if (mask != 0)
            return static_cast<std::size_t>(p - start) + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        p += 16;
    }
#endif
    while (p < end && !kSpecial[static_cast<unsigned char>(*p)])
        ++p;
    return static_cast<std::size_t>(p - start);
}

// True for text at `p` that a reader could take for an escaped character: _x, one to four hex digits
// and _. The format's escape has four digits, but LibreOffice also reads shorter ones (_x12_ as U+0012),
// so those are escaped too; a reader of four-digit escapes reads _x005F_x12_ back as _x12_ just the same.
bool looksLikeEscape(const char* p, const char* end)
{
    if (end - p < 4 || p[1] != 'x')
        return false;
    const char* digit = p + 2;
    while (digit < end && digit - p < 6 && isHex(*digit))
        ++digit;
    return digit > p + 2 && digit < end && *digit == '_';
}

// Writes cell text escaped; the caller has made room for kMaxEscapedBytes bytes per byte of text.
char* putCellText(char* out, std::string_view text)
{
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const std::size_t run = plainRun(p, end);
        moveBytes(out, p, run);
        out += run;
        p += run;
        if (p == end)
            break;
        // The rare slow path: one special byte.
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '&') {
            out = put(out, "&amp;");
        } else if (c == '<') {
            out = put(out, "&lt;");
        } else if (c == '>') {
            out = put(out, "&gt;");
        } else if (c == '\r') {
            // A character reference survives every XML reader's line-end normalisation; _x000D_ would
            // reach readers that do not undo that escape as seven characters.
            out = put(out, "&#13;");
        } else if (c == '_') {
            if (looksLikeEscape(p, end))
                out = put(out, "_x005F");
            *out++ = '_';
        } else if (c == 0xEF) {
            if (end - p >= 3 && static_cast<unsigned char>(p[1]) == 0xBF &&
                (static_cast<unsigned char>(p[2]) == 0xBE || static_cast<unsigned char>(p[2]) == 0xBF)) {
                out = putEscapedCode(out, static_cast<unsigned char>(p[2]) == 0xBE ? 0xFFFEu : 0xFFFFu);
                p += 3;
                continue;
            }
            *out++ = static_cast<char>(c);
        } else {
            out = putEscapedCode(out, c);
        }
        ++p;
    }
    return out;
}

// Writes <t>text</t>, keeping blanks at either end (XML readers drop them otherwise).
char* putTextElement(char* p, std::string_view text)
{
    if (!text.empty() && (isBlank(text.front()) || isBlank(text.back())))
        p = put(p, "<t xml:space=\"preserve\">");
    else
        p = put(p, "<t>");
    p = putCellText(p, text);
    return put(p, "</t>");
}

// True when a field is a number the way XML writes it already (a leading minus, digits, at most one
// point between digits, 24 bytes at most) and the value rules make it a number (at most 15 significant
// digits, no leading zero before another digit). Such a field is copied, not parsed: this is the common
// case, and typeField() gives the same answer for it.
bool isPlainNumber(std::string_view field)
{
    const std::size_t n = field.size();
    if (n == 0 || n > 24)
        return false;
    std::size_t i = field[0] == '-' ? 1 : 0;
    const std::size_t integerStart = i;
    while (i < n && isDigit(field[i]))
        ++i;
    const std::size_t integerDigits = i - integerStart;
    if (integerDigits == 0 || (integerDigits >= 2 && field[integerStart] == '0'))
        return false;
    std::size_t fractionDigits = 0;
    if (i < n) {
        if (field[i] != '.')
            return false;
        const std::size_t fractionStart = ++i;
        while (i < n && isDigit(field[i]))
            ++i;
        fractionDigits = i - fractionStart;
        if (i != n || fractionDigits == 0)
            return false;
    }
    // Significant digits run from the first non-zero digit to the last digit.
    std::size_t zeros = 0;
    for (std::size_t k = integerStart; k < n && (field[k] == '0' || field[k] == '.'); ++k)
        zeros += field[k] == '0';
    return integerDigits + fractionDigits - zeros <= 15;
}

// A number as the field shows it, blanks around it left out, when that is already plain XML; otherwise
// the shortest text that reads back as the same double (1.5E3, +5, 5.).
char* putNumber(char* p, std::string_view field, double value)
{
    while (!field.empty() && (field.front() == ' ' || field.front() == '\t'))
        field.remove_prefix(1);
    while (!field.empty() && (field.back() == ' ' || field.back() == '\t'))
        field.remove_suffix(1);
    return isPlainNumber(field) ? put(p, field) : putDouble(p, value);
}

char* putStyle(char* p, int style)
{
    if (style == kStyleGeneral)
        return p;
    p = put(p, " s=\"");
    *p++ = static_cast<char>('0' + style);
    *p++ = '"';
    return p;
}

// ---------------------------------------------------------------------------------------------------------
// Output buffer
// ---------------------------------------------------------------------------------------------------------

// The sheet XML of one block of rows, written through a pointer: room is made once per cell, not checked
// per byte.
class XmlBuffer
{
public:
    XmlBuffer() : buffer_(ParallelDeflate::takeBuffer()) {}
    ~XmlBuffer() { ParallelDeflate::giveBuffer(std::move(buffer_)); }
    XmlBuffer(const XmlBuffer&) = delete;
    XmlBuffer& operator=(const XmlBuffer&) = delete;

    /// A pointer to the end of the text, with room for `size` more bytes; finish the write with done().
    char* room(std::size_t size)
    {
        if (buffer_.size() - used_ < size)
            buffer_.resize(std::max(used_ + size, 2 * buffer_.size()));
        return buffer_.data() + used_;
    }
    void done(char* end) { used_ = static_cast<std::size_t>(end - buffer_.data()); }
    void append(std::string_view text) { done(put(room(text.size()), text)); }

    std::size_t size() const { return used_; }
    void truncate(std::size_t size) { used_ = size; }

    /// Hands the text to the compressor and starts the next block (in the buffer it may have handed back).
    void handTo(ParallelDeflate& out)
    {
        out.write(buffer_, used_);
        used_ = 0;
    }

private:
    std::string buffer_;
    std::size_t used_ = 0;
};

// ---------------------------------------------------------------------------------------------------------
// Elements
// ---------------------------------------------------------------------------------------------------------

void writeWorksheetStart(XmlBuffer& out, const SheetPiece& piece, bool selected)
{
    out.append("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
               "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
               "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">");
    std::size_t columns = 0;
    for (std::size_t r = 0; r < piece.rowCount; ++r)
        columns = std::max(columns, piece.sheet->cells.cellCount(piece.firstRow + r));
    out.append("<dimension ref=\"A1");
    if (piece.rowCount > 0 && columns > 0) {
        char* p = out.room(32);
        *p++ = ':';
        p = put(p, columnLetters(columns - 1));
        out.done(std::to_chars(p, p + 24, piece.rowCount).ptr);
    }
    out.append("\"/><sheetViews><sheetView ");
    if (selected)
        out.append("tabSelected=\"1\" ");
    out.append("workbookViewId=\"0\"/></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/>");
}

// Each column as wide as its content needs, and the text format of the columns that hold text.
void writeColumns(XmlBuffer& out, const Sheet& sheet, const std::vector<double>& widths)
{
    bool any = false;
    // Formats asked for past the last column of the format name no column: they are not written (the
    // save fails anyway if a cell stands there).
    const std::size_t columns = std::min(std::max(sheet.columnFormats.size(), widths.size()), kXlsxLimits.maxColumns);
    for (std::size_t column = 0; column < columns; ++column) {
        const bool text = sheet.columnIsText(column);
        const double width = column < widths.size() ? widths[column] : kDefaultColumnWidth;
        if (!text && width == kDefaultColumnWidth)
            continue;
        if (!any)
            out.append("<cols>");
        any = true;
        char* p = out.room(128);
        p = put(p, "<col min=\"");
        p = std::to_chars(p, p + 24, column + 1).ptr;
        p = put(p, "\" max=\"");
        p = std::to_chars(p, p + 24, column + 1).ptr;
        p = put(p, "\" width=\"");
        p = std::to_chars(p, p + 24, width, std::chars_format::fixed, 2).ptr;
        p = put(p, "\" customWidth=\"1\"");
        if (text)
            p = put(p, " style=\"1\"");
        p = put(p, "/>");
        out.done(p);
    }
    if (any)
        out.append("</cols>");
}

// The start of a cell element up to its reference's row number, <c r="AB, per column: copied, not
// computed, for every cell.
class CellStarts
{
public:
    explicit CellStarts(std::size_t columns) : starts_(columns)
    {
        for (std::size_t column = 0; column < columns; ++column) {
            Start& start = starts_[column];
            char* end = spreadsheet::put(spreadsheet::put(start.text, "<c r=\""), columnLetters(column));
            start.size = static_cast<unsigned char>(end - start.text);
        }
    }

    /// Writes <c r="B12" for a cell; the row's number is the first `rowDigits` of `digits`.
    char* write(char* p, std::size_t column, const char (&digits)[8], std::size_t rowDigits) const
    {
        // Whole fixed-size copies, then the pointer moves by what they hold.
        const Start& start = starts_[column];
        std::memcpy(p, start.text, sizeof start.text);
        p += start.size;
        std::memcpy(p, digits, sizeof digits);
        p += rowDigits;
        *p++ = '"';
        return p;
    }

private:
    struct Start
    {
        char text[16];
        unsigned char size;
    };
    std::vector<Start> starts_;
};

// Which text cells are written as an index into the workbook's shared-string table rather than inline:
// the table pays where texts repeat (names, places, notes), the index being shorter than the text and
// its markup, and costs a lookup and memory per distinct text where they do not (IDs, running text).
// So each column's text cells go to the table until it has seen enough of them to judge; a column
// whose texts mostly do not repeat then writes the rest inline.
class TextSharing
{
public:
    /// The table takes so many distinct texts at most that its memory (about 40 bytes a text) stays
    /// within a third of the cells' text, `textBytes`.
    TextSharing(SharedStrings& table, std::size_t columns, std::uint64_t textBytes)
        : table_(table), columns_(columns), maxStrings_(kProbeCells + textBytes / 128)
    {
    }

    /// The text's index in the table, or -1 when the cell is to hold it inline.
    std::int64_t indexOf(std::size_t column, std::string_view text, bool transient)
    {
        Column& c = columns_[column];
        if (c.inlineOnly || table_.size() >= maxStrings_)
            return -1;
        const std::size_t before = table_.size();
        const std::uint32_t index = table_.add(text, transient);
        c.repeats += table_.size() == before;
        ++c.cells;
        // A first look drops the columns whose texts hardly ever repeat (IDs, running text); a longer
        // one gives a column of some ten thousand distinct codes the time to show its repeats.
        if ((c.cells == kFirstLook && c.repeats < kFirstLook / 16) ||
            (c.cells == kProbeCells && c.repeats < kProbeCells / 4))
            c.inlineOnly = true;
        return index;
    }

private:
    static constexpr std::uint32_t kFirstLook = 4096;
    static constexpr std::uint32_t kProbeCells = 65536;

    struct Column
    {
        std::uint32_t cells = 0;
        std::uint32_t repeats = 0;
        bool inlineOnly = false;
    };
    SharedStrings& table_;
    std::vector<Column> columns_;
    std::size_t maxStrings_;
};

// Writes one non-empty cell; the caller has made room for kCellMarkup + kMaxEscapedBytes bytes per byte of
// text and has written the cell's start, <c r="B12". `rowHasBreak` says whether some cell of the row holds
// a line break, which makes its text wrap.
char* putCellRest(char* p, std::string_view text, bool textColumn, bool rowHasBreak, TextSharing& sharing,
                  std::size_t column)
{
    if (!textColumn && isPlainNumber(text)) {
        // Most numbers are short: a long one shows every digit only with a format of its own.
        if (text.size() > 11)
            p = putStyle(p, numberStyle(text));
        p = put(p, "><v>");
        p = put(p, text);
        return put(p, "</v></c>");
    }
    TypedValue value;
    if (!textColumn)
        value = typeField(text);
    else
        value.kind = ValueKind::Text;

    std::string unwrapped;
    switch (value.kind) {
    case ValueKind::Number:
        p = putStyle(p, numberStyle(text));
        p = put(p, "><v>");
        p = putNumber(p, text, value.number);
        return put(p, "</v></c>");
    case ValueKind::Date:
    case ValueKind::DateTimeMinutes:
    case ValueKind::DateTimeSeconds:
        p = putStyle(p, value.kind == ValueKind::Date              ? kStyleDate
                        : value.kind == ValueKind::DateTimeMinutes ? kStyleDateTimeMinutes
                                                                   : kStyleDateTimeSeconds);
        p = put(p, "><v>");
        p = putDouble(p, value.number);
        return put(p, "</v></c>");
    case ValueKind::WrappedText:
        // ="00123": the text inside, kept as text (never shorter room than the field had).
        text = unwrapText(text, unwrapped);
        break;
    case ValueKind::Empty:
    case ValueKind::Text:
        break;
    }
    if (rowHasBreak && findByte(text.data(), text.data() + text.size(), '\n'))
        p = putStyle(p, textColumn ? kStyleTextWrapped : kStyleWrapped);
    else if (textColumn)
        p = putStyle(p, kStyleText);
    const std::int64_t index = sharing.indexOf(column, text, !unwrapped.empty());
    if (index >= 0) {
        p = put(p, " t=\"s\"><v>");
        p = std::to_chars(p, p + 24, index).ptr;
        return put(p, "</v></c>");
    }
    p = put(p, " t=\"inlineStr\"><is>");
    p = putTextElement(p, text);
    return put(p, "</is></c>");
}

// The most lines a cell of the row shows; 1 for a row without line breaks, the common case, found with
// one scan of the row's text.
std::size_t rowLines(const CellGrid& cells, std::size_t row, const CellGrid::RowCells* stored)
{
    if (stored) {
        const std::size_t size = stored->count == 0 ? 0 : stored->ends[stored->count - 1];
        if (!findByte(stored->text, stored->text + size, '\n'))
            return 1;
    }
    std::size_t lines = 1;
    const std::size_t count = cells.cellCount(row);
    for (std::size_t column = 0; column < count; ++column)
        lines = std::max(lines, lineCount(cells.cell(row, column)));
    return lines;
}

} // namespace

void appendCellText(std::string& out, std::string_view text)
{
    const std::size_t size = out.size();
    out.resize(size + kMaxEscapedBytes * text.size());
    out.resize(static_cast<std::size_t>(putCellText(out.data() + size, text) - out.data()));
}

void appendTextElement(std::string& out, std::string_view text)
{
    const std::size_t size = out.size();
    out.resize(size + kCellMarkup + kMaxEscapedBytes * text.size());
    out.resize(static_cast<std::size_t>(putTextElement(out.data() + size, text) - out.data()));
}

void writeSheetXml(const SheetPiece& piece, bool selected, SharedStrings& strings, ParallelDeflate& out,
                   const StopCheck& stop)
{
    const Sheet& sheet = *piece.sheet;
    const CellGrid& cells = sheet.cells;
    XmlBuffer xml;
    writeWorksheetStart(xml, piece, selected);
    writeColumns(xml, sheet, fitColumnWidths(piece, kXlsxLimits.maxColumns));
    xml.append("<sheetData>");

    const std::size_t columns = cells.columnCount();
    std::vector<char> textColumns(columns); // looked up per cell: bytes, not bits
    for (std::size_t column = 0; column < columns; ++column)
        textColumns[column] = sheet.columnIsText(column);
    const CellStarts starts(columns);
    const double share = cells.rowCount() == 0 ? 0 : double(piece.rowCount) / double(cells.rowCount());
    TextSharing sharing(strings, columns, static_cast<std::uint64_t>(share * double(cells.storedBytes())));

    for (std::size_t r = 0; r < piece.rowCount; ++r) {
        const std::size_t row = piece.firstRow + r;
        const std::size_t rowStart = xml.size();
        char digits[8] = {}; // a sheet has at most 1,048,576 rows: 7 digits
        const std::size_t rowDigits = static_cast<std::size_t>(std::to_chars(digits, digits + 7, r + 1).ptr - digits);
        CellGrid::RowCells stored;
        const bool inOrder = cells.storedRow(row, stored);
        const std::size_t lines = rowLines(cells, row, inOrder ? &stored : nullptr);
        char* p = xml.room(96);
        p = put(p, "<row r=\"");
        std::memcpy(p, digits, sizeof digits); // the whole array, then the pointer moves by its digits
        p += rowDigits;
        if (lines > 1) {
            // Tall enough for its wrapped lines: readers do not fit a row's height themselves.
            p = put(p, "\" ht=\"");
            p = std::to_chars(p, p + 24, rowHeightForLines(lines)).ptr;
            p = put(p, "\" customHeight=\"1");
        }
        xml.done(put(p, "\">"));

        bool any = false;
        auto writeCell = [&](std::size_t column, std::string_view text) {
            any = true;
            char* c = starts.write(xml.room(kCellMarkup + kMaxEscapedBytes * text.size()), column, digits, rowDigits);
            xml.done(putCellRest(c, text, textColumns[column], lines > 1, sharing, column));
        };
        if (inOrder) {
            std::uint32_t begin = 0;
            for (std::size_t column = 0; column < stored.count; ++column) {
                const std::uint32_t end = stored.ends[column];
                if (end != begin)
                    writeCell(column, std::string_view(stored.text + begin, end - begin));
                begin = end;
            }
        } else {
            const std::size_t count = cells.cellCount(row);
            for (std::size_t column = 0; column < count; ++column) {
                const std::string_view text = cells.cell(row, column);
                if (!text.empty())
                    writeCell(column, text);
            }
        }
        // A row without cells is left out: every row and cell names its place.
        if (any)
            xml.append("</row>");
        else
            xml.truncate(rowStart);
        if (xml.size() >= kFlushSize) {
            xml.handTo(out);
            stop.progress(WorkStage::Writing, row + 1, cells.rowCount());
            if (stop.requested())
                return;
        }
    }
    xml.append("</sheetData><pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
               "footer=\"0.3\"/></worksheet>");
    xml.handTo(out);
}

} // namespace spreadsheet

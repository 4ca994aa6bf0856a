#include "spreadsheet/xls/BiffRecords.h"

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <utility>

namespace spreadsheet::biff {

namespace {

enum RecordType : std::uint16_t
{
    kBof = 0x0809,
    kEof = 0x000A,
    kCodePage = 0x0042,
    kWindow1 = 0x003D,
    kDateMode = 0x0022,
    kFont = 0x0031,
    kFormat = 0x041E,
    kXf = 0x00E0,
    kStyle = 0x0293,
    kBoundSheet = 0x0085,
    kSst = 0x00FC,
    kContinue = 0x003C,
    kExtSst = 0x00FF,
    kIndex = 0x020B,
    kWsBool = 0x0081,
    kDefColWidth = 0x0055,
    kColInfo = 0x007D,
    kDimensions = 0x0200,
    kRow = 0x0208,
    kRk = 0x027E,
    kNumber = 0x0203,
    kLabelSst = 0x00FD,
    kDbCell = 0x00D7,
    kWindow2 = 0x023E,
};

// Little-endian fields into a fixed buffer: the cell records are written millions of times, so each is
// assembled on the stack and appended in one go.
char* put16(char* p, std::uint16_t v)
{
    p[0] = static_cast<char>(v & 0xFF);
    p[1] = static_cast<char>(v >> 8);
    return p + 2;
}

char* put32(char* p, std::uint32_t v)
{
    return put16(put16(p, static_cast<std::uint16_t>(v & 0xFFFF)), static_cast<std::uint16_t>(v >> 16));
}

char* put64(char* p, std::uint64_t v)
{
    return put32(put32(p, static_cast<std::uint32_t>(v & 0xFFFFFFFF)), static_cast<std::uint32_t>(v >> 32));
}

void append16(std::string& out, std::uint16_t v)
{
    char b[2];
    out.append(b, put16(b, v));
}

void append32(std::string& out, std::uint32_t v)
{
    char b[4];
    out.append(b, put32(b, v));
}

void appendHeader(std::string& out, std::uint16_t type, std::size_t dataSize)
{
    append16(out, type);
    append16(out, static_cast<std::uint16_t>(dataSize));
}

// A record of 16-bit fields only.
void appendFields(std::string& out, std::uint16_t type, std::initializer_list<std::uint16_t> fields)
{
    appendHeader(out, type, fields.size() * 2);
    for (std::uint16_t field : fields)
        append16(out, field);
}

// Cell address and format, the start of every cell record.
char* putCell(char* p, std::uint16_t type, std::uint16_t dataSize, std::uint16_t row, std::uint16_t column,
              std::uint16_t xf)
{
    return put16(put16(put16(put16(put16(p, type), dataSize), row), column), xf);
}

// Reads one character of UTF-8 at p and advances p. A byte that does not start a well-formed character
// stands for U+FFFD on its own, so no input can make the reader overrun or loop.
char32_t nextCharacter(const unsigned char*& p, const unsigned char* end)
{
    const unsigned char lead = *p++;
    if (lead < 0x80)
        return lead;
    int length;
    char32_t c;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0xFFFD;
    }
    if (end - p < length - 1 || p[0] < low || p[0] > high)
        return 0xFFFD;
    for (int i = 1; i < length; ++i) {
        if ((p[i - 1] & 0xC0) != 0x80)
            return 0xFFFD;
        c = (c << 6) | (p[i - 1] & 0x3F);
    }
    p += length - 1;
    return c;
}

// A string with a one-byte character count (sheet and font names).
void appendShortString(std::string& out, std::string_view utf8)
{
    const StringShape shape = shapeOf(utf8);
    out += static_cast<char>(shape.units);
    out += static_cast<char>(shape.wide ? 1 : 0);
    std::size_t next;
    writeCharacters(out, utf8, shape.wide, shape.units, next);
}

} // namespace

// ---------------------------------------------------------------------------------------------------------
// Workbook globals
// ---------------------------------------------------------------------------------------------------------

void writeBof(std::string& out, Substream type)
{
    appendHeader(out, kBof, 16);
    append16(out, 0x0600); // BIFF8
    append16(out, static_cast<std::uint16_t>(type));
    append16(out, 0x0DBB); // build
    append16(out, 0x07CC); // build year, 1996
    append32(out, 0);      // file history
    append32(out, 6);      // the lowest BIFF version that reads every record: BIFF8
}

void writeEof(std::string& out)
{
    appendHeader(out, kEof, 0);
}

void writeCodePage(std::string& out)
{
    appendFields(out, kCodePage, {1200});
}

void writeWindow1(std::string& out)
{
    // Position and size in twips; horizontal and vertical scroll bars and sheet tabs shown; the first
    // sheet active and selected; tab bar at 60 % of the width.
    appendFields(out, kWindow1, {0, 0, 0x4000, 0x2000, 0x0038, 0, 0, 1, 600});
}

void writeDateMode(std::string& out)
{
    appendFields(out, kDateMode, {0});
}

void writeFont(std::string& out)
{
    static constexpr std::string_view kName = "Arial";
    appendHeader(out, kFont, 14 + 2 + kName.size());
    append16(out, 200);    // height in twips: 10 points
    append16(out, 0);      // not italic, struck out, outlined or shadowed
    append16(out, 0x7FFF); // automatic colour
    append16(out, 400);    // normal weight
    append16(out, 0);      // no super- or subscript
    append32(out, 0);      // no underline, family, character set; reserved
    appendShortString(out, kName);
}

void writeFormat(std::string& out, std::uint16_t number, std::string_view code)
{
    appendHeader(out, kFormat, 2 + 3 + code.size());
    append16(out, number);
    append16(out, static_cast<std::uint16_t>(code.size()));
    out += '\0'; // one byte a character
    out += code;
}

namespace {

void appendXf(std::string& out, std::uint16_t numberFormat, std::uint16_t protection,
              unsigned char attributes, bool wrap = false)
{
    appendHeader(out, kXf, 20);
    append16(out, 0); // font
    append16(out, numberFormat);
    append16(out, protection);
    out += wrap ? '\x28' : '\x20'; // general horizontal alignment, at the bottom, wrapped or not
    out += '\0';   // no rotation
    out += '\0';   // no indent
    out += static_cast<char>(attributes);
    append32(out, 0);      // no borders
    append32(out, 0);      // no border colours, no diagonal
    append16(out, 0x20C0); // pattern colours: the system's foreground (64) and background (65)
}

} // namespace

void writeStyleXf(std::string& out, bool normal)
{
    // Locked, a style, without a parent (0xFFF). The Normal style defines every attribute; the built-in
    // outline styles leave all but the font to it.
    appendXf(out, 0, 0xFFF5, normal ? 0x00 : 0xF4);
}

void writeCellXf(std::string& out, std::uint16_t numberFormat, bool wrap)
{
    // Locked, derived from XF 0; the number format is its own when it is not General, and so is the
    // alignment when the text wraps.
    appendXf(out, numberFormat, 0x0001,
             static_cast<unsigned char>((numberFormat == 0 ? 0x00 : 0x04) | (wrap ? 0x10 : 0x00)), wrap);
}

void writeNormalStyle(std::string& out)
{
    appendHeader(out, kStyle, 4);
    append16(out, 0x8000); // built-in, on XF 0
    out += '\0';           // Normal
    out += '\xFF';         // no outline level
}

void writeBoundSheet(std::string& out, std::uint32_t position, std::string_view name)
{
    const StringShape shape = shapeOf(name);
    appendHeader(out, kBoundSheet, 4 + 2 + 2 + shape.units * (shape.wide ? 2 : 1));
    append32(out, position);
    out += '\0'; // visible
    out += '\0'; // worksheet
    appendShortString(out, name);
}

// ---------------------------------------------------------------------------------------------------------
// Shared strings
// ---------------------------------------------------------------------------------------------------------

StringShape shapeOf(std::string_view utf8)
{
    StringShape shape;
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* const end = p + utf8.size();
    while (p < end) {
        const char32_t c = nextCharacter(p, end);
        shape.units += c >= 0x10000 ? 2 : 1;
        shape.wide |= c > 0xFF;
    }
    return shape;
}

std::size_t writeCharacters(std::string& out, std::string_view utf8, bool wide, std::size_t maxUnits,
                            std::size_t& next)
{
    const auto* const begin = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* const end = begin + utf8.size();
    const auto* p = begin;
    std::size_t units = 0;
    if (!wide) {
        // Every character is below 256: one byte each.
        while (p < end && units < maxUnits) {
            out += static_cast<char>(nextCharacter(p, end));
            ++units;
        }
    } else {
        while (p < end) {
            const auto* const at = p;
            const char32_t c = nextCharacter(p, end);
            char b[4];
            if (c < 0x10000) {
                if (units + 1 > maxUnits) {
                    p = at;
                    break;
                }
                out.append(b, put16(b, static_cast<std::uint16_t>(c)));
                units += 1;
            } else {
                if (units + 2 > maxUnits) {
                    p = at;
                    break;
                }
                const char32_t v = c - 0x10000;
                out.append(b, put16(put16(b, static_cast<std::uint16_t>(0xD800 + (v >> 10))),
                                    static_cast<std::uint16_t>(0xDC00 + (v & 0x3FF))));
                units += 2;
            }
        }
    }
    next = static_cast<std::size_t>(p - begin);
    return units;
}

void writeSstHeader(std::string& out, std::uint16_t dataSize, std::uint32_t references, std::uint32_t unique)
{
    appendHeader(out, kSst, dataSize);
    append32(out, references);
    append32(out, unique);
}

void writeContinueHeader(std::string& out, std::uint16_t dataSize)
{
    appendHeader(out, kContinue, dataSize);
}

void writeExtSst(std::string& out, std::uint16_t stringsPerBucket, const std::vector<StringPosition>& buckets)
{
    appendHeader(out, kExtSst, 2 + 8 * buckets.size());
    append16(out, stringsPerBucket);
    for (const StringPosition& bucket : buckets) {
        append32(out, bucket.position);
        append16(out, bucket.offsetInRecord);
        append16(out, 0);
    }
}

// ---------------------------------------------------------------------------------------------------------
// Cells
// ---------------------------------------------------------------------------------------------------------

std::size_t indexSize(std::size_t blocks)
{
    return 4 + 16 + 4 * blocks;
}

void writeIndex(std::string& out, const CellExtent& extent, std::uint32_t defColWidthPosition,
                const std::vector<std::uint32_t>& dbCellPositions)
{
    appendHeader(out, kIndex, indexSize(dbCellPositions.size()) - 4);
    append32(out, 0);
    append32(out, extent.firstRow);
    append32(out, extent.endRow);
    append32(out, defColWidthPosition);
    for (std::uint32_t position : dbCellPositions)
        append32(out, position);
}

void writeWsBool(std::string& out)
{
    // Automatic page breaks shown, summary rows below and columns right of details, outline symbols.
    appendFields(out, kWsBool, {0x04C1});
}

void writeDefColWidth(std::string& out)
{
    appendFields(out, kDefColWidth, {8});
}

void writeColInfo(std::string& out, std::uint16_t column, std::uint16_t xf, std::uint16_t width)
{
    // Options 0x0002: the width was set for the column (not the default one).
    appendFields(out, kColInfo, {column, column, width, xf, 0x0002, 0});
}

void writeDimensions(std::string& out, const CellExtent& extent)
{
    appendHeader(out, kDimensions, 14);
    append32(out, extent.firstRow);
    append32(out, extent.endRow);
    append16(out, extent.firstColumn);
    append16(out, extent.endColumn);
    append16(out, 0);
}

void writeRow(std::string& out, std::uint16_t row, std::uint16_t firstColumn, std::uint16_t endColumn,
              std::uint16_t height)
{
    char b[20];
    char* p = put16(put16(b, kRow), 16);
    p = put16(put16(put16(p, row), firstColumn), endColumn);
    const bool custom = height > kDefaultRowHeight;
    p = put16(p, custom ? height : kDefaultRowHeight);
    p = put32(p, 0); // reserved
    // No outline, not hidden, default format (XF 15); 0x40 when the height is the row's own.
    p = put32(p, custom ? 0x000F0140 : 0x000F0100);
    out.append(b, p);
}

void writeRk(std::string& out, std::uint16_t row, std::uint16_t column, std::uint16_t xf, std::uint32_t rk)
{
    char b[14];
    out.append(b, put32(putCell(b, kRk, 10, row, column, xf), rk));
}

void writeNumber(std::string& out, std::uint16_t row, std::uint16_t column, std::uint16_t xf, double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    char b[18];
    out.append(b, put64(putCell(b, kNumber, 14, row, column, xf), bits));
}

void writeLabelSst(std::string& out, std::uint16_t row, std::uint16_t column, std::uint16_t xf,
                   std::uint32_t index)
{
    char b[14];
    out.append(b, put32(putCell(b, kLabelSst, 10, row, column, xf), index));
}

void writeDbCell(std::string& out, std::uint32_t backToFirstRow,
                 const std::vector<std::uint16_t>& cellOffsets)
{
    appendHeader(out, kDbCell, 4 + 2 * cellOffsets.size());
    append32(out, backToFirstRow);
    for (std::uint16_t offset : cellOffsets)
        append16(out, offset);
}

void writeWindow2(std::string& out, bool selected)
{
    // Grid lines, headers, zeros and outline symbols shown, default header colour; the first sheet is
    // selected and shown.
    const std::uint16_t flags = selected ? 0x06B6 : 0x00B6;
    appendFields(out, kWindow2, {flags, 0, 0, 64, 0, 0, 0, 0, 0});
}

bool rkValue(double value, std::uint32_t& rk)
{
    constexpr double kLimit = 536870912.0;                 // 2^29: the RK integer has 30 bits with its sign
    constexpr std::uint64_t kDroppedBits = 0x3FFFFFFFFull; // the low 34 bits of the double, not stored
    const auto integral = [&](double v) {
        return v >= -kLimit && v < kLimit && v == std::floor(v) && !(v == 0 && std::signbit(v));
    };
    const auto upperBits = [](double v, std::uint32_t& upper) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        upper = static_cast<std::uint32_t>(bits >> 32);
        return (bits & kDroppedBits) == 0;
    };

    std::uint32_t upper;
    if (integral(value)) {
        rk = (static_cast<std::uint32_t>(static_cast<std::int32_t>(value)) << 2) | 2;
        return true;
    }
    if (upperBits(value, upper)) {
        rk = upper;
        return true;
    }
    // Readers divide by 100: the form counts only where that gives the value back exactly.
    const double scaled = value * 100;
    if (integral(scaled) && static_cast<double>(static_cast<std::int32_t>(scaled)) / 100 == value) {
        rk = (static_cast<std::uint32_t>(static_cast<std::int32_t>(scaled)) << 2) | 3;
        return true;
    }
    if (upperBits(scaled, upper) && scaled / 100 == value) {
        rk = upper | 1;
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------------------
// The stream
// ---------------------------------------------------------------------------------------------------------

RecordStream::RecordStream(Sink sink) : sink_(std::move(sink))
{
    buffer_.reserve(kPieceSize + (64 << 10));
}

bool RecordStream::flush()
{
    if (sink_ && !failed_ && !buffer_.empty())
        failed_ = !sink_(buffer_.data(), buffer_.size());
    handedOn_ += buffer_.size();
    buffer_.clear();
    return !failed_;
}

} // namespace spreadsheet::biff

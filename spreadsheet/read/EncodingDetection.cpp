#include "spreadsheet/read/EncodingDetection.h"

#include <cstdint>

namespace spreadsheet {

namespace {

constexpr std::size_t kUtf16SampleBytes = 1 << 15;
constexpr std::size_t kEightBitSampleBytes = 4 << 20;

bool isStructural(std::uint32_t c) { return c == '\n' || c == '\r' || c == ',' || c == ';' || c == '\t' || c == '|'; }

// A character that text files hardly ever hold: NUL and the other control characters but tab and line ends,
// private-use characters and the non-characters U+FFFE and U+FFFF.
bool isImplausible(std::uint32_t c)
{
    if (c < 0x20)
        return c != '\t' && c != '\n' && c != '\r';
    return (c >= 0x7F && c <= 0x9F) || (c >= 0xE000 && c <= 0xF8FF) || c == 0xFFFE || c == 0xFFFF;
}

// What the sample looks like read as UTF-16 in one byte order.
struct Utf16Reading
{
    std::size_t characters = 0;
    std::size_t structural = 0; // line ends and delimiters that are whole code units
    std::size_t unpaired = 0;   // surrogates without their other half
    std::size_t implausible = 0;
};

Utf16Reading readAsUtf16(const unsigned char* p, std::size_t size, bool bigEndian)
{
    Utf16Reading reading;
    const std::size_t units = size / 2;
    auto unitAt = [&](std::size_t i) -> std::uint32_t {
        const unsigned char* u = p + 2 * i;
        return bigEndian ? (u[0] << 8 | u[1]) : (u[1] << 8 | u[0]);
    };
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint32_t unit = unitAt(i);
        ++reading.characters;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 < units && unitAt(i + 1) >= 0xDC00 && unitAt(i + 1) <= 0xDFFF)
                ++i; // a pair: emoji, rare Chinese characters
            else if (i + 1 < units)
                ++reading.unpaired; // a high surrogate at the very end may just be cut by the sample
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            ++reading.unpaired;
        } else if (isStructural(unit)) {
            ++reading.structural;
        } else if (isImplausible(unit)) {
            ++reading.implausible;
        }
    }
    return reading;
}

bool plausibleUtf16(const Utf16Reading& reading, std::size_t structuralBytes)
{
    // In text in an 8-bit encoding a delimiter or line end is a byte of its own, which is almost never
    // followed or preceded by a zero byte: read as UTF-16 it disappears into other characters. Read as
    // the UTF-16 it is, nearly every such byte stays what it was.
    // A damaged character or two (an unpaired surrogate) do not make a text something else.
    return reading.structural > 0 && reading.structural * 2 >= structuralBytes &&
           (reading.unpaired + reading.implausible) * 20 <= reading.characters;
}

// How well GB18030 explains the bytes: its broken sequences, and its two-byte characters whose second byte
// is ASCII (rare in real text, but what an 8-bit character followed by a letter reads as).
struct Gb18030Reading
{
    std::size_t broken = 0;
    std::size_t asciiTrail = 0;
};

Gb18030Reading readAsGb18030(const unsigned char* p, const unsigned char* end)
{
    Gb18030Reading reading;
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
        } else if (c == 0x80 || c == 0xFF) {
            ++reading.broken;
            ++p;
        } else if (end - p < 2) {
            break; // cut by the end
        } else if (p[1] >= 0x40 && p[1] <= 0xFE && p[1] != 0x7F) {
            reading.asciiTrail += p[1] < 0x80;
            p += 2;
        } else if (p[1] >= 0x30 && p[1] <= 0x39 && end - p >= 4 && p[2] >= 0x81 && p[2] <= 0xFE && p[3] >= 0x30 &&
                   p[3] <= 0x39) {
            p += 4;
        } else {
            ++reading.broken;
            ++p;
        }
    }
    return reading;
}

} // namespace

std::size_t byteOrderMarkLength(std::string_view bytes, TextEncoding& encoding)
{
    auto data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
        encoding = TextEncoding::Utf8;
        return 3;
    }
    if (size >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF))) {
        encoding = data[0] == 0xFF ? TextEncoding::Utf16LE : TextEncoding::Utf16BE;
        return 2;
    }
    return 0;
}

DetectedEncoding detectEncoding(std::string_view bytes)
{
    auto data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    TextEncoding marked = TextEncoding::Utf8;
    if (const std::size_t mark = byteOrderMarkLength(bytes, marked))
        return {marked, mark};

    // UTF-16 without a mark, judged on the sample in both byte orders.
    const std::size_t sample = (size < kUtf16SampleBytes ? size : kUtf16SampleBytes) & ~std::size_t(1);
    std::size_t structuralBytes = 0, zeroBytes = 0;
    for (std::size_t i = 0; i < sample; ++i) {
        structuralBytes += isStructural(data[i]);
        zeroBytes += data[i] == 0;
    }
    // Without a zero byte no line end or delimiter can be a whole UTF-16 code unit: 8-bit text, as most is.
    if (sample >= 2 && zeroBytes > 0) {
        const Utf16Reading little = readAsUtf16(data, sample, false);
        const Utf16Reading big = readAsUtf16(data, sample, true);
        const bool littleFits = plausibleUtf16(little, structuralBytes);
        const bool bigFits = plausibleUtf16(big, structuralBytes);
        if (littleFits || bigFits) {
            const bool pickBig = bigFits && (!littleFits || big.structural > little.structural);
            return {pickBig ? TextEncoding::Utf16BE : TextEncoding::Utf16LE, 0};
        }
        // Text without a single line end or delimiter (one Chinese field, say): its zero bytes can only
        // be halves of UTF-16 code units when that reading is clean.
        if (structuralBytes == 0 && zeroBytes > 0) {
            auto clean = [](const Utf16Reading& r) { return r.unpaired == 0 && r.implausible == 0; };
            if (clean(little))
                return {TextEncoding::Utf16LE, 0};
            if (clean(big))
                return {TextEncoding::Utf16BE, 0};
        }
    }

    // UTF-8 or GB18030. A file cut in the middle of its last character is still UTF-8.
    const char* first = bytes.data();
    const char* last = first + size;
    const std::size_t tail = truncatedUtf8Tail(first, last);
    if (isValidUtf8(first, last - tail))
        return {TextEncoding::Utf8, 0, tail == 0};
    const bool wholeText = size <= kEightBitSampleBytes;
    const unsigned char* sampleEnd = data + (wholeText ? size : kEightBitSampleBytes);
    const Utf8Census utf8 = countUtf8(first, reinterpret_cast<const char*>(sampleEnd), wholeText);
    const Gb18030Reading gb = readAsGb18030(data, sampleEnd);
    // A few broken sequences among many good characters (a stray byte, a damaged copy) are damage to a UTF-8
    // file; GB18030 has to explain the bytes better to win.
    if (utf8.broken * 8 <= utf8.multiByte || utf8.broken <= gb.broken + gb.asciiTrail)
        return {TextEncoding::Utf8, 0};
    return {TextEncoding::Gb18030, 0};
}

std::size_t decodeDetected(std::string& bytes, const DetectedEncoding& detected)
{
    if (detected.wellFormed) {
        bytes.erase(0, detected.byteOrderMarkLength);
        return 0;
    }
    return decodeToUtf8(bytes, detected.encoding, detected.byteOrderMarkLength);
}

} // namespace spreadsheet

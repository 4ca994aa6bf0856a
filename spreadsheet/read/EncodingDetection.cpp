#include "spreadsheet/read/EncodingDetection.h"

#include "spreadsheet/read/CommonCharacters.h"

#include <algorithm>
#include <cstdint>

namespace spreadsheet {

namespace {

constexpr std::size_t kUtf16SampleBytes = 1 << 15;
constexpr std::size_t kEightBitSampleBytes = 4 << 20;
// Bytes of a text that is not UTF-8 that each legacy encoding is tried on.
constexpr std::size_t kScoredSampleBytes = 256 << 10;

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

// The zero bytes of the sample by their place in a 16-bit unit: the high byte of a little-endian unit is
// at an odd offset, of a big-endian one at an even offset.
struct ZeroBytes
{
    std::size_t even = 0;
    std::size_t odd = 0;
};

bool plausibleUtf16(const Utf16Reading& reading, std::size_t structuralBytes, std::size_t highZeros,
                    std::size_t lowZeros)
{
    // A damaged character or two (an unpaired surrogate) do not make a text something else.
    if (reading.structural == 0 || (reading.unpaired + reading.implausible) * 20 > reading.characters)
        return false;
    // In text in an 8-bit encoding a delimiter or line end is a byte of its own, which is almost never
    // followed or preceded by a zero byte: read as UTF-16 it disappears into other characters. Read as
    // the UTF-16 it is, nearly every such byte stays what it was...
    if (reading.structural * 2 >= structuralBytes)
        return true;
    // ...unless its characters have code units with such a byte (U+4E0A 上 is 0A 4E): then the zero bytes
    // decide. In UTF-16 they are the high bytes of its ASCII characters, all in the one place of a unit
    // and many; in 8-bit text the odd NUL falls anywhere.
    return highZeros >= 4 && highZeros * 32 >= reading.characters && lowZeros * 20 <= highZeros;
}

// UTF-32 in one byte order: every unit a character (at most U+10FFFF, no surrogate), line ends and
// delimiters among them, hardly any implausible one.
bool plausibleUtf32(const unsigned char* p, std::size_t size, bool bigEndian)
{
    std::size_t units = size / 4, structural = 0, implausible = 0;
    for (std::size_t i = 0; i < units; ++i) {
        const unsigned char* u = p + 4 * i;
        const std::uint32_t c = bigEndian ? (std::uint32_t(u[0]) << 24 | u[1] << 16 | u[2] << 8 | u[3])
                                          : (std::uint32_t(u[3]) << 24 | u[2] << 16 | u[1] << 8 | u[0]);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        structural += isStructural(c);
        implausible += isImplausible(c);
    }
    return units > 0 && structural > 0 && implausible * 20 <= units;
}

// How well one encoding explains the sample: the characters it gives that text in its language uses
// most, less a quarter of its broken sequences. Text read in the wrong encoding gives characters from
// all over the code table, and broken sequences, but hardly ever the common ones.
double readingScore(std::string_view sample, TextEncoding encoding)
{
    std::string text;
    std::size_t broken;
    if (encoding == TextEncoding::Utf8) {
        text.assign(sample);
        broken = decodeToUtf8(text, TextEncoding::Utf8);
    } else {
        TextDecoder decoder(encoding);
        // The sample may end inside a character: what is cut off is not counted.
        broken = decoder.decode(sample.data(), sample.data() + sample.size(), false, text);
    }
    std::size_t common = 0;
    auto p = reinterpret_cast<const unsigned char*>(text.data());
    const auto end = p + text.size();
    bool previousAscii = true; // the character before is ASCII (or the text starts)
    while (p < end) {
        const unsigned char lead = *p;
        if (lead < 0x80) {
            previousAscii = true;
            ++p;
            continue;
        }
        const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        char32_t c = lead & (0x7F >> length);
        for (int i = 1; i < length && p + i < end; ++i)
            c = (c << 6) | (p[i] & 0x3F);
        p += length;
        const bool nextAscii = p >= end || *p < 0x80;
        // An accented Latin letter counts where it stands among ASCII letters, as in "José Müller"; text
        // in a multibyte encoding read as Latin gives runs of them.
        const bool latin = c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7 && previousAscii && nextAscii;
        previousAscii = false;
        switch (encoding) {
        case TextEncoding::Utf8:
            common += latin || isCommonHan(c) || isKana(c) || isCommonHangul(c);
            break;
        case TextEncoding::Gb18030:
        case TextEncoding::Big5:
            common += isCommonHan(c);
            break;
        case TextEncoding::ShiftJis:
            common += isCommonHan(c) || isKana(c);
            break;
        case TextEncoding::EucKr:
            common += isCommonHangul(c);
            break;
        default:
            common += latin;
            break;
        }
    }
    return static_cast<double>(common) - static_cast<double>(broken) / 4;
}

// The legacy encoding, or UTF-8 with many broken sequences, that explains the sample best. GB18030 (GBK)
// is the choice unless another explains it better, so a short or unusual Chinese text stays GBK.
TextEncoding bestLegacyReading(std::string_view sample)
{
    TextEncoding best = TextEncoding::Gb18030;
    double bestScore = readingScore(sample, best);
    for (TextEncoding candidate : {TextEncoding::Utf8, TextEncoding::Big5, TextEncoding::ShiftJis,
                                   TextEncoding::EucKr, TextEncoding::Windows1252}) {
        const double score = readingScore(sample, candidate);
        if (score >= 1 && score > bestScore) {
            best = candidate;
            bestScore = score;
        }
    }
    if (best == TextEncoding::Windows1252) {
        // Five bytes that windows-1252 leaves undefined are control characters in ISO-8859-1: a text
        // that holds them keeps them there.
        for (unsigned char c : sample) {
            if (c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D)
                return TextEncoding::Latin1;
        }
    }
    return best;
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
    if (size >= 4 && ((data[0] == 0xFF && data[1] == 0xFE && data[2] == 0 && data[3] == 0) ||
                      (data[0] == 0 && data[1] == 0 && data[2] == 0xFE && data[3] == 0xFF))) {
        encoding = data[0] == 0xFF ? TextEncoding::Utf32LE : TextEncoding::Utf32BE;
        return 4;
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
    ZeroBytes zeros;
    for (std::size_t i = 0; i < sample; ++i) {
        structuralBytes += isStructural(data[i]);
        zeroBytes += data[i] == 0;
        (i % 2 ? zeros.odd : zeros.even) += data[i] == 0;
    }
    // Without a zero byte no line end or delimiter can be a whole UTF-16 code unit: 8-bit text, as most is.
    if (sample >= 4 && zeroBytes >= sample / 4) {
        // Text in UTF-32 is mostly zero bytes.
        const std::size_t sample32 = sample & ~std::size_t(3);
        if (plausibleUtf32(data, sample32, false))
            return {TextEncoding::Utf32LE, 0};
        if (plausibleUtf32(data, sample32, true))
            return {TextEncoding::Utf32BE, 0};
    }
    if (sample >= 2 && zeroBytes > 0) {
        const Utf16Reading little = readAsUtf16(data, sample, false);
        const Utf16Reading big = readAsUtf16(data, sample, true);
        const bool littleFits = plausibleUtf16(little, structuralBytes, zeros.odd, zeros.even);
        const bool bigFits = plausibleUtf16(big, structuralBytes, zeros.even, zeros.odd);
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

    // UTF-8, or one of the legacy encodings. A file cut in the middle of its last character is still UTF-8.
    const char* first = bytes.data();
    const char* last = first + size;
    const std::size_t tail = truncatedUtf8Tail(first, last);
    if (isValidUtf8(first, last - tail))
        return {TextEncoding::Utf8, 0, tail == 0};
    const bool wholeText = size <= kEightBitSampleBytes;
    const unsigned char* sampleEnd = data + (wholeText ? size : kEightBitSampleBytes);
    const Utf8Census utf8 = countUtf8(first, reinterpret_cast<const char*>(sampleEnd), wholeText);
    // A few broken sequences among many good characters (a stray byte, a damaged copy) are damage to a UTF-8
    // file.
    if (utf8.broken * 8 <= utf8.multiByte)
        return {TextEncoding::Utf8, 0};
    return {bestLegacyReading(std::string_view(first, std::min(size, kScoredSampleBytes))), 0};
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

#include "TextDecoding.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <memory>

namespace spreadsheet {

namespace {

constexpr char kReplacementCharacter[] = "\xEF\xBF\xBD"; // U+FFFD in UTF-8

struct IconvCloser
{
    void operator()(void* handle) const { iconv_close(static_cast<iconv_t>(handle)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

// Converts [skip, end) of `bytes` from `fromCode` to UTF-8 with iconv. An invalid or truncated
// sequence is replaced by U+FFFD and skipped by `unitSize` bytes, so one bad byte never loses the rest.
std::size_t convertToUtf8(std::string& bytes, std::size_t skip, const char* fromCode, std::size_t unitSize)
{
    iconv_t raw = iconv_open("UTF-8", fromCode);
    if (raw == reinterpret_cast<iconv_t>(-1)) {
        // Without a converter every byte would be lost; keep them as they are instead.
        bytes.erase(0, skip);
        return 0;
    }
    IconvHandle converter(raw);

    std::size_t inputSize = bytes.size() - skip;
    std::string out;
    out.resize(inputSize + inputSize / 2 + 16); // 2-byte units become at most 3 bytes
    char* in = bytes.data() + skip;
    std::size_t inLeft = inputSize;
    std::size_t produced = 0;
    std::size_t replaced = 0;

    while (inLeft > 0) {
        char* outPtr = out.data() + produced;
        std::size_t outLeft = out.size() - produced;
        std::size_t rc = iconv(raw, &in, &inLeft, &outPtr, &outLeft);
        produced = out.size() - outLeft;
        if (rc != static_cast<std::size_t>(-1))
            break;
        if (errno == E2BIG) {
            out.resize(out.size() + out.size() / 2 + 64);
            continue;
        }
        // EILSEQ or EINVAL: replace one unit and go on.
        if (out.size() - produced < 3)
            out.resize(out.size() + 64);
        std::memcpy(out.data() + produced, kReplacementCharacter, 3);
        produced += 3;
        ++replaced;
        std::size_t step = inLeft < unitSize ? inLeft : unitSize;
        in += step;
        inLeft -= step;
        iconv(raw, nullptr, nullptr, nullptr, nullptr); // reset the shift state
    }
    out.resize(produced);
    bytes.swap(out);
    return replaced;
}

// Length of the ill-formed sequence at p: the start of a character that is cut short or broken off counts
// as one sequence up to where it goes wrong (a "maximal subpart"), any other byte as one of its own.
std::size_t invalidSequenceLength(const unsigned char* p, const unsigned char* end)
{
    std::size_t continuation;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the next byte
    if (*p >= 0xC2 && *p <= 0xDF) {
        continuation = 1;
    } else if (*p >= 0xE0 && *p <= 0xEF) {
        continuation = 2;
        low = *p == 0xE0 ? 0xA0 : 0x80; // no overlong forms
        high = *p == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (*p >= 0xF0 && *p <= 0xF4) {
        continuation = 3;
        low = *p == 0xF0 ? 0x90 : 0x80;
        high = *p == 0xF4 ? 0x8F : 0xBF; // nothing past U+10FFFF
    } else {
        return 1;
    }
    std::size_t length = 1;
    while (length <= continuation && p + length < end && p[length] >= low && p[length] <= high) {
        ++length;
        low = 0x80;
        high = 0xBF;
    }
    return length;
}

// Replaces each ill-formed sequence of UTF-8 text with U+FFFD. Only reached for text that a caller
// declared UTF-8 (a code page or a byte-order mark) but that is not.
std::size_t repairUtf8(std::string& bytes, std::size_t skip)
{
    std::string out;
    out.reserve(bytes.size() - skip + 16);
    std::size_t replaced = 0;
    const char* p = bytes.data() + skip;
    const char* end = bytes.data() + bytes.size();
    while (p < end) {
        // Take the longest valid run in one piece.
        const char* runEnd = p;
        while (runEnd < end) {
            unsigned char c = static_cast<unsigned char>(*runEnd);
            std::size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
            if (static_cast<std::size_t>(end - runEnd) < len || !isValidUtf8(runEnd, runEnd + len))
                break;
            runEnd += len;
        }
        out.append(p, runEnd);
        p = runEnd;
        if (p < end) {
            out.append(kReplacementCharacter);
            ++replaced;
            p += invalidSequenceLength(reinterpret_cast<const unsigned char*>(p),
                                       reinterpret_cast<const unsigned char*>(end));
        }
    }
    bytes.swap(out);
    return replaced;
}

} // namespace

bool isValidUtf8(const char* first, const char* last)
{
    auto p = reinterpret_cast<const unsigned char*>(first);
    auto end = reinterpret_cast<const unsigned char*>(last);
    while (p < end) {
        // Most text is ASCII: test eight bytes at once before looking at single ones.
        while (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080ULL)
                break;
            p += 8;
        }
        if (p >= end)
            break;
        unsigned c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        std::ptrdiff_t continuation;
        std::uint32_t codePoint;
        if (c >= 0xC2 && c <= 0xDF) {
            continuation = 1;
            codePoint = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            continuation = 2;
            codePoint = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            continuation = 3;
            codePoint = c & 0x07;
        } else {
            return false;
        }
        if (end - p <= continuation)
            return false;
        for (std::ptrdiff_t i = 1; i <= continuation; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            codePoint = (codePoint << 6) | (p[i] & 0x3F);
        }
        if (continuation == 2 && (codePoint < 0x800 || (codePoint >= 0xD800 && codePoint <= 0xDFFF)))
            return false;
        if (continuation == 3 && (codePoint < 0x10000 || codePoint > 0x10FFFF))
            return false;
        p += continuation + 1;
    }
    return true;
}

DetectedEncoding detectEncoding(const std::string& bytes)
{
    auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const std::size_t size = bytes.size();
    if (size >= 3 && byteAt(0) == 0xEF && byteAt(1) == 0xBB && byteAt(2) == 0xBF)
        return {TextEncoding::Utf8, 3};
    if (size >= 2 && byteAt(0) == 0xFF && byteAt(1) == 0xFE)
        return {TextEncoding::Utf16LE, 2};
    if (size >= 2 && byteAt(0) == 0xFE && byteAt(1) == 0xFF)
        return {TextEncoding::Utf16BE, 2};

    // UTF-16 without a mark: CSV text is rich in ASCII (digits, delimiters, line breaks), whose
    // UTF-16 form has a NUL in every other byte, always on the same side.
    const std::size_t sample = (size < 4096 ? size : 4096) & ~std::size_t(1);
    if (sample >= 4) {
        std::size_t evenZeros = 0, oddZeros = 0;
        for (std::size_t i = 0; i < sample; i += 2) {
            evenZeros += byteAt(i) == 0;
            oddZeros += byteAt(i + 1) == 0;
        }
        const std::size_t pairs = sample / 2;
        // A character with a zero byte of its own (U+4E00, U+0100) puts a NUL on the other side now and
        // then: the side with the NULs has to dominate, not to be the only one.
        if (oddZeros * 4 >= pairs && evenZeros * 8 <= oddZeros)
            return {TextEncoding::Utf16LE, 0};
        if (evenZeros * 4 >= pairs && oddZeros * 8 <= evenZeros)
            return {TextEncoding::Utf16BE, 0};
    }

    if (isValidUtf8(bytes.data(), bytes.data() + size))
        return {TextEncoding::Utf8, 0};
    return {TextEncoding::Gb18030, 0};
}

bool encodingForCodePage(int codePage, TextEncoding& encoding)
{
    switch (codePage) {
    case 936:
    case 54936:
        encoding = TextEncoding::Gb18030;
        return true;
    case 65001:
        encoding = TextEncoding::Utf8;
        return true;
    case 1200:
        encoding = TextEncoding::Utf16LE;
        return true;
    case 1201:
        encoding = TextEncoding::Utf16BE;
        return true;
    default:
        return false;
    }
}

std::size_t decodeToUtf8(std::string& bytes, TextEncoding encoding, std::size_t skip)
{
    if (skip > bytes.size())
        skip = bytes.size();
    switch (encoding) {
    case TextEncoding::Utf8:
        if (isValidUtf8(bytes.data() + skip, bytes.data() + bytes.size())) {
            bytes.erase(0, skip);
            return 0;
        }
        return repairUtf8(bytes, skip);
    case TextEncoding::Utf16LE:
        return convertToUtf8(bytes, skip, "UTF-16LE", 2);
    case TextEncoding::Utf16BE:
        return convertToUtf8(bytes, skip, "UTF-16BE", 2);
    case TextEncoding::Gb18030:
        return convertToUtf8(bytes, skip, "GB18030", 1);
    }
    return 0;
}

std::size_t utf16Length(const char* first, const char* last)
{
    std::size_t units = 0;
    for (const char* p = first; p < last; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if ((c & 0xC0) != 0x80)
            units += c >= 0xF0 ? 2 : 1; // four-byte sequences need a surrogate pair
    }
    return units;
}

} // namespace spreadsheet

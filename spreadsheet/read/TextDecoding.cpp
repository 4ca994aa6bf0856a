#include "spreadsheet/read/TextDecoding.h"

#include "platform/CharsetConversion.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace spreadsheet {

namespace {

constexpr char kReplacementCharacter[] = "\xEF\xBF\xBD"; // U+FFFD in UTF-8

// One step through UTF-8 text at p: a whole character (complete), or the bytes that belong to a broken one.
// A character cut short or broken off counts as one sequence up to where it goes wrong (a "maximal
// subpart"), any other invalid byte as one of its own.
struct Utf8Step
{
    std::size_t length;
    bool complete;
    bool lead; // p starts a multi-byte character, whole or not
};

Utf8Step utf8Step(const unsigned char* p, const unsigned char* end)
{
    if (*p < 0x80)
        return {1, true, false};
    std::size_t continuation;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the next byte
    if (*p >= 0xC2 && *p <= 0xDF) {
        continuation = 1;
    } else if (*p >= 0xE0 && *p <= 0xEF) {
        continuation = 2;
        low = *p == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        high = *p == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (*p >= 0xF0 && *p <= 0xF4) {
        continuation = 3;
        low = *p == 0xF0 ? 0x90 : 0x80;
        high = *p == 0xF4 ? 0x8F : 0xBF; // nothing past U+10FFFF
    } else {
        return {1, false, false};
    }
    std::size_t length = 1;
    while (length <= continuation && p + length < end && p[length] >= low && p[length] <= high) {
        ++length;
        low = 0x80;
        high = 0xBF;
    }
    return {length, length == continuation + 1, true};
}

// Longest run of whole characters from p, as a pointer to its end; ASCII is taken eight bytes at a time.
const unsigned char* validUtf8Run(const unsigned char* p, const unsigned char* end)
{
    while (p < end) {
        while (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080ULL)
                break;
            p += 8;
        }
        if (p >= end)
            break;
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        // Two- and three-byte characters (Latin letters, Chinese) are checked in line; the leads with narrower
        // ranges (E0, ED, F0 to F4) and broken sequences take the general step.
        if (c >= 0xC2 && c <= 0xDF) {
            if (end - p >= 2 && (p[1] & 0xC0) == 0x80) {
                p += 2;
                continue;
            }
        } else if (c >= 0xE1 && c != 0xED && c <= 0xEF) {
            if (end - p >= 3 && (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80) {
                p += 3;
                continue;
            }
        }
        const Utf8Step step = utf8Step(p, end);
        if (!step.complete)
            break;
        p += step.length;
    }
    return p;
}

// Writes a code point (at most U+10FFFF, not a surrogate) as UTF-8; returns the bytes written.
std::size_t encodeUtf8(std::uint32_t code, char* out)
{
    if (code < 0x80) {
        out[0] = static_cast<char>(code);
        return 1;
    }
    if (code < 0x800) {
        out[0] = static_cast<char>(0xC0 | code >> 6);
        out[1] = static_cast<char>(0x80 | (code & 0x3F));
        return 2;
    }
    if (code < 0x10000) {
        out[0] = static_cast<char>(0xE0 | code >> 12);
        out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (code & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | code >> 18);
    out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (code & 0x3F));
    return 4;
}

} // namespace

bool isValidUtf8(const char* first, const char* last)
{
    auto end = reinterpret_cast<const unsigned char*>(last);
    return validUtf8Run(reinterpret_cast<const unsigned char*>(first), end) == end;
}

std::size_t truncatedUtf8Tail(const char* first, const char* last)
{
    // A character is at most four bytes long, so its start is among the last three.
    auto begin = reinterpret_cast<const unsigned char*>(first);
    auto end = reinterpret_cast<const unsigned char*>(last);
    for (std::size_t back = 1; back <= 3 && end - begin >= static_cast<std::ptrdiff_t>(back); ++back) {
        const unsigned char* p = end - back;
        if ((*p & 0xC0) == 0x80)
            continue; // a continuation byte: the start lies further back
        const Utf8Step step = utf8Step(p, end);
        return step.lead && !step.complete && p + step.length == end ? back : 0;
    }
    return 0;
}

Utf8Census countUtf8(const char* first, const char* last, bool lastEndsText)
{
    Utf8Census census;
    auto p = reinterpret_cast<const unsigned char*>(first);
    auto end = reinterpret_cast<const unsigned char*>(last);
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        const Utf8Step step = utf8Step(p, end);
        if (step.complete)
            ++census.multiByte;
        else if (lastEndsText || !step.lead || p + step.length < end)
            ++census.broken;
        p += step.length;
    }
    return census;
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
    case 12000:
        encoding = TextEncoding::Utf32LE;
        return true;
    case 12001:
        encoding = TextEncoding::Utf32BE;
        return true;
    case 950:
        encoding = TextEncoding::Big5;
        return true;
    case 932:
        encoding = TextEncoding::ShiftJis;
        return true;
    case 949:
    case 51949:
        encoding = TextEncoding::EucKr;
        return true;
    case 1252:
        encoding = TextEncoding::Windows1252;
        return true;
    case 28591:
        encoding = TextEncoding::Latin1;
        return true;
    default:
        return false;
    }
}

struct TextDecoder::Converter
{
    explicit Converter(const char* encoding) : charset(encoding) {}
    platform::CharsetConversion charset;
};

const char* charsetName(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Utf8:
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE:
    case TextEncoding::Utf32LE:
    case TextEncoding::Utf32BE:
        break;
    case TextEncoding::Gb18030:
        return "GB18030";
    case TextEncoding::Big5:
        return "Big5";
    case TextEncoding::ShiftJis:
        return "Shift_JIS";
    case TextEncoding::EucKr:
        return "EUC-KR";
    case TextEncoding::Windows1252:
        return "windows-1252";
    case TextEncoding::Latin1:
        return "ISO-8859-1";
    }
    return nullptr;
}

TextDecoder::TextDecoder(TextEncoding encoding) : encoding_(encoding)
{
    if (const char* name = charsetName(encoding))
        converter_ = std::make_unique<Converter>(name);
}

TextDecoder::~TextDecoder() = default;

std::size_t TextDecoder::decode(const char* first, const char* last, bool final, std::string& out)
{
    switch (encoding_) {
    case TextEncoding::Utf8:
        return decodeUtf8(first, last, final, out);
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE:
    case TextEncoding::Utf32LE:
    case TextEncoding::Utf32BE:
        return decodeUnits(first, last, final, out);
    default:
        break;
    }
    return converter_->charset.decode(first, last, final, out);
}

std::size_t TextDecoder::decodeUtf8(const char* first, const char* last, bool final, std::string& out)
{
    std::size_t replaced = 0;
    auto p = reinterpret_cast<const unsigned char*>(first);
    auto end = reinterpret_cast<const unsigned char*>(last);
    if (!pending_.empty()) {
        // Finish the character the previous piece cut off: it needs at most three more bytes.
        std::string head = pending_;
        if (end > p)
            head.append(first, static_cast<std::size_t>(std::min<std::ptrdiff_t>(end - p, 3)));
        auto h = reinterpret_cast<const unsigned char*>(head.data());
        const Utf8Step step = utf8Step(h, h + head.size());
        if (!step.complete && step.length == head.size() && !final) {
            pending_ = head; // still not whole: the piece was shorter than the rest of the character
            return 0;
        }
        if (step.complete) {
            out.append(head, 0, step.length);
        } else {
            out += kReplacementCharacter;
            ++replaced;
        }
        p += step.length > pending_.size() ? step.length - pending_.size() : 0;
        pending_.clear();
    }
    while (p < end) {
        const unsigned char* run = validUtf8Run(p, end);
        out.append(reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(run));
        p = run;
        if (p == end)
            break;
        // The rare slow path: a broken character, or one that the next piece completes.
        const Utf8Step step = utf8Step(p, end);
        if (!final && step.lead && p + step.length == end) {
            pending_.assign(reinterpret_cast<const char*>(p), step.length);
            break;
        }
        out += kReplacementCharacter;
        ++replaced;
        p += step.length;
    }
    return replaced;
}

std::size_t TextDecoder::decodeUnits(const char* first, const char* last, bool final, std::string& out)
{
    std::string joined;
    if (!pending_.empty()) {
        joined = std::move(pending_);
        pending_.clear();
        joined.append(first, last);
        first = joined.data();
        last = first + joined.size();
    }
    const bool bigEndian = encoding_ == TextEncoding::Utf16BE || encoding_ == TextEncoding::Utf32BE;
    const std::ptrdiff_t unit = encoding_ == TextEncoding::Utf32LE || encoding_ == TextEncoding::Utf32BE ? 4 : 2;
    auto p = reinterpret_cast<const unsigned char*>(first);
    auto end = reinterpret_cast<const unsigned char*>(last);
    auto unitAt = [bigEndian](const unsigned char* u) -> std::uint32_t {
        return bigEndian ? (u[0] << 8 | u[1]) : (u[1] << 8 | u[0]);
    };
    std::size_t replaced = 0;
    char buffer[1 << 16];
    std::size_t used = 0;
    while (end - p >= unit) {
        if (used > sizeof buffer - 4) {
            out.append(buffer, used);
            used = 0;
        }
        if (unit == 4) {
            std::uint32_t code = bigEndian ? (std::uint32_t(unitAt(p)) << 16 | unitAt(p + 2))
                                           : (std::uint32_t(unitAt(p + 2)) << 16 | unitAt(p));
            if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
                code = 0xFFFD;
                ++replaced;
            }
            used += encodeUtf8(code, buffer + used);
            p += 4;
            continue;
        }
        std::uint32_t code = unitAt(p);
        std::size_t length = 2;
        if (code >= 0xD800 && code <= 0xDBFF) {
            if (end - p < 4 && !final)
                break; // the other half comes with the next piece
            const std::uint32_t low = end - p >= 4 ? unitAt(p + 2) : 0;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                length = 4;
            } else {
                code = 0xFFFD; // a high surrogate without its other half
                ++replaced;
            }
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            code = 0xFFFD;
            ++replaced;
        }
        used += encodeUtf8(code, buffer + used);
        p += length;
    }
    out.append(buffer, used);
    if (p < end) {
        if (final) {
            out += kReplacementCharacter; // a unit cut short by the end of the text
            ++replaced;
        } else {
            pending_.assign(reinterpret_cast<const char*>(p), static_cast<std::size_t>(end - p));
        }
    }
    return replaced;
}

std::size_t decodeToUtf8(std::string& bytes, TextEncoding encoding, std::size_t skip)
{
    if (skip > bytes.size())
        skip = bytes.size();
    if (encoding == TextEncoding::Utf8 && isValidUtf8(bytes.data() + skip, bytes.data() + bytes.size())) {
        bytes.erase(0, skip);
        return 0;
    }
    const std::size_t input = bytes.size() - skip;
    std::string out;
    // No encoding read takes more than 3 bytes of UTF-8 per byte (windows-1252's 0x80 is U+20AC); pages
    // reserved and never written are never really allocated.
    out.reserve(3 * input + 16);
    TextDecoder decoder(encoding);
    const std::size_t replaced = decoder.decode(bytes.data() + skip, bytes.data() + bytes.size(), true, out);
    bytes.swap(out);
    return replaced;
}


} // namespace spreadsheet

#include "spreadsheet/read/TextDecoding.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <algorithm>
#include <memory>

namespace spreadsheet {

namespace {

constexpr char kReplacementCharacter[] = "\xEF\xBF\xBD"; // U+FFFD in UTF-8

struct IconvCloser
{
    void operator()(void* handle) const { iconv_close(static_cast<iconv_t>(handle)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

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
    default:
        return false;
    }
}

struct TextDecoder::Converter
{
    IconvHandle handle;
    std::size_t unitSize; // bytes skipped past an invalid sequence
};

TextDecoder::TextDecoder(TextEncoding encoding) : encoding_(encoding)
{
    const char* from = nullptr;
    std::size_t unitSize = 1;
    switch (encoding) {
    case TextEncoding::Utf8:
        return;
    case TextEncoding::Utf16LE:
        from = "UTF-16LE";
        unitSize = 2;
        break;
    case TextEncoding::Utf16BE:
        from = "UTF-16BE";
        unitSize = 2;
        break;
    case TextEncoding::Gb18030:
        from = "GB18030";
        break;
    }
    iconv_t raw = iconv_open("UTF-8", from);
    if (raw != reinterpret_cast<iconv_t>(-1))
        converter_ = std::make_unique<Converter>(Converter{IconvHandle(raw), unitSize});
}

TextDecoder::~TextDecoder() = default;

std::size_t TextDecoder::decode(const char* first, const char* last, bool final, std::string& out)
{
    if (encoding_ == TextEncoding::Utf8)
        return decodeUtf8(first, last, final, out);
    if (!converter_) {
        // Without a converter every byte would be lost; keep them as they are instead.
        out.append(first, last);
        return 0;
    }
    if (pending_.empty())
        return convert(first, last, final, out);
    std::string joined = std::move(pending_);
    pending_.clear();
    joined.append(first, last);
    return convert(joined.data(), joined.data() + joined.size(), final, out);
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

std::size_t TextDecoder::convert(const char* first, const char* last, bool final, std::string& out)
{
    iconv_t raw = static_cast<iconv_t>(converter_->handle.get());
    char* in = const_cast<char*>(first); // iconv's signature; it does not write the input
    std::size_t inLeft = static_cast<std::size_t>(last - first);
    std::size_t replaced = 0;
    // Through a small buffer: appending to `out` touches only the memory the text really needs.
    char buffer[1 << 16];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t rc = iconv(raw, &in, &inLeft, &outPtr, &outLeft);
        const int error = errno;
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (rc != static_cast<std::size_t>(-1))
            break;
        if (error == E2BIG)
            continue;
        if (error == EINVAL && !final) {
            pending_.assign(in, inLeft); // a character cut at the end of the piece
            break;
        }
        // EILSEQ, or EINVAL at the end of the text: replace one unit and go on.
        out += kReplacementCharacter;
        ++replaced;
        const std::size_t step = inLeft < converter_->unitSize ? inLeft : converter_->unitSize;
        in += step;
        inLeft -= step;
        iconv(raw, nullptr, nullptr, nullptr, nullptr); // reset the shift state
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
    // UTF-16 and GB18030 take at most 1.5 bytes of UTF-8 per byte; pages reserved and never written are
    // never really allocated.
    out.reserve(input + input / 2 + 16);
    TextDecoder decoder(encoding);
    const std::size_t replaced = decoder.decode(bytes.data() + skip, bytes.data() + bytes.size(), true, out);
    bytes.swap(out);
    return replaced;
}


} // namespace spreadsheet

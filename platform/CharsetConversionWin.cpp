#include "platform/CharsetConversion.h"

#include <QByteArray>
#include <QString>
#include <QTextCodec>

#include <cstdint>

namespace platform {

namespace {

constexpr char kReplacementCharacter[] = "\xEF\xBF\xBD"; // U+FFFD in UTF-8

} // namespace

// Windows has no iconv: Qt's own codecs, compiled into QtCore, decode the same encodings. Their converter
// state keeps a character cut between two pieces and counts every invalid sequence, which becomes U+FFFD.
namespace {

void appendUtf8(std::uint32_t code, std::string& out)
{
    out += static_cast<char>(0xF0 | code >> 18);
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
}

bool inRange(unsigned char c, unsigned char low, unsigned char high) { return c >= low && c <= high; }

} // namespace

struct CharsetConversion::Converter
{
    explicit Converter(QTextCodec* c) : codec(c), gb18030(c->name() == "GB18030") {}

    // Decodes [first, last) with Qt's codec, appending UTF-8.
    void decode(const char* first, const char* last, std::string& out)
    {
        constexpr std::ptrdiff_t kPiece = 1 << 24; // in pieces that an int counts
        for (const char* p = first; p < last; p += kPiece) {
            const int size = static_cast<int>(last - p < kPiece ? last - p : kPiece);
            const QByteArray utf8 = codec->toUnicode(p, size, &state).toUtf8();
            out.append(utf8.constData(), static_cast<std::size_t>(utf8.size()));
        }
    }

    std::size_t decodeGb18030(std::string& pending, const char* first, const char* last, bool final,
                              std::string& out);

    QTextCodec* codec; // owned by Qt for the program's life
    const bool gb18030;
    QTextCodec::ConverterState state;
    int invalidSoFar = 0;
};


// Qt's GB18030 codec turns the four-byte sequences of the planes beyond the first (U+10000 and up, where
// the rarer Chinese characters of names live) into U+0000. Those sequences count linearly from
// 90 30 81 30, so they are decoded here and everything between them goes to Qt. A sequence cut by the end
// of the piece waits for the next one, so that Qt never holds half a character of ours.
std::size_t CharsetConversion::Converter::decodeGb18030(std::string& pending, const char* first, const char* last,
                                                       bool final, std::string& out)
{
    std::string joined;
    if (!pending.empty()) {
        joined = std::move(pending);
        pending.clear();
        joined.append(first, last);
        first = joined.data();
        last = first + joined.size();
    }
    std::size_t replaced = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(first);
    const auto* end = reinterpret_cast<const unsigned char*>(last);
    const unsigned char* run = p;
    while (p < end) {
        if (*p < 0x81 || *p == 0xFF) {
            ++p;
            continue;
        }
        if (end - p < 2 || (inRange(p[1], 0x30, 0x39) && end - p < 4))
            break; // cut by the end of the piece
        if (!inRange(p[1], 0x30, 0x39)) {
            p += 2;
            continue;
        }
        if (inRange(p[0], 0x90, 0xE3) && inRange(p[2], 0x81, 0xFE) && inRange(p[3], 0x30, 0x39)) {
            decode(reinterpret_cast<const char*>(run), reinterpret_cast<const char*>(p), out);
            const std::uint32_t code = 0x10000 + (((p[0] - 0x90u) * 10 + (p[1] - 0x30u)) * 126 + (p[2] - 0x81u)) * 10 +
                                       (p[3] - 0x30u);
            if (code <= 0x10FFFF) {
                appendUtf8(code, out);
            } else {
                out += kReplacementCharacter;
                ++replaced;
            }
            p += 4;
            run = p;
            continue;
        }
        p += 4;
    }
    if (p < end && !final)
        pending.assign(reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(end));
    else
        p = end;
    decode(reinterpret_cast<const char*>(run), reinterpret_cast<const char*>(p), out);
    return replaced;
}

CharsetConversion::CharsetConversion(const char* encoding)
{
    if (QTextCodec* codec = encoding ? QTextCodec::codecForName(encoding) : nullptr)
        converter_ = std::make_unique<Converter>(codec);
}

CharsetConversion::~CharsetConversion() = default;

bool CharsetConversion::isOpen() const { return converter_ != nullptr; }

std::size_t CharsetConversion::decode(const char* first, const char* last, bool final, std::string& out)
{
    if (!converter_) {
        // Without a converter every byte would be lost; keep them as they are instead.
        out.append(first, last);
        return 0;
    }
    std::size_t replaced = 0;
    if (converter_->gb18030)
        replaced += converter_->decodeGb18030(pending_, first, last, final, out);
    else
        converter_->decode(first, last, out);
    if (final && converter_->state.remainingChars > 0) {
        // A character cut short by the end of the text.
        out += kReplacementCharacter;
        ++replaced;
    }
    replaced += static_cast<std::size_t>(converter_->state.invalidChars - converter_->invalidSoFar);
    converter_->invalidSoFar = converter_->state.invalidChars;
    return replaced;
}

} // namespace platform

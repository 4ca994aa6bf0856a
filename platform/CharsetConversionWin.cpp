#include "platform/CharsetConversion.h"

#include <QByteArray>
#include <QString>
#include <QTextCodec>

namespace platform {

namespace {

constexpr char kReplacementCharacter[] = "\xEF\xBF\xBD"; // U+FFFD in UTF-8

} // namespace

// Windows has no iconv: Qt's own codecs, compiled into QtCore, decode the same encodings. Their converter
// state keeps a character cut between two pieces and counts every invalid sequence, which becomes U+FFFD.
struct CharsetConversion::Converter
{
    explicit Converter(QTextCodec* c) : codec(c) {}

    QTextCodec* codec; // owned by Qt for the program's life
    QTextCodec::ConverterState state;
    int invalidSoFar = 0;
};

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
    // In pieces that an int counts, whatever the caller hands over.
    constexpr std::ptrdiff_t kPiece = 1 << 24;
    for (const char* p = first; p < last; p += kPiece) {
        const int size = static_cast<int>(last - p < kPiece ? last - p : kPiece);
        const QByteArray utf8 = converter_->codec->toUnicode(p, size, &converter_->state).toUtf8();
        out.append(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    }
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

#include "convert/SourceDecoding.h"

#include "platform/SystemCodePage.h"
#include "spreadsheet/read/EncodingDetection.h"
#include "spreadsheet/read/TextDecoding.h"

#include <QDir>
#include <QFile>
#include <QTextCodec>

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>

namespace {

using spreadsheet::TextEncoding;

constexpr int kPieceBytes = 1 << 20;

// How one source file is to be read: by the text decoder in one of its encodings, or, for a system 8-bit
// encoding it does not know, by that encoding's codec.
struct SourceReading
{
    TextEncoding encoding = TextEncoding::Utf8;
    int skip = 0;                   // a byte-order mark
    bool wellFormed = false;        // UTF-8 found whole and valid: nothing to decode
    QTextCodec* localCodec = nullptr; // set: decode with this codec instead
};

bool isUtf16(TextEncoding encoding) { return encoding == TextEncoding::Utf16LE || encoding == TextEncoding::Utf16BE; }

std::size_t markLength(const QByteArray& bytes, TextEncoding& encoding)
{
    return spreadsheet::byteOrderMarkLength(std::string_view(bytes.constData(), std::size_t(bytes.size())), encoding);
}

SourceReading readingFor(const QByteArray& bytes, SourceEncodingChoice choice)
{
    SourceReading reading;
    const std::string_view view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    switch (choice) {
    case SourceEncodingChoice::Automatic: {
        const spreadsheet::DetectedEncoding detected = spreadsheet::detectEncoding(view);
        reading.encoding = detected.encoding;
        reading.skip = static_cast<int>(detected.byteOrderMarkLength);
        reading.wellFormed = detected.wellFormed;
        break;
    }
    case SourceEncodingChoice::Utf16: {
        TextEncoding marked = TextEncoding::Utf16LE;
        reading.skip = int(markLength(bytes, marked));
        if (reading.skip == 2) {
            reading.encoding = marked;
        } else {
            // Without a mark the text tells the byte order where it can; little-endian otherwise.
            reading.skip = 0;
            const bool big = spreadsheet::detectEncoding(view).encoding == TextEncoding::Utf16BE;
            reading.encoding = big ? TextEncoding::Utf16BE : TextEncoding::Utf16LE;
        }
        break;
    }
    case SourceEncodingChoice::Local8Bit: {
        QTextCodec* codec = platform::systemCodePageCodec();
        const int mib = codec->mibEnum();
        if (mib == 106 || codec->name().startsWith("UTF-8")) {
            reading.encoding = TextEncoding::Utf8;
        } else if (mib == 113 || mib == 114 || mib == 2025) { // GBK, GB18030, GB2312
            reading.encoding = TextEncoding::Gb18030;
        } else {
            reading.localCodec = codec;
        }
        // A UTF-8 byte-order mark never belongs to the text: the staged file holds none either.
        TextEncoding marked;
        if (markLength(bytes, marked) == 3 && marked == TextEncoding::Utf8)
            reading.skip = 3;
        break;
    }
    }
    return reading;
}

// An unpaired surrogate is no character: U+FFFD takes its place, as for any other undecodable input.
void replaceUnpairedSurrogates(QString& text)
{
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            text[i] = QChar(QChar::ReplacementCharacter);
    }
}

// Calls `take` with the decoded text, in UTF-8, in pieces of about kPieceBytes of source; false when
// `take` is.
bool decodeInPieces(const QByteArray& bytes, SourceEncodingChoice choice,
                    const std::function<bool(std::string_view)>& take)
{
    const SourceReading reading = readingFor(bytes, choice);
    const char* first = bytes.constData() + reading.skip;
    const char* const last = bytes.constData() + bytes.size();
    if (reading.wellFormed) {
        // Already UTF-8, and valid: handed on as it is, in pieces that end between two characters.
        while (first < last) {
            const char* cut = last - first > kPieceBytes ? first + kPieceBytes : last;
            while (cut < last && cut > first && (static_cast<unsigned char>(*cut) & 0xC0) == 0x80)
                --cut;
            if (!take(std::string_view(first, std::size_t(cut - first))))
                return false;
            first = cut;
        }
        return true;
    }
    if (reading.localCodec) {
        QTextCodec::ConverterState state;
        while (first < last) {
            const int length = int(qMin<qptrdiff>(kPieceBytes, last - first));
            QString piece = reading.localCodec->toUnicode(first, length, &state);
            first += length;
            if (first == last && state.remainingChars > 0)
                piece += QChar(QChar::ReplacementCharacter); // a character cut by the end of the file
            replaceUnpairedSurrogates(piece);
            const QByteArray utf8 = piece.toUtf8();
            if (!take(std::string_view(utf8.constData(), std::size_t(utf8.size()))))
                return false;
        }
        return true;
    }
    spreadsheet::TextDecoder decoder(reading.encoding);
    std::string utf8;
    for (bool final = false; !final;) {
        const qptrdiff length = qMin<qptrdiff>(kPieceBytes, last - first);
        final = length == last - first;
        utf8.clear();
        decoder.decode(first, first + length, false, utf8);
        first += length;
        if (final) {
            // An odd last byte of UTF-16 is paired with a zero byte, so that it still counts as a character.
            if (isUtf16(reading.encoding) && (bytes.size() - reading.skip) % 2 != 0) {
                const char zero = 0;
                decoder.decode(&zero, &zero + 1, false, utf8);
            }
            decoder.decode(nullptr, nullptr, true, utf8);
        }
        if (!take(utf8))
            return false;
    }
    return true;
}

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Writes text pieces to the staged file in GB18030.
class StagedFile
{
public:
    explicit StagedFile(const QString& path) : file_(path), codec_(QTextCodec::codecForName("GB18030"))
    {
        ok_ = file_.open(QIODevice::WriteOnly | QIODevice::Truncate);
    }
    bool write(const QString& text) { return write(codec_->fromUnicode(text)); }
    bool write(std::string_view utf8)
    {
        // ASCII is the same in GB18030: most of a typical export needs no conversion at all.
        if (isAscii(utf8))
            return write(QByteArray::fromRawData(utf8.data(), int(utf8.size())));
        return write(QString::fromUtf8(utf8.data(), int(utf8.size())));
    }
    bool finish()
    {
        file_.close();
        return ok_ && file_.error() == QFileDevice::NoError;
    }

private:
    bool write(const QByteArray& encoded)
    {
        ok_ = ok_ && file_.write(encoded) == encoded.size();
        return ok_;
    }

    QFile file_;
    QTextCodec* codec_;
    bool ok_ = false;
};

} // namespace

SourceEncodingChoice encodingChoice(bool utf8Bom, bool ucs2)
{
    if (utf8Bom)
        return SourceEncodingChoice::Local8Bit;
    return ucs2 ? SourceEncodingChoice::Utf16 : SourceEncodingChoice::Automatic;
}

QString SourceDecoding(const QByteArray& bytes, SourceEncodingChoice choice)
{
    QString text;
    decodeInPieces(bytes, choice, [&text](std::string_view piece) {
        text += QString::fromUtf8(piece.data(), int(piece.size()));
        return true;
    });
    return text;
}

QString stagingPath(const QString& folder)
{
    QString path = QDir::toNativeSeparators(folder);
    if (!path.endsWith(QDir::separator()))
        path += QDir::separator();
    return path + QStringLiteral("Wickerlane_Tem_Txt.txt");
}

bool stageText(const QString& path, const QString& text)
{
    StagedFile file(path);
    // In pieces, so a large text is never held a second time in encoded form; a piece never ends
    // between the two halves of a surrogate pair.
    constexpr int kPiece = 1 << 20;
    for (int at = 0; at < text.size();) {
        int length = qMin(kPiece, text.size() - at);
        if (at + length < text.size() && text.at(at + length - 1).isHighSurrogate())
            ++length;
        if (!file.write(text.mid(at, length)))
            break;
        at += length;
    }
    return file.finish();
}

bool stageSource(const QString& path, const QByteArray& bytes, SourceEncodingChoice choice)
{
    StagedFile file(path);
    decodeInPieces(bytes, choice, [&file](std::string_view piece) { return file.write(piece); });
    return file.finish();
}

void unstageText(const QString& path)
{
    QFile::remove(path);
}

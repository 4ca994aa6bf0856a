#include "platform/FileNameEncoding.h"

#include <QFile>
#include <QTextCodec>

namespace platform {

namespace {

constexpr ushort kEscapeBase = 0xDC00; // U+DC80 to U+DCFF carry the bytes 0x80 to 0xFF

// UTF-8 that turns any byte sequence into text and back unchanged: bytes that are not part of a character
// become lone low surrogates, which valid UTF-8 can never produce, and are written back as those bytes.
class LosslessUtf8Codec final : public QTextCodec
{
public:
    QByteArray name() const override { return QByteArrayLiteral("UTF-8 (lossless file names)"); }
    int mibEnum() const override { return -106; } // not a registered character set

protected:
    QString convertToUnicode(const char* in, int length, ConverterState* state) const override;
    QByteArray convertFromUnicode(const QChar* in, int length, ConverterState* state) const override;
};

// Length of the UTF-8 character at p (1 to 4), 0 when the bytes there do not form one, and -1 when they
// are its start but the text ends first.
int characterLength(const uchar* p, const uchar* end)
{
    const uchar lead = *p;
    if (lead < 0x80)
        return 1;
    int continuation;
    uchar low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuation = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        continuation = 2;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        continuation = 3;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    for (int i = 1; i <= continuation; ++i) {
        if (p + i >= end)
            return -1;
        if (p[i] < low || p[i] > high)
            return 0;
        low = 0x80;
        high = 0xBF;
    }
    return continuation + 1;
}

QString LosslessUtf8Codec::convertToUnicode(const char* in, int length, ConverterState*) const
{
    // Every byte decodes to something, so nothing is invalid, and nothing is kept for a later call: Qt
    // leaves a file name out of folder listings when its decoding reports either. A character split
    // between two calls comes out as two runs of carried bytes, which still turn back into the same bytes.
    QString text;
    text.reserve(length);
    auto p = reinterpret_cast<const uchar*>(in);
    const auto end = p + length;
    while (p < end) {
        const int size = characterLength(p, end);
        if (size <= 0) {
            text += QChar(ushort(kEscapeBase + *p++));
            continue;
        }
        uint code = size == 1 ? *p : *p & (0x7F >> size);
        for (int i = 1; i < size; ++i)
            code = (code << 6) | (p[i] & 0x3F);
        if (code > 0xFFFF) {
            text += QChar(QChar::highSurrogate(code));
            text += QChar(QChar::lowSurrogate(code));
        } else {
            text += QChar(ushort(code));
        }
        p += size;
    }
    return text;
}

QByteArray LosslessUtf8Codec::convertFromUnicode(const QChar* in, int length, ConverterState* state) const
{
    QByteArray bytes;
    bytes.reserve(length * 3);
    auto append = [&bytes](uint code) {
        if (code < 0x80) {
            bytes += char(code);
        } else if (code < 0x800) {
            bytes += char(0xC0 | code >> 6);
            bytes += char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            bytes += char(0xE0 | code >> 12);
            bytes += char(0x80 | ((code >> 6) & 0x3F));
            bytes += char(0x80 | (code & 0x3F));
        } else {
            bytes += char(0xF0 | code >> 18);
            bytes += char(0x80 | ((code >> 12) & 0x3F));
            bytes += char(0x80 | ((code >> 6) & 0x3F));
            bytes += char(0x80 | (code & 0x3F));
        }
    };
    int i = 0;
    if (state && state->remainingChars > 0 && length > 0) {
        // The high half of a pair that the previous call's input ended with.
        const QChar high(ushort(state->state_data[0]));
        state->remainingChars = 0;
        if (in[0].isLowSurrogate()) {
            append(QChar::surrogateToUcs4(high, in[0]));
            i = 1;
        } else {
            bytes += '?';
            ++state->invalidChars;
        }
    }
    for (; i < length; ++i) {
        const QChar c = in[i];
        if (c.isHighSurrogate()) {
            if (i + 1 < length && in[i + 1].isLowSurrogate()) {
                append(QChar::surrogateToUcs4(c, in[i + 1]));
                ++i;
            } else if (i + 1 == length && state) {
                state->remainingChars = 1;
                state->state_data[0] = c.unicode();
            } else {
                bytes += '?';
                if (state)
                    ++state->invalidChars;
            }
        } else if (c.unicode() >= kEscapeBase + 0x80 && c.unicode() <= kEscapeBase + 0xFF) {
            bytes += char(c.unicode() - kEscapeBase); // a byte carried through the text
        } else if (c.isLowSurrogate()) {
            bytes += '?';
            if (state)
                ++state->invalidChars;
        } else {
            append(c.unicode());
        }
    }
    return bytes;
}

} // namespace

void useLosslessFileNames()
{
    QTextCodec* system = QTextCodec::codecForLocale();
    if (system && system->mibEnum() != 106)
        return; // an 8-bit system encoding of another kind keeps its own codec
    // Qt keeps every codec once created and deletes it when the program ends.
    static QTextCodec* const lossless = new LosslessUtf8Codec;
    QTextCodec::setCodecForLocale(lossless);
}

QByteArray fileNameBytes(const QString& path)
{
    return QFile::encodeName(path);
}

QString fileNameFromBytes(const QByteArray& bytes)
{
    return QFile::decodeName(bytes);
}

} // namespace platform

#include "convert/SourceDecoding.h"

#include <QDir>
#include <QFile>
#include <QTextCodec>

#include <memory>

namespace {

// UTF-16 text without a byte-order mark: CSV text is rich in ASCII, whose UTF-16 form puts a zero byte
// in every other place, nearly always on the same side.
bool looksLikeUtf16(const QByteArray& bytes, bool& bigEndian)
{
    const int sample = qMin(bytes.size(), 4096) & ~1;
    if (sample < 4)
        return false;
    int evenZeros = 0, oddZeros = 0;
    for (int i = 0; i < sample; i += 2) {
        evenZeros += bytes[i] == '\0';
        oddZeros += bytes[i + 1] == '\0';
    }
    const int pairs = sample / 2;
    bigEndian = evenZeros > oddZeros;
    const int high = qMax(evenZeros, oddZeros), low = qMin(evenZeros, oddZeros);
    return high * 4 >= pairs && low * 8 <= high;
}

QString decodeUtf16(const QByteArray& bytes, bool bigEndianWithoutMark)
{
    QByteArray units = bytes;
    if (units.size() % 2)
        units.append('\0'); // the last byte of an odd size is paired with a zero byte
    const auto* data = reinterpret_cast<const uchar*>(units.constData());
    int start = 0;
    bool bigEndian = bigEndianWithoutMark;
    if (units.size() >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        bigEndian = false;
        start = 2;
    } else if (units.size() >= 2 && data[0] == 0xFE && data[1] == 0xFF) {
        bigEndian = true;
        start = 2;
    }
    QTextCodec* codec = QTextCodec::codecForName(bigEndian ? "UTF-16BE" : "UTF-16LE");
    return codec->toUnicode(units.constData() + start, units.size() - start);
}

} // namespace

SourceEncodingChoice encodingChoice(bool utf8Bom, bool ucs2)
{
    if (utf8Bom)
        return SourceEncodingChoice::Local8Bit;
    return ucs2 ? SourceEncodingChoice::Utf16 : SourceEncodingChoice::Automatic;
}

QString SourceDecoding(const QByteArray& bytes, SourceEncodingChoice choice)
{
    switch (choice) {
    case SourceEncodingChoice::Local8Bit: {
        // With its size: the QByteArray overload stops at the first zero byte and loses the rest.
        QString text = QString::fromLocal8Bit(bytes.constData(), bytes.size());
        if (text.startsWith(QChar(0xFEFF)))
            text.remove(0, 1);
        return text;
    }
    case SourceEncodingChoice::Utf16:
        return decodeUtf16(bytes, false);
    case SourceEncodingChoice::Automatic:
        break;
    }

    // One converter state for both attempts: its count of invalid characters decides.
    QTextCodec::ConverterState state; // default flags: a UTF-8 byte-order mark is dropped
    QTextCodec* utf8 = QTextCodec::codecForName("UTF-8");
    const QString asUtf8 = utf8->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars == 0)
        return asUtf8;
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    bool bigEndian = false;
    if (bytes.size() >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF)))
        return decodeUtf16(bytes, false);
    if (looksLikeUtf16(bytes, bigEndian))
        return decodeUtf16(bytes, bigEndian);
    return QTextCodec::codecForName("GB18030")->toUnicode(bytes.constData(), bytes.size(), &state);
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
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    // In pieces, so a large text is never held a second time in encoded form; a piece never ends
    // between the two halves of a surrogate pair.
    QTextCodec* codec = QTextCodec::codecForName("GB18030");
    constexpr int kPiece = 1 << 20;
    bool written = true;
    for (int at = 0; written && at < text.size();) {
        int length = qMin(kPiece, text.size() - at);
        if (at + length < text.size() && text.at(at + length - 1).isHighSurrogate())
            ++length;
        const QByteArray bytes = codec->fromUnicode(text.constData() + at, length);
        written = file.write(bytes) == bytes.size();
        at += length;
    }
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

void unstageText(const QString& path)
{
    QFile::remove(path);
}

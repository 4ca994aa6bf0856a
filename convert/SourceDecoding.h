#pragma once

#include <QByteArray>
#include <QString>

/// How the conversion by settings decodes a source file.
enum class SourceEncodingChoice
{
    Automatic, // as the text reads: a byte-order mark, else UTF-16 without one, else UTF-8 (also with a few
               // broken bytes), else GBK (GB18030)
    Utf16,     // UTF-16; a byte-order mark picks the byte order, else the text, little-endian when unsure
    Local8Bit, // the system's 8-bit encoding
};

/// The choice the options record makes: UTF8BOM wins over UCS2.
SourceEncodingChoice encodingChoice(bool utf8Bom, bool ucs2);

/// Decodes a whole source file. Never fails: every undecodable sequence (a broken byte, a character cut
/// by the end of the file, an unpaired UTF-16 surrogate) becomes one U+FFFD. A byte-order mark is not part
/// of the text. Zero bytes are kept as characters, so nothing after them is lost. In UTF-16 an odd last
/// byte is paired with a zero byte.
QString SourceDecoding(const QByteArray& bytes, SourceEncodingChoice choice);

/// The temporary text file of one import: "Wickerlane_Tem_Txt.txt" in `folder`, which ends with exactly
/// one separator whether or not it was given with one.
QString stagingPath(const QString& folder);

/// Writes the text into the temporary file in code page 936 (as GB18030, the superset of GBK that holds
/// every character, so nothing is lost on the way to the text import); no byte-order mark. False when
/// the file cannot be written.
bool stageText(const QString& path, const QString& text);

/// Decodes a source file as SourceDecoding() does and stages it as stageText() does, piece by piece, so
/// that the decoded text is never held whole beside the source bytes.
bool stageSource(const QString& path, const QByteArray& bytes, SourceEncodingChoice choice);

/// Deletes the temporary file; the outcome is not looked at.
void unstageText(const QString& path);

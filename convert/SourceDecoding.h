#pragma once

#include <QByteArray>
#include <QString>

/// How the conversion by settings decodes a source file.
enum class SourceEncodingChoice
{
    Automatic, // UTF-8 when the whole file is valid UTF-8, else UTF-16 when it says so, else GBK (GB18030)
    Utf16,     // UTF-16; a byte-order mark picks the byte order, little-endian without one
    Local8Bit, // the system's 8-bit encoding
};

/// The choice the options record makes: UTF8BOM wins over UCS2.
SourceEncodingChoice encodingChoice(bool utf8Bom, bool ucs2);

/// Decodes a whole source file. Never fails: undecodable bytes become U+FFFD. A byte-order mark is not
/// part of the text. Zero bytes are kept as characters, so nothing after them is lost.
QString SourceDecoding(const QByteArray& bytes, SourceEncodingChoice choice);

/// The temporary text file of one import: "Wickerlane_Tem_Txt.txt" in `folder`, which ends with exactly
/// one separator whether or not it was given with one.
QString stagingPath(const QString& folder);

/// Writes the text into the temporary file in code page 936 (as GB18030, the superset of GBK that holds
/// every character, so nothing is lost on the way to the text import); no byte-order mark. False when
/// the file cannot be written.
bool stageText(const QString& path, const QString& text);

/// Deletes the temporary file; the outcome is not looked at.
void unstageText(const QString& path);

#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

/// Makes every file name usable, also one that is not valid in the system's encoding (GBK bytes on a UTF-8
/// file system, say). On such a system each byte that is not part of a UTF-8 character is carried in the
/// name's text as a character of its own (U+DC80 to U+DCFF) and turned back into that very byte wherever
/// the text is used as a name again, so such a file can be listed, opened, converted and named. Call once,
/// at the start of the program, before any other thread runs. Nothing to do where names are UTF-16.
void useLosslessFileNames();

/// The 8-bit form of a file path that the program hands to the C runtime (platform/FileAccess.h): the
/// file system's bytes here, UTF-8 on Windows, where the system code page cannot write every name.
QByteArray fileNameBytes(const QString& path);

/// The path that fileNameBytes() turned into `bytes`.
QString fileNameFromBytes(const QByteArray& bytes);

} // namespace platform

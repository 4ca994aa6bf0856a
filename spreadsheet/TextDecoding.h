#pragma once

#include <cstddef>
#include <string>

namespace spreadsheet {

/// Encodings the embedded spreadsheet reads text files in.
enum class TextEncoding
{
    Utf8,
    Utf16LE,
    Utf16BE,
    Gb18030, // a superset of GBK (code page 936)
};

struct DetectedEncoding
{
    TextEncoding encoding = TextEncoding::Utf8;
    std::size_t byteOrderMarkLength = 0; // bytes to drop at the start
};

/// True when [first, last) is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUtf8(const char* first, const char* last);

/// Picks the encoding of a text file's bytes: a byte-order mark decides and is dropped; otherwise
/// UTF-16 without a mark when its NUL pattern says so; otherwise valid UTF-8 is UTF-8; otherwise GB18030.
DetectedEncoding detectEncoding(const std::string& bytes);

/// Encoding named by a Windows code page (936 GBK, 65001 UTF-8, 1200 UTF-16 LE, 1201 UTF-16 BE);
/// false for a code page we do not read.
bool encodingForCodePage(int codePage, TextEncoding& encoding);

/// Turns `bytes` (starting after any byte-order mark, see `skip`) into UTF-8. Byte sequences that are
/// invalid in the encoding become U+FFFD; the return value counts them. UTF-8 input is validated and
/// kept in place, so a valid UTF-8 file costs no copy.
std::size_t decodeToUtf8(std::string& bytes, TextEncoding encoding, std::size_t skip = 0);

/// Number of UTF-16 code units of well-formed UTF-8 text; the unit in which cell text limits are stated.
std::size_t utf16Length(const char* first, const char* last);

} // namespace spreadsheet

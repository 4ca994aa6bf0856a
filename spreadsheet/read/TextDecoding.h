#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace spreadsheet {

/// Encodings the embedded spreadsheet reads text files in.
enum class TextEncoding
{
    Utf8,
    Utf16LE,
    Utf16BE,
    Gb18030, // a superset of GBK (code page 936)
    Utf32LE,
    Utf32BE,
    Big5,        // traditional Chinese (Taiwan, Hong Kong; code page 950)
    ShiftJis,    // Japanese (code page 932)
    EucKr,       // Korean (code page 949)
    Windows1252, // Western European (a superset of ISO-8859-1's letters)
    Latin1,      // ISO-8859-1
};

/// True when [first, last) is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUtf8(const char* first, const char* last);

/// Length of the start of a UTF-8 character that [first, last) ends with and that the end cuts short
/// (E4 B8 of a three-byte character, say); 0 when the text ends on a whole character or on bytes that
/// could not begin one.
std::size_t truncatedUtf8Tail(const char* first, const char* last);

/// How well UTF-8 explains some bytes: its characters of two bytes or more, and its broken sequences (a
/// character cut by `last` counts as broken only when `last` is the end of the text).
struct Utf8Census
{
    std::size_t multiByte = 0;
    std::size_t broken = 0;
};
Utf8Census countUtf8(const char* first, const char* last, bool lastEndsText);

/// Encoding named by a Windows code page (936 GBK, 65001 UTF-8, 1200 UTF-16 LE, 1201 UTF-16 BE, 12000
/// UTF-32 LE, 12001 UTF-32 BE, 950 Big5, 932 Shift_JIS, 949 EUC-KR, 1252 Windows-1252, 28591 ISO-8859-1);
/// false for a code page we do not read.
bool encodingForCodePage(int codePage, TextEncoding& encoding);

/// Turns text in one encoding into UTF-8, piece by piece, so that a large file never has to be held in
/// both forms at once. A character cut between two pieces is completed by the next one; every byte
/// sequence that is invalid in the encoding (an unpaired UTF-16 surrogate, a UTF-32 unit past U+10FFFF,
/// a character cut short by the end of the text) becomes one U+FFFD, and nothing around it is lost.
/// UTF-8, UTF-16 and UTF-32 are decoded here; the legacy encodings by the platform's converter.
class TextDecoder
{
public:
    explicit TextDecoder(TextEncoding encoding);
    ~TextDecoder();
    TextDecoder(const TextDecoder&) = delete;
    TextDecoder& operator=(const TextDecoder&) = delete;

    /// Appends the UTF-8 form of [first, last) to `out`; `final` says that the text ends there. Returns
    /// the number of replacement characters written.
    std::size_t decode(const char* first, const char* last, bool final, std::string& out);

private:
    std::size_t decodeUtf8(const char* first, const char* last, bool final, std::string& out);
    std::size_t decodeUnits(const char* first, const char* last, bool final, std::string& out);

    TextEncoding encoding_;
    std::string pending_; // the start of a character cut off at the end of the previous piece
    struct Converter;
    std::unique_ptr<Converter> converter_;
};

/// Turns `bytes` (starting after any byte-order mark, see `skip`) into UTF-8 in place. Byte sequences that
/// are invalid in the encoding become U+FFFD; the return value counts them. Valid UTF-8 input is only
/// validated, so it costs no copy.
std::size_t decodeToUtf8(std::string& bytes, TextEncoding encoding, std::size_t skip = 0);


} // namespace spreadsheet

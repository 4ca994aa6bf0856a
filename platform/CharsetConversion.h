#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

/// Decodes text in one named 8-bit or multibyte encoding into UTF-8, piece by piece, so that a large
/// file never has to be held in both forms at once. The names are those every system's converter knows:
/// "GB18030", "Big5", "Shift_JIS", "EUC-KR", "windows-1252" and "ISO-8859-1". A character cut between two
/// pieces is kept and completed by the next one; every byte sequence that is invalid in the encoding (a
/// character cut short by the end of the text included) becomes one U+FFFD, and nothing around it is lost.
/// Plain C++: no Qt in the interface.
class CharsetConversion
{
public:
    explicit CharsetConversion(const char* encoding);
    ~CharsetConversion();
    CharsetConversion(const CharsetConversion&) = delete;
    CharsetConversion& operator=(const CharsetConversion&) = delete;

    /// False when the system cannot convert from the encoding; decode() then copies the bytes unchanged.
    bool isOpen() const;

    /// Appends the UTF-8 form of [first, last) to `out`; `final` says that the text ends there. Returns
    /// the number of replacement characters written.
    std::size_t decode(const char* first, const char* last, bool final, std::string& out);

private:
    struct Converter;
    std::unique_ptr<Converter> converter_;
    std::string pending_; // the start of a character cut off at the end of the previous piece
};

} // namespace platform

#pragma once

#include <string>

// For the Windows side of platform/ only: file names travel as UTF-8 through the program and reach the
// system as UTF-16, the form in which it stores them.

namespace platform {

/// UTF-16 of UTF-8 text; empty when `text` is not UTF-8.
std::wstring utf16FromUtf8(const std::string& text);

/// UTF-8 of `length` UTF-16 units (a lone surrogate, which no character has, becomes U+FFFD).
std::string utf8FromUtf16(const wchar_t* text, std::size_t length);

/// The UTF-16 name of a UTF-8 path, made absolute with the "\\?\" prefix when it is too long for the
/// ordinary interfaces (MAX_PATH), so that deep folders stay reachable. Empty when `path` is not UTF-8.
std::wstring widePath(const std::string& path);

} // namespace platform

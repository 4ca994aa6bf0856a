#include "platform/WidePath.h"

#include <windows.h>

#include <cwchar>

namespace platform {

namespace {

// Paths this long may fail in the ordinary interfaces: MAX_PATH counts the terminator, and a folder must
// leave room for an 8.3 file name (12 characters) below it.
constexpr std::size_t kLongPath = MAX_PATH - 12;

bool startsWith(const std::wstring& text, const wchar_t* prefix)
{
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

} // namespace

std::wstring utf16FromUtf8(const std::string& text)
{
    if (text.empty() || text.size() > 0x7FFFFFFF)
        return {};
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length);
    return wide;
}

std::string utf8FromUtf16(const wchar_t* text, std::size_t length)
{
    if (!text || length == 0 || length > 0x7FFFFFFF)
        return {};
    const int size = static_cast<int>(length);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return {};
    std::string narrow(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, size, narrow.data(), bytes, nullptr, nullptr);
    return narrow;
}

std::wstring widePath(const std::string& path)
{
    std::wstring wide = utf16FromUtf8(path);
    if (wide.size() < kLongPath || startsWith(wide, L"\\\\?\\"))
        return wide;
    // The prefix turns off the system's path parsing: the path must be absolute, with backslashes and
    // without "." or "..", which is what GetFullPathNameW makes of it.
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return wide;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed)
        return wide;
    full.resize(length);
    if (startsWith(full, L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2); // \\server\share\...
    return L"\\\\?\\" + full;
}

} // namespace platform

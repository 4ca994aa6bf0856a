#include "platform/FileLookup.h"

#include "platform/WidePath.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>

namespace platform {

namespace {

bool isDotEntry(const wchar_t* name)
{
    return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

} // namespace

bool anyFileMatches(const char* path)
{
    if (!path || !*path)
        return false;
    const std::size_t length = std::strlen(path);
    if (path[length - 1] == '\\' || path[length - 1] == '/')
        return false;
    const std::wstring name = widePath(path);
    if (name.empty())
        return false;
    // The system's file search: a plain path matches itself, `*` and `?` match names in the folder. The
    // folder's own "." and ".." entries, which "dir\*" also finds, name nothing in it.
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(name.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool match = !isDotEntry(found.cFileName);
    while (!match && FindNextFileW(search, &found))
        match = !isDotEntry(found.cFileName);
    FindClose(search);
    return match;
}

bool makeExecutable(const char* path)
{
    // Every file may be run on Windows; there is no mode to change, only a file to be there.
    const std::wstring name = path ? widePath(path) : std::wstring();
    return !name.empty() && GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace platform

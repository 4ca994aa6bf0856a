#include "platform/FileAccess.h"

#include "platform/WidePath.h"

#include <windows.h>

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace platform {

namespace {

// The system's error as errno, so that callers word it as they do the C runtime's.
void setErrnoFromLastError()
{
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        errno = ENOENT;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        errno = EACCES;
        break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        errno = EEXIST;
        break;
    case ERROR_NOT_SAME_DEVICE:
        errno = EXDEV;
        break;
    default:
        errno = EIO;
        break;
    }
}

} // namespace

std::FILE* openFile(const std::string& path, const char* mode)
{
    const std::wstring name = widePath(path);
    if (name.empty() || !mode) {
        errno = name.empty() ? ENOENT : EINVAL;
        return nullptr;
    }
    std::wstring wideMode;
    bool exclusive = false;
    for (const char* m = mode; *m; ++m) {
        if (*m == 'x')
            exclusive = true;
        else
            wideMode += static_cast<wchar_t>(*m);
    }
    if (!exclusive) {
        // "N": not inherited. A program started with inherited handles (the restart after an update)
        // must not hold our files open.
        return _wfopen(name.c_str(), (wideMode + L'N').c_str());
    }
    // The system's C runtime knows no "x": the file is created exclusively here and then wrapped.
    int flags = _O_CREAT | _O_EXCL | _O_TRUNC | _O_NOINHERIT;
    flags |= wideMode.find(L'+') != std::wstring::npos ? _O_RDWR : _O_WRONLY;
    flags |= wideMode.find(L'b') != std::wstring::npos ? _O_BINARY : _O_TEXT;
    const int fd = _wopen(name.c_str(), flags, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    std::FILE* file = _wfdopen(fd, wideMode.c_str());
    if (!file)
        _close(fd);
    return file;
}

bool removeFile(const std::string& path)
{
    const std::wstring name = widePath(path);
    if (name.empty()) {
        errno = ENOENT;
        return false;
    }
    if (DeleteFileW(name.c_str()))
        return true;
    setErrnoFromLastError();
    return false;
}

bool replaceFile(const std::string& from, const std::string& to)
{
    // rename() of the C runtime fails when the target exists; MoveFileExW replaces it in one step.
    const std::wstring source = widePath(from);
    const std::wstring target = widePath(to);
    if (source.empty() || target.empty()) {
        errno = ENOENT;
        return false;
    }
    if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    setErrnoFromLastError();
    return false;
}

bool seekFile(std::FILE* file, long long offset, int origin)
{
    return _fseeki64(file, offset, origin) == 0;
}

std::size_t lastPathSeparator(const std::string& path)
{
    return path.find_last_of("\\/");
}

} // namespace platform

#include "platform/ExecutablePath.h"

#include "platform/FileNameEncoding.h"

#include <windows.h>

#include <QString>

#include <vector>

namespace platform {

QByteArray runningExecutablePath()
{
    // The name may be longer than MAX_PATH (a "\\?\" path); the buffer grows until the whole name fits.
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD size = static_cast<DWORD>(path.size());
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), size);
        if (length == 0)
            return QByteArray();
        if (length < size)
            return fileNameBytes(QString::fromWCharArray(path.data(), static_cast<int>(length)));
        if (path.size() >= 32768) // the longest path the system has
            return QByteArray();
        path.resize(path.size() * 2);
    }
}

} // namespace platform

#include "platform/ExecutablePath.h"

#include <unistd.h>

#include <climits>

namespace platform {

QByteArray runningExecutablePath()
{
    char path[PATH_MAX + 1];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0 || length >= static_cast<ssize_t>(sizeof path - 1))
        return QByteArray();
    return QByteArray(path, static_cast<int>(length));
}

} // namespace platform

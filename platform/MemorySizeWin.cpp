#include "platform/MemorySize.h"

#include <windows.h>

namespace platform {

unsigned long long physicalMemoryBytes()
{
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? static_cast<unsigned long long>(status.ullTotalPhys) : 0;
}

} // namespace platform

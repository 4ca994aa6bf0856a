#include "platform/ScreenSize.h"

#include <windows.h>

namespace platform {

ScreenSize primaryScreenSize()
{
    return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

} // namespace platform

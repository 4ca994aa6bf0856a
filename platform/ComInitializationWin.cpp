#include "platform/ComInitialization.h"

#include <objbase.h>

namespace platform {

void initializeAutomationForThread()
{
    // The thread joins the multithreaded apartment; a thread that is already in one keeps it.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
}

} // namespace platform

#include "platform/ComInitialization.h"

namespace platform {

void initializeAutomationForThread()
{
    // The embedded spreadsheet application needs no per-thread set-up.
}

} // namespace platform

#pragma once

namespace platform {

/// Prepares the calling thread for automation objects (COM in the multithreaded model on Windows).
/// Nothing to do elsewhere. The result is not looked at and the thread is never uninitialised.
void initializeAutomationForThread();

} // namespace platform

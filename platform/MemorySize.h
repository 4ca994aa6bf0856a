#pragma once

namespace platform {

/// The machine's physical memory in bytes; 0 when it cannot be told.
unsigned long long physicalMemoryBytes();

} // namespace platform

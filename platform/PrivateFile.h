#pragma once

#include <cstdio>

namespace platform {

/// Creates a new file at `path` that only its owner may read or write, from the first byte on, and opens
/// it for writing in binary mode. Null when something already exists there (it is never replaced) or the
/// file cannot be created. For secrets, such as a release's signing key.
std::FILE* createPrivateFile(const char* path);

} // namespace platform

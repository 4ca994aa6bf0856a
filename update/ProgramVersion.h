#pragma once

/// This program's version ("7.0"), the one an update must be newer than. The executable carries it behind
/// release::kVersionMarker, where the release server reads it when the executable is published.
const char* programVersion();

#pragma once

namespace platform {

/// Whether standard error goes to a terminal (not a file or a pipe), where a line may be redrawn.
bool standardErrorIsTerminal();

/// Width of the terminal standard error goes to, in columns; 80 when it cannot be told.
int terminalColumns();

} // namespace platform

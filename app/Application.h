#pragma once

/// The program's entry function: fills the program's paths, keeps a single running copy, creates the
/// application object and the main window, and runs the event loop. Returns the loop's exit code.
int RunQuillmark(int argc, char** argv);

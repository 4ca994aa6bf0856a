#pragma once

/// Where the program and its own files lie, and the first command-line argument: fixed-size 8-bit texts
/// in the system's encoding, filled once by the entry function before any other thread starts and
/// only read afterwards.
struct AppPaths
{
    char firstArgument[32] = {};     // first argument after the program path, cut to 31 bytes
    char programPath[1024] = {};     // the program path as the command line gives it
    char programDir[1024] = {};      // programPath up to and including its last separator
    char settingsPath[1024] = {};    // programDir + "Quillmark.qmk"
    char updateArchivePath[1024] = {}; // programDir + "Quillmark.zip"
};

/// The process-wide paths.
extern AppPaths g_AppPaths;

/// Fills `paths` from the command line. Texts that do not fit are cut, never overrun.
void FillAppPaths(AppPaths& paths, int argc, const char* const* argv);

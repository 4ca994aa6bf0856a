#include "app/AppPaths.h"

#include "platform/FileAccess.h"

#include <cstring>

AppPaths g_AppPaths;

namespace {

template <std::size_t N>
void copyText(char (&field)[N], const char* text, std::size_t length)
{
    const std::size_t n = length < N - 1 ? length : N - 1;
    std::memcpy(field, text, n);
    field[n] = '\0';
}

template <std::size_t N>
void appendText(char (&field)[N], const char* text)
{
    const std::size_t used = std::strlen(field);
    const std::size_t length = std::strlen(text);
    const std::size_t n = length < N - 1 - used ? length : N - 1 - used;
    std::memcpy(field + used, text, n);
    field[used + n] = '\0';
}

} // namespace

void FillAppPaths(AppPaths& paths, int argc, const char* const* argv)
{
    paths = AppPaths();
    if (argc > 1 && argv[1])
        copyText(paths.firstArgument, argv[1], std::strlen(argv[1]));
    if (argc > 0 && argv[0])
        copyText(paths.programPath, argv[0], std::strlen(argv[0]));
    const std::size_t lastSeparator = platform::lastPathSeparator(paths.programPath);
    if (lastSeparator != std::string::npos)
        copyText(paths.programDir, paths.programPath, lastSeparator + 1);
    copyText(paths.settingsPath, paths.programDir, std::strlen(paths.programDir));
    appendText(paths.settingsPath, "Quillmark.qmk");
    copyText(paths.updateArchivePath, paths.programDir, std::strlen(paths.programDir));
    appendText(paths.updateArchivePath, "Quillmark.zip");
}

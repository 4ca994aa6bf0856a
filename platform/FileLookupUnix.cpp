#include "platform/FileLookup.h"

#include <cstring>
#include <dirent.h>
#include <fnmatch.h>
#include <memory>
#include <string>
#include <sys/stat.h>

namespace platform {

namespace {

struct DirCloser
{
    void operator()(DIR* dir) const { closedir(dir); }
};

// Only `*` and `?` are wildcards, as in the Windows file search: brackets and backslashes match themselves.
std::string wildcardPattern(const std::string& name)
{
    std::string pattern;
    for (const char c : name) {
        if (c == '[' || c == ']' || c == '\\')
            pattern += '\\';
        pattern += c;
    }
    return pattern;
}

bool anyNameMatches(const std::string& folder, const std::string& pattern)
{
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
    if (!dir)
        return false;
    while (const dirent* entry = readdir(dir.get())) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        if (fnmatch(pattern.c_str(), entry->d_name, 0) == 0)
            return true;
    }
    return false;
}

} // namespace

bool anyFileMatches(const char* path)
{
    if (!path || !*path)
        return false;
    const std::string text(path);
    if (text.back() == '/')
        return false;
    const std::size_t slash = text.find_last_of('/');
    const std::string name = slash == std::string::npos ? text : text.substr(slash + 1);
    if (name.find_first_of("*?") == std::string::npos) {
        struct stat info;
        return stat(path, &info) == 0;
    }
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : text.substr(0, slash);
    return anyNameMatches(folder, wildcardPattern(name));
}

bool makeExecutable(const char* path)
{
    struct stat info;
    if (!path || stat(path, &info) != 0)
        return false;
    // Execute permission follows read permission: owner, group and others who may read it may run it.
    const mode_t execute = (info.st_mode & S_IRUSR ? S_IXUSR : 0) | (info.st_mode & S_IRGRP ? S_IXGRP : 0) |
                           (info.st_mode & S_IROTH ? S_IXOTH : 0);
    return chmod(path, (info.st_mode & 07777) | execute) == 0;
}

} // namespace platform

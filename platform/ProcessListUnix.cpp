#include "platform/ProcessList.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <limits.h>
#include <memory>
#include <sstream>
#include <unistd.h>

namespace platform {

namespace {

struct DirCloser
{
    void operator()(DIR* dir) const { closedir(dir); }
};

std::string baseName(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The executable of a process: the target of /proc/PID/exe, or its command name when that link cannot
// be read (another user's process, or a kernel thread).
std::string executableOf(const std::string& pid)
{
    char target[PATH_MAX];
    const std::string proc = "/proc/" + pid;
    const ssize_t length = readlink((proc + "/exe").c_str(), target, sizeof target - 1);
    if (length > 0) {
        std::string path(target, static_cast<std::size_t>(length));
        // A replaced executable shows as "path (deleted)".
        const std::string deleted = " (deleted)";
        if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
            path.resize(path.size() - deleted.size());
        return baseName(path);
    }
    std::ifstream comm(proc + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

// The real user id of a process, from the "Uid:" line of its status (real, effective, saved, file
// system ids); empty when the process has gone.
std::string userOf(const std::string& pid)
{
    std::ifstream status("/proc/" + pid + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 4, "Uid:") == 0) {
            std::istringstream ids(line.substr(4));
            long real = -1;
            return ids >> real ? std::to_string(real) : std::string();
        }
    }
    return {};
}

} // namespace

bool listProcesses(std::vector<ProcessEntry>& processes)
{
    processes.clear();
    std::unique_ptr<DIR, DirCloser> proc(opendir("/proc"));
    if (!proc)
        return false;
    while (const dirent* entry = readdir(proc.get())) {
        const std::string name = entry->d_name;
        if (name.empty() || !std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isdigit(c); }))
            continue;
        processes.push_back({std::atol(name.c_str()), executableOf(name), userOf(name)});
    }
    std::sort(processes.begin(), processes.end(),
              [](const ProcessEntry& a, const ProcessEntry& b) { return a.id < b.id; });
    return true;
}

long currentProcessId()
{
    return static_cast<long>(::getpid());
}

std::string currentUser()
{
    return std::to_string(::getuid());
}

void terminateProcess(long id)
{
    ::kill(static_cast<pid_t>(id), SIGKILL);
}

const char* programExecutableName()
{
    return "Quillmark";
}

} // namespace platform

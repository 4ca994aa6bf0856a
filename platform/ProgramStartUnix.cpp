#include "platform/ProgramStart.h"

#include <fcntl.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/types.h>
#include <vector>

extern char** environ;

namespace platform {

namespace {

struct FileActions
{
    FileActions() { posix_spawn_file_actions_init(&actions); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
    posix_spawn_file_actions_t actions;
};

} // namespace

bool startProgram(const char* executablePath, const char* commandLine, int /*showState*/)
{
    if (!executablePath || !*executablePath)
        return false;
    std::vector<std::string> words{executablePath};
    std::istringstream line(commandLine ? commandLine : "");
    for (std::string word; line >> word;)
        words.push_back(word);
    std::vector<char*> arguments;
    for (std::string& word : words)
        arguments.push_back(word.data());
    arguments.push_back(nullptr);

    // Output nobody reads goes to /dev/null rather than to a pipe without a reader: writing into such a
    // pipe would end the child with SIGPIPE at its first warning.
    FileActions files;
    if (posix_spawn_file_actions_addopen(&files.actions, 1, "/dev/null", O_WRONLY, 0) != 0 ||
        posix_spawn_file_actions_adddup2(&files.actions, 1, 2) != 0)
        return false;
    pid_t child = 0;
    // glibc reports a program that cannot be executed through the result, not through a child that exits.
    return posix_spawn(&child, executablePath, &files.actions, nullptr, arguments.data(), environ) == 0;
}

} // namespace platform

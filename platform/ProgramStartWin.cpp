#include "platform/ProgramStart.h"

#include "platform/WidePath.h"

#include <windows.h>

#include <string>
#include <vector>

namespace platform {

bool startProgram(const char* executablePath, const char* commandLine, int showState)
{
    if (!executablePath || !*executablePath)
        return false;
    const std::wstring program = widePath(executablePath);
    if (program.empty())
        return false;
    // The command line a program parses begins with its own name: the arguments follow the quoted path
    // (a path cannot hold a quote), so that the first of them does not stand in for the program's name.
    const std::wstring arguments = commandLine ? utf16FromUtf8(commandLine) : std::wstring();
    const std::wstring line = L"\"" + utf16FromUtf8(executablePath) + L"\" " + arguments;
    std::vector<wchar_t> mutableLine(line.begin(), line.end()); // CreateProcessW may write into it
    mutableLine.push_back(L'\0');

    // Standard output and standard error go to a pipe whose reading end is closed at once: the program's
    // writes fail quietly, and nothing it writes can fill a buffer and hold it up. Only the writing end
    // is inherited.
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0))
        return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup;
    GetStartupInfoW(&startup);
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.wShowWindow = static_cast<WORD>(showState);
    PROCESS_INFORMATION process{};
    const BOOL created = CreateProcessW(program.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &process);
    CloseHandle(readEnd);
    CloseHandle(writeEnd);
    if (!created)
        return false;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return true;
}

} // namespace platform

#include "platform/ProcessList.h"

#include "platform/WidePath.h"

#include <windows.h>

#include <sddl.h>
#include <tlhelp32.h>

#include <cwchar>
#include <memory>
#include <type_traits>

namespace platform {

namespace {

struct HandleCloser
{
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

struct LocalFreer
{
    void operator()(void* memory) const { LocalFree(memory); }
};

// The account a process runs for, as the text of its security identifier (S-1-5-21-...), from the
// process's access token; empty when the process cannot be asked (another user's, or the system's).
std::string userOf(HANDLE process)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return {};
    const Handle tokenHandle(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size == 0)
        return {};
    auto buffer = std::make_unique<unsigned char[]>(size);
    if (!GetTokenInformation(token, TokenUser, buffer.get(), size, &size))
        return {};
    LPSTR text = nullptr;
    if (!ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid, &text))
        return {};
    const std::unique_ptr<char, LocalFreer> owned(text);
    return text;
}

std::string userOfProcess(DWORD id)
{
    const Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    return process ? userOf(process.get()) : std::string();
}

} // namespace

bool listProcesses(std::vector<ProcessEntry>& processes)
{
    processes.clear();
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    const Handle snapshotHandle(snapshot);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        // The bare file name of the executable, as UTF-8: "Quillmark.exe" compares byte for byte.
        processes.push_back({static_cast<long>(entry.th32ProcessID),
                             utf8FromUtf16(entry.szExeFile, std::wcslen(entry.szExeFile)),
                             userOfProcess(entry.th32ProcessID)});
    }
    return true;
}

long currentProcessId()
{
    return static_cast<long>(GetCurrentProcessId());
}

std::string currentUser()
{
    return userOf(GetCurrentProcess());
}

void terminateProcess(long id)
{
    const Handle process(OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(id)));
    if (process)
        TerminateProcess(process.get(), 0);
}

const char* programExecutableName()
{
    return "Quillmark.exe";
}

} // namespace platform

// Runs this machine's python3 for the Windows tests under Wine, as if it were a Windows program: the tests
// start it where they would start Python, with the same arguments, and get its standard output, standard
// error and exit status back. Wine starts Unix programs but neither waits for them nor hands back their
// output or exit status, so the bridge has a shell run Python with everything redirected into files,
// waits for the file of the status, and passes the files on. Arguments that are Windows paths become
// this machine's paths.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using UnixName = char*(CDECL*)(const wchar_t*);

std::string utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

// C:\users\x\Temp\a.xlsx -> /root/.wine/drive_c/users/x/Temp/a.xlsx; other arguments stay as they are.
std::string hostArgument(const std::wstring& argument, UnixName unixName)
{
    const bool path = argument.size() > 2 && argument[1] == L':' && (argument[2] == L'\\' || argument[2] == L'/');
    if (path && unixName) {
        if (char* name = unixName(argument.c_str())) {
            std::string host = name;
            HeapFree(GetProcessHeap(), 0, name);
            return host;
        }
    }
    return utf8(argument);
}

std::string quoted(const std::string& word)
{
    std::string out = "'";
    for (const char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string slurp(const std::string& windowsPath)
{
    std::ifstream in(windowsPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

int main()
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    const auto unixName =
        reinterpret_cast<UnixName>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
    if (!arguments || !unixName) {
        std::fputs("host_python: runs only under Wine\n", stderr);
        return 127;
    }
    const std::wstring work = std::wstring(L"Z:\\tmp\\host_python_") + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(work.c_str(), nullptr);
    const std::string hostWork = hostArgument(work, unixName);
    const std::string hostCurrent = [&] {
        wchar_t current[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, current);
        return hostArgument(current, unixName);
    }();

    std::string command = "cd " + quoted(hostCurrent) + " 2>/dev/null; /usr/bin/python3";
    for (int i = 1; i < count; ++i)
        command += " " + quoted(hostArgument(arguments[i], unixName));
    command += " </dev/null >" + quoted(hostWork + "/out") + " 2>" + quoted(hostWork + "/err") + "; echo $? >" +
               quoted(hostWork + "/status.part") + "; mv " + quoted(hostWork + "/status.part") + " " +
               quoted(hostWork + "/status");
    LocalFree(arguments);
    {
        std::ofstream script(utf8(work) + "\\run.sh", std::ios::binary);
        script << command << "\n";
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring line = L"Z:\\bin\\sh " + std::wstring(hostWork.begin(), hostWork.end()) + L"/run.sh";
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        std::fputs("host_python: cannot start /bin/sh\n", stderr);
        return 127;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // Wine does not wait for a Unix process: the status file appears, whole, when Python has ended.
    const std::string base = utf8(work) + "\\";
    for (int waited = 0; GetFileAttributesA((base + "status").c_str()) == INVALID_FILE_ATTRIBUTES; waited += 10) {
        if (waited > 30 * 60 * 1000) {
            std::fputs("host_python: python did not end\n", stderr);
            return 127;
        }
        Sleep(10);
    }

    const std::string out = slurp(base + "out"), err = slurp(base + "err"), status = slurp(base + "status");
    // Python's bytes as they are: no line feed of theirs becomes CR LF on the way.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fwrite(err.data(), 1, err.size(), stderr);
    for (const char* name : {"out", "err", "status", "run.sh"})
        DeleteFileA((base + name).c_str());
    RemoveDirectoryW(work.c_str());
    return status.empty() ? 127 : std::atoi(status.c_str());
}

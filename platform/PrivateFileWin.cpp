#include "platform/PrivateFile.h"

#include "platform/ProcessList.h"
#include "platform/WidePath.h"

#include <windows.h>

#include <sddl.h>

#include <fcntl.h>
#include <io.h>
#include <memory>
#include <string>

namespace platform {

namespace {

struct LocalFreer
{
    void operator()(void* memory) const { LocalFree(memory); }
};

// "D:P(A;;FA;;;<user>)": a protected access list (nothing inherited from the folder) that grants the
// current user full access and nobody else anything. Empty when the user cannot be told.
std::wstring ownerOnlyDescriptor()
{
    const std::string sid = currentUser(); // S-1-5-21-...: ASCII
    if (sid.empty())
        return {};
    return L"D:P(A;;FA;;;" + std::wstring(sid.begin(), sid.end()) + L")";
}

} // namespace

std::FILE* createPrivateFile(const char* path)
{
    if (!path || !*path)
        return nullptr;
    const std::wstring name = widePath(path);
    const std::wstring descriptorText = ownerOnlyDescriptor();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (name.empty() || descriptorText.empty() ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(descriptorText.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return nullptr;
    const std::unique_ptr<void, LocalFreer> ownedDescriptor(descriptor);

    // The access list comes with the file's creation, so no other user can open it even for a moment;
    // CREATE_NEW never replaces what is there.
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const HANDLE file =
        CreateFileW(name.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(file);
        DeleteFileW(name.c_str());
        return nullptr;
    }
    std::FILE* stream = _fdopen(fd, "wb");
    if (!stream) {
        _close(fd); // closes the handle too
        DeleteFileW(name.c_str());
    }
    return stream;
}

} // namespace platform

#include "platform/FileAccess.h"

namespace platform {

std::FILE* openFile(const std::string& path, const char* mode)
{
    return std::fopen(path.c_str(), mode);
}

bool removeFile(const std::string& path)
{
    return std::remove(path.c_str()) == 0;
}

bool replaceFile(const std::string& from, const std::string& to)
{
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool seekFile(std::FILE* file, long long offset, int origin)
{
    return fseeko(file, static_cast<off_t>(offset), origin) == 0;
}

std::size_t lastPathSeparator(const std::string& path)
{
    return path.find_last_of('/');
}

} // namespace platform

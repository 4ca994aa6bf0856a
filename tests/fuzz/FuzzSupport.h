#pragma once

// Shared by the fuzz targets: a private scratch folder for the files a target writes, and the input cut
// into pieces.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace fuzz {

/// A folder of this process's own below $TMPDIR (or /tmp), ending in '/', made at the first call and
/// removed with what it holds when the run ends (not after a crash, whose files may help).
inline const std::string& scratchFolder()
{
    static const std::string folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/quillmark-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data()))
            std::abort();
        return pattern + '/';
    }();
    static const bool removedAtExit = std::atexit([] {
                                          std::error_code ignored;
                                          std::filesystem::remove_all(folder, ignored);
                                      }) == 0;
    (void)removedAtExit;
    return folder;
}

/// Reads the input from the front: single bytes for choices, then the rest.
class Input
{
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    /// The next byte, or 0 when the input is used up.
    std::uint8_t byte()
    {
        if (size_ == 0)
            return 0;
        --size_;
        return *data_++;
    }
    /// The next piece up to (not including) the next NUL byte, which is used up too; the rest when none.
    std::string piece()
    {
        const void* nul = std::memchr(data_, 0, size_);
        const std::size_t length = nul ? static_cast<const std::uint8_t*>(nul) - data_ : size_;
        std::string text(reinterpret_cast<const char*>(data_), length);
        const std::size_t used = nul ? length + 1 : length;
        data_ += used;
        size_ -= used;
        return text;
    }
    std::string rest()
    {
        std::string text(reinterpret_cast<const char*>(data_), size_);
        data_ += size_;
        size_ = 0;
        return text;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
};

/// A NUL-terminated copy of `text` in a heap block of exactly its size, so that reading past its end is
/// caught.
inline std::unique_ptr<char[]> exactCopy(const std::string& text)
{
    auto copy = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(copy.get(), text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

/// Writes `bytes` to `path`; aborts when that fails, as the target could not go on.
inline void writeFile(const std::string& path, const std::string& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose(file) != 0)
        std::abort();
}

} // namespace fuzz

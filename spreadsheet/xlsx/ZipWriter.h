#pragma once

#include "spreadsheet/model/Status.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace spreadsheet {

/// Writes a ZIP archive of deflated entries to an open file, one entry after the other. Sizes and
/// checksums are patched into each local header once the entry is complete; ZIP64 records are written
/// for an entry announced as large and wherever a size or offset needs them.
class ZipWriter
{
public:
    explicit ZipWriter(std::FILE* file) : file_(file) {}

    /// Starts an entry whose data (raw deflate) follows through writeData().
    bool beginEntry(const std::string& name, bool large);
    bool writeData(const char* data, std::size_t size);
    /// Ends the entry with the checksum and sizes of what was written.
    bool endEntry(std::uint32_t crc, std::uint64_t uncompressedSize);
    /// A whole small entry, compressed here.
    bool addEntry(const std::string& name, const std::string& content);
    /// Writes the central directory; the archive is complete after it.
    bool finish();

    const std::string& error() const { return error_; }

private:
    struct Entry
    {
        std::string name;
        std::uint64_t offset;
        std::uint32_t crc;
        std::uint64_t compressedSize;
        std::uint64_t uncompressedSize;
        bool large;
    };

    bool put(const std::string& bytes);
    bool fail(const std::string& message);

    std::FILE* file_;
    std::vector<Entry> entries_;
    std::uint64_t position_ = 0;
    std::uint64_t dataStart_ = 0;
    std::string error_;
};

} // namespace spreadsheet

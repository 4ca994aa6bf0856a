#include "spreadsheet/xlsx/ZipWriter.h"

#include "platform/FileAccess.h"

#include <zlib.h>

namespace spreadsheet {

namespace {

constexpr std::uint32_t kLocalHeader = 0x04034b50;
constexpr std::uint32_t kCentralHeader = 0x02014b50;
constexpr std::uint32_t kEndOfCentralDirectory = 0x06054b50;
constexpr std::uint32_t kZip64EndOfCentralDirectory = 0x06064b50;
constexpr std::uint32_t kZip64Locator = 0x07064b50;
constexpr std::uint16_t kFlagUtf8Names = 1 << 11;
constexpr std::uint16_t kDeflated = 8;
constexpr std::uint16_t kDosDate1980 = (0 << 9) | (1 << 5) | 1; // 1980-01-01: outputs do not vary with the clock
constexpr std::uint32_t kMax32 = 0xFFFFFFFFu;

void le16(std::string& out, std::uint16_t v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}
void le32(std::string& out, std::uint32_t v)
{
    le16(out, static_cast<std::uint16_t>(v & 0xFFFF));
    le16(out, static_cast<std::uint16_t>(v >> 16));
}
void le64(std::string& out, std::uint64_t v)
{
    le32(out, static_cast<std::uint32_t>(v & kMax32));
    le32(out, static_cast<std::uint32_t>(v >> 32));
}
std::uint32_t clamp32(std::uint64_t v) { return v >= kMax32 ? kMax32 : static_cast<std::uint32_t>(v); }

} // namespace

bool ZipWriter::put(const std::string& bytes)
{
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
        return fail("writing the workbook failed (disk full?)");
    position_ += bytes.size();
    return true;
}

bool ZipWriter::fail(const std::string& message)
{
    if (error_.empty())
        error_ = message;
    return false;
}

bool ZipWriter::beginEntry(const std::string& name, bool large)
{
    entries_.push_back({name, position_, 0, 0, 0, large});
    std::string header;
    le32(header, kLocalHeader);
    le16(header, large ? 45 : 20); // version needed: 4.5 for ZIP64
    le16(header, kFlagUtf8Names);
    le16(header, kDeflated);
    le16(header, 0); // time
    le16(header, kDosDate1980);
    le32(header, 0); // checksum and sizes: patched by endEntry()
    le32(header, large ? kMax32 : 0);
    le32(header, large ? kMax32 : 0);
    le16(header, static_cast<std::uint16_t>(name.size()));
    le16(header, large ? 20 : 0);
    header += name;
    if (large) {
        le16(header, 0x0001); // ZIP64 extended information
        le16(header, 16);
        le64(header, 0);
        le64(header, 0);
    }
    if (!put(header))
        return false;
    dataStart_ = position_;
    return true;
}

bool ZipWriter::writeData(const char* data, std::size_t size)
{
    if (std::fwrite(data, 1, size, file_) != size)
        return fail("writing the workbook failed (disk full?)");
    position_ += size;
    return true;
}

bool ZipWriter::endEntry(std::uint32_t crc, std::uint64_t uncompressedSize)
{
    Entry& entry = entries_.back();
    entry.crc = crc;
    entry.compressedSize = position_ - dataStart_;
    entry.uncompressedSize = uncompressedSize;
    if (!entry.large && (entry.compressedSize >= kMax32 || uncompressedSize >= kMax32))
        return fail("a part of the workbook grew past 4 GiB");

    std::string patch;
    le32(patch, crc);
    if (entry.large) {
        le32(patch, kMax32);
        le32(patch, kMax32);
    } else {
        le32(patch, static_cast<std::uint32_t>(entry.compressedSize));
        le32(patch, static_cast<std::uint32_t>(uncompressedSize));
    }
    if (!platform::seekFile(file_, static_cast<long long>(entry.offset + 14), SEEK_SET) ||
        std::fwrite(patch.data(), 1, patch.size(), file_) != patch.size())
        return fail("writing the workbook failed");
    if (entry.large) {
        std::string sizes;
        le64(sizes, uncompressedSize);
        le64(sizes, entry.compressedSize);
        if (!platform::seekFile(file_, static_cast<long long>(entry.offset + 30 + entry.name.size() + 4), SEEK_SET) ||
            std::fwrite(sizes.data(), 1, sizes.size(), file_) != sizes.size())
            return fail("writing the workbook failed");
    }
    if (std::fseek(file_, 0, SEEK_END) != 0)
        return fail("writing the workbook failed");
    return true;
}

bool ZipWriter::addEntry(const std::string& name, const std::string& content)
{
    uLongf bound = compressBound(static_cast<uLong>(content.size())) + 64;
    std::string compressed(bound, '\0');
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return fail("cannot start compression");
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    stream.avail_in = static_cast<uInt>(content.size());
    stream.next_out = reinterpret_cast<Bytef*>(compressed.data());
    stream.avail_out = static_cast<uInt>(compressed.size());
    const int rc = deflate(&stream, Z_FINISH);
    compressed.resize(compressed.size() - stream.avail_out);
    deflateEnd(&stream);
    if (rc != Z_STREAM_END)
        return fail("compression failed");
    const auto crc = static_cast<std::uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size())));
    return beginEntry(name, false) && writeData(compressed.data(), compressed.size()) &&
           endEntry(crc, content.size());
}

bool ZipWriter::finish()
{
    const std::uint64_t directoryStart = position_;
    for (const Entry& entry : entries_) {
        std::string extra;
        if (entry.large || entry.uncompressedSize >= kMax32)
            le64(extra, entry.uncompressedSize);
        if (entry.large || entry.compressedSize >= kMax32)
            le64(extra, entry.compressedSize);
        if (entry.offset >= kMax32)
            le64(extra, entry.offset);
        const bool zip64 = !extra.empty();

        std::string header;
        le32(header, kCentralHeader);
        le16(header, zip64 ? 45 : 20); // made by
        le16(header, zip64 ? 45 : 20); // needed
        le16(header, kFlagUtf8Names);
        le16(header, kDeflated);
        le16(header, 0);
        le16(header, kDosDate1980);
        le32(header, entry.crc);
        le32(header, entry.large ? kMax32 : clamp32(entry.compressedSize));
        le32(header, entry.large ? kMax32 : clamp32(entry.uncompressedSize));
        le16(header, static_cast<std::uint16_t>(entry.name.size()));
        le16(header, static_cast<std::uint16_t>(zip64 ? extra.size() + 4 : 0));
        le16(header, 0); // comment
        le16(header, 0); // disk
        le16(header, 0); // internal attributes
        le32(header, 0); // external attributes
        le32(header, clamp32(entry.offset));
        header += entry.name;
        if (zip64) {
            le16(header, 0x0001);
            le16(header, static_cast<std::uint16_t>(extra.size()));
            header += extra;
        }
        if (!put(header))
            return false;
    }
    const std::uint64_t directorySize = position_ - directoryStart;
    const bool zip64End = directoryStart >= kMax32 || directorySize >= kMax32 || entries_.size() >= 0xFFFF;
    std::string end;
    if (zip64End) {
        const std::uint64_t recordStart = position_;
        le32(end, kZip64EndOfCentralDirectory);
        le64(end, 44);
        le16(end, 45);
        le16(end, 45);
        le32(end, 0);
        le32(end, 0);
        le64(end, entries_.size());
        le64(end, entries_.size());
        le64(end, directorySize);
        le64(end, directoryStart);
        le32(end, kZip64Locator);
        le32(end, 0);
        le64(end, recordStart);
        le32(end, 1);
    }
    const std::uint16_t count = entries_.size() >= 0xFFFF ? 0xFFFF : static_cast<std::uint16_t>(entries_.size());
    le32(end, kEndOfCentralDirectory);
    le16(end, 0);
    le16(end, 0);
    le16(end, count);
    le16(end, count);
    le32(end, clamp32(directorySize));
    le32(end, clamp32(directoryStart));
    le16(end, 0);
    return put(end) && std::fflush(file_) == 0;
}

} // namespace spreadsheet

#include "spreadsheet/xls/CompoundFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace spreadsheet {

namespace {

// A compound document of version 3: a 512-byte header, then sectors of 512 bytes numbered from 0. The
// one stream fills sectors 0 to S-1 in order, followed by the FAT (one 4-byte entry a sector: the next
// sector of its chain, or a mark), the DIFAT sectors that list the FAT sectors the header has no room
// for, and one directory sector. Only the header needs what is known at the end, so the stream goes to
// the file as it is produced and the header is written last, at offset 0.

constexpr std::uint32_t kSectorSize = 512;
constexpr std::uint32_t kIdsPerSector = kSectorSize / 4;
constexpr std::uint32_t kHeaderDifatIds = 109;
constexpr std::uint32_t kDifatIdsPerSector = kIdsPerSector - 1; // the last one chains to the next sector
// Smaller streams would belong in the mini stream; padding them up to this size makes that unnecessary.
constexpr std::uint64_t kMiniStreamCutoff = 4096;
// The largest stream a version-3 document may hold.
constexpr std::uint64_t kMaxStreamSize = 0x80000000;

constexpr std::uint32_t kDifatSector = 0xFFFFFFFC;
constexpr std::uint32_t kFatSector = 0xFFFFFFFD;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
constexpr std::uint32_t kNoEntry = 0xFFFFFFFF;

constexpr std::uint64_t sectorsFor(std::uint64_t bytes, std::uint64_t unit)
{
    return (bytes + unit - 1) / unit;
}

// Where everything goes, from the size of the stream.
struct Layout
{
    std::uint32_t streamSectors = 0;
    std::uint32_t fatSectors = 0;
    std::uint32_t difatSectors = 0;

    std::uint32_t firstFatSector() const { return streamSectors; }
    std::uint32_t firstDifatSector() const { return streamSectors + fatSectors; }
    std::uint32_t directorySector() const { return firstDifatSector() + difatSectors; }
    std::uint32_t sectorCount() const { return directorySector() + 1; }

    // The FAT entry of a sector: the stream is one chain, the directory another of one sector.
    std::uint32_t fatEntry(std::uint64_t sector) const
    {
        if (sector < streamSectors)
            return sector + 1 == streamSectors ? kEndOfChain : static_cast<std::uint32_t>(sector + 1);
        if (sector < firstDifatSector())
            return kFatSector;
        if (sector < directorySector())
            return kDifatSector;
        return sector == directorySector() ? kEndOfChain : kFreeSector;
    }

    // The i-th FAT sector's number, or a free mark past the last: the DIFAT's entries.
    std::uint32_t fatSector(std::uint64_t i) const
    {
        return i < fatSectors ? firstFatSector() + static_cast<std::uint32_t>(i) : kFreeSector;
    }
};

Layout layoutFor(std::uint64_t streamSize)
{
    Layout layout;
    layout.streamSectors = static_cast<std::uint32_t>(sectorsFor(streamSize, kSectorSize));
    // The FAT covers its own sectors and the DIFAT's too: grow it until it covers them all.
    layout.fatSectors = 1;
    for (;;) {
        layout.difatSectors = layout.fatSectors > kHeaderDifatIds
                                  ? static_cast<std::uint32_t>(
                                        sectorsFor(layout.fatSectors - kHeaderDifatIds, kDifatIdsPerSector))
                                  : 0;
        const auto needed = static_cast<std::uint32_t>(sectorsFor(layout.sectorCount(), kIdsPerSector));
        if (needed <= layout.fatSectors)
            return layout;
        layout.fatSectors = needed;
    }
}

using Sector = std::array<unsigned char, kSectorSize>;

void put16(unsigned char* at, std::uint16_t value)
{
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
}

void put32(unsigned char* at, std::uint32_t value)
{
    put16(at, static_cast<std::uint16_t>(value));
    put16(at + 2, static_cast<std::uint16_t>(value >> 16));
}

// Directory entries are 128 bytes: a name of at most 31 UTF-16 units, the type, the red-black tree's
// links, and the first sector and size of a stream. Times and class ids stay zero.
enum class EntryType : unsigned char
{
    Unused = 0,
    Stream = 2,
    Root = 5
};

void putEntry(unsigned char* at, const char* name, EntryType type, std::uint32_t child, std::uint32_t start,
              std::uint64_t size)
{
    std::memset(at, 0, 128);
    const std::size_t length = std::strlen(name);
    for (std::size_t i = 0; i < length; ++i)
        put16(at + 2 * i, static_cast<unsigned char>(name[i]));
    put16(at + 64, static_cast<std::uint16_t>(length ? 2 * (length + 1) : 0));
    at[66] = static_cast<unsigned char>(type);
    at[67] = type == EntryType::Unused ? 0 : 1; // black: a tree of one node
    put32(at + 68, kNoEntry);
    put32(at + 72, kNoEntry);
    put32(at + 76, child);
    put32(at + 116, start);
    put32(at + 120, static_cast<std::uint32_t>(size));
}

// A stream name the directory can hold: 1 to 31 printable ASCII characters, none of / \ : !
bool isStreamName(const char* name)
{
    const std::size_t length = std::strlen(name);
    return length >= 1 && length <= 31 && std::all_of(name, name + length, [](char c) {
               return c > ' ' && c < 127 && !std::strchr("/\\:!", c);
           });
}

Sector headerOf(const Layout& layout)
{
    static constexpr unsigned char kSignature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    Sector header{};
    std::memcpy(header.data(), kSignature, sizeof kSignature);
    put16(&header[24], 0x003E); // minor version
    put16(&header[26], 3);      // major version: 512-byte sectors
    put16(&header[28], 0xFFFE); // little-endian
    put16(&header[30], 9);      // sector size 2^9
    put16(&header[32], 6);      // mini sector size 2^6
    put32(&header[44], layout.fatSectors);
    put32(&header[48], layout.directorySector());
    put32(&header[56], static_cast<std::uint32_t>(kMiniStreamCutoff));
    put32(&header[60], kEndOfChain); // no mini FAT
    put32(&header[68], layout.difatSectors ? layout.firstDifatSector() : kEndOfChain);
    put32(&header[72], layout.difatSectors);
    for (std::uint32_t i = 0; i < kHeaderDifatIds; ++i)
        put32(&header[76 + 4 * i], layout.fatSector(i));
    return header;
}

// Writes to the file and remembers the first failure, with the system's words for it.
class Output
{
  public:
    explicit Output(std::FILE* file) : file_(file) {}

    bool write(const void* data, std::size_t size)
    {
        if (failed_)
            return false;
        if (size != 0 && std::fwrite(data, 1, size, file_) != size)
            fail();
        return !failed_;
    }
    bool write(const Sector& sector) { return write(sector.data(), sector.size()); }
    bool zeros(std::uint64_t count)
    {
        static const Sector kZeros{};
        for (; count > 0 && !failed_; count -= std::min<std::uint64_t>(count, kSectorSize))
            write(kZeros.data(), static_cast<std::size_t>(std::min<std::uint64_t>(count, kSectorSize)));
        return !failed_;
    }
    bool rewind()
    {
        if (!failed_ && std::fseek(file_, 0, SEEK_SET) != 0)
            fail();
        return !failed_;
    }
    bool flush()
    {
        if (!failed_ && std::fflush(file_) != 0)
            fail();
        return !failed_;
    }

    bool failed() const { return failed_; }
    const std::string& reason() const { return reason_; }

  private:
    void fail()
    {
        failed_ = true;
        reason_ = errno ? std::strerror(errno) : "write error";
    }

    std::FILE* file_;
    bool failed_ = false;
    std::string reason_;
};

// Everything after the stream's sectors: the FAT, the DIFAT and the directory.
void writeTables(Output& out, const Layout& layout, const char* streamName, std::uint64_t streamSize)
{
    Sector sector;
    for (std::uint64_t fat = 0; fat < layout.fatSectors; ++fat) {
        for (std::uint32_t i = 0; i < kIdsPerSector; ++i)
            put32(&sector[4 * i], layout.fatEntry(fat * kIdsPerSector + i));
        out.write(sector);
    }
    for (std::uint32_t difat = 0; difat < layout.difatSectors; ++difat) {
        const std::uint64_t first = kHeaderDifatIds + std::uint64_t(difat) * kDifatIdsPerSector;
        for (std::uint32_t i = 0; i < kDifatIdsPerSector; ++i)
            put32(&sector[4 * i], layout.fatSector(first + i));
        put32(&sector[4 * kDifatIdsPerSector],
              difat + 1 < layout.difatSectors ? layout.firstDifatSector() + difat + 1 : kEndOfChain);
        out.write(sector);
    }
    // Four entries a sector: the root (a storage whose only child is entry 1), the stream, two unused.
    putEntry(&sector[0], "Root Entry", EntryType::Root, 1, kEndOfChain, 0);
    putEntry(&sector[128], streamName, EntryType::Stream, kNoEntry, 0, streamSize);
    putEntry(&sector[256], "", EntryType::Unused, kNoEntry, 0, 0);
    putEntry(&sector[384], "", EntryType::Unused, kNoEntry, 0, 0);
    out.write(sector);
}

} // namespace

Status writeCompoundFile(std::FILE* file, const std::string& name, const char* streamName,
                         const std::function<Status(const StreamSink&)>& produce)
{
    if (!isStreamName(streamName))
        return Status::failure("cannot write " + name + ": \"" + streamName + "\" is not a stream name");

    Output out(file);
    // The header's place, written again once the stream's size is known.
    out.zeros(kSectorSize);
    std::uint64_t size = 0;
    bool tooLarge = false;
    const Status produced = produce([&](const char* data, std::size_t count) {
        if (count > kMaxStreamSize - size) {
            tooLarge = true;
            return false;
        }
        size += count;
        return out.write(data, count);
    });
    if (!produced.ok())
        return produced;
    if (tooLarge)
        return Status::failure("cannot write " + name + ": the stream is larger than 2 GiB");

    // A stream that ends inside a sector is padded to its end; one below the cutoff up to the cutoff.
    const std::uint64_t streamSize = std::max(size, kMiniStreamCutoff);
    const Layout layout = layoutFor(streamSize);
    out.zeros(std::uint64_t(layout.streamSectors) * kSectorSize - size);
    writeTables(out, layout, streamName, streamSize);
    out.rewind();
    out.write(headerOf(layout));
    out.flush();
    if (out.failed())
        return Status::failure("cannot write " + name + ": " + out.reason());
    return Status::success();
}

} // namespace spreadsheet

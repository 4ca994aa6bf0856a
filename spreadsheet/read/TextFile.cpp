#include "spreadsheet/read/TextFile.h"

#include "platform/FileAccess.h"
#include "spreadsheet/model/FileHandle.h"
#include "spreadsheet/read/EncodingDetection.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace spreadsheet {

namespace {

constexpr std::size_t kPieceBytes = 1 << 20;

// Opens a regular file for reading and tells its size (0 when it cannot be had: the reads decide then).
Status openRegularFile(const std::string& path, FileHandle& handle, std::uintmax_t& size)
{
    if (Status regular = checkRegularFile(path); !regular.ok())
        return regular;
    std::error_code error;
    const std::filesystem::path file = std::filesystem::u8path(path);
    handle.reset(platform::openFile(path, "rb"));
    if (!handle)
        return Status::failure("cannot open " + path + ": " + std::strerror(errno));
    size = std::filesystem::file_size(file, error);
    if (error)
        size = 0;
    return Status::success();
}

} // namespace

Status checkRegularFile(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(fs::u8path(path), error);
    if (error || !fs::exists(status))
        return Status::failure("cannot find " + path);
    switch (status.type()) {
    case fs::file_type::regular:
        return Status::success();
    case fs::file_type::directory:
        return Status::failure(path + " is a folder, not a file");
    case fs::file_type::fifo:
        return Status::failure(path + " is a named pipe (FIFO), not a file");
    case fs::file_type::block:
    case fs::file_type::character:
        return Status::failure(path + " is a device, not a file");
    case fs::file_type::socket:
        return Status::failure(path + " is a socket, not a file");
    default:
        return Status::failure(path + " is not a file");
    }
}

namespace {

Status readError(const std::string& path) { return Status::failure("cannot read " + path + ": " + std::strerror(errno)); }

} // namespace

Status readWholeFile(const std::string& path, std::string& bytes)
{
    FileHandle handle;
    std::uintmax_t size = 0;
    if (Status opened = openRegularFile(path, handle, size); !opened.ok())
        return opened;
    bytes.clear();
    bytes.resize(static_cast<std::size_t>(size));
    std::size_t got = std::fread(bytes.data(), 1, bytes.size(), handle.get());
    // The file may have grown or shrunk since its size was taken: read what is there now.
    if (got < bytes.size()) {
        bytes.resize(got);
    } else {
        char chunk[1 << 16];
        std::size_t more;
        while ((more = std::fread(chunk, 1, sizeof chunk, handle.get())) > 0)
            bytes.append(chunk, more);
    }
    if (std::ferror(handle.get()))
        return readError(path);
    return Status::success();
}

Status readTextFile(const std::string& path, TextEncoding encoding, std::string& text)
{
    FileHandle handle;
    std::uintmax_t size = 0;
    if (Status opened = openRegularFile(path, handle, size); !opened.ok())
        return opened;
    std::vector<char> piece(kPieceBytes);
    std::size_t got = std::fread(piece.data(), 1, piece.size(), handle.get());
    std::size_t skip = byteOrderMarkLength(std::string_view(piece.data(), got), encoding);

    text.clear();
    // UTF-16 and GB18030 take at most 1.5 bytes of UTF-8 per byte; reserved pages that are never written
    // are never really allocated.
    const auto expected = static_cast<std::size_t>(size);
    text.reserve(encoding == TextEncoding::Utf8 ? expected + 16 : expected + expected / 2 + 16);
    TextDecoder decoder(encoding);
    while (got > 0) {
        decoder.decode(piece.data() + skip, piece.data() + got, false, text);
        skip = 0;
        got = std::fread(piece.data(), 1, piece.size(), handle.get());
    }
    if (std::ferror(handle.get()))
        return readError(path);
    decoder.decode(nullptr, nullptr, true, text); // a character cut by the end of the file
    return Status::success();
}

} // namespace spreadsheet

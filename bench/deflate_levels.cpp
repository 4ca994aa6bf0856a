// Speed and size of the deflate libraries at several levels, on one core, the way the workbook writer
// uses them: 1 MiB chunks, each primed with the 32 KiB before it and ended on a byte boundary. ISA-L's
// rows are the writer's own compressor on one worker (its chunk checksums included); zlib's rows do the
// same with zlib; libdeflate, when built in, compresses each chunk on its own, as it has to (every call
// ends its stream and it takes no dictionary). The numbers behind the deflate level of the writer.
//
// usage: deflate_levels FILE...   (for instance sheet XML unpacked from a workbook)

#include "spreadsheet/xlsx/ParallelDeflate.h"

#include <isa-l/crc.h>
#include <zlib.h>
#if defined(QUILLMARK_HAVE_LIBDEFLATE)
#include <libdeflate.h>
#endif

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kChunk = 1 << 20;
constexpr std::size_t kWindow = 32 << 10;

// Compresses one chunk; returns its compressed size, 0 on failure.
using ChunkCompressor = std::function<std::size_t(const char* data, std::size_t size, const char* dictionary,
                                                  std::size_t dictionarySize, bool last, std::string& out)>;

std::size_t zlibChunk(int level, const char* data, std::size_t size, const char* dictionary,
                      std::size_t dictionarySize, bool last, std::string& out)
{
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return 0;
    if (dictionarySize > 0)
        deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(dictionary), static_cast<uInt>(dictionarySize));
    out.resize(deflateBound(&stream, static_cast<uLong>(size)) + 64);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
    const std::size_t used = out.size() - stream.avail_out;
    deflateEnd(&stream);
    return (last ? rc == Z_STREAM_END : rc == Z_OK) ? used : 0;
}

struct Result
{
    double seconds;
    std::size_t bytes;
};

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

Result runChunks(const std::string& input, const ChunkCompressor& compress)
{
    std::string out;
    std::size_t total = 0;
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t at = 0; at < input.size() || at == 0; at += kChunk) {
        const std::size_t size = std::min(kChunk, input.size() - at);
        const std::size_t primed = std::min(at, kWindow);
        const std::size_t n = compress(input.data() + at, size, input.data() + at - primed, primed,
                                       at + size >= input.size(), out);
        if (n == 0 && size > 0)
            return {0, 0};
        total += n;
        if (input.empty())
            break;
    }
    return {secondsSince(start), total};
}

Result runWriterDeflate(const std::string& input, int level)
{
    std::size_t total = 0;
    const auto start = std::chrono::steady_clock::now();
    spreadsheet::ParallelDeflate deflate(level, 1, [&total](const char*, std::size_t size) {
        total += size;
        return true;
    });
    deflate.write(input.data(), input.size());
    if (!deflate.finish().ok())
        return {0, 0};
    return {secondsSince(start), total};
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE...\n", argv[0]);
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
        const std::string input((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::printf("%s: %.1f MiB\n%-14s %10s %10s %12s\n", argv[i], input.size() / 1048576.0, "deflate",
                    "MB/s", "out MiB", "/ zlib 6");

        using Run = std::function<Result(const std::string&)>;
        std::vector<std::pair<std::string, Run>> rows;
        for (int level : {6, 1, 3})
            rows.emplace_back("zlib " + std::to_string(level), [level](const std::string& in) {
                return runChunks(in, [level](const char* d, std::size_t n, const char* p, std::size_t pn, bool last,
                                             std::string& out) { return zlibChunk(level, d, n, p, pn, last, out); });
            });
        for (int level = spreadsheet::ParallelDeflate::kMinLevel; level <= spreadsheet::ParallelDeflate::kMaxLevel;
             ++level)
            rows.emplace_back("isa-l " + std::to_string(level),
                              [level](const std::string& in) { return runWriterDeflate(in, level); });
#if defined(QUILLMARK_HAVE_LIBDEFLATE)
        for (int level : {1, 4, 6}) {
            std::shared_ptr<libdeflate_compressor> compressor(libdeflate_alloc_compressor(level),
                                                              libdeflate_free_compressor);
            rows.emplace_back("libdeflate " + std::to_string(level), [compressor](const std::string& in) {
                return runChunks(in, [&compressor](const char* d, std::size_t n, const char*, std::size_t, bool,
                                                   std::string& out) {
                    out.resize(libdeflate_deflate_compress_bound(compressor.get(), n));
                    return libdeflate_deflate_compress(compressor.get(), d, n, out.data(), out.size());
                });
            });
        }
#endif
        double zlib6 = 0;
        for (const auto& [name, runRow] : rows) {
            const Result result = runRow(input);
            if (zlib6 == 0)
                zlib6 = double(result.bytes);
            std::printf("%-14s %10.0f %10.1f %12.3f\n", name.c_str(),
                        result.seconds > 0 ? input.size() / result.seconds / 1e6 : 0.0, result.bytes / 1048576.0,
                        zlib6 > 0 ? result.bytes / zlib6 : 0.0);
        }
        const auto start = std::chrono::steady_clock::now();
        volatile std::uint32_t crc = crc32_gzip_refl(0, reinterpret_cast<const unsigned char*>(input.data()), input.size());
        (void)crc;
        const double crcSeconds = secondsSince(start);
        std::printf("%-14s %10.0f\n\n", "isa-l crc32", crcSeconds > 0 ? input.size() / crcSeconds / 1e6 : 0.0);
    }
    return 0;
}

#include "spreadsheet/xlsx/ParallelDeflate.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <cstring>

namespace spreadsheet {

namespace {

// Room in a chunk buffer: a chunk and the end of the row block that filled it.
constexpr std::size_t kBufferSize = (1 << 20) + (64 << 10);

// Chunk buffers, kept for the next stream of the process: a batch of small workbooks would otherwise
// fault in fresh memory for every chunk of every sheet, which costs more than formatting the sheet.
// Buffers keep their size; what they hold is the size their user records.
class BufferPool
{
public:
    std::string take()
    {
        {
            std::lock_guard<platform::Mutex> lock(mutex_);
            if (!free_.empty()) {
                std::string buffer = std::move(free_.back());
                free_.pop_back();
                return buffer;
            }
        }
        return std::string(kBufferSize, '\0');
    }

    void give(std::string&& buffer)
    {
        if (buffer.size() < kBufferSize || buffer.size() > 4 * kBufferSize)
            return; // not one of ours, or grown for a huge row: let it go
        std::lock_guard<platform::Mutex> lock(mutex_);
        if (free_.size() < kKept)
            free_.push_back(std::move(buffer));
    }

private:
    static constexpr std::size_t kKept = 16; // the chunks in flight of a stream on a few cores
    platform::Mutex mutex_;
    std::vector<std::string> free_;
};

BufferPool& bufferPool()
{
    static BufferPool pool;
    return pool;
}

} // namespace

struct ParallelDeflate::Job
{
    std::string input; // the first inputSize bytes are the chunk
    std::size_t inputSize = 0;
    std::string dictionary;
    bool last = false;
    std::string output; // the first outputSize bytes are the compressed chunk
    std::size_t outputSize = 0;
    std::uint32_t crc = 0;
    bool done = false;
    bool ok = false;
};

namespace {

/// One worker's igzip stream and the level's working memory. Kept, like the buffers, for the next stream.
class Compressor
{
public:
    explicit Compressor(int level) : level_(level), levelBuffer_(levelBufferSize(level), '\0')
    {
        stream_ = std::make_unique<isal_zstream>();
    }

    int level() const { return level_; }

    // Compresses one chunk into raw deflate data that ends on a byte boundary (an empty stored block
    // after it, as a sync flush does) or, for the last chunk, ends the stream. Sets `used` to the bytes
    // of `output` that hold it.
    bool compress(const char* input, std::size_t size, const std::string& dictionary, bool last,
                  std::string& output, std::size_t& used)
    {
        isal_zstream& s = *stream_;
        isal_deflate_init(&s);
        s.level = static_cast<std::uint32_t>(level_);
        s.level_buf = reinterpret_cast<std::uint8_t*>(levelBuffer_.data());
        s.level_buf_size = static_cast<std::uint32_t>(levelBuffer_.size());
        s.flush = last ? NO_FLUSH : SYNC_FLUSH;
        s.end_of_stream = last ? 1 : 0;
        if (!dictionary.empty() &&
            isal_deflate_set_dict(&s, reinterpret_cast<std::uint8_t*>(const_cast<char*>(dictionary.data())),
                                  static_cast<std::uint32_t>(dictionary.size())) != COMP_OK)
            return false;
        s.next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(input));
        s.avail_in = static_cast<std::uint32_t>(size);
        // Text that does not compress comes out as stored blocks, a little larger than it went in.
        const std::size_t bound = size + size / 16 + 1024;
        if (output.size() < bound)
            output.resize(bound);
        used = 0;
        for (;;) {
            s.next_out = reinterpret_cast<std::uint8_t*>(output.data() + used);
            s.avail_out = static_cast<std::uint32_t>(output.size() - used);
            if (isal_deflate(&s) != COMP_OK)
                return false;
            used = output.size() - s.avail_out;
            const bool complete = last ? s.internal_state.state == ZSTATE_END : s.avail_in == 0 && s.avail_out > 0;
            if (complete)
                return true;
            output.resize(output.size() * 2); // the rare slow path: the first guess was too small
        }
    }

private:
    static std::size_t levelBufferSize(int level)
    {
        switch (level) {
        case 1: return ISAL_DEF_LVL1_DEFAULT;
        case 2: return ISAL_DEF_LVL2_DEFAULT;
        case 3: return ISAL_DEF_LVL3_DEFAULT;
        default: return 0;
        }
    }

    int level_;
    std::string levelBuffer_;
    std::unique_ptr<isal_zstream> stream_; // about 100 KiB: on the heap, not the worker's stack
};

// The compressors of finished streams, per level, for the workers of the next.
class CompressorPool
{
public:
    std::unique_ptr<Compressor> take(int level)
    {
        {
            std::lock_guard<platform::Mutex> lock(mutex_);
            for (auto it = free_.begin(); it != free_.end(); ++it) {
                if ((*it)->level() == level) {
                    std::unique_ptr<Compressor> compressor = std::move(*it);
                    free_.erase(it);
                    return compressor;
                }
            }
        }
        return std::make_unique<Compressor>(level);
    }

    void give(std::unique_ptr<Compressor> compressor)
    {
        std::lock_guard<platform::Mutex> lock(mutex_);
        if (free_.size() < kKept)
            free_.push_back(std::move(compressor));
    }

private:
    static constexpr std::size_t kKept = 8;
    platform::Mutex mutex_;
    std::vector<std::unique_ptr<Compressor>> free_;
};

CompressorPool& compressorPool()
{
    static CompressorPool pool;
    return pool;
}

} // namespace

ParallelDeflate::ParallelDeflate(int level, unsigned threads, Sink sink)
    : level_(level < kPassThrough ? kPassThrough : level > kMaxLevel ? kMaxLevel : level), sink_(std::move(sink)),
      maxInFlight_(2 * (threads == 0 ? 1 : threads) + 2)
{
    if (threads == 0)
        threads = 1;
    pending_ = bufferPool().take();
    for (unsigned i = 0; i < threads; ++i)
        workers_.emplace_back([this] { work(); });
}

ParallelDeflate::~ParallelDeflate()
{
    {
        std::lock_guard<platform::Mutex> lock(mutex_);
        stopping_ = true;
        queue_.clear(); // a stream given up half way: nothing more to compress
    }
    workAvailable_.notifyAll();
    for (std::thread& worker : workers_)
        worker.join();
    bufferPool().give(std::move(pending_));
}

void ParallelDeflate::write(const char* data, std::size_t size)
{
    while (size > 0) {
        const std::size_t room = kChunkSize - pendingSize_;
        const std::size_t n = size < room ? size : room;
        if (pending_.size() < pendingSize_ + n)
            pending_.resize(kBufferSize);
        std::memcpy(pending_.data() + pendingSize_, data, n);
        pendingSize_ += n;
        data += n;
        size -= n;
        if (pendingSize_ >= kChunkSize)
            submit(false);
    }
}

void ParallelDeflate::write(std::string& data, std::size_t size)
{
    if (pendingSize_ == 0 && size >= kChunkSize) {
        // A whole block: its buffer becomes the chunk, and the caller gets an empty one back.
        pending_.swap(data);
        pendingSize_ = size;
        submit(false);
    } else {
        write(data.data(), size);
    }
}

void ParallelDeflate::write(std::string& data)
{
    write(data, data.size());
    data.clear();
}

std::string ParallelDeflate::takeBuffer()
{
    return bufferPool().take();
}

void ParallelDeflate::giveBuffer(std::string&& buffer)
{
    bufferPool().give(std::move(buffer));
}

void ParallelDeflate::submit(bool last)
{
    auto job = std::make_shared<Job>();
    job->input.swap(pending_);
    job->inputSize = pendingSize_;
    pending_ = bufferPool().take();
    pendingSize_ = 0;
    job->output = bufferPool().take();
    job->dictionary = dictionary_;
    job->last = last;
    inputSize_ += job->inputSize;
    // The next chunk is primed with the end of this one.
    const char* const input = job->input.data();
    if (job->inputSize >= kWindow) {
        dictionary_.assign(input + job->inputSize - kWindow, kWindow);
    } else {
        dictionary_.append(input, job->inputSize);
        if (dictionary_.size() > kWindow)
            dictionary_.erase(0, dictionary_.size() - kWindow);
    }

    bool wake;
    {
        std::lock_guard<platform::Mutex> lock(mutex_);
        inFlight_.push_back(job);
        queue_.push_back(job);
        wake = idleWorkers_ > 0;
    }
    if (wake)
        workAvailable_.notifyOne();
    // Bound the memory held by chunks in flight: write out finished ones, and wait when too many.
    drain(inFlight_.size() >= maxInFlight_);
}

void ParallelDeflate::work()
{
    std::unique_ptr<Compressor> compressor;
    if (level_ != kPassThrough)
        compressor = compressorPool().take(level_);
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock<platform::Mutex> lock(mutex_);
            ++idleWorkers_;
            workAvailable_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            --idleWorkers_;
            if (queue_.empty())
                break;
            job = queue_.front();
            queue_.pop_front();
        }
        job->crc = crc32_gzip_refl(0, reinterpret_cast<const unsigned char*>(job->input.data()),
                                   static_cast<std::uint64_t>(job->inputSize));
        bool ok = true;
        if (compressor) {
            ok = compressor->compress(job->input.data(), job->inputSize, job->dictionary, job->last, job->output,
                                      job->outputSize);
        } else {
            job->output.swap(job->input);
            job->outputSize = job->inputSize;
        }
        bool wake;
        {
            std::lock_guard<platform::Mutex> lock(mutex_);
            job->ok = ok;
            job->done = true;
            // The writing thread waits only for the oldest chunk.
            wake = ownerWaiting_ && inFlight_.front() == job;
        }
        if (wake)
            jobDone_.notifyOne();
    }
    if (compressor)
        compressorPool().give(std::move(compressor));
}

void ParallelDeflate::drain(bool waitForOldest)
{
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock<platform::Mutex> lock(mutex_);
            if (inFlight_.empty())
                return;
            if (waitForOldest) {
                ownerWaiting_ = true;
                jobDone_.wait(lock, [&] { return inFlight_.front()->done; });
                ownerWaiting_ = false;
            }
            if (!inFlight_.front()->done)
                return;
            job = inFlight_.front();
            inFlight_.pop_front();
        }
        waitForOldest = false;
        if (job->ok && !failed_) {
            crc_ = static_cast<std::uint32_t>(crc32_combine(crc_, job->crc, static_cast<z_off_t>(job->inputSize)));
            outputSize_ += job->outputSize;
            if (!sink_(job->output.data(), job->outputSize))
                failed_ = true;
        } else {
            failed_ = true;
        }
        bufferPool().give(std::move(job->input));
        bufferPool().give(std::move(job->output));
    }
}

Status ParallelDeflate::finish()
{
    submit(true);
    while (true) {
        {
            std::lock_guard<platform::Mutex> lock(mutex_);
            if (inFlight_.empty())
                break;
        }
        drain(true);
    }
    return failed_ ? Status::failure("compressing the workbook failed or could not be written")
                   : Status::success();
}

} // namespace spreadsheet

#include "ParallelDeflate.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <zlib.h>

namespace spreadsheet {

struct ParallelDeflate::Job
{
    std::string input;
    std::size_t inputSize = 0;
    std::string dictionary;
    bool last = false;
    std::string output;
    std::uint32_t crc = 0;
    bool done = false;
    bool ok = false;
};

/// One worker's igzip stream and the level's working memory, reused for every chunk it compresses.
class ParallelDeflate::Compressor
{
public:
    explicit Compressor(int level) : level_(level), levelBuffer_(levelBufferSize(level), '\0')
    {
        stream_ = std::make_unique<isal_zstream>();
    }

    // Compresses one chunk into raw deflate data that ends on a byte boundary (an empty stored block
    // after it, as a sync flush does) or, for the last chunk, ends the stream.
    bool compress(const std::string& input, const std::string& dictionary, bool last, std::string& output)
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
        s.next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(input.data()));
        s.avail_in = static_cast<std::uint32_t>(input.size());
        // Text that does not compress comes out as stored blocks, a little larger than it went in.
        output.resize(input.size() + input.size() / 16 + 1024);
        std::size_t used = 0;
        for (;;) {
            s.next_out = reinterpret_cast<std::uint8_t*>(output.data() + used);
            s.avail_out = static_cast<std::uint32_t>(output.size() - used);
            if (isal_deflate(&s) != COMP_OK)
                return false;
            used = output.size() - s.avail_out;
            const bool complete = last ? s.internal_state.state == ZSTATE_END : s.avail_in == 0 && s.avail_out > 0;
            if (complete)
                break;
            output.resize(output.size() * 2); // the rare slow path: the first guess was too small
        }
        output.resize(used);
        return true;
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

ParallelDeflate::ParallelDeflate(int level, unsigned threads, Sink sink)
    : level_(level < kPassThrough ? kPassThrough : level > kMaxLevel ? kMaxLevel : level), sink_(std::move(sink)),
      maxInFlight_(2 * (threads == 0 ? 1 : threads) + 2)
{
    if (threads == 0)
        threads = 1;
    pending_.reserve(kChunkSize + (64 << 10));
    for (unsigned i = 0; i < threads; ++i)
        workers_.emplace_back([this] { work(); });
}

ParallelDeflate::~ParallelDeflate()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        queue_.clear(); // a stream given up half way: nothing more to compress
    }
    workAvailable_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
}

void ParallelDeflate::write(const char* data, std::size_t size)
{
    while (size > 0) {
        const std::size_t room = kChunkSize - pending_.size();
        const std::size_t n = size < room ? size : room;
        pending_.append(data, n);
        data += n;
        size -= n;
        if (pending_.size() >= kChunkSize)
            submit(false);
    }
}

void ParallelDeflate::write(std::string& data)
{
    if (pending_.empty() && data.size() >= kChunkSize) {
        pending_.swap(data);
        submit(false);
    } else {
        write(data.data(), data.size());
    }
    data.clear();
}

void ParallelDeflate::submit(bool last)
{
    auto job = std::make_shared<Job>();
    job->input.swap(pending_);
    pending_.clear();
    pending_.reserve(kChunkSize + (64 << 10));
    job->inputSize = job->input.size();
    job->dictionary = dictionary_;
    job->last = last;
    inputSize_ += job->input.size();
    // The next chunk is primed with the end of this one.
    if (job->input.size() >= kWindow) {
        dictionary_.assign(job->input, job->input.size() - kWindow, kWindow);
    } else {
        dictionary_ += job->input;
        if (dictionary_.size() > kWindow)
            dictionary_.erase(0, dictionary_.size() - kWindow);
    }

    {
        std::lock_guard<std::mutex> lock(mutex_);
        inFlight_.push_back(job);
        queue_.push_back(job);
    }
    workAvailable_.notify_one();
    // Bound the memory held by chunks in flight: write out finished ones, and wait when too many.
    drain(inFlight_.size() >= maxInFlight_);
}

void ParallelDeflate::work()
{
    std::unique_ptr<Compressor> compressor;
    if (level_ != kPassThrough)
        compressor = std::make_unique<Compressor>(level_);
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            workAvailable_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty())
                return;
            job = queue_.front();
            queue_.pop_front();
        }
        job->crc = crc32_gzip_refl(0, reinterpret_cast<const unsigned char*>(job->input.data()),
                                   static_cast<std::uint64_t>(job->input.size()));
        bool ok = true;
        if (compressor)
            ok = compressor->compress(job->input, job->dictionary, job->last, job->output);
        else
            job->output.swap(job->input);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            job->ok = ok;
            job->done = true;
        }
        jobDone_.notify_all();
    }
}

bool ParallelDeflate::drain(bool waitForOldest)
{
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (inFlight_.empty())
                return !failed_;
            if (waitForOldest)
                jobDone_.wait(lock, [&] { return inFlight_.front()->done; });
            if (!inFlight_.front()->done)
                return !failed_;
            job = inFlight_.front();
            inFlight_.pop_front();
        }
        waitForOldest = false;
        if (!job->ok || failed_) {
            failed_ = true;
            continue;
        }
        crc_ = static_cast<std::uint32_t>(crc32_combine(crc_, job->crc, static_cast<z_off_t>(job->inputSize)));
        outputSize_ += job->output.size();
        if (!sink_(job->output.data(), job->output.size()))
            failed_ = true;
    }
}

Status ParallelDeflate::finish()
{
    submit(true);
    while (true) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (inFlight_.empty())
                break;
        }
        drain(true);
    }
    return failed_ ? Status::failure("compressing the workbook failed or could not be written")
                   : Status::success();
}

} // namespace spreadsheet

#include "ParallelDeflate.h"

#include <zlib.h>

namespace spreadsheet {

struct ParallelDeflate::Job
{
    std::string input;
    std::string dictionary;
    bool last = false;
    std::string output;
    std::uint32_t crc = 0;
    bool done = false;
    bool ok = false;
};

namespace {

// Compresses one chunk into raw deflate data that ends on a byte boundary (or ends the stream).
bool deflateChunk(int level, const std::string& input, const std::string& dictionary, bool last,
                  std::string& output)
{
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    bool ok = true;
    if (!dictionary.empty()) {
        ok = deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(dictionary.data()),
                                  static_cast<uInt>(dictionary.size())) == Z_OK;
    }
    // Room for the worst case plus the empty stored block a sync flush appends.
    output.resize(deflateBound(&stream, static_cast<uLong>(input.size())) + 64);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    stream.avail_in = static_cast<uInt>(input.size());
    stream.next_out = reinterpret_cast<Bytef*>(output.data());
    stream.avail_out = static_cast<uInt>(output.size());
    if (ok) {
        const int rc = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
        ok = last ? rc == Z_STREAM_END : (rc == Z_OK && stream.avail_in == 0);
    }
    output.resize(output.size() - stream.avail_out);
    deflateEnd(&stream);
    return ok;
}

} // namespace

ParallelDeflate::ParallelDeflate(int level, unsigned threads, Sink sink)
    : level_(level), sink_(std::move(sink)), maxInFlight_(2 * (threads == 0 ? 1 : threads) + 2)
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
        job->crc = static_cast<std::uint32_t>(
            ::crc32(0L, reinterpret_cast<const Bytef*>(job->input.data()), static_cast<uInt>(job->input.size())));
        const bool ok = deflateChunk(level_, job->input, job->dictionary, job->last, job->output);
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
        crc_ = static_cast<std::uint32_t>(crc32_combine(crc_, job->crc, static_cast<z_off_t>(job->input.size())));
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

#include "platform/ThreadSync.h"

#include <condition_variable>

namespace platform {

struct Mutex::Native
{
    std::mutex mutex;
};

Mutex::Mutex() : native_(std::make_unique<Native>()) {}
Mutex::~Mutex() = default;

void Mutex::lock()
{
    native_->mutex.lock();
}

void Mutex::unlock()
{
    native_->mutex.unlock();
}

struct Condition::Native
{
    std::condition_variable condition;
};

Condition::Condition() : native_(std::make_unique<Native>()) {}
Condition::~Condition() = default;

void Condition::wait(std::unique_lock<Mutex>& lock)
{
    // The caller holds the inner mutex through `lock`: lend it to the standard wait and take it back.
    std::unique_lock<std::mutex> inner(lock.mutex()->native_->mutex, std::adopt_lock);
    native_->condition.wait(inner);
    inner.release();
}

void Condition::notifyOne()
{
    native_->condition.notify_one();
}

void Condition::notifyAll()
{
    native_->condition.notify_all();
}

} // namespace platform

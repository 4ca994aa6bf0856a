#pragma once

#include <memory>
#include <mutex>

namespace platform {

// A lock and a condition to wait on, for threads that hand work to one another many times a second. On
// Windows they are the system's slim reader/writer lock and condition variable, which wait and wake
// within the process; the C++ library's own wait on semaphores and events there, and every wait and
// wake through those costs a call into the system (under Wine, a round trip to its server process).

/// Meets BasicLockable: std::lock_guard and std::unique_lock take it.
class Mutex
{
public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock();
    void unlock();

private:
    friend class Condition;
    struct Native;
    std::unique_ptr<Native> native_;
};

class Condition
{
public:
    Condition();
    ~Condition();
    Condition(const Condition&) = delete;
    Condition& operator=(const Condition&) = delete;

    /// Releases the held lock, sleeps until woken (or spuriously), and takes the lock again.
    void wait(std::unique_lock<Mutex>& lock);
    template <typename Predicate>
    void wait(std::unique_lock<Mutex>& lock, Predicate ready)
    {
        while (!ready())
            wait(lock);
    }
    void notifyOne();
    void notifyAll();

private:
    struct Native;
    std::unique_ptr<Native> native_;
};

} // namespace platform

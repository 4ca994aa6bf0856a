#include "platform/ThreadSync.h"

#include <windows.h>

namespace platform {

struct Mutex::Native
{
    SRWLOCK lock = SRWLOCK_INIT;
};

Mutex::Mutex() : native_(std::make_unique<Native>()) {}
Mutex::~Mutex() = default;

void Mutex::lock()
{
    AcquireSRWLockExclusive(&native_->lock);
}

void Mutex::unlock()
{
    ReleaseSRWLockExclusive(&native_->lock);
}

struct Condition::Native
{
    CONDITION_VARIABLE condition = CONDITION_VARIABLE_INIT;
};

Condition::Condition() : native_(std::make_unique<Native>()) {}
Condition::~Condition() = default;

void Condition::wait(std::unique_lock<Mutex>& lock)
{
    // Without a time limit the sleep ends only when woken: FALSE with ERROR_TIMEOUT cannot come.
    SleepConditionVariableSRW(&native_->condition, &lock.mutex()->native_->lock, INFINITE, 0);
}

void Condition::notifyOne()
{
    WakeConditionVariable(&native_->condition);
}

void Condition::notifyAll()
{
    WakeAllConditionVariable(&native_->condition);
}

} // namespace platform

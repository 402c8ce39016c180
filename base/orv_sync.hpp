// RAII guards over OrvMutex and the global lock, and a small spin lock for
// the runtime's innermost critical sections.
#pragma once

#include <atomic>
#include <sched.h>

#include "orv/orv_mutex.h"

namespace orv {

class MutexGuard {
public:
    explicit MutexGuard(OrvMutex *mutex) : mutex_(mutex)
    {
        if (mutex_)
            orv_mutex_lock(mutex_, -1);
    }
    ~MutexGuard()
    {
        if (mutex_)
            orv_mutex_unlock(mutex_);
    }
    MutexGuard(const MutexGuard &) = delete;
    MutexGuard &operator=(const MutexGuard &) = delete;

private:
    OrvMutex *mutex_;
};

// Holds the global lock while it exists; a no-op before init and after shut-down.
class GlobalLockGuard {
public:
    GlobalLockGuard() { orv_global_lock(); }
    ~GlobalLockGuard() { orv_global_unlock(); }
    GlobalLockGuard(const GlobalLockGuard &) = delete;
    GlobalLockGuard &operator=(const GlobalLockGuard &) = delete;
};

// For critical sections of a few stores that take no other lock, call
// nothing and never log: an uncontended lock is one atomic exchange and the
// unlock a plain store. A holder that was preempted is waited for by yielding.
class SpinLock {
public:
    bool try_lock() { return !held_.exchange(true, std::memory_order_acquire); }
    void lock()
    {
        if (!try_lock())
            wait();
    }
    void unlock() { held_.store(false, std::memory_order_release); }

private:
    // Out of line, so an uncontended caller keeps its registers.
    [[gnu::noinline, gnu::cold]] void wait()
    {
        do {
            for (unsigned spins = 0; held_.load(std::memory_order_relaxed);)
                if (++spins > 64)
                    sched_yield();
        } while (!try_lock());
    }

    std::atomic<bool> held_{false};
};

class SpinGuard {
public:
    explicit SpinGuard(SpinLock &lock) : lock_(lock) { lock_.lock(); }
    ~SpinGuard() { lock_.unlock(); }
    SpinGuard(const SpinGuard &) = delete;
    SpinGuard &operator=(const SpinGuard &) = delete;

private:
    SpinLock &lock_;
};

} // namespace orv

// RAII guards over OrvMutex and the global lock, for the runtime's C++ code.
#pragma once

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

}  // namespace orv

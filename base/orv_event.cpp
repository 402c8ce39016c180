// Events for signalling between threads (the worker threads' stop signal among
// others). Each event owns its condition variable and mutex; `state` is read
// and written only under that mutex. Nothing here takes the global lock.
#include "orv/orv_event.h"

#include <pthread.h>
#include <sched.h>
#include <sys/time.h>

#include <atomic>
#include <new>

#include "orv/orv_log.h"
#include "orv/orv_mem.h"

struct OrvEvent {
    pthread_cond_t cond;
    pthread_mutex_t mutex;          // recursive; guards state
    pthread_mutexattr_t mutex_attr; // used only while the mutex is made
    int32_t state;                  // 1 set, 0 not set
    int32_t manual;                 // non-zero: stays set until reset
    // Sets between their unlock and the end of their wake-up call; destroy
    // waits for them, so a woken waiter may destroy the event at once.
    std::atomic<int32_t> waking;
};

namespace {

// Leak reports name the event record by this line.
constexpr int kEventTagLine = 141;

// Holds the event's mutex; `locked` tells whether taking it worked.
class EventLock {
public:
    explicit EventLock(OrvEvent *event) : event_(event), locked_(pthread_mutex_lock(&event->mutex) == 0) {}
    ~EventLock()
    {
        if (locked_)
            pthread_mutex_unlock(&event_->mutex);
    }
    EventLock(const EventLock &) = delete;
    EventLock &operator=(const EventLock &) = delete;

    bool locked() const { return locked_; }
    // Releases early so the caller can report a failed unlock.
    bool unlock()
    {
        locked_ = false;
        return pthread_mutex_unlock(&event_->mutex) == 0;
    }

private:
    OrvEvent *event_;
    bool locked_;
};

ResultCode null_event(const char *operation)
{
    orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: %s event null", operation);
    return ORV_ERR_INVALID_PARAM;
}

} // namespace

extern "C" {

ORV_API void orv_event_deadline(int64_t now_sec, int32_t now_usec, uint32_t ms, struct timespec *deadline)
{
    if (!deadline)
        return;
    int64_t sec = now_sec + ms / 1000;
    int64_t nsec = ((int64_t)(ms % 1000) * 1000 + now_usec) * 1000;
    // At most 1998999000 ns, so a single carry suffices.
    if (nsec > 999999999) {
        sec += 1;
        nsec -= 1000000000;
    }
    deadline->tv_sec = (time_t)sec;
    deadline->tv_nsec = (long)nsec;
}

#ifdef ORV_TIME64_SPLIT
// The plain name serves hosts built with a 32-bit time_t: their timespec is
// two 32-bit words, and a deadline past 2038 cannot be told to them.
struct OrvTimespec32 {
    int32_t tv_sec;
    int32_t tv_nsec;
};
ORV_API void orv_event_deadline_time32(int64_t now_sec, int32_t now_usec, uint32_t ms,
                                       OrvTimespec32 *deadline) __asm__("orv_event_deadline");

void orv_event_deadline_time32(int64_t now_sec, int32_t now_usec, uint32_t ms, OrvTimespec32 *deadline)
{
    if (!deadline)
        return;
    struct timespec wide;
    orv_event_deadline(now_sec, now_usec, ms, &wide);
    deadline->tv_sec = (int32_t)wide.tv_sec;
    deadline->tv_nsec = (int32_t)wide.tv_nsec;
}
#endif

ORV_API OrvEvent *orv_event_create(int32_t, int32_t manual, int32_t state, int32_t)
{
    auto *event = static_cast<OrvEvent *>(orv_mem_calloc_at(sizeof(OrvEvent), ORV_TAG_FILE, kEventTagLine));
    if (!event)
        return nullptr;

    pthread_condattr_t cond_attr;
    if (pthread_condattr_init(&cond_attr) != 0) {
        orv_mem_free(event);
        return nullptr;
    }
    int cond_rc = pthread_cond_init(&event->cond, &cond_attr);
    pthread_condattr_destroy(&cond_attr);
    if (cond_rc != 0) {
        orv_mem_free(event);
        return nullptr;
    }

    bool mutex_ok = false;
    if (pthread_mutexattr_init(&event->mutex_attr) == 0) {
        mutex_ok = pthread_mutexattr_settype(&event->mutex_attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
                   pthread_mutex_init(&event->mutex, &event->mutex_attr) == 0;
        pthread_mutexattr_destroy(&event->mutex_attr);
    }
    if (!mutex_ok) {
        pthread_cond_destroy(&event->cond);
        orv_mem_free(event);
        return nullptr;
    }

    new (&event->waking) std::atomic<int32_t>(0);
    event->manual = manual;
    event->state = state ? 1 : 0;
    return event;
}

ORV_API ResultCode orv_event_set(OrvEvent *event)
{
    if (!event)
        return null_event("set");
    EventLock lock(event);
    if (!lock.locked())
        return ORV_FAIL;
    if (event->state != 0)
        return lock.unlock() ? ORV_OK : ORV_FAIL;
    event->state = 1;
    // Waking after the unlock spares the woken thread from blocking on the
    // mutex we still hold; a waiter that finds the state taken waits again.
    event->waking.fetch_add(1, std::memory_order_relaxed);
    bool unlocked = lock.unlock();
    int rc = event->manual ? pthread_cond_broadcast(&event->cond) : pthread_cond_signal(&event->cond);
    event->waking.fetch_sub(1, std::memory_order_release);
    return unlocked && rc == 0 ? ORV_OK : ORV_FAIL;
}

ORV_API ResultCode orv_event_reset(OrvEvent *event)
{
    if (!event)
        return null_event("reset");
    EventLock lock(event);
    if (!lock.locked())
        return ORV_FAIL;
    event->state = 0;
    return lock.unlock() ? ORV_OK : ORV_FAIL;
}

ORV_API ResultCode orv_event_wait(OrvEvent *event, uint32_t ms)
{
    if (!event)
        return null_event("wait");
    EventLock lock(event);
    if (!lock.locked())
        return ORV_FAIL;

    // A wake-up that finds the state still clear (spurious, or another waiter
    // of an auto-reset event got there first) waits again until the deadline.
    if (ms == 0) {
        while (event->state == 0) {
            if (pthread_cond_wait(&event->cond, &event->mutex) != 0)
                return ORV_FAIL;
        }
    } else if (event->state == 0) {
        struct timeval now;
        gettimeofday(&now, nullptr);
        struct timespec deadline;
        orv_event_deadline(now.tv_sec, (int32_t)now.tv_usec, ms, &deadline);
        while (event->state == 0) {
            // A set that lands together with the time-out still counts.
            if (pthread_cond_timedwait(&event->cond, &event->mutex, &deadline) != 0 && event->state == 0)
                return ORV_FAIL;
        }
    }

    if (event->manual == 0)
        event->state = 0;
    return lock.unlock() ? ORV_OK : ORV_FAIL;
}

ORV_API void orv_event_destroy(OrvEvent *event)
{
    if (!event)
        return;
    while (event->waking.load(std::memory_order_acquire) != 0)
        sched_yield();
    pthread_cond_destroy(&event->cond);
    pthread_mutex_destroy(&event->mutex);
    orv_mem_free(event);
}

} // extern "C"

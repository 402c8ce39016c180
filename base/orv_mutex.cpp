// OrvMutex: a recursive pthread mutex on a plain malloc'd record. It never goes
// through the tracked allocator, whose own list lock is an OrvMutex.
#include "orv/orv_mutex.h"

#include <pthread.h>
#include <stdlib.h>

#include "orv_mem_internal.hpp"

struct OrvMutex {
    pthread_mutex_t mutex;
    pthread_mutexattr_t attr; // only used while the mutex is created
};

extern "C" OrvMutex *orv_mutex_create(int, int, int)
{
    auto *m = static_cast<OrvMutex *>(malloc(sizeof(OrvMutex)));
    if (!m)
        return nullptr;
    if (pthread_mutexattr_init(&m->attr) != 0) {
        free(m);
        return nullptr;
    }
    if (pthread_mutexattr_settype(&m->attr, PTHREAD_MUTEX_RECURSIVE) != 0 ||
        pthread_mutex_init(&m->mutex, &m->attr) != 0) {
        pthread_mutexattr_destroy(&m->attr);
        free(m);
        return nullptr;
    }
    pthread_mutexattr_destroy(&m->attr);
    return m;
}

extern "C" ResultCode orv_mutex_lock(OrvMutex *mutex, int32_t wait)
{
    if (!mutex)
        return ORV_WAIT_TIMEOUT;
    const int rc = wait == -1 ? pthread_mutex_lock(&mutex->mutex) : pthread_mutex_trylock(&mutex->mutex);
    return rc == 0 ? ORV_OK : ORV_WAIT_TIMEOUT;
}

extern "C" ResultCode orv_mutex_unlock(OrvMutex *mutex)
{
    if (mutex)
        pthread_mutex_unlock(&mutex->mutex);
    return ORV_OK;
}

extern "C" void orv_mutex_destroy(OrvMutex *mutex)
{
    if (!mutex)
        return;
    pthread_mutex_destroy(&mutex->mutex);
    free(mutex);
}

extern "C" void orv_global_lock(void)
{
    if (OrvMutex *lock = orv::global_lock())
        orv_mutex_lock(lock, -1);
}

extern "C" void orv_global_unlock(void)
{
    if (OrvMutex *lock = orv::global_lock())
        orv_mutex_unlock(lock);
}

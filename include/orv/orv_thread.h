/* Worker threads with a stop event and a table of per-thread values, the
 * thread-local link from a running thread to its OrvThread, and the
 * process-wide registry of values keyed by slot keys. */
#ifndef ORV_THREAD_H
#define ORV_THREAD_H

#include <pthread.h>

#include "orv_error.h"
#include "orv_event.h"

ORV_EXTERN_C_BEGIN

struct OrvHash;
typedef struct OrvThread OrvThread;

/* The thread function; it ends on its own, typically when the thread's event
 * is set by orv_thread_stop. */
typedef void (*OrvThreadProc)(void *arg);

/* The caller owns the storage (zero-filled before first use); the module fills
 * it. Slot values are not owned by the tables; a value of 0 reads as absent. */
struct OrvThread {
    ResultCode (*set_slot)(OrvThread *thread, uintptr_t key, uintptr_t value);
    uintptr_t (*get_slot)(OrvThread *thread, uintptr_t key);
    OrvThreadProc proc;
    void *arg;
    pthread_t handle;      /* 0 when there is no thread */
    pthread_t self;        /* written by the thread when it starts */
    OrvEvent *event;       /* auto-reset stop event */
    struct OrvHash *slots; /* this thread's slot table */
    int32_t started;       /* set to 1 by the thread when it starts */
};

/* Module state: the thread-local key, the registry and the default slot key.
 * Call init after the log is initialised (the slot tables use the global lock)
 * and uninit before the tracked memory shuts down. */
ORV_API ResultCode orv_thread_module_init(void);
ORV_API void orv_thread_module_uninit(void);

/* Makes the slot table and the stop event, then starts proc(arg). */
ORV_API ResultCode orv_thread_create(void *arg, OrvThreadProc proc, OrvThread *thread);
/* Sets the stop event, joins the thread and releases its event and slots.
 * Never from the thread it stops; does nothing for an object not running. */
ORV_API void orv_thread_stop(OrvThread *thread);
/* Starts the thread's proc and arg without an event or slots; 0 on failure. */
ORV_API pthread_t orv_thread_spawn(int32_t reserved, int32_t reserved2, OrvThread *thread);
ORV_API ResultCode orv_thread_join(pthread_t handle);
/* The platform join's own result: 0, or an error number. */
ORV_API int orv_thread_join_result(pthread_t handle);
ORV_API pthread_t orv_thread_self(void);
/* The calling thread's object; null in threads this module did not start. */
ORV_API OrvThread *orv_thread_current(void);

/* Slot tables, guarded by the global lock. */
ORV_API ResultCode orv_slot_set(struct OrvHash *table, uintptr_t key, uintptr_t value);
ORV_API uintptr_t orv_slot_get(struct OrvHash *table, uintptr_t key);
/* The registry; key 0 stands for the module's default key. */
ORV_API ResultCode orv_global_slot_set(uintptr_t key, uintptr_t value);
ORV_API uintptr_t orv_global_slot_get(uintptr_t key);

ORV_EXTERN_C_END

#endif

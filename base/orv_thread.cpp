// Worker threads, per-thread slot tables and the process-wide registry. The
// module owns the registry, the default slot key and every slot cell; values
// stored in cells belong to the callers. Slot tables, the registry pointer
// and each thread object's `slots` pointer are guarded by the global lock
// (when it exists); otherwise a thread object is shared by its creator and
// its thread without a lock: the creator writes `handle`, the thread `self`
// and `started`.
//
// Locks: the global lock -> the allocator's shard locks (a new cell and its
// hash entry are allocated under the global lock). Nothing logs under the
// global lock: a log line may wait for the dump log, whose holder may be
// waiting for the global lock. Failures are logged after it is released.
// The whole lock order: docs/architecture.md.
#include "orv/orv_thread.h"

#include <atomic>
#include <cerrno>
#include <pthread.h>
#include <utility>
#include <unistd.h>

#include "orv/orv_hash.h"
#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv_sync.hpp"

namespace {

// Leak reports name the slot cells and the default key by these lines.
constexpr int kCellTagLine = 58;
constexpr int kDefaultKeyTagLine = 229;
constexpr uint32_t kRegistryCapacity = 128;
constexpr uint32_t kThreadSlotCapacity = 1024;

pthread_key_t g_thread_key;
pthread_once_t g_thread_key_once = PTHREAD_ONCE_INIT;
std::atomic<bool> g_thread_key_ok{false};

// Both change only under the global lock; readers outside it load them once.
std::atomic<OrvHash *> g_registry{nullptr};
std::atomic<void *> g_default_slot_key{nullptr};

// The key is made once and kept: a thread may still hold its value when the
// module goes away, and a deleted key could be handed out again.
void make_thread_key()
{
    g_thread_key_ok = pthread_key_create(&g_thread_key, nullptr) == 0;
}
bool thread_key_ready()
{
    pthread_once(&g_thread_key_once, make_thread_key);
    return g_thread_key_ok.load();
}

uintptr_t resolve_key(uintptr_t key)
{
    return key ? key : reinterpret_cast<uintptr_t>(g_default_slot_key.load());
}

// Frees the cells of a table that nobody else reaches any more, then the table.
void destroy_slot_table(OrvHash *table)
{
    if (!table)
        return;
    for (void *cell = orv_hash_first(table); cell; cell = orv_hash_next(table))
        orv_mem_free(cell);
    orv_hash_destroy(table);
}

// Under the global lock: the cell of `key` in `table` gets `value`.
ResultCode set_locked(OrvHash *table, uintptr_t key, uintptr_t value)
{
    if (auto *cell = static_cast<uintptr_t *>(orv_hash_find(table, key))) {
        *cell = value;
        return ORV_OK;
    }
    auto *cell = static_cast<uintptr_t *>(orv_mem_alloc_at(sizeof(uintptr_t), ORV_TAG_FILE, kCellTagLine));
    if (!cell)
        return ORV_FAIL;
    *cell = value;
    ResultCode rc = orv_hash_insert(table, cell, key);
    if (ORV_FAILED(rc))
        orv_mem_free(cell);
    return rc;
}

uintptr_t get_locked(OrvHash *table, uintptr_t key)
{
    auto *cell = static_cast<uintptr_t *>(orv_hash_find(table, key));
    return cell ? *cell : 0;
}

// The table is read under the lock: orv_thread_stop destroys it under it.
ResultCode thread_set_slot(OrvThread *thread, uintptr_t key, uintptr_t value)
{
    if (thread) {
        orv::GlobalLockGuard lock;
        if (OrvHash *slots = thread->slots)
            return set_locked(slots, resolve_key(key), value);
    }
    orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: slot set on a thread without a slot table");
    return ORV_ERR_INVALID_PARAM;
}

uintptr_t thread_get_slot(OrvThread *thread, uintptr_t key)
{
    if (!thread)
        return 0;
    orv::GlobalLockGuard lock;
    OrvHash *slots = thread->slots;
    return slots ? get_locked(slots, resolve_key(key)) : 0;
}

void *thread_entry(void *param)
{
    auto *thread = static_cast<OrvThread *>(param);
    if (!thread) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: thread proc input null");
        return nullptr;
    }
    __atomic_store_n(&thread->self, pthread_self(), __ATOMIC_SEQ_CST);
    if (thread_key_ready())
        pthread_setspecific(g_thread_key, thread);
    orv_log(3, ORV_OK, "VRE: VR: Thread Proc!(pid:%d tid:%d)", (int)getpid(), (int)gettid());
    __atomic_store_n(&thread->started, 1, __ATOMIC_SEQ_CST);
    if (!thread->proc) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: thread proc thread func is null");
        return nullptr;
    }
    thread->proc(thread->arg);
    return nullptr;
}

} // namespace

extern "C" {

ORV_API ResultCode orv_thread_module_init(void)
{
    thread_key_ready();
    // Made outside the global lock, installed under it; a second init keeps
    // what it has rather than leaking it.
    OrvHash *registry = g_registry.load() ? nullptr : orv_hash_create(kRegistryCapacity);
    void *key = g_default_slot_key.load() ? nullptr : orv_mem_calloc_at(4, ORV_TAG_FILE, kDefaultKeyTagLine);
    bool complete;
    {
        orv::GlobalLockGuard lock;
        if (!g_registry.load() && registry)
            g_registry = std::exchange(registry, nullptr);
        if (!g_default_slot_key.load() && key)
            g_default_slot_key = std::exchange(key, nullptr);
        complete = g_registry.load() && g_default_slot_key.load();
    }
    orv_hash_destroy(registry);
    orv_free(key);
    return complete ? ORV_OK : ORV_FAIL;
}

ORV_API void orv_thread_module_uninit(void)
{
    OrvHash *registry;
    void *default_key;
    {
        orv::GlobalLockGuard lock;
        registry = g_registry.exchange(nullptr);
        default_key = g_default_slot_key.exchange(nullptr);
    }
    destroy_slot_table(registry);
    orv_free(default_key);
}

ORV_API ResultCode orv_thread_create(void *arg, OrvThreadProc proc, OrvThread *thread)
{
    if (!thread) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: thread create with null thread");
        return ORV_ERR_INVALID_PARAM;
    }
    thread->slots = orv_hash_create(kThreadSlotCapacity);
    if (!thread->slots) {
        orv_log(3, ORV_FAIL, "VRE: VR: thread slot table create fail");
        return ORV_FAIL;
    }
    thread->event = orv_event_create(0, 0, 0, 0);
    // A failed creation leaves nothing behind for the caller to leak.
    auto undo = [thread] {
        orv_event_destroy(thread->event);
        thread->event = nullptr;
        destroy_slot_table(thread->slots);
        thread->slots = nullptr;
        thread->handle = 0;
        return ORV_FAIL;
    };
    if (!thread->event) {
        orv_log(3, ORV_FAIL, "VRE: VR: thread event create fail");
        return undo();
    }
    thread->proc = proc;
    thread->arg = arg;
    thread->set_slot = thread_set_slot;
    thread->get_slot = thread_get_slot;
    thread_key_ready();

    pthread_t handle = 0;
    if (pthread_create(&handle, nullptr, thread_entry, thread) != 0) {
        orv_log(3, ORV_FAIL, "VRE: VR: thread create fail");
        return undo();
    }
    thread->handle = handle;
    return handle ? ORV_OK : ORV_FAIL;
}

ORV_API void orv_thread_stop(OrvThread *thread)
{
    if (!thread || !thread->event || !thread->handle)
        return;
    if (pthread_equal(thread->handle, pthread_self())) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: thread stop from the thread itself");
        return;
    }
    orv_event_set(thread->event);
    pthread_join(thread->handle, nullptr);
    thread->handle = 0;
    thread->self = 0;
    orv_event_destroy(thread->event);
    OrvHash *slots;
    {
        orv::GlobalLockGuard lock;
        slots = thread->slots;
        thread->slots = nullptr;
    }
    destroy_slot_table(slots);
    thread->event = nullptr;
}

ORV_API pthread_t orv_thread_spawn(int32_t, int32_t, OrvThread *thread)
{
    if (!thread) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: thread spawn with null thread");
        return 0;
    }
    thread_key_ready();
    pthread_t handle = 0;
    if (pthread_create(&handle, nullptr, thread_entry, thread) != 0)
        return 0;
    return handle;
}

ORV_API int orv_thread_join_result(pthread_t handle)
{
    // Joining handle 0 would crash the platform join.
    if (!handle)
        return ESRCH;
    return pthread_join(handle, nullptr);
}

ORV_API ResultCode orv_thread_join(pthread_t handle)
{
    orv_thread_join_result(handle);
    return ORV_OK;
}

ORV_API pthread_t orv_thread_self(void)
{
    return pthread_self();
}

ORV_API OrvThread *orv_thread_current(void)
{
    if (!thread_key_ready())
        return nullptr;
    return static_cast<OrvThread *>(pthread_getspecific(g_thread_key));
}

ORV_API ResultCode orv_slot_set(OrvHash *table, uintptr_t key, uintptr_t value)
{
    if (!table) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: slot set without a table");
        return ORV_ERR_INVALID_PARAM;
    }
    orv::GlobalLockGuard lock;
    return set_locked(table, key, value);
}

ORV_API uintptr_t orv_slot_get(OrvHash *table, uintptr_t key)
{
    if (!table)
        return 0;
    orv::GlobalLockGuard lock;
    return get_locked(table, key);
}

ORV_API ResultCode orv_global_slot_set(uintptr_t key, uintptr_t value)
{
    {
        // The registry is read under the lock so that uninit cannot free it between.
        orv::GlobalLockGuard lock;
        if (OrvHash *registry = g_registry.load())
            return set_locked(registry, resolve_key(key), value);
    }
    orv_log(3, ORV_ERR_OBJ_UNINIT, "VRE: VR: global slot set before thread module init");
    return ORV_ERR_OBJ_UNINIT;
}

ORV_API uintptr_t orv_global_slot_get(uintptr_t key)
{
    orv::GlobalLockGuard lock;
    OrvHash *registry = g_registry.load();
    return registry ? get_locked(registry, resolve_key(key)) : 0;
}

} // extern "C"

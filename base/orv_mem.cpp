// Tracked allocator: every runtime block sits behind a header in one
// process-wide doubly linked list, so shut-down can report and free leaks.
// The list mutex is the runtime's global lock; the walk at shut-down takes no
// lock and must run when no other thread allocates.
#include "orv/orv_mem.h"

#include <atomic>
#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

#include "orv/orv_log.h"
#include "orv_mem_internal.hpp"
#include "orv_sync.hpp"

namespace {

// Field order is fixed: the size is the last field and ends exactly where the
// data begins (resize reads it from just in front of the data). Never copy
// the struct whole: on 64-bit hosts its tail padding overlaps the data.
struct Header {
    char *tag;
    Header *prev;
    Header *next;
    void *data;
    uint32_t size;
};

constexpr size_t kHeaderBytes = offsetof(Header, size) + sizeof(uint32_t);  // 20 on 32-bit targets
constexpr size_t kAlign = alignof(std::max_align_t);
// Slack in front of the header so the data is aligned for any type.
constexpr size_t kLead = (kAlign - kHeaderBytes % kAlign) % kAlign;
constexpr uint32_t kMaxSize = 0x7FFFFFFFu - kHeaderBytes;
constexpr uint32_t kEntryLimit = 0x7FFFFFEFu;  // limit of the module's own entry points
constexpr size_t kTagMax = 256;

Header *g_first = nullptr;
Header *g_last = nullptr;
std::atomic<OrvMutex *> g_lock{nullptr};

Header *header_of(const void *data)
{
    return reinterpret_cast<Header *>(static_cast<char *>(const_cast<void *>(data)) - kHeaderBytes);
}

void *block_of(Header *h) { return reinterpret_cast<char *>(h) - kLead; }

// Tag text of at most 255 characters, formatted under the global lock before
// the list is locked, so the two uses never nest within one allocation.
void format_tag(char (&tag)[kTagMax], const char *sep, const char *file, int line)
{
    orv::GlobalLockGuard guard;
    snprintf(tag, sizeof tag, "%s%s%d", file ? file : "", sep, line);
}

void *tagged(uint32_t size, const char *file, int line, bool clear)
{
    char tag[kTagMax];
    format_tag(tag, "::", file, line);
    void *p = orv_mem_alloc_tag(size, tag);
    if (p && clear)
        memset(p, 0, size);
    return p;
}

}  // namespace

extern "C" {

const uint32_t orv_mem_max_size = kMaxSize;
const uint32_t orv_mem_header_size = kHeaderBytes;

void *orv_mem_alloc_tag(uint32_t size, const char *tag)
{
    if (size > kMaxSize)
        return nullptr;
    char *block = static_cast<char *>(malloc(kLead + kHeaderBytes + size));
    if (!block)
        return nullptr;
    auto *h = reinterpret_cast<Header *>(block + kLead);
    h->tag = nullptr;
    if (tag) {
        h->tag = strdup(tag);
        if (!h->tag) {
            free(block);
            return nullptr;
        }
    }
    h->size = size;
    h->prev = h->next = nullptr;
    h->data = block + kLead + kHeaderBytes;

    orv::MutexGuard guard(g_lock.load(std::memory_order_acquire));
    if (g_last) {
        g_last->next = h;
        h->prev = g_last;
        g_last = h;
    } else {
        g_first = g_last = h;
    }
    return h->data;
}

void *orv_mem_alloc_at(uint32_t size, const char *file, int line)
{
    return tagged(size, file, line, false);
}

void *orv_mem_calloc_at(uint32_t size, const char *file, int line)
{
    return tagged(size, file, line, true);
}

void orv_mem_free(void *data)
{
    if (!data)
        return;
    Header *h = header_of(data);
    {
        orv::MutexGuard guard(g_lock.load(std::memory_order_acquire));
        if (h->prev)
            h->prev->next = h->next;
        else
            g_first = h->next;
        if (h->next)
            h->next->prev = h->prev;
        else
            g_last = h->prev;
    }
    free(h->tag);
    free(block_of(h));
}

uint32_t orv_mem_size(const void *data)
{
    uint32_t size;
    memcpy(&size, static_cast<const char *>(data) - sizeof size, sizeof size);
    return size;
}

size_t orv_mem_live_count(void)
{
    orv::MutexGuard guard(g_lock.load(std::memory_order_acquire));
    size_t n = 0;
    for (Header *h = g_first; h; h = h->next)
        ++n;
    return n;
}

void *orv_mem_realloc_tag(void *old, uint32_t size, const char *tag)
{
    void *p = orv_mem_alloc_tag(size, tag);
    if (p && old) {
        const uint32_t old_size = orv_mem_size(old);
        memcpy(p, old, old_size < size ? old_size : size);
        orv_mem_free(old);
    }
    return p;
}

void *orv_mem_realloc_at(void *old, uint32_t size, const char *file, int line)
{
    char tag[kTagMax];
    format_tag(tag, "-", file, line);
    return orv_mem_realloc_tag(old, size, tag);
}

char *orv_mem_strndup_at(const char *src, uint32_t n, const char *file, int line)
{
    if (!src || n >= kMaxSize)
        return nullptr;
    auto *p = static_cast<char *>(orv_mem_alloc_at(n + 1, file, line));
    if (p) {
        memcpy(p, src, n);
        p[n] = '\0';
    }
    return p;
}

char *orv_mem_strdup_at(const char *text, const char *file, int line)
{
    if (!text)
        return nullptr;
    const size_t n = strlen(text);
    return n >= kMaxSize ? nullptr : orv_mem_strndup_at(text, static_cast<uint32_t>(n), file, line);
}

void *orv_mem_alloc_tag_checked(uint32_t size, const char *tag)
{
    return size > kEntryLimit ? nullptr : orv_mem_alloc_tag(size, tag);
}

void *orv_mem_calloc_tag(uint32_t size, const char *tag)
{
    void *p = orv_mem_alloc_tag(size, tag);
    if (p)
        memset(p, 0, size);
    return p;
}

void *orv_mem_memdup_tag(const void *src, uint32_t n, const char *tag)
{
    if (!src || n >= kEntryLimit)
        return nullptr;
    auto *p = static_cast<char *>(orv_mem_alloc_tag(n + 1, tag));
    if (p) {
        memcpy(p, src, n);
        p[n] = '\0';
    }
    return p;
}

char *orv_mem_strdup_tag(const char *text, const char *tag)
{
    if (!text)
        return nullptr;
    const size_t n = strlen(text);
    return n >= kEntryLimit ? nullptr : static_cast<char *>(orv_mem_memdup_tag(text, static_cast<uint32_t>(n), tag));
}

void orv_mem_shutdown(void)
{
    const LogSink sink = orv_log_sink();
    Header *h = g_first;
    while (h) {
        Header *next = h->next;
        if (h->tag) {
            if (sink) {
                char line[1024];
                snprintf(line, sizeof line, "memory manage: 0x%" PRIXPTR " , %d bytes, context = %s, ",
                             reinterpret_cast<uintptr_t>(h->data), static_cast<int>(h->size), h->tag);
                sink(line);
            }
            free(h->tag);
        }
        free(block_of(h));
        h = next;
    }
    g_first = g_last = nullptr;
    if (OrvMutex *lock = g_lock.exchange(nullptr, std::memory_order_acq_rel))
        orv_mutex_destroy(lock);
}

// Entry points tagged with this module's own position.

void *orv_malloc(uint32_t size)
{
    return size > kEntryLimit ? nullptr : orv_mem_alloc_at(size, ORV_TAG_FILE, __LINE__);
}

void *orv_calloc(uint32_t size)
{
    return size > kEntryLimit ? nullptr : orv_mem_calloc_at(size, ORV_TAG_FILE, __LINE__);
}

void *orv_realloc(void *old, uint32_t old_size, uint32_t new_size)
{
    if (new_size > kEntryLimit)
        return nullptr;
    void *p = orv_mem_calloc_at(new_size, ORV_TAG_FILE, __LINE__);
    if (p && old) {
        // Never copy more than either block holds, whatever the caller states.
        uint32_t n = old_size < new_size ? old_size : new_size;
        const uint32_t held = orv_mem_size(old);
        memcpy(p, old, n < held ? n : held);
        orv_mem_free(old);
    }
    return p;
}

void *orv_memdup(const void *src, uint32_t n)
{
    if (!src || n >= kEntryLimit)
        return nullptr;
    auto *p = static_cast<char *>(orv_mem_alloc_at(n + 1, ORV_TAG_FILE, __LINE__));
    if (p) {
        memcpy(p, src, n);
        p[n] = '\0';
    }
    return p;
}

char *orv_strdup(const char *text)
{
    if (!text)
        return nullptr;
    const size_t n = strlen(text);
    return n >= kEntryLimit ? nullptr : static_cast<char *>(orv_memdup(text, static_cast<uint32_t>(n)));
}

void *orv_mem_copy(const void *src, int32_t n)
{
    if (!src || n <= 0)
        return nullptr;
    void *p = orv_mem_alloc_at(static_cast<uint32_t>(n), ORV_TAG_FILE, __LINE__);
    if (p)
        memcpy(p, src, static_cast<size_t>(n));
    return p;
}

void *orv_mem_grow(void *ptr, uint32_t *capacity, uint32_t needed)
{
    if (!capacity)
        return nullptr;
    const uint32_t old_capacity = *capacity;
    if (needed < old_capacity)
        return ptr;
    uint32_t grown = (needed * 5u / 4u + 31u) & ~31u;
    if (grown < needed)
        grown = needed;
    void *p = orv_realloc(ptr, old_capacity, grown);
    // A failed grow leaves the old block and its capacity as they were.
    if (p)
        *capacity = grown;
    return p;
}

void orv_free(void *ptr)
{
    if (ptr)
        orv_mem_free(ptr);
}

void orv_free_ptr(void *ptr_address)
{
    if (!ptr_address)
        return;
    auto **slot = static_cast<void **>(ptr_address);
    if (*slot) {
        orv_mem_free(*slot);
        *slot = nullptr;
    }
}

void *orv_page_alloc(size_t *size, int executable)
{
    if (!size)
        return nullptr;
    const long page = sysconf(_SC_PAGESIZE);
    const size_t p = page > 0 ? static_cast<size_t>(page) : 4096u;
    if (*size > SIZE_MAX - p)
        return nullptr;
    const size_t rounded = (*size + p - 1) / p * p;
    int prot = PROT_READ | PROT_WRITE;
    if (executable)
        prot |= PROT_EXEC;
    void *addr = mmap(nullptr, rounded, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (addr == MAP_FAILED)
        return nullptr;
    *size = rounded;
    return addr;
}

int orv_page_free(void *address, size_t size) { return munmap(address, size); }

}  // extern "C"

bool orv::mem_start()
{
    g_first = g_last = nullptr;
    OrvMutex *lock = orv_mutex_create(0, 0, 0);
    if (!lock)
        return false;
    if (OrvMutex *old = g_lock.exchange(lock, std::memory_order_acq_rel))
        orv_mutex_destroy(old);
    return true;
}

OrvMutex *orv::global_lock() { return g_lock.load(std::memory_order_acquire); }

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
#include <initializer_list>
#include <sys/mman.h>
#include <unistd.h>

#include "orv/orv_log.h"
#include "orv_mem_internal.hpp"
#include "orv_sync.hpp"

namespace {

// Field order is fixed: tag, prev, next, data, then the 32-bit size, which
// ends exactly where the data begins (resize reads it from just in front of
// the data). On 32-bit targets the header is the plain 20 bytes; where that
// cannot keep both the pointers and the data aligned (64-bit hosts), padding
// goes between the data pointer and the size.
struct Header {
    char *tag;
    Header *prev;
    Header *next;
    void *data;
};

constexpr size_t kAlign = alignof(std::max_align_t);
constexpr size_t kPlainBytes = sizeof(Header) + sizeof(uint32_t);
constexpr size_t kSlack = (kAlign - kPlainBytes % kAlign) % kAlign;
// Slack in front of the header when the pointers stay aligned there, else inside.
constexpr size_t kLead = kSlack % alignof(Header) == 0 ? kSlack : 0;
constexpr size_t kHeaderBytes = kPlainBytes + (kSlack - kLead);
static_assert(sizeof(void *) != 4 || kHeaderBytes == 20);
static_assert(sizeof(void *) != 8 || kAlign != 16 || (kHeaderBytes == 48 && kLead == 0));
static_assert((kLead + kHeaderBytes) % kAlign == 0);
constexpr uint32_t kMaxSize = 0x7FFFFFFFu - kHeaderBytes;
constexpr uint32_t kEntryLimit = 0x7FFFFFEFu;  // limit of the module's own entry points
constexpr size_t kTagMax = 256;
constexpr size_t kTagLimit = 0x10000000;  // a caller tag longer than this is refused

Header *g_first = nullptr;
Header *g_last = nullptr;
std::atomic<OrvMutex *> g_lock{nullptr};

Header *header_of(const void *data)
{
    return reinterpret_cast<Header *>(static_cast<char *>(const_cast<void *>(data)) - kHeaderBytes);
}

// The tag copy shares the block: [tag, padded][lead][header][data]. One
// system allocation per block instead of two keeps the pair cheap.
void *block_of(Header *h) { return h->tag ? static_cast<void *>(h->tag) : reinterpret_cast<char *>(h) - kLead; }

uint32_t &size_of(Header *h) { return *reinterpret_cast<uint32_t *>(static_cast<char *>(h->data) - sizeof(uint32_t)); }

// "<file><sep><line>", at most 255 characters; returns the length. Formatted
// by hand: it is reentrant, so it needs neither the platform's formatting nor
// the global lock, and it is the larger part of an allocation's cost.
size_t format_tag(char (&tag)[kTagMax], const char *sep, const char *file, int line)
{
    size_t n = 0;
    for (const char *part : {file ? file : "", sep}) {
        const size_t len = strnlen(part, kTagMax - 1 - n);
        memcpy(tag + n, part, len);
        n += len;
    }
    char digits[12];
    size_t d = 0;
    unsigned magnitude = line < 0 ? 0u - static_cast<unsigned>(line) : static_cast<unsigned>(line);
    do {
        digits[d++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (line < 0)
        digits[d++] = '-';
    while (d && n < kTagMax - 1)
        tag[n++] = digits[--d];
    tag[n] = '\0';
    return n;
}

void *alloc_block(uint32_t size, const char *tag, size_t tag_length)
{
    if (size > kMaxSize || tag_length >= kTagLimit)
        return nullptr;
    const size_t tag_room = tag ? (tag_length + kAlign) / kAlign * kAlign : 0;
    char *block = static_cast<char *>(malloc(tag_room + kLead + kHeaderBytes + size));
    if (!block)
        return nullptr;
    auto *h = reinterpret_cast<Header *>(block + tag_room + kLead);
    h->tag = nullptr;
    if (tag) {
        memcpy(block, tag, tag_length + 1);
        h->tag = block;
    }
    h->prev = h->next = nullptr;
    h->data = block + tag_room + kLead + kHeaderBytes;
    size_of(h) = size;

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

// Copies n bytes into a block of n + 1 and terminates it; null stays null.
char *terminated_copy(void *block, const void *src, uint32_t n)
{
    auto *p = static_cast<char *>(block);
    if (p) {
        memcpy(p, src, n);
        p[n] = '\0';
    }
    return p;
}

void *tagged(uint32_t size, const char *file, int line, bool clear)
{
    char tag[kTagMax];
    const size_t length = format_tag(tag, "::", file, line);
    void *p = alloc_block(size, tag, length);
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
    return alloc_block(size, tag, tag ? strlen(tag) : 0);
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
    return terminated_copy(orv_mem_alloc_at(n + 1, file, line), src, n);
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
    return terminated_copy(orv_mem_alloc_tag(n + 1, tag), src, n);
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
                             reinterpret_cast<uintptr_t>(h->data), static_cast<int>(size_of(h)), h->tag);
                sink(line);
            }
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
    return terminated_copy(orv_mem_alloc_at(n + 1, ORV_TAG_FILE, __LINE__), src, n);
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

// Tracked allocator: every runtime block sits behind a header in one of a
// few lists, so shut-down can report and free leaks in allocation order.
//
// Locks: each list (shard) has a spin lock of its own, held only while a
// header is linked or unlinked; nothing else is done under it, so it is the
// innermost lock of the runtime and any other lock may be held around an
// allocation. The global lock (an OrvMutex made by mem_start) no longer
// guards the lists; this module only creates and destroys it. Order:
// global lock -> shard lock, never the other way.
//
// A thread appends to its own shard, picked once per thread in turn, so
// threads do not wait for each other; a block is unlinked from the shard it
// was linked into, whichever thread frees it. Each block carries a number
// from one process-wide counter, taken under the shard lock, so every shard
// is in allocation order and the report merges them by that number.
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
#include "orv_dump_internal.hpp"
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

struct Shard;

// Bookkeeping in front of the header, in the same system block.
struct Prefix {
    uint64_t order;      // from g_order: position in the report
    Shard *shard;        // the list the header is linked into
    uint32_t generation; // g_generation when it was linked
};

struct alignas(64) Shard {
    orv::SpinLock lock;
    Header *first = nullptr;
    Header *last = nullptr;
};

constexpr size_t kAlign = alignof(std::max_align_t);
constexpr size_t kPlainBytes = sizeof(Header) + sizeof(uint32_t);
constexpr size_t kSlack = (kAlign - kPlainBytes % kAlign) % kAlign;
// Slack in front of the header when the pointers stay aligned there, else inside.
constexpr size_t kLead = kSlack % alignof(Header) == 0 ? kSlack : 0;
constexpr size_t kHeaderBytes = kPlainBytes + (kSlack - kLead);
constexpr size_t kPrefixRoom = (sizeof(Prefix) + kAlign - 1) / kAlign * kAlign;
static_assert(sizeof(void *) != 4 || kHeaderBytes == 20);
static_assert(sizeof(void *) != 8 || kAlign != 16 || (kHeaderBytes == 48 && kLead == 0));
static_assert((kLead + kHeaderBytes) % kAlign == 0);
constexpr uint32_t kMaxSize = 0x7FFFFFFFu - kHeaderBytes;
constexpr uint32_t kEntryLimit = 0x7FFFFFEFu; // limit of the module's own entry points
constexpr size_t kTagMax = 256;               // 255 characters and the terminator

constexpr unsigned kShards = 16;
Shard g_shards[kShards];
std::atomic<unsigned> g_next_shard{0};
// Written by every allocation: a line of its own, so threads bounce only
// this line between them, not the ones they merely read.
template <class T>
struct alignas(64) OwnLine {
    T value;
};
OwnLine<std::atomic<uint64_t>> g_order{0};
// A fresh start forgets the lists; blocks linked before it are then freed
// without being unlinked, since their neighbours are no longer listed.
// Read by every call and written only at start and shut-down.
OwnLine<std::atomic<uint32_t>> g_generation{1};
std::atomic<OrvMutex *> g_lock{nullptr};

// The last file-and-line tag a thread made. Callers allocate from the same
// places over and over; a repeat costs one comparison of the file text
// instead of formatting the tag again.
// Plain data, zero at thread start, so reaching it needs no first-use check.
struct TagCache {
    const char *file; // null: nothing cached
    int line;
    bool hyphen;
    size_t file_length; // characters of the file in text
    size_t length;
    char text[kTagMax];
};

struct ThreadState {
    unsigned shard; // index + 1; 0 until the thread first allocates
    TagCache tag;
};
thread_local ThreadState t_state;

Shard &own_shard()
{
    unsigned i = t_state.shard;
    if (i == 0) {
        i = g_next_shard.fetch_add(1, std::memory_order_relaxed) % kShards + 1;
        t_state.shard = i;
    }
    return g_shards[i - 1];
}

Header *header_of(const void *data)
{
    return reinterpret_cast<Header *>(static_cast<char *>(const_cast<void *>(data)) - kHeaderBytes);
}

Prefix *prefix_of(Header *h)
{
    return reinterpret_cast<Prefix *>(reinterpret_cast<char *>(h) - kLead - kPrefixRoom);
}

// One system block per tracked block: [tag, padded][prefix][lead][header][data].
void *block_of(Header *h)
{
    return h->tag ? static_cast<void *>(h->tag) : static_cast<void *>(prefix_of(h));
}

uint32_t &size_of(Header *h)
{
    return *reinterpret_cast<uint32_t *>(static_cast<char *>(h->data) - sizeof(uint32_t));
}

// memcpy through the platform's call: with the length known to be small the
// compiler would inline a string instruction that is slow to start.
void copy_bytes(char *out, const char *in, size_t n)
{
#if defined(__GNUC__)
    asm("" : "+r"(n));
#endif
    memcpy(out, in, n);
}

// "<file>::<line>" (or "<file>-<line>"), cut at 255 characters. Formatted by
// hand: it is reentrant, so it needs neither the platform's formatting nor
// the global lock.
[[gnu::noinline]] const TagCache &make_tag(TagCache &c, const char *file, bool hyphen, int line)
{
    if (!file)
        file = "";
    size_t n = strnlen(file, kTagMax - 1);
    memcpy(c.text, file, n);
    c.file_length = n;
    for (const char *sep = hyphen ? "-" : "::"; *sep && n < kTagMax - 1; ++sep)
        c.text[n++] = *sep;
    char digits[12];
    char *d = digits + sizeof digits;
    unsigned magnitude = line < 0 ? 0u - static_cast<unsigned>(line) : static_cast<unsigned>(line);
    do {
        *--d = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (line < 0)
        *--d = '-';
    for (; d < digits + sizeof digits && n < kTagMax - 1; ++d)
        c.text[n++] = *d;
    c.text[n] = '\0';
    c.length = n;
    c.file = file;
    c.line = line;
    c.hyphen = hyphen;
    return c;
}

// Whether file still holds the cached text (a caller may rewrite the buffer
// its file pointer names).
inline bool same_file_text(const TagCache &c, const char *file)
{
    return strncmp(file, c.text, c.file_length) == 0 &&
           (c.file_length == kTagMax - 1 || file[c.file_length] == '\0');
}

// The repeat test stays inline; the text is compared too, since a caller may
// rewrite the buffer its file pointer names.
inline const TagCache &file_line_tag(const char *file, bool hyphen, int line)
{
    TagCache &c = t_state.tag;
    if (file && file == c.file && line == c.line && hyphen == c.hyphen && same_file_text(c, file))
        return c;
    return make_tag(c, file, hyphen, line);
}

// tag_length is at most 255: callers cut longer tags. A tag from a TagCache
// (whole_words) may be copied in whole 16-byte pieces: its buffer holds 256
// bytes, and the tag's room is a multiple of 16 (or of 8) bytes.
void *alloc_block(uint32_t size, const char *tag, size_t tag_length, bool whole_words = false)
{
    if (size > kMaxSize)
        return nullptr;
    const size_t tag_room = tag ? (tag_length + kAlign) / kAlign * kAlign : 0;
    char *block = static_cast<char *>(malloc(tag_room + kPrefixRoom + kLead + kHeaderBytes + size));
    if (!block)
        return nullptr;
    auto *prefix = reinterpret_cast<Prefix *>(block + tag_room);
    auto *h = reinterpret_cast<Header *>(block + tag_room + kPrefixRoom + kLead);
    h->tag = nullptr;
    if (tag) {
        if (whole_words) {
            static_assert(kTagMax % 16 == 0);
            for (size_t i = 0; i < tag_room; i += 8)
                memcpy(block + i, tag + i, 8);
        } else {
            copy_bytes(block, tag, tag_length);
        }
        block[tag_length] = '\0';
        h->tag = block;
    }
    h->next = nullptr;
    h->data = reinterpret_cast<char *>(h) + kHeaderBytes;
    size_of(h) = size;

    Shard &shard = own_shard();
    prefix->shard = &shard;
    orv::SpinGuard guard(shard.lock);
    // Numbered under the lock, so each list stays in order even when two
    // threads share a shard.
    prefix->order = g_order.value.fetch_add(1, std::memory_order_relaxed);
    prefix->generation = g_generation.value.load(std::memory_order_relaxed);
    h->prev = shard.last;
    if (shard.last)
        shard.last->next = h;
    else
        shard.first = h;
    shard.last = h;
    return h->data;
}

// Takes every list out of its shard; the caller then owns the headers.
void detach_lists(Header *(&heads)[kShards])
{
    for (unsigned i = 0; i < kShards; ++i) {
        orv::SpinGuard guard(g_shards[i].lock);
        heads[i] = g_shards[i].first;
        g_shards[i].first = g_shards[i].last = nullptr;
    }
}

// The new block of a resize gets what fits of the old one, which is freed;
// when there is no new block the old one stays.
void *resized(void *p, void *old, uint32_t size)
{
    if (p && old) {
        const uint32_t old_size = orv_mem_size(old);
        memcpy(p, old, old_size < size ? old_size : size);
        orv_mem_free(old);
    }
    return p;
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
    const TagCache &tag = file_line_tag(file, false, line);
    void *p = alloc_block(size, tag.text, tag.length, true);
    if (p && clear)
        memset(p, 0, size);
    return p;
}

} // namespace

extern "C" {

const uint32_t orv_mem_max_size = kMaxSize;
const uint32_t orv_mem_header_size = kHeaderBytes;

void *orv_mem_alloc_tag(uint32_t size, const char *tag)
{
    return alloc_block(size, tag, tag ? strnlen(tag, kTagMax - 1) : 0);
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
    Prefix *prefix = prefix_of(h);
    {
        Shard &shard = *prefix->shard;
        orv::SpinGuard guard(shard.lock);
        if (prefix->generation == g_generation.value.load(std::memory_order_relaxed)) {
            if (h->prev)
                h->prev->next = h->next;
            else
                shard.first = h->next;
            if (h->next)
                h->next->prev = h->prev;
            else
                shard.last = h->prev;
        }
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
    size_t n = 0;
    for (Shard &shard : g_shards) {
        orv::SpinGuard guard(shard.lock);
        for (Header *h = shard.first; h; h = h->next)
            ++n;
    }
    return n;
}

void *orv_mem_realloc_tag(void *old, uint32_t size, const char *tag)
{
    return resized(orv_mem_alloc_tag(size, tag), old, size);
}

void *orv_mem_realloc_at(void *old, uint32_t size, const char *file, int line)
{
    const TagCache &tag = file_line_tag(file, true, line);
    return resized(alloc_block(size, tag.text, tag.length, true), old, size);
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
    return n >= kEntryLimit ? nullptr
                            : static_cast<char *>(orv_mem_memdup_tag(text, static_cast<uint32_t>(n), tag));
}

void orv_mem_shutdown(void)
{
    // Dump logs live in tracked blocks: none may stay attached to a freed one.
    orv::dump_log_shutdown();
    Header *heads[kShards];
    detach_lists(heads);
    g_generation.value.fetch_add(1, std::memory_order_relaxed);
    const LogSink sink = orv_log_sink();
    for (;;) {
        // The oldest head of all lists comes next.
        Header **oldest = nullptr;
        for (Header *&head : heads)
            if (head && (!oldest || prefix_of(head)->order < prefix_of(*oldest)->order))
                oldest = &head;
        if (!oldest)
            break;
        Header *h = *oldest;
        *oldest = h->next;
        if (h->tag && sink) {
            char line[1024];
            snprintf(line, sizeof line, "memory manage: 0x%" PRIXPTR " , %d bytes, context = %s, ",
                     reinterpret_cast<uintptr_t>(h->data), static_cast<int>(size_of(h)), h->tag);
            sink(line);
        }
        free(block_of(h));
    }
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

int orv_page_free(void *address, size_t size)
{
    return munmap(address, size);
}

} // extern "C"

bool orv::mem_start()
{
    Header *forgotten[kShards];
    g_generation.value.fetch_add(1, std::memory_order_relaxed);
    detach_lists(forgotten);
    OrvMutex *lock = orv_mutex_create(0, 0, 0);
    if (!lock)
        return false;
    if (OrvMutex *old = g_lock.exchange(lock, std::memory_order_acq_rel))
        orv_mutex_destroy(old);
    return true;
}

OrvMutex *orv::global_lock()
{
    return g_lock.load(std::memory_order_acquire);
}

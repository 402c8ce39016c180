// Tracked allocator: every runtime block sits behind a header in one of a
// few lists, so shut-down can report and free leaks in allocation order.
//
// Locks: each list (shard) has a spin lock of its own, held only while a
// header is linked or unlinked; nothing else is done under it, so it is the
// innermost lock of the runtime and any other lock may be held around an
// allocation. The global lock (an OrvMutex made by mem_start) no longer
// guards the lists; this module only creates and destroys it. Order:
// global lock -> shard lock, never the other way (the whole order:
// docs/architecture.md).
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
    uint64_t order; // from g_order: position in the report
    // The list the header is linked into; null once a fresh start forgot it.
    // Read by free outside the shard lock, so accessed atomically.
    Shard *shard;
};

// On a line pair of its own (see g_order).
struct alignas(128) Shard {
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
constexpr size_t kFixedBytes = kPrefixRoom + kLead + kHeaderBytes;
static_assert(sizeof(void *) != 4 || kHeaderBytes == 20);
static_assert(sizeof(void *) != 8 || kAlign != 16 || (kHeaderBytes == 48 && kLead == 0));
static_assert((kLead + kHeaderBytes) % kAlign == 0);
constexpr uint32_t kMaxSize = 0x7FFFFFFFu - kHeaderBytes;
constexpr uint32_t kEntryLimit = 0x7FFFFFEFu; // limit of the module's own entry points
constexpr size_t kTagMax = 256;               // 255 characters and the terminator
// A block's tag room: whole 16-byte pieces (which keep the prefix aligned),
// at least two, with the terminator in the last one.
constexpr size_t kTagPiece = 16;
static_assert(kTagPiece % kAlign == 0 && kTagMax % kTagPiece == 0);
constexpr size_t tag_room(size_t length)
{
    return length < 2 * kTagPiece ? 2 * kTagPiece : (length + kTagPiece) / kTagPiece * kTagPiece;
}

constexpr unsigned kShards = 16;
Shard g_shards[kShards];
std::atomic<unsigned> g_next_shard{0};
// Written by every allocation: a line pair of its own (adjacent-line
// prefetch moves two lines), so threads bounce only this between them.
struct alignas(128) Order {
    std::atomic<uint64_t> next{0};
};
Order g_order;
std::atomic<OrvMutex *> g_lock{nullptr};

// The last file-and-line tag a thread made. Callers allocate from the same
// places over and over; a repeat costs one comparison of the file text
// instead of formatting the tag again.
// Plain data, zero at thread start, so reaching it needs no first-use check.
struct TagCache {
    // The file pointer of the last "::" tag, or of the last "-" tag; the
    // other is null. Both null: nothing cached.
    const char *file;
    const char *hyphen_file;
    int line;
    uint32_t room; // tag_room of text
    // The file text the tag was made from, cut at 255 (so a longer one is
    // never taken for a repeat), and the tag, zero from its terminator to
    // the end of its room.
    char file_text[kTagMax];
    char text[kTagMax];
};

struct ThreadState {
    Shard *shard; // null until the thread first allocates
    TagCache tag;
};
thread_local ThreadState t_state;

[[gnu::noinline]] Shard *pick_shard(ThreadState &ts)
{
    ts.shard = &g_shards[g_next_shard.fetch_add(1, std::memory_order_relaxed) % kShards];
    return ts.shard;
}

Shard *own_shard(ThreadState &ts)
{
    return ts.shard ? ts.shard : pick_shard(ts);
}

Header *header_of(const void *data)
{
    return reinterpret_cast<Header *>(static_cast<char *>(const_cast<void *>(data)) - kHeaderBytes);
}

Prefix *prefix_of(Header *h)
{
    return reinterpret_cast<Prefix *>(reinterpret_cast<char *>(h) - kLead - kPrefixRoom);
}

Shard *shard_of(const Prefix *prefix)
{
    return __atomic_load_n(&prefix->shard, __ATOMIC_RELAXED);
}

// One system block per tracked block: [tag room][prefix][lead][header][data].
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
// A thread's first such tag also picks its shard, so a repeat needs no check.
[[gnu::noinline]] void make_tag(ThreadState &ts, const char *file, bool hyphen, int line)
{
    own_shard(ts);
    TagCache &c = ts.tag;
    if (!file)
        file = "";
    size_t n = strnlen(file, kTagMax - 1);
    memcpy(c.file_text, file, n);
    c.file_text[n] = '\0';
    memcpy(c.text, file, n);
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
    c.room = static_cast<uint32_t>(tag_room(n));
    memset(c.text + n, 0, c.room - n);
    c.file = hyphen ? nullptr : file;
    c.hyphen_file = hyphen ? file : nullptr;
    c.line = line;
}

// A repeat is the same file pointer and line and the same file text (a
// caller may rewrite the buffer its file pointer names). strcmp reads the
// caller's text no further than its terminator or the first difference.
template <bool Hyphen>
inline void file_line_tag(ThreadState &ts, const char *file, int line)
{
    const TagCache &c = ts.tag;
    if (!file || file != (Hyphen ? c.hyphen_file : c.file) || line != c.line ||
        strcmp(file, c.file_text) != 0)
        make_tag(ts, file, Hyphen, line);
}

Header *header_at(char *block, size_t room)
{
    return reinterpret_cast<Header *>(block + room + kPrefixRoom + kLead);
}

// Under the shard lock: numbered there, so each list stays in order even
// when two threads share a shard.
inline void append(Shard &shard, Header *h, Prefix *prefix)
{
    prefix->order = g_order.next.fetch_add(1, std::memory_order_relaxed);
    Header *last = shard.last;
    h->prev = last;
    if (last)
        last->next = h;
    else
        shard.first = h;
    shard.last = h;
}

[[gnu::noinline]] void *append_waiting(Shard &shard, Header *h, Prefix *prefix)
{
    orv::SpinGuard guard(shard.lock);
    append(shard, h, prefix);
    return h->data;
}

// Fills in the header of a new system block whose tag (if any) is in place
// and appends it to the shard. A busy shard is waited for out of line.
inline void *link_block(char *block, char *tag, size_t room, uint32_t size, Shard &shard)
{
    auto *prefix = reinterpret_cast<Prefix *>(block + room);
    Header *h = header_at(block, room);
    h->tag = tag;
    h->next = nullptr;
    h->data = reinterpret_cast<char *>(h) + kHeaderBytes;
    size_of(h) = size;
    __atomic_store_n(&prefix->shard, &shard, __ATOMIC_RELAXED);
    if (!shard.lock.try_lock()) [[unlikely]]
        return append_waiting(shard, h, prefix);
    append(shard, h, prefix);
    shard.lock.unlock();
    return reinterpret_cast<char *>(h) + kHeaderBytes;
}

// tag_length is at most 255: callers cut longer tags.
void *alloc_block(uint32_t size, const char *tag, size_t tag_length)
{
    if (size > kMaxSize)
        return nullptr;
    const size_t room = tag ? tag_room(tag_length) : 0;
    char *block = static_cast<char *>(malloc(room + kFixedBytes + size));
    if (!block)
        return nullptr;
    if (tag) {
        copy_bytes(block, tag, tag_length);
        block[tag_length] = '\0';
    }
    return link_block(block, tag ? block : nullptr, room, size, *own_shard(t_state));
}

// The allocation most callers make: a file-and-line tag, mostly a repeat.
// The tag is copied in whole pieces from the cache, whose text is zero past
// its terminator.
template <bool Hyphen>
inline void *file_line_block(uint32_t size, const char *file, int line)
{
    if (size > kMaxSize)
        return nullptr;
    ThreadState *tsp = &t_state;
#if defined(__GNUC__)
    // Kept in a register: the compiler would work the address out anew
    // after each call.
    asm("" : "+r"(tsp));
#endif
    ThreadState &ts = *tsp;
    file_line_tag<Hyphen>(ts, file, line);
    const TagCache &c = ts.tag;
    const size_t room = c.room;
    char *block = static_cast<char *>(malloc(room + kFixedBytes + size));
    if (!block)
        return nullptr;
    memcpy(block, c.text, 2 * kTagPiece);
    for (size_t i = 2 * kTagPiece; i < room; i += kTagPiece)
        memcpy(block + i, c.text + i, kTagPiece);
    return link_block(block, block, room, size, *ts.shard);
}

// Unlinks h unless a fresh start forgot it (perhaps while the caller waited
// for the lock). Under the shard lock.
inline void unlink(Shard &shard, Header *h, const Prefix *prefix)
{
    if (!shard_of(prefix))
        return;
    if (h->prev)
        h->prev->next = h->next;
    else
        shard.first = h->next;
    if (h->next)
        h->next->prev = h->prev;
    else
        shard.last = h->prev;
}

[[gnu::noinline]] void free_waiting(Shard &shard, Header *h, const Prefix *prefix)
{
    {
        orv::SpinGuard guard(shard.lock);
        unlink(shard, h, prefix);
    }
    free(block_of(h));
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

// Empties every list; its blocks stay allocated but are marked unlisted, so
// freeing one later leaves the lists alone (its neighbours may be gone).
void forget_lists()
{
    for (Shard &shard : g_shards) {
        orv::SpinGuard guard(shard.lock);
        for (Header *h = shard.first; h; h = h->next)
            __atomic_store_n(&prefix_of(h)->shard, nullptr, __ATOMIC_RELAXED);
        shard.first = shard.last = nullptr;
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
    return file_line_block<false>(size, file, line);
}

void *orv_mem_calloc_at(uint32_t size, const char *file, int line)
{
    void *p = file_line_block<false>(size, file, line);
    if (p)
        memset(p, 0, size);
    return p;
}

void orv_mem_free(void *data)
{
    if (!data)
        return;
    Header *h = header_of(data);
    const Prefix *prefix = prefix_of(h);
    if (Shard *shard = shard_of(prefix)) {
        if (!shard->lock.try_lock()) [[unlikely]]
            return free_waiting(*shard, h, prefix);
        unlink(*shard, h, prefix);
        shard->lock.unlock();
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
    return resized(file_line_block<true>(size, file, line), old, size);
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
    forget_lists();
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

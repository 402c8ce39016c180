// Tracked allocator: every runtime block sits behind a header in a list, so
// shut-down can report and free leaks.
//
// Each thread owns a list (a shard) and links and unlinks its own blocks
// there with plain stores: no atomic read-modify-write on the common path,
// as a shared lock or counter alone cost more than malloc itself. A block
// freed by another thread goes onto its shard's freed stack (pushed under
// the shard's spin lock); the owner takes the whole stack on its next
// allocation or release. When a thread ends its shard is orphaned: every
// change to it is then made under its spin lock, until a new thread adopts
// it. A thread that cannot have a shard of its own uses the shared shard,
// always under its lock.
//
// Locks: a shard's spin lock is the innermost lock of the runtime (nothing
// else is done under it), so any other lock may be held around an
// allocation. The registry lock guards the orphan list and is never held
// with a shard lock. The global lock (an OrvMutex made by mem_start) guards
// no list; this module only creates and destroys it. Shut-down and a fresh
// start change every list behind the owners' backs: they must run when no
// other thread allocates or frees. The whole lock order:
// docs/architecture.md.
//
// Report order: a shard's list is in the order its blocks were made, so
// each thread's blocks are reported in that thread's order. Shards are
// merged by stamp: a shared tick that each allocation reads and that a
// thread advances when it takes a shard and then every kTickEvery blocks
// it links, so the tick's line is written rarely. Blocks of different
// threads a tick or more apart are reported in allocation order; within one
// tick they are not ordered.
#include "orv/orv_mem.h"

#include <atomic>
#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <pthread.h>
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
    union {
        uint64_t stamp;     // the tick when made: the report's order across shards
        Header *next_freed; // once freed by another thread: the next on the freed stack
    };
    // The list the header is linked into; null once a fresh start forgot it.
    Shard *shard;
};

// The invariants: a block is in exactly one list, or forgotten. Its list is
// changed only by the owner while `owned`, else only under `lock`. A block
// on the freed stack is still in the list (and counted as linked) until
// its owner takes the stack.
struct alignas(128) Shard {
    // The owner's line pair.
    Header *first = nullptr;
    Header *last = nullptr;
    // Blocks linked and unlinked (modulo the word): one writer at a time, so
    // no read-modify-write; read by orv_mem_live_count from any thread.
    std::atomic<size_t> linked{0};
    std::atomic<size_t> unlinked{0};
    Shard *next = nullptr;        // in the registry; fixed once published
    Shard *next_orphan = nullptr; // under g_registry_lock

    // Other threads write here: a line pair of its own, so a remote release
    // leaves the owner's list ends in its cache.
    alignas(128) orv::SpinLock lock;
    bool owned = false; // under lock
    std::atomic<Header *> freed{nullptr};
    std::atomic<size_t> freed_count{0}; // blocks on the freed stack
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

// For threads without a shard of their own; never owned, so always locked.
Shard g_shared;
// Every shard ever made, newest first; shards are never freed.
std::atomic<Shard *> g_registry{&g_shared};
orv::SpinLock g_registry_lock;
Shard *g_orphans = nullptr; // under g_registry_lock
pthread_once_t g_exit_once = PTHREAD_ONCE_INIT;
pthread_key_t g_exit_key;
bool g_exit_key_made = false;

// Read by every allocation; advanced when a thread takes a shard and once
// per kTickEvery blocks linked to a shard. A line pair of its own
// (adjacent-line prefetch moves two lines).
struct alignas(128) Tick {
    std::atomic<uint64_t> now{0};
};
Tick g_tick;
constexpr uint32_t kTickEvery = 64;
static_assert((kTickEvery & (kTickEvery - 1)) == 0,
              "a power of two keeps the pace across the wrap of the count");
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
    Shard *own; // null until the thread first allocates, or while it has no shard of its own
    TagCache tag;
};
thread_local ThreadState t_state;

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
[[gnu::noinline]] void make_tag(ThreadState &ts, const char *file, bool hyphen, int line)
{
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

inline void bump(std::atomic<size_t> &count)
{
    count.store(count.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

// By the owner, or under the shard lock when it has none. The stamp is the
// tick, read with a plain load (a thread's successive reads never go back,
// so its own blocks' stamps never fall), advanced every kTickEvery blocks.
inline void append(Shard &shard, Header *h, Prefix *prefix)
{
    const size_t made = shard.linked.load(std::memory_order_relaxed);
    shard.linked.store(made + 1, std::memory_order_relaxed);
    if (made % kTickEvery == kTickEvery - 1) [[unlikely]]
        prefix->stamp = g_tick.now.fetch_add(1, std::memory_order_relaxed) + 1;
    else
        prefix->stamp = g_tick.now.load(std::memory_order_relaxed);
    __atomic_store_n(&prefix->shard, &shard, __ATOMIC_RELAXED);
    Header *last = shard.last;
    h->prev = last;
    if (last)
        last->next = h;
    else
        shard.first = h;
    shard.last = h;
}

inline void unlink(Shard &shard, Header *h)
{
    if (h->prev)
        h->prev->next = h->next;
    else
        shard.first = h->next;
    if (h->next)
        h->next->prev = h->prev;
    else
        shard.last = h->prev;
    bump(shard.unlinked);
}

// Unlinks and frees what other threads freed. By the owner, or under the
// shard lock when it has none.
[[gnu::noinline]] void take_freed(Shard &shard)
{
    Header *h = shard.freed.exchange(nullptr, std::memory_order_acquire);
    size_t n = 0;
    for (; h; ++n) {
        Header *next = prefix_of(h)->next_freed;
        unlink(shard, h);
        free(block_of(h));
        h = next;
    }
    shard.freed_count.fetch_sub(n, std::memory_order_relaxed);
}

// Run by each thread that had a shard as it ends (a thread-specific key's
// destructor): from now on its shard is changed only under its lock.
void thread_ends(void *arg)
{
    auto *shard = static_cast<Shard *>(arg);
    {
        orv::SpinGuard guard(shard->lock);
        shard->owned = false;
        take_freed(*shard);
    }
    {
        orv::SpinGuard guard(g_registry_lock);
        shard->next_orphan = g_orphans;
        g_orphans = shard;
    }
    // Another key's destructor may still allocate: it takes a shard anew.
    t_state.own = nullptr;
}

void make_exit_key()
{
    g_exit_key_made = pthread_key_create(&g_exit_key, thread_ends) == 0;
}

// A host may unload the library while threads that allocated live on: their
// exit must not call into unmapped code.
[[gnu::destructor]] void drop_exit_key()
{
    if (g_exit_key_made)
        pthread_key_delete(g_exit_key);
}

// An orphan adopted, else a new shard. Null when there is neither memory for
// a shard nor a key to give it back when the thread ends.
[[gnu::noinline]] Shard *take_shard(ThreadState &ts)
{
    pthread_once(&g_exit_once, make_exit_key);
    if (!g_exit_key_made)
        return nullptr;
    Shard *shard;
    {
        orv::SpinGuard guard(g_registry_lock);
        shard = g_orphans;
        if (shard)
            g_orphans = shard->next_orphan;
    }
    if (!shard) {
        // Never freed, so the system block's own address need not be kept.
        auto *room = static_cast<char *>(malloc(sizeof(Shard) + alignof(Shard) - 1));
        if (!room)
            return nullptr;
        room += (alignof(Shard) - reinterpret_cast<uintptr_t>(room) % alignof(Shard)) % alignof(Shard);
        shard = new (room) Shard;
        shard->next = g_registry.load(std::memory_order_relaxed);
        while (!g_registry.compare_exchange_weak(shard->next, shard, std::memory_order_release,
                                                 std::memory_order_relaxed)) {
        }
    }
    if (pthread_setspecific(g_exit_key, shard) != 0) {
        orv::SpinGuard guard(g_registry_lock);
        shard->next_orphan = g_orphans;
        g_orphans = shard;
        return nullptr;
    }
    {
        orv::SpinGuard guard(shard->lock);
        shard->owned = true;
    }
    // A thread's blocks come after what other threads made before it started.
    g_tick.now.fetch_add(1, std::memory_order_relaxed);
    ts.own = shard;
    return shard;
}

// A thread's first allocation, or one without a shard of its own.
[[gnu::noinline]] void *link_elsewhere(ThreadState &ts, Header *h, Prefix *prefix)
{
    if (Shard *shard = take_shard(ts)) {
        append(*shard, h, prefix);
    } else {
        orv::SpinGuard guard(g_shared.lock);
        append(g_shared, h, prefix);
    }
    return h->data;
}

// Fills in the header of a new system block whose tag (if any) is in place
// and appends it to the thread's shard.
inline void *link_block(char *block, char *tag, size_t room, uint32_t size, ThreadState &ts)
{
    auto *prefix = reinterpret_cast<Prefix *>(block + room);
    Header *h = header_at(block, room);
    h->tag = tag;
    h->next = nullptr;
    h->data = reinterpret_cast<char *>(h) + kHeaderBytes;
    size_of(h) = size;
    Shard *shard = ts.own;
    if (!shard) [[unlikely]]
        return link_elsewhere(ts, h, prefix);
    if (shard->freed.load(std::memory_order_relaxed)) [[unlikely]]
        take_freed(*shard);
    append(*shard, h, prefix);
    return reinterpret_cast<char *>(h) + kHeaderBytes;
}

// A block of another thread's shard, or of one without an owner.
[[gnu::noinline]] void free_elsewhere(Shard &shard, Header *h)
{
    {
        orv::SpinGuard guard(shard.lock);
        if (shard.owned) {
            // Counted before it is pushed, so the owner never takes more than is counted.
            shard.freed_count.fetch_add(1, std::memory_order_relaxed);
            Header *top = shard.freed.load(std::memory_order_relaxed);
            do
                prefix_of(h)->next_freed = top;
            while (!shard.freed.compare_exchange_weak(top, h, std::memory_order_release,
                                                      std::memory_order_relaxed));
            return;
        }
        unlink(shard, h);
    }
    free(block_of(h));
}

// A forgotten block, one of another thread's shard, or the owner's release
// when other threads freed blocks of its shard.
[[gnu::noinline]] void free_other(Header *h)
{
    Shard *shard = shard_of(prefix_of(h));
    if (!shard) {
        free(block_of(h));
    } else if (shard != t_state.own) {
        free_elsewhere(*shard, h);
    } else {
        take_freed(*shard);
        unlink(*shard, h);
        free(block_of(h));
    }
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
    return link_block(block, tag ? block : nullptr, room, size, t_state);
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
    return link_block(block, block, room, size, ts);
}

// Empties every list; its blocks stay allocated but are marked unlisted, so
// freeing one later leaves the lists alone (its neighbours may be gone).
// Blocks other threads freed are freed now.
void forget_lists()
{
    for (Shard *shard = g_registry.load(std::memory_order_acquire); shard; shard = shard->next) {
        orv::SpinGuard guard(shard->lock);
        take_freed(*shard);
        for (Header *h = shard->first; h; h = h->next)
            __atomic_store_n(&prefix_of(h)->shard, nullptr, __ATOMIC_RELAXED);
        shard->first = shard->last = nullptr;
        shard->unlinked.store(shard->linked.load(std::memory_order_relaxed), std::memory_order_relaxed);
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
    Shard *shard = shard_of(prefix_of(h));
    // One test for all that is not the owner's plain release.
    if (!shard || shard != t_state.own || shard->freed.load(std::memory_order_relaxed)) [[unlikely]]
        return free_other(h);
    unlink(*shard, h);
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
    // Counters, not a walk: owners change their lists without a lock. Blocks
    // on a freed stack are gone for the caller. Exact when no thread is
    // allocating or releasing.
    size_t n = 0;
    for (Shard *shard = g_registry.load(std::memory_order_acquire); shard; shard = shard->next)
        n += shard->linked.load(std::memory_order_relaxed) - shard->unlinked.load(std::memory_order_relaxed) -
             shard->freed_count.load(std::memory_order_relaxed);
    // Read while threads work, the counts may disagree for a moment.
    return static_cast<ptrdiff_t>(n) > 0 ? n : 0;
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
    for (Shard *shard = g_registry.load(std::memory_order_acquire); shard; shard = shard->next) {
        orv::SpinGuard guard(shard->lock);
        take_freed(*shard); // released by their callers: not leaks
    }
    const LogSink sink = orv_log_sink();
    for (;;) {
        // The oldest head of all lists comes next; each list is in order.
        Shard *oldest = nullptr;
        for (Shard *shard = g_registry.load(std::memory_order_acquire); shard; shard = shard->next)
            if (shard->first && (!oldest || prefix_of(shard->first)->stamp < prefix_of(oldest->first)->stamp))
                oldest = shard;
        if (!oldest)
            break;
        Header *h = oldest->first;
        unlink(*oldest, h);
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

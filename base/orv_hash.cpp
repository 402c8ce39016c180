/* Hash tables: chained buckets whose count is fixed at creation from ten size
 * classes, numeric or text keys, caller-owned values or table-owned blobs.
 * Owns: the bucket array, the scratch buffer, entries, key copies and blobs.
 * No lock: every call, lookups included, writes into the table (the text hash
 * folds in the scratch buffer, walks move the cursor), so sharers serialise. */
#include "orv/orv_hash.h"

#include <stdlib.h>
#include <string.h>

#include <bit>

#include "orv/orv_gid.h"
#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv_clock_internal.hpp"

namespace {

struct SizeClass {
    uint32_t modulus;
    uint32_t multiplier; // floor(2^shift / modulus); kept, never consulted
    uint32_t reserved;
    uint32_t parameter;
    uint32_t shift;
    uint32_t slots;
};

constexpr SizeClass kSizeClasses[10] = {
    {127, 270549121, 0, 4, 35, 128},    {251, 273782775, 0, 8, 36, 256},
    {509, 270017590, 0, 16, 37, 512},   {1021, 269224198, 0, 32, 38, 1024},
    {2039, 134810155, 0, 32, 38, 2048}, {4093, 67158052, 0, 32, 38, 4096},
    {8191, 33558528, 0, 32, 38, 8192},  {16381, 16780288, 0, 32, 38, 16384},
    {32749, 8393474, 0, 32, 38, 32768}, {65521, 4195264, 0, 32, 38, 65536},
};

constexpr uint32_t kDefaultCapacity = 8192;
constexpr uint32_t kScratchSlack = 2048;
constexpr uint32_t kNoBucket = UINT32_MAX;

} // namespace

/* An entry sits on its bucket's chain; the first of a chain (its head) is
 * also on the table's head list. Non-heads have null head links; a head has
 * no previous chain entry. */
struct OrvHashEntry {
    void *value; // the caller's, never released here; null for blob entries
    OrvHashKey key;
    char *key_text;
    OrvHashEntry *prev_head;
    OrvHashEntry *next_head;
    OrvHashEntry *prev_chain;
    OrvHashEntry *next_chain;
    uint32_t reserved;
    int32_t blob_length;
    void *blob;
};

/* Invariants: buckets[i] is null or a head whose chain holds exactly the keys
 * of bucket i (i < modulus); the head list holds every head once, in the
 * order each became a head; count is the number of entries; keys are unique.
 * The cursor names the next head and the next chain entry the walk visits. */
struct OrvHash {
    uint32_t modulus;
    uint32_t multiplier;
    uint32_t reserved;
    uint32_t parameter;
    uint32_t shift;
    uint32_t slots;
    OrvHashEntry **buckets;
    OrvHashEntry *first_head;
    OrvHashEntry *last_head;
    uint32_t scratch_capacity;
    uint8_t *scratch;
    OrvHashEntry *cursor_head;
    OrvHashEntry *cursor_chain;
    int32_t count;
    uint32_t size_class; // row of kSizeClasses, to pick the fold
};

namespace {

void log_bad(const char *what)
{
    orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: orv_hash %s", what);
}

// Remainders by a compile-time modulus become multiplications; the switch is
// predicted perfectly since a table keeps its size class.
uint32_t bucket_of(const OrvHash *t, OrvHashKey key)
{
    switch (t->size_class) {
    case 0:
        return static_cast<uint32_t>(key % kSizeClasses[0].modulus);
    case 1:
        return static_cast<uint32_t>(key % kSizeClasses[1].modulus);
    case 2:
        return static_cast<uint32_t>(key % kSizeClasses[2].modulus);
    case 3:
        return static_cast<uint32_t>(key % kSizeClasses[3].modulus);
    case 4:
        return static_cast<uint32_t>(key % kSizeClasses[4].modulus);
    case 5:
        return static_cast<uint32_t>(key % kSizeClasses[5].modulus);
    case 6:
        return static_cast<uint32_t>(key % kSizeClasses[6].modulus);
    case 7:
        return static_cast<uint32_t>(key % kSizeClasses[7].modulus);
    case 8:
        return static_cast<uint32_t>(key % kSizeClasses[8].modulus);
    default:
        return static_cast<uint32_t>(key % kSizeClasses[9].modulus);
    }
}

uint32_t read_le32(const uint8_t *p)
{
    return p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// The 16-bit numbers are stored and reread as whole 16-bit units: rereading
// them as 32-bit words right after would defeat store forwarding.
void write_le16(uint8_t *p, uint32_t v)
{
    if constexpr (std::endian::native == std::endian::little) {
        const auto n = static_cast<uint16_t>(v);
        memcpy(p, &n, 2);
    } else {
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
    }
}

uint32_t read_le16(const uint8_t *p)
{
    if constexpr (std::endian::native == std::endian::little) {
        uint16_t n;
        memcpy(&n, p, 2);
        return n;
    } else {
        return p[0] | (static_cast<uint32_t>(p[1]) << 8);
    }
}

// One fold of the folding hash with the modulus known at compile time, so the
// remainders become multiplications (no divide instruction on many ARMv7
// cores). The first pass reads the text itself, zero-padding its last word.
template <size_t Row>
uint32_t fold(const char *text, uint32_t length, uint8_t *buf)
{
    constexpr uint32_t M = kSizeClasses[Row].modulus;
    const auto *src = reinterpret_cast<const uint8_t *>(text);
    uint32_t k = (length + 3) / 4;
    const uint32_t whole = length / 4;
    for (uint32_t i = 0; i < whole; ++i)
        write_le16(buf + 2 * i, read_le32(src + 4 * i) % M);
    if (whole < k) {
        uint8_t last[4] = {0, 0, 0, 0};
        memcpy(last, src + 4 * whole, length - 4 * whole);
        write_le16(buf + 2 * whole, read_le32(last) % M);
    }
    while (k > 1) {
        write_le16(buf + 2 * k, 0);
        k = (k + 1) / 2;
        for (uint32_t i = 0; i < k; ++i)
            write_le16(buf + 2 * i, (read_le16(buf + 4 * i) | (read_le16(buf + 4 * i + 2) << 16)) % M);
    }
    return read_le16(buf);
}

using FoldFn = uint32_t (*)(const char *, uint32_t, uint8_t *);
constexpr FoldFn kFolds[10] = {fold<0>, fold<1>, fold<2>, fold<3>, fold<4>,
                               fold<5>, fold<6>, fold<7>, fold<8>, fold<9>};

// The folding hash: the zero-padded text read as little-endian words, each
// replaced by its remainder as a 16-bit number, pairs of those refolded until
// one number is left. The empty text has no words: it always takes bucket 0.
uint32_t bucket_of_text(OrvHash *t, const char *text)
{
    const size_t length = strlen(text);
    if (length == 0)
        return 0;
    if (length > UINT32_MAX - kScratchSlack - 3)
        return kNoBucket;
    const uint32_t padded = (static_cast<uint32_t>(length) + 3u) & ~3u;
    if (padded > t->scratch_capacity) {
        orv_mem_free(t->scratch);
        t->scratch_capacity = 0;
        t->scratch = static_cast<uint8_t *>(ORV_ALLOC(padded + kScratchSlack));
        if (!t->scratch) {
            orv_log(3, ORV_ERR_MEM_ALLOC, "VRE: VR: orv_hash scratch of %u bytes", padded + kScratchSlack);
            return kNoBucket;
        }
        t->scratch_capacity = padded + kScratchSlack;
    }
    return kFolds[t->size_class](text, static_cast<uint32_t>(length), t->scratch);
}

OrvHashEntry *find_num(const OrvHash *t, OrvHashKey key)
{
    OrvHashEntry *e = t->buckets[bucket_of(t, key)];
    while (e && e->key != key)
        e = e->next_chain;
    return e;
}

OrvHashEntry *find_text(OrvHash *t, const char *key)
{
    const uint32_t b = bucket_of_text(t, key);
    if (b == kNoBucket)
        return nullptr;
    OrvHashEntry *e = t->buckets[b];
    while (e && (!e->key_text || strcmp(e->key_text, key) != 0))
        e = e->next_chain;
    return e;
}

void release_entry(OrvHashEntry *e)
{
    orv_free(e->key_text);
    orv_free(e->blob);
    orv_mem_free(e);
}

// Entry kinds of an insert: what to store besides the key.
struct InsertWhat {
    void *value = nullptr;
    bool with_blob = false;
    const void *bytes = nullptr;
    int32_t length = 0;
};

ResultCode insert(OrvHash *t, const InsertWhat &what, OrvHashKey key, const char *text)
{
    uint32_t b;
    if (text) {
        b = bucket_of_text(t, text);
        if (b == kNoBucket)
            return ORV_ERR_INVALID_PARAM;
    } else {
        b = bucket_of(t, key);
    }
    auto *e = static_cast<OrvHashEntry *>(ORV_CALLOC(sizeof(OrvHashEntry)));
    if (!e)
        return ORV_FAIL;
    e->value = what.value;
    e->key = text ? 0 : key;
    if (what.with_blob) {
        // A zero-length numeric blob still gets a block, so its get is non-null.
        e->blob = ORV_CALLOC(what.length > 0 ? what.length : 1);
        if (!e->blob) {
            orv_mem_free(e);
            return ORV_FAIL;
        }
        e->blob_length = what.length;
        if (what.bytes && what.length > 0)
            memcpy(e->blob, what.bytes, static_cast<size_t>(what.length));
    }
    if (text) {
        e->key_text = ORV_STRDUP(text);
        if (!e->key_text) {
            release_entry(e);
            return ORV_FAIL;
        }
    }
    OrvHashEntry *head = t->buckets[b];
    if (!head) {
        t->buckets[b] = e;
        e->prev_head = t->last_head;
        if (t->last_head)
            t->last_head->next_head = e;
        else
            t->first_head = e;
        t->last_head = e;
    } else {
        OrvHashEntry *last = nullptr;
        for (OrvHashEntry *c = head; c; c = c->next_chain) {
            if (text ? (c->key_text && strcmp(c->key_text, text) == 0) : c->key == key) {
                release_entry(e);
                return ORV_FAIL;
            }
            last = c;
        }
        last->next_chain = e;
        e->prev_chain = last;
    }
    ++t->count;
    return ORV_OK;
}

void unlink_entry(OrvHash *t, OrvHashEntry *e, uint32_t bucket)
{
    // Keep a walk in progress valid past the entry about to go.
    if (t->cursor_chain == e)
        t->cursor_chain = e->next_chain;
    if (e->prev_chain) {
        e->prev_chain->next_chain = e->next_chain;
        if (e->next_chain)
            e->next_chain->prev_chain = e->prev_chain;
        return;
    }
    OrvHashEntry *successor = e->next_chain;
    if (successor) {
        // The successor takes the head's place on the head list.
        t->buckets[bucket] = successor;
        successor->prev_chain = nullptr;
        successor->prev_head = e->prev_head;
        successor->next_head = e->next_head;
        if (e->prev_head)
            e->prev_head->next_head = successor;
        else
            t->first_head = successor;
        if (e->next_head)
            e->next_head->prev_head = successor;
        else
            t->last_head = successor;
        if (t->cursor_head == e)
            t->cursor_head = successor;
        return;
    }
    t->buckets[bucket] = nullptr;
    if (e->prev_head)
        e->prev_head->next_head = e->next_head;
    else
        t->first_head = e->next_head;
    if (e->next_head)
        e->next_head->prev_head = e->prev_head;
    else
        t->last_head = e->prev_head;
    if (t->cursor_head == e)
        t->cursor_head = e->next_head;
}

void *remove_found(OrvHash *t, OrvHashEntry *e, uint32_t bucket)
{
    unlink_entry(t, e, bucket);
    void *value = e->value;
    release_entry(e);
    --t->count;
    return value;
}

OrvHashEntry *walk_first(OrvHash *t)
{
    OrvHashEntry *e = t->first_head;
    t->cursor_head = e ? e->next_head : nullptr;
    t->cursor_chain = e ? e->next_chain : nullptr;
    return e;
}

OrvHashEntry *walk_next(OrvHash *t)
{
    OrvHashEntry *e = t->cursor_chain;
    if (e) {
        t->cursor_chain = e->next_chain;
        return e;
    }
    e = t->cursor_head;
    if (!e)
        return nullptr;
    t->cursor_head = e->next_head;
    t->cursor_chain = e->next_chain;
    return e;
}

bool blob_args_ok(const void *bytes, int32_t length, bool bytes_required)
{
    if (length < 0) {
        log_bad("blob: negative length");
        return false;
    }
    if (bytes_required && !bytes && length > 0) {
        log_bad("set blob: null bytes");
        return false;
    }
    return true;
}

} // namespace

extern "C" {

OrvHash *orv_hash_create(uint32_t capacity)
{
    if (capacity == 0)
        capacity = kDefaultCapacity;
    const SizeClass *row = &kSizeClasses[9];
    for (const SizeClass &c : kSizeClasses) {
        if (c.slots >= capacity) {
            row = &c;
            break;
        }
    }
    auto *t = static_cast<OrvHash *>(ORV_CALLOC(sizeof(OrvHash)));
    if (!t)
        return nullptr;
    t->modulus = row->modulus;
    t->multiplier = row->multiplier;
    t->reserved = row->reserved;
    t->parameter = row->parameter;
    t->shift = row->shift;
    t->slots = row->slots;
    t->size_class = static_cast<uint32_t>(row - kSizeClasses);
    t->buckets = static_cast<OrvHashEntry **>(ORV_CALLOC(sizeof(OrvHashEntry *) * row->slots));
    t->scratch_capacity = kScratchSlack;
    t->scratch = static_cast<uint8_t *>(ORV_ALLOC(kScratchSlack));
    if (!t->buckets || !t->scratch) {
        orv_free(t->buckets);
        orv_free(t->scratch);
        orv_mem_free(t);
        return nullptr;
    }
    return t;
}

void orv_hash_destroy(OrvHash *t)
{
    if (!t)
        return;
    orv_free(t->scratch);
    t->scratch = nullptr;
    if (t->buckets) {
        for (OrvHashEntry *e = walk_first(t); e;) {
            OrvHashEntry *next = walk_next(t);
            release_entry(e);
            e = next;
        }
        t->first_head = t->last_head = nullptr;
        t->count = 0;
        orv_mem_free(t->buckets);
    }
    orv_mem_free(t);
}

void orv_hash_destroy_with(OrvHash *t, OrvHashRelease release)
{
    if (!t)
        return;
    if (release) {
        for (void *v = orv_hash_first(t); v; v = orv_hash_next(t))
            release(v);
    }
    orv_hash_destroy(t);
}

int32_t orv_hash_count(const OrvHash *t)
{
    return t ? t->count : 0;
}

ResultCode orv_hash_insert(OrvHash *t, void *value, OrvHashKey key)
{
    if (!t) {
        log_bad("insert: null table");
        return ORV_ERR_INVALID_PARAM;
    }
    InsertWhat what;
    what.value = value;
    return insert(t, what, key, nullptr);
}

void *orv_hash_find(OrvHash *t, OrvHashKey key)
{
    if (!t)
        return nullptr;
    OrvHashEntry *e = find_num(t, key);
    return e ? e->value : nullptr;
}

ResultCode orv_hash_set(OrvHash *t, void *value, OrvHashKey key)
{
    OrvHashEntry *e = t ? find_num(t, key) : nullptr;
    if (!e)
        return ORV_FAIL;
    e->value = value;
    return ORV_OK;
}

void *orv_hash_remove(OrvHash *t, OrvHashKey key)
{
    OrvHashEntry *e = t ? find_num(t, key) : nullptr;
    return e ? remove_found(t, e, bucket_of(t, key)) : nullptr;
}

ResultCode orv_hash_insert_str(OrvHash *t, void *value, const char *key)
{
    if (!t || !key) {
        log_bad("insert_str: null table or key");
        return ORV_ERR_INVALID_PARAM;
    }
    InsertWhat what;
    what.value = value;
    return insert(t, what, 0, key);
}

void *orv_hash_find_str(OrvHash *t, const char *key)
{
    OrvHashEntry *e = t && key ? find_text(t, key) : nullptr;
    return e ? e->value : nullptr;
}

ResultCode orv_hash_set_str(OrvHash *t, void *value, const char *key)
{
    OrvHashEntry *e = t && key ? find_text(t, key) : nullptr;
    if (!e)
        return ORV_FAIL;
    e->value = value;
    return ORV_OK;
}

void *orv_hash_remove_str(OrvHash *t, const char *key)
{
    OrvHashEntry *e = t && key ? find_text(t, key) : nullptr;
    if (!e)
        return nullptr;
    // The lookup left the key's bucket as the scratch buffer's first number.
    return remove_found(t, e, bucket_of_text(t, key));
}

ResultCode orv_hash_insert_blob(OrvHash *t, const void *bytes, int32_t length, OrvHashKey key)
{
    if (!t || !blob_args_ok(bytes, length, false))
        return ORV_ERR_INVALID_PARAM;
    InsertWhat what;
    what.with_blob = true;
    what.bytes = bytes;
    what.length = length;
    return insert(t, what, key, nullptr);
}

ResultCode orv_hash_set_blob(OrvHash *t, const void *bytes, int32_t length, OrvHashKey key)
{
    if (!t || !blob_args_ok(bytes, length, true))
        return ORV_ERR_INVALID_PARAM;
    OrvHashEntry *e = find_num(t, key);
    if (!e || !e->blob || e->blob_length != length)
        return ORV_FAIL;
    if (length > 0)
        memcpy(e->blob, bytes, static_cast<size_t>(length));
    return ORV_OK;
}

void *orv_hash_get_blob(OrvHash *t, OrvHashKey key, int32_t *length)
{
    OrvHashEntry *e = t ? find_num(t, key) : nullptr;
    if (!e)
        return nullptr;
    if (length)
        *length = e->blob_length;
    return e->blob;
}

ResultCode orv_hash_insert_blob_str(OrvHash *t, const void *bytes, int32_t length, const char *key)
{
    if (!t || !key) {
        log_bad("insert_blob_str: null table or key");
        return ORV_ERR_INVALID_PARAM;
    }
    if (!blob_args_ok(bytes, length, false))
        return ORV_ERR_INVALID_PARAM;
    InsertWhat what;
    what.with_blob = length != 0;
    what.bytes = bytes;
    what.length = length;
    return insert(t, what, 0, key);
}

ResultCode orv_hash_set_blob_str(OrvHash *t, const void *bytes, int32_t length, const char *key)
{
    if (!t || !key || !blob_args_ok(bytes, length, true))
        return ORV_ERR_INVALID_PARAM;
    OrvHashEntry *e = find_text(t, key);
    if (!e)
        return ORV_FAIL;
    if (e->blob && e->blob_length == length) {
        if (length > 0)
            memcpy(e->blob, bytes, static_cast<size_t>(length));
        return ORV_OK;
    }
    // Allocate before freeing, so a failure leaves the old blob in place.
    void *fresh = nullptr;
    if (length > 0) {
        fresh = ORV_ALLOC(length);
        if (!fresh)
            return ORV_FAIL;
        memcpy(fresh, bytes, static_cast<size_t>(length));
    }
    orv_free(e->blob);
    e->blob = fresh;
    e->blob_length = length;
    return ORV_OK;
}

void *orv_hash_get_blob_str(OrvHash *t, const char *key, int32_t *length)
{
    OrvHashEntry *e = t && key ? find_text(t, key) : nullptr;
    if (!e)
        return nullptr;
    if (length)
        *length = e->blob_length;
    return e->blob;
}

void *orv_hash_first(OrvHash *t)
{
    OrvHashEntry *e = t ? walk_first(t) : nullptr;
    return e ? e->value : nullptr;
}

void *orv_hash_next(OrvHash *t)
{
    OrvHashEntry *e = t ? walk_next(t) : nullptr;
    return e ? e->value : nullptr;
}

OrvHashEntry *orv_hash_first_entry(OrvHash *t)
{
    return t ? walk_first(t) : nullptr;
}
OrvHashEntry *orv_hash_next_entry(OrvHash *t)
{
    return t ? walk_next(t) : nullptr;
}

void orv_hash_entry_fields(const OrvHashEntry *e, void **value, OrvHashKey *key, const char **key_text,
                           void **blob, int32_t *blob_length)
{
    if (!e)
        return;
    if (value)
        *value = e->value;
    if (key)
        *key = e->key;
    if (key_text)
        *key_text = e->key_text;
    if (blob)
        *blob = e->blob;
    if (blob_length)
        *blob_length = e->blob_length;
}

OrvHash *orv_hash_clone(OrvHash *src)
{
    if (!src)
        return nullptr;
    OrvHash *copy = orv_hash_create(src->slots);
    if (!copy)
        return nullptr;
    for (OrvHashEntry *e = walk_first(src); e; e = walk_next(src)) {
        ResultCode rc;
        if (e->key_text)
            rc = e->blob ? orv_hash_insert_blob_str(copy, e->blob, e->blob_length, e->key_text)
                         : orv_hash_insert_str(copy, e->value, e->key_text);
        else
            rc = e->blob ? orv_hash_insert_blob(copy, e->blob, e->blob_length, e->key)
                         : orv_hash_insert(copy, e->value, e->key);
        if (ORV_FAILED(rc)) {
            orv_hash_destroy(copy);
            return nullptr;
        }
    }
    return copy;
}

uint32_t orv_hash_modulus(const OrvHash *t)
{
    return t ? t->modulus : 0;
}
uint32_t orv_hash_bucket_slots(const OrvHash *t)
{
    return t ? t->slots : 0;
}

uint32_t orv_hash_bucket_str(OrvHash *t, const char *key)
{
    return t && key ? bucket_of_text(t, key) : kNoBucket;
}

} // extern "C"

namespace {

constexpr int32_t kSelfTestMaxItems = 10000;
constexpr int kSelfTestRounds = 1000;
constexpr uint32_t kSelfTestItemSize = 64;

// Microseconds per round from two monotonic readings: a wall clock stepped
// between them would report nonsense.
double per(int64_t start_ns, int64_t stop_ns, int32_t n)
{
    return static_cast<double>(stop_ns - start_ns) / 1000.0 / n;
}

bool same_item(int text, const void *a, const void *b)
{
    return text ? strcmp(static_cast<const char *>(a), static_cast<const char *>(b)) == 0 : a == b;
}

} // namespace

extern "C" void orv_hash_self_test(int kind, int32_t count, OrvHashReport report)
{
    if (!report) {
        log_bad("self_test: null report function");
        return;
    }
    const int text = kind != 0;
    count = count < 1 ? 1 : (count > kSelfTestMaxItems ? kSelfTestMaxItems : count);
    OrvHash *t = orv_hash_create(16384);
    auto **items = static_cast<char **>(ORV_CALLOC(sizeof(char *) * kSelfTestMaxItems));
    if (!t || !items) {
        orv_hash_destroy(t);
        orv_free(items);
        return;
    }
    report(text ? "string hash,sum = %d \r\n" : "pointer hash,sum = %d \r\n", count);
    int32_t made = 0;
    for (; made < count; ++made) {
        items[made] = static_cast<char *>(ORV_CALLOC(kSelfTestItemSize));
        if (!items[made])
            break;
        if (text) {
            GID gid;
            char *digits = orv_gid_to_text(orv_gid_generate(&gid));
            if (digits)
                memcpy(items[made], digits, ORV_GID_TEXT_DIGITS);
            orv_gid_free_text(&digits);
        }
    }
    count = made;
    if (count > 0) {
        const uint32_t mask = static_cast<uint32_t>(count - 1);
        int64_t start = orv::clock_monotonic_ns();
        for (int32_t i = 0; i < count; ++i) {
            if (text)
                orv_hash_insert_str(t, items[i], items[i]);
            else
                orv_hash_insert(t, items[i], reinterpret_cast<OrvHashKey>(items[i]));
        }
        report("add hash item: time elapsed = %f microsec\r\n", per(start, orv::clock_monotonic_ns(), count));

        start = orv::clock_monotonic_ns();
        for (int r = 0; r < kSelfTestRounds; ++r)
            for (void *v = orv_hash_first(t); v; v = orv_hash_next(t)) {
            }
        report("iterate hash: time elapsed = %f microsec\r\n",
               per(start, orv::clock_monotonic_ns(), kSelfTestRounds));

        start = orv::clock_monotonic_ns();
        for (int r = 0; r < kSelfTestRounds; ++r) {
            char *item = items[static_cast<uint32_t>(lrand48()) & mask];
            if (text)
                orv_hash_find_str(t, item);
            else
                orv_hash_find(t, reinterpret_cast<OrvHashKey>(item));
        }
        report("find hash item: time elapsed = %f microsec\r\n",
               per(start, orv::clock_monotonic_ns(), kSelfTestRounds));

        start = orv::clock_monotonic_ns();
        for (int r = 0; r < kSelfTestRounds; ++r) {
            char *item = items[static_cast<uint32_t>(lrand48()) & mask];
            for (void *v = orv_hash_first(t); v && !same_item(text, v, item); v = orv_hash_next(t)) {
            }
        }
        report("find list item: time elapsed = %f microsec\r\n",
               per(start, orv::clock_monotonic_ns(), kSelfTestRounds));

        start = orv::clock_monotonic_ns();
        volatile char *sink = nullptr;
        for (int r = 0; r < kSelfTestRounds; ++r)
            sink = items[static_cast<uint32_t>(lrand48()) & mask];
        (void)sink;
        report("find array item: time elapsed = %f microsec\r\n",
               per(start, orv::clock_monotonic_ns(), kSelfTestRounds));
    }
    for (int32_t i = 0; i < count; ++i)
        orv_mem_free(items[i]);
    orv_mem_free(items);
    orv_hash_destroy(t);
}

/* GIDs: generation through libuuid where the build has it (elsewhere, Android
 * among them, from the system's random source in the same random-UUID form), the 32-digit text
 * form, and the named constants (generated into orv_gid_table.inc) with
 * lookups both ways.
 * Owns: the constant data. No lock: everything here is read-only or local. */
#include "orv/orv_gid.h"

#include <string.h>

#include <algorithm>

#if ORV_HAVE_LIBUUID
#include <uuid/uuid.h>
#elif defined(__ANDROID__)
#include <stdlib.h>
#else
#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>
#endif

#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv/orv_text.h"

#define ORV_GID_ROW(name, ...) extern "C" ORV_API const GID name = {{__VA_ARGS__}};
#define ORV_GID_ALIAS(name, target)
#include "orv/orv_gid_table.inc"
#undef ORV_GID_ROW
#undef ORV_GID_ALIAS

namespace {

struct NamedGid {
    const char *name;
    const GID *gid;
};

// Every name in table order, aliases last; the first name of a value is its name.
const NamedGid kNames[] = {
#define ORV_GID_ROW(name, ...)      {#name, &name},
#define ORV_GID_ALIAS(name, target) {#name, &target},
#include "orv/orv_gid_table.inc"
#undef ORV_GID_ROW
#undef ORV_GID_ALIAS
};

constexpr char kDigits[] = "0123456789abcdef";

#if !ORV_HAVE_LIBUUID && !defined(__ANDROID__)
// getrandom blocks only until the pool is first seeded; /dev/urandom serves a
// kernel older than 3.17. Neither failing leaves the bytes as they were, which
// the caller has zeroed: a GID is never left uninitialised.
void random_bytes(uint8_t *out, size_t size)
{
    size_t done = 0;
    while (done < size) {
        ssize_t n = getrandom(out + done, size - done, 0);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n < 0 && errno != EINTR)
            break;
    }
    if (done == size)
        return;
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    while (fd >= 0 && done < size) {
        ssize_t n = read(fd, out + done, size - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n == 0 || errno != EINTR)
            break;
    }
    if (fd >= 0)
        close(fd);
    if (done < size)
        orv_log(3, ORV_FAIL, "VRE: VR: orv_gid_generate: no random source");
}
#endif

// A character that is not a hex digit reads as 0.
int digit_value(char c)
{
    return std::max(orv_hex_value(static_cast<unsigned char>(c)), 0);
}

} // namespace

extern "C" {

GID orv_gid_generate(GID *gid)
{
    GID fresh{};
#if ORV_HAVE_LIBUUID
    uuid_generate(fresh.bytes);
#else
#if defined(__ANDROID__)
    arc4random_buf(fresh.bytes, sizeof fresh.bytes);
#else
    random_bytes(fresh.bytes, sizeof fresh.bytes);
#endif
    // Version 4, RFC 4122 variant: what uuid_generate makes from random bytes.
    fresh.bytes[6] = static_cast<uint8_t>((fresh.bytes[6] & 0x0F) | 0x40);
    fresh.bytes[8] = static_cast<uint8_t>((fresh.bytes[8] & 0x3F) | 0x80);
#endif
    if (gid)
        *gid = fresh;
    return fresh;
}

char *orv_gid_to_text(GID gid)
{
    auto *text = static_cast<char *>(ORV_CALLOC(ORV_GID_TEXT_BLOCK));
    if (!text) {
        orv_log(3, ORV_ERR_MEM_ALLOC, "VRE: VR: orv_gid_to_text: no memory");
        return nullptr;
    }
    for (int i = 0; i < 16; ++i) {
        text[2 * i] = kDigits[gid.bytes[i] >> 4];
        text[2 * i + 1] = kDigits[gid.bytes[i] & 15];
    }
    return text;
}

GID orv_gid_from_text(GID *gid, const char *text)
{
    // Reads at most 32 characters and stops at the terminator, so neither a
    // short nor a long text can move the write past 16 bytes.
    GID value{};
    if (text) {
        int n = 0;
        while (n < ORV_GID_TEXT_DIGITS && text[n])
            ++n;
        for (int i = 0; i < n; ++i) {
            const int d = digit_value(text[i]);
            value.bytes[i / 2] = static_cast<uint8_t>(value.bytes[i / 2] | (i % 2 ? d : d << 4));
        }
    } else {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: orv_gid_from_text: null text");
    }
    if (gid)
        *gid = value;
    return value;
}

void orv_gid_free_text(char **text)
{
    if (text && *text) {
        orv_mem_free(*text);
        *text = nullptr;
    }
}

int orv_gid_equal(GID a, GID b)
{
    return memcmp(a.bytes, b.bytes, sizeof a.bytes) == 0;
}

const char *orv_gid_name(GID gid)
{
    for (const NamedGid &row : kNames)
        if (orv_gid_equal(*row.gid, gid))
            return row.name;
    return nullptr;
}

int orv_gid_by_name(const char *name, GID *gid)
{
    if (!name)
        return 0;
    for (const NamedGid &row : kNames) {
        if (strcmp(row.name, name) == 0) {
            if (gid)
                *gid = *row.gid;
            return 1;
        }
    }
    return 0;
}

uint32_t orv_gid_name_count(void)
{
    return static_cast<uint32_t>(sizeof kNames / sizeof kNames[0]);
}

} // extern "C"

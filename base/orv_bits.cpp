/* BufferedStream: lets parsers take one byte (or a few bits) at a time and
 * writers collect small pieces, with one xio call per buffer rather than per
 * byte. The record and its buffer belong to the caller; the stream behind it
 * is borrowed and never closed here. Nothing is locked: one thread at a time. */
#include <algorithm>
#include <array>
#include <cstring>

#include "orv/orv_bits.h"

namespace {

// Interleaved exponential-Golomb code: pairs (flag, data bit) until a flag
// of 1; x starts at 1 and takes each data bit in, the value is x - 1. Every
// code that ends within nine bits has its flag 1 at bit 0, 2, 4, 6 or 8 of
// the first nine bits; the first byte then fixes length and value (for a
// nine-bit code the ninth bit is known to be that 1).
struct GolombTables {
    std::array<uint8_t, 256> length{};
    std::array<uint8_t, 256> value{};
};

constexpr GolombTables make_golomb_tables()
{
    GolombTables t{};
    for (unsigned b = 0; b < 256; ++b) {
        auto bit_at = [b](unsigned pos) -> unsigned { return pos < 8 ? (b >> (7 - pos)) & 1u : 1u; };
        unsigned x = 1, pos = 0;
        for (;;) {
            unsigned flag = bit_at(pos++);
            if (flag) {
                t.length[b] = static_cast<uint8_t>(pos);
                t.value[b] = static_cast<uint8_t>(x - 1);
                break;
            }
            x = 2 * x + bit_at(pos++);
        }
    }
    return t;
}

constexpr GolombTables kGolomb = make_golomb_tables();
static_assert(kGolomb.length[0x80] == 1 && kGolomb.value[0x80] == 0);
static_assert(kGolomb.length[0x20] == 3 && kGolomb.value[0x20] == 1);
static_assert(kGolomb.length[0x00] == 9 && kGolomb.value[0x00] == 15);

// Flag positions within the first nine bits, and within a 32-bit window.
constexpr uint32_t kShortCodeFlags = 0xAA800000u;
constexpr uint32_t kWindowFlags = 0xAAAAAAAAu;

bool has_stream(const BufferedStream *bio)
{
    return bio->stream != nullptr;
}

uint32_t buffered(const BufferedStream *bio)
{
    return static_cast<uint32_t>(bio->end - bio->position);
}

// Next byte for the bit cache: 0 once the data is used up.
uint32_t next_cache_byte(BufferedStream *bio)
{
    int c = orv_bio_getc(bio);
    return c < 0 ? 0u : static_cast<uint32_t>(c);
}

// The byte that follows the cache, without taking it.
uint32_t peek_byte(BufferedStream *bio)
{
    if (bio->position == bio->end) {
        orv_bio_fill(bio);
        if (bio->position == bio->end)
            return 0;
    }
    return *bio->position;
}

uint32_t get_bits_short(BufferedStream *bio, int32_t n)
{
    uint32_t result = 0;
    if (n > 0) {
        result = bio->bit_cache >> (32 - n);
        bio->bit_cache <<= n;
        bio->bit_count -= n;
    }
    while (bio->bit_count <= 24) {
        bio->bit_cache |= next_cache_byte(bio) << (24 - bio->bit_count);
        bio->bit_count += 8;
    }
    return result;
}

} // namespace

extern "C" {

void orv_bio_init(BufferedStream *bio, xio *stream, void *buffer, uint32_t capacity, uint32_t mode)
{
    if (!bio)
        return;
    std::memset(bio, 0, sizeof *bio);
    bio->capacity = buffer ? capacity : 0;
    bio->buffer = static_cast<uint8_t *>(buffer);
    bio->stream = stream;
    bio->mode = mode;
    bio->end = bio->buffer + bio->capacity;
    // A stream reader starts empty so that the first request fills it.
    bio->position = (stream && (mode & BIO_READ) && !(mode & BIO_WRITE)) ? bio->end : bio->buffer;
}

ResultCode orv_bio_fill(BufferedStream *bio)
{
    if (!has_stream(bio))
        return ORV_OK;
    // Checked before the position moves: in write mode that would mark the
    // whole buffer as pending and flush garbage.
    if (!(bio->mode & BIO_READ)) {
        bio->last_result = ORV_ERR_INVALID_PARAM;
        return ORV_ERR_INVALID_PARAM;
    }
    bio->position = bio->end;
    int32_t got = 0;
    ResultCode rc = bio->stream->vt.read(bio->stream, bio->buffer, bio->capacity, &got);
    bio->last_result = rc;
    if (rc < 0)
        return rc;
    uint32_t n = got < 0 ? 0u : std::min(static_cast<uint32_t>(got), bio->capacity);
    bio->position = bio->buffer;
    bio->end = bio->buffer + n;
    return ORV_OK;
}

ResultCode orv_bio_flush(BufferedStream *bio)
{
    if (!has_stream(bio))
        return ORV_OK;
    ResultCode rc = ORV_OK;
    if (bio->mode & BIO_WRITE) {
        const uint8_t *p = bio->buffer;
        while (p < bio->position) {
            int32_t done = 0;
            rc = bio->stream->vt.write(bio->stream, p, static_cast<int32_t>(bio->position - p), &done);
            if (rc < 0)
                break;
            if (done <= 0) {
                // A stream that takes nothing (full, or at its limit) would
                // loop forever; report why it stopped.
                if (rc == ORV_OK)
                    rc = ORV_ERR_IO_WRITE;
                break;
            }
            p += std::min<int64_t>(done, bio->position - p);
        }
        // Bytes the stream did not take stay for the next flush.
        const size_t left = static_cast<size_t>(bio->position - p);
        if (left && p != bio->buffer)
            std::memmove(bio->buffer, p, left);
        bio->position = bio->buffer + left;
    } else {
        bio->position = bio->end = bio->buffer;
    }
    bio->last_result = rc;
    return rc;
}

ResultCode orv_bio_write(BufferedStream *bio, const void *data, uint32_t length, uint32_t *written)
{
    uint32_t copied = 0;
    ResultCode rc = ORV_OK;
    if (has_stream(bio) && !(bio->mode & BIO_WRITE)) {
        rc = ORV_ERR_INVALID_PARAM;
        length = 0;
    }
    const uint8_t *src = static_cast<const uint8_t *>(data);
    while (copied < length) {
        uint32_t room = static_cast<uint32_t>(bio->end - bio->position);
        if (room == 0)
            break; // a memory view is full
        uint32_t k = std::min(room, length - copied);
        std::memcpy(bio->position, src + copied, k);
        bio->position += k;
        copied += k;
        if (bio->position == bio->end && has_stream(bio)) {
            rc = orv_bio_flush(bio);
            if (rc < 0 || bio->position == bio->end)
                break;
        }
    }
    if (written)
        *written = copied;
    if (rc < 0)
        return rc;
    // Bytes left over: the stream refused them (its status, such as
    // ORV_WOUNLD_BLOCK, says why) or a memory view is full.
    if (copied < length)
        return rc != ORV_OK ? rc : ORV_ERR_IO_WRITE;
    return ORV_OK;
}

ResultCode orv_bio_write_text(BufferedStream *bio, const char *text)
{
    uint32_t written = 0;
    if (!text)
        return orv_bio_write(bio, "", 1, &written);
    return orv_bio_write(bio, text, static_cast<uint32_t>(std::strlen(text)), &written);
}

ResultCode orv_bio_read(BufferedStream *bio, void *dest, uint32_t length, uint32_t *done)
{
    uint8_t *out = static_cast<uint8_t *>(dest);
    uint32_t delivered = 0;
    ResultCode rc = ORV_OK;
    while (delivered < length) {
        uint32_t want = length - delivered;
        uint32_t avail = buffered(bio);
        if (avail >= want) {
            std::memcpy(out + delivered, bio->position, want);
            bio->position += want;
            delivered += want;
            break;
        }
        if (avail > 0) {
            std::memcpy(out + delivered, bio->position, avail);
            bio->position += avail;
            delivered += avail;
            continue;
        }
        if (want < bio->capacity) {
            rc = orv_bio_fill(bio);
            if (rc < 0 || bio->position == bio->end)
                break;
            continue;
        }
        // Large requests skip the buffer.
        if (!has_stream(bio) || !(bio->mode & BIO_READ))
            break;
        int32_t got = 0;
        uint32_t ask = std::min<uint32_t>(want, 0x7FFFFFFFu);
        rc = bio->stream->vt.read(bio->stream, out + delivered, ask, &got);
        bio->last_result = rc;
        if (rc < 0 || got <= 0)
            break;
        delivered += std::min(static_cast<uint32_t>(got), ask);
    }
    if (done)
        *done = delivered;
    return rc < 0 ? rc : ORV_OK;
}

int64_t orv_bio_seek(BufferedStream *bio, int64_t offset, int32_t origin)
{
    if (!has_stream(bio)) {
        const int64_t size = bio->end - bio->buffer;
        const int64_t cur = bio->position - bio->buffer;
        int64_t target;
        switch (origin) {
        case XIO_SEEK_CUR:
            target = offset > size - cur ? size : offset < -cur ? 0 : cur + offset;
            break;
        case XIO_SEEK_SET:
            target = offset < 0 ? 0 : offset > size ? size : offset;
            break;
        case XIO_SEEK_END:
            // Counted back from the end.
            target = offset < 0 ? size : offset > size ? 0 : size - offset;
            break;
        default:
            return cur;
        }
        bio->position = bio->buffer + target;
        return target;
    }
    xio *s = bio->stream;
    if (bio->mode & BIO_WRITE) {
        ResultCode rc = orv_bio_flush(bio);
        if (rc < 0)
            return rc;
        return s->vt.seek(s, offset, origin);
    }
    if (!(bio->mode & BIO_READ))
        return s->vt.seek(s, offset, origin);

    const int64_t unread = bio->end - bio->position;
    int64_t r;
    if (origin == XIO_SEEK_CUR) {
        const int64_t back = bio->position - bio->buffer;
        if (offset >= -back && offset <= unread) {
            bio->position += offset;
            return orv_bio_tell(bio);
        }
        // The stream stands after the buffered bytes.
        r = s->vt.seek(s, offset - unread, XIO_SEEK_CUR);
    } else {
        r = s->vt.seek(s, offset, origin);
    }
    if (r < 0)
        return r;
    bio->position = bio->end = bio->buffer;
    orv_bio_fill(bio);
    return orv_bio_tell(bio);
}

int64_t orv_bio_skip(BufferedStream *bio, int64_t offset)
{
    return orv_bio_seek(bio, offset, XIO_SEEK_CUR);
}

int64_t orv_bio_tell(BufferedStream *bio)
{
    if (!has_stream(bio))
        return bio->position - bio->buffer;
    int64_t pos = bio->stream->vt.tell(bio->stream);
    if (pos < 0)
        return pos;
    if (bio->mode & BIO_WRITE)
        return pos + (bio->position - bio->buffer);
    if (bio->mode & BIO_READ)
        return pos - (bio->end - bio->position);
    return pos;
}

int64_t orv_bio_size(BufferedStream *bio)
{
    if (!has_stream(bio))
        return bio->end - bio->buffer;
    if (bio->mode & BIO_WRITE)
        orv_bio_flush(bio);
    return bio->stream->vt.size(bio->stream);
}

int orv_bio_eof(BufferedStream *bio)
{
    if (!has_stream(bio))
        return bio->position >= bio->end;
    if ((bio->mode & BIO_READ) && bio->position < bio->end)
        return 0;
    return orv_bio_tell(bio) == orv_bio_size(bio);
}

int orv_bio_getc(BufferedStream *bio)
{
    if (bio->position == bio->end) {
        if (orv_bio_fill(bio) < 0 || bio->position == bio->end)
            return -1;
    }
    return *bio->position++;
}

void orv_bio_init_bits(BufferedStream *bio)
{
    bio->bit_cache = 0;
    bio->bit_count = 0;
    get_bits_short(bio, 0);
}

uint32_t orv_bio_get_bits(BufferedStream *bio, int32_t n)
{
    if (n <= 0)
        return get_bits_short(bio, 0);
    if (n > 32)
        n = 32;
    if (n <= 24)
        return get_bits_short(bio, n);
    uint32_t high = get_bits_short(bio, 24);
    return (high << (n - 24)) | get_bits_short(bio, n - 24);
}

uint32_t orv_bio_get_ue_golomb_interleaved(BufferedStream *bio)
{
    uint32_t cache = bio->bit_cache;
    if (cache & kShortCodeFlags) {
        uint32_t first = cache >> 24;
        get_bits_short(bio, kGolomb.length[first]);
        return kGolomb.value[first];
    }
    // Nine bits without a flag: the first byte is four pairs (0, d).
    uint32_t first = cache >> 24;
    uint32_t x = 16 | ((first >> 3) & 8) | ((first >> 2) & 4) | ((first >> 1) & 2) | (first & 1);
    get_bits_short(bio, 8);
    // The cache holds 25 to 32 valid bits; complete the 32-bit window with
    // the start of the next byte.
    uint32_t window = bio->bit_cache;
    if (bio->bit_count < 32)
        window |= peek_byte(bio) >> (bio->bit_count - 24);
    uint32_t flags = window & kWindowFlags;
    if (flags == 0)
        return BIO_GOLOMB_INVALID;
    int p = __builtin_clz(flags); // even: the terminating flag
    for (int i = 1; i < p; i += 2)
        x = (x << 1) | ((window >> (31 - i)) & 1u);
    orv_bio_get_bits(bio, p + 1);
    return x - 1;
}

} // extern "C"

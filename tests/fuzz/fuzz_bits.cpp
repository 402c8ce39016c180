// The bit reader and the interleaved Golomb reader against a bit-by-bit model,
// over a memory view and over a stream behind a small buffer (so the cache
// refills across buffer fills). The input: one byte for the buffer size, one
// for the number of operations, the operations (bit 7 set: a Golomb code,
// else a read of (byte & 63) % 33 bits), then the data.
#include <memory>
#include <vector>

#include "fuzz_util.h"
#include "orv/orv_bits.h"
#include "orv/orv_io_stream.h"
#include "orv/orv_mem.h"

namespace {

// The data as a bit sequence, zeros past its end.
struct BitModel {
    const uint8_t *data;
    size_t size;
    uint64_t at = 0;

    uint32_t bit(uint64_t i) const { return i / 8 < size ? (data[i / 8] >> (7 - i % 8)) & 1u : 0u; }
    uint32_t take(int n)
    {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v = v << 1 | bit(at++);
        return v;
    }
    // Pairs (flag, bit) until a flag 1; codes ending beyond bit 38 do not
    // fit the reader's window, which then skips one byte.
    uint32_t golomb()
    {
        uint32_t x = 1;
        for (uint64_t i = 0; i <= 38; i += 2) {
            if (bit(at + i)) {
                at += i + 1;
                return x - 1;
            }
            x = 2 * x + bit(at + i + 1);
        }
        at += 8;
        return BIO_GOLOMB_INVALID;
    }
};

void run(BufferedStream *bio, const std::vector<uint8_t> &ops, const uint8_t *data, size_t size,
         const char *kind)
{
    BitModel model{data, size};
    orv_bio_init_bits(bio);
    for (size_t k = 0; k < ops.size(); ++k) {
        const uint8_t op = ops[k];
        if (op & 0x80) {
            const uint32_t want = model.golomb();
            const uint32_t got = orv_bio_get_ue_golomb_interleaved(bio);
            if (got != want)
                fuzz_fail("%s: golomb op %zu gives %#x, model %#x", kind, k, got, want);
        } else {
            const int n = (op & 63) % 33;
            const uint32_t want = model.take(n);
            const uint32_t got = orv_bio_get_bits(bio, n);
            if (got != want)
                fuzz_fail("%s: get_bits(%d) op %zu gives %#x, model %#x", kind, n, k, got, want);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t size)
{
    FuzzBytes in{input, size};
    const uint32_t capacity = 1 + in.byte() % 64;
    const size_t op_count = in.byte() % 64;
    std::vector<uint8_t> ops;
    for (size_t i = 0; i < op_count && in.size; ++i)
        ops.push_back(static_cast<uint8_t>(in.byte()));
    const uint8_t *data = in.data;
    const size_t length = in.size;

    // Memory view: the data itself, in a block of exactly its size.
    std::unique_ptr<uint8_t[]> view(new uint8_t[length ? length : 1]);
    if (length)
        std::memcpy(view.get(), data, length);
    BufferedStream bio;
    orv_bio_init(&bio, nullptr, length ? view.get() : nullptr, static_cast<uint32_t>(length), BIO_READ);
    run(&bio, ops, data, length, "view");

    // A stream behind a buffer of a few bytes.
    const size_t live = orv_mem_live_count();
    xio *stream = ORV_IO_STREAM_CREATE();
    if (!stream)
        fuzz_fail("no memory stream");
    int32_t written = 0;
    stream->vt.write(stream, data, static_cast<int32_t>(length), &written);
    stream->vt.seek(stream, 0, 0);
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[capacity]);
    orv_bio_init(&bio, stream, buffer.get(), capacity, BIO_READ);
    run(&bio, ops, data, static_cast<size_t>(written), "stream");
    stream->vt.release(stream);
    if (orv_mem_live_count() != live)
        fuzz_fail("tracked blocks leaked");
    return 0;
}

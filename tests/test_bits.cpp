#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "orv/orv_bits.h"
#include "orv/orv_io_stream.h"

namespace {

// Appends bits most significant first.
struct BitWriter {
    std::vector<uint8_t> bytes;
    uint64_t count = 0;
    void put(uint32_t bit)
    {
        if (count % 8 == 0)
            bytes.push_back(0);
        if (bit)
            bytes.back() |= static_cast<uint8_t>(0x80u >> (count % 8));
        ++count;
    }
    void put(uint32_t value, int n)
    {
        for (int i = n - 1; i >= 0; --i)
            put((value >> i) & 1u);
    }
    // Interleaved Golomb code of v: pairs (0, d) for each bit of v + 1 below
    // its top bit, then a 1.
    int golomb(uint32_t v)
    {
        uint64_t x = static_cast<uint64_t>(v) + 1;
        int top = 63 - __builtin_clzll(x);
        for (int i = top - 1; i >= 0; --i) {
            put(0);
            put(static_cast<uint32_t>((x >> i) & 1u));
        }
        put(1);
        return 2 * top + 1;
    }
};

// The decoding rule, one bit at a time.
uint32_t golomb_reference(BufferedStream *bio)
{
    uint32_t x = 1;
    while (orv_bio_get_bits(bio, 1) == 0)
        x = 2 * x + orv_bio_get_bits(bio, 1);
    return x - 1;
}

void view(BufferedStream *bio, std::vector<uint8_t> &data)
{
    orv_bio_init(bio, nullptr, data.data(), static_cast<uint32_t>(data.size()), BIO_READ);
    orv_bio_init_bits(bio);
}

// An xio over a byte vector that counts its calls; write can be told to
// take nothing.
struct FakeStream {
    xio io;
    std::vector<uint8_t> data;
    size_t pos = 0;
    int reads = 0, writes = 0;
    std::vector<uint32_t> read_sizes;
    bool refuse_writes = false;

    static FakeStream *self(xio *io) { return reinterpret_cast<FakeStream *>(io); }
    FakeStream()
    {
        std::memset(&io, 0, sizeof io);
        io.vt.read = [](xio *io, void *dest, uint32_t n, int32_t *done) -> ResultCode {
            FakeStream *s = self(io);
            s->reads++;
            s->read_sizes.push_back(n);
            size_t k = std::min<size_t>(n, s->data.size() - s->pos);
            std::memcpy(dest, s->data.data() + s->pos, k);
            s->pos += k;
            *done = static_cast<int32_t>(k);
            return k ? ORV_OK : ORV_WOUNLD_BLOCK;
        };
        io.vt.write = [](xio *io, const void *src, int32_t n, int32_t *done) -> ResultCode {
            FakeStream *s = self(io);
            s->writes++;
            if (s->refuse_writes)
                return ORV_WOUNLD_BLOCK;
            const uint8_t *p = static_cast<const uint8_t *>(src);
            if (s->pos + n > s->data.size())
                s->data.resize(s->pos + n);
            std::memcpy(s->data.data() + s->pos, p, n);
            s->pos += n;
            *done = n;
            return ORV_OK;
        };
        io.vt.seek = [](xio *io, int64_t off, int32_t origin) -> int64_t {
            FakeStream *s = self(io);
            int64_t base = origin == XIO_SEEK_SET ? 0 : origin == XIO_SEEK_CUR ? s->pos : s->data.size();
            int64_t t = std::clamp<int64_t>(base + off, 0, s->data.size());
            s->pos = static_cast<size_t>(t);
            return t;
        };
        io.vt.tell = [](xio *io) -> int64_t { return self(io)->pos; };
        io.vt.size = [](xio *io) -> int64_t { return self(io)->data.size(); };
    }
};

TEST(Golomb, EveryCodeUpTo31BitsMatchesThePlainDecoder)
{
    // All codes that end within the 32-bit window, back to back so that
    // every alignment against the byte and cache boundaries occurs.
    const uint32_t last = (1u << 16) - 2;
    BitWriter w;
    for (uint32_t v = 0; v <= last; ++v)
        w.golomb(v);
    w.put(0xFFFFFFFFu, 32);
    std::vector<uint8_t> data = w.bytes;

    BufferedStream fast, plain;
    view(&fast, data);
    view(&plain, data);
    for (uint32_t v = 0; v <= last; ++v) {
        uint32_t a = orv_bio_get_ue_golomb_interleaved(&fast);
        uint32_t b = golomb_reference(&plain);
        ASSERT_EQ(b, v) << "reference decoder or encoder";
        ASSERT_EQ(a, v) << "code " << v;
    }
    // Both consumed exactly the same bits: the marker follows.
    EXPECT_EQ(orv_bio_get_bits(&fast, 32), 0xFFFFFFFFu);
}

TEST(Golomb, LongerCodesAndTheWindowLimit)
{
    std::mt19937 rng(7);
    BitWriter w;
    std::vector<uint32_t> values;
    // 33 to 39 bits: the first byte is skipped, the window finds the end.
    for (int top = 16; top <= 19; ++top)
        for (int i = 0; i < 200; ++i) {
            uint32_t v = ((1u << top) | (rng() & ((1u << top) - 1))) - 1;
            values.push_back(v);
            w.golomb(v);
            w.put(rng() & 1u); // shifts the next code's alignment
        }
    std::vector<uint8_t> data = w.bytes;
    BufferedStream fast, plain;
    view(&fast, data);
    view(&plain, data);
    for (uint32_t v : values) {
        ASSERT_EQ(orv_bio_get_ue_golomb_interleaved(&fast), v);
        ASSERT_EQ(golomb_reference(&plain), v);
        ASSERT_EQ(orv_bio_get_bits(&fast, 1), orv_bio_get_bits(&plain, 1));
    }

    // 41 bits: no flag within the window after the first byte.
    BitWriter big;
    big.golomb((1u << 20) - 1);
    big.put(0, 32);
    BufferedStream bio;
    view(&bio, big.bytes);
    EXPECT_EQ(orv_bio_get_ue_golomb_interleaved(&bio), BIO_GOLOMB_INVALID);

    // The shortest codes from the description.
    std::vector<uint8_t> small = {0b10010110, 0b00001000};
    view(&bio, small);
    EXPECT_EQ(orv_bio_get_ue_golomb_interleaved(&bio), 0u); // 1
    EXPECT_EQ(orv_bio_get_ue_golomb_interleaved(&bio), 1u); // 001
    EXPECT_EQ(orv_bio_get_ue_golomb_interleaved(&bio), 2u); // 011
    EXPECT_EQ(orv_bio_get_bits(&bio, 1), 0u);
    EXPECT_EQ(orv_bio_get_ue_golomb_interleaved(&bio), 3u); // 00001
}

TEST(Bits, WidthsAgainstSingleBitsAndThePastEnd)
{
    std::mt19937 rng(3);
    std::vector<uint8_t> data(512);
    for (auto &b : data)
        b = static_cast<uint8_t>(rng());
    BufferedStream wide, single;
    view(&wide, data);
    view(&single, data);
    uint64_t used = 0;
    while (used + 32 <= data.size() * 8) {
        int n = static_cast<int>(rng() % 33);
        uint32_t expect = 0;
        for (int i = 0; i < n; ++i)
            expect = (expect << 1) | orv_bio_get_bits(&single, 1);
        ASSERT_EQ(orv_bio_get_bits(&wide, n), expect) << "width " << n << " at bit " << used;
        used += n;
    }

    std::vector<uint8_t> four = {0x12, 0x34, 0x56, 0x78, 0x9A};
    view(&wide, four);
    EXPECT_EQ(orv_bio_get_bits(&wide, 32), 0x12345678u);
    EXPECT_EQ(orv_bio_get_bits(&wide, 4), 0x9u);
    EXPECT_EQ(orv_bio_get_bits(&wide, 32), 0xA0000000u); // zero bits past the end
}

TEST(BufferedStream, MemoryViewSeekTellEof)
{
    std::vector<uint8_t> data = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j'};
    BufferedStream bio;
    orv_bio_init(&bio, nullptr, data.data(), 10, BIO_READ);
    EXPECT_EQ(orv_bio_size(&bio), 10);
    uint8_t out[16] = {};
    uint32_t done = 99;
    EXPECT_EQ(orv_bio_read(&bio, out, 4, &done), ORV_OK);
    EXPECT_EQ(done, 4u);
    EXPECT_EQ(orv_bio_tell(&bio), 4);
    EXPECT_EQ(orv_bio_skip(&bio, -10), 0);             // clamped to the start
    EXPECT_EQ(orv_bio_seek(&bio, 3, XIO_SEEK_END), 7); // counted back from the end
    EXPECT_EQ(orv_bio_getc(&bio), 'h');
    EXPECT_EQ(orv_bio_seek(&bio, -1, XIO_SEEK_END), 10);
    EXPECT_TRUE(orv_bio_eof(&bio));
    EXPECT_EQ(orv_bio_seek(&bio, 50, XIO_SEEK_END), 0);
    EXPECT_EQ(orv_bio_seek(&bio, 50, XIO_SEEK_SET), 10);
    EXPECT_EQ(orv_bio_seek(&bio, 2, XIO_SEEK_SET), 2);
    EXPECT_EQ(orv_bio_seek(&bio, 1, 7), 2); // unknown origin: stays
    // Asking for more than is left gives a short count, never more.
    EXPECT_EQ(orv_bio_read(&bio, out, 16, &done), ORV_OK);
    EXPECT_EQ(done, 8u);
    EXPECT_EQ(0, std::memcmp(out, "cdefghij", 8));
    EXPECT_EQ(orv_bio_getc(&bio), -1);
}

TEST(BufferedStream, ReadsThroughAStream)
{
    FakeStream fs;
    for (int i = 0; i < 300; ++i)
        fs.data.push_back(static_cast<uint8_t>(i));
    uint8_t buffer[64];
    BufferedStream bio;
    orv_bio_init(&bio, &fs.io, buffer, sizeof buffer, BIO_READ);

    uint8_t out[256];
    uint32_t done = 7;
    EXPECT_EQ(orv_bio_read(&bio, out, 0, &done), ORV_OK);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(fs.reads, 0);

    // Small reads go through the buffer: one stream read for both.
    EXPECT_EQ(orv_bio_read(&bio, out, 10, &done), ORV_OK);
    EXPECT_EQ(orv_bio_read(&bio, out + 10, 10, &done), ORV_OK);
    EXPECT_EQ(fs.reads, 1);
    EXPECT_EQ(fs.read_sizes[0], 64u);
    EXPECT_EQ(orv_bio_tell(&bio), 20);

    // A request beyond the capacity on an empty buffer goes straight on.
    EXPECT_EQ(orv_bio_read(&bio, out, 44, &done), ORV_OK);
    int before = fs.reads;
    EXPECT_EQ(orv_bio_read(&bio, out, 100, &done), ORV_OK);
    EXPECT_EQ(done, 100u);
    EXPECT_EQ(fs.reads, before + 1);
    EXPECT_EQ(fs.read_sizes.back(), 100u);
    EXPECT_EQ(out[0], 64);
    EXPECT_EQ(orv_bio_tell(&bio), 164);

    // Seeks: inside the buffered bytes, then outside them.
    EXPECT_EQ(orv_bio_getc(&bio), 164);
    EXPECT_EQ(orv_bio_skip(&bio, 5), 170);
    EXPECT_EQ(orv_bio_getc(&bio), 170);
    EXPECT_EQ(orv_bio_skip(&bio, -6), 165);
    EXPECT_EQ(orv_bio_getc(&bio), 165);
    EXPECT_EQ(orv_bio_skip(&bio, 100), 266);
    EXPECT_EQ(orv_bio_getc(&bio), 266 & 0xFF);
    EXPECT_EQ(orv_bio_skip(&bio, -200), 67);
    EXPECT_EQ(orv_bio_getc(&bio), 67);
    EXPECT_EQ(orv_bio_seek(&bio, 10, XIO_SEEK_SET), 10);
    EXPECT_EQ(orv_bio_getc(&bio), 10);
    EXPECT_FALSE(orv_bio_eof(&bio));
    EXPECT_EQ(orv_bio_seek(&bio, 0, XIO_SEEK_END), 300);
    EXPECT_TRUE(orv_bio_eof(&bio));
    EXPECT_EQ(orv_bio_read(&bio, out, 10, &done), ORV_OK);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(orv_bio_size(&bio), 300);
}

TEST(BufferedStream, WritesThroughAStream)
{
    FakeStream fs;
    uint8_t buffer[16];
    BufferedStream bio;
    orv_bio_init(&bio, &fs.io, buffer, sizeof buffer, BIO_WRITE);
    std::string text;
    for (int i = 0; i < 10; ++i) {
        std::string piece = "piece" + std::to_string(i) + ";";
        text += piece;
        EXPECT_EQ(orv_bio_write_text(&bio, piece.c_str()), ORV_OK);
    }
    EXPECT_EQ(orv_bio_write_text(&bio, nullptr), ORV_OK); // the 0 byte
    text.push_back('\0');
    // Full buffers went out as they filled; the rest waits for a flush.
    EXPECT_EQ(fs.writes, static_cast<int>(text.size() / 16));
    EXPECT_EQ(orv_bio_tell(&bio), static_cast<int64_t>(text.size()));
    EXPECT_EQ(orv_bio_size(&bio), static_cast<int64_t>(text.size())); // flushes first
    EXPECT_EQ(std::string(fs.data.begin(), fs.data.end()), text);

    // Filling a writer is refused and leaves its pending bytes alone.
    EXPECT_EQ(orv_bio_write_text(&bio, "tail"), ORV_OK);
    EXPECT_EQ(orv_bio_fill(&bio), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_bio_flush(&bio), ORV_OK);
    EXPECT_EQ(std::string(fs.data.end() - 4, fs.data.end()), "tail");

    // A stream that takes nothing: the bytes stay and the count is short.
    // A refused write is reported, not passed off as done.
    fs.refuse_writes = true;
    uint8_t block[40] = {};
    uint32_t written = 0;
    EXPECT_EQ(orv_bio_write(&bio, block, sizeof block, &written), ORV_WOUNLD_BLOCK);
    EXPECT_EQ(written, 16u);
    EXPECT_EQ(bio.position - bio.buffer, 16);
    fs.refuse_writes = false;
    EXPECT_EQ(orv_bio_flush(&bio), ORV_OK);
    EXPECT_EQ(fs.data.size(), text.size() + 4 + 16);

    // Nor is a write that filled a memory view.
    uint8_t view_bytes[8];
    BufferedStream view;
    orv_bio_init(&view, nullptr, view_bytes, sizeof view_bytes, BIO_WRITE);
    EXPECT_EQ(orv_bio_write(&view, block, 6, &written), ORV_OK);
    EXPECT_EQ(orv_bio_write(&view, block, 6, &written), ORV_ERR_IO_WRITE);
    EXPECT_EQ(written, 2u);

    // A reader does not write.
    BufferedStream reader;
    orv_bio_init(&reader, &fs.io, buffer, sizeof buffer, BIO_READ);
    EXPECT_EQ(orv_bio_write(&reader, block, 4, &written), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(written, 0u);
}

// A memory stream that may grow no further, as a size-limited output.
TEST(BufferedStream, AFullMemoryStreamIsReported)
{
    xio *out = ORV_IO_STREAM_CREATE();
    XioParam limit{};
    limit.buffer2 = XIO_MEM_INITIAL_CAPACITY;
    ASSERT_EQ(out->vt.set(out, XIO_MEM_SET_LIMIT, &limit), ORV_OK);
    uint8_t buffer[4096];
    BufferedStream bio;
    orv_bio_init(&bio, out, buffer, sizeof buffer, BIO_WRITE);
    std::vector<uint8_t> data(XIO_MEM_INITIAL_CAPACITY + 10000, 'x');
    uint32_t written = 0;
    EXPECT_EQ(orv_bio_write(&bio, data.data(), static_cast<uint32_t>(data.size()), &written),
              ORV_WOUNLD_BLOCK);
    EXPECT_LT(written, data.size());
    EXPECT_EQ(out->vt.size(out), XIO_MEM_INITIAL_CAPACITY);
    EXPECT_EQ(orv_bio_flush(&bio), ORV_WOUNLD_BLOCK); // the rest still cannot go
    out->vt.release(out);
}

} // namespace

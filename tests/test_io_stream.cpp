#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "orv/orv_io_stream.h"
#include "orv/orv_mem.h"
#include "orv_io_stream_internal.hpp"

namespace {

struct Stream {
    xio *io = ORV_IO_STREAM_CREATE();
    ~Stream() { io->vt.release(io); }
    ResultCode write(const void *src, int32_t n, int32_t *done = nullptr)
    {
        return io->vt.write(io, src, n, done);
    }
    int64_t capacity()
    {
        XioParam p{};
        EXPECT_EQ(io->vt.get(io, XIO_MEM_GET_STATS, &p), ORV_OK);
        return p.length;
    }
    void fill(int32_t n)
    {
        std::vector<uint8_t> bytes(n);
        for (int32_t i = 0; i < n; ++i)
            bytes[i] = static_cast<uint8_t>(i);
        int32_t done = -1;
        ASSERT_EQ(write(bytes.data(), n, &done), ORV_OK);
        ASSERT_EQ(done, n);
    }
};

TEST(IoStream, NewStreamReadsNothingAndGrowsByHalf)
{
    Stream s;
    ASSERT_NE(s.io, nullptr);
    EXPECT_EQ(s.io->vt.size(s.io), 0);
    EXPECT_EQ(s.io->vt.tell(s.io), 0);
    uint8_t byte = 0;
    int32_t done = -1;
    EXPECT_EQ(s.io->vt.read(s.io, &byte, 1, &done), ORV_WOUNLD_BLOCK);
    EXPECT_EQ(done, 0);
    EXPECT_EQ(s.capacity(), 65536);

    s.fill(70000);
    EXPECT_EQ(s.capacity(), 98304);
    EXPECT_EQ(s.io->vt.size(s.io), 70000);
    EXPECT_EQ(s.io->vt.tell(s.io), 70000);

    // A write larger than half the capacity grows to exactly what it needs.
    std::vector<uint8_t> big(200000, 7);
    ASSERT_EQ(s.write(big.data(), 200000), ORV_OK);
    EXPECT_EQ(s.capacity(), 270000);

    // The data survived both moves.
    ASSERT_EQ(s.io->vt.seek(s.io, 0, XIO_SEEK_SET), 0);
    std::vector<uint8_t> back(270000);
    ASSERT_EQ(s.io->vt.read(s.io, back.data(), 300000, &done), ORV_OK);
    EXPECT_EQ(done, 270000);
    for (int i = 0; i < 70000; ++i)
        ASSERT_EQ(back[i], static_cast<uint8_t>(i)) << i;
    EXPECT_EQ(back[269999], 7);
    EXPECT_EQ(s.io->vt.read(s.io, back.data(), 1, &done), ORV_WOUNLD_BLOCK);

    EXPECT_EQ(s.io->vt.reset(s.io), ORV_OK);
    EXPECT_EQ(s.io->vt.size(s.io), 0);
    EXPECT_EQ(s.capacity(), 270000);
}

// Past 1,431,655,765 bytes half as much again no longer fits in 32 bits: the
// step is taken in 64 bits and capped at the allocator's largest block, and a
// write that needs more than that is left to fail in the allocator.
TEST(IoStream, GrowthStepNearTheTopOfThe32BitRange)
{
    EXPECT_EQ(orv::stream_grown_size(65536, 70000), 98304);
    EXPECT_EQ(orv::stream_grown_size(65536, 200000), 200000);
    EXPECT_EQ(orv::stream_grown_size(1000000000, 1000000001), 1500000000);
    const int64_t top = orv_mem_max_size;
    for (int64_t capacity : {int64_t{1431655765}, int64_t{1431655766}, int64_t{2000000000}, top - 1}) {
        EXPECT_EQ(orv::stream_grown_size(static_cast<int32_t>(capacity), capacity + 1), top) << capacity;
        EXPECT_EQ(orv::stream_grown_size(static_cast<int32_t>(capacity), top + 10), top + 10) << capacity;
    }
}

TEST(IoStream, LimitStopsGrowthUntilRaised)
{
    Stream s;
    XioParam p{};
    p.buffer2 = 65536;
    ASSERT_EQ(s.io->vt.set(s.io, XIO_MEM_SET_LIMIT, &p), ORV_OK);
    s.fill(65000);
    std::vector<uint8_t> more(1000, 1);
    int32_t done = -1;
    EXPECT_EQ(s.write(more.data(), 1000, &done), ORV_WOUNLD_BLOCK);
    EXPECT_EQ(done, -1);
    EXPECT_EQ(s.io->vt.size(s.io), 65000);

    // The limit never falls.
    p.buffer2 = 1000;
    ASSERT_EQ(s.io->vt.set(s.io, XIO_MEM_SET_LIMIT, &p), ORV_OK);
    EXPECT_EQ(s.write(more.data(), 1000), ORV_WOUNLD_BLOCK);

    p.buffer2 = 100000;
    ASSERT_EQ(s.io->vt.set(s.io, XIO_MEM_SET_LIMIT, &p), ORV_OK);
    EXPECT_EQ(s.write(more.data(), 1000, &done), ORV_OK);
    EXPECT_EQ(done, 1000);
    EXPECT_EQ(s.capacity(), 98304);
    // Below the limit growth keeps its usual step, even past the limit; then it stops.
    std::vector<uint8_t> rest(98304 - 66000 + 1, 2);
    ASSERT_EQ(s.write(rest.data(), static_cast<int32_t>(rest.size())), ORV_OK);
    EXPECT_EQ(s.capacity(), 147456);
    std::vector<uint8_t> last(147456 - 98305 + 1, 3);
    EXPECT_EQ(s.write(last.data(), static_cast<int32_t>(last.size())), ORV_WOUNLD_BLOCK);
    EXPECT_EQ(s.io->vt.size(s.io), 98305);
}

TEST(IoStream, SeekClampsAtBothEnds)
{
    Stream s;
    s.fill(100);
    EXPECT_EQ(s.io->vt.seek(s.io, -5, XIO_SEEK_SET), 0);
    EXPECT_EQ(s.io->vt.seek(s.io, 110, XIO_SEEK_SET), 100);
    EXPECT_EQ(s.io->vt.seek(s.io, 40, XIO_SEEK_SET), 40);
    EXPECT_EQ(s.io->vt.seek(s.io, 10, XIO_SEEK_CUR), 50);
    EXPECT_EQ(s.io->vt.seek(s.io, 1000, XIO_SEEK_CUR), 100);
    EXPECT_EQ(s.io->vt.seek(s.io, -1000, XIO_SEEK_CUR), 0);
    EXPECT_EQ(s.io->vt.seek(s.io, 5, XIO_SEEK_END), 100);
    EXPECT_EQ(s.io->vt.seek(s.io, -30, XIO_SEEK_END), 70);
    EXPECT_EQ(s.io->vt.seek(s.io, -101, XIO_SEEK_END), 0);
    EXPECT_EQ(s.io->vt.seek(s.io, 0, 3), static_cast<int64_t>(ORV_FAIL));
    EXPECT_LT(s.io->vt.seek(s.io, 0, 3), 0);
    EXPECT_EQ(s.io->vt.tell(s.io), 0);

    // Writing in the middle overwrites without moving the end.
    uint8_t x[3] = {0xAA, 0xBB, 0xCC};
    s.io->vt.seek(s.io, 10, XIO_SEEK_SET);
    ASSERT_EQ(s.write(x, 3), ORV_OK);
    EXPECT_EQ(s.io->vt.size(s.io), 100);
    EXPECT_EQ(s.io->vt.tell(s.io), 13);
    s.io->vt.seek(s.io, 9, XIO_SEEK_SET);
    uint8_t y[5] = {};
    int32_t done = 0;
    ASSERT_EQ(s.io->vt.read(s.io, y, 5, &done), ORV_OK);
    const uint8_t want[5] = {9, 0xAA, 0xBB, 0xCC, 13};
    EXPECT_EQ(memcmp(y, want, 5), 0);
}

TEST(IoStream, DiscardAndCut)
{
    Stream s;
    s.fill(100);
    XioParam p{};
    p.count = 100;
    ASSERT_EQ(s.io->vt.set(s.io, XIO_MEM_SET_DISCARD, &p), ORV_OK);
    EXPECT_EQ(s.io->vt.size(s.io), 0);
    EXPECT_EQ(s.io->vt.tell(s.io), 0);

    s.fill(100);
    s.io->vt.seek(s.io, 10, XIO_SEEK_SET);
    p = XioParam{};
    p.flag = 1;
    p.count = 4; // keep the last 4 bytes read
    ASSERT_EQ(s.io->vt.set(s.io, XIO_MEM_SET_DISCARD, &p), ORV_OK);
    EXPECT_EQ(s.io->vt.size(s.io), 94);
    EXPECT_EQ(s.io->vt.tell(s.io), 4);
    uint8_t b = 0;
    int32_t done = 0;
    ASSERT_EQ(s.io->vt.read(s.io, &b, 1, &done), ORV_OK);
    EXPECT_EQ(b, 10);

    // Discarding past the position pins it at the start.
    p = XioParam{};
    p.count = 20;
    ASSERT_EQ(s.io->vt.set(s.io, XIO_MEM_SET_DISCARD, &p), ORV_OK);
    EXPECT_EQ(s.io->vt.size(s.io), 74);
    EXPECT_EQ(s.io->vt.tell(s.io), 0);
    ASSERT_EQ(s.io->vt.read(s.io, &b, 1, &done), ORV_OK);
    EXPECT_EQ(b, 26);
    p.count = -3; // nothing
    ASSERT_EQ(s.io->vt.set(s.io, XIO_MEM_SET_DISCARD, &p), ORV_OK);
    EXPECT_EQ(s.io->vt.size(s.io), 74);

    p = XioParam{};
    p.length = 500;
    ASSERT_EQ(s.io->vt.set(s.io, XIO_MEM_SET_CUT, &p), ORV_OK);
    EXPECT_EQ(s.io->vt.size(s.io), 74);
    EXPECT_EQ(s.io->vt.tell(s.io), 0);
    p.length = 30;
    ASSERT_EQ(s.io->vt.set(s.io, XIO_MEM_SET_CUT, &p), ORV_OK);
    EXPECT_EQ(s.io->vt.size(s.io), 30);
    p.length = -1;
    ASSERT_EQ(s.io->vt.set(s.io, XIO_MEM_SET_CUT, &p), ORV_OK);
    EXPECT_EQ(s.io->vt.size(s.io), 0);
}

TEST(IoStream, ViewReserveAndDirectWrite)
{
    Stream s;
    s.fill(10);
    XioParam p{};
    p.buffer2 = 200000;
    ASSERT_EQ(s.io->vt.set(s.io, XIO_MEM_SET_RESERVE, &p), ORV_OK);
    EXPECT_EQ(s.capacity(), 200000);
    p.buffer2 = 5;
    ASSERT_EQ(s.io->vt.set(s.io, XIO_MEM_SET_RESERVE, &p), ORV_OK);
    EXPECT_EQ(s.capacity(), 200000);

    p = XioParam{};
    ASSERT_EQ(s.io->vt.get(s.io, XIO_MEM_GET_VIEW, &p), ORV_OK);
    EXPECT_EQ(p.length, 10);
    EXPECT_EQ(p.buffer2, 200000u);
    EXPECT_EQ(p.position, 10);
    EXPECT_EQ(reinterpret_cast<uint8_t *>(p.buffer)[9], 9);

    // Direct write: a reserved span at the position, counted as data.
    p = XioParam{};
    p.value = 0;
    p.buffer = 6;
    ASSERT_EQ(s.io->vt.get(s.io, XIO_MEM_GET_DIRECT, &p), ORV_OK);
    memcpy(reinterpret_cast<void *>(p.buffer2), "direct", 6);
    EXPECT_EQ(s.io->vt.size(s.io), 16);
    s.io->vt.seek(s.io, 10, XIO_SEEK_SET);
    char text[7] = {};
    int32_t done = 0;
    ASSERT_EQ(s.io->vt.read(s.io, text, 6, &done), ORV_OK);
    EXPECT_STREQ(text, "direct");

    // The first direct request fixes the limit at the capacity: beyond it waits.
    p = XioParam{};
    p.buffer = 200000;
    EXPECT_EQ(s.io->vt.get(s.io, XIO_MEM_GET_DIRECT, &p), ORV_WOUNLD_BLOCK);
    EXPECT_EQ(s.io->vt.size(s.io), 16);
    p.value = 300000; // a wanted limit lets it grow to exactly the need
    ASSERT_EQ(s.io->vt.get(s.io, XIO_MEM_GET_DIRECT, &p), ORV_OK);
    EXPECT_EQ(s.capacity(), 200016);
    EXPECT_EQ(s.io->vt.size(s.io), 200016);
}

TEST(IoStream, BadInputIsRefused)
{
    Stream s;
    XioParam p{};
    EXPECT_EQ(s.io->vt.get(s.io, 2, &p), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(s.io->vt.set(s.io, 12, &p), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(s.io->vt.set(s.io, XIO_MEM_SET_CUT, nullptr), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(s.io->vt.get(s.io, XIO_MEM_GET_VIEW, nullptr), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(s.write("x", -1), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(s.write(nullptr, 4), ORV_ERR_INVALID_PARAM);
    p.buffer2 = static_cast<uintptr_t>(UINT32_MAX);
    EXPECT_EQ(s.io->vt.set(s.io, XIO_MEM_SET_RESERVE, &p), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(s.io->vt.size(s.io), 0);
    EXPECT_EQ(s.capacity(), 65536);
    EXPECT_EQ(s.io->vt.release(nullptr), ORV_OK);
}

} // namespace

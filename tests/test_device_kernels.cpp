// Row kernels against a plain scalar model of their 16-bit arithmetic:
// bit-exact on random rows of many widths, whatever the architecture.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "device_render.h"
#include "kernels/kernels.h"
#include "checked_call.h"
#include "kernel_list.h"
#include "kernel_list10.h"
#include "kernels/arm/arm.h"
#include "yuv_model.h"

namespace {

using namespace yuv_model;

enum class Kind { rgb32, bgr24, rgb565, filter565 };

constexpr int bytes_per_pixel(Kind kind)
{
    return kind == Kind::rgb32 ? 4 : kind == Kind::bgr24 ? 3 : 2;
}

DeviceRowKernel kernel_of(Kind kind)
{
    switch (kind) {
    case Kind::rgb32:
        return device_yuv_rgb32_neon;
    case Kind::bgr24:
        return device_yuv_bgr24_neon;
    case Kind::rgb565:
        return device_yuv_rgb16_565_neon;
    case Kind::filter565:
        return device_filter_yuv_rgb565_neon;
    }
    return nullptr;
}

void put565(uint8_t *dst, uint8_t r, uint8_t g, uint8_t b)
{
    uint16_t p = pack565(r, g, b);
    dst[0] = uint8_t(p), dst[1] = uint8_t(p >> 8);
}

// The whole row as the kernels are meant to convert it.
void model_row(Kind kind, uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *errors,
               const YuvCoefficients &k, int count)
{
    int n = count / 16 * 16;
    for (int x = 0; x < n; ++x) {
        Rgb c = lane_pixel(y[x], u[x / 2], v[x / 2], k);
        uint8_t *p = dst + x * bytes_per_pixel(kind);
        switch (kind) {
        case Kind::rgb32:
            p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = 0xFF;
            break;
        case Kind::bgr24:
            p[0] = c.b, p[1] = c.g, p[2] = c.r;
            break;
        case Kind::rgb565:
            put565(p, c.r, c.g, c.b);
            break;
        case Kind::filter565: {
            uint8_t *e = errors + x / 16 * 48 + x % 16;
            uint8_t r = add_sat(c.r, e[0]), g = add_sat(c.g, e[16]), b = add_sat(c.b, e[32]);
            e[0] = r & 7, e[16] = g & 3, e[32] = b & 7;
            put565(p, r, g, b);
            break;
        }
        }
    }
}

struct Row {
    std::vector<uint8_t> y, u, v, errors;
};

Row random_row(std::mt19937 &rng, int width)
{
    std::uniform_int_distribution<int> byte(0, 255), carry(0, 7);
    Row row;
    row.y.resize(width);
    row.u.resize((width + 1) / 2);
    row.v.resize((width + 1) / 2);
    row.errors.resize(size_t(width) * 8);
    for (auto &b : row.y)
        b = uint8_t(byte(rng));
    for (auto &b : row.u)
        b = uint8_t(byte(rng));
    for (auto &b : row.v)
        b = uint8_t(byte(rng));
    for (auto &b : row.errors)
        b = uint8_t(carry(rng));
    return row;
}

// First differing byte, or -1.
long first_difference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
    auto m = std::mismatch(a.begin(), a.end(), b.begin());
    return m.first == a.end() ? -1 : long(m.first - a.begin());
}

// Runs the kernel and the model on copies, with guard bytes after the output,
// and compares output and error carry byte for byte.
void check_kernel(Kind kind, const Row &row, const YuvCoefficients &k, int count, const char *what,
                  DeviceRowKernel kernel = nullptr)
{
    constexpr int kGuard = 64;
    const int bpp = bytes_per_pixel(kind);
    std::vector<uint8_t> got(size_t(count) * bpp + kGuard, 0xA5), want = got;
    std::vector<uint8_t> got_err = row.errors, want_err = row.errors;
    (kernel ? kernel : kernel_of(kind))(got.data(), row.y.data(), row.u.data(), row.v.data(), got_err.data(),
                                        &k, count);
    model_row(kind, want.data(), row.y.data(), row.u.data(), row.v.data(), want_err.data(), k, count);
    long at = first_difference(got, want);
    ASSERT_EQ(at, -1) << what << " kind " << int(kind) << " count " << count << ": byte " << at << " (pixel "
                      << at / bpp << ") got " << int(got[at]) << " want " << int(want[at]);
    at = first_difference(got_err, want_err);
    ASSERT_EQ(at, -1) << what << " kind " << int(kind) << " count " << count << ": error byte " << at;
}

constexpr Kind kAllKinds[] = {Kind::rgb32, Kind::bgr24, Kind::rgb565, Kind::filter565};

TEST(DeviceKernels, MatchScalarModelOnRandomRows)
{
    std::mt19937 rng(20240611);
    for (Kind kind : kAllKinds) {
        for (int count = 16; count <= 16 * 48 + 15; count += (count < 80 ? 1 : 13)) {
            Row row = random_row(rng, count);
            check_kernel(kind, row, orv_yuv_coefficients, count, "library block");
            if (HasFatalFailure())
                return;
        }
    }
}

YuvCoefficients random_block(std::mt19937 &rng, int round)
{
    // Random weights, offsets and biases drive the lanes into saturation and
    // 16-bit wrap-around.
    std::uniform_int_distribution<int> word(0, 0xFFFF), byte(0, 255);
    YuvCoefficients k{};
    std::memset(&k, 0xEE, sizeof k); // bytes no kernel should read
    k.luma_offset = uint16_t(word(rng));
    k.chroma_offset = uint16_t(word(rng));
    k.luma_gain = int16_t(word(rng));
    k.cr_green = int16_t(word(rng));
    k.cb_green = int16_t(word(rng));
    k.cr_red = int16_t(word(rng));
    k.cb_blue = int16_t(word(rng));
    k.red_bias = uint8_t(byte(rng) & (round % 2 ? 0xFF : 0x1F));
    k.green_bias = uint8_t(byte(rng) & (round % 2 ? 0xFF : 0x1F));
    k.blue_bias = uint8_t(byte(rng) & (round % 2 ? 0xFF : 0x1F));
    if (round % 7 == 3)
        k.cr_red = INT16_MIN; // the one product that saturates
    return k;
}

// Each tier's turn stores against the model on random blocks: every size
// around the vector blocks (4x4, 8x8, 8 rows by 4 and 16 rows by 8
// elements, up to three of them down a block), strides of either sign
// (a store walks up the block or down the window), guard bytes that must
// stay as they were.
TEST(DeviceKernels, TurnStoresMatchTheModel)
{
    std::mt19937 rng(90);
    std::uniform_int_distribution<int> byte(0, 255), pad(0, 5);
    for (int tier : kernel_list::tiers_under_test()) {
        const DeviceTurnKernels set = orv_device_turn_kernels(tier);
        for (const kernel_list::TurnSlot &slot : kernel_list::kTurnSlots) {
            if (set.*slot.kernel == nullptr)
                continue;
            for (int round = 0; round < 300; ++round) {
                const int rows = 1 + round % 53;
                const int cols = slot.split ? 16 * (1 + round % 9) : 1 + (round * 7) % 141;
                const ptrdiff_t src_stride = ptrdiff_t(cols + pad(rng)) * slot.size;
                const int out_rows = slot.transpose ? cols : rows, out_cols = slot.transpose ? rows : cols;
                const ptrdiff_t dst_stride = ptrdiff_t(out_cols + pad(rng)) * slot.size;
                std::vector<uint8_t> src(size_t(src_stride) * rows);
                for (auto &b : src)
                    b = uint8_t(byte(rng));
                std::vector<uint8_t> got(size_t(dst_stride) * out_rows + 64, 0xA5), want = got;
                const bool up = round & 1, down_window = round & 2;
                const uint8_t *from = up ? src.data() + (rows - 1) * src_stride : src.data();
                const ptrdiff_t ss = up ? -src_stride : src_stride;
                uint8_t *to_got = got.data() + 32 + (down_window ? (out_rows - 1) * dst_stride : 0);
                uint8_t *to_want = want.data() + 32 + (down_window ? (out_rows - 1) * dst_stride : 0);
                const ptrdiff_t ds = down_window ? -dst_stride : dst_stride;
                (set.*slot.kernel)(from, ss, to_got, ds, rows, cols);
                kernel_list::turn_model(slot, from, ss, to_want, ds, rows, cols);
                const long at = first_difference(got, want);
                ASSERT_EQ(at, -1) << orv_kernel_tier_name(tier) << " " << slot.name << " " << rows << "x"
                                  << cols << " strides " << ss << "/" << ds << ": byte " << at;
            }
        }
    }
}

// The split bands of the tiers that have them: bands of 2 to 8 rows in
// every chroma layout, padded planes, against the model's rows split in
// groups of 16 (what the split transpose expects); nothing past count.
TEST(DeviceKernels, SplitBandsAreTheModelRowsSplit)
{
    std::mt19937 rng(26);
    std::uniform_int_distribution<int> byte(0, 255);
    const YuvCoefficients &k = orv_yuv_coefficients;
    for (int tier : kernel_list::tiers_under_test()) {
        const DeviceTurnKernels set = orv_device_turn_kernels(tier);
        if (!set.rgb32_split_band)
            continue;
        for (int count = 16; count <= 16 * 9; count += 16) {
            const int rows = 2 + count / 16 % 4 * 2, cw = count / 2;
            const ptrdiff_t ys = count + 5, cs = cw + 3, ps = count + 6, ds = count * 4 + 12;
            std::vector<uint8_t> luma(size_t(ys) * rows), cb(size_t(cs) * rows / 2), cr(cb.size()),
                pairs(size_t(ps) * rows / 2);
            for (auto *plane : {&luma, &cb, &cr})
                for (auto &b : *plane)
                    b = uint8_t(byte(rng));
            std::vector<uint8_t> want(size_t(ds) * rows, 0xA5), row(size_t(count) * 4);
            for (int r = 0; r < rows; ++r) {
                kernel_list::model_row(kernel_list::Output::rgb32, row.data(), &luma[r * ys], &cb[r / 2 * cs],
                                       &cr[r / 2 * cs], nullptr, k, count);
                for (int i = 0; i < count; ++i)
                    std::copy_n(&row[kernel_list::split_column(i) * 4], 4, &want[r * ds + i * 4]);
            }
            for (int layout = 0; layout < 3; ++layout) {
                DeviceRowBand band{luma.data(), cb.data(), cr.data(), ys, cs, cs, rows, count};
                if (layout > 0) {
                    // NV12: Cb first; NV21: Cr first.
                    const int first = layout == 1 ? 0 : 1;
                    for (int r = 0; r < rows / 2; ++r)
                        for (int i = 0; i < cw; ++i) {
                            pairs[r * ps + 2 * i + first] = cb[r * cs + i];
                            pairs[r * ps + 2 * i + 1 - first] = cr[r * cs + i];
                        }
                    band.u = pairs.data() + first;
                    band.v = pairs.data() + 1 - first;
                    band.u_stride = band.v_stride = ps;
                }
                std::vector<uint8_t> got(want.size(), 0xA5);
                (layout ? set.rgb32_semi_split_band : set.rgb32_split_band)(got.data(), ds, &band, &k);
                const long at = first_difference(got, want);
                ASSERT_EQ(at, -1) << orv_kernel_tier_name(tier) << " layout " << layout << " count " << count
                                  << " rows " << rows << ": byte " << at;
            }
        }
    }
}

// The mirrored row pairs of the tiers that have them, every chroma layout,
// against the plain pair's model reversed; random carries and widths.
TEST(DeviceKernels, MirroredPairsMatchTheModel)
{
    std::mt19937 rng(17);
    for (int tier : kernel_list::tiers_under_test()) {
        const DeviceMirrorKernels set = orv_device_mirror_kernels(tier);
        for (const kernel_list::MirrorSlot &slot : kernel_list::kMirrorSlots) {
            if (set.*slot.kernel == nullptr)
                continue;
            for (int count = 16; count <= 16 * 20 + 15; count += 7) {
                const kernel_list::Rows in = kernel_list::random_rows(rng, count);
                // A vector: a conditional between two initializer lists would
                // leave the loop reading an array whose life has ended.
                for (int layout : slot.semi ? std::vector<int>{1, 2} : std::vector<int>{0}) {
                    kernel_list::Result got = kernel_list::blank_result(*slot.plain, in), want = got;
                    std::vector<uint8_t> swapped;
                    kernel_list::call_mirror(slot, set, in, layout, orv_yuv_coefficients, got, swapped);
                    kernel_list::mirror_model(slot, in, orv_yuv_coefficients, want);
                    long at = first_difference(got.pixels, want.pixels);
                    ASSERT_EQ(at, -1) << orv_kernel_tier_name(tier) << " " << slot.name << " layout "
                                      << layout << " count " << count << ": byte " << at;
                    at = first_difference(got.errors, want.errors);
                    ASSERT_EQ(at, -1) << orv_kernel_tier_name(tier) << " " << slot.name << " count " << count
                                      << ": carry byte " << at;
                }
            }
        }
    }
}

TEST(DeviceKernels, FollowAnyCoefficientBlock)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        YuvCoefficients k = random_block(rng, round);
        int count = 16 * (1 + round % 5) + round % 16;
        Row row = random_row(rng, count);
        for (Kind kind : kAllKinds) {
            check_kernel(kind, row, k, count, "random block");
            if (HasFatalFailure())
                return;
        }
    }
}

// Every matrix and range the library offers, as the kernels receive them.
std::vector<YuvCoefficients> library_blocks()
{
    std::vector<YuvCoefficients> blocks;
    for (int matrix : {DEVICE_MATRIX_BT601, DEVICE_MATRIX_BT709, DEVICE_MATRIX_BT2020})
        for (int range : {DEVICE_RANGE_LIMITED, DEVICE_RANGE_FULL})
            blocks.push_back(orv_yuv_colour_coefficients(matrix, range)->lanes);
    return blocks;
}

TEST(DeviceKernels, LibraryBlocks)
{
    const std::vector<YuvCoefficients> blocks = library_blocks();
    // The default is the block the kernels always had; the others differ.
    EXPECT_EQ(0, std::memcmp(&blocks[0], &orv_yuv_coefficients, sizeof(YuvCoefficients)));
    for (size_t i = 1; i < blocks.size(); ++i)
        EXPECT_NE(0, std::memcmp(&blocks[i], &blocks[0], sizeof(YuvCoefficients))) << "block " << i;
    EXPECT_EQ(orv_yuv_colour_coefficients(3, 0), nullptr);
    EXPECT_EQ(orv_yuv_colour_coefficients(-1, 0), nullptr);
    EXPECT_EQ(orv_yuv_colour_coefficients(0, 2), nullptr);
    std::mt19937 rng(17);
    for (const YuvCoefficients &k : blocks)
        for (int count = 16; count < 200; count += 37) {
            check_kernel(Kind::rgb32, random_row(rng, count), k, count, "library block");
            check_kernel(Kind::filter565, random_row(rng, count), k, count, "library block");
            if (HasFatalFailure())
                return;
        }
}

// Skips an entry whose forced tier this machine cannot run (ctest runs one
// entry per tier the build has; the CPU may lack some).
#define SKIP_WITHOUT_TIERS(tiers)                                                                            \
    if ((tiers).empty())                                                                                     \
    GTEST_SKIP() << "ORV_KERNELS names a tier this machine does not run"

// Every slot of every tier under test, planar and semi-planar, on library
// blocks and random ones with and without bias: the model's bytes and carry.
TEST(DeviceKernels, EverySlotOfEveryTierMatchesTheModel)
{
    const std::vector<int> tiers = kernel_list::tiers_under_test();
    SKIP_WITHOUT_TIERS(tiers);
    std::mt19937 rng(99);
    const std::vector<YuvCoefficients> blocks = library_blocks();
    for (int tier : tiers) {
        const DeviceRowKernels set = orv_device_row_kernels(tier);
        const char *name = orv_kernel_tier_name(tier);
        ASSERT_TRUE(set.rgb32 && set.filter565 && set.rgb32_semi && set.filter565_semi) << name;
        const bool pairs = set.rgb32_pair != nullptr;
        ASSERT_EQ(pairs, set.filter565_pair && set.rgb32_semi_pair && set.filter565_semi_pair) << name;
        for (int round = 0; round < 150; ++round) {
            YuvCoefficients k = round < 60 ? blocks[round % blocks.size()] : random_block(rng, round);
            // The x86 multiply parts from NEON's at -32768 alone; no library
            // block holds that weight, so no tier meets it.
            if ((tier == ORV_KERNELS_SSE41 || tier == ORV_KERNELS_AVX2) && k.cr_red == INT16_MIN)
                continue;
            const kernel_list::Rows in = kernel_list::random_rows(rng, 16 * (1 + round % 9) + round % 16);
            for (const kernel_list::Slot &slot : kernel_list::kSlots) {
                if (!kernel_list::has(slot, set))
                    continue;
                kernel_list::Result want = kernel_list::blank_result(slot, in);
                kernel_list::model(slot, in, k, want);
                for (int layout = slot.semi ? 1 : 0; layout <= (slot.semi ? 2 : 0); ++layout) {
                    kernel_list::Result got = kernel_list::blank_result(slot, in);
                    std::vector<uint8_t> swapped;
                    kernel_list::call(slot, set, in, layout, k, got, swapped);
                    long at = first_difference(got.pixels, want.pixels);
                    ASSERT_EQ(at, -1)
                        << name << " " << slot.name << " layout " << layout << " count " << in.count
                        << " round " << round << ": byte " << at << " (row " << at / got.dst_stride
                        << ") got " << int(got.pixels[at]) << " want " << int(want.pixels[at]);
                    at = first_difference(got.errors, want.errors);
                    ASSERT_EQ(at, -1) << name << " " << slot.name << " layout " << layout << " count "
                                      << in.count << ": error byte " << at;
                }
            }
        }
    }
}

TEST(DeviceKernels, SemiPlanarNeedsAdjacentPointers)
{
    const std::vector<int> tiers = kernel_list::tiers_under_test();
    SKIP_WITHOUT_TIERS(tiers);
    std::mt19937 rng(4);
    const kernel_list::Rows in = kernel_list::random_rows(rng, 32);
    for (int tier : tiers) {
        const DeviceRowKernels set = orv_device_row_kernels(tier);
        for (const kernel_list::Slot &slot : kernel_list::kSlots) {
            if (!slot.semi || !kernel_list::has(slot, set))
                continue;
            kernel_list::Result got = kernel_list::blank_result(slot, in);
            const kernel_list::Result before = got;
            // Planar pointers: two planes, not one row of pairs.
            std::vector<uint8_t> unused;
            kernel_list::call(slot, set, in, 0, orv_yuv_coefficients, got, unused);
            EXPECT_EQ(got.pixels, before.pixels) << orv_kernel_tier_name(tier) << " " << slot.name;
            EXPECT_EQ(got.errors, before.errors) << orv_kernel_tier_name(tier) << " " << slot.name;
        }
    }
}

// No slot of any tier draws or moves the carry for fewer than 16 pixels.
TEST(DeviceKernels, ShortCountsWriteNothingInAnySlot)
{
    const std::vector<int> tiers = kernel_list::tiers_under_test();
    SKIP_WITHOUT_TIERS(tiers);
    std::mt19937 rng(5);
    const kernel_list::Rows in = kernel_list::random_rows(rng, 16);
    for (int tier : tiers) {
        const DeviceRowKernels set = orv_device_row_kernels(tier);
        for (const kernel_list::Slot &slot : kernel_list::kSlots) {
            if (!kernel_list::has(slot, set))
                continue;
            for (int count : {-31, -16, -1, 0, 15}) {
                kernel_list::Rows short_in = in;
                short_in.count = count;
                kernel_list::Result got = kernel_list::blank_result(slot, in);
                const kernel_list::Result before = got;
                std::vector<uint8_t> swapped;
                kernel_list::call(slot, set, short_in, slot.semi ? 1 : 0, orv_yuv_coefficients, got, swapped);
                EXPECT_EQ(got.pixels, before.pixels) << orv_kernel_tier_name(tier) << " " << slot.name;
                EXPECT_EQ(got.errors, before.errors) << orv_kernel_tier_name(tier) << " " << slot.name;
            }
        }
    }
}

// The tier ORV_KERNELS forces is the one the blitter gets; the setter takes
// runnable tiers only and leaves the choice alone otherwise.
TEST(DeviceKernels, TiersAreForcedByNameOrSetter)
{
    for (int t = ORV_KERNELS_AUTO; t < ORV_KERNELS_TIERS; ++t)
        EXPECT_EQ(orv_kernel_tier_of(orv_kernel_tier_name(t)), t);
    EXPECT_EQ(orv_kernel_tier_of("sse4"), -2);
    EXPECT_EQ(orv_kernel_tier_of(nullptr), -2);
    EXPECT_EQ(orv_kernel_tier_name(ORV_KERNELS_TIERS), nullptr);
    EXPECT_TRUE(orv_device_kernels_runnable(ORV_KERNELS_NEON));
    EXPECT_FALSE(orv_device_kernels_runnable(ORV_KERNELS_TIERS));
    EXPECT_EQ(orv_device_row_kernels(ORV_KERNELS_TIERS).rgb32, nullptr);

    const int forced = kernel_list::forced_tier();
    const int picked = orv_device_kernel_tier();
    if (forced >= 0 && orv_device_kernels_runnable(forced)) {
        EXPECT_EQ(picked, forced);
    }
    EXPECT_TRUE(orv_device_kernels_runnable(picked));
    EXPECT_EQ(orv_device_pick_kernels().rgb32, orv_device_row_kernels(picked).rgb32);

    for (int t = 0; t < ORV_KERNELS_TIERS; ++t) {
        if (!orv_device_kernels_runnable(t)) {
            EXPECT_EQ(orv_device_kernels_force(t), ORV_ERR_INVALID_PARAM) << t;
            EXPECT_EQ(orv_device_row_kernels(t).rgb32, nullptr) << t;
            continue;
        }
        ASSERT_EQ(orv_device_kernels_force(t), ORV_OK) << t;
        EXPECT_EQ(orv_device_kernel_tier(), t);
        const DeviceRowKernels set = orv_device_pick_kernels(), want = orv_device_row_kernels(t);
        EXPECT_EQ(0, std::memcmp(&set, &want, sizeof set)) << t;
    }
    EXPECT_EQ(orv_device_kernels_force(-7), ORV_ERR_INVALID_PARAM);
    // Auto: the fastest runnable tier, whatever ORV_KERNELS says.
    ASSERT_EQ(orv_device_kernels_force(ORV_KERNELS_AUTO), ORV_OK);
    const int best = orv_device_kernel_tier();
    for (int t = best + 1; t < ORV_KERNELS_TIERS; ++t)
        EXPECT_FALSE(orv_device_kernels_runnable(t)) << "tier " << t << " beats " << best;
    // Back to what the environment chose, for the tests after this one.
    if (forced >= 0 && orv_device_kernels_runnable(forced))
        orv_device_kernels_force(forced);
}

TEST(DeviceKernels, ShortCountsWriteNothing)
{
    std::mt19937 rng(3);
    Row row = random_row(rng, 16);
    for (Kind kind : kAllKinds) {
        for (int count : {-16, 0, 1, 15}) {
            std::vector<uint8_t> dst(64, 0x5A), errors = row.errors;
            kernel_of(kind)(dst.data(), row.y.data(), row.u.data(), row.v.data(), errors.data(),
                            &orv_yuv_coefficients, count);
            EXPECT_TRUE(std::all_of(dst.begin(), dst.end(), [](uint8_t b) { return b == 0x5A; }))
                << "kind " << int(kind) << " count " << count;
            EXPECT_EQ(errors, row.errors);
        }
    }
}

// 16 pixels of one colour through the 32-bit kernel.
std::array<uint8_t, 4> rgb32_of(uint8_t Y, uint8_t U, uint8_t V)
{
    std::array<uint8_t, 16> y;
    std::array<uint8_t, 8> u, v;
    y.fill(Y), u.fill(U), v.fill(V);
    std::array<uint8_t, 64> out{};
    device_yuv_rgb32_neon(out.data(), y.data(), u.data(), v.data(), nullptr, &orv_yuv_coefficients, 16);
    for (int i = 1; i < 16; ++i)
        EXPECT_EQ(0, std::memcmp(out.data(), out.data() + 4 * i, 4)) << "pixel " << i;
    return {out[0], out[1], out[2], out[3]};
}

TEST(DeviceKernels, NamedColours)
{
    using Px = std::array<uint8_t, 4>;
    EXPECT_EQ(rgb32_of(16, 128, 128), (Px{0, 0, 0, 255}));
    EXPECT_EQ(rgb32_of(235, 128, 128), (Px{255, 255, 255, 255}));
    EXPECT_EQ(rgb32_of(128, 128, 128), (Px{130, 130, 130, 255}));
    // Pure red lands one short of the scalar code's 255.
    EXPECT_EQ(rgb32_of(81, 90, 240), (Px{254, 0, 0, 255}));

    // Neighbouring pixels share one chroma sample; pixel 16 starts on sample 8.
    std::array<uint8_t, 32> y;
    std::array<uint8_t, 16> u, v;
    y.fill(81);
    for (int i = 0; i < 16; ++i)
        u[i] = i % 2 ? 90 : 128, v[i] = i % 2 ? 240 : 128;
    std::array<uint8_t, 128> out{};
    device_yuv_rgb32_neon(out.data(), y.data(), u.data(), v.data(), nullptr, &orv_yuv_coefficients, 32);
    for (int x = 0; x < 32; ++x) {
        bool red = (x / 2) % 2 == 1;
        EXPECT_EQ(out[4 * x], red ? 254 : 76) << "pixel " << x;
        EXPECT_EQ(out[4 * x + 1], red ? 0 : 76) << "pixel " << x;
    }
}

TEST(DeviceKernels, FilterCarriesErrorsDownAColumn)
{
    // Grey 130: red and blue errors step 2, 4, 6, 0; green 2, 0, 2, 0.
    std::array<uint8_t, 16> y;
    std::array<uint8_t, 8> u, v;
    y.fill(128), u.fill(128), v.fill(128);
    std::array<uint8_t, 48> errors{};
    const uint8_t red_seq[] = {2, 4, 6, 0, 2};
    const uint8_t green_seq[] = {2, 0, 2, 0, 2};
    const uint16_t pixel_seq[] = {0x8410, 0x8430, 0x8410, 0x8C31, 0x8410};
    for (int row = 0; row < 5; ++row) {
        std::array<uint8_t, 32> out{};
        device_filter_yuv_rgb565_neon(out.data(), y.data(), u.data(), v.data(), errors.data(),
                                      &orv_yuv_coefficients, 16);
        for (int x = 0; x < 16; ++x) {
            EXPECT_EQ(errors[x], red_seq[row]) << "row " << row << " column " << x;
            EXPECT_EQ(errors[16 + x], green_seq[row]) << "row " << row << " column " << x;
            EXPECT_EQ(errors[32 + x], red_seq[row]) << "row " << row << " column " << x;
            EXPECT_EQ(out[2 * x] | out[2 * x + 1] << 8, pixel_seq[row]) << "row " << row << " column " << x;
        }
    }
}

// The plane copies of every tier move the bytes the model moves and pad
// with mid-grey, at every length around the blocks' sizes, on unaligned
// rows, touching nothing past the padding.
TEST(DeviceKernels, PlaneCopiesMatchTheModel)
{
    const std::vector<int> tiers = kernel_list::tiers_under_test();
    if (tiers.empty())
        GTEST_SKIP() << "the forced tier does not run here";
    const int counts[] = {0,  1,  7,  8,  9,  15,  16,  17,  31,  32,  33,
                          47, 63, 64, 65, 79, 100, 127, 128, 129, 960, 1001};
    for (int tier : tiers) {
        const DeviceCopyKernels set = orv_device_copy_kernels(tier);
        ASSERT_NE(set.copy, nullptr) << orv_kernel_tier_name(tier);
        ASSERT_NE(set.split, nullptr) << orv_kernel_tier_name(tier);
        std::mt19937 rng(uint32_t(tier) + 77);
        for (int count : counts)
            for (int pad : {0, 5, 16, 23})
                for (int offset : {0, 1, 3}) {
                    std::vector<uint8_t> src(size_t(2 * count) + 8);
                    for (auto &b : src)
                        b = uint8_t(rng());
                    const std::string what =
                        std::string(orv_kernel_tier_name(tier)) + " count " + std::to_string(count) +
                        " padded to " + std::to_string(count + pad) + " offset " + std::to_string(offset);
                    std::vector<uint8_t> want(size_t(count) + 40, 0xEE), got = want;
                    kernel_list::model_copy(want.data() + offset, src.data() + offset, count, count + pad);
                    set.copy(got.data() + offset, src.data() + offset, count, count + pad);
                    ASSERT_EQ(got, want) << "copy, " << what;
                    std::fill(want.begin(), want.end(), 0xEE);
                    got = want;
                    std::vector<uint8_t> want_b = want, got_b = want;
                    kernel_list::model_split(want.data() + offset, want_b.data() + offset,
                                             src.data() + offset, count, count + pad);
                    set.split(got.data() + offset, got_b.data() + offset, src.data() + offset, count,
                              count + pad);
                    ASSERT_EQ(got, want) << "split first, " << what;
                    ASSERT_EQ(got_b, want_b) << "split second, " << what;
                    // The same bytes read as 10-bit words (any bits set).
                    for (const bool high : {false, true}) {
                        const std::string how = std::string(high ? " high, " : " low, ") + what;
                        std::fill(want.begin(), want.end(), 0xEE);
                        got = want;
                        kernel_list::model_narrow(want.data() + offset, src.data() + offset, count / 2,
                                                  count / 2 + pad, high);
                        (high ? set.narrow_high : set.narrow_low)(got.data() + offset, src.data() + offset,
                                                                  count / 2, count / 2 + pad);
                        ASSERT_EQ(got, want) << "narrow" << how;
                        std::fill(want.begin(), want.end(), 0xEE);
                        got = want, want_b = want, got_b = want;
                        kernel_list::model_split_narrow(want.data() + offset, want_b.data() + offset,
                                                        src.data() + offset, count / 4, count / 4 + pad,
                                                        high);
                        (high ? set.split_high : set.split_low)(got.data() + offset, got_b.data() + offset,
                                                                src.data() + offset, count / 4,
                                                                count / 4 + pad);
                        ASSERT_EQ(got, want) << "split narrow first" << how;
                        ASSERT_EQ(got_b, want_b) << "split narrow second" << how;
                    }
                }
    }
}

#ifdef ORV_HAVE_CHECKED_CALL
// Calls fn with the arguments and random values in every register it must
// keep; expects them all back.
void expect_saved(void (*fn)(void), std::initializer_list<uintptr_t> args, std::mt19937 &rng,
                  const char *name)
{
    std::uniform_int_distribution<uint32_t> word;
    CheckedCall call{};
    call.fn = fn;
    int n = 0;
    for (uintptr_t a : args)
        call.args[n++] = CheckedWord(a);
    for (CheckedWord &w : call.want_core)
        w = CheckedWord(uint64_t(word(rng)) << 32 | word(rng));
    for (uint64_t &w : call.want_vfp)
        w = uint64_t(word(rng)) << 32 | word(rng);
    orv_checked_call(&call);
    for (int i = 0; i < kCheckedCore; ++i)
        EXPECT_EQ(call.got_core[i], call.want_core[i]) << name << ": core register " << i << " of the saved";
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(call.got_vfp[i], call.want_vfp[i]) << name << ": d" << 8 + i;
}

// The assembly restores the registers its calling convention asks it to
// keep (r4-r11 or x19-x28, and d8-d15) and draws what the NEON pairs draw.
TEST(DeviceKernels, AssemblyKeepsCalleeSavedRegisters)
{
    struct Entry {
        const char *name;
        DeviceRowPairKernel assembly, neon;
        int layout;
        int slot; // in kernel_list::kSlots
    };
#if defined(__aarch64__)
#define ORV_ASM(name) orv_a64_##name
#else
#define ORV_ASM(name) orv_a32_##name
#endif
    const Entry entries[] = {
        {"rgba planar", ORV_ASM(rgba_pair_planar), device_yuv_rgb32_pair_neon, 0, 4},
        {"rgba NV12", ORV_ASM(rgba_pair_uv), device_yuv_rgb32_semi_pair_neon, 1, 6},
        {"rgba NV21", ORV_ASM(rgba_pair_vu), device_yuv_rgb32_semi_pair_neon, 2, 6},
        {"rgb565 planar", ORV_ASM(rgb565_pair_planar), device_filter_yuv_rgb565_pair_neon, 0, 5},
        {"rgb565 NV12", ORV_ASM(rgb565_pair_uv), device_filter_yuv_rgb565_semi_pair_neon, 1, 7},
        {"rgb565 NV21", ORV_ASM(rgb565_pair_vu), device_filter_yuv_rgb565_semi_pair_neon, 2, 7},
    };
    std::mt19937 rng(8);
    const kernel_list::Rows in = kernel_list::random_rows(rng, 48);
    const YuvCoefficients &k = orv_yuv_coefficients;
    for (const Entry &e : entries) {
        const kernel_list::Slot &slot = kernel_list::kSlots[e.slot];
        kernel_list::Result got = kernel_list::blank_result(slot, in), want = got;
        std::vector<uint8_t> swapped;
        const uint8_t *u, *v;
        kernel_list::chroma_pointers(in, e.layout, swapped, u, v);
        expect_saved(reinterpret_cast<void (*)(void)>(e.assembly),
                     {uintptr_t(got.pixels.data()), uintptr_t(got.dst_stride), uintptr_t(in.luma.data()),
                      uintptr_t(in.y_stride), uintptr_t(u), uintptr_t(v), uintptr_t(got.errors.data()),
                      uintptr_t(&k), uintptr_t(in.count)},
                     rng, e.name);
        e.neon(want.pixels.data(), want.dst_stride, in.luma.data(), in.y_stride, u, v, want.errors.data(), &k,
               in.count);
        EXPECT_EQ(got.pixels, want.pixels) << e.name;
        EXPECT_EQ(got.errors, want.errors) << e.name;
    }
    // The mirrored pairs, which keep some of their indices in d8.
    for (auto [name, mirrored] :
         {std::pair<const char *, DeviceRowPairKernel>{"rgba mirrored", ORV_ASM(rgba_pair_mirror_planar)},
          std::pair<const char *, DeviceRowPairKernel>{"rgb565 mirrored",
                                                       ORV_ASM(rgb565_pair_mirror_planar)}}) {
        kernel_list::Result out = kernel_list::blank_result(kernel_list::kSlots[4], in);
        expect_saved(reinterpret_cast<void (*)(void)>(mirrored),
                     {uintptr_t(out.pixels.data()), uintptr_t(out.dst_stride), uintptr_t(in.luma.data()),
                      uintptr_t(in.y_stride), uintptr_t(in.cb.data()), uintptr_t(in.cr.data()),
                      uintptr_t(out.errors.data()), uintptr_t(&k), uintptr_t(in.count)},
                     rng, name);
    }
    // The split band (a planar pair) and the split transpose, both paths.
#if defined(__aarch64__)
    const auto band_split = orv_a64_rgba_band_split_planar;
    const auto transpose_split = orv_a64_transpose32_split_blocks;
#else
    const auto band_split = orv_a32_rgba_band_split_planar;
    const auto transpose_split = orv_a32_transpose32_split_blocks;
#endif
    {
        const DeviceRowBand band{in.luma.data(), in.cb.data(), in.cr.data(), in.y_stride, 0, 0, 2, 48};
        std::vector<uint8_t> pixels(2 * 48 * 4);
        expect_saved(reinterpret_cast<void (*)(void)>(band_split),
                     {uintptr_t(pixels.data()), 48 * 4, uintptr_t(&band), uintptr_t(&k)}, rng, "split band");
        std::vector<uint8_t> block(24 * 16 * 4), window(16 * 24 * 4);
        for (int rows : {16, 24})
            expect_saved(reinterpret_cast<void (*)(void)>(transpose_split),
                         {uintptr_t(block.data()), 16 * 4, uintptr_t(window.data()), uintptr_t(rows * 4),
                          uintptr_t(rows), 16},
                         rng, "split transpose");
    }
#undef ORV_ASM
    // The plane-copy loops, three blocks each.
#if defined(__aarch64__)
    const auto copy_blocks = orv_a64_copy_blocks;
    const auto split_blocks = orv_a64_split_blocks;
#else
    const auto copy_blocks = orv_a32_copy_blocks;
    const auto split_blocks = orv_a32_split_blocks;
#endif
    std::vector<uint8_t> src(192), a(192, 0), b(96, 0);
    for (auto &x : src)
        x = uint8_t(rng());
    expect_saved(reinterpret_cast<void (*)(void)>(copy_blocks),
                 {uintptr_t(a.data()), uintptr_t(src.data()), 3}, rng, "copy loop");
    expect_saved(reinterpret_cast<void (*)(void)>(split_blocks),
                 {uintptr_t(a.data()), uintptr_t(b.data()), uintptr_t(src.data()), 3}, rng, "split loop");
    // The split wrote over the copy's first 48 bytes only.
    std::vector<uint8_t> want_a(src), want_b(48);
    kernel_list::model_split(want_a.data(), want_b.data(), src.data(), 48, 48);
    EXPECT_EQ(a, want_a) << "copy loop, then split loop's even bytes";
    EXPECT_TRUE(std::equal(want_b.begin(), want_b.end(), b.begin())) << "split loop, odd bytes";
}

// The 10-bit pairs likewise, against the model: garbage in the unused bits,
// words at odd addresses.
#if defined(__aarch64__)
#define ORV_PAIRS10(out, s) {orv_a64_##out##_pair10_##s##_planar, orv_a64_##out##_pair10_##s##_uv, orv_a64_##out##_pair10_##s##_vu}
#else
#define ORV_PAIRS10(out, s) {orv_a32_##out##_pair10_##s##_planar, orv_a32_##out##_pair10_##s##_uv, orv_a32_##out##_pair10_##s##_vu}
#endif
TEST(DeviceKernels, TenBitAssemblyKeepsCalleeSavedRegisters)
{
    // [RGB565][high][layout]
    const DeviceRowPairKernel pairs[2][2][3] = {{ORV_PAIRS10(rgba, low), ORV_PAIRS10(rgba, high)},
                                                {ORV_PAIRS10(rgb565, low), ORV_PAIRS10(rgb565, high)}};
    std::mt19937 rng(10);
    const YuvCoefficients &k = *orv_yuv_coefficients10(DEVICE_MATRIX_BT2020, DEVICE_RANGE_LIMITED);
    for (int rgb565 : {0, 1})
        for (int high : {0, 1})
            for (int layout : {0, 1, 2}) {
                const std::string name = std::string(rgb565 ? "rgb565" : "rgba") + (high ? " high" : " low") +
                                         " layout " + std::to_string(layout);
                const kernel_list10::Rows in = kernel_list10::random_rows(
                    rng, 48, high ? DEVICE_SAMPLES_10_HIGH : DEVICE_SAMPLES_10_LOW, true, true);
                const kernel_list::Slot &slot = kernel_list::kSlots[4 + rgb565 + (layout ? 2 : 0)];
                kernel_list::Result got = kernel_list10::blank_result(slot, in), want = got;
                kernel_list10::model(slot, in, k, want);
                std::vector<uint8_t> swapped;
                const uint8_t *u, *v;
                kernel_list10::chroma_pointers(in, layout, swapped, u, v);
                expect_saved(reinterpret_cast<void (*)(void)>(pairs[rgb565][high][layout]),
                             {uintptr_t(got.pixels.data()), uintptr_t(got.dst_stride),
                              uintptr_t(in.luma.data() + kernel_list10::skew(in)), uintptr_t(in.y_stride),
                              uintptr_t(u), uintptr_t(v), uintptr_t(got.errors.data()), uintptr_t(&k),
                              uintptr_t(in.count)},
                             rng, name.c_str());
                EXPECT_EQ(got.pixels, want.pixels) << name;
                EXPECT_EQ(got.errors, want.errors) << name;
            }
}
#undef ORV_PAIRS10
#endif

TEST(DeviceKernels, RegisterFileRoundTrip)
{
    alignas(16) std::array<uint8_t, 256> pattern, first, second;
    for (int i = 0; i < 256; ++i)
        pattern[i] = uint8_t(i * 7 + 1);
    first.fill(0), second.fill(0);
    device_vload(pattern.data());
    device_vstore(first.data());
    device_vload(first.data());
    device_vstore(second.data());
    EXPECT_EQ(first, second);
#if defined(__arm__) || defined(__x86_64__) || defined(__aarch64__)
    EXPECT_EQ(first, pattern);
#endif
}

} // namespace

// 10-bit blocks of every matrix and range.
std::vector<YuvCoefficients> library_blocks10()
{
    std::vector<YuvCoefficients> blocks;
    for (int matrix : {DEVICE_MATRIX_BT601, DEVICE_MATRIX_BT709, DEVICE_MATRIX_BT2020})
        for (int range : {DEVICE_RANGE_LIMITED, DEVICE_RANGE_FULL})
            blocks.push_back(*orv_yuv_coefficients10(matrix, range));
    return blocks;
}

// The 10-bit sets of every tier against their model: both sample layouts,
// garbage in the unused bits, unaligned words, library blocks and random ones
// (offsets whole 10-bit levels below 32768, as the 10-bit lanes take them).
TEST(DeviceKernels, EveryTenBitSlotOfEveryTierMatchesTheModel)
{
    const std::vector<int> tiers = kernel_list::tiers_under_test();
    SKIP_WITHOUT_TIERS(tiers);
    std::mt19937 rng(1010);
    const std::vector<YuvCoefficients> blocks = library_blocks10();
    for (int tier : tiers) {
        const char *name = orv_kernel_tier_name(tier);
        for (int samples : kernel_list10::kLayouts) {
            const DeviceRowKernels set = orv_device_row_kernels10(tier, samples);
            for (const kernel_list::Slot &slot : kernel_list::kSlots)
                ASSERT_TRUE(kernel_list::has(slot, set)) << name << " " << slot.name;
            for (int round = 0; round < 120; ++round) {
                YuvCoefficients k = round < 48 ? blocks[round % blocks.size()] : random_block(rng, round);
                k.luma_offset &= 0x7FE0, k.chroma_offset &= 0x7FE0;
                if ((tier == ORV_KERNELS_SSE41 || tier == ORV_KERNELS_AVX2) && k.cr_red == INT16_MIN)
                    continue;
                const kernel_list10::Rows in = kernel_list10::random_rows(
                    rng, 16 * (1 + round % 9) + round % 16, samples, round % 2 == 1, round % 3 == 2);
                for (const kernel_list::Slot &slot : kernel_list::kSlots) {
                    kernel_list::Result want = kernel_list10::blank_result(slot, in);
                    kernel_list10::model(slot, in, k, want);
                    for (int layout = slot.semi ? 1 : 0; layout <= (slot.semi ? 2 : 0); ++layout) {
                        kernel_list::Result got = kernel_list10::blank_result(slot, in);
                        std::vector<uint8_t> swapped;
                        kernel_list10::call(slot, set, in, layout, k, got, swapped);
                        long at = first_difference(got.pixels, want.pixels);
                        ASSERT_EQ(at, -1) << name << " samples " << samples << " " << slot.name << " layout "
                                          << layout << " count " << in.count << " round " << round
                                          << ": byte " << at << " (row " << at / got.dst_stride << ") got "
                                          << int(got.pixels[at]) << " want " << int(want.pixels[at]);
                        at = first_difference(got.errors, want.errors);
                        ASSERT_EQ(at, -1) << name << " samples " << samples << " " << slot.name << " layout "
                                          << layout << ": error byte " << at;
                    }
                }
            }
        }
        EXPECT_FALSE(orv_device_row_kernels10(tier, DEVICE_SAMPLES_8).rgb32) << name;
        EXPECT_FALSE(orv_device_row_kernels10(tier, 3).filter565_pair) << name;
    }
}

// Semi-planar 10-bit pointers must lie one word apart: one byte apart (the
// 8-bit rule) draws nothing; short counts write nothing either.
TEST(DeviceKernels, TenBitSemiPointersAndShortCounts)
{
    const std::vector<int> tiers = kernel_list::tiers_under_test();
    SKIP_WITHOUT_TIERS(tiers);
    std::mt19937 rng(5);
    for (int tier : tiers)
        for (int samples : kernel_list10::kLayouts) {
            const DeviceRowKernels set = orv_device_row_kernels10(tier, samples);
            const kernel_list10::Rows in = kernel_list10::random_rows(rng, 32, samples, false);
            const YuvCoefficients &k = *orv_yuv_coefficients10(DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED);
            for (const kernel_list::Slot &slot : kernel_list::kSlots) {
                kernel_list::Result got = kernel_list10::blank_result(slot, in);
                const kernel_list::Result before = got;
                const uint8_t *u = in.pairs.data(), *v = u + 1;
                if (slot.semi) {
                    if (kernel_list::is_pair(slot))
                        (set.*slot.row_pair)(got.pixels.data(), got.dst_stride, in.luma.data(), in.y_stride,
                                             u, v, got.errors.data(), &k, 32);
                    else
                        (set.*slot.row)(got.pixels.data(), in.luma.data(), u, v, got.errors.data(), &k, 32);
                    EXPECT_EQ(got.pixels, before.pixels) << slot.name;
                    EXPECT_EQ(got.errors, before.errors) << slot.name;
                }
                kernel_list10::Rows short_in = in;
                short_in.count = 15;
                std::vector<uint8_t> swapped;
                kernel_list10::call(slot, set, short_in, slot.semi ? 1 : 0, k, got, swapped);
                EXPECT_EQ(got.pixels, before.pixels) << slot.name << " count 15";
                EXPECT_EQ(got.errors, before.errors) << slot.name << " count 15";
            }
        }
}

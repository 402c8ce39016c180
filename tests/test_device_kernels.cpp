// Row kernels against a plain scalar model of their 16-bit arithmetic:
// bit-exact on random rows of many widths, whatever the architecture.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <random>
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

#ifdef ORV_HAVE_CHECKED_CALL
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
#undef ORV_ASM
    std::mt19937 rng(8);
    std::uniform_int_distribution<uint32_t> word;
    const kernel_list::Rows in = kernel_list::random_rows(rng, 48);
    const YuvCoefficients &k = orv_yuv_coefficients;
    for (const Entry &e : entries) {
        const kernel_list::Slot &slot = kernel_list::kSlots[e.slot];
        kernel_list::Result got = kernel_list::blank_result(slot, in), want = got;
        std::vector<uint8_t> swapped;
        const uint8_t *u, *v;
        kernel_list::chroma_pointers(in, e.layout, swapped, u, v);
        CheckedCall call{};
        call.fn = reinterpret_cast<void (*)(void)>(e.assembly);
        const uintptr_t args[9] = {uintptr_t(got.pixels.data()),
                                   uintptr_t(got.dst_stride),
                                   uintptr_t(in.luma.data()),
                                   uintptr_t(in.y_stride),
                                   uintptr_t(u),
                                   uintptr_t(v),
                                   uintptr_t(got.errors.data()),
                                   uintptr_t(&k),
                                   uintptr_t(in.count)};
        for (int i = 0; i < 9; ++i)
            call.args[i] = CheckedWord(args[i]);
        for (CheckedWord &w : call.want_core)
            w = CheckedWord(uint64_t(word(rng)) << 32 | word(rng));
        for (uint64_t &w : call.want_vfp)
            w = uint64_t(word(rng)) << 32 | word(rng);
        orv_checked_call(&call);
        for (int i = 0; i < kCheckedCore; ++i)
            EXPECT_EQ(call.got_core[i], call.want_core[i])
                << e.name << ": core register " << i << " of the saved";
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(call.got_vfp[i], call.want_vfp[i]) << e.name << ": d" << 8 + i;
        e.neon(want.pixels.data(), want.dst_stride, in.luma.data(), in.y_stride, u, v, want.errors.data(), &k,
               in.count);
        EXPECT_EQ(got.pixels, want.pixels) << e.name;
        EXPECT_EQ(got.errors, want.errors) << e.name;
    }
}
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

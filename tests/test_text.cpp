#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "orv/orv_mem.h"
#include "orv/orv_text.h"
#include "orv_log_internal.hpp"

namespace {

// A heap copy of exactly strlen + 1 bytes, so the sanitizer build catches any
// read past the terminator.
std::unique_ptr<char[]> exact_copy(const std::string &text)
{
    std::unique_ptr<char[]> copy(new char[text.size() + 1]);
    memcpy(copy.get(), text.c_str(), text.size() + 1);
    return copy;
}

std::vector<uint8_t> random_bytes(std::mt19937 &rng, size_t n)
{
    std::vector<uint8_t> bytes(n);
    for (auto &b : bytes)
        b = static_cast<uint8_t>(rng());
    return bytes;
}

std::string r64_encode(const std::vector<uint8_t> &bytes)
{
    auto n = static_cast<uint32_t>(bytes.size());
    std::string text(orv_r64_size(n) + 4, '#');
    orv_r64_encode(n, bytes.data(), text.data());
    EXPECT_EQ(strlen(text.c_str()) + 1, orv_r64_size(n)) << "size must be exact for n=" << n;
    text.resize(strlen(text.c_str()));
    return text;
}

std::string g_android;
int capture_android(int, const char *, const char *text)
{
    g_android += text;
    return 0;
}

// Collects the error lines written while it lives.
struct ErrorLines {
    ErrorLines() : old(orv::log_set_android_writer(capture_android)) { g_android.clear(); }
    ~ErrorLines() { orv::log_set_android_writer(old); }
    bool saw(const char *part) const { return g_android.find(part) != std::string::npos; }
    orv::AndroidWriter old;
};

} // namespace

TEST(Text, CharClassesAndBoundedCopies)
{
    EXPECT_TRUE(orv_is_space(' '));
    EXPECT_TRUE(orv_is_space('\t'));
    EXPECT_FALSE(orv_is_space('\n'));
    EXPECT_FALSE(orv_is_alpha(0xE9));
    EXPECT_EQ(orv_hex_value('g'), -1);
    EXPECT_EQ(orv_hex_value('F'), 15);
    EXPECT_EQ(orv_hex_value('0'), 0);

    char buffer[8];
    memset(buffer, 'X', sizeof buffer);
    orv_str_copy(buffer, 4, "abcdef");
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(buffer[4], 'X');
    orv_str_copy(buffer, 0, "zz");
    EXPECT_STREQ(buffer, "abc");

    orv_str_append(buffer, 6, "defgh");
    EXPECT_STREQ(buffer, "abcde");
    EXPECT_EQ(buffer[6], 'X');
    // A destination with no terminator inside size is left alone.
    memset(buffer, 'Y', sizeof buffer);
    orv_str_append(buffer, 4, "q");
    EXPECT_EQ(std::string(buffer, 8), "YYYYYYYY");
}

TEST(Text, Radix64KnownTextsAndSizes)
{
    const uint8_t three[] = {0x00, 0x10, 0x83};
    EXPECT_EQ(r64_encode({three, three + 3}), "3*0123");
    EXPECT_EQ(r64_encode({0xFF}), "1*-M");
    EXPECT_EQ(r64_encode({}), "0*");
    EXPECT_EQ(orv_r64_size(1), 5u);
    EXPECT_EQ(orv_r64_size(3), 7u);
    EXPECT_EQ(orv_r64_size(0), 3u);
    EXPECT_EQ(orv_r64_size(UINT32_MAX), UINT32_MAX); // no 32-bit wrap to a small size

    uint8_t out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(orv_r64_decode(out, "2*0g0"), 2u);
    EXPECT_EQ(out[0], 0x01);
    EXPECT_EQ(out[1], 0x00);
    EXPECT_EQ(out[2], 0xAA);

    const char *data = nullptr;
    EXPECT_EQ(orv_r64_count("12*abc", &data), 12u);
    EXPECT_STREQ(data, "abc");
    EXPECT_EQ(orv_r64_count("-3*abc", &data), 0u);

    // The "*" must lie in the first 256 characters.
    std::string late = std::string(256, '1') + "*00";
    EXPECT_EQ(orv_r64_count(late.c_str(), &data), 0u);
    EXPECT_EQ(data, late.c_str());
    EXPECT_EQ(orv_r64_decode(out, late.c_str()), 0u);
    EXPECT_EQ(out[2], 0xAA);
    auto short_text = exact_copy("12");
    EXPECT_EQ(orv_r64_count(short_text.get(), &data), 0u);
}

TEST(Text, Radix64RoundTripAndShortTexts)
{
    std::mt19937 rng(1234);
    const std::string alphabet = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ+-";
    for (size_t n = 0; n < 300; n += 1 + n / 16) {
        auto bytes = random_bytes(rng, n);
        std::string text = r64_encode(bytes);
        std::string prefix = std::to_string(n) + "*";
        ASSERT_EQ(text.compare(0, prefix.size(), prefix), 0);
        EXPECT_EQ(text.find_first_not_of(alphabet, prefix.size()), std::string::npos);

        auto exact = exact_copy(text);
        std::vector<uint8_t> back(n + 1, 0x5A);
        EXPECT_EQ(orv_r64_decode(back.data(), exact.get()), n);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), back.begin())) << "n=" << n;
        EXPECT_EQ(back[n], 0x5A) << "wrote past the count, n=" << n;

        // Cut the data short: what is there decodes, the rest comes out zero.
        if (n == 0)
            continue;
        size_t keep = rng() % (text.size() - prefix.size());
        auto cut = exact_copy(text.substr(0, prefix.size() + keep));
        std::vector<uint8_t> partial(n, 0x5A);
        uint32_t covered = orv_r64_decode(partial.data(), cut.get());
        EXPECT_EQ(covered, keep * 6 / 8);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + covered, partial.begin()));
        for (size_t i = (keep * 6 + 7) / 8; i < n; ++i)
            ASSERT_EQ(partial[i], 0) << "n=" << n << " i=" << i;
    }
}

TEST(Text, HexRoundTripAndOddLength)
{
    const uint8_t ab01[] = {0xAB, 0x01};
    char text[8];
    orv_hex_encode(2, ab01, text);
    EXPECT_STREQ(text, "ab01");
    uint8_t out[4] = {};
    EXPECT_EQ(orv_hex_decode(out, "AB01"), 4u);
    EXPECT_EQ(memcmp(out, ab01, 2), 0);

    // An odd final digit pairs with the terminator, never with the byte after it.
    auto odd = exact_copy("abc");
    memset(out, 0x77, sizeof out);
    EXPECT_EQ(orv_hex_decode(out, odd.get()), 3u);
    EXPECT_EQ(out[0], 0xAB);
    EXPECT_EQ(out[1], 0xC0);
    EXPECT_EQ(out[2], 0x77);
    EXPECT_EQ(orv_hex_decode(out, "zz"), 2u);
    EXPECT_EQ(out[0], 0x00);

    std::mt19937 rng(99);
    for (uint32_t n = 0; n < 64; n += 7) {
        auto bytes = random_bytes(rng, n);
        char *hex = orv_hex_encode_alloc(n, bytes.data());
        ASSERT_NE(hex, nullptr);
        EXPECT_EQ(orv_mem_size(hex), 2 * n + 1);
        ASSERT_EQ(strlen(hex), 2 * n);
        EXPECT_EQ(std::string(hex).find_first_not_of("0123456789abcdef"), std::string::npos);
        std::vector<uint8_t> back(n + 1, 0x5A);
        EXPECT_EQ(orv_hex_decode(back.data(), hex), 2u * n);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), back.begin()));
        EXPECT_EQ(back[n], 0x5A);
        orv_mem_free(hex);
    }
}

// The bounded decoders refuse, before writing a byte, a text whose bytes do
// not fit; the unbounded ones would write as many as the count claims.
TEST(Text, BoundedDecodersRefuseWhatDoesNotFit)
{
    ErrorLines lines;
    uint8_t out[8];
    uint32_t written = 99;
    memset(out, 0x5A, sizeof out);
    // A count of four billion: the plain decoder's overrun, now a refusal.
    EXPECT_EQ(orv_r64_decode_bounded(out, sizeof out, "4000000000*0123", &written), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(lines.saw("claims 4000000000 bytes"));
    EXPECT_EQ(orv_r64_decode_bounded(out, 2, "3*0123", &written), ORV_ERR_INVALID_PARAM);
    for (uint8_t b : out)
        ASSERT_EQ(b, 0x5A);

    // Exact fit, an empty text, and the count rather than the room deciding.
    EXPECT_EQ(orv_r64_decode_bounded(out, 3, "3*0123", &written), ORV_OK);
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(out[0], 0x00);
    EXPECT_EQ(out[1], 0x10);
    EXPECT_EQ(out[2], 0x83);
    EXPECT_EQ(out[3], 0x5A);
    EXPECT_EQ(orv_r64_decode_bounded(nullptr, 0, "0*", &written), ORV_OK);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(orv_r64_decode_bounded(out, sizeof out, "1*-M", nullptr), ORV_OK);
    EXPECT_EQ(out[0], 0xFF);

    // Data shorter than its count, no count at all, no text: refused, untouched.
    memset(out, 0x5A, sizeof out);
    auto cut = exact_copy("3*012");
    EXPECT_EQ(orv_r64_decode_bounded(out, sizeof out, cut.get(), &written), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_r64_decode_bounded(out, sizeof out, "0123", &written), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_r64_decode_bounded(out, sizeof out, nullptr, &written), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_r64_decode_bounded(nullptr, 4, "1*-M", &written), ORV_ERR_INVALID_PARAM);
    for (uint8_t b : out)
        ASSERT_EQ(b, 0x5A);

    size_t hex_written = 99;
    EXPECT_EQ(orv_hex_decode_bounded(out, 2, "AB01", &hex_written), ORV_OK);
    EXPECT_EQ(hex_written, 2u);
    EXPECT_EQ(out[0], 0xAB);
    EXPECT_EQ(out[1], 0x01);
    EXPECT_EQ(out[2], 0x5A);
    // One digit too many needs a third byte: an odd digit still takes one.
    auto odd = exact_copy("AB01c");
    EXPECT_EQ(orv_hex_decode_bounded(out, 2, odd.get(), &hex_written), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(hex_written, 0u);
    EXPECT_EQ(out[2], 0x5A);
    EXPECT_TRUE(lines.saw("hex text longer than its room of 2 bytes"));
    EXPECT_EQ(orv_hex_decode_bounded(out, 3, odd.get(), &hex_written), ORV_OK);
    EXPECT_EQ(hex_written, 3u);
    EXPECT_EQ(out[2], 0xC0);
    EXPECT_EQ(orv_hex_decode_bounded(nullptr, 0, "", &hex_written), ORV_OK);
    EXPECT_EQ(hex_written, 0u);
    EXPECT_EQ(orv_hex_decode_bounded(nullptr, 0, "ab", &hex_written), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_hex_decode_bounded(out, sizeof out, nullptr, &hex_written), ORV_ERR_INVALID_PARAM);
}

TEST(Text, RescaleRoundingModes)
{
    const OrvRounding modes[] = {ORV_ROUND_ZERO, ORV_ROUND_INF, ORV_ROUND_DOWN, ORV_ROUND_UP,
                                 ORV_ROUND_NEAR_INF};
    const int64_t pos[] = {3, 4, 3, 4, 4};
    const int64_t neg[] = {-3, -4, -4, -3, -4};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(orv_rescale_rnd(7, 1, 2, modes[i]), pos[i]) << "mode " << modes[i];
        EXPECT_EQ(orv_rescale_rnd(-7, 1, 2, modes[i]), neg[i]) << "mode " << modes[i];
        // Same rounding through the 128-bit path (c above 2^31 - 1).
        const int64_t big = int64_t{1} << 40;
        EXPECT_EQ(orv_rescale_rnd(7, big, 2 * big, modes[i]), pos[i]) << "mode " << modes[i];
        EXPECT_EQ(orv_rescale_rnd(-7, big, 2 * big, modes[i]), neg[i]) << "mode " << modes[i];
        // And through the split path (a above 2^31 - 1, b and c small).
        const int64_t a = (int64_t{1} << 40) + 7;
        EXPECT_EQ(orv_rescale_rnd(a, 1, 2, modes[i]), (int64_t{1} << 39) + pos[i]);
        EXPECT_EQ(orv_rescale_rnd(-a, 1, 2, modes[i]), -(int64_t{1} << 39) + neg[i]);
    }
    EXPECT_EQ(orv_rescale(int64_t{1} << 40, 3, (int64_t{1} << 33) + 1), 384);
    EXPECT_EQ(orv_rescale(INT64_MAX, 1, 1), INT64_MAX);
    EXPECT_EQ(orv_rescale(INT64_MIN, 1, 1), INT64_MIN);
    EXPECT_EQ(orv_rescale_rnd(INT64_MIN, 1, 2, ORV_ROUND_ZERO), -(int64_t{1} << 62));
    EXPECT_EQ(orv_rescale_rnd(INT64_MIN + 1, 1, 2, ORV_ROUND_DOWN), -(int64_t{1} << 62));
    // Results beyond 64 bits saturate; bad arguments give INT64_MIN, no trap.
    EXPECT_EQ(orv_rescale(INT64_MAX, 4, 2), INT64_MAX);
    EXPECT_EQ(orv_rescale(INT64_MAX / 2, int64_t{1} << 40, 3), INT64_MAX);
    EXPECT_EQ(orv_rescale(-(INT64_MAX / 2), int64_t{1} << 40, 3), INT64_MIN);
    EXPECT_EQ(orv_rescale(5, 1, 0), INT64_MIN);
    EXPECT_EQ(orv_rescale(5, -1, 3), INT64_MIN);

    EXPECT_EQ(orv_rescale_q(90000, OrvRational{1, 90000}, OrvRational{1, 1000}), 1000);
    EXPECT_EQ(orv_rescale_q(45, OrvRational{1, 90}, OrvRational{1, 1}), 1); // 0.5 rounds away
    EXPECT_EQ(orv_rescale_q(-45, OrvRational{1, 90}, OrvRational{1, 1}), -1);

    EXPECT_EQ(orv_gcd64(12, 18), 6);
    EXPECT_EQ(orv_gcd64(5, 0), 5);
    EXPECT_EQ(orv_gcd64(0, 7), 7);
    EXPECT_EQ(orv_gcd64(INT64_MIN, -1), -1);
    EXPECT_EQ(orv_gcd64(int64_t{1} << 62, int64_t{3} << 40), int64_t{1} << 40);
}

#if defined(__SIZEOF_INT128__)
// Exact a * b / c with the modes' meaning, from a 128-bit product.
TEST(Text, RescaleMatchesExactArithmetic)
{
    using u128 = unsigned __int128;
    std::mt19937_64 rng(77);
    auto pick = [&](int bits) { return bits == 0 ? uint64_t{0} : rng() >> (64 - bits); };
    const OrvRounding modes[] = {ORV_ROUND_ZERO, ORV_ROUND_INF, ORV_ROUND_DOWN, ORV_ROUND_UP,
                                 ORV_ROUND_NEAR_INF};
    int checked = 0;
    for (int iter = 0; iter < 40000; ++iter) {
        uint64_t magnitude = pick(static_cast<int>(rng() % 64));
        int64_t b = static_cast<int64_t>(pick(static_cast<int>(rng() % 64)));
        int64_t c = static_cast<int64_t>(pick(1 + static_cast<int>(rng() % 63)));
        if (c == 0)
            c = 1;
        bool negative = rng() & 1;
        int64_t a = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
        u128 product = static_cast<u128>(magnitude) * static_cast<uint64_t>(b);
        u128 q = product / static_cast<uint64_t>(c);
        u128 rem = product % static_cast<uint64_t>(c);
        for (OrvRounding mode : modes) {
            bool up; // away from zero in magnitude
            switch (mode) {
            case ORV_ROUND_ZERO:
                up = false;
                break;
            case ORV_ROUND_INF:
                up = rem != 0;
                break;
            case ORV_ROUND_DOWN:
                up = negative && rem != 0;
                break;
            case ORV_ROUND_UP:
                up = !negative && rem != 0;
                break;
            default:
                up = 2 * rem >= static_cast<u128>(c);
                break;
            }
            u128 rounded = q + (up ? 1 : 0);
            if (rounded > static_cast<u128>(INT64_MAX))
                continue;
            int64_t expect = negative ? -static_cast<int64_t>(rounded) : static_cast<int64_t>(rounded);
            ASSERT_EQ(orv_rescale_rnd(a, b, c, mode), expect)
                << "a=" << a << " b=" << b << " c=" << c << " mode=" << mode;
            ++checked;
        }
    }
    EXPECT_GT(checked, 50000);
}
#endif

TEST(Text, FormatSmallStaysInsideBuffer)
{
    char out[64];
    const char *name = "ab";
    const intptr_t args[] = {42, -7, reinterpret_cast<intptr_t>(name), 5, -1, 0xBEEF, 0xBEEF, -1, 'Q', 3, 9};
    int n = orv_format_small(out, sizeof out, "%d|%5d|%-4s|%03d|%ud|%x|%X|%d|%c|%*d|%%", args);
    EXPECT_STREQ(out, "42|   -7|ab  |005|4294967295|beef|BEEF|-1|Q|  9|%");
    EXPECT_EQ(n, static_cast<int>(strlen(out)));
    const intptr_t neg[] = {-42, -2147483647 - 1};
    orv_format_small(out, sizeof out, "%05d %d", neg);
    EXPECT_STREQ(out, "-0042 -2147483648");
    orv_format_small(out, sizeof out, "%s", nullptr);
    EXPECT_STREQ(out, "(null)");

    char small[8];
    memset(small, 'X', sizeof small);
    EXPECT_EQ(orv_format_small(small, 6, "abcdefgh", nullptr), 5);
    EXPECT_STREQ(small, "abcde");
    EXPECT_EQ(small[6], 'X');
    const intptr_t wide[] = {1, 1000000};
    memset(small, 'X', sizeof small);
    EXPECT_EQ(orv_format_small(small, 6, "%99999999d", wide), 5);
    EXPECT_STREQ(small, "     ");
    EXPECT_EQ(small[6], 'X');
    EXPECT_EQ(orv_format_small(small, 6, "%-*d", wide), 5);
    EXPECT_STREQ(small, "10000");
    EXPECT_EQ(orv_format_small(small, 1, "abc", nullptr), 0);
    EXPECT_STREQ(small, "");
    memset(small, 'X', sizeof small);
    EXPECT_EQ(orv_format_small(small, 0, "abc", nullptr), 0);
    EXPECT_EQ(small[0], 'X');
    // A format that ends inside a conversion stops there.
    EXPECT_EQ(orv_format_small(out, sizeof out, "a%0", wide), 1);
    EXPECT_STREQ(out, "a");
}

TEST(Text, ScanSmall)
{
    int32_t v[5] = {};
    int32_t *p[] = {&v[0], &v[1], &v[2], &v[3], &v[4]};
    auto text = exact_copy("12\t -34 fF 17 x");
    EXPECT_EQ(orv_scan_small(text.get(), "%d %d %x %o", p), 4);
    EXPECT_EQ(v[0], 12);
    EXPECT_EQ(v[1], -34);
    EXPECT_EQ(v[2], 255);
    EXPECT_EQ(v[3], 15);

    auto packed = exact_copy("123456");
    EXPECT_EQ(orv_scan_small(packed.get(), "%2d%3d%d", p), 3);
    EXPECT_EQ(v[0], 12);
    EXPECT_EQ(v[1], 345);
    EXPECT_EQ(v[2], 6);

    auto pair = exact_copy("7:8");
    EXPECT_EQ(orv_scan_small(pair.get(), "%d:%d", p), 2);
    EXPECT_EQ(v[1], 8);
    EXPECT_EQ(orv_scan_small(pair.get(), "%d-%d", p), -1);
    // Stops at the end of the text, or at a conversion with no digit.
    auto one = exact_copy("5");
    EXPECT_EQ(orv_scan_small(one.get(), "%d,%d,%d", p), 1);
    auto letters = exact_copy("9 zz");
    EXPECT_EQ(orv_scan_small(letters.get(), "%d %d", p), 1);
    EXPECT_EQ(orv_scan_small(nullptr, "%d", p), 0);
    EXPECT_EQ(orv_scan_small("", "%d", p), 0);
}

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "orv/orv_iconv.h"
#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv/orv_sys.h"
#include "orv_iconv_internal.hpp"
#include "orv_log_internal.hpp"

#include <dlfcn.h>
#include <iconv.h>

namespace {

std::string g_trace;
std::vector<std::string> g_errors;
int capture_sink(const char *text)
{
    g_trace += text;
    return 0;
}
int capture_android(int, const char *, const char *text)
{
    g_errors.emplace_back(text);
    return 0;
}

// "中文" in GB2312 and in UTF-8.
const std::string kGbZhongWen = "\xD6\xD0\xCE\xC4";
const std::string kUtf8ZhongWen = "\xE4\xB8\xAD\xE6\x96\x87";
const std::string kUtf8Euro = "\xE2\x82\xAC"; // not in GB2312

// The ARM cross builds run on the cross compiler's C library, which comes
// without glibc's converter modules; there, and only there, the cases that
// need GB2312 from the C library are skipped. The code under test is the same.
bool gb2312_missing()
{
#if ORV_TEST_CHARSETS_OPTIONAL
    iconv_t cd = iconv_open("UTF-8", "GB2312");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return true;
    iconv_close(cd);
#endif
    return false;
}
#define NEED_GB2312()                                                                                        \
    if (gb2312_missing())                                                                                    \
    GTEST_SKIP() << "the target's C library has no GB2312 converter"

std::string repeat(const std::string &piece, size_t times)
{
    std::string out;
    for (size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

struct Iconv : ::testing::Test {
    static void SetUpTestSuite() { orv_log_init(capture_sink, 0); }
    void SetUp() override
    {
        g_trace.clear();
        g_errors.clear();
        old_writer = orv::log_set_android_writer(capture_android);
        live = orv_mem_live_count();
    }
    void TearDown() override
    {
        orv::log_set_android_writer(old_writer);
        EXPECT_EQ(orv_mem_live_count(), live);
    }
    bool logged(const std::string &text) const
    {
        for (const std::string &line : g_errors)
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }
    orv::AndroidWriter old_writer{};
    size_t live = 0;
};

} // namespace

TEST_F(Iconv, RawConversion)
{
    NEED_GB2312();
    char out[16];
    memset(out, 0x7F, sizeof out);
    EXPECT_EQ(orv_gb2312_to_utf8(kGbZhongWen.data(), kGbZhongWen.size(), out, sizeof out), 0);
    EXPECT_EQ(std::string(out, 6), kUtf8ZhongWen);
    EXPECT_EQ(out[6], 0x7F); // not terminated

    EXPECT_EQ(orv_iconv("utf-8", "gb2312", kUtf8ZhongWen.data(), kUtf8ZhongWen.size(), out, sizeof out), 0);
    EXPECT_EQ(std::string(out, 4), kGbZhongWen);
    EXPECT_EQ(orv_iconv("utf-8", "gb2312", "", 0, out, sizeof out), 0);

    // Exactly enough room, then one byte too few.
    EXPECT_EQ(orv_gb2312_to_utf8(kGbZhongWen.data(), 4, out, 6), 0);
    g_trace.clear();
    EXPECT_EQ(orv_gb2312_to_utf8(kGbZhongWen.data(), 4, out, 5), -1);
    EXPECT_NE(g_trace.find("iconv error:7 strerror:"), std::string::npos) << g_trace;

    // A lead byte without its trail byte, and a byte GB2312 never uses.
    EXPECT_EQ(orv_gb2312_to_utf8("\xD6", 1, out, sizeof out), -1);
    EXPECT_EQ(orv_gb2312_to_utf8("\xFF\xFF", 2, out, sizeof out), -1);

    g_trace.clear();
    EXPECT_EQ(orv_iconv("no-such-charset", "utf-8", "a", 1, out, sizeof out), -1);
    EXPECT_NE(g_trace.find("iconv_open error:22 strerror:"), std::string::npos) << g_trace;
    EXPECT_EQ(orv_iconv(nullptr, "utf-8", "a", 1, out, sizeof out), -1);
    EXPECT_EQ(orv_iconv("gb2312", "utf-8", nullptr, 1, out, sizeof out), -1);
    EXPECT_EQ(orv_iconv("gb2312", "utf-8", "a", 1, nullptr, 4), -1);
}

TEST_F(Iconv, ConvertTextBothWays)
{
    NEED_GB2312();
    const char *utf8 = orv_convert_text(kGbZhongWen.c_str(), ORV_ENCODING_ANSI, ORV_ENCODING_UTF8);
    ASSERT_NE(utf8, kGbZhongWen.c_str());
    EXPECT_EQ(std::string(utf8), kUtf8ZhongWen);
    EXPECT_EQ(orv_mem_size(utf8), static_cast<uint32_t>(ORV_CONVERT_BUFFER));
    EXPECT_NE(g_trace.find("VRI: VR: sz_src:" + kGbZhongWen + "  sz_dst:" + kUtf8ZhongWen),
              std::string::npos);

    const char *back = orv_convert_text(utf8, ORV_ENCODING_UTF8, ORV_ENCODING_ANSI);
    ASSERT_NE(back, utf8);
    EXPECT_EQ(std::string(back), kGbZhongWen);
    orv_convert_text_free(utf8, back);
    orv_convert_text_free(kGbZhongWen.c_str(), utf8);

    // An empty text gives a new, empty buffer.
    const char *empty = "";
    const char *converted = orv_convert_text(empty, ORV_ENCODING_ANSI, ORV_ENCODING_UTF8);
    EXPECT_NE(converted, empty);
    EXPECT_EQ(converted[0], '\0');
    orv_convert_text_free(empty, converted);
    EXPECT_TRUE(g_errors.empty());
}

TEST_F(Iconv, OtherPairsAndFailuresGiveTheInputBack)
{
    const char *text = "plain";
    for (const auto &[from, to] : {std::pair{4, 4}, {2, 2}, {2, 5}, {1, 4}, {0, 0}}) {
        g_trace.clear();
        EXPECT_EQ(orv_convert_text(text, from, to), text);
        EXPECT_EQ(g_trace, "VRI: VR: sz_src:plain  sz_dst:plain");
    }
    EXPECT_TRUE(g_errors.empty());
    orv_convert_text_free(text, text); // the input itself is never freed

    const std::string euro = "price " + kUtf8Euro;
    EXPECT_EQ(orv_convert_text(euro.c_str(), ORV_ENCODING_UTF8, ORV_ENCODING_ANSI), euro.c_str());
    EXPECT_TRUE(logged("ERR=0x80000000,ORV_FAIL, INF=VRE: VR: utf8_to_ansi fail!"));

    g_errors.clear();
    const std::string broken = kGbZhongWen + "\xD6";
    EXPECT_EQ(orv_convert_text(broken.c_str(), ORV_ENCODING_ANSI, ORV_ENCODING_UTF8), broken.c_str());
    EXPECT_TRUE(logged("VRE: VR: ansi_to_utf8 fail!"));

    EXPECT_EQ(orv_convert_text(nullptr, ORV_ENCODING_ANSI, ORV_ENCODING_UTF8), nullptr);
}

TEST_F(Iconv, ResultsStopAt799Bytes)
{
    NEED_GB2312();
    // 266 characters of GB2312 become 798 bytes of UTF-8; one more ASCII byte
    // fills the buffer to 799, a second would leave no terminator.
    const std::string gb = repeat(kGbZhongWen.substr(0, 2), 266);
    const std::string fits = gb + "a";
    const char *out = orv_convert_text(fits.c_str(), ORV_ENCODING_ANSI, ORV_ENCODING_UTF8);
    ASSERT_NE(out, fits.c_str());
    EXPECT_EQ(strlen(out), 799u);
    EXPECT_EQ(std::string(out), repeat(kUtf8ZhongWen.substr(0, 3), 266) + "a");
    orv_convert_text_free(fits.c_str(), out);

    const std::string full = gb + "ab";
    EXPECT_EQ(orv_convert_text(full.c_str(), ORV_ENCODING_ANSI, ORV_ENCODING_UTF8), full.c_str());
    EXPECT_TRUE(logged("ansi_to_utf8 fail!"));

    // The other way: 400 characters need exactly 800 bytes of GB2312.
    const std::string utf8 = repeat(kUtf8ZhongWen, 200);
    EXPECT_EQ(orv_convert_text(utf8.c_str(), ORV_ENCODING_UTF8, ORV_ENCODING_ANSI), utf8.c_str());
    const std::string shorter = repeat(kUtf8ZhongWen, 199) + kUtf8ZhongWen.substr(0, 3) + "z";
    out = orv_convert_text(shorter.c_str(), ORV_ENCODING_UTF8, ORV_ENCODING_ANSI);
    ASSERT_NE(out, shorter.c_str());
    EXPECT_EQ(strlen(out), 799u);
    orv_convert_text_free(shorter.c_str(), out);

    const std::string long_text(5000, 'x');
    EXPECT_EQ(orv_convert_text(long_text.c_str(), ORV_ENCODING_UTF8, ORV_ENCODING_ANSI), long_text.c_str());
}

// A device without iconv (Android before API 28): every conversion fails with
// ORV_ERR_NOT_SUPPORT in the error log, and callers get their text back.
TEST_F(Iconv, DeviceWithoutIconv)
{
    EXPECT_EQ(orv_iconv_available(), ORV_OK);
    const orv::IconvCalls none{};
    EXPECT_EQ(orv::iconv_set_calls(&none), nullptr);
    EXPECT_EQ(orv_iconv_available(), ORV_ERR_NOT_SUPPORT);

    char out[16];
    EXPECT_EQ(orv_gb2312_to_utf8(kGbZhongWen.data(), kGbZhongWen.size(), out, sizeof out), -1);
    EXPECT_TRUE(logged("ERR=0x8000000a"));
    EXPECT_TRUE(logged("VRE: VR: iconv: not in this device's C library"));
    EXPECT_EQ(orv_convert_text(kGbZhongWen.c_str(), ORV_ENCODING_ANSI, ORV_ENCODING_UTF8),
              kGbZhongWen.c_str());
    EXPECT_TRUE(logged("VRE: VR: ansi_to_utf8 fail!"));

    // Half a set is no set.
    orv::IconvCalls half = orv::iconv_lookup(RTLD_DEFAULT);
    half.close = nullptr;
    orv::iconv_set_calls(&half);
    EXPECT_EQ(orv_iconv_available(), ORV_ERR_NOT_SUPPORT);
    EXPECT_EQ(orv::iconv_set_calls(nullptr), &half);
    EXPECT_EQ(orv_iconv_available(), ORV_OK);
}

// The run-time look-up an old Android device takes, here against the host's
// C library: it finds a working set.
TEST_F(Iconv, RunTimeLookup)
{
    NEED_GB2312();
    const orv::IconvCalls found = orv::iconv_lookup(RTLD_DEFAULT);
    ASSERT_TRUE(found.present());
    orv::iconv_set_calls(&found);
    char out[16];
    EXPECT_EQ(orv_gb2312_to_utf8(kGbZhongWen.data(), kGbZhongWen.size(), out, sizeof out), 0);
    EXPECT_EQ(std::string(out, 6), kUtf8ZhongWen);
    orv::iconv_set_calls(nullptr);
    EXPECT_TRUE(g_errors.empty());
}

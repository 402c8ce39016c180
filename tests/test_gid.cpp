#include <gtest/gtest.h>

#include <string.h>

#include <set>
#include <string>

#include "orv/orv_gid.h"
#include "orv/orv_mem.h"

namespace {

std::string text_of(GID g)
{
    char *t = orv_gid_to_text(g);
    EXPECT_NE(t, nullptr);
    std::string s = t ? t : "";
    orv_gid_free_text(&t);
    EXPECT_EQ(t, nullptr);
    return s;
}

TEST(Gid, TextFormRoundTrips)
{
    EXPECT_EQ(text_of(ORV_ID_DUMP_LOG_CTX), "7321ea4e290e22e2507b0c1c17d38fff");
    EXPECT_EQ(text_of(ORV_GID_UNKNOWN), std::string(32, 'f'));
    EXPECT_EQ(text_of(ORV_GID_NULL), std::string(32, '0'));

    char *t = orv_gid_to_text(ORV_ID_DUMP_LOG_CTX);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(orv_mem_size(t), 64u);
    for (int i = 32; i < 64; ++i)
        ASSERT_EQ(t[i], 0) << i;
    orv_gid_free_text(&t);
    orv_gid_free_text(&t); // a cleared variable is left alone
    orv_gid_free_text(nullptr);

    GID g{};
    GID r = orv_gid_from_text(&g, "7321ea4e290e22e2507b0c1c17d38fff");
    EXPECT_TRUE(orv_gid_equal(g, ORV_ID_DUMP_LOG_CTX));
    EXPECT_TRUE(orv_gid_equal(r, g));
    memset(&g, 0, sizeof g);
    orv_gid_from_text(&g, "7321EA4E290E22E2507B0C1C17D38FFF");
    EXPECT_TRUE(orv_gid_equal(g, ORV_ID_DUMP_LOG_CTX));

    // Non-digits count as 0; a longer text is read for its first 32 digits
    // and nothing beyond the 16 bytes is touched.
    struct {
        GID gid;
        uint8_t guard[16];
    } box;
    memset(&box, 0xA5, sizeof box);
    orv_gid_from_text(&box.gid, "zz21ea4e290e22e2507b0c1c17d38fff0123456789abcdef");
    EXPECT_EQ(text_of(box.gid), "0021ea4e290e22e2507b0c1c17d38fff");
    for (uint8_t b : box.guard)
        ASSERT_EQ(b, 0xA5);
    orv_gid_from_text(&box.gid, "abc");
    EXPECT_EQ(text_of(box.gid), "abc" + std::string(29, '0'));
    orv_gid_from_text(&box.gid, nullptr);
    EXPECT_TRUE(orv_gid_equal(box.gid, ORV_GID_NULL));
}

// Names from every header the table is built from, looked up by name: the
// DirectShow uuids.h and ksuuids.h, wmcodecdsp.h and mfapi.h of mingw-w64,
// and the later SDK names of Wine's uuids.h and wmcodecdsp.h.
TEST(Gid, NamesFromEveryPublishedHeader)
{
    const uint8_t tail[12] = {0x00, 0x00, 0x00, 0x10, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    struct FourCc {
        const char *name;
        const char code[5];
    };
    for (const FourCc &c : {FourCc{"MEDIASUBTYPE_H264", "H264"}, FourCc{"MEDIASUBTYPE_h264", "h264"},
                            FourCc{"MEDIASUBTYPE_AVC1", "AVC1"}, FourCc{"MEDIASUBTYPE_I420", "I420"},
                            FourCc{"MEDIASUBTYPE_P010", "P010"}, FourCc{"MEDIASUBTYPE_Y210", "Y210"},
                            FourCc{"MEDIASUBTYPE_WMV3", "WMV3"}, FourCc{"MEDIASUBTYPE_WVC1", "WVC1"},
                            FourCc{"MEDIASUBTYPE_YV12", "YV12"}}) {
        GID g{};
        ASSERT_TRUE(orv_gid_by_name(c.name, &g)) << c.name;
        EXPECT_EQ(memcmp(g.bytes, c.code, 4), 0) << c.name;
        EXPECT_EQ(memcmp(g.bytes + 4, tail, 12), 0) << c.name;
    }
    // Wave-format tags follow the same rule with the tag as the first word.
    GID g{};
    ASSERT_TRUE(orv_gid_by_name("MEDIASUBTYPE_RAW_AAC1", &g));
    EXPECT_EQ(text_of(g), "ff000000"
                          "0000"
                          "0010"
                          "800000aa00389b71");
    ASSERT_TRUE(orv_gid_by_name("MEDIASUBTYPE_WMAUDIO3", &g));
    EXPECT_EQ(text_of(g), "62010000"
                          "0000"
                          "0010"
                          "800000aa00389b71");
    ASSERT_TRUE(orv_gid_by_name("FORMAT_MFVideoFormat", &g));
    EXPECT_EQ(text_of(g), "2dabd4ae"
                          "7326"
                          "43cb"
                          "9464c879cab9c43d");
    ASSERT_TRUE(orv_gid_by_name("MEDIATYPE_CC_CONTAINER", &g));
    EXPECT_STREQ(orv_gid_name(g), "MEDIATYPE_CC_CONTAINER");
    ASSERT_TRUE(orv_gid_by_name("FORMAT_JPEGImage", &g));

    // 163 framework names, 437 published values and the two null aliases.
    // MEDIASUBTYPE_H264 is in both mingw-w64's wmcodecdsp.h and Wine's
    // uuids.h: it is listed once.
    EXPECT_EQ(orv_gid_name_count(), 602u);
}

TEST(Gid, GenerateGivesNewValues)
{
    GID a{}, b{};
    GID ra = orv_gid_generate(&a);
    orv_gid_generate(&b);
    EXPECT_TRUE(orv_gid_equal(a, ra));
    EXPECT_FALSE(orv_gid_equal(a, b));
    EXPECT_FALSE(orv_gid_equal(a, ORV_GID_NULL));
    GID back{};
    char *t = orv_gid_to_text(a);
    orv_gid_from_text(&back, t);
    orv_gid_free_text(&t);
    EXPECT_TRUE(orv_gid_equal(a, back));
}

// Random UUIDs (version 4, RFC 4122 variant) from libuuid and from the
// system's random source alike, never two the same.
TEST(Gid, GenerateGivesRandomUuids)
{
    std::set<std::string> seen;
    for (int i = 0; i < 64; ++i) {
        GID id = orv_gid_generate(nullptr);
        EXPECT_EQ(id.bytes[6] >> 4, 4);
        EXPECT_EQ(id.bytes[8] >> 6, 2);
        seen.insert(text_of(id));
    }
    EXPECT_EQ(seen.size(), 64u);
}

TEST(Gid, NamedConstants)
{
    // Four-character codes: the code, then the fixed twelve bytes.
    const uint8_t tail[12] = {0x00, 0x00, 0x00, 0x10, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    EXPECT_EQ(memcmp(MEDIATYPE_Video.bytes, "vids", 4), 0);
    EXPECT_EQ(memcmp(MEDIATYPE_Video.bytes + 4, tail, 12), 0);
    EXPECT_EQ(memcmp(MEDIASUBTYPE_YUY2.bytes, "YUY2", 4), 0);
    EXPECT_EQ(memcmp(MEDIASUBTYPE_YUY2.bytes + 4, tail, 12), 0);
    // A published value outside that rule keeps its first word little-endian.
    EXPECT_EQ(text_of(MEDIASUBTYPE_RGB565), "7beb36e4"
                                            "524f"
                                            "11ce"
                                            "9f530020af0ba770");

    EXPECT_STREQ(orv_gid_name(ORV_ID_DUMP_LOG_CTX), "ORV_ID_DUMP_LOG_CTX");
    EXPECT_STREQ(orv_gid_name(ORV_GID_NULL), "ORV_GID_NULL");
    EXPECT_STREQ(orv_gid_name(MEDIATYPE_Audio), "MEDIATYPE_Audio");
    GID fresh;
    orv_gid_generate(&fresh);
    EXPECT_EQ(orv_gid_name(fresh), nullptr);

    GID g{};
    ASSERT_TRUE(orv_gid_by_name("ORV_GID_UNKNOWN", &g));
    EXPECT_TRUE(orv_gid_equal(g, ORV_GID_UNKNOWN));
    ASSERT_TRUE(orv_gid_by_name("MEDIATYPE_NULL", &g));
    EXPECT_TRUE(orv_gid_equal(g, ORV_GID_NULL));
    g = ORV_GID_UNKNOWN;
    EXPECT_FALSE(orv_gid_by_name("NO_SUCH_NAME", &g));
    EXPECT_FALSE(orv_gid_by_name(nullptr, &g));
    EXPECT_TRUE(orv_gid_equal(g, ORV_GID_UNKNOWN));

    // The framework's own names have distinct values and every name maps back.
    std::set<std::string> own;
    const uint32_t n = orv_gid_name_count();
    EXPECT_GT(n, 500u);
    int framework = 0;
    for (const char *name : {"ORV_REG_ORV_VERSION", "ORV_IID_BaseCom", "ORV_CLSID_SyncSource",
                             "ORV_CATEGORY_BasePin", "ORVANE_OBJECT_STPIO", "ORV_NOTIFY_CALLBACK_THREAD",
                             "ORV_ANDROID_OBJECT_OMX", "ORV_MSG_SHUTDOWN", "ORV_SUBFMT_H264_SPS"}) {
        ASSERT_TRUE(orv_gid_by_name(name, &g)) << name;
        EXPECT_STREQ(orv_gid_name(g), name);
        own.insert(text_of(g));
        ++framework;
    }
    EXPECT_EQ(own.size(), static_cast<size_t>(framework));
}

} // namespace

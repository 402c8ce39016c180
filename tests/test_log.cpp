#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv_log_internal.hpp"

namespace {

struct Write {
    int priority;
    std::string tag;
    std::string text;
};
std::vector<Write> g_android;
std::vector<std::string> g_sink;

int fake_android(int priority, const char *tag, const char *text)
{
    g_android.push_back({priority, tag, text});
    return 42;
}
int fake_sink(const char *text)
{
    g_sink.emplace_back(text);
    return 7;
}

struct Log : ::testing::Test {
    void SetUp() override
    {
        g_android.clear();
        g_sink.clear();
        old_ = orv::log_set_android_writer(fake_android);
    }
    void TearDown() override { orv::log_set_android_writer(old_); }
    orv::AndroidWriter old_{};
};

const std::regex kHead(R"(\(tid=\d+\)\([A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d\): )");

} // namespace

TEST_F(Log, ErrorLineShape)
{
    EXPECT_EQ(orv_log(0, ORV_FAIL, "nothing %d", 1), 0);
    EXPECT_TRUE(g_android.empty());

    EXPECT_EQ(orv_log(LOG_TO_ANDROID, ORV_OK, "x"), 42);
    ASSERT_EQ(g_android.size(), 1u);
    EXPECT_EQ(g_android[0].priority, 4);
    EXPECT_EQ(g_android[0].tag, "Trelvano");
    const std::string &line = g_android[0].text;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(line, m, kHead)) << line;
    EXPECT_EQ(m.position(0), 0);
    EXPECT_EQ(line.substr(m.length(0)), "ERR=0x0,ORV_OK, INF=x");

    orv_log(3, ORV_FAIL, "VRE: device thread: malloc yuvlist fail");
    EXPECT_NE(
        g_android.back().text.find("ERR=0x80000000,ORV_FAIL, INF=VRE: device thread: malloc yuvlist fail"),
        std::string::npos);
    orv_log(1, 5, "%s", "y");
    EXPECT_NE(g_android.back().text.find("ERR=0x5,undefined error code, INF=y"), std::string::npos);
}

TEST_F(Log, LongLinesAreCutAt32766)
{
    const std::string big(40000, 'a');
    orv_log(LOG_TO_ANDROID, ORV_FAIL, "%s", big.c_str());
    ASSERT_EQ(g_android.size(), 1u);
    EXPECT_EQ(g_android[0].text.size(), 32766u);

    orv_log_android_info("%s", big.c_str());
    size_t total = 0;
    for (size_t i = 1; i < g_android.size(); ++i) {
        EXPECT_LE(g_android[i].text.size(), 1024u);
        total += g_android[i].text.size();
    }
    EXPECT_EQ(total, 32766u);
    EXPECT_EQ(g_android.size(), 1u + 32u);
}

TEST_F(Log, DumpFlagWithoutADumpLogStillWritesAndroid)
{
    EXPECT_EQ(orv_log(LOG_TO_DUMP, ORV_FAIL, "z"), ORV_ERR_INVALID_PARAM);
    EXPECT_TRUE(g_android.empty());
    EXPECT_EQ(orv_log(3, ORV_FAIL, "z"), 42);
    EXPECT_EQ(g_android.size(), 1u);
}

TEST_F(Log, TraceGoesToTheSinkInPieces)
{
    orv_log_init(nullptr, 0);
    EXPECT_EQ(orv_trace("nothing"), 0); // no sink: nothing happens
    ASSERT_EQ(orv_log_init(fake_sink, 0), ORV_OK);
    const std::string text(2500, 'q');
    EXPECT_EQ(orv_trace("%s", text.c_str()), 7);
    ASSERT_EQ(g_sink.size(), 3u);
    EXPECT_EQ(g_sink[0].size(), 1024u);
    EXPECT_EQ(g_sink[1].size(), 1024u);
    EXPECT_EQ(g_sink[2].size(), 452u);
    g_sink.clear();
    orv_trace("%s", "");
    EXPECT_TRUE(g_sink.empty());
    orv_trace("exactly %d", 1024);
    EXPECT_EQ(g_sink.size(), 1u);

    // The Android sink adds the head and cuts into pieces too.
    EXPECT_EQ(orv_log_android("hello"), 42);
    ASSERT_EQ(g_android.size(), 1u);
    EXPECT_TRUE(std::regex_search(g_android[0].text, kHead));
    EXPECT_EQ(g_android[0].text.substr(g_android[0].text.size() - 5), "hello");
    orv_mem_shutdown();
}

TEST_F(Log, HexDumpRows)
{
    orv_log_init(nullptr, 0);
    orv_hex_dump("x", 1); // no sink: nothing, no failure
    ASSERT_EQ(orv_log_init(fake_sink, 0), ORV_OK);
    const uint8_t seven[] = {1, 2, 3, 4, 5, 6, 7};
    orv_hex_dump(seven, 0);
    EXPECT_TRUE(g_sink.empty());
    orv_hex_dump(seven, 7); // one sink call per row
    EXPECT_EQ(g_sink, (std::vector<std::string>{"0x00000000:01020304,050607\r\n"}));

    g_sink.clear();
    uint8_t data[72];
    for (int i = 0; i < 72; ++i)
        data[i] = static_cast<uint8_t>(0xA0 + i);
    orv_hex_dump(data, 40);
    ASSERT_EQ(g_sink.size(), 2u);
    EXPECT_EQ(g_sink[0],
              "0x00000000:A0A1A2A3,A4A5A6A7,A8A9AAAB,ACADAEAF,B0B1B2B3,B4B5B6B7,B8B9BABB,BCBDBEBF,\r\n");
    EXPECT_EQ(g_sink[1], "0x00000020:C0C1C2C3,C4C5C6C7,\r\n");
    g_sink.clear();
    orv_hex_dump(data, 67); // rows of 32, 32 and 3 bytes
    ASSERT_EQ(g_sink.size(), 3u);
    EXPECT_EQ(g_sink[2], "0x00000040:E0E1E2\r\n");
    orv_mem_shutdown();
}

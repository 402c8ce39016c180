#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "orv/orv_gid.h"
#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv/orv_names.h"
#include "orv_log_internal.hpp"

namespace {

int quiet_android(int, const char *, const char *) { return 0; }

struct Names : ::testing::Test {
    void SetUp() override
    {
        old_writer = orv::log_set_android_writer(quiet_android);
        live = orv_mem_live_count();
    }
    void TearDown() override
    {
        orv::log_set_android_writer(old_writer);
        EXPECT_EQ(orv_mem_live_count(), live);
    }
    orv::AndroidWriter old_writer{};
    size_t live = 0;
};

}  // namespace

TEST_F(Names, RequestAndServiceCodes)
{
    EXPECT_STREQ(orv_request_name(709), "orv request media info");
    EXPECT_STREQ(orv_request_name(0), "orv request none");
    EXPECT_STREQ(orv_request_name(600), "orv request login");
    EXPECT_STREQ(orv_request_name(815), "orv request control");
    EXPECT_STREQ(orv_request_name(1001), "orv request client message");
    EXPECT_STREQ(orv_request_name(601), "undefined request code");
    EXPECT_STREQ(orv_request_name(-1), "undefined request code");

    // 29 codes have names of their own, all different.
    std::set<std::string> names;
    int named = 0;
    for (int32_t code = -10; code <= 1100; ++code) {
        const std::string name = orv_request_name(code);
        if (name != "undefined request code") {
            ++named;
            names.insert(name);
        }
    }
    EXPECT_EQ(named, 29);
    EXPECT_EQ(names.size(), 29u);

    EXPECT_STREQ(orv_service_request_name(1001), "ORV_SERVICE_CLIENT_MESSAGE");
    EXPECT_STREQ(orv_service_request_name(700), "ORV_SERVICE_REQUEST_BROWSE");
    EXPECT_STREQ(orv_service_request_name(709), "ORV_SERVICE_REQUEST_MEDIAINFO");
    EXPECT_STREQ(orv_service_request_name(814), "ORV_SERVICE_REQUEST_CLOSE");
    EXPECT_STREQ(orv_service_request_name(610), "other vexo msg");
    EXPECT_STREQ(orv_service_request_name(0), "other vexo msg");
    names.clear();
    named = 0;
    for (int32_t code = 0; code <= 1100; ++code) {
        const std::string name = orv_service_request_name(code);
        if (name != "other vexo msg") {
            ++named;
            names.insert(name);
            EXPECT_EQ(name.rfind("ORV_SERVICE_", 0), 0u) << name;
        }
    }
    EXPECT_EQ(named, 14);
    EXPECT_EQ(names.size(), 14u);
}

TEST_F(Names, MessagesAndKeywords)
{
    const std::pair<const GID *, const char *> messages[] = {
        {&ORV_MSG_OnLoadSource, "ORV_MSG_OnLoadSource"},
        {&ORV_MSG_OnCmdUMsg, "ORV_MSG_OnCmdUMsg"},
        {&ORV_MSG_VEXO_Play, "ORV_MSG_VEXO_Play"},
        {&ORV_MSG_PrevSetTime, "ORV_MSG_PrevSetTime"},
        {&ORV_MSG_AfterSetTime, "ORV_MSG_AfterSetTime"},
        {&ORV_MSG_VEXO_Pause, "ORV_MSG_VEXO_Pause"},
        {&ORV_MSG_VEXO_Resume, "ORV_MSG_VEXO_Resume"},
        {&ORV_MSG_VEXO_Stop, "ORV_MSG_VEXO_Stop"},
        {&ORV_MSG_Push, "ORV_MSG_Push"},
        {&ORV_MSG_OnCloseConn, "ORV_MSG_OnCloseConn"},
        {&ORV_MSG_OnSessionErrNotify, "ORV_MSG_OnSessionErrNotify"},
        {&ORV_VEXO_HEART_BEAT, "ORV_VEXO_HEART_BEAT"},
    };
    for (const auto &[gid, name] : messages) {
        EXPECT_STREQ(orv_message_name(*gid), name);
        // A copy compares by value, not by address.
        GID copy;
        memcpy(copy.bytes, gid->bytes, sizeof copy.bytes);
        EXPECT_STREQ(orv_message_name(copy), name);
        // The message values collide with no other named constant.
        if (gid != &ORV_VEXO_HEART_BEAT) {
            EXPECT_EQ(orv_gid_name(*gid), nullptr) << name;
        }
    }
    EXPECT_STREQ(orv_message_name(ORV_GID_NULL), "other vexo user msg");
    EXPECT_STREQ(orv_message_name(ORV_ID_DUMP_LOG_CTX), "other vexo user msg");
    GID near = ORV_MSG_Push;
    near.bytes[15] ^= 1;
    EXPECT_STREQ(orv_message_name(near), "other vexo user msg");

    EXPECT_STREQ(orv_protocol_of_keyword("PLAY:"), "RTSP:");
    EXPECT_STREQ(orv_protocol_of_keyword("TEARDOWN:"), "RTSP:");
    EXPECT_STREQ(orv_protocol_of_keyword("GET:"), "HTTP:");
    EXPECT_STREQ(orv_protocol_of_keyword("POST:"), "HTTP:");
    EXPECT_STREQ(orv_protocol_of_keyword("ORV:"), "ORV:");
    EXPECT_EQ(orv_protocol_of_keyword("play:"), nullptr);
    EXPECT_EQ(orv_protocol_of_keyword("PLAY"), nullptr);
    EXPECT_EQ(orv_protocol_of_keyword("PLAY: "), nullptr);
    EXPECT_EQ(orv_protocol_of_keyword(""), nullptr);
    EXPECT_EQ(orv_protocol_of_keyword(nullptr), nullptr);
}

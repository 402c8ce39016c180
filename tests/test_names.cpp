#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "orv/orv_gid.h"
#include "orv/orv_ini.h"
#include "orv/orv_io_stream.h"
#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv/orv_names.h"
#include "orv_log_internal.hpp"

namespace {

int quiet_android(int, const char *, const char *)
{
    return 0;
}

// The whole text of a tree as written, the final 0 byte dropped.
std::string tree_text(XiniTree *tree, uint32_t flags)
{
    xio *io = ORV_IO_STREAM_CREATE();
    const uint32_t old = tree->vt.get_flags(tree);
    tree->vt.set_flags(tree, flags);
    EXPECT_EQ(tree->vt.write_tree(tree, io), ORV_OK);
    tree->vt.set_flags(tree, old);
    std::string text(static_cast<size_t>(io->vt.size(io)), '\0');
    io->vt.seek(io, 0, XIO_SEEK_SET);
    int32_t done = 0;
    if (!text.empty())
        io->vt.read(io, text.data(), static_cast<uint32_t>(text.size()), &done);
    io->vt.release(io);
    EXPECT_FALSE(text.empty());
    if (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

struct Tree {
    Tree() { EXPECT_EQ(orv_ini_open(nullptr, nullptr, XINI_OPEN_RW, nullptr, &t), ORV_OK); }
    ~Tree()
    {
        t->vt.set_flags(t, XINI_READ_ONLY); // close without saving anywhere
        orv_ini_close(t);
    }
    XiniTree *t = nullptr;
};

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

// Known values: the dump-log key, the all-ones GID, and the published
// four-character-code media types.
const char kDumpHex[] = "7321ea4e290e22e2507b0c1c17d38fff";
const char kUnknownHex[] = "ffffffffffffffffffffffffffffffff";
const char kVideoHex[] = "7669647300000010800000aa00389b71";
const char kAudioHex[] = "6175647300000010800000aa00389b71";

} // namespace

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

TEST_F(Names, RadioGroupText)
{
    Tree tree;
    const char *video = "Video";
    const char *h264 = "H264";
    const char *audio = "Audio";
    const OrvMediaOption options[] = {
        {&MEDIATYPE_Video, &ORV_ID_DUMP_LOG_CTX, &video, &h264},
        {&MEDIATYPE_Audio, &ORV_GID_UNKNOWN, &audio, nullptr},
    };
    const int32_t exclusive[] = {1, 0};
    ASSERT_EQ(orv_write_radio_group(tree.t, nullptr, "tracks", "Pick one", 0, 1, 2, options, exclusive),
              ORV_OK);

    const std::string expected = std::string("< root = root; 1; > \r\n"
                                             "start of (root) subkeys; \r\n"
                                             "  < tracks = radio; 5; > \r\n"
                                             "  start of (tracks) subkeys; \r\n"
                                             "    < description = Pick one; > \r\n"
                                             "    < default option = 0; > \r\n"
                                             "    < current option = 1; > \r\n"
                                             "    < option-0 = list; 5; > \r\n"
                                             "    start of (option-0) subkeys; \r\n"
                                             "      < Major Type = ") +
                                 kVideoHex +
                                 "; > \r\n"
                                 "      < Major Type Name = Video; > \r\n"
                                 "      < Sub Type = " +
                                 kDumpHex +
                                 "; > \r\n"
                                 "      < Sub Type Name = H264; > \r\n"
                                 "      < pin rule = exclusive; > \r\n"
                                 "    end of (option-0) subkeys; \r\n"
                                 "    < option-1 = list; 5; > \r\n"
                                 "    start of (option-1) subkeys; \r\n"
                                 "      < Major Type = " +
                                 kAudioHex +
                                 "; > \r\n"
                                 "      < Major Type Name = Audio; > \r\n"
                                 "      < Sub Type = " +
                                 kUnknownHex +
                                 "; > \r\n"
                                 "      < Sub Type Name = ; > \r\n"
                                 "      < pin rule = none exclusive; > \r\n"
                                 "    end of (option-1) subkeys; \r\n"
                                 "  end of (tracks) subkeys; \r\n"
                                 "end of (root) subkeys; \r\n";
    EXPECT_EQ(tree_text(tree.t, 0), expected);
}

TEST_F(Names, CheckboxGroupUnderAKey)
{
    Tree tree;
    XiniNode *media = nullptr;
    ASSERT_EQ(tree.t->vt.create_key(tree.t, nullptr, "media", nullptr, &media), ORV_OK);
    const char *name = "Subtitle";
    const OrvMediaOption options[] = {
        {&ORV_GID_UNKNOWN, &ORV_GID_UNKNOWN, &name, &name},
        {&MEDIATYPE_Video, &MEDIATYPE_Audio, nullptr, &name},
    };
    const int32_t status[] = {0, 7};
    const int32_t exclusive[] = {-1, 0};
    ASSERT_EQ(orv_write_checkbox_group(tree.t, media, "subs", "Any", 2, options, status, exclusive), ORV_OK);
    // Null flag arrays count as zeros; no options leaves only the description.
    ASSERT_EQ(orv_write_checkbox_group(tree.t, media, "plain", nullptr, 1, options, nullptr, nullptr),
              ORV_OK);
    ASSERT_EQ(orv_write_radio_group(tree.t, media, "empty", "none", 3, -1, 0, nullptr, nullptr), ORV_OK);

    const std::string expected = std::string("< root = root; 1; > \r\n"
                                             "  < media = ; 3; > \r\n"
                                             "    < subs = checkbox; 3; > \r\n"
                                             "      < description = Any; > \r\n"
                                             "      < option-0 = list; 6; > \r\n"
                                             "        < Major Type = ") +
                                 kUnknownHex + "; > \r\n        < Major Type Name = Subtitle; > \r\n" +
                                 "        < Sub Type = " + kUnknownHex +
                                 "; > \r\n"
                                 "        < Sub Type Name = Subtitle; > \r\n"
                                 "        < status = unchecked; > \r\n"
                                 "        < pin rule = exclusive; > \r\n"
                                 "      < option-1 = list; 6; > \r\n"
                                 "        < Major Type = " +
                                 kVideoHex +
                                 "; > \r\n"
                                 "        < Major Type Name = ; > \r\n"
                                 "        < Sub Type = " +
                                 kAudioHex +
                                 "; > \r\n"
                                 "        < Sub Type Name = Subtitle; > \r\n"
                                 "        < status = checked; > \r\n"
                                 "        < pin rule = none exclusive; > \r\n"
                                 "    < plain = checkbox; 2; > \r\n"
                                 "      < description = ; > \r\n"
                                 "      < option-0 = list; 6; > \r\n"
                                 "        < Major Type = " +
                                 kUnknownHex + "; > \r\n        < Major Type Name = Subtitle; > \r\n" +
                                 "        < Sub Type = " + kUnknownHex +
                                 "; > \r\n"
                                 "        < Sub Type Name = Subtitle; > \r\n"
                                 "        < status = unchecked; > \r\n"
                                 "        < pin rule = none exclusive; > \r\n"
                                 "    < empty = radio; 3; > \r\n"
                                 "      < description = none; > \r\n"
                                 "      < default option = 3; > \r\n"
                                 "      < current option = -1; > \r\n";
    EXPECT_EQ(tree_text(tree.t, XINI_COMPACT), expected);
}

TEST_F(Names, GroupWritersStopAtTheFirstFailure)
{
    Tree tree;
    const char *name = "n";
    const OrvMediaOption good = {&MEDIATYPE_Video, &MEDIATYPE_Audio, &name, &name};
    const OrvMediaOption no_type = {&MEDIATYPE_Video, nullptr, &name, &name};
    const std::string empty_tree = tree_text(tree.t, XINI_COMPACT);

    EXPECT_EQ(orv_write_radio_group(nullptr, nullptr, "g", "d", 0, 0, 1, &good, nullptr),
              ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_write_radio_group(tree.t, nullptr, nullptr, "d", 0, 0, 1, &good, nullptr),
              ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_write_radio_group(tree.t, nullptr, "g", "d", 0, 0, 1, nullptr, nullptr),
              ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_write_checkbox_group(tree.t, nullptr, "g", "d", 1, &no_type, nullptr, nullptr),
              ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(tree_text(tree.t, XINI_COMPACT), empty_tree); // nothing half-written

    // A read-only tree refuses new keys: the tree's own -2 comes back.
    tree.t->vt.set_flags(tree.t, XINI_READ_ONLY);
    EXPECT_EQ(orv_write_radio_group(tree.t, nullptr, "g", "d", 0, 0, 1, &good, nullptr), -2);
    EXPECT_EQ(orv_write_checkbox_group(tree.t, nullptr, "g", "d", 1, &good, nullptr, nullptr), -2);
    tree.t->vt.set_flags(tree.t, XINI_OPEN_RW);
    EXPECT_EQ(tree_text(tree.t, XINI_COMPACT), empty_tree);
}

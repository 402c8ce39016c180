#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "orv/orv_dump.h"
#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv_log_internal.hpp"

namespace {

std::vector<std::string> g_android;
int fake_android(int, const char *, const char *text)
{
    g_android.emplace_back(text);
    return 1;
}

struct Dump : ::testing::Test {
    void SetUp() override
    {
        g_android.clear();
        old_ = orv::log_set_android_writer(fake_android);
        log_ = orv_dump_log_create();
        ASSERT_NE(log_, nullptr);
    }
    void TearDown() override
    {
        orv_dump_log_destroy(log_);
        orv::log_set_android_writer(old_);
    }
    std::string read_all()
    {
        uint32_t size = 0;
        EXPECT_EQ(orv_dump_log_read(log_, nullptr, &size), ORV_OK);
        std::string text(size, '\0');
        if (size > 0) {
            EXPECT_EQ(orv_dump_log_read(log_, text.data(), &size), ORV_OK);
        }
        return text;
    }
    bool android_saw(const std::string &piece)
    {
        for (const std::string &line : g_android)
            if (line.find(piece) != std::string::npos)
                return true;
        return false;
    }
    orv::AndroidWriter old_{};
    orv_dump_log *log_ = nullptr;
};

TEST_F(Dump, WriteAndReadOnce)
{
    EXPECT_EQ(orv_dump_log_write("x"), ORV_ERR_INVALID_PARAM); // nothing attached yet
    ASSERT_EQ(orv_dump_log_attach(log_), ORV_OK);
    EXPECT_EQ(orv_dump_log_write(nullptr), ORV_ERR_INVALID_PARAM);

    char buffer[64];
    uint32_t size = sizeof buffer;
    EXPECT_EQ(orv_dump_log_read(log_, buffer, &size), ORV_ERR_IO_READ);
    EXPECT_TRUE(android_saw("VRV: VR: orv_dump_log stream read:3"));

    ASSERT_EQ(orv_dump_log_write("first;"), ORV_OK);
    ASSERT_EQ(orv_dump_log_write("second;"), ORV_OK);
    size = 0;
    ASSERT_EQ(orv_dump_log_read(log_, nullptr, &size), ORV_OK);
    EXPECT_EQ(size, 13u);
    ASSERT_EQ(orv_dump_log_read(log_, nullptr, &size), ORV_OK); // a size query leaves the text
    EXPECT_EQ(size, 13u);
    memset(buffer, 'Z', sizeof buffer);
    ASSERT_EQ(orv_dump_log_read(log_, buffer, &size), ORV_OK);
    EXPECT_EQ(std::string(buffer, 13), "first;second;");
    EXPECT_EQ(buffer[13], 'Z'); // exactly size bytes, no terminator past them
    EXPECT_EQ(size, 13u);
    EXPECT_EQ(read_all(), "");

    // A short buffer takes the front; the rest stays and new lines follow it.
    ASSERT_EQ(orv_dump_log_write("0123456789"), ORV_OK);
    size = 4;
    ASSERT_EQ(orv_dump_log_read(log_, buffer, &size), ORV_OK);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    ASSERT_EQ(orv_dump_log_write("ab"), ORV_OK);
    EXPECT_EQ(read_all(), "456789ab");

    // A larger buffer is zero-terminated after the text; *size is unchanged.
    ASSERT_EQ(orv_dump_log_write("tail"), ORV_OK);
    size = sizeof buffer;
    ASSERT_EQ(orv_dump_log_read(log_, buffer, &size), ORV_OK);
    EXPECT_STREQ(buffer, "tail");
    EXPECT_EQ(size, sizeof buffer);

    // Past the first 64 KiB the stream grows.
    const std::string line(1000, 'q');
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(orv_dump_log_write(line.c_str()), ORV_OK);
    EXPECT_EQ(read_all().size(), 100000u);

    EXPECT_EQ(orv_dump_log_read(nullptr, buffer, &size), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_dump_log_read(log_, buffer, nullptr), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_dump_log_attach(nullptr), ORV_ERR_INVALID_PARAM);
}

TEST_F(Dump, OrvLogAppendsAndDestroyDetaches)
{
    ASSERT_EQ(orv_dump_log_attach(log_), ORV_OK);
    orv_log(LOG_TO_DUMP, ORV_ERR_IO, "VRE: VR: dumped %d", 7);
    orv_log(LOG_TO_ANDROID, ORV_ERR_IO, "VRE: VR: android only");
    orv_log(3, ORV_FAIL, "VRE: VR: both");
    const std::string text = read_all();
    EXPECT_NE(text.find("ERR=0x80000c01,ORV_ERR_IO, INF=VRE: VR: dumped 7"), std::string::npos) << text;
    EXPECT_EQ(text.find("android only"), std::string::npos);
    EXPECT_NE(text.find("INF=VRE: VR: both"), std::string::npos);
    EXPECT_LT(text.find("dumped 7"), text.find("both"));
    EXPECT_TRUE(android_saw("both"));

    orv_dump_log *other = orv_dump_log_create();
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(orv_dump_log_attach(other), ORV_OK);
    orv_dump_log_destroy(log_); // not attached: the attachment stays
    log_ = nullptr;
    EXPECT_EQ(orv_dump_log_write("kept"), ORV_OK);
    orv_dump_log_destroy(other); // attached: writes now find nothing
    EXPECT_EQ(orv_dump_log_write("lost"), ORV_ERR_INVALID_PARAM);
    orv_log(LOG_TO_DUMP, ORV_FAIL, "VRE: VR: nowhere");
    orv_dump_log_destroy(nullptr);
}

// A minimal framework component holding attributes keyed by GID.
struct FakeAttributes {
    OrvAttributeSlots slots;
    GID key;
    orv_dump_log *value;
    uint32_t value_size;
    int released;
};
struct FakeComponent {
    OrvComponentSlots slots;
    FakeAttributes *attributes;
    void *seen_a;
    void *seen_b;
};

int32_t fake_get(OrvAttributeSlots *self, GID key, void *buffer, uint32_t *size)
{
    auto *a = reinterpret_cast<FakeAttributes *>(self);
    if (!orv_gid_equal(key, a->key) || *size < a->value_size)
        return -1;
    memcpy(buffer, &a->value, a->value_size);
    *size = a->value_size;
    return 0;
}
void fake_release(OrvAttributeSlots *self) { ++reinterpret_cast<FakeAttributes *>(self)->released; }
OrvAttributeSlots *fake_attributes(OrvComponentSlots *self, void *a, void *b)
{
    auto *c = reinterpret_cast<FakeComponent *>(self);
    c->seen_a = a;
    c->seen_b = b;
    return c->attributes ? &c->attributes->slots : nullptr;
}

TEST_F(Dump, AttachFromComponent)
{
    FakeAttributes attrs{{fake_get, fake_release}, ORV_ID_DUMP_LOG_CTX, log_, sizeof(void *), 0};
    FakeComponent component{{fake_attributes}, &attrs, nullptr, nullptr};
    int a = 0, b = 0;
    ASSERT_EQ(orv_dump_log_attach_from(&component.slots, &a, &b), ORV_OK);
    EXPECT_EQ(component.seen_a, &a);
    EXPECT_EQ(component.seen_b, &b);
    EXPECT_EQ(attrs.released, 1);
    ASSERT_EQ(orv_dump_log_write("via component"), ORV_OK);
    EXPECT_EQ(read_all(), "via component");

    // No such attribute, or no attribute interface: nothing changes.
    orv_dump_log *other = orv_dump_log_create();
    attrs.key = ORV_GID_UNKNOWN;
    attrs.value = other;
    EXPECT_EQ(orv_dump_log_attach_from(&component.slots, nullptr, nullptr), ORV_OK);
    EXPECT_EQ(attrs.released, 2);
    component.attributes = nullptr;
    EXPECT_EQ(orv_dump_log_attach_from(&component.slots, nullptr, nullptr), ORV_OK);
    ASSERT_EQ(orv_dump_log_write("still here"), ORV_OK);
    EXPECT_EQ(read_all(), "still here");

    // A stored null detaches and says so.
    component.attributes = &attrs;
    attrs.key = ORV_ID_DUMP_LOG_CTX;
    attrs.value = nullptr;
    EXPECT_EQ(orv_dump_log_attach_from(&component.slots, nullptr, nullptr), ORV_ERR_NOT_IMP);
    EXPECT_EQ(orv_dump_log_write("x"), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_dump_log_attach_from(nullptr, nullptr, nullptr), ORV_ERR_INVALID_PARAM);
    orv_dump_log_destroy(other);
}

} // namespace

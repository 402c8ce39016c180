#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "orv/orv_log.h"
#include "orv/orv_clock.h"
#include "orv/orv_mem.h"
#include "orv/orv_mutex.h"
#include "orv/orv_tcp_desc.h"

namespace {

class TcpDescTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { orv_log_init(orv_log_null_sink, 0); }
    void SetUp() override { live_ = orv_mem_live_count(); }
    void TearDown() override { EXPECT_EQ(orv_mem_live_count(), live_) << "tracked blocks leaked"; }
    size_t live_ = 0;
};

struct Desc {
    TcpDesc *d;
    Desc(const char *text, int writable) : d(orv_tcp_desc_create(text, writable)) {}
    ~Desc() { orv_tcp_desc_release(d); }
    Desc(const Desc &) = delete;
    Desc &operator=(const Desc &) = delete;
    std::string text()
    {
        int32_t size = 0;
        if (orv_tcp_desc_text(d, nullptr, &size) != ORV_OK || size <= 0)
            return "<failed>";
        std::vector<char> buf(static_cast<size_t>(size) + 1, '\0');
        if (orv_tcp_desc_text(d, buf.data(), &size) != ORV_OK)
            return "<failed>";
        return buf.data();
    }
};

std::string take(char *tracked)
{
    std::string s = tracked ? tracked : "<null>";
    orv_free(tracked);
    return s;
}

} // namespace

TEST_F(TcpDescTest, AddressTextsAndTheirLimits)
{
    char host[32];
    int32_t port = -1, port2 = -1;
    ASSERT_EQ(orv_addr_parse("10.0.0.2:8000/live", host, sizeof host, &port), ORV_OK);
    EXPECT_STREQ(host, "10.0.0.2");
    EXPECT_EQ(port, 8000);
    ASSERT_EQ(orv_addr_parse("10.0.0.2:", host, sizeof host, &port), ORV_OK);
    EXPECT_EQ(port, 0);
    ASSERT_EQ(orv_addr_parse(":554", host, sizeof host, &port), ORV_OK);
    EXPECT_STREQ(host, "");
    EXPECT_EQ(port, 554);
    ASSERT_EQ(orv_addr_parse("10.0.0.2:70000", host, sizeof host, &port), ORV_OK);
    EXPECT_EQ(port, 70000);
    EXPECT_EQ(orv_addr_parse("10.0.0.2:123456", host, sizeof host, &port), ORV_FAIL);
    port = 9;
    ASSERT_EQ(orv_addr_parse("example.host", host, sizeof host, &port), ORV_OK); // no ":" at all
    EXPECT_STREQ(host, "example.host");
    EXPECT_EQ(port, 0);
    EXPECT_EQ(orv_addr_parse("h:1", host, 1, &port), ORV_FAIL);

    // 30 characters fit a 32-byte host buffer, 31 do not; nothing beyond it is touched.
    char guarded[40];
    memset(guarded, '#', sizeof guarded);
    const std::string h30(30, 'a');
    ASSERT_EQ(orv_addr_parse((h30 + ":1").c_str(), guarded, 32, &port), ORV_OK);
    EXPECT_EQ(std::string(guarded), h30);
    memset(guarded, '#', sizeof guarded);
    EXPECT_EQ(orv_addr_parse((h30 + "b:1").c_str(), guarded, 32, &port), ORV_FAIL);
    EXPECT_EQ(std::string(guarded), h30 + "b");
    EXPECT_EQ(std::string(guarded + 32, 8), std::string(8, '#'));

    ASSERT_EQ(orv_addr_parse2("10.0.0.2:8000:8001", host, sizeof host, &port, &port2), ORV_OK);
    EXPECT_EQ(port, 8000);
    EXPECT_EQ(port2, 8001);
    EXPECT_EQ(orv_addr_parse2("10.0.0.2:70000:1", host, sizeof host, &port, &port2), ORV_FAIL);
    EXPECT_EQ(orv_addr_parse2("h:1:65536", host, sizeof host, &port, &port2), ORV_FAIL);
    ASSERT_EQ(orv_addr_parse2("h:65535:", host, sizeof host, &port, &port2), ORV_OK);
    EXPECT_EQ(port, 65535);
    EXPECT_EQ(port2, 0);
    port2 = 5;
    ASSERT_EQ(orv_addr_parse2("h:8000", host, sizeof host, &port, &port2), ORV_OK); // one port
    EXPECT_EQ(port, 8000);
    EXPECT_EQ(port2, 0);
    port2 = 5;
    ASSERT_EQ(orv_addr_parse2("h:", host, sizeof host, &port, &port2), ORV_OK);
    EXPECT_EQ(port, 0);
    EXPECT_EQ(port2, 5);

    char out[16];
    EXPECT_EQ(orv_addr_text_size("10.0.0.2"), 16);
    EXPECT_EQ(orv_addr_format("10.0.0.2", 554, out, sizeof out), 12);
    EXPECT_STREQ(out, "10.0.0.2:554");
    EXPECT_EQ(orv_addr_format("10.0.0.2", 65535, out, 8), -1);
    EXPECT_EQ(strlen(out), 7u);
}

TEST_F(TcpDescTest, DescriptionKeysRoundTripThroughText)
{
    Desc w(nullptr, 1);
    ASSERT_NE(w.d, nullptr);
    ASSERT_EQ(orv_tcp_desc_set_remote(w.d, "10.0.0.2", 554), ORV_OK);
    ASSERT_EQ(orv_tcp_desc_set_channel2(w.d, "0.0.0.0", 6000, 6001), ORV_OK);
    ASSERT_EQ(orv_tcp_desc_set_connect_timeout(w.d, 5000000000LL), ORV_OK);
    ASSERT_EQ(orv_tcp_desc_set_wait_timeout(w.d, -7), ORV_OK);
    ASSERT_EQ(orv_tcp_desc_set_read_timeout(w.d, 30), ORV_OK);
    ASSERT_EQ(orv_tcp_desc_set_write_timeout(w.d, 40), ORV_OK);
    ASSERT_EQ(orv_tcp_desc_set_socket_opt(w.d, -3), ORV_OK);
    ASSERT_EQ(orv_tcp_desc_set_read_stat(w.d), ORV_OK);
    ASSERT_EQ(orv_tcp_desc_set_socket_none_block(w.d), ORV_OK);
    EXPECT_EQ(orv_tcp_desc_set_remote(w.d, std::string(200, 'h').c_str(), 1), ORV_ERR_INVALID_PARAM);

    // Read the text back into a read-only description and find every value.
    const std::string text = w.text();
    Desc r(text.c_str(), 0);
    ASSERT_NE(r.d, nullptr) << text;
    char host[32];
    int32_t port = 0, port2 = 0, v32 = 0;
    int64_t v64 = 0;
    ASSERT_EQ(orv_tcp_desc_get_remote(r.d, host, sizeof host, &port), ORV_OK);
    EXPECT_STREQ(host, "10.0.0.2");
    EXPECT_EQ(port, 554);
    ASSERT_EQ(orv_tcp_desc_get_channel2(r.d, host, sizeof host, &port, &port2), ORV_OK);
    EXPECT_STREQ(host, "0.0.0.0");
    EXPECT_EQ(port, 6000);
    EXPECT_EQ(port2, 6001);
    // The one-port reader takes "6000:6001" as a port field of nine characters.
    EXPECT_EQ(orv_tcp_desc_get_channel(r.d, host, sizeof host, &port), ORV_FAIL);
    ASSERT_EQ(orv_tcp_desc_get_connect_timeout(r.d, &v64), ORV_OK);
    EXPECT_EQ(v64, 5000000000LL);
    ASSERT_EQ(orv_tcp_desc_get_wait_timeout(r.d, &v64), ORV_OK);
    EXPECT_EQ(v64, -7);
    ASSERT_EQ(orv_tcp_desc_get_write_timeout(r.d, &v64), ORV_OK);
    EXPECT_EQ(v64, 40);
    ASSERT_EQ(orv_tcp_desc_get_socket_opt(r.d, &v32), ORV_OK);
    EXPECT_EQ(v32, -3);
    ASSERT_EQ(orv_tcp_desc_get_read_stat(r.d, &v32), ORV_OK);
    EXPECT_EQ(v32, 1);
    ASSERT_EQ(orv_tcp_desc_get_socket_none_block(r.d, &v32), ORV_OK);
    EXPECT_EQ(v32, 1);
    // Missing keys of a read-only description are -2, for getting and setting.
    EXPECT_EQ(orv_tcp_desc_get_write_stat(r.d, &v32), -2);
    EXPECT_EQ(orv_tcp_desc_set_write_stat(r.d), -2);
    ASSERT_EQ(orv_tcp_desc_get_remote2(r.d, host, sizeof host, &port, &port2), ORV_OK);
    EXPECT_EQ(port, 554);
    EXPECT_EQ(port2, 0);

    // A writable description makes a missing key, which then has no value.
    Desc e(nullptr, 1);
    EXPECT_EQ(orv_tcp_desc_get_wait_timeout(e.d, &v64), -3);
    ASSERT_EQ(orv_tcp_desc_set_wait_timeout(e.d, 250), ORV_OK);
    ASSERT_EQ(orv_tcp_desc_get_wait_timeout(e.d, &v64), ORV_OK);
    EXPECT_EQ(v64, 250);
    EXPECT_EQ(orv_tcp_desc_text(e.d, nullptr, nullptr), ORV_ERR_INVALID_PARAM);

    Desc bad("< no equals sign >", 0);
    EXPECT_EQ(bad.d, nullptr);
}

TEST_F(TcpDescTest, ComposeAndParse)
{
    const char *channel = "0.0.0.0:6000";
    const char *remote = "10.0.0.2:554";
    std::vector<char> out(static_cast<size_t>(orv_tcp_desc_compose_size(channel, remote)));
    EXPECT_EQ(out.size(), strlen(channel) + 2048 + strlen(remote) + 1024);
    ASSERT_EQ(orv_tcp_desc_compose(channel, remote, out.data()), ORV_OK);
    char *c = nullptr, *r = nullptr;
    ASSERT_EQ(orv_tcp_desc_parse(out.data(), &c, &r), ORV_OK);
    EXPECT_EQ(take(c), channel);
    EXPECT_EQ(take(r), remote);

    // Only a remote: the channel output stays as it was.
    EXPECT_EQ(orv_tcp_desc_compose_size(nullptr, remote), static_cast<int32_t>(1024 + strlen(remote) + 1024));
    ASSERT_EQ(orv_tcp_desc_compose(nullptr, remote, out.data()), ORV_OK);
    c = nullptr;
    ASSERT_EQ(orv_tcp_desc_parse(out.data(), &c, &r), ORV_OK);
    EXPECT_EQ(c, nullptr);
    EXPECT_EQ(take(r), remote);
    EXPECT_EQ(orv_tcp_desc_compose_size(nullptr, nullptr), 1024);

    // However long the texts, compose stays inside the size it asked for.
    const std::string long_channel(70000, 'c');
    const auto size = static_cast<size_t>(orv_tcp_desc_compose_size(long_channel.c_str(), remote));
    std::vector<char> guarded(size + 64, '#');
    const ResultCode rc = orv_tcp_desc_compose(long_channel.c_str(), remote, guarded.data());
    EXPECT_TRUE(rc == ORV_OK || rc == ORV_FAIL) << rc;
    EXPECT_EQ(std::string(guarded.data() + size, 64), std::string(64, '#'));
    if (rc == ORV_OK) {
        c = r = nullptr;
        ASSERT_EQ(orv_tcp_desc_parse(guarded.data(), &c, &r), ORV_OK);
        EXPECT_EQ(take(c), long_channel);
        EXPECT_EQ(take(r), remote);
    }

    // A key without a value cannot be parsed; an unreadable text is refused.
    c = r = nullptr;
    EXPECT_EQ(orv_tcp_desc_parse("< root = root; 1; > < remote = ; >", &c, &r), ORV_FAIL);
    EXPECT_EQ(r, nullptr);
    EXPECT_NE(orv_tcp_desc_parse("< no equals sign >", &c, &r), ORV_OK);
}

TEST_F(TcpDescTest, UrlQueryUserAgentAndHeader)
{
    EXPECT_EQ(take(orv_url_compose("rtsp://10.0.0.2/live", nullptr, nullptr)), "rtsp://10.0.0.2/live");

    char *url = orv_url_compose("http://h/p?a=1&b=<2>", "Agent/1.0 (x; y)", nullptr);
    ASSERT_NE(url, nullptr);
    EXPECT_EQ(strncmp(url, "http://h/p?", 11), 0);
    EXPECT_EQ(strchr(url + 11, '&'), nullptr); // the query travels in radix-64
    char *base = nullptr, *ua = nullptr, *header = nullptr;
    ASSERT_EQ(orv_url_parse(url, &base, &ua, &header), ORV_OK);
    EXPECT_EQ(take(base), "http://h/p?a=1&b=<2>");
    EXPECT_EQ(take(ua), "Agent/1.0 (x; y)");
    EXPECT_EQ(header, nullptr);
    orv_free(url);

    url = orv_url_compose("http://h/p", nullptr, "X-Key: 1\r\n");
    ASSERT_NE(url, nullptr);
    ASSERT_EQ(orv_url_parse(url, &base, &ua, &header), ORV_OK);
    EXPECT_EQ(take(base), "http://h/p?");
    EXPECT_EQ(ua, nullptr);
    EXPECT_EQ(take(header), "X-Key: 1\r\n");
    orv_free(url);

    base = ua = header = reinterpret_cast<char *>(1);
    EXPECT_EQ(orv_url_parse("http://h/p", &base, &ua, &header), ORV_EOF);
    EXPECT_EQ(base, nullptr);
    EXPECT_EQ(ua, nullptr);
    EXPECT_EQ(header, nullptr);
    EXPECT_NE(orv_url_parse("http://h/p?< no equals sign >", &base, &ua, &header), ORV_OK);
    EXPECT_EQ(base, nullptr);

    // A key claiming far more bytes than its text holds is refused before
    // anything that large is allocated (found by fuzzing: 2 GB asked for).
    const size_t live = orv_mem_live_count();
    const char *liar = "http://h/p?< root = root; 1; > < ua = 2000000001; 1; > < val-0 = 4*om9z00; >";
    EXPECT_EQ(orv_url_parse(liar, &base, &ua, &header), ORV_ERR_URL_DESERIAL);
    EXPECT_EQ(base, nullptr); // a failed parse hands nothing out
    EXPECT_EQ(ua, nullptr);
    EXPECT_EQ(orv_url_parse("http://h/p?< root = root; 1; > < ua = 5; 1; > < val-0 = 4*om9z00; >", &base, &ua,
                            &header),
              ORV_OK);
    orv_free(base);
    orv_free(ua);
    EXPECT_EQ(orv_mem_live_count(), live);
}

TEST_F(TcpDescTest, RadixAddressesAndLookups)
{
    char r64[ORV_IP_RADIX64_SIZE];
    char ip[32];
    ASSERT_EQ(orv_ip_to_radix64("255.255.255.255", r64), ORV_OK);
    EXPECT_STREQ(r64, "4*-----M");
    ASSERT_EQ(orv_ip_to_radix64("0.0.0.0", r64), ORV_OK);
    EXPECT_STREQ(r64, "4*000000");
    ASSERT_EQ(orv_ip_to_radix64("192.168.17.3", r64), ORV_OK);
    ASSERT_EQ(orv_radix64_to_ip(r64, ip), ORV_OK);
    EXPECT_STREQ(ip, "192.168.17.3");
    EXPECT_EQ(orv_ip_to_radix64("not an address", r64), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_radix64_to_ip("3*abcd", ip), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_radix64_to_ip("4*ab", ip), ORV_ERR_INVALID_PARAM);

    hostent copy{};
    hostent *h = orv_gethostbyname("127.0.0.1", &copy);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(copy.h_addrtype, AF_INET);
    EXPECT_EQ(copy.h_length, 4);
    EXPECT_EQ(copy.h_addr_list, h->h_addr_list);
    EXPECT_EQ(orv_gethostbyname(nullptr, &copy), nullptr);

    char small[6];
    EXPECT_STREQ(orv_inet_ntoa(htonl(0x0A000002), ip, sizeof ip), "10.0.0.2");
    EXPECT_STREQ(orv_inet_ntoa(htonl(0x0A000002), small, sizeof small), "10.0.");
}

// Host lookup waits for no lock: another thread holding the global lock (as
// every allocation takes it) does not hold up a lookup, nor a slow name
// server every allocating thread. The lookup used to wait for the holder.
TEST_F(TcpDescTest, HostLookupTakesNoGlobalLock)
{
    std::atomic<bool> held{false}, looked_up{false};
    bool seen_while_held = false;
    std::thread holder([&] {
        orv_global_lock();
        held = true;
        const uint64_t end = orv_clock_ms() + 5000; // a watchdog
        while (!looked_up && orv_clock_ms() < end)
            orv_sleep_ms(1);
        seen_while_held = looked_up;
        orv_global_unlock();
    });
    while (!held)
        orv_sleep_ms(1);
    hostent copy{};
    hostent *h = orv_gethostbyname("127.0.0.1", &copy);
    char text[32] = {};
    orv_inet_ntoa(htonl(INADDR_LOOPBACK), text, sizeof text);
    looked_up = true;
    holder.join();
    EXPECT_TRUE(seen_while_held);
    ASSERT_NE(h, nullptr);
    EXPECT_STREQ(text, "127.0.0.1");

    // The record: one IPv4 address, the list ended by null, the name given back.
    EXPECT_EQ(copy.h_addrtype, AF_INET);
    ASSERT_NE(copy.h_addr_list[0], nullptr);
    EXPECT_EQ(copy.h_addr_list[1], nullptr);
    in_addr first{};
    memcpy(&first, copy.h_addr_list[0], sizeof first);
    EXPECT_EQ(first.s_addr, htonl(INADDR_LOOPBACK));
    EXPECT_STREQ(copy.h_name, "127.0.0.1");
    EXPECT_EQ(copy.h_aliases[0], nullptr);

    // Each thread has its own record: a lookup elsewhere leaves ours alone.
    std::thread other([] {
        hostent mine{};
        orv_gethostbyname("10.1.2.3", &mine);
    });
    other.join();
    memcpy(&first, h->h_addr_list[0], sizeof first);
    EXPECT_EQ(first.s_addr, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(orv_gethostbyname("", &copy), nullptr);
}

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "orv/orv_clock.h"
#include "orv/orv_io_stream.h"
#include "orv/orv_io_tcp.h"
#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv_clock_internal.hpp"
#include "orv_log_internal.hpp"

namespace {

std::mutex g_lines_lock;
std::vector<std::string> g_lines;   // information sink
std::vector<std::string> g_android; // error log

int capture_sink(const char *text)
{
    std::lock_guard<std::mutex> lock(g_lines_lock);
    g_lines.emplace_back(text);
    return 0;
}

int capture_android(int, const char *, const char *text)
{
    std::lock_guard<std::mutex> lock(g_lines_lock);
    g_android.emplace_back(text);
    return 0;
}

bool logged(const std::vector<std::string> &lines, const std::string &part)
{
    std::lock_guard<std::mutex> lock(g_lines_lock);
    for (const auto &l : lines)
        if (l.find(part) != std::string::npos)
            return true;
    return false;
}

struct Notes {
    XioTcpNotify head;
    std::vector<std::pair<int, std::string>> seen; // kind, value as text
};

void note(XioTcpNotify *sink, int32_t kind, intptr_t value, intptr_t)
{
    auto *n = reinterpret_cast<Notes *>(sink);
    n->seen.emplace_back(kind, kind == XIO_TCP_NOTIFY_ERRNAME
                                   ? std::string(reinterpret_cast<const char *>(value))
                                   : std::to_string(value));
}

std::string desc_text(const char *key, const std::string &addr)
{
    return std::string("< root = root; 1; > \r\n  < ") + key + " = " + addr + "; > \r\n";
}

struct Tcp {
    xio *io = orv_io_tcp_create();
    Tcp() = default;
    explicit Tcp(xio *adopt) : io(adopt) {}
    ~Tcp()
    {
        if (io)
            io->vt.release(io);
    }
    Tcp(const Tcp &) = delete;
    Tcp &operator=(const Tcp &) = delete;
    xio_tcp *rec() const { return reinterpret_cast<xio_tcp *>(io); }
    ResultCode open(const std::string &text, uint32_t mode) { return io->vt.open(io, text.c_str(), mode); }
    ResultCode set_wait(int32_t sec, int32_t usec)
    {
        XioTcpWait w{sec, usec};
        XioTcpWait *pw = &w;
        return io->vt.set(io, XIO_TCP_SET_WAIT, &pw);
    }
    ResultCode set_notify(Notes *n)
    {
        XioTcpNotify *p = n ? &n->head : nullptr;
        return io->vt.set(io, XIO_TCP_SET_NOTIFY, &p);
    }
    ResultCode write(const std::string &s, int32_t *done)
    {
        return io->vt.write(io, s.data(), static_cast<int32_t>(s.size()), done);
    }
    int fd() const
    {
        XioParam p{};
        io->vt.get(io, XIO_TCP_GET_SOCKET, &p);
        return p.value;
    }
    std::string text(uint32_t code)
    {
        char buf[64] = {};
        XioParam p{};
        p.buffer = reinterpret_cast<uintptr_t>(buf);
        p.buffer2 = sizeof buf;
        return io->vt.get(io, code, &p) == ORV_OK ? buf : "<failed>";
    }
};

// Reads exactly n bytes with the stream's wait; bounded by a deadline.
std::string read_n(xio *io, size_t n, uint64_t budget_ms = 3000)
{
    std::string out;
    const uint64_t end = orv_clock_ms() + budget_ms;
    char buf[4096];
    while (out.size() < n && orv_clock_ms() < end) {
        int32_t got = 0;
        const uint32_t want = static_cast<uint32_t>(std::min(n - out.size(), sizeof buf));
        const ResultCode r = io->vt.read(io, buf, want, &got);
        if (r == ORV_OK)
            out.append(buf, static_cast<size_t>(got));
        else if (r != ORV_WOUNLD_BLOCK && r != ORV_AGAIN)
            break;
    }
    return out;
}

// A listener on 127.0.0.1 with a system-chosen port, a client connected to
// it and the accepted peer; every wait is long enough to block.
struct Pair {
    Tcp listener;
    Tcp client;
    Tcp server{nullptr};
    uint16_t port = 0;
    XioTcpWait accepted_wait{};

    void connect(uint32_t client_mode = 0)
    {
        ASSERT_EQ(listener.open(desc_text("channel", "127.0.0.1:0"), XIO_TCP_LISTEN | XIO_TCP_REUSEADDR),
                  ORV_OK);
        port = orv_io_tcp_local_port(listener.io);
        ASSERT_NE(port, 0);
        ASSERT_EQ(listener.set_wait(3, 0), ORV_OK);
        ASSERT_EQ(client.open(desc_text("remote", "127.0.0.1:" + std::to_string(port)), client_mode), ORV_OK);
        xio *accepted = nullptr;
        ASSERT_EQ(listener.io->vt.read(listener.io, &accepted, 0, nullptr), ORV_OK);
        ASSERT_NE(accepted, nullptr);
        server.io = accepted;
        accepted_wait = server.rec()->wait;
        ASSERT_EQ(client.set_wait(3, 0), ORV_OK);
        ASSERT_EQ(server.set_wait(3, 0), ORV_OK);
    }
};

// A port on 127.0.0.1 that nobody listens on (bound, then released).
uint16_t closed_port()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

class IoTcp : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        orv_log_init(capture_sink, 0);
        orv::log_set_android_writer(capture_android);
    }
    void SetUp() override
    {
        std::lock_guard<std::mutex> lock(g_lines_lock);
        g_lines.clear();
        g_android.clear();
        live_ = orv_mem_live_count();
    }
    void TearDown() override { EXPECT_EQ(orv_mem_live_count(), live_) << "tracked blocks leaked"; }
    size_t live_ = 0;
};

} // namespace

TEST_F(IoTcp, NewStreamAnswersItsFixedSlots)
{
    Tcp t;
    ASSERT_NE(t.io, nullptr);
    const int64_t not_imp = t.io->vt.seek(t.io, 0, XIO_SEEK_SET);
    EXPECT_EQ(static_cast<uint32_t>(not_imp), static_cast<uint32_t>(ORV_ERR_NOT_IMP));
    EXPECT_EQ(static_cast<uint32_t>(static_cast<uint64_t>(not_imp) >> 32), 0xFFFFFFFFu);
    EXPECT_EQ(t.io->vt.flush(t.io), ORV_OK);
    EXPECT_EQ(t.io->vt.reset(t.io), ORV_ERR_NOT_IMP);
    EXPECT_EQ(t.rec()->wait.sec, 0);
    EXPECT_EQ(t.rec()->wait.usec, 25);

    XioParam p{};
    p.flag = 77;
    EXPECT_EQ(t.io->vt.get(t.io, XIO_TCP_GET_SOCKET, &p), ORV_OK);
    EXPECT_EQ(p.value, -1);
    EXPECT_EQ(t.io->vt.get(t.io, XIO_TCP_MODE, &p), ORV_OK);
    EXPECT_EQ(p.flag, 0u);
    EXPECT_EQ(t.io->vt.get(t.io, 5, &p), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(t.io->vt.set(t.io, 5, &p), ORV_ERR_INVALID_PARAM);
    int32_t none = -1;
    EXPECT_EQ(t.io->vt.set(t.io, XIO_TCP_MODE, &none), ORV_ERR_INVALID_PARAM);

    // Without a socket, reads and writes are refused rather than waited on.
    char byte = 0;
    int32_t done = 0;
    EXPECT_EQ(t.io->vt.read(t.io, &byte, 1, &done), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(t.io->vt.write(t.io, &byte, 1, &done), ORV_ERR_INVALID_PARAM);
}

TEST_F(IoTcp, ConnectAcceptEchoAndAddresses)
{
    Pair pr;
    pr.connect(XIO_TCP_NODELAY | XIO_TCP_KEEPALIVE);
    ASSERT_NE(pr.server.io, nullptr);
    EXPECT_EQ(pr.server.rec()->accepted, 1);
    EXPECT_EQ(pr.server.rec()->mode, 0u);
    EXPECT_EQ(pr.accepted_wait.sec, 3); // the listener's
    EXPECT_EQ(pr.server.io->vt.open(pr.server.io, "", 0), ORV_FAIL);

    int32_t done = 0;
    ASSERT_EQ(pr.client.write("hello, peer", &done), ORV_OK);
    EXPECT_EQ(done, 11);
    EXPECT_EQ(read_n(pr.server.io, 11), "hello, peer");
    ASSERT_EQ(pr.server.write("echo", &done), ORV_OK);
    EXPECT_EQ(read_n(pr.client.io, 4), "echo");

    // A read of nothing with data waiting takes nothing and is no end of stream.
    ASSERT_EQ(pr.server.write("z", &done), ORV_OK);
    char buf[8];
    done = -1;
    EXPECT_EQ(pr.client.io->vt.read(pr.client.io, buf, 0, &done), ORV_OK);
    EXPECT_EQ(done, 0);
    EXPECT_EQ(pr.client.rec()->broken, 0);
    EXPECT_EQ(read_n(pr.client.io, 1), "z");

    // Nothing pending: a short wait answers "not yet".
    ASSERT_EQ(pr.client.set_wait(0, 1000), ORV_OK);
    EXPECT_EQ(pr.client.io->vt.read(pr.client.io, buf, sizeof buf, &done), ORV_WOUNLD_BLOCK);
    ASSERT_EQ(pr.listener.set_wait(0, 0), ORV_OK);
    xio *none = nullptr;
    EXPECT_EQ(pr.listener.io->vt.read(pr.listener.io, &none, 0, nullptr), ORV_WOUNLD_BLOCK);
    EXPECT_EQ(none, nullptr);

    const std::string server_at = "127.0.0.1:" + std::to_string(pr.port);
    const uint16_t client_port = orv_io_tcp_local_port(pr.client.io);
    EXPECT_EQ(pr.client.text(XIO_TCP_GET_PEER), server_at);
    EXPECT_EQ(pr.client.text(XIO_TCP_GET_LOCAL), "127.0.0.1:" + std::to_string(client_port));
    EXPECT_EQ(orv_io_tcp_peer_port(pr.server.io), client_port);
    EXPECT_EQ(orv_io_tcp_local_ip(pr.server.io), htonl(INADDR_LOOPBACK));
    EXPECT_STREQ(orv_io_tcp_peer_ip_text(pr.server.io), "127.0.0.1");
    EXPECT_STREQ(pr.listener.rec()->local_ip, "127.0.0.1");

    XioParam p{};
    ASSERT_EQ(pr.client.io->vt.get(pr.client.io, XIO_TCP_MODE, &p), ORV_OK);
    EXPECT_EQ(p.flag, XIO_TCP_NODELAY | XIO_TCP_KEEPALIVE);
    ASSERT_EQ(pr.client.io->vt.get(pr.client.io, XIO_TCP_GET_DESC, &p), ORV_OK);
    auto *desc = reinterpret_cast<TcpDesc *>(p.buffer);
    ASSERT_NE(desc, nullptr);
    char host[32];
    int32_t port = 0;
    ASSERT_EQ(orv_tcp_desc_get_remote(desc, host, sizeof host, &port), ORV_OK);
    EXPECT_STREQ(host, "127.0.0.1");
    EXPECT_EQ(port, pr.port);
    EXPECT_TRUE(
        logged(g_lines, "VRI: vrtcp: open remote ip:127.0.0.1, fd:" + std::to_string(pr.client.fd())));

    // A gathered write delivers its elements in order.
    const XioTcpVec parts[] = {{"ab", 2}, {"", 0}, {"cde", 3}};
    int32_t total = -1;
    ASSERT_EQ(orv_io_tcp_write_vector(pr.client.io, parts, 3, &total), ORV_OK);
    EXPECT_EQ(total, 5);
    EXPECT_EQ(read_n(pr.server.io, 5), "abcde");

    // close ends the socket and keeps the record.
    EXPECT_EQ(pr.client.io->vt.close(pr.client.io), ORV_OK);
    EXPECT_EQ(pr.client.fd(), -1);
    EXPECT_EQ(pr.client.io->vt.get(pr.client.io, XIO_TCP_GET_DESC, &p), ORV_OK);
    EXPECT_EQ(reinterpret_cast<TcpDesc *>(p.buffer), desc);
}

TEST_F(IoTcp, PeerCloseGivesEofOnceThenBroken)
{
    Pair pr;
    pr.connect();
    int32_t done = 0;
    ASSERT_EQ(pr.client.write("last", &done), ORV_OK);
    pr.client.io->vt.release(pr.client.io);
    pr.client.io = nullptr;

    EXPECT_EQ(read_n(pr.server.io, 4), "last");
    char buf[16];
    EXPECT_EQ(pr.server.io->vt.read(pr.server.io, buf, sizeof buf, &done), ORV_EOF);
    EXPECT_EQ(pr.server.rec()->broken, 1);
    EXPECT_EQ(pr.server.io->vt.read(pr.server.io, buf, sizeof buf, &done), ORV_WOUNLD_BLOCK);
    EXPECT_EQ(pr.server.io->vt.write(pr.server.io, buf, 1, &done), ORV_WOUNLD_BLOCK);
    EXPECT_EQ(pr.server.io->vt.open(pr.server.io, nullptr, 0), ORV_WOUNLD_BLOCK);
    EXPECT_TRUE(logged(g_lines, "VRI: vrtcp: read recv eof, fd:" + std::to_string(pr.server.fd())));
}

TEST_F(IoTcp, WriteOnClosedPeerReportsEpipe)
{
    Pair pr;
    pr.connect();
    Notes notes{{note}, {}};
    ASSERT_EQ(pr.client.set_notify(&notes), ORV_OK);
    pr.server.io->vt.release(pr.server.io);
    pr.server.io = nullptr;

    // The first write after the peer's close still succeeds; the peer's reset
    // then turns the next into EPIPE (and must not raise SIGPIPE).
    const std::string chunk(1024, 'x');
    ResultCode r = ORV_OK;
    const uint64_t end = orv_clock_ms() + 3000;
    for (int i = 0; i < 200 && r == ORV_OK && orv_clock_ms() < end; ++i) {
        int32_t done = 0;
        r = pr.client.write(chunk, &done);
        if (r == ORV_OK)
            orv_sleep_ms(2);
    }
    EXPECT_EQ(r, -1);
    EXPECT_EQ(pr.client.rec()->broken, 1);
    ASSERT_EQ(notes.seen.size(), 2u);
    EXPECT_EQ(notes.seen[0], std::make_pair(11, std::string("32")));
    EXPECT_EQ(notes.seen[1], std::make_pair(13, std::string("EPIPE")));
    EXPECT_TRUE(logged(g_lines, "VRI: vrtcp: orv xio vt xxx write err"));
    EXPECT_TRUE(logged(g_lines, "VRI: vrtcp: tcp remote ip:127.0.0.1, err:32, "));
    int32_t done = 0;
    EXPECT_EQ(pr.client.write(chunk, &done), ORV_WOUNLD_BLOCK);
}

TEST_F(IoTcp, ErrorReportNamesAndSinks)
{
    EXPECT_STREQ(orv_io_tcp_errno_name(32), "EPIPE");
    EXPECT_STREQ(orv_io_tcp_errno_name(115), "EINPROGRESS");
    EXPECT_STREQ(orv_io_tcp_errno_name(99), "EADDRNOTAVAIL");
    EXPECT_STREQ(orv_io_tcp_errno_name(110), "unknown error");
    EXPECT_STREQ(orv_io_tcp_errno_name(0), "unknown error"); // empty slots hold code 0

    Tcp t;
    Notes notes{{note}, {}};
    ASSERT_EQ(t.set_notify(&notes), ORV_OK);
    orv_io_tcp_report_error(t.io, 110);
    EXPECT_EQ(t.rec()->broken, 1);
    ASSERT_EQ(notes.seen.size(), 2u);
    EXPECT_EQ(notes.seen[0], std::make_pair(11, std::string("110")));
    EXPECT_EQ(notes.seen[1], std::make_pair(13, std::string("unknown error")));

    // Without a notification sink a named error goes to the log sink as one line.
    Tcp quiet;
    orv_io_tcp_report_error(quiet.io, 98);
    orv_io_tcp_report_error(quiet.io, 110);
    std::lock_guard<std::mutex> lock(g_lines_lock);
    EXPECT_EQ(std::count(g_lines.begin(), g_lines.end(), "EADDRINUSE"), 1);
    EXPECT_EQ(std::count(g_lines.begin(), g_lines.end(), "unknown error"), 0);
}

TEST_F(IoTcp, OpenFailures)
{
    {
        // Refused: the socket is closed, the stream broken, the sink told.
        Tcp t;
        Notes notes{{note}, {}};
        ASSERT_EQ(t.set_notify(&notes), ORV_OK);
        EXPECT_EQ(t.open(desc_text("remote", "127.0.0.1:" + std::to_string(closed_port())), 0), ORV_FAIL);
        EXPECT_EQ(t.fd(), -1);
        ASSERT_EQ(notes.seen.size(), 2u);
        EXPECT_EQ(notes.seen[0], std::make_pair(11, std::to_string(ECONNREFUSED)));
        EXPECT_TRUE(logged(g_lines, "VRI: vrtcp: orv xio vt xx open err"));
        // The failed connect stays failed rather than "try again later".
        EXPECT_EQ(t.open(desc_text("remote", "127.0.0.1:1"), 0), ORV_ERR_NET_CONNECT);
    }
    {
        // A description with "channel" but no "remote".
        Tcp t;
        g_lines.clear();
        EXPECT_EQ(t.open(desc_text("channel", "127.0.0.1:0"), 0), ORV_FAIL);
        EXPECT_TRUE(logged(g_lines, "VRI: vrtcp: open remote ip:, fd:"));
        EXPECT_EQ(t.fd(), -1);
    }
    {
        Tcp t;
        EXPECT_EQ(t.io->vt.open(t.io, nullptr, 0), ORV_FAIL); // no text, no "remote"
        Tcp u;
        EXPECT_EQ(u.open("< no equals sign >", 0), ORV_FAIL); // unreadable description
        EXPECT_EQ(u.rec()->broken, 0);                        // ... is not reported
        EXPECT_EQ(u.fd(), -1);
    }
    {
        // A second listener on a port in use fails its bind.
        Tcp first, second;
        Notes notes{{note}, {}};
        ASSERT_EQ(first.open(desc_text("channel", "127.0.0.1:0"), XIO_TCP_LISTEN), ORV_OK);
        const uint16_t port = orv_io_tcp_local_port(first.io);
        ASSERT_EQ(second.set_notify(&notes), ORV_OK);
        EXPECT_EQ(second.open(desc_text("channel", "127.0.0.1:" + std::to_string(port)), XIO_TCP_LISTEN),
                  ORV_FAIL);
        EXPECT_TRUE(logged(g_android, "VRE: vrtcp: open bind ip failed err:-1"));
        ASSERT_EQ(notes.seen.size(), 2u);
        EXPECT_EQ(notes.seen[1], std::make_pair(13, std::string("EADDRINUSE")));
    }
    {
        // Listeners without a "channel", or without any text, take a system port.
        Tcp a, b;
        EXPECT_EQ(a.open("< root = root; >", XIO_TCP_LISTEN), ORV_OK);
        EXPECT_EQ(b.io->vt.open(b.io, nullptr, XIO_TCP_LISTEN), ORV_OK);
        EXPECT_NE(orv_io_tcp_local_port(a.io), 0);
        EXPECT_NE(orv_io_tcp_local_port(b.io), 0);
    }
}

TEST_F(IoTcp, NonBlockingConnectCompletesOverOpenCalls)
{
    Tcp listener;
    ASSERT_EQ(listener.open(desc_text("channel", "127.0.0.1:0"), XIO_TCP_LISTEN), ORV_OK);
    const uint16_t port = orv_io_tcp_local_port(listener.io);
    ASSERT_EQ(listener.set_wait(3, 0), ORV_OK);

    Tcp client;
    const std::string remote = desc_text("remote", "127.0.0.1:" + std::to_string(port));
    ASSERT_EQ(client.open(remote, XIO_TCP_NONBLOCK), ORV_WOUNLD_BLOCK);
    EXPECT_EQ(client.rec()->wait.sec, 0);
    EXPECT_EQ(client.rec()->wait.usec, 0);
    EXPECT_NE(fcntl(client.fd(), F_GETFL) & O_NONBLOCK, 0);
    ResultCode r = ORV_WOUNLD_BLOCK;
    for (int i = 0; i < 3000 && r == ORV_WOUNLD_BLOCK; ++i) {
        r = client.io->vt.open(client.io, nullptr, 0);
        if (r == ORV_WOUNLD_BLOCK)
            orv_sleep_ms(1);
    }
    ASSERT_EQ(r, ORV_OK);

    Tcp server(nullptr);
    ASSERT_EQ(listener.io->vt.read(listener.io, &server.io, 0, nullptr), ORV_OK);
    int32_t done = 0;
    char buf[8];
    EXPECT_EQ(client.io->vt.read(client.io, buf, sizeof buf, &done), ORV_WOUNLD_BLOCK);
    ASSERT_EQ(client.write("nb", &done), ORV_OK);
    ASSERT_EQ(server.set_wait(3, 0), ORV_OK);
    EXPECT_EQ(read_n(server.io, 2), "nb");

    // A refused non-blocking connect fails on the spot or at a later poll.
    Tcp refused;
    r = refused.open(desc_text("remote", "127.0.0.1:" + std::to_string(closed_port())), XIO_TCP_NONBLOCK);
    for (int i = 0; i < 3000 && r == ORV_WOUNLD_BLOCK; ++i) {
        r = refused.io->vt.open(refused.io, nullptr, 0);
        if (r == ORV_WOUNLD_BLOCK)
            orv_sleep_ms(1);
    }
    EXPECT_EQ(r, ORV_FAIL);
}

TEST_F(IoTcp, AdoptedDescriptorAbove1024)
{
    rlimit lim{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &lim), 0);
    const rlimit old = lim;
    constexpr int kHigh = 1500;
    if (lim.rlim_cur <= kHigh) {
        if (lim.rlim_max != RLIM_INFINITY && lim.rlim_max <= kHigh)
            GTEST_SKIP() << "descriptor limit " << lim.rlim_max << " too low";
        lim.rlim_cur = kHigh + 100;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lim), 0);
    }

    Pair pr;
    pr.connect();
    ASSERT_EQ(dup2(pr.client.fd(), kHigh), kHigh);
    fcntl(kHigh, F_SETFL, fcntl(kHigh, F_GETFL) | O_NONBLOCK);
    {
        Tcp high;
        XioParam p{};
        p.value = kHigh;
        ASSERT_EQ(high.io->vt.set(high.io, XIO_TCP_MODE, &p), ORV_OK);
        EXPECT_EQ(high.io->vt.set(high.io, XIO_TCP_MODE, &p), ORV_ERR_INVALID_PARAM); // already has one
        ASSERT_EQ(high.io->vt.get(high.io, XIO_TCP_MODE, &p), ORV_OK);
        EXPECT_EQ(p.flag, XIO_TCP_EXTERNAL_FD | XIO_TCP_NONBLOCK);
        EXPECT_EQ(high.rec()->nonblock, 0);

        // Waits on the high descriptor: nothing yet, then data both ways.
        ASSERT_EQ(high.set_wait(0, 2000), ORV_OK);
        char buf[8];
        int32_t done = 0;
        EXPECT_EQ(high.io->vt.read(high.io, buf, sizeof buf, &done), ORV_WOUNLD_BLOCK);
        ASSERT_EQ(high.set_wait(3, 0), ORV_OK);
        ASSERT_EQ(high.write("high", &done), ORV_OK);
        EXPECT_EQ(read_n(pr.server.io, 4), "high");
        ASSERT_EQ(pr.server.write("back", &done), ORV_OK);
        EXPECT_EQ(read_n(high.io, 4), "back");
        EXPECT_EQ(high.text(XIO_TCP_GET_PEER), "127.0.0.1:" + std::to_string(pr.port));

        EXPECT_EQ(high.io->vt.close(high.io), ORV_OK);
        EXPECT_NE(fcntl(kHigh, F_GETFD), -1); // the caller's descriptor stays open
    }
    EXPECT_NE(fcntl(kHigh, F_GETFD), -1);
    close(kHigh);
    setrlimit(RLIMIT_NOFILE, &old);
}

namespace {

// A scripted stream for the gathered write: each write answers the next step.
struct Scripted {
    xio io;
    std::vector<std::pair<ResultCode, int32_t>> steps;
    size_t at = 0;
};

ResultCode scripted_write(xio *io, const void *, int32_t, int32_t *done)
{
    auto *s = reinterpret_cast<Scripted *>(io);
    if (s->at >= s->steps.size())
        return ORV_FAIL;
    const auto step = s->steps[s->at++];
    if (step.first == ORV_OK)
        *done = step.second;
    return step.first;
}

} // namespace

TEST_F(IoTcp, WriteVectorStopsAtFirstBlockedElement)
{
    const XioTcpVec two[] = {{"abc", 3}, {"defg", 4}};
    Scripted s{};
    s.io.vt.write = scripted_write;
    int32_t total = -1;

    s.steps = {{ORV_AGAIN, 0}, {ORV_OK, 3}, {ORV_WOUNLD_BLOCK, 0}};
    EXPECT_EQ(orv_io_tcp_write_vector(&s.io, two, 2, &total), ORV_OK);
    EXPECT_EQ(total, 3);
    EXPECT_EQ(s.at, 3u);

    s.steps = {{ORV_WOUNLD_BLOCK, 0}};
    s.at = 0;
    total = -1;
    EXPECT_EQ(orv_io_tcp_write_vector(&s.io, two, 2, &total), ORV_NEVER_REACH);
    EXPECT_EQ(total, -1);

    s.steps = {{ORV_OK, 2}, {-1, 0}};
    s.at = 0;
    EXPECT_EQ(orv_io_tcp_write_vector(&s.io, two, 2, &total), -1);
}

TEST_F(IoTcp, CopyToAnotherStream)
{
    Pair pr;
    pr.connect();
    std::string data(1000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7);
    int32_t done = 0;
    ASSERT_EQ(pr.client.write(data, &done), ORV_OK);
    ASSERT_EQ(done, 1000);

    xio *mem = ORV_IO_STREAM_CREATE();
    ASSERT_NE(mem, nullptr);
    EXPECT_EQ(orv_io_tcp_copy_to(pr.server.io, mem, 1000), ORV_OK);
    XioParam view{};
    ASSERT_EQ(mem->vt.get(mem, XIO_MEM_GET_VIEW, &view), ORV_OK);
    ASSERT_EQ(view.length, 1000);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(view.buffer), 1000), data);

    // The peer leaves before the count is reached: no endless retry.
    ASSERT_EQ(pr.client.write("short", &done), ORV_OK);
    pr.client.io->vt.release(pr.client.io);
    pr.client.io = nullptr;
    const uint64_t start = orv_clock_ms();
    EXPECT_EQ(orv_io_tcp_copy_to(pr.server.io, mem, 100), ORV_FAIL);
    EXPECT_LT(orv_clock_ms() - start, 5000u);
    EXPECT_EQ(mem->vt.size(mem), 1005);
    EXPECT_TRUE(logged(g_lines, "VRI: vrtcp: orv io tcp read stream err"));
    mem->vt.release(mem);
}

namespace {

// The wall clock as the runtime reads it, moved by a test.
std::atomic<int64_t> g_wall_offset_us{0};
int64_t shifted_wall()
{
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return int64_t(tv.tv_sec) * 1000000 + tv.tv_usec + g_wall_offset_us.load();
}

} // namespace

// The stall budget runs on the monotonic clock: a wall clock stepped back or
// forward while the copy waits for the rest is no stall.
TEST_F(IoTcp, CopyWaitsThroughWallClockSteps)
{
    std::string data(100, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 13 + 1);
    for (const int64_t step_us : {int64_t{-2'000'000}, int64_t{30'000'000}}) {
        Pair pr;
        pr.connect();
        ASSERT_EQ(pr.server.set_wait(0, 20000), ORV_OK); // many short waits, each measured
        xio *mem = ORV_IO_STREAM_CREATE();
        ASSERT_NE(mem, nullptr);
        g_wall_offset_us = 0;
        const orv::WallClockSource old = orv::clock_set_wall_source(shifted_wall);
        std::thread peer([&] {
            int32_t done = 0;
            pr.client.write(data.substr(0, 10), &done);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            g_wall_offset_us += step_us;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            pr.client.write(data.substr(10), &done);
        });
        const ResultCode r = orv_io_tcp_copy_to(pr.server.io, mem, 100);
        peer.join();
        orv::clock_set_wall_source(old);
        EXPECT_EQ(r, ORV_OK) << "wall clock stepped by " << step_us << " us";
        XioParam view{};
        EXPECT_EQ(mem->vt.get(mem, XIO_MEM_GET_VIEW, &view), ORV_OK);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(view.buffer), size_t(view.length)), data);
        EXPECT_EQ(pr.server.rec()->broken, 0);
        mem->vt.release(mem);
    }
}

namespace {

// A port below 34464 that nothing listens on, so that port + 65536 still
// fits the five characters of a port field.
uint16_t low_free_port(Tcp &holder)
{
    for (int p = 20000; p < 34464; p += 97)
        if (holder.open(desc_text("channel", "127.0.0.1:" + std::to_string(p)), XIO_TCP_LISTEN) == ORV_OK)
            return static_cast<uint16_t>(p);
    return 0;
}

} // namespace

// Addresses open cannot use are refused with a clear code, for the remote
// side and the listening side alike, and never reach connect or bind.
TEST_F(IoTcp, OpenRefusesAddressesItCannotUse)
{
    Tcp target;
    const uint16_t port = low_free_port(target);
    ASSERT_NE(port, 0);
    const std::string p = std::to_string(port);

    // Port + 65536 used to wrap onto the listener; names, short and hex forms
    // used to pass through inet_addr (127.1 reached 127.0.0.1).
    for (const std::string &bad :
         {"127.0.0.1:" + std::to_string(port + 65536), "127.1:" + p, "0x7f.0.0.1:" + p, "localhost:" + p,
          ":" + p, std::string("127.0.0.1:123456")}) {
        Tcp t;
        g_android.clear();
        EXPECT_EQ(t.open(desc_text("remote", bad), 0), ORV_ERR_SOCK_REMOTE) << bad;
        EXPECT_EQ(t.fd(), -1) << bad;
        EXPECT_EQ(t.rec()->broken, 0) << bad;
        EXPECT_TRUE(logged(g_android, "VRE: vrtcp: open remote \"")) << bad;
        // The description was at fault, not the stream: a good one opens it.
        EXPECT_EQ(t.open(desc_text("remote", "127.0.0.1:" + p), 0), ORV_OK) << bad;
    }

    // A listener never binds wider than its channel says: an unusable one
    // used to end up on every interface with a system port.
    for (const char *bad : {"127.0.0.1:123456", "127.0.0.1:70000", "localhost:0", "127.1:0", "1.2.3.4.5:0"}) {
        Tcp l;
        EXPECT_EQ(l.open(desc_text("channel", bad), XIO_TCP_LISTEN), ORV_ERR_SOCK_LOCAL) << bad;
        EXPECT_EQ(l.fd(), -1) << bad;
        EXPECT_EQ(l.rec()->broken, 0) << bad;
    }
    Tcp any;
    ASSERT_EQ(any.open(desc_text("channel", ":0"), XIO_TCP_LISTEN), ORV_OK); // asked for every interface
    EXPECT_EQ(any.text(XIO_TCP_GET_LOCAL), "0.0.0.0:" + std::to_string(orv_io_tcp_local_port(any.io)));
}

// A non-blocking connect found failed by a later poll: the stream is broken
// and every later open, read and write says the connect failed (they used to
// answer 0, then ORV_EOF).
TEST_F(IoTcp, FailedNonBlockingConnectStaysFailed)
{
    Tcp t;
    Notes notes{{note}, {}};
    ASSERT_EQ(t.set_notify(&notes), ORV_OK);
    ResultCode r =
        t.open(desc_text("remote", "127.0.0.1:" + std::to_string(closed_port())), XIO_TCP_NONBLOCK);
    for (int i = 0; i < 3000 && r == ORV_WOUNLD_BLOCK; ++i) {
        orv_sleep_ms(1);
        r = t.io->vt.open(t.io, nullptr, 0);
    }
    ASSERT_EQ(r, ORV_FAIL);
    EXPECT_EQ(t.rec()->broken, 1);
    ASSERT_EQ(notes.seen.size(), 2u);
    EXPECT_EQ(notes.seen[0], std::make_pair(11, std::to_string(ECONNREFUSED)));

    EXPECT_EQ(t.io->vt.open(t.io, nullptr, 0), ORV_ERR_NET_CONNECT);
    char buf[4];
    int32_t done = 0;
    EXPECT_EQ(t.io->vt.read(t.io, buf, sizeof buf, &done), ORV_ERR_NET_CONNECT);
    EXPECT_EQ(t.io->vt.write(t.io, buf, sizeof buf, &done), ORV_ERR_NET_CONNECT);
    EXPECT_EQ(t.io->vt.open(t.io, nullptr, 0), ORV_ERR_NET_CONNECT);
}

namespace {

// Lowers the descriptor limit and takes every descriptor left under it;
// gives all back when it goes.
struct NoDescriptorsLeft {
    rlimit old{};
    std::vector<int> held;
    bool ok = false;
    explicit NoDescriptorsLeft(int any_fd)
    {
        if (getrlimit(RLIMIT_NOFILE, &old) != 0)
            return;
        rlimit low = old;
        low.rlim_cur = std::min<rlim_t>(old.rlim_cur, 256);
        if (setrlimit(RLIMIT_NOFILE, &low) != 0)
            return;
        for (int fd; (fd = dup(any_fd)) != -1;)
            held.push_back(fd);
        ok = errno == EMFILE;
    }
    ~NoDescriptorsLeft() { give_back(); }
    void give_back()
    {
        for (int fd : held)
            close(fd);
        held.clear();
        setrlimit(RLIMIT_NOFILE, &old);
    }
};

} // namespace

// Accept failing for want of a descriptor leaves the listener working: the
// connection waits and is taken once descriptors are free (one EMFILE used
// to break the listener for good).
TEST_F(IoTcp, TransientAcceptFailureKeepsListener)
{
    Tcp listener;
    ASSERT_EQ(listener.open(desc_text("channel", "127.0.0.1:0"), XIO_TCP_LISTEN), ORV_OK);
    ASSERT_EQ(listener.set_wait(3, 0), ORV_OK);
    Tcp client;
    ASSERT_EQ(client.open(
                  desc_text("remote", "127.0.0.1:" + std::to_string(orv_io_tcp_local_port(listener.io))), 0),
              ORV_OK);

    xio *accepted = nullptr;
    {
        NoDescriptorsLeft full(listener.fd());
        ASSERT_TRUE(full.ok);
        EXPECT_EQ(listener.io->vt.read(listener.io, &accepted, 0, nullptr), ORV_WOUNLD_BLOCK);
        EXPECT_EQ(listener.io->vt.read(listener.io, &accepted, 0, nullptr), ORV_WOUNLD_BLOCK);
        full.give_back();
    }
    EXPECT_EQ(accepted, nullptr);
    EXPECT_EQ(listener.rec()->broken, 0);
    {
        std::lock_guard<std::mutex> lock(g_lines_lock);
        EXPECT_EQ(std::count_if(g_android.begin(), g_android.end(),
                                [](const std::string &l) {
                                    return l.find("accept failed err:24") != std::string::npos;
                                }),
                  1); // once for the run, not at every call
    }

    ASSERT_EQ(listener.io->vt.read(listener.io, &accepted, 0, nullptr), ORV_OK);
    Tcp server(accepted);
    ASSERT_EQ(server.set_wait(3, 0), ORV_OK);
    int32_t done = 0;
    ASSERT_EQ(client.write("late", &done), ORV_OK);
    EXPECT_EQ(read_n(server.io, 4), "late");
}

// A write to a peer that never reads returns within the stream's wait time
// with what went (it used to block until the peer read); with no limit it
// sends everything, and what arrives has no gap.
TEST_F(IoTcp, WriteWaitsNoLongerThanItsWaitTime)
{
    Pair pr;
    pr.connect();
    ASSERT_EQ(pr.client.set_wait(0, 25), ORV_OK);
    std::string big(64 << 20, '\0');
    for (size_t i = 0; i < big.size(); i += 4096)
        big[i] = static_cast<char>(i >> 12);

    const int client_fd = pr.client.fd();
    std::atomic<bool> finished{false};
    ResultCode r = ORV_FAIL;
    int32_t done = 0;
    std::thread writer([&] {
        r = pr.client.write(big, &done);
        finished = true;
    });
    const uint64_t end = orv_clock_ms() + 10000; // a watchdog, not a speed goal
    while (!finished && orv_clock_ms() < end)
        orv_sleep_ms(5);
    const bool returned = finished;
    if (!returned)
        shutdown(client_fd, SHUT_RDWR); // lets the stuck write go
    writer.join();
    ASSERT_TRUE(returned) << "a write with a 25 us wait blocked";
    ASSERT_EQ(r, ORV_OK);
    EXPECT_GT(done, 0);
    EXPECT_LT(done, static_cast<int32_t>(big.size()));
    EXPECT_EQ(pr.client.rec()->broken, 0);

    // Nothing fits now: "not yet", and the stream stays usable.
    int32_t more = -1;
    EXPECT_EQ(pr.client.write("x", &more), ORV_WOUNLD_BLOCK);
    EXPECT_EQ(more, -1);
    EXPECT_TRUE(read_n(pr.server.io, static_cast<size_t>(done), 10000) ==
                big.substr(0, static_cast<size_t>(done)));

    // No limit: one call sends the whole block while the peer reads.
    ASSERT_EQ(pr.client.set_wait(-1, 0), ORV_OK);
    const std::string block = big.substr(0, 8 << 20);
    std::string got;
    std::thread reader([&] { got = read_n(pr.server.io, block.size(), 10000); });
    ASSERT_EQ(pr.client.write(block, &done), ORV_OK);
    reader.join();
    EXPECT_EQ(done, static_cast<int32_t>(block.size()));
    EXPECT_TRUE(got == block);
}

namespace {

struct Recorded {
    xio io;
    std::vector<std::pair<const void *, int32_t>> calls;
    std::vector<std::pair<ResultCode, int32_t>> steps;
};

ResultCode recorded_write(xio *io, const void *data, int32_t length, int32_t *done)
{
    auto *s = reinterpret_cast<Recorded *>(io);
    const size_t at = s->calls.size();
    s->calls.emplace_back(data, length);
    if (at >= s->steps.size())
        return ORV_FAIL;
    if (s->steps[at].first == ORV_OK)
        *done = s->steps[at].second;
    return s->steps[at].first;
}

} // namespace

// After a short send the gathered write goes on with the rest of the same
// element (it used to move to the next one, leaving a gap).
TEST_F(IoTcp, WriteVectorFinishesAnElementBeforeTheNext)
{
    const char *text = "abcdefgh";
    const XioTcpVec parts[] = {{text, 6}, {text + 6, 2}};
    Recorded s{};
    s.io.vt.write = recorded_write;
    s.steps = {{ORV_OK, 4}, {ORV_OK, 2}, {ORV_OK, 2}};
    int32_t total = -1;
    ASSERT_EQ(orv_io_tcp_write_vector(&s.io, parts, 2, &total), ORV_OK);
    EXPECT_EQ(total, 8);
    ASSERT_EQ(s.calls.size(), 3u);
    EXPECT_EQ(s.calls[1], std::make_pair(static_cast<const void *>(text + 4), 2));
    EXPECT_EQ(s.calls[2], std::make_pair(static_cast<const void *>(text + 6), 2));

    // Blocked inside an element: the total counts the prefix that went.
    s.calls.clear();
    s.steps = {{ORV_OK, 3}, {ORV_WOUNLD_BLOCK, 0}};
    ASSERT_EQ(orv_io_tcp_write_vector(&s.io, parts, 2, &total), ORV_OK);
    EXPECT_EQ(total, 3);
    ASSERT_EQ(s.calls.size(), 2u);
    EXPECT_EQ(s.calls[1], std::make_pair(static_cast<const void *>(text + 3), 3));

    // Lengths that a 32-bit total cannot hold, or a negative one, are refused.
    const XioTcpVec huge[] = {{text, INT32_MAX}, {text, 1}};
    const XioTcpVec negative[] = {{text, -1}};
    s.calls.clear();
    EXPECT_EQ(orv_io_tcp_write_vector(&s.io, huge, 2, &total), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_io_tcp_write_vector(&s.io, negative, 1, &total), ORV_ERR_INVALID_PARAM);
    EXPECT_TRUE(s.calls.empty());
}

// A connect call that failed before it went out (as an interrupted or
// transiently refused call does) leaves a socket with no error and no peer:
// polling open makes the call again instead of calling it connected.
TEST_F(IoTcp, ConnectThatNeverWentOutIsMadeAgain)
{
    Tcp listener;
    ASSERT_EQ(listener.open(desc_text("channel", "127.0.0.1:0"), XIO_TCP_LISTEN), ORV_OK);
    ASSERT_EQ(listener.set_wait(3, 0), ORV_OK);
    const uint16_t port = orv_io_tcp_local_port(listener.io);

    // A non-blocking stream whose connect call never reached the system.
    Tcp client;
    const int fresh = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fresh, 0);
    fcntl(fresh, F_SETFL, fcntl(fresh, F_GETFL) | O_NONBLOCK);
    client.rec()->fd = fresh;
    client.rec()->nonblock = 1;
    client.rec()->peer_addr.sin_family = AF_INET;
    client.rec()->peer_addr.sin_port = htons(port);
    client.rec()->peer_addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    ResultCode r = ORV_WOUNLD_BLOCK;
    for (int i = 0; i < 3000 && r == ORV_WOUNLD_BLOCK; ++i) {
        r = client.io->vt.open(client.io, nullptr, 0);
        if (r == ORV_WOUNLD_BLOCK)
            orv_sleep_ms(1);
    }
    ASSERT_EQ(r, ORV_OK);
    EXPECT_EQ(client.text(XIO_TCP_GET_PEER), "127.0.0.1:" + std::to_string(port));
    xio *accepted = nullptr;
    ASSERT_EQ(listener.io->vt.read(listener.io, &accepted, 0, nullptr), ORV_OK);
    Tcp server(accepted);
    int32_t done = 0;
    ASSERT_EQ(client.write("again", &done), ORV_OK);
    ASSERT_EQ(server.set_wait(3, 0), ORV_OK);
    EXPECT_EQ(read_n(server.io, 5), "again");
}

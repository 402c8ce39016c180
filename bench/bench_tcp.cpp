// 256 MB over loopback through two TCP streams (64 KiB writes and reads,
// waits long enough to block) against the same transfer with send/recv.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "orv/orv_io_tcp.h"
#include "orv/orv_log.h"

namespace {

constexpr int64_t kTotal = 256ll << 20;
constexpr int32_t kChunk = 64 << 10;

struct Runtime {
    Runtime() { orv_log_init(orv_log_null_sink, 0); }
};

void set_block(xio *io)
{
    XioTcpWait forever{-1, 0};
    XioTcpWait *p = &forever;
    io->vt.set(io, XIO_TCP_SET_WAIT, &p);
}

std::string desc(const char *key, const std::string &addr)
{
    return std::string("< root = root; 1; > < ") + key + " = " + addr + "; >";
}

void tcp_streams(benchmark::State &state)
{
    static Runtime runtime;
    xio *listener = orv_io_tcp_create();
    xio *client = orv_io_tcp_create();
    xio *server = nullptr;
    if (listener->vt.open(listener, desc("channel", "127.0.0.1:0").c_str(), XIO_TCP_LISTEN) != ORV_OK) {
        state.SkipWithError("listen failed");
        return;
    }
    set_block(listener);
    const std::string remote = "127.0.0.1:" + std::to_string(orv_io_tcp_local_port(listener));
    if (client->vt.open(client, desc("remote", remote).c_str(), 0) != ORV_OK ||
        listener->vt.read(listener, &server, 0, nullptr) != ORV_OK) {
        state.SkipWithError("connect failed");
        return;
    }
    set_block(client);
    set_block(server);
    std::vector<char> out(kChunk, 'o'), in(kChunk);

    for (auto _ : state) {
        std::thread writer([&] {
            for (int64_t sent = 0; sent < kTotal;) {
                int32_t done = 0;
                if (client->vt.write(client, out.data(), kChunk, &done) != ORV_OK)
                    return;
                sent += done;
            }
        });
        int64_t got = 0;
        while (got < kTotal) {
            int32_t done = 0;
            if (server->vt.read(server, in.data(), kChunk, &done) != ORV_OK)
                break;
            got += done;
        }
        writer.join();
        if (got != kTotal)
            state.SkipWithError("short transfer");
    }
    state.SetBytesProcessed(state.iterations() * kTotal);
    server->vt.release(server);
    client->vt.release(client);
    listener->vt.release(listener);
}

void raw_sockets(benchmark::State &state)
{
    const int lfd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(lfd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    listen(lfd, 1);
    getsockname(lfd, reinterpret_cast<sockaddr *>(&a), &len);
    const int cfd = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(cfd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        state.SkipWithError("connect failed");
        return;
    }
    const int sfd = accept(lfd, nullptr, nullptr);
    std::vector<char> out(kChunk, 'o'), in(kChunk);

    for (auto _ : state) {
        std::thread writer([&] {
            for (int64_t sent = 0; sent < kTotal;) {
                const ssize_t n = send(cfd, out.data(), kChunk, 0);
                if (n <= 0)
                    return;
                sent += n;
            }
        });
        int64_t got = 0;
        while (got < kTotal) {
            const ssize_t n = recv(sfd, in.data(), kChunk, 0);
            if (n <= 0)
                break;
            got += n;
        }
        writer.join();
        if (got != kTotal)
            state.SkipWithError("short transfer");
    }
    state.SetBytesProcessed(state.iterations() * kTotal);
    close(sfd);
    close(cfd);
    close(lfd);
}

} // namespace

BENCHMARK(tcp_streams)
    ->Name("BM_tcp_256MB/ours")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);
BENCHMARK(raw_sockets)
    ->Name("BM_tcp_256MB/send_recv")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

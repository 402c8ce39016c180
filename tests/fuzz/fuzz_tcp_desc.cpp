// Connection descriptions: arbitrary text parsed for its channel and remote,
// opened read-only and writable with every accessor run (host buffers of
// exact sizes), the writable one's text taken out through a buffer of exactly
// its size; and the input split at its first zero byte into a channel and a
// remote text, composed into a description and parsed back unchanged.
#include <memory>
#include <vector>

#include "fuzz_util.h"
#include "orv/orv_mem.h"
#include "orv/orv_tcp_desc.h"

namespace {

// The text format drops line ends, tabs and extra blanks, stores an empty
// value as none and keeps no reserved character, so only plain texts come back.
bool plain(const char *t)
{
    if (!t)
        return true;
    const size_t n = std::strlen(t);
    return n > 0 && n < 1000 && std::strpbrk(t, "<>;= \r\n\t") == nullptr;
}

void run_accessors(TcpDesc *d, int32_t host_size)
{
    std::unique_ptr<char[]> host(new char[host_size]);
    int32_t a = 0, b = 0;
    int64_t t = 0;
    orv_tcp_desc_get_remote(d, host.get(), host_size, &a);
    orv_tcp_desc_get_channel(d, host.get(), host_size, &a);
    orv_tcp_desc_get_remote2(d, host.get(), host_size, &a, &b);
    orv_tcp_desc_get_channel2(d, host.get(), host_size, &a, &b);
    orv_tcp_desc_get_connect_timeout(d, &t);
    orv_tcp_desc_get_wait_timeout(d, &t);
    orv_tcp_desc_get_read_timeout(d, &t);
    orv_tcp_desc_get_write_timeout(d, &t);
    orv_tcp_desc_get_socket_opt(d, &a);
    orv_tcp_desc_get_read_stat(d, &a);
    orv_tcp_desc_get_write_stat(d, &a);
    orv_tcp_desc_get_socket_none_block(d, &a);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const size_t live = orv_mem_live_count();
    const std::string text = fuzz_text(data, size);
    const int32_t host_size = 2 + (size ? data[size - 1] % 40 : 0);

    char *channel = nullptr, *remote = nullptr;
    orv_tcp_desc_parse(text.c_str(), &channel, &remote);
    orv_free(channel);
    orv_free(remote);

    for (int32_t writable : {0, 1}) {
        TcpDesc *d = orv_tcp_desc_create(text.c_str(), writable);
        if (!d)
            continue;
        run_accessors(d, host_size);
        if (writable) {
            orv_tcp_desc_set_remote2(d, "10.0.0.1", 80, 81);
            orv_tcp_desc_set_wait_timeout(d, -5);
            orv_tcp_desc_set_read_stat(d);
            run_accessors(d, host_size);
            int32_t room = 0;
            if (orv_tcp_desc_text(d, nullptr, &room) == ORV_OK && room > 0 && room < (1 << 24)) {
                std::vector<char> exact(static_cast<size_t>(room));
                orv_tcp_desc_text(d, exact.data(), &room);
            }
        }
        orv_tcp_desc_release(d);
    }

    // Compose and parse back.
    const size_t rest = std::min(size, text.size() + 1);
    const std::string second = fuzz_text(data + rest, size - rest);
    const char *in_channel = text.c_str(), *in_remote = rest < size ? second.c_str() : nullptr;
    std::vector<char> composed(static_cast<size_t>(orv_tcp_desc_compose_size(in_channel, in_remote)));
    if (orv_tcp_desc_compose(in_channel, in_remote, composed.data()) == ORV_OK && plain(in_channel) &&
        plain(in_remote)) {
        channel = remote = nullptr;
        const ResultCode r = orv_tcp_desc_parse(composed.data(), &channel, &remote);
        if (r != ORV_OK || !channel || std::strcmp(channel, in_channel) != 0 ||
            (in_remote && (!remote || std::strcmp(remote, in_remote) != 0)) || (!in_remote && remote))
            fuzz_fail("composed description does not parse back (%#x): \"%s\"", unsigned(r), composed.data());
        orv_free(channel);
        orv_free(remote);
    }
    if (orv_mem_live_count() != live)
        fuzz_fail("tracked blocks leaked: %zu", orv_mem_live_count() - live);
    return 0;
}

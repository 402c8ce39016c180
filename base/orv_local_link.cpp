// The loopback listener: link n of the process listens on 127.0.0.1, port
// 45678 + n, for whatever host component made it. Owns its socket and its
// record. The link counter is atomic; nothing else is shared, and a link is
// used by one thread at a time.
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv/orv_sys.h"
#include "orv_sys_internal.hpp"

struct OrvLocalLink {
    int32_t socket;
    int32_t port;
};

namespace {

constexpr int kBacklog = 5;

std::atomic<uint16_t> g_link_counter{0};

// A listening TCP socket with SO_REUSEADDR bound to the loopback port; -1 on failure.
int listen_on_loopback(int32_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        listen(fd, kBacklog) != 0) {
        const int err = errno;
        close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

} // namespace

namespace orv {

uint16_t local_link_set_counter(uint16_t next)
{
    return g_link_counter.exchange(next);
}

} // namespace orv

extern "C" {

OrvLocalLink *orv_local_link_create(void)
{
    const uint16_t n = g_link_counter.fetch_add(1);
    // Past 65535 the port would wrap onto another service's or an ephemeral one.
    const int32_t port = ORV_LOCAL_LINK_PORT + static_cast<int32_t>(n);
    if (port > 65535) {
        orv_log(3, ORV_FAIL, "VRE: VR: local link %u: port %d is out of range", static_cast<unsigned>(n),
                port);
        return nullptr;
    }
    auto *link = static_cast<OrvLocalLink *>(ORV_CALLOC(sizeof(OrvLocalLink)));
    if (!link)
        return nullptr;
    link->socket = listen_on_loopback(port);
    if (link->socket < 0) {
        const int err = errno;
        orv_log(3, ORV_FAIL, "VRE: VR: local link on 127.0.0.1:%d failed, err:%d, %s", port, err,
                strerror(err));
        orv_mem_free(link);
        return nullptr;
    }
    link->port = port;
    return link;
}

void orv_local_link_destroy(OrvLocalLink *link)
{
    if (!link)
        return;
    if (link->socket >= 0)
        close(link->socket);
    orv_mem_free(link);
}

int orv_local_link_wait(OrvLocalLink *link, int64_t us)
{
    if (!link || link->socket < 0 || us < -1) {
        errno = EINVAL;
        return -1;
    }
    // poll, not select: a descriptor past FD_SETSIZE would overrun an fd_set.
    int ms = -1;
    if (us >= 0) {
        const int64_t rounded = us / 1000 + (us % 1000 != 0 ? 1 : 0);
        ms = rounded > INT_MAX ? INT_MAX : static_cast<int>(rounded);
    }
    pollfd entry{link->socket, POLLIN, 0};
    const int n = poll(&entry, 1, ms);
    if (n > 0 && (entry.revents & (POLLERR | POLLNVAL)) && !(entry.revents & POLLIN))
        return -1;
    return n;
}

int orv_local_link_set_nonblocking(OrvLocalLink *link)
{
    if (!link || link->socket < 0)
        return -1;
    const int flags = fcntl(link->socket, F_GETFL, 0);
    if (flags < 0)
        return flags;
    return fcntl(link->socket, F_SETFL, flags | O_NONBLOCK);
}

int32_t orv_local_link_socket(const OrvLocalLink *link)
{
    return link ? link->socket : -1;
}

int32_t orv_local_link_port(const OrvLocalLink *link)
{
    return link ? link->port : 0;
}

} // extern "C"

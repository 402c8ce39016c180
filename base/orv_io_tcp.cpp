// TCP stream: the xio slots over one IPv4 socket (client, listener, or an
// accepted or adopted connection). Each stream owns its socket (unless
// adopted), its connection description and its address texts; the
// notification sink is borrowed. No lock: one thread uses a stream at a time.
// Readiness waits use ppoll, so descriptors of any number work.
#include "orv/orv_io_tcp.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include "orv/orv_clock.h"
#include "orv/orv_ini.h"
#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv_clock_internal.hpp"

namespace {

struct ErrnoName {
    int code;
    const char *name;
};

// Searched from the first row; the second EPIPE row never wins.
constexpr ErrnoName kErrnoNames[16] = {
    {2, "ENOENT"}, {4, "EINTR"},       {32, "EPIPE"},  {107, "ENOTCONN"},    {11, "EAGAIN"},
    {32, "EPIPE"}, {98, "EADDRINUSE"}, {24, "EMFILE"}, {115, "EINPROGRESS"}, {99, "EADDRNOTAVAIL"},
};

constexpr XioTcpWait kDefaultWait{0, 25};
constexpr XioTcpWait kNoWait{0, 0};
constexpr int kListenBacklog = 128;
constexpr int kHostText = 32;
constexpr uint32_t kCopyChunk = 128;
// copy_to gives up when the source yields nothing for this long.
constexpr int64_t kCopyStallMs = 10000;

const char *lookup_name(int err)
{
    for (const ErrnoName &row : kErrnoNames)
        if (row.name && row.code == err)
            return row.name;
    return nullptr;
}

// strerror_r comes in two shapes; either gives a text that is ours alone.
[[maybe_unused]] const char *pick_text(int result, const char *buf)
{
    return result == 0 ? buf : "unknown error";
}
[[maybe_unused]] const char *pick_text(const char *result, const char *)
{
    return result ? result : "unknown error";
}

struct ErrText {
    explicit ErrText(int err) { text = pick_text(strerror_r(err, buf, sizeof buf), buf); }
    char buf[128] = {};
    const char *text;
};

xio_tcp *as_tcp(xio *io)
{
    return reinterpret_cast<xio_tcp *>(io);
}

bool would_block(int err)
{
    return err == EAGAIN || err == EWOULDBLOCK || err == EINPROGRESS;
}

enum class Ready { yes, no, failed };

// The end of a stream's wait time, so a call that waits more than once (a
// write sending in pieces, a wait interrupted by a signal) waits no longer in
// all. sec < 0: no limit.
class Deadline {
public:
    explicit Deadline(const XioTcpWait &limit)
    {
        if (limit.sec < 0) {
            forever_ = true;
            return;
        }
        const int64_t usec = static_cast<int64_t>(limit.sec) * 1000000 + (limit.usec > 0 ? limit.usec : 0);
        end_ns_ = now_ns() + usec * 1000;
    }
    // The time left for ppoll (zero once passed); null without a limit.
    const timespec *left(timespec &ts) const
    {
        if (forever_)
            return nullptr;
        int64_t ns = end_ns_ - now_ns();
        if (ns < 0)
            ns = 0;
        ts.tv_sec = static_cast<time_t>(ns / 1000000000);
        ts.tv_nsec = static_cast<long>(ns % 1000000000);
        return &ts;
    }
    bool passed() const { return !forever_ && now_ns() >= end_ns_; }

private:
    static int64_t now_ns() { return orv::clock_monotonic_ns(); }
    bool forever_ = false;
    int64_t end_ns_ = 0;
};

// One wait on fd for events until the deadline; a signal only makes it wait
// again for what is left. On `failed`, errno holds the reason. Errors and
// hang-ups count as ready so the following call reports them, as a select
// read/write set would.
Ready wait_fd(int fd, short events, const Deadline &deadline)
{
    pollfd p{fd, events, 0};
    int r;
    do {
        timespec ts{};
        p.revents = 0;
        r = ppoll(&p, 1, deadline.left(ts), nullptr);
    } while (r < 0 && errno == EINTR);
    if (r < 0)
        return Ready::failed;
    if (r == 0)
        return Ready::no;
    if (p.revents & POLLNVAL) {
        errno = EBADF;
        return Ready::failed;
    }
    return (p.revents & (events | POLLERR | POLLHUP)) ? Ready::yes : Ready::no;
}

void close_socket(xio_tcp *t)
{
    if (t->fd != -1 && !(t->mode & XIO_TCP_EXTERNAL_FD))
        ::close(t->fd);
    t->fd = -1;
}

void dotted(const sockaddr_in &addr, char (&out)[128])
{
    if (!inet_ntop(AF_INET, &addr.sin_addr, out, sizeof out))
        out[0] = '\0';
}

void refresh_local(xio_tcp *t)
{
    socklen_t len = sizeof t->local_addr;
    getsockname(t->fd, reinterpret_cast<sockaddr *>(&t->local_addr), &len);
}

void refresh_peer(xio_tcp *t)
{
    socklen_t len = sizeof t->peer_addr;
    getpeername(t->fd, reinterpret_cast<sockaddr *>(&t->peer_addr), &len);
}

// Only a dotted IPv4 address and a port that fits in 16 bits: inet_addr
// would take a name as 255.255.255.255 and htons would wrap 70000 onto 4464.
// No name is resolved here. An empty host (":554") means any local address,
// where any_ok.
bool make_addr(const char *host, int32_t port, bool any_ok, sockaddr_in &out)
{
    out = sockaddr_in{};
    out.sin_family = AF_INET;
    if (port < 0 || port > 65535)
        return false;
    out.sin_port = htons(static_cast<uint16_t>(port));
    if (!host[0]) {
        out.sin_addr.s_addr = htonl(INADDR_ANY);
        return any_ok;
    }
    return inet_pton(AF_INET, host, &out.sin_addr) == 1;
}

void copy_text(char (&dest)[128], const char *src)
{
    snprintf(dest, sizeof dest, "%s", src);
}

// Failing in open: optional report, the socket closed, the open error line.
ResultCode open_failed(xio_tcp *t, bool report, int err, ResultCode code = ORV_FAIL)
{
    if (report)
        orv_io_tcp_report_error(&t->io, err);
    close_socket(t);
    orv_trace("VRI: vrtcp: orv xio vt xx open err");
    return code;
}

// A connect that failed stays failed: without this a later poll would find
// SO_ERROR cleared and call the connection made, and a caller polling open
// for the outcome would be told "not yet" for ever.
ResultCode connect_failed(xio_tcp *t, int err, bool keep_socket)
{
    t->failed = ORV_ERR_NET_CONNECT;
    if (!keep_socket)
        return open_failed(t, true, err);
    orv_io_tcp_report_error(&t->io, err);
    return ORV_FAIL;
}

// An address the stream cannot use; the description is the caller's to mend,
// so the stream is not marked broken and may be opened again.
ResultCode bad_address(xio_tcp *t, const char *key, const char *host, ResultCode code)
{
    orv_log(3, code, "VRE: vrtcp: open %s \"%s\" is not an IPv4 address with a port of 0-65535", key, host);
    return open_failed(t, false, 0, code);
}

// The outcome of a connect the system finished (or is finishing) on its own:
// OK, 3 while still in progress (or, with *not_started, when it has to be
// made again), or a failure recorded for good.
ResultCode connect_outcome(xio_tcp *t, int ready_result, bool *not_started)
{
    *not_started = false;
    int pending = -1;
    socklen_t len = sizeof pending;
    const int q = getsockopt(t->fd, SOL_SOCKET, SO_ERROR, &pending, &len);
    if (q == 0 && pending == 0) {
        // No error, but no peer either: the connect call failed before it
        // went out (interrupted, or a transient refusal); it has to be made
        // again, which answers for itself.
        sockaddr_in peer{};
        socklen_t plen = sizeof peer;
        if (getpeername(t->fd, reinterpret_cast<sockaddr *>(&peer), &plen) == 0 || errno != ENOTCONN)
            return ORV_OK;
        *not_started = true;
        return ORV_WOUNLD_BLOCK;
    }
    if (q == 0 && (pending == EINPROGRESS || pending == EAGAIN || pending == EALREADY)) {
        orv_trace("VRI: vrtcp: open select error wouldblock");
        return ORV_WOUNLD_BLOCK;
    }
    const int shown = q == 0 ? pending : errno;
    orv_trace("VRI: vrtcp: open tcp error connect error:%d! fd:%d errno:%d %s", ready_result, t->fd, shown,
              ErrText(shown).text);
    return connect_failed(t, shown, true);
}

// again: a connect call was made before, so "already under way" and
// "already connected" are answers about it.
ResultCode connect_peer(xio_tcp *t, bool again)
{
    bool interrupted = again;
    for (;;) {
        if (connect(t->fd, reinterpret_cast<sockaddr *>(&t->peer_addr), sizeof t->peer_addr) == 0)
            return ORV_OK;
        const int err = errno;
        if (err == EINTR) {
            interrupted = true;
            continue;
        }
        // An interrupted connect goes on in the system: a second call finds it
        // made or still under way.
        if (interrupted && err == EISCONN)
            return ORV_OK;
        if (would_block(err) || (interrupted && err == EALREADY)) {
            if (t->nonblock)
                return ORV_WOUNLD_BLOCK;
            if (wait_fd(t->fd, POLLOUT, Deadline(XioTcpWait{-1, 0})) == Ready::failed)
                return connect_failed(t, errno, false);
            bool not_started = false;
            const ResultCode r = connect_outcome(t, 1, &not_started);
            if (r == ORV_WOUNLD_BLOCK) {
                interrupted = true;
                continue;
            }
            if (r != ORV_OK)
                return open_failed(t, false, 0);
            return ORV_OK;
        }
        if (t->nonblock)
            orv_trace("VRI: vrtcp: open get err:%d, %s", err, ErrText(err).text);
        return connect_failed(t, err, false);
    }
}

ResultCode poll_connect(xio_tcp *t)
{
    if (!t->nonblock || t->listening)
        return ORV_FAIL;
    const Ready ready = wait_fd(t->fd, POLLOUT, Deadline(kNoWait));
    if (ready == Ready::failed) {
        const int err = errno;
        if (would_block(err))
            return ORV_WOUNLD_BLOCK;
        orv_trace("VRI: vrtcp: open get err:%d, %s", err, ErrText(err).text);
        return open_failed(t, true, err);
    }
    if (ready == Ready::no)
        return ORV_WOUNLD_BLOCK;
    bool not_started = false;
    const ResultCode r = connect_outcome(t, 1, &not_started);
    return not_started ? connect_peer(t, true) : r;
}

ResultCode set_option(int fd, int level, int name)
{
    const int one = 1;
    return setsockopt(fd, level, name, &one, sizeof one) == 0 ? ORV_OK : ORV_FAIL;
}

// A missing "channel" (or one without a value) lets the system choose; any
// other that cannot be used fails the open rather than binding wider.
ResultCode listen_on_channel(xio_tcp *t)
{
    char host[kHostText] = {};
    int32_t port = 0;
    const ResultCode got = orv_tcp_desc_get_channel(t->desc, host, sizeof host, &port);
    if (got == ORV_OK) {
        if (!make_addr(host, port, true, t->local_addr))
            return bad_address(t, "channel", host, ORV_ERR_SOCK_LOCAL);
        copy_text(t->local_ip, host);
        const int r = bind(t->fd, reinterpret_cast<sockaddr *>(&t->local_addr), sizeof t->local_addr);
        if (r != 0) {
            const int err = errno;
            orv_log(3, ORV_ERR_TCP_FATAL, "VRE: vrtcp: open bind ip failed err:%d", r);
            return open_failed(t, true, err);
        }
    } else if (got == ORV_FAIL) {
        return bad_address(t, "channel", host, ORV_ERR_SOCK_LOCAL);
    } else if (got != XINI_ERR_NOT_FOUND && got != XINI_ERR_NO_VALUE) {
        return open_failed(t, false, 0);
    }
    if (listen(t->fd, kListenBacklog) != 0)
        return open_failed(t, true, errno);
    return ORV_OK;
}

ResultCode tcp_open(xio *io, const char *target, uint32_t mode)
{
    xio_tcp *t = as_tcp(io);
    if (!t)
        return ORV_ERR_INVALID_PARAM;
    if (t->failed)
        return t->failed;
    if (t->broken)
        return ORV_WOUNLD_BLOCK;
    if (t->fd != -1)
        return poll_connect(t);
    if (t->accepted)
        return ORV_FAIL;

    // The external bit belongs to adoption; taken from open it would leak the socket.
    t->mode = mode & ~XIO_TCP_EXTERNAL_FD;
    t->listening = (mode & XIO_TCP_LISTEN) ? 1 : 0;
    t->nonblock = (mode & XIO_TCP_NONBLOCK) ? 1 : 0;
    t->fd = socket(AF_INET, SOCK_STREAM, 0);
    if (t->fd == -1)
        return open_failed(t, true, errno);

    if (((mode & XIO_TCP_KEEPALIVE) && set_option(t->fd, SOL_SOCKET, SO_KEEPALIVE) != ORV_OK) ||
        ((mode & XIO_TCP_REUSEADDR) && set_option(t->fd, SOL_SOCKET, SO_REUSEADDR) != ORV_OK) ||
        ((mode & XIO_TCP_NODELAY) && set_option(t->fd, IPPROTO_TCP, TCP_NODELAY) != ORV_OK))
        return open_failed(t, true, errno);

    if (t->nonblock) {
        t->wait = kNoWait;
        const int flags = fcntl(t->fd, F_GETFL);
        if (flags == -1 || fcntl(t->fd, F_SETFL, flags | O_NONBLOCK) == -1) {
            const int err = errno;
            orv_log(3, -1, "VRE: vrtcp: open ioctl set non block");
            return open_failed(t, true, err);
        }
    }

    // A reopen after close replaces the old description.
    orv_tcp_desc_release(t->desc);
    t->desc = orv_tcp_desc_create(target, 0);
    if (!t->desc)
        return open_failed(t, false, 0);

    if (t->listening)
        return listen_on_channel(t);

    char host[kHostText] = {};
    int32_t port = 0;
    const ResultCode parsed = orv_tcp_desc_get_remote(t->desc, host, sizeof host, &port);
    const int parse_err = errno;
    orv_trace("VRI: vrtcp: open remote ip:%s, fd:%d", host, t->fd);
    if (parsed == ORV_FAIL)
        return bad_address(t, "remote", host, ORV_ERR_SOCK_REMOTE);
    if (parsed != ORV_OK)
        return open_failed(t, true, parse_err);
    if (!make_addr(host, port, false, t->peer_addr))
        return bad_address(t, "remote", host, ORV_ERR_SOCK_REMOTE);
    copy_text(t->peer_ip, host);
    return connect_peer(t, false);
}

ResultCode tcp_release(xio *io)
{
    xio_tcp *t = as_tcp(io);
    if (!t)
        return ORV_OK;
    close_socket(t);
    orv_tcp_desc_release(t->desc);
    orv_mem_free(t);
    return ORV_OK;
}

// The outcome of a failed read wait, shared by listeners and data streams.
ResultCode read_wait_failed(xio_tcp *t, int err)
{
    if (t->nonblock && would_block(err))
        return ORV_AGAIN;
    orv_log(3, err, "VRE: vrtcp: tcp read select err:%d", err);
    orv_trace("VRI: vrtcp: orv xio vt xxx read failed");
    orv_io_tcp_report_error(&t->io, err);
    return ORV_FAIL;
}

ResultCode no_socket(const char *what)
{
    orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: vrtcp: %s without a socket", what);
    return ORV_ERR_INVALID_PARAM;
}

// Only these say the listening socket itself is unusable. The rest concern
// one connection (aborted before it was taken, refused by a filter) or the
// moment (no descriptor or memory left): the next accept may well succeed.
bool accept_fatal(int err)
{
    return err == EBADF || err == ENOTSOCK || err == EINVAL || err == EFAULT;
}

ResultCode accept_one(xio_tcp *t, void *dest)
{
    if (!dest)
        return ORV_ERR_INVALID_PARAM;
    int fd;
    do {
        fd = accept(t->fd, nullptr, nullptr);
    } while (fd == -1 && errno == EINTR);
    if (fd == -1) {
        const int err = errno;
        if (!accept_fatal(err)) {
            // Logged once per run of the same error: a listener out of
            // descriptors is readable at every call.
            if (err != t->accept_err && !would_block(err))
                orv_log(3, ORV_ERR_SOCK_LOCAL,
                        "VRE: vrtcp: accept failed err:%d, %s; the listener stays open", err,
                        ErrText(err).text);
            t->accept_err = err;
            return ORV_WOUNLD_BLOCK;
        }
        orv_trace("VRI: vrtcp: orv xio vt xxx read failed");
        orv_io_tcp_report_error(&t->io, err);
        return ORV_FAIL;
    }
    t->accept_err = 0;
    xio_tcp *c = as_tcp(orv_io_tcp_create());
    if (!c) {
        ::close(fd);
        return ORV_FAIL;
    }
    // Accepted sockets do not inherit O_NONBLOCK; the stream's flag says they should.
    if (t->nonblock) {
        const int flags = fcntl(fd, F_GETFL);
        if (flags != -1)
            fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    }
    c->accepted = 1;
    c->nonblock = t->nonblock;
    c->fd = fd;
    c->listening = 0;
    c->wait = t->wait;
    *static_cast<xio **>(dest) = &c->io;
    return ORV_OK;
}

ResultCode tcp_read(xio *io, void *dest, uint32_t length, int32_t *done)
{
    xio_tcp *t = as_tcp(io);
    if (!t)
        return ORV_ERR_INVALID_PARAM;
    if (t->failed)
        return t->failed;
    if (t->broken)
        return ORV_WOUNLD_BLOCK;
    if (t->fd == -1)
        return no_socket("read");
    if (!t->listening && static_cast<int32_t>(length) < 0)
        return ORV_ERR_INVALID_PARAM;

    const Ready ready = wait_fd(t->fd, POLLIN, Deadline(t->wait));
    if (ready == Ready::failed)
        return read_wait_failed(t, errno);
    if (ready == Ready::no)
        return ORV_WOUNLD_BLOCK;
    if (t->listening)
        return accept_one(t, dest);
    if (!dest && length)
        return ORV_ERR_INVALID_PARAM;
    // recv() into nothing answers 0, which would read as the peer's end.
    if (length == 0) {
        if (done)
            *done = 0;
        return ORV_OK;
    }

    // Never blocks past the wait: readiness may be gone by the time we receive.
    ssize_t n;
    do {
        n = recv(t->fd, dest, length, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        if (done)
            *done = static_cast<int32_t>(n);
        return ORV_OK;
    }
    const int err = errno;
    if (n == 0) {
        orv_trace("VRI: vrtcp: read recv eof, fd:%d, buffer:%x, cnt:%d, errno:%d, %s", t->fd,
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(dest)), static_cast<int>(length), err,
                  ErrText(err).text);
        t->broken = 1;
        return ORV_EOF;
    }
    if (would_block(err))
        return ORV_WOUNLD_BLOCK;
    orv_log(3, err, "VRE: vrtcp: tcp read recv err:%d", err);
    orv_trace("VRI: vrtcp: orv xio vt xxx read failed");
    orv_io_tcp_report_error(&t->io, err);
    return ORV_FAIL;
}

ResultCode write_failed(xio_tcp *t, int err)
{
    if (t->nonblock && would_block(err))
        return ORV_WOUNLD_BLOCK;
    orv_trace("VRI: vrtcp: orv xio vt xxx write err");
    orv_io_tcp_report_error(&t->io, err);
    return -1;
}

// One non-blocking send; MSG_NOSIGNAL keeps a closed peer from killing the
// process with SIGPIPE, so it is reported as EPIPE instead.
ssize_t send_some(int fd, const uint8_t *data, size_t length)
{
    iovec v{const_cast<uint8_t *>(data), length};
    msghdr msg{};
    msg.msg_iov = &v;
    msg.msg_iovlen = 1;
    ssize_t n;
    do {
        n = sendmsg(fd, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    return n;
}

// False when the deadline passed without room, or the wait failed (err set).
bool wait_for_room(const xio_tcp *t, const Deadline &deadline, int &err)
{
    const Ready ready = wait_fd(t->fd, POLLOUT, deadline);
    if (ready == Ready::failed)
        err = errno;
    return ready == Ready::yes;
}

// Sends what the peer takes before the wait time runs out, so a peer that
// never reads holds a writer no longer than its wait. An error after some
// bytes went returns those; the next write meets the error again.
ResultCode tcp_write(xio *io, const void *src, int32_t length, int32_t *done)
{
    xio_tcp *t = as_tcp(io);
    if (!t)
        return ORV_ERR_INVALID_PARAM;
    if (t->failed)
        return t->failed;
    if (t->broken)
        return ORV_WOUNLD_BLOCK;
    if (t->fd == -1)
        return no_socket("write");
    if (length < 0 || (!src && length))
        return ORV_ERR_INVALID_PARAM;
    // send() of nothing answers 0, which would read as the peer's end.
    if (length == 0) {
        if (done)
            *done = 0;
        return ORV_OK;
    }

    const auto *data = static_cast<const uint8_t *>(src);
    const Deadline deadline(t->wait);
    int32_t sent = 0;
    int err = 0;
    // Wait for room before each send, as a blocking send would: after a short
    // send the socket is full, and waiting first paces the writer to the
    // reader (measured faster than sending first).
    while (sent < length && wait_for_room(t, deadline, err)) {
        const ssize_t n = send_some(t->fd, data + sent, static_cast<size_t>(length - sent));
        if (n > 0) {
            sent += static_cast<int32_t>(n);
            continue;
        }
        if (n == 0) {
            if (sent)
                break;
            t->broken = 1;
            return ORV_EOF;
        }
        err = errno;
        if (!would_block(err))
            break;
        // Ready but no room after all: try again while time is left.
        err = 0;
        if (deadline.passed())
            break;
    }
    if (sent > 0) {
        if (done)
            *done = sent;
        return ORV_OK;
    }
    if (err)
        return write_failed(t, err);
    return ORV_WOUNLD_BLOCK;
}

int64_t tcp_not_imp64(xio *)
{
    return static_cast<int64_t>(ORV_ERR_NOT_IMP);
}
int64_t tcp_seek(xio *, int64_t, int32_t)
{
    return static_cast<int64_t>(ORV_ERR_NOT_IMP);
}
ResultCode tcp_reset(xio *)
{
    return ORV_ERR_NOT_IMP;
}
ResultCode tcp_flush(xio *)
{
    return ORV_OK;
}

ResultCode tcp_close(xio *io)
{
    if (xio_tcp *t = as_tcp(io))
        close_socket(t);
    return ORV_OK;
}

ResultCode tcp_set(xio *io, uint32_t code, void *param)
{
    xio_tcp *t = as_tcp(io);
    if (!t || !param)
        return ORV_ERR_INVALID_PARAM;
    switch (code) {
    case XIO_TCP_SET_WAIT: {
        const auto *wait = *static_cast<XioTcpWait *const *>(param);
        if (!wait)
            return ORV_ERR_INVALID_PARAM;
        t->wait = *wait;
        return ORV_OK;
    }
    case XIO_TCP_SET_NOTIFY:
        t->notify = *static_cast<XioTcpNotify *const *>(param);
        return ORV_OK;
    case XIO_TCP_MODE: {
        const int32_t fd = *static_cast<const int32_t *>(param);
        if (t->fd != -1 || fd == -1)
            return ORV_ERR_INVALID_PARAM;
        t->fd = fd;
        t->mode |= XIO_TCP_EXTERNAL_FD;
        const int flags = fcntl(fd, F_GETFL);
        if (flags != -1 && (flags & O_NONBLOCK))
            t->mode |= XIO_TCP_NONBLOCK;
        return ORV_OK;
    }
    default:
        return ORV_ERR_INVALID_PARAM;
    }
}

ResultCode address_text(xio_tcp *t, bool local, XioParam *p)
{
    auto *buffer = reinterpret_cast<char *>(p->buffer);
    if (!buffer || p->buffer2 == 0)
        return ORV_ERR_INVALID_PARAM;
    sockaddr_in &addr = local ? t->local_addr : t->peer_addr;
    socklen_t len = sizeof addr;
    const int r = local ? getsockname(t->fd, reinterpret_cast<sockaddr *>(&addr), &len)
                        : getpeername(t->fd, reinterpret_cast<sockaddr *>(&addr), &len);
    if (r != 0) {
        const int err = errno;
        orv_trace("VRI: vrtcp: orv xio vt xxx get err");
        orv_io_tcp_report_error(&t->io, err);
        return ORV_FAIL;
    }
    char ip[128];
    dotted(addr, ip);
    snprintf(buffer, p->buffer2, "%s:%d", ip, ntohs(addr.sin_port));
    return ORV_OK;
}

ResultCode tcp_get(xio *io, uint32_t code, XioParam *p)
{
    xio_tcp *t = as_tcp(io);
    if (!t || !p)
        return ORV_ERR_INVALID_PARAM;
    switch (code) {
    case XIO_TCP_GET_LOCAL:
        return address_text(t, true, p);
    case XIO_TCP_GET_PEER:
        return address_text(t, false, p);
    case XIO_TCP_GET_SOCKET:
        p->value = t->fd;
        return ORV_OK;
    case XIO_TCP_MODE:
        p->flag = t->mode;
        return ORV_OK;
    case XIO_TCP_GET_DESC:
        p->buffer = reinterpret_cast<uintptr_t>(t->desc);
        if constexpr (sizeof(void *) == sizeof(int32_t))
            p->value = static_cast<int32_t>(reinterpret_cast<uintptr_t>(t->desc));
        return ORV_OK;
    default:
        return ORV_ERR_INVALID_PARAM;
    }
}

constexpr XioVtbl kTcpVtbl = {
    tcp_open,      tcp_release, tcp_read, tcp_write, tcp_seek,  tcp_not_imp64,
    tcp_not_imp64, tcp_set,     tcp_get,  tcp_reset, tcp_close, tcp_flush,
};

} // namespace

namespace {

// The stream's own or its peer's address, read afresh from the socket; null
// for something that is not a TCP stream.
const sockaddr_in *endpoint(xio *stream, bool peer)
{
    xio_tcp *t = as_tcp(stream);
    if (!t)
        return nullptr;
    if (peer) {
        refresh_peer(t);
        return &t->peer_addr;
    }
    refresh_local(t);
    return &t->local_addr;
}

} // namespace

extern "C" {

xio *orv_io_tcp_create(void)
{
    auto *t = static_cast<xio_tcp *>(ORV_CALLOC(sizeof(xio_tcp)));
    if (!t)
        return nullptr;
    t->io.vt = kTcpVtbl;
    t->fd = -1;
    t->wait = kDefaultWait;
    return &t->io;
}

const char *orv_io_tcp_errno_name(int err)
{
    const char *name = lookup_name(err);
    return name ? name : "unknown error";
}

void orv_io_tcp_report_error(xio *stream, int err)
{
    xio_tcp *t = as_tcp(stream);
    if (!t)
        return;
    t->broken = 1;
    const char *name = lookup_name(err);
    if (t->notify && t->notify->call) {
        t->notify->call(t->notify, XIO_TCP_NOTIFY_ERRNO, err, 0);
        t->notify->call(t->notify, XIO_TCP_NOTIFY_ERRNAME,
                        reinterpret_cast<intptr_t>(name ? name : "unknown error"), 0);
    } else if (const LogSink sink = orv_log_sink(); sink && name) {
        sink(name);
    }
    orv_trace("VRI: vrtcp: tcp remote ip:%s, err:%d, %s", t->peer_ip, err, ErrText(err).text);
}

ResultCode orv_io_tcp_write_vector(xio *stream, const XioTcpVec *elements, int32_t count, int32_t *total)
{
    if (!stream || (count > 0 && !elements))
        return ORV_ERR_INVALID_PARAM;
    // The total must fit its 32-bit count.
    int64_t all = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (elements[i].length < 0 || (elements[i].length > 0 && !elements[i].data))
            return ORV_ERR_INVALID_PARAM;
        all += elements[i].length;
    }
    if (all > INT32_MAX)
        return ORV_ERR_INVALID_PARAM;

    int32_t sum = 0;
    for (int32_t i = 0; i < count; ++i) {
        const auto *data = static_cast<const uint8_t *>(elements[i].data);
        const int32_t length = elements[i].length;
        // A short send goes on with the rest of the same element: moving to
        // the next one would leave a gap in what the peer receives.
        for (int32_t off = 0; off < length;) {
            int32_t done = 0;
            ResultCode r;
            do {
                r = stream->vt.write(stream, data + off, length - off, &done);
            } while (r == ORV_AGAIN);
            if (r == ORV_OK && done > length - off) {
                orv_log(3, ORV_ERR_INVALID_RESULT, "VRE: vrtcp: write answered %d for %d bytes", done,
                        length - off);
                return ORV_ERR_INVALID_RESULT;
            }
            // Nothing taken counts as blocked, or the loop would spin.
            if (r == ORV_WOUNLD_BLOCK || r == ORV_IDLE || (r == ORV_OK && done <= 0)) {
                if (sum == 0)
                    return ORV_NEVER_REACH;
                if (total)
                    *total = sum;
                return ORV_OK;
            }
            if (r != ORV_OK)
                return r;
            off += done;
            sum += done;
        }
    }
    if (total)
        *total = sum;
    return ORV_OK;
}

ResultCode orv_io_tcp_copy_to(xio *stream, xio *dest, int64_t count)
{
    if (!stream || !dest || count < 0)
        return ORV_ERR_INVALID_PARAM;
    xio_tcp *t = as_tcp(stream);
    uint8_t chunk[kCopyChunk];
    int64_t stalled_since = -1;
    const bool short_wait = t->wait.sec == 0 && t->wait.usec < 1000;

    auto fail = [&] {
        orv_trace("VRI: vrtcp: orv io tcp read stream err");
        orv_io_tcp_report_error(stream, errno);
        return ORV_FAIL;
    };
    // Nothing moved: keep trying until the stall budget runs out. Measured
    // on the monotonic clock: a wall clock stepped back or forward (NTP) is
    // no stall.
    auto stalled = [&] {
        const int64_t now = orv::clock_monotonic_ns() / 1000000;
        if (stalled_since < 0)
            stalled_since = now;
        else if (now - stalled_since > kCopyStallMs)
            return true;
        if (short_wait)
            orv_sleep_ms(1);
        return false;
    };

    while (count != 0) {
        const uint32_t want = count < kCopyChunk ? static_cast<uint32_t>(count) : kCopyChunk;
        int32_t got = 0;
        const ResultCode r = stream->vt.read(stream, chunk, want, &got);
        if (ORV_FAILED(r) || r == ORV_EOF || (r != ORV_OK && t->broken))
            return fail();
        if (r != ORV_OK || got <= 0) {
            if (stalled())
                return fail();
            continue;
        }
        stalled_since = -1;
        int32_t off = 0;
        while (off < got) {
            int32_t put = 0;
            const ResultCode w = dest->vt.write(dest, chunk + off, got - off, &put);
            if (ORV_FAILED(w) || w == ORV_EOF)
                return fail();
            if (w != ORV_OK || put <= 0) {
                if (stalled())
                    return fail();
                continue;
            }
            stalled_since = -1;
            off += put;
        }
        count -= got;
    }
    return ORV_OK;
}

uint16_t orv_io_tcp_local_port(xio *stream)
{
    const sockaddr_in *a = endpoint(stream, false);
    return a ? ntohs(a->sin_port) : 0;
}

uint16_t orv_io_tcp_peer_port(xio *stream)
{
    const sockaddr_in *a = endpoint(stream, true);
    return a ? ntohs(a->sin_port) : 0;
}

uint32_t orv_io_tcp_local_ip(xio *stream)
{
    const sockaddr_in *a = endpoint(stream, false);
    return a ? a->sin_addr.s_addr : 0;
}

uint32_t orv_io_tcp_peer_ip(xio *stream)
{
    const sockaddr_in *a = endpoint(stream, true);
    return a ? a->sin_addr.s_addr : 0;
}

const char *orv_io_tcp_local_ip_text(xio *stream)
{
    xio_tcp *t = as_tcp(stream);
    if (!endpoint(stream, false))
        return nullptr;
    dotted(t->local_addr, t->local_ip);
    return t->local_ip;
}

const char *orv_io_tcp_peer_ip_text(xio *stream)
{
    xio_tcp *t = as_tcp(stream);
    if (!endpoint(stream, true))
        return nullptr;
    dotted(t->peer_addr, t->peer_ip);
    return t->peer_ip;
}

} // extern "C"

/* The TCP stream: an xio over one IPv4 TCP socket, either a client that
 * connects to the description's "remote" or a listener bound to its
 * "channel" whose read hands out accepted connections as new streams.
 *
 * Addresses are dotted IPv4 texts with a port of 0-65535; open refuses any
 * other "remote" with ORV_ERR_SOCK_REMOTE and any other "channel" with
 * ORV_ERR_SOCK_LOCAL (a listener without a "channel" takes a system port on
 * every interface; one with a "channel" never binds wider than it says).
 * read and write wait at most the wait time in all (apart from a blocking
 * connect): write sends what the peer takes within it and returns that count,
 * ORV_WOUNLD_BLOCK when nothing went; with no limit it sends everything.
 * A transient accept failure (no descriptor left, a connection aborted before
 * it was taken) answers ORV_WOUNLD_BLOCK and leaves the listener working. */
#ifndef ORV_IO_TCP_H
#define ORV_IO_TCP_H

#include <netinet/in.h>

#include "orv_io.h"
#include "orv_tcp_desc.h"

ORV_EXTERN_C_BEGIN

/* Mode bits of open. */
#define XIO_TCP_LISTEN      0x01u /* listen instead of connect; read accepts */
#define XIO_TCP_NONBLOCK    0x04u /* non-blocking socket, wait time {0, 0} */
#define XIO_TCP_KEEPALIVE   0x08u /* SO_KEEPALIVE */
#define XIO_TCP_REUSEADDR   0x10u /* SO_REUSEADDR */
#define XIO_TCP_NODELAY     0x20u /* TCP_NODELAY */
#define XIO_TCP_EXTERNAL_FD 0x40u /* adopted descriptor: never closed by the stream */

/* Control codes. For set, param points at a word carrying the value: codes 1
 * and 2 read a pointer-sized word (the address of the pair or of the sink),
 * code 9 a 32-bit descriptor (XioParam.value works). */
#define XIO_TCP_SET_WAIT   1u  /* set: address of an XioTcpWait */
#define XIO_TCP_SET_NOTIFY 2u  /* set: address of an XioTcpNotify, or null */
#define XIO_TCP_GET_LOCAL  3u  /* get: "ip:port" into buffer, capacity buffer2 */
#define XIO_TCP_GET_PEER   4u  /* get: the same for the peer */
#define XIO_TCP_GET_SOCKET 6u  /* get: value = descriptor */
#define XIO_TCP_MODE       9u  /* get: flag = mode word; set: adopt a descriptor */
#define XIO_TCP_GET_DESC   10u /* get: buffer = the TcpDesc (value too where pointers are 32-bit) */

/* Kinds passed to the notification sink. */
#define XIO_TCP_NOTIFY_ERRNO   11 /* value: the errno number */
#define XIO_TCP_NOTIFY_ERRNAME 13 /* value: address of the errno name text */

/* Wait time of every readiness wait; sec = -1 waits without limit. */
typedef struct XioTcpWait {
    int32_t sec;
    int32_t usec;
} XioTcpWait;

/* The caller's sink record; only its first word is the stream's business. */
typedef struct XioTcpNotify XioTcpNotify;
typedef void (*XioTcpNotifyFn)(XioTcpNotify *sink, int32_t kind, intptr_t value, intptr_t reserved);
struct XioTcpNotify {
    XioTcpNotifyFn call;
};

/* Invariants: fd is -1 or a socket the stream owns (unless mode has
 * XIO_TCP_EXTERNAL_FD); once broken is set, open, read and write answer
 * ORV_WOUNLD_BLOCK, except after a failed connect: then failed holds
 * ORV_ERR_NET_CONNECT and they answer that. desc is owned; notify is
 * borrowed. accept_err is the last transient accept error logged (0 after a
 * connection was accepted), so a listener short of descriptors logs once. */
typedef struct xio_tcp {
    xio io;
    int32_t fd;
    int32_t listening;
    int32_t accepted;
    int32_t nonblock;
    uint32_t mode;
    XioTcpWait wait;
    struct sockaddr_in local_addr;
    char local_ip[128];
    struct sockaddr_in peer_addr;
    char peer_ip[128];
    XioTcpNotify *notify;
    TcpDesc *desc;
    int32_t broken;
    ResultCode failed;
    int32_t accept_err;
} xio_tcp;

/* One element of a gathered write. */
typedef struct XioTcpVec {
    const void *data;
    int32_t length;
} XioTcpVec;

/* A new stream (fd -1, wait {0, 25 us}) or null. */
ORV_API xio *orv_io_tcp_create(void);

/* Marks the stream broken and reports err to the sink (kinds 11, 13) or, without
 * one, its name to the log sink; then logs the information line. */
ORV_API void orv_io_tcp_report_error(xio *stream, int err);
/* The name of an errno value in the stream's table, or "unknown error". */
ORV_API const char *orv_io_tcp_errno_name(int err);

/* The elements in order; a short send goes on with the rest of the same
 * element, so what was sent is always a prefix of their concatenation. When
 * the stream blocks, *total is the bytes sent, or 11 (ORV_NEVER_REACH) is
 * returned with *total untouched when nothing went. */
ORV_API ResultCode orv_io_tcp_write_vector(xio *stream, const XioTcpVec *elements, int32_t count,
                                           int32_t *total);
ORV_API ResultCode orv_io_tcp_copy_to(xio *stream, xio *dest, int64_t count);

/* Each refreshes the socket's name first; ports in host order, addresses in
 * network order; the texts are the stream's own local_ip / peer_ip. */
ORV_API uint16_t orv_io_tcp_local_port(xio *stream);
ORV_API uint16_t orv_io_tcp_peer_port(xio *stream);
ORV_API uint32_t orv_io_tcp_local_ip(xio *stream);
ORV_API uint32_t orv_io_tcp_peer_ip(xio *stream);
ORV_API const char *orv_io_tcp_local_ip_text(xio *stream);
ORV_API const char *orv_io_tcp_peer_ip_text(xio *stream);

ORV_EXTERN_C_END

#endif

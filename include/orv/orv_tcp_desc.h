/* Connection descriptions (a small XINI text naming the remote and local
 * addresses, timeouts and switches), host:port address texts, URL query
 * texts, locked host lookup and the radix-64 form of IPv4 addresses. */
#ifndef ORV_TCP_DESC_H
#define ORV_TCP_DESC_H

#include <netdb.h>

#include "orv_error.h"

ORV_EXTERN_C_BEGIN

/* A memory stream holding the text and the XINI tree opened on it; owns both. */
typedef struct TcpDesc TcpDesc;

/* text null: an empty tree (default root only). writable 0: read-only, so a
 * missing key reads as -2 and nothing can be added. Null on failure. */
ORV_API TcpDesc *orv_tcp_desc_create(const char *text, int32_t writable);
ORV_API void orv_tcp_desc_release(TcpDesc *desc);
/* buffer null: writes the text (with its terminator) and stores its size in
 * *size. With a buffer: copies up to *size bytes of that text. */
ORV_API ResultCode orv_tcp_desc_text(TcpDesc *desc, char *buffer, int32_t *size);

ORV_API ResultCode orv_tcp_desc_set_remote(TcpDesc *desc, const char *host, int32_t port);
ORV_API ResultCode orv_tcp_desc_set_channel(TcpDesc *desc, const char *host, int32_t port);
ORV_API ResultCode orv_tcp_desc_set_remote2(TcpDesc *desc, const char *host, int32_t port, int32_t port2);
ORV_API ResultCode orv_tcp_desc_set_channel2(TcpDesc *desc, const char *host, int32_t port, int32_t port2);
ORV_API ResultCode orv_tcp_desc_get_remote(TcpDesc *desc, char *host, int32_t host_size, int32_t *port);
ORV_API ResultCode orv_tcp_desc_get_channel(TcpDesc *desc, char *host, int32_t host_size, int32_t *port);
ORV_API ResultCode orv_tcp_desc_get_remote2(TcpDesc *desc, char *host, int32_t host_size, int32_t *port,
                                            int32_t *port2);
ORV_API ResultCode orv_tcp_desc_get_channel2(TcpDesc *desc, char *host, int32_t host_size, int32_t *port,
                                             int32_t *port2);

ORV_API ResultCode orv_tcp_desc_set_connect_timeout(TcpDesc *desc, int64_t value);
ORV_API ResultCode orv_tcp_desc_get_connect_timeout(TcpDesc *desc, int64_t *value);
ORV_API ResultCode orv_tcp_desc_set_wait_timeout(TcpDesc *desc, int64_t value);
ORV_API ResultCode orv_tcp_desc_get_wait_timeout(TcpDesc *desc, int64_t *value);
ORV_API ResultCode orv_tcp_desc_set_read_timeout(TcpDesc *desc, int64_t value);
ORV_API ResultCode orv_tcp_desc_get_read_timeout(TcpDesc *desc, int64_t *value);
ORV_API ResultCode orv_tcp_desc_set_write_timeout(TcpDesc *desc, int64_t value);
ORV_API ResultCode orv_tcp_desc_get_write_timeout(TcpDesc *desc, int64_t *value);
ORV_API ResultCode orv_tcp_desc_set_socket_opt(TcpDesc *desc, int32_t value);
ORV_API ResultCode orv_tcp_desc_get_socket_opt(TcpDesc *desc, int32_t *value);
ORV_API ResultCode orv_tcp_desc_set_read_stat(TcpDesc *desc);
ORV_API ResultCode orv_tcp_desc_get_read_stat(TcpDesc *desc, int32_t *value);
ORV_API ResultCode orv_tcp_desc_set_write_stat(TcpDesc *desc);
ORV_API ResultCode orv_tcp_desc_get_write_stat(TcpDesc *desc, int32_t *value);
ORV_API ResultCode orv_tcp_desc_set_socket_none_block(TcpDesc *desc);
ORV_API ResultCode orv_tcp_desc_get_socket_none_block(TcpDesc *desc, int32_t *value);

/* The text of a description with "channel" then "remote" (either may be
 * null). output must hold orv_tcp_desc_compose_size bytes for the same texts;
 * a text that would not fit there fails with ORV_FAIL and writes nothing. */
ORV_API ResultCode orv_tcp_desc_compose(const char *channel, const char *remote, char *output);
ORV_API int32_t orv_tcp_desc_compose_size(const char *channel, const char *remote);
/* Tracked copies of "channel" and "remote"; a missing key leaves its output alone. */
ORV_API ResultCode orv_tcp_desc_parse(const char *text, char **channel, char **remote);

/* host:port texts. A text without ":" is all host with port 0; so is one that
 * ends with the ":". The two-port form given one port sets port2 to 0. */
ORV_API int32_t orv_addr_text_size(const char *host);
ORV_API int32_t orv_addr_format(const char *host, int32_t port, char *buffer, int32_t size);
ORV_API int32_t orv_addr_format2(const char *host, int32_t port, int32_t port2, char *buffer, int32_t size);
ORV_API ResultCode orv_addr_parse(const char *text, char *host, int32_t host_size, int32_t *port);
ORV_API ResultCode orv_addr_parse2(const char *text, char *host, int32_t host_size, int32_t *port,
                                   int32_t *port2);

/* Neither takes a lock. The lookup's IPv4 addresses (up to 16) are in a
 * record of the calling thread, which its next lookup overwrites; the copy in
 * *out points into it too. Null when the name is not found. orv_inet_ntoa
 * returns the caller's buffer (or null). */
ORV_API struct hostent *orv_gethostbyname(const char *name, struct hostent *out);
ORV_API char *orv_inet_ntoa(uint32_t address, char *buffer, int32_t size);

/* URL with its query, user agent and header carried as a compact XINI text
 * after the "?". Results are tracked blocks owned by the caller. */
ORV_API char *orv_url_compose(const char *url, const char *user_agent, const char *header);
ORV_API ResultCode orv_url_parse(const char *url, char **base, char **user_agent, char **header);

/* Four address bytes in radix-64 text ("4*" and six characters, 9 bytes with
 * the terminator); and back into a dotted text (32-byte output). */
#define ORV_IP_RADIX64_SIZE 9
ORV_API ResultCode orv_ip_to_radix64(const char *dotted, char *output);
ORV_API ResultCode orv_radix64_to_ip(const char *text, char *output);

ORV_EXTERN_C_END

#endif

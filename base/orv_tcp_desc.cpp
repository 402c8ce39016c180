// Connection descriptions and address texts of the TCP layer. A TcpDesc owns
// a memory stream and the XINI tree opened on it; the composers and parsers
// build short-lived ones of their own. Nothing here takes a lock: host lookup
// and inet_ntoa use the platform's reentrant calls, the lookup's record is
// per thread.
#include "orv/orv_tcp_desc.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <netinet/in.h>

#include "orv/orv_ini.h"
#include "orv/orv_io_stream.h"
#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv/orv_text.h"

struct TcpDesc {
    xio *stream;
    XiniTree *tree;
};

namespace {

constexpr int kAddrText = 128;
constexpr int kPortField = 5;
constexpr int32_t kPortLimit = 65536;

// ------------------------------------------------------------ host lookup

constexpr int kHostAddrs = 16;

// What orv_gethostbyname hands out: the calling thread's own, kept until its
// next lookup, so no lock guards it.
struct HostRecord {
    hostent entry;
    char name[1025];
    char *aliases[1];
    in_addr addrs[kHostAddrs];
    char *list[kHostAddrs + 1];
};

thread_local HostRecord t_host;

// ------------------------------------------------------------ address texts

// Copies the host part (up to ":" or the end). Returns the position of the
// ":" or of the terminator, or null when the host does not fit.
const char *copy_host(const char *text, char *host, int32_t host_size)
{
    int32_t n = 0;
    const char *p = text;
    for (; *p && *p != ':'; ++p) {
        host[n++] = *p;
        if (n >= host_size - 1) {
            host[n] = '\0';
            return nullptr;
        }
    }
    host[n] = '\0';
    return p;
}

// A port field of at most five characters ending at one of the stop
// characters (or the end); its value is the leading digits. Returns the end
// of the field, or null when it is too long.
const char *port_field(const char *p, const char *stops, int32_t *value)
{
    const char *start = p;
    while (*p && !strchr(stops, *p))
        ++p;
    if (p - start > kPortField)
        return nullptr;
    int32_t v = 0;
    for (const char *d = start; d < p && *d >= '0' && *d <= '9'; ++d)
        v = v * 10 + (*d - '0');
    *value = v;
    return p;
}

bool addr_args_ok(const char *text, char *host, int32_t host_size)
{
    if (text && host && host_size > 0)
        return true;
    orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: vrtcp: address parse without text or host buffer");
    return false;
}

// -------------------------------------------------------------- description

ResultCode key(TcpDesc *desc, const char *name, XiniNode **out)
{
    if (!desc || !desc->tree)
        return ORV_ERR_INVALID_PARAM;
    return desc->tree->vt.create_key(desc->tree, nullptr, name, nullptr, out);
}

ResultCode set_text(TcpDesc *desc, const char *name, const char *text)
{
    XiniNode *k = nullptr;
    const ResultCode r = key(desc, name, &k);
    return r ? r : desc->tree->vt.set_string(desc->tree, k, text);
}

ResultCode get_text(TcpDesc *desc, const char *name, const char **text)
{
    XiniNode *k = nullptr;
    const ResultCode r = key(desc, name, &k);
    return r ? r : desc->tree->vt.get_string(desc->tree, k, text);
}

ResultCode set_address(TcpDesc *desc, const char *name, const char *host, int32_t port, const int32_t *port2)
{
    if (!host)
        return ORV_ERR_INVALID_PARAM;
    char text[kAddrText];
    const int n = port2 ? snprintf(text, sizeof text, "%s:%d:%d", host, port, *port2)
                        : snprintf(text, sizeof text, "%s:%d", host, port);
    if (n < 0 || n >= kAddrText) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: vrtcp: address text for %s too long", name);
        return ORV_ERR_INVALID_PARAM;
    }
    return set_text(desc, name, text);
}

ResultCode get_address(TcpDesc *desc, const char *name, char *host, int32_t host_size, int32_t *port,
                       int32_t *port2)
{
    const char *text = nullptr;
    const ResultCode r = get_text(desc, name, &text);
    if (r)
        return r;
    return port2 ? orv_addr_parse2(text, host, host_size, port, port2)
                 : orv_addr_parse(text, host, host_size, port);
}

ResultCode set_int64(TcpDesc *desc, const char *name, int64_t value)
{
    XiniNode *k = nullptr;
    const ResultCode r = key(desc, name, &k);
    return r ? r : desc->tree->vt.set_int64(desc->tree, k, value);
}

ResultCode get_int64(TcpDesc *desc, const char *name, int64_t *value)
{
    XiniNode *k = nullptr;
    const ResultCode r = key(desc, name, &k);
    if (!value)
        return r ? r : ORV_ERR_INVALID_PARAM;
    return r ? r : desc->tree->vt.get_int64(desc->tree, k, value);
}

ResultCode set_int(TcpDesc *desc, const char *name, int32_t value)
{
    XiniNode *k = nullptr;
    const ResultCode r = key(desc, name, &k);
    return r ? r : desc->tree->vt.set_int(desc->tree, k, value);
}

ResultCode get_int(TcpDesc *desc, const char *name, int32_t *value)
{
    XiniNode *k = nullptr;
    const ResultCode r = key(desc, name, &k);
    if (!value)
        return r ? r : ORV_ERR_INVALID_PARAM;
    return r ? r : desc->tree->vt.get_int(desc->tree, k, value);
}

// A memory stream holding text and its terminator, positioned at its start.
xio *stream_with(const char *text, size_t length)
{
    xio *s = ORV_IO_STREAM_CREATE();
    if (!s)
        return nullptr;
    int32_t done = 0;
    if (s->vt.write(s, text, static_cast<int32_t>(length), &done) != ORV_OK) {
        s->vt.release(s);
        return nullptr;
    }
    s->vt.seek(s, 0, XIO_SEEK_SET);
    return s;
}

// A memory stream and a tree opened on it, released together.
class Scratch {
public:
    Scratch() = default;
    ~Scratch()
    {
        if (tree)
            orv_ini_close(tree);
        if (stream)
            stream->vt.release(stream);
    }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;

    // text null: an empty stream. Returns the open's result.
    ResultCode open(const char *text, size_t length, uint32_t flags)
    {
        stream = text ? stream_with(text, length) : ORV_IO_STREAM_CREATE();
        if (!stream)
            return ORV_FAIL;
        return orv_ini_open(nullptr, stream, flags, nullptr, &tree);
    }

    xio *stream = nullptr;
    XiniTree *tree = nullptr;
};

// The radix-64 block of key name as a tracked, terminated block of prefix
// followed by the block's bytes. -2 when the key is missing.
// The byte count stored in the key is the sender's word; radix-64 needs more
// than one character per byte, so a count beyond the text's own length is a
// lie, refused before anything that large is allocated.
ResultCode read_block(XiniTree *tree, const char *name, const char *prefix, size_t prefix_len,
                      size_t text_len, char **out)
{
    XiniNode *k = nullptr;
    ResultCode r = tree->vt.create_key(tree, nullptr, name, nullptr, &k);
    if (r)
        return r;
    int32_t count = 0;
    r = tree->vt.get_binary_r64(tree, k, &count, nullptr);
    if (r)
        return r;
    if (count < 0 || static_cast<size_t>(count) > text_len) {
        orv_log(3, ORV_ERR_URL_DESERIAL, "VRE: vrtcp: url key %s claims %d bytes in a %zu-byte text", name,
                static_cast<int>(count), text_len);
        return ORV_ERR_URL_DESERIAL;
    }
    if (static_cast<uint64_t>(count) + prefix_len + 1 > orv_mem_max_size)
        return ORV_FAIL;
    auto *block = static_cast<char *>(ORV_CALLOC(prefix_len + static_cast<size_t>(count) + 1));
    if (!block)
        return ORV_FAIL;
    memcpy(block, prefix, prefix_len);
    if (count > 0 && (r = tree->vt.get_binary_r64(tree, k, &count, block + prefix_len)) != ORV_OK) {
        orv_mem_free(block);
        return r;
    }
    *out = block;
    return ORV_OK;
}

ResultCode write_block(XiniTree *tree, const char *name, const char *text)
{
    XiniNode *k = nullptr;
    const ResultCode r = tree->vt.create_key(tree, nullptr, name, nullptr, &k);
    if (r)
        return r;
    const size_t n = strlen(text) + 1;
    return tree->vt.set_binary_r64(tree, k, static_cast<int32_t>(n), text);
}

} // namespace

extern "C" {

// ------------------------------------------------------------ address texts

int32_t orv_addr_text_size(const char *host)
{
    return host ? static_cast<int32_t>(strlen(host)) + 8 : 8;
}

int32_t orv_addr_format(const char *host, int32_t port, char *buffer, int32_t size)
{
    if (!host || !buffer || size <= 0)
        return -1;
    const int n = snprintf(buffer, static_cast<size_t>(size), "%s:%d", host, port);
    return n < size ? n : -1;
}

int32_t orv_addr_format2(const char *host, int32_t port, int32_t port2, char *buffer, int32_t size)
{
    if (!host || !buffer || size <= 0)
        return -1;
    const int n = snprintf(buffer, static_cast<size_t>(size), "%s:%d:%d", host, port, port2);
    return n < size ? n : -1;
}

ResultCode orv_addr_parse(const char *text, char *host, int32_t host_size, int32_t *port)
{
    if (!addr_args_ok(text, host, host_size) || !port)
        return ORV_ERR_INVALID_PARAM;
    if (host_size == 1)
        return ORV_FAIL;
    const char *p = copy_host(text, host, host_size);
    if (!p)
        return ORV_FAIL;
    if (*p == '\0' || p[1] == '\0') {
        *port = 0;
        return ORV_OK;
    }
    return port_field(p + 1, "/", port) ? ORV_OK : ORV_FAIL;
}

ResultCode orv_addr_parse2(const char *text, char *host, int32_t host_size, int32_t *port, int32_t *port2)
{
    if (!addr_args_ok(text, host, host_size) || !port || !port2)
        return ORV_ERR_INVALID_PARAM;
    if (host_size == 1)
        return ORV_FAIL;
    const char *p = copy_host(text, host, host_size);
    if (!p)
        return ORV_FAIL;
    if (*p == '\0' || p[1] == '\0') {
        *port = 0;
        return ORV_OK;
    }
    int32_t first = 0;
    p = port_field(p + 1, ":/", &first);
    if (!p || first >= kPortLimit)
        return ORV_FAIL;
    *port = first;
    if (*p != ':') {
        *port2 = 0; // one port only
        return ORV_OK;
    }
    int32_t second = 0;
    if (!port_field(p + 1, "/", &second) || second >= kPortLimit)
        return ORV_FAIL;
    *port2 = second;
    return ORV_OK;
}

struct hostent *orv_gethostbyname(const char *name, struct hostent *out)
{
    if (!name)
        return nullptr;
    // getaddrinfo is reentrant, so a slow name server holds up only this
    // caller, never the global lock that every allocation takes.
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo *found = nullptr;
    const int r = getaddrinfo(name, nullptr, &hints, &found);
    if (r != 0 || !found) {
        orv_trace("VRI: vrtcp: host %.255s not found: %s", name, gai_strerror(r));
        if (found)
            freeaddrinfo(found);
        return nullptr;
    }
    HostRecord &rec = t_host;
    rec = HostRecord{};
    snprintf(rec.name, sizeof rec.name, "%s", found->ai_canonname ? found->ai_canonname : name);
    int n = 0;
    for (const addrinfo *a = found; a && n < kHostAddrs; a = a->ai_next) {
        if (a->ai_family != AF_INET || a->ai_addrlen < sizeof(sockaddr_in))
            continue;
        rec.addrs[n] = reinterpret_cast<const sockaddr_in *>(a->ai_addr)->sin_addr;
        bool seen = false;
        for (int i = 0; i < n; ++i)
            seen = seen || rec.addrs[i].s_addr == rec.addrs[n].s_addr;
        if (!seen) {
            rec.list[n] = reinterpret_cast<char *>(&rec.addrs[n]);
            ++n;
        }
    }
    freeaddrinfo(found);
    rec.entry.h_name = rec.name;
    rec.entry.h_aliases = rec.aliases;
    rec.entry.h_addrtype = AF_INET;
    rec.entry.h_length = sizeof(in_addr);
    rec.entry.h_addr_list = rec.list;
    if (out)
        *out = rec.entry;
    return &rec.entry;
}

char *orv_inet_ntoa(uint32_t address, char *buffer, int32_t size)
{
    if (!buffer || size <= 0)
        return nullptr;
    in_addr a{};
    a.s_addr = address;
    char text[INET_ADDRSTRLEN];
    if (!inet_ntop(AF_INET, &a, text, sizeof text))
        return nullptr;
    snprintf(buffer, static_cast<size_t>(size), "%s", text);
    return buffer;
}

ResultCode orv_ip_to_radix64(const char *dotted, char *output)
{
    in_addr a{};
    if (!dotted || !output || inet_aton(dotted, &a) == 0) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: vrtcp: not an IPv4 address: %s", dotted ? dotted : "(null)");
        return ORV_ERR_INVALID_PARAM;
    }
    orv_r64_encode(4, &a.s_addr, output);
    return ORV_OK;
}

ResultCode orv_radix64_to_ip(const char *text, char *output)
{
    const char *data = nullptr;
    // Four bytes take exactly six characters; anything else is not an address.
    if (!text || !output || orv_r64_count(text, &data) != 4 || strnlen(data, 7) != 6) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: vrtcp: not a radix-64 address: %.32s",
                text ? text : "(null)");
        return ORV_ERR_INVALID_PARAM;
    }
    in_addr a{};
    if (orv_r64_decode_bounded(&a.s_addr, sizeof a.s_addr, text, nullptr) != ORV_OK)
        return ORV_ERR_INVALID_PARAM;
    if (!inet_ntop(AF_INET, &a, output, 32))
        return ORV_FAIL;
    return ORV_OK;
}

// -------------------------------------------------------------- description

TcpDesc *orv_tcp_desc_create(const char *text, int32_t writable)
{
    auto *desc = static_cast<TcpDesc *>(ORV_CALLOC(sizeof(TcpDesc)));
    if (!desc)
        return nullptr;
    uint32_t flags = XINI_CREATE | XINI_COMPACT;
    if (text) {
        desc->stream = stream_with(text, strlen(text) + 1);
        flags = (writable ? XINI_OPEN_RW : XINI_READ_ONLY) | XINI_COMPACT;
    } else {
        desc->stream = ORV_IO_STREAM_CREATE();
    }
    if (!desc->stream || orv_ini_open(nullptr, desc->stream, flags, nullptr, &desc->tree) != ORV_OK ||
        !desc->tree) {
        orv_log(3, ORV_FAIL, "VRE: vrtcp: connection description not made");
        desc->tree = nullptr;
        orv_tcp_desc_release(desc);
        return nullptr;
    }
    return desc;
}

void orv_tcp_desc_release(TcpDesc *desc)
{
    if (!desc)
        return;
    if (desc->tree)
        orv_ini_close(desc->tree);
    if (desc->stream)
        desc->stream->vt.release(desc->stream);
    orv_mem_free(desc);
}

ResultCode orv_tcp_desc_text(TcpDesc *desc, char *buffer, int32_t *size)
{
    if (!desc || !size)
        return ORV_ERR_INVALID_PARAM;
    xio *s = desc->stream;
    if (!buffer) {
        s->vt.reset(s);
        const ResultCode r = desc->tree->vt.write_tree(desc->tree, s);
        if (r)
            return r;
        *size = static_cast<int32_t>(s->vt.size(s));
        return ORV_OK;
    }
    if (*size < 0)
        return ORV_ERR_INVALID_PARAM;
    s->vt.seek(s, 0, XIO_SEEK_SET);
    int32_t done = 0;
    return s->vt.read(s, buffer, static_cast<uint32_t>(*size), &done);
}

ResultCode orv_tcp_desc_set_remote(TcpDesc *desc, const char *host, int32_t port)
{
    return set_address(desc, "remote", host, port, nullptr);
}

ResultCode orv_tcp_desc_set_channel(TcpDesc *desc, const char *host, int32_t port)
{
    return set_address(desc, "channel", host, port, nullptr);
}

ResultCode orv_tcp_desc_set_remote2(TcpDesc *desc, const char *host, int32_t port, int32_t port2)
{
    return set_address(desc, "remote", host, port, &port2);
}

ResultCode orv_tcp_desc_set_channel2(TcpDesc *desc, const char *host, int32_t port, int32_t port2)
{
    return set_address(desc, "channel", host, port, &port2);
}

ResultCode orv_tcp_desc_get_remote(TcpDesc *desc, char *host, int32_t host_size, int32_t *port)
{
    return get_address(desc, "remote", host, host_size, port, nullptr);
}

ResultCode orv_tcp_desc_get_channel(TcpDesc *desc, char *host, int32_t host_size, int32_t *port)
{
    return get_address(desc, "channel", host, host_size, port, nullptr);
}

ResultCode orv_tcp_desc_get_remote2(TcpDesc *desc, char *host, int32_t host_size, int32_t *port,
                                    int32_t *port2)
{
    if (!port2)
        return ORV_ERR_INVALID_PARAM;
    return get_address(desc, "remote", host, host_size, port, port2);
}

ResultCode orv_tcp_desc_get_channel2(TcpDesc *desc, char *host, int32_t host_size, int32_t *port,
                                     int32_t *port2)
{
    if (!port2)
        return ORV_ERR_INVALID_PARAM;
    return get_address(desc, "channel", host, host_size, port, port2);
}

ResultCode orv_tcp_desc_set_connect_timeout(TcpDesc *d, int64_t v)
{
    return set_int64(d, "connect timeout", v);
}
ResultCode orv_tcp_desc_get_connect_timeout(TcpDesc *d, int64_t *v)
{
    return get_int64(d, "connect timeout", v);
}
ResultCode orv_tcp_desc_set_wait_timeout(TcpDesc *d, int64_t v)
{
    return set_int64(d, "wait timeout", v);
}
ResultCode orv_tcp_desc_get_wait_timeout(TcpDesc *d, int64_t *v)
{
    return get_int64(d, "wait timeout", v);
}
ResultCode orv_tcp_desc_set_read_timeout(TcpDesc *d, int64_t v)
{
    return set_int64(d, "read timeout", v);
}
ResultCode orv_tcp_desc_get_read_timeout(TcpDesc *d, int64_t *v)
{
    return get_int64(d, "read timeout", v);
}
ResultCode orv_tcp_desc_set_write_timeout(TcpDesc *d, int64_t v)
{
    return set_int64(d, "write timeout", v);
}
ResultCode orv_tcp_desc_get_write_timeout(TcpDesc *d, int64_t *v)
{
    return get_int64(d, "write timeout", v);
}
ResultCode orv_tcp_desc_set_socket_opt(TcpDesc *d, int32_t v)
{
    return set_int(d, "socket opt", v);
}
ResultCode orv_tcp_desc_get_socket_opt(TcpDesc *d, int32_t *v)
{
    return get_int(d, "socket opt", v);
}
ResultCode orv_tcp_desc_set_read_stat(TcpDesc *d)
{
    return set_int(d, "read stat", 1);
}
ResultCode orv_tcp_desc_get_read_stat(TcpDesc *d, int32_t *v)
{
    return get_int(d, "read stat", v);
}
ResultCode orv_tcp_desc_set_write_stat(TcpDesc *d)
{
    return set_int(d, "write stat", 1);
}
ResultCode orv_tcp_desc_get_write_stat(TcpDesc *d, int32_t *v)
{
    return get_int(d, "write stat", v);
}
ResultCode orv_tcp_desc_set_socket_none_block(TcpDesc *d)
{
    return set_int(d, "socket none block", 1);
}
ResultCode orv_tcp_desc_get_socket_none_block(TcpDesc *d, int32_t *v)
{
    return get_int(d, "socket none block", v);
}

int32_t orv_tcp_desc_compose_size(const char *channel, const char *remote)
{
    const size_t size = (channel ? strlen(channel) + 2048 : 1024) + (remote ? strlen(remote) + 1024 : 0);
    return size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(size);
}

ResultCode orv_tcp_desc_compose(const char *channel, const char *remote, char *output)
{
    if (!output)
        return ORV_ERR_INVALID_PARAM;
    Scratch s;
    if (const ResultCode r = s.open(nullptr, 0, XINI_OPEN_RW | XINI_COMPACT); r != ORV_OK)
        return s.stream ? r : ORV_FAIL;
    XiniNode *k = nullptr;
    if ((channel && s.tree->vt.create_key(s.tree, nullptr, "channel", channel, &k) != ORV_OK) ||
        (remote && s.tree->vt.create_key(s.tree, nullptr, "remote", remote, &k) != ORV_OK))
        return ORV_FAIL;
    // Closing writes the text and a zero byte; a text not written whole is no description.
    const ResultCode saved = orv_ini_close(s.tree);
    s.tree = nullptr;
    if (saved != ORV_OK)
        return saved;

    // The caller sized output by compose_size: never write beyond it.
    const int64_t size = s.stream->vt.size(s.stream);
    if (size < 0 || size + 1 > orv_tcp_desc_compose_size(channel, remote)) {
        orv_log(3, ORV_FAIL, "VRE: vrtcp: description text of %lld bytes exceeds its room",
                static_cast<long long>(size));
        return ORV_FAIL;
    }
    s.stream->vt.seek(s.stream, 0, XIO_SEEK_SET);
    int32_t done = 0;
    if (size > 0 && s.stream->vt.read(s.stream, output, static_cast<uint32_t>(size), &done) != ORV_OK)
        return ORV_FAIL;
    output[size] = '\0';
    return ORV_OK;
}

ResultCode orv_tcp_desc_parse(const char *text, char **channel, char **remote)
{
    if (!text)
        return ORV_ERR_INVALID_PARAM;
    Scratch s;
    if (const ResultCode r = s.open(text, strlen(text) + 1, XINI_READ_ONLY); r != ORV_OK)
        return s.stream ? r : ORV_FAIL;
    const char *names[2] = {"channel", "remote"};
    char **outs[2] = {channel, remote};
    for (int i = 0; i < 2; ++i) {
        XiniNode *k = nullptr;
        const ResultCode r = s.tree->vt.create_key(s.tree, nullptr, names[i], nullptr, &k);
        if (r == XINI_ERR_NOT_FOUND)
            continue;
        const char *value = nullptr;
        if (r != ORV_OK || s.tree->vt.get_string(s.tree, k, &value) != ORV_OK || !value)
            return ORV_FAIL;
        if (!outs[i])
            continue;
        char *copy = ORV_STRDUP(value);
        if (!copy)
            return ORV_FAIL;
        *outs[i] = copy;
    }
    return ORV_OK;
}

char *orv_url_compose(const char *url, const char *user_agent, const char *header)
{
    if (!url)
        return nullptr;
    Scratch s;
    if (s.open(nullptr, 0, XINI_CREATE | XINI_COMPACT) != ORV_OK)
        return nullptr;
    const char *query = strchr(url, '?');
    if (!query && !user_agent && !header)
        return ORV_STRDUP(url);
    if ((query && write_block(s.tree, "opt", query + 1) != ORV_OK) ||
        (user_agent && write_block(s.tree, "ua", user_agent) != ORV_OK) ||
        (header && write_block(s.tree, "header", header) != ORV_OK))
        return nullptr;
    if (s.tree->vt.write_tree(s.tree, s.stream) != ORV_OK)
        return nullptr;
    XioParam view{};
    if (s.stream->vt.get(s.stream, XIO_MEM_GET_VIEW, &view) != ORV_OK)
        return nullptr;
    const auto n = static_cast<size_t>(view.length);
    const size_t prefix = query ? static_cast<size_t>(query - url) + 1 : strlen(url);
    const size_t total = prefix + (query ? 0 : 1) + n + 1;
    if (total > orv_mem_max_size)
        return nullptr;
    auto *out = static_cast<char *>(ORV_CALLOC(total));
    if (!out)
        return nullptr;
    memcpy(out, url, prefix);
    size_t at = prefix;
    if (!query)
        out[at++] = '?';
    memcpy(out + at, reinterpret_cast<const void *>(view.buffer), n);
    return out;
}

ResultCode orv_url_parse(const char *url, char **base, char **user_agent, char **header)
{
    if (base)
        *base = nullptr;
    if (user_agent)
        *user_agent = nullptr;
    if (header)
        *header = nullptr;
    if (!url)
        return ORV_ERR_INVALID_PARAM;
    const char *query = strchr(url, '?');
    if (!query)
        return ORV_EOF;
    Scratch s;
    if (const ResultCode r = s.open(query + 1, strlen(query + 1) + 1, XINI_READ_ONLY | XINI_COMPACT);
        r != ORV_OK)
        return s.stream ? r : ORV_FAIL;

    const size_t prefix = static_cast<size_t>(query - url) + 1;
    char *block = nullptr;
    const size_t text_len = strlen(query + 1);
    ResultCode r = read_block(s.tree, "opt", url, prefix, text_len, &block);
    if (r == XINI_ERR_NOT_FOUND) {
        block = ORV_STRNDUP(url, prefix);
        r = block ? ORV_OK : ORV_FAIL;
    }
    if (r != ORV_OK)
        return r;
    if (base)
        *base = block;
    else
        orv_mem_free(block);

    const char *names[2] = {"ua", "header"};
    char **outs[2] = {user_agent, header};
    for (int i = 0; i < 2; ++i) {
        block = nullptr;
        r = read_block(s.tree, names[i], "", 0, text_len, &block);
        if (r == XINI_ERR_NOT_FOUND)
            continue;
        if (r != ORV_OK) {
            // A failed parse hands nothing out.
            for (char **given : {base, user_agent, header})
                orv_free_ptr(given);
            return r;
        }
        if (outs[i])
            *outs[i] = block;
        else
            orv_mem_free(block);
    }
    return ORV_OK;
}

} // extern "C"

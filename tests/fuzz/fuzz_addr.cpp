// host:port address texts: both parsers on arbitrary text with a host buffer
// of exactly the size they are told (from the first input byte), checked
// against a plain model of the host and port fields; a parsed host and port
// formatted again parse back to the same values.
#include <memory>

#include "fuzz_util.h"
#include "orv/orv_tcp_desc.h"

namespace {

// Leading decimal digits of a field of at most 5 characters ending at one of
// the stop characters or the end; -1 when longer.
int32_t model_port(const char *p, const char *stops, const char **end)
{
    const char *e = p;
    while (*e && !std::strchr(stops, *e))
        ++e;
    *end = e;
    if (e - p > 5)
        return -1;
    int32_t v = 0;
    for (const char *d = p; d < e && *d >= '0' && *d <= '9'; ++d)
        v = v * 10 + (*d - '0');
    return v;
}

void check_host(const char *host, const std::string &text, int32_t host_size)
{
    const std::string want = text.substr(0, text.find(':'));
    if (static_cast<int32_t>(want.size()) > host_size - 2)
        fuzz_fail("host of %zu characters accepted with room %d", want.size(), host_size);
    if (want != host)
        fuzz_fail("host \"%s\" from \"%s\"", host, text.c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int32_t host_size = data[0] % 48;
    const std::string text = fuzz_text(data + 1, size - 1);
    std::unique_ptr<char[]> host(new char[host_size ? host_size : 1]);
    int32_t port = -7, port2 = -7;

    const ResultCode one = orv_addr_parse(text.c_str(), host_size ? host.get() : nullptr, host_size, &port);
    const size_t colon = text.find(':');
    const bool host_fits =
        host_size >= 2 && static_cast<int32_t>(text.substr(0, colon).size()) <= host_size - 2;
    if (one == ORV_OK) {
        check_host(host.get(), text, host_size);
        const char *end = nullptr;
        const int32_t want = colon == std::string::npos || colon + 1 == text.size()
                                 ? 0
                                 : model_port(text.c_str() + colon + 1, "/", &end);
        if (want < 0 || port != want)
            fuzz_fail("port %d from \"%s\", model %d", port, text.c_str(), want);
        // The values formatted again read back the same.
        if (text.find(':') != std::string::npos || port == 0) {
            char again[128];
            if (orv_addr_format(host.get(), port, again, sizeof again) > 0) {
                std::unique_ptr<char[]> host2(new char[host_size]);
                int32_t port_again = -1;
                if (orv_addr_parse(again, host2.get(), host_size, &port_again) != ORV_OK ||
                    std::strcmp(host2.get(), host.get()) != 0 || port_again != port)
                    fuzz_fail("\"%s\" does not read back as %s and %d", again, host.get(), port);
            }
        }
    } else if (host_fits && colon != std::string::npos && colon + 1 < text.size()) {
        const char *end = nullptr;
        if (model_port(text.c_str() + colon + 1, "/", &end) >= 0)
            fuzz_fail("\"%s\" refused (%#x) with room %d", text.c_str(), unsigned(one), host_size);
    } else if (host_fits) {
        fuzz_fail("\"%s\" without a port refused with room %d", text.c_str(), host_size);
    }

    port = port2 = -7;
    const ResultCode two =
        orv_addr_parse2(text.c_str(), host_size ? host.get() : nullptr, host_size, &port, &port2);
    if (two == ORV_OK) {
        check_host(host.get(), text, host_size);
        // Without a port field the second port is left as it was.
        if (port < 0 || port > 65535 || (port2 != -7 && (port2 < 0 || port2 > 65535)))
            fuzz_fail("ports %d %d from \"%s\"", port, port2, text.c_str());
    }
    return 0;
}

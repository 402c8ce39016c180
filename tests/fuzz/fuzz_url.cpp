// URL query texts: arbitrary URLs parsed (every output freed whatever the
// result), and the input split at zero bytes into a URL, a user agent and a
// header that are composed and parsed back to the same texts.
#include "fuzz_util.h"
#include "orv/orv_mem.h"
#include "orv/orv_tcp_desc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const size_t live = orv_mem_live_count();
    std::string parts[3];
    bool present[3] = {false, false, false};
    size_t at = 0;
    for (int i = 0; i < 3 && at <= size; ++i) {
        parts[i] = fuzz_text(data + at, size - at);
        present[i] = at < size || i == 0;
        at += parts[i].size() + 1;
    }
    const std::string &url = parts[0];

    char *base = nullptr, *ua = nullptr, *header = nullptr;
    const ResultCode r = orv_url_parse(url.c_str(), &base, &ua, &header);
    if (r == ORV_OK && !base)
        fuzz_fail("url parse succeeds without a base");
    if (base && std::strncmp(base, url.c_str(), url.find('?') + 1) != 0)
        fuzz_fail("url base %s does not begin with the URL's prefix", base);
    orv_free(base);
    orv_free(ua);
    orv_free(header);

    const char *in_ua = present[1] ? parts[1].c_str() : nullptr;
    const char *in_header = present[2] ? parts[2].c_str() : nullptr;
    char *composed = orv_url_compose(url.c_str(), in_ua, in_header);
    if (!composed)
        fuzz_fail("url compose fails");
    const ResultCode back = orv_url_parse(composed, &base, &ua, &header);
    const size_t query = url.find('?');
    if (query == std::string::npos && !in_ua && !in_header) {
        if (back != ORV_EOF || std::strcmp(composed, url.c_str()) != 0)
            fuzz_fail("plain url composes to %s", composed);
    } else {
        const std::string want_base = query == std::string::npos ? url + "?" : url;
        if (back != ORV_OK || !base || want_base != base)
            fuzz_fail("url %s comes back as %s (%#x)", want_base.c_str(), base ? base : "(null)",
                      unsigned(back));
        if ((in_ua ? !ua || std::strcmp(ua, in_ua) != 0 : ua != nullptr) ||
            (in_header ? !header || std::strcmp(header, in_header) != 0 : header != nullptr))
            fuzz_fail("user agent or header of %s does not come back", composed);
    }
    orv_free(base);
    orv_free(ua);
    orv_free(header);
    orv_free(composed);
    if (orv_mem_live_count() != live)
        fuzz_fail("tracked blocks leaked: %zu", orv_mem_live_count() - live);
    return 0;
}

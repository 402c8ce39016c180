// GID texts: arbitrary text decoded into a heap GID (an overrun past its 16
// bytes trips AddressSanitizer) and checked against the first 32 digits;
// the text of the decoded value read back; the input as a constant's name.
#include <cctype>
#include <memory>

#include "fuzz_util.h"
#include "orv/orv_gid.h"
#include "orv/orv_mem.h"
#include "orv/orv_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text = fuzz_text(data, size);
    auto gid = std::make_unique<GID>();
    const GID returned = orv_gid_from_text(gid.get(), text.c_str());
    if (!orv_gid_equal(returned, *gid))
        fuzz_fail("gid from_text returns another value than it stores");
    for (size_t i = 0; i < 32; ++i) {
        const char c = i < text.size() ? text[i] : '0';
        const int want = std::isxdigit(static_cast<unsigned char>(c)) ? orv_hex_value(c) : 0;
        const int got = i % 2 ? gid->bytes[i / 2] & 15 : gid->bytes[i / 2] >> 4;
        if (got != want)
            fuzz_fail("gid digit %zu is %x, text gives %x", i, got, want);
    }

    char *back_text = orv_gid_to_text(*gid);
    if (!back_text || std::strlen(back_text) != ORV_GID_TEXT_DIGITS)
        fuzz_fail("gid to_text gives no 32-digit text");
    for (const char *p = back_text; *p; ++p)
        if (!std::isxdigit(static_cast<unsigned char>(*p)) || std::isupper(static_cast<unsigned char>(*p)))
            fuzz_fail("gid text has %c", *p);
    GID back{};
    orv_gid_from_text(&back, back_text);
    if (!orv_gid_equal(back, *gid))
        fuzz_fail("gid text %s reads back as another value", back_text);
    orv_gid_free_text(&back_text);
    if (back_text)
        fuzz_fail("gid free_text leaves the text set");

    GID named{};
    if (orv_gid_by_name(text.c_str(), &named)) {
        const char *name = orv_gid_name(named);
        if (!name)
            fuzz_fail("gid %s has a value without a name", text.c_str());
    }
    if (const char *name = orv_gid_name(*gid)) {
        GID again{};
        if (!orv_gid_by_name(name, &again) || !orv_gid_equal(again, *gid))
            fuzz_fail("gid name %s does not give its value back", name);
    }
    return 0;
}

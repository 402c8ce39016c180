// The small scanner and formatter on arbitrary formats. The input is split at
// its first zero byte into a format and a text. Every conversion the format
// could hold gets its own heap word (a store through a pointer it should not
// take trips AddressSanitizer); the formatter writes into a block of exactly
// the size it is given, with every argument pointing at one short text.
#include <algorithm>
#include <memory>
#include <vector>

#include "fuzz_util.h"
#include "orv/orv_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string format = fuzz_text(data, size);
    const size_t rest = std::min(size, format.size() + 1);
    const std::string text = fuzz_text(data + rest, size - rest);

    const size_t conversions = static_cast<size_t>(std::count(format.begin(), format.end(), '%'));
    std::vector<std::unique_ptr<int32_t>> words;
    std::vector<int32_t *> pointers;
    for (size_t i = 0; i < conversions; ++i) {
        words.push_back(std::make_unique<int32_t>(0x5A5A5A5A));
        pointers.push_back(words.back().get());
    }
    const int stored =
        orv_scan_small(text.c_str(), format.c_str(), pointers.empty() ? nullptr : pointers.data());
    if (stored < -1 || (stored > 0 && static_cast<size_t>(stored) > conversions))
        fuzz_fail("scan stored %d values with %zu conversions", stored, conversions);
    // -1 (a literal that does not match) may follow stored values.
    for (size_t i = stored < 0 ? conversions : size_t(stored); i < conversions; ++i)
        if (*words[i] != 0x5A5A5A5A)
            fuzz_fail("scan wrote value %zu but reports %d", i, stored);

    // Every word is a valid text address, so %s, %c, %d and * all take one.
    static const char word[] = "word";
    std::vector<intptr_t> args(2 * conversions + 1, reinterpret_cast<intptr_t>(word));
    const size_t room = 1 + (size ? data[0] : 0);
    std::vector<char> out(room);
    const int length = orv_format_small(out.data(), room, format.c_str(), args.data());
    if (length < 0 || static_cast<size_t>(length) >= room ||
        std::strlen(out.data()) != static_cast<size_t>(length))
        fuzz_fail("format gives length %d in %zu bytes", length, room);
    return 0;
}

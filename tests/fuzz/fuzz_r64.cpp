// Radix-64 texts: the count scan and the decoder on arbitrary text, decoding
// into a block of exactly the size the count asks for, and the encoder's text
// of the raw input decoded back to the same bytes.
#include <vector>

#include "fuzz_util.h"
#include "orv/orv_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text = fuzz_text(data, size);
    const char *start = text.c_str();
    const char *after = nullptr;
    const uint32_t count = orv_r64_count(start, &after);
    if (after < start || after > start + text.size())
        fuzz_fail("r64 count position %td outside a text of %zu", after - start, text.size());
    if (count == 0 && after != start && start[after - start - 1] != '*')
        fuzz_fail("r64 count without a star moved the position");
    if (count <= (1u << 20)) {
        std::vector<uint8_t> exact(count);
        uint32_t covered = orv_r64_decode(count ? exact.data() : nullptr, start);
        if (covered > count)
            fuzz_fail("r64 decode covers %u of %u bytes", covered, count);
    }

    // Encode the raw bytes and take them back.
    if (size < (1u << 24)) {
        const uint32_t n = static_cast<uint32_t>(size);
        std::vector<char> encoded(orv_r64_size(n));
        orv_r64_encode(n, data, encoded.data());
        if (std::strlen(encoded.data()) + 1 != encoded.size())
            fuzz_fail("r64 text of %u bytes is %zu long, room %zu", n, std::strlen(encoded.data()), encoded.size());
        if (orv_r64_count(encoded.data(), nullptr) != n && encoded.size() <= 256)
            fuzz_fail("r64 count of an encoded text is wrong");
        std::vector<uint8_t> back(n + 1, 0xA5);
        uint32_t covered = orv_r64_decode(back.data(), encoded.data());
        if (n != 0 && covered != n)
            fuzz_fail("r64 round trip covers %u of %u bytes", covered, n);
        if (std::memcmp(back.data(), data, n) != 0)
            fuzz_fail("r64 round trip differs");
        if (back[n] != 0xA5)
            fuzz_fail("r64 decode wrote past the count");
    }
    return 0;
}

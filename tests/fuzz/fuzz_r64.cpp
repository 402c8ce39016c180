// Radix-64 texts: the count scan and the decoder on arbitrary text, decoding
// into a block of exactly the size the count asks for, and the encoder's text
// of the raw input decoded back to the same bytes. The bounded decoder gets a
// room cut from the input, must refuse what does not fit without writing, and
// must agree with the plain decoder on what it accepts.
#include <algorithm>
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

    {
        // Room: the claimed count, or a few bytes less or more, from the input.
        const uint32_t wiggle = size != 0 ? data[0] % 8 : 0;
        const size_t room = count > (1u << 20) ? 64
                            : wiggle < 4       ? count - std::min(count, wiggle)
                                               : count + wiggle - 4;
        std::vector<uint8_t> bounded(room + 8, 0xA5);
        uint32_t written = 77;
        const ResultCode r = orv_r64_decode_bounded(bounded.data(), room, start, &written);
        if (r != ORV_OK && r != ORV_ERR_INVALID_PARAM)
            fuzz_fail("r64 bounded decode gave %x", static_cast<unsigned>(r));
        if (r == ORV_OK) {
            if (written != count || count > room)
                fuzz_fail("r64 bounded decode wrote %u of a count %u into %zu", written, count, room);
            std::vector<uint8_t> plain(count + 1, 0);
            if (count && (orv_r64_decode(plain.data(), start) != count ||
                          std::memcmp(plain.data(), bounded.data(), count)))
                fuzz_fail("r64 bounded decode differs from the plain decoder");
        } else if (written != 0) {
            fuzz_fail("r64 bounded refusal reports %u bytes", written);
        }
        for (size_t i = r == ORV_OK ? written : 0; i < bounded.size(); ++i)
            if (bounded[i] != 0xA5)
                fuzz_fail("r64 bounded decode touched byte %zu (room %zu, result %x)", i, room,
                          static_cast<unsigned>(r));
    }

    // Encode the raw bytes and take them back.
    if (size < (1u << 24)) {
        const uint32_t n = static_cast<uint32_t>(size);
        std::vector<char> encoded(orv_r64_size(n));
        orv_r64_encode(n, data, encoded.data());
        if (std::strlen(encoded.data()) + 1 != encoded.size())
            fuzz_fail("r64 text of %u bytes is %zu long, room %zu", n, std::strlen(encoded.data()),
                      encoded.size());
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

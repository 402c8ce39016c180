// Hexadecimal texts: the decoder on arbitrary text into a block of exactly
// (length + 1) / 2 bytes checked against a plain digit model, and the encoders'
// texts of the raw input decoded back to the same bytes. The bounded decoder
// gets a room around the needed size and must refuse, untouched, what does not
// fit and match the plain decoder on what does.
#include <cctype>
#include <vector>

#include "fuzz_util.h"
#include "orv/orv_mem.h"
#include "orv/orv_text.h"

namespace {

uint8_t digit(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<uint8_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<uint8_t>(c - 'A' + 10);
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text = fuzz_text(data, size);
    const size_t bytes = (text.size() + 1) / 2;
    std::vector<uint8_t> exact(bytes);
    const size_t length = orv_hex_decode(bytes ? exact.data() : nullptr, text.c_str());
    if (length != text.size())
        fuzz_fail("hex decode length %zu for a text of %zu", length, text.size());
    for (size_t i = 0; i < bytes; ++i) {
        const uint8_t low = 2 * i + 1 < text.size() ? digit(text[2 * i + 1]) : 0;
        const uint8_t want = static_cast<uint8_t>(digit(text[2 * i]) << 4 | low);
        if (exact[i] != want)
            fuzz_fail("hex byte %zu is %02x, digits give %02x", i, exact[i], want);
    }
    for (char c : text) {
        int v = orv_hex_value(static_cast<unsigned char>(c));
        if (v != (std::isxdigit(static_cast<unsigned char>(c)) ? digit(c) : -1))
            fuzz_fail("hex value of %02x is %d", static_cast<unsigned char>(c), v);
    }

    for (size_t room : {bytes, bytes == 0 ? 0 : bytes - 1, bytes + 3}) {
        std::vector<uint8_t> bounded(room + 4, 0xA5);
        size_t written = 77;
        const ResultCode r = orv_hex_decode_bounded(bounded.data(), room, text.c_str(), &written);
        if ((r == ORV_OK) != (bytes <= room))
            fuzz_fail("hex bounded decode of %zu bytes into %zu gave %x", bytes, room,
                      static_cast<unsigned>(r));
        if (r == ORV_OK &&
            (written != bytes || (bytes && std::memcmp(bounded.data(), exact.data(), bytes) != 0)))
            fuzz_fail("hex bounded decode differs from the plain decoder");
        if (r != ORV_OK && written != 0)
            fuzz_fail("hex bounded refusal reports %zu bytes", written);
        for (size_t i = r == ORV_OK ? bytes : 0; i < bounded.size(); ++i)
            if (bounded[i] != 0xA5)
                fuzz_fail("hex bounded decode touched byte %zu", i);
    }

    if (size != 0 && size < (1u << 24)) {
        const uint32_t n = static_cast<uint32_t>(size);
        std::vector<char> encoded(2 * size + 1);
        orv_hex_encode(n, data, encoded.data());
        char *allocated = orv_hex_encode_alloc(n, data);
        if (!allocated || std::strcmp(allocated, encoded.data()) != 0)
            fuzz_fail("hex encode_alloc differs from hex encode");
        orv_free(allocated);
        std::vector<uint8_t> back(size);
        if (orv_hex_decode(back.data(), encoded.data()) != 2 * size ||
            std::memcmp(back.data(), data, size) != 0)
            fuzz_fail("hex round trip of %zu bytes differs", size);
    }
    return 0;
}

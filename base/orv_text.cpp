// Text and number helpers: character classes, bounded copies, the radix-64
// and hexadecimal encodings, 64-bit rescaling and a small formatter/scanner
// over word arguments. Owns only the two decode tables, which are constant,
// so nothing here locks and everything is safe from any thread.
#include "orv/orv_text.h"

#include <array>
#include <climits>
#include <cstring>

#include "orv/orv_log.h"
#include "orv/orv_mem.h"

namespace {

constexpr char kRadix64Alphabet[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ+-";
constexpr size_t kR64CountScan = 256;

// Every byte outside the alphabet decodes as 0, "0" included, as the stored
// texts expect.
constexpr std::array<uint8_t, 256> make_radix64_table()
{
    std::array<uint8_t, 256> table{};
    for (int i = 0; i < 64; ++i)
        table[static_cast<uint8_t>(kRadix64Alphabet[i])] = static_cast<uint8_t>(i);
    return table;
}

constexpr std::array<uint8_t, 256> make_hex_table()
{
    std::array<uint8_t, 256> table{};
    for (int i = 0; i < 10; ++i)
        table['0' + i] = static_cast<uint8_t>(i);
    for (int i = 0; i < 6; ++i) {
        table['a' + i] = static_cast<uint8_t>(10 + i);
        table['A' + i] = static_cast<uint8_t>(10 + i);
    }
    return table;
}

// Constant rather than filled at start-up: decoding gives the same bytes
// before the runtime starts as after, and no thread can see a half-built table.
constexpr auto kRadix64Decode = make_radix64_table();
constexpr auto kHexDecode = make_hex_table();

uint8_t r64_value(char c)
{
    return kRadix64Decode[static_cast<uint8_t>(c)];
}
uint8_t hex_digit_value(char c)
{
    return kHexDecode[static_cast<uint8_t>(c)];
}

// ------------------------------------------------------------------ rescale

struct U128 {
    uint64_t high;
    uint64_t low;
};

// Full 128-bit product from 32-bit halves: the 32-bit target has no 128-bit type.
U128 multiply_64x64(uint64_t a, uint64_t b)
{
    uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32;
    uint64_t b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
    uint64_t low = a0 * b0;
    uint64_t cross1 = a0 * b1;
    uint64_t cross2 = a1 * b0;
    uint64_t high = a1 * b1 + (cross1 >> 32) + (cross2 >> 32);
    uint64_t part = low + (cross1 << 32);
    high += part < low;
    low = part;
    part = low + (cross2 << 32);
    high += part < low;
    return {high, part};
}

constexpr uint64_t kOverflow = UINT64_MAX;

// |a| * b / c with addend r, for b >= 0 and c > 0. kOverflow when the
// quotient does not fit in 64 bits (callers then saturate).
uint64_t rescale_magnitude(uint64_t a, uint64_t b, uint64_t c, uint64_t r)
{
    constexpr uint64_t kSmall = INT32_MAX;
    if (b <= kSmall && c <= kSmall) {
        if (a <= kSmall)
            return (a * b + r) / c;
        uint64_t whole;
        if (__builtin_mul_overflow(a / c, b, &whole))
            return kOverflow;
        uint64_t rest = (a % c * b + r) / c;
        uint64_t sum;
        if (__builtin_add_overflow(whole, rest, &sum))
            return kOverflow;
        return sum;
    }
    U128 product = multiply_64x64(a, b);
    uint64_t low = product.low + r;
    uint64_t high = product.high + (low < r);
    if (high >= c)
        return kOverflow;
    // Shift-and-subtract long division; high stays below c, so it never
    // loses its top bit while shifting (c is below 2^63).
    uint64_t quotient = 0;
    for (int i = 63; i >= 0; --i) {
        high = (high << 1) | ((low >> i) & 1);
        quotient <<= 1;
        if (high >= c) {
            high -= c;
            quotient |= 1;
        }
    }
    return quotient;
}

// ----------------------------------------------------------- small formatter

class BoundedWriter {
public:
    BoundedWriter(char *dest, size_t size) : dest_(dest), room_(size == 0 ? 0 : size - 1) {}
    void put(char c)
    {
        if (length_ < room_)
            dest_[length_++] = c;
    }
    void repeat(char c, long count)
    {
        for (; count > 0 && !full(); --count)
            put(c);
    }
    bool full() const { return length_ >= room_; }
    size_t length() const { return length_; }

private:
    char *dest_;
    size_t room_;
    size_t length_ = 0;
};

constexpr long kMaxWidth = 1L << 20;

struct Conversion {
    bool left = false;
    bool zero = false;
    bool is_unsigned = false;
    long width = 0;
};

void write_padded(BoundedWriter &out, const Conversion &conv, const char *sign, const char *body,
                  size_t body_len)
{
    long fill = conv.width - static_cast<long>(strlen(sign) + body_len);
    if (!conv.left && !conv.zero)
        out.repeat(' ', fill);
    for (const char *p = sign; *p != '\0'; ++p)
        out.put(*p);
    if (!conv.left && conv.zero)
        out.repeat('0', fill);
    for (size_t i = 0; i < body_len; ++i)
        out.put(body[i]);
    if (conv.left)
        out.repeat(' ', fill);
}

void write_number(BoundedWriter &out, const Conversion &conv, uint32_t value, unsigned base, bool upper,
                  bool negative)
{
    const char *digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char text[16];
    size_t n = 0;
    do {
        text[n++] = digits[value % base];
        value /= base;
    } while (value != 0);
    char body[16];
    for (size_t i = 0; i < n; ++i)
        body[i] = text[n - 1 - i];
    write_padded(out, conv, negative ? "-" : "", body, n);
}

// ------------------------------------------------------------- small scanner

const char *skip_blanks(const char *p)
{
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

int digit_in_base(char c, unsigned base)
{
    int v;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
    else
        return -1;
    return v < static_cast<int>(base) ? v : -1;
}

} // namespace

extern "C" {

int orv_is_space(int c)
{
    return c == ' ' || c == '\t';
}

int orv_is_alpha(int c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

int orv_is_digit(int c)
{
    return c >= '0' && c <= '9';
}

int orv_hex_value(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void orv_str_copy(char *dest, size_t size, const char *src)
{
    if (dest == nullptr || size == 0)
        return;
    size_t n = src == nullptr ? 0 : strnlen(src, size - 1);
    if (n != 0)
        memcpy(dest, src, n);
    dest[n] = '\0';
}

void orv_str_append(char *dest, size_t size, const char *src)
{
    if (dest == nullptr || size == 0)
        return;
    size_t used = strnlen(dest, size);
    if (used < size)
        orv_str_copy(dest + used, size - used, src);
}

// ---------------------------------------------------------------- radix-64

uint32_t orv_r64_size(uint32_t n)
{
    uint32_t digits = 1;
    for (uint32_t v = n; v >= 10; v /= 10)
        ++digits;
    uint64_t total = uint64_t{digits} + (8 * uint64_t{n} + 5) / 6 + 2;
    return total > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(total);
}

uint32_t orv_r64_count(const char *text, const char **data)
{
    if (data != nullptr)
        *data = text;
    if (text == nullptr)
        return 0;
    const char *star = static_cast<const char *>(memchr(text, '*', strnlen(text, kR64CountScan)));
    if (star == nullptr)
        return 0;
    uint64_t count = 0;
    for (const char *p = text; p < star && *p >= '0' && *p <= '9'; ++p) {
        count = count * 10 + static_cast<uint64_t>(*p - '0');
        if (count > UINT32_MAX)
            count = UINT32_MAX;
    }
    if (data != nullptr)
        *data = star + 1;
    return static_cast<uint32_t>(count);
}

void orv_r64_encode(uint32_t n, const void *bytes, char *dest)
{
    if (dest == nullptr)
        return;
    if (bytes == nullptr && n != 0) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: radix-64 encode of %u bytes without data", n);
        dest[0] = '\0';
        return;
    }
    const auto *in = static_cast<const uint8_t *>(bytes);
    char head[16];
    size_t head_len = 0;
    uint32_t v = n;
    do {
        head[head_len++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    char *out = dest;
    while (head_len != 0)
        *out++ = head[--head_len];
    *out++ = '*';
    uint32_t i = 0;
    for (; i + 3 <= n; i += 3) {
        uint8_t b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
        *out++ = kRadix64Alphabet[b0 >> 2];
        *out++ = kRadix64Alphabet[((b0 & 3) << 4) | (b1 >> 4)];
        *out++ = kRadix64Alphabet[((b1 & 15) << 2) | (b2 >> 6)];
        *out++ = kRadix64Alphabet[b2 & 63];
    }
    if (n - i == 1) {
        *out++ = kRadix64Alphabet[in[i] >> 2];
        *out++ = kRadix64Alphabet[(in[i] & 3) << 4];
    } else if (n - i == 2) {
        *out++ = kRadix64Alphabet[in[i] >> 2];
        *out++ = kRadix64Alphabet[((in[i] & 3) << 4) | (in[i + 1] >> 4)];
        *out++ = kRadix64Alphabet[(in[i + 1] & 15) << 2];
    }
    *out = '\0';
}

uint32_t orv_r64_decode(void *dest, const char *text)
{
    const char *data = nullptr;
    uint32_t n = orv_r64_count(text, &data);
    if (n == 0 || dest == nullptr)
        return 0;
    auto *out = static_cast<uint8_t *>(dest);
    // Reads stop at the terminator: missing characters count as 0.
    const char *p = data;
    bool ended = false;
    uint64_t characters = 0;
    auto next = [&]() -> uint8_t {
        if (ended || *p == '\0') {
            ended = true;
            return 0;
        }
        ++characters;
        return r64_value(*p++);
    };
    uint32_t i = 0;
    for (; i + 3 <= n; i += 3) {
        uint8_t c0 = next(), c1 = next(), c2 = next(), c3 = next();
        out[i] = static_cast<uint8_t>((c0 << 2) | (c1 >> 4));
        out[i + 1] = static_cast<uint8_t>((c1 << 4) | (c2 >> 2));
        out[i + 2] = static_cast<uint8_t>((c2 << 6) | c3);
    }
    if (n - i == 2) {
        uint8_t c0 = next(), c1 = next(), c2 = next();
        out[i] = static_cast<uint8_t>((c0 << 2) | (c1 >> 4));
        out[i + 1] = static_cast<uint8_t>((c1 << 4) | (c2 >> 2));
    } else if (n - i == 1) {
        uint8_t c0 = next(), c1 = next();
        out[i] = static_cast<uint8_t>((c0 << 2) | (c1 >> 4));
    }
    uint64_t whole = characters * 6 / 8;
    return whole < n ? static_cast<uint32_t>(whole) : n;
}

// Characters a complete text of n bytes carries after its "*".
static uint64_t r64_chars_for(uint32_t n)
{
    uint32_t rem = n % 3;
    return uint64_t{n} / 3 * 4 + (rem == 0 ? 0 : rem + 1);
}

ResultCode orv_r64_decode_bounded(void *dest, size_t dest_size, const char *text, uint32_t *written)
{
    if (written != nullptr)
        *written = 0;
    if (text == nullptr || (dest == nullptr && dest_size != 0)) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: radix-64 decode without %s",
                text ? "a destination" : "a text");
        return ORV_ERR_INVALID_PARAM;
    }
    const char *data = nullptr;
    uint32_t n = orv_r64_count(text, &data);
    if (data == text) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: radix-64 text without a count: %.32s", text);
        return ORV_ERR_INVALID_PARAM;
    }
    if (n > dest_size) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: radix-64 text claims %u bytes, room for %zu", n,
                dest_size);
        return ORV_ERR_INVALID_PARAM;
    }
    // Check the length before writing so a short text leaves dest untouched;
    // strnlen stops at the need, never walks a long text to its end.
    uint64_t need = r64_chars_for(n);
    size_t have = strnlen(data, static_cast<size_t>(need));
    if (have < need) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: radix-64 text of %u bytes carries %zu of %llu characters",
                n, have, static_cast<unsigned long long>(need));
        return ORV_ERR_INVALID_PARAM;
    }
    if (n != 0)
        orv_r64_decode(dest, text);
    if (written != nullptr)
        *written = n;
    return ORV_OK;
}

// ------------------------------------------------------------- hexadecimal

void orv_hex_encode(uint32_t n, const void *bytes, char *dest)
{
    if (dest == nullptr)
        return;
    if (bytes == nullptr && n != 0) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: hex encode of %u bytes without data", n);
        dest[0] = '\0';
        return;
    }
    const auto *in = static_cast<const uint8_t *>(bytes);
    for (uint32_t i = 0; i < n; ++i) {
        *dest++ = kRadix64Alphabet[in[i] >> 4];
        *dest++ = kRadix64Alphabet[in[i] & 15];
    }
    *dest = '\0';
}

char *orv_hex_encode_alloc(uint32_t n, const void *bytes)
{
    uint64_t size = 2 * uint64_t{n} + 1;
    if (size > orv_mem_max_size || (bytes == nullptr && n != 0)) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: hex encode of %u bytes refused", n);
        return nullptr;
    }
    auto *text = static_cast<char *>(ORV_ALLOC(size));
    if (text == nullptr)
        return nullptr;
    orv_hex_encode(n, bytes, text);
    return text;
}

size_t orv_hex_decode(void *dest, const char *text)
{
    if (text == nullptr)
        return 0;
    size_t length = strlen(text);
    if (dest == nullptr)
        return length;
    auto *out = static_cast<uint8_t *>(dest);
    for (size_t i = 0; i < length; i += 2) {
        // An odd final digit pairs with the terminator, never with what follows it.
        uint8_t low = i + 1 < length ? hex_digit_value(text[i + 1]) : 0;
        out[i / 2] = static_cast<uint8_t>(16 * hex_digit_value(text[i]) + low);
    }
    return length;
}

ResultCode orv_hex_decode_bounded(void *dest, size_t dest_size, const char *text, size_t *written)
{
    if (written != nullptr)
        *written = 0;
    if (text == nullptr || (dest == nullptr && dest_size != 0)) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: hex decode without %s",
                text ? "a destination" : "a text");
        return ORV_ERR_INVALID_PARAM;
    }
    // Only as far as the room needs: one more digit pair proves the text too long.
    size_t limit = dest_size > (SIZE_MAX - 2) / 2 ? SIZE_MAX : 2 * dest_size + 1;
    size_t length = strnlen(text, limit);
    size_t bytes = (length + 1) / 2;
    if (bytes > dest_size) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: hex text longer than its room of %zu bytes", dest_size);
        return ORV_ERR_INVALID_PARAM;
    }
    if (length != 0)
        orv_hex_decode(dest, text);
    if (written != nullptr)
        *written = bytes;
    return ORV_OK;
}

void orv_text_init_tables(void)
{
    // The tables are constant; kept so start-up keeps its one call.
}

// ------------------------------------------------------------------ numbers

int64_t orv_gcd64(int64_t a, int64_t b)
{
    while (b != 0) {
        // x % -1 traps for the smallest value; the remainder is 0 anyway.
        int64_t rest = b == -1 ? 0 : a % b;
        a = b;
        b = rest;
    }
    return a;
}

int64_t orv_rescale_rnd(int64_t a, int64_t b, int64_t c, OrvRounding rounding)
{
    if (c <= 0 || b < 0) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: rescale needs b >= 0 and c > 0 (b=%lld c=%lld)",
                static_cast<long long>(b), static_cast<long long>(c));
        return INT64_MIN;
    }
    int mode = static_cast<int>(rounding);
    bool negative = a < 0;
    // Negating swaps the directed modes 2 and 3.
    if (negative)
        mode ^= (mode >> 1) & 1;
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(a) : static_cast<uint64_t>(a);
    uint64_t ub = static_cast<uint64_t>(b), uc = static_cast<uint64_t>(c);
    uint64_t r = mode == ORV_ROUND_NEAR_INF                        ? uc / 2
                 : (mode == ORV_ROUND_INF || mode == ORV_ROUND_UP) ? uc - 1
                                                                   : 0;
    uint64_t q = rescale_magnitude(magnitude, ub, uc, r);
    if (negative) {
        if (q > uint64_t{1} << 63)
            return INT64_MIN;
        return static_cast<int64_t>(0 - q);
    }
    return q > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(q);
}

int64_t orv_rescale(int64_t a, int64_t b, int64_t c)
{
    return orv_rescale_rnd(a, b, c, ORV_ROUND_NEAR_INF);
}

int64_t orv_rescale_q(int64_t a, OrvRational bq, OrvRational cq)
{
    int64_t b = int64_t{bq.num} * cq.den;
    int64_t c = int64_t{cq.num} * bq.den;
    return orv_rescale_rnd(a, b, c, ORV_ROUND_NEAR_INF);
}

// --------------------------------------------------- small formatter/scanner

int orv_format_small(char *dest, size_t size, const char *format, const intptr_t *args)
{
    if (dest == nullptr || size == 0)
        return 0;
    BoundedWriter out(dest, size);
    size_t next_arg = 0;
    auto take = [&]() -> intptr_t { return args == nullptr ? 0 : args[next_arg++]; };
    const char *f = format == nullptr ? "" : format;
    while (*f != '\0' && !out.full()) {
        if (*f != '%') {
            out.put(*f++);
            continue;
        }
        ++f;
        if (*f == '%') {
            out.put(*f++);
            continue;
        }
        Conversion conv;
        if (*f == '-') {
            conv.left = true;
            ++f;
        }
        if (*f == '0') {
            conv.zero = true;
            ++f;
        }
        if (*f == '*') {
            conv.width = static_cast<int32_t>(take());
            ++f;
        } else {
            while (*f >= '0' && *f <= '9') {
                if (conv.width < kMaxWidth)
                    conv.width = conv.width * 10 + (*f - '0');
                ++f;
            }
        }
        if (conv.width > kMaxWidth)
            conv.width = kMaxWidth;
        if (*f == 'u') {
            conv.is_unsigned = true;
            ++f;
        }
        char conversion = *f;
        if (conversion == '\0')
            break;
        ++f;
        switch (conversion) {
        case 'd':
        case 'i':
        case 'D': {
            auto value = static_cast<int32_t>(take());
            bool negative = !conv.is_unsigned && value < 0;
            uint32_t magnitude = negative ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
            write_number(out, conv, magnitude, 10, false, negative);
            break;
        }
        case 'x':
        case 'X':
            write_number(out, conv, static_cast<uint32_t>(take()), 16, conversion == 'X', false);
            break;
        case 'c': {
            char c = static_cast<char>(take());
            write_padded(out, conv, "", &c, 1);
            break;
        }
        case 's': {
            conv.zero = false;
            const char *s = reinterpret_cast<const char *>(take());
            if (s == nullptr)
                s = "(null)";
            write_padded(out, conv, "", s, strlen(s));
            break;
        }
        default:
            out.put(conversion);
            break;
        }
    }
    dest[out.length()] = '\0';
    return static_cast<int>(out.length());
}

int orv_scan_small(const char *text, const char *format, int32_t **pointers)
{
    if (text == nullptr || *text == '\0' || format == nullptr)
        return 0;
    const char *t = text;
    const char *f = format;
    int stored = 0;
    while (*f != '\0' && *t != '\0') {
        if (*f == ' ' || *f == '\t') {
            t = skip_blanks(t);
            ++f;
            continue;
        }
        if (*f != '%' || f[1] == '%') {
            if (*f == '%')
                ++f;
            if (*f != *t)
                return -1;
            ++f;
            ++t;
            continue;
        }
        ++f;
        long width = 0;
        while (*f >= '0' && *f <= '9') {
            if (width < kMaxWidth)
                width = width * 10 + (*f - '0');
            ++f;
        }
        unsigned base;
        switch (*f) {
        case 'x':
        case 'X':
            base = 16;
            break;
        case 'd':
        case 'i':
            base = 10;
            break;
        case 'o':
            base = 8;
            break;
        default:
            return stored; // unknown or missing conversion
        }
        ++f;
        t = skip_blanks(t);
        bool negative = *t == '-';
        if (negative)
            ++t;
        uint32_t value = 0;
        long digits = 0;
        for (int d; (width == 0 || digits < width) && (d = digit_in_base(*t, base)) >= 0; ++t, ++digits)
            value = value * base + static_cast<uint32_t>(d);
        if (digits == 0 || pointers == nullptr || pointers[stored] == nullptr)
            return stored;
        *pointers[stored] = static_cast<int32_t>(negative ? 0u - value : value);
        ++stored;
    }
    return stored;
}

} // extern "C"

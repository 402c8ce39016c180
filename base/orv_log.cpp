// Log output: error lines to the Android log and the attached dump log,
// information text to the host's sink in 1024-byte pieces, verbose notes to
// the Android log. Each call formats into a 32 KiB buffer of its own on the
// stack, left uncleared: only the formatted text is ever read from it.
//
// Locks: the global lock is held only around the formatting of a head and
// released before anything is written; the dump log's locks are taken by the
// write after it. So a line never waits for the dump log under the global
// lock, and code that holds the global lock must not log. The whole lock
// order: docs/architecture.md.
#include "orv/orv_log.h"

#include <android/log.h>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/time.h>
#include <unistd.h>

#include "orv/orv_dump.h"
#include "orv/orv_text.h"
#include "orv_log_internal.hpp"
#include "orv_mem_internal.hpp"
#include "orv_sync.hpp"

namespace {

constexpr size_t kBuffer = 32768;
constexpr size_t kLineMax = ORV_LOG_LINE_MAX; // characters, the terminator aside

std::atomic<LogSink> g_sink{nullptr};
std::atomic<orv::AndroidWriter> g_writer{__android_log_write};

int android_write(const char *text)
{
    return g_writer.load()(ORV_ANDROID_PRIO, ORV_ANDROID_TAG, text);
}

// The head's time: the first 19 characters of ctime ("Tue Dec  8 03:20:22").
void time_text(char (&out)[32])
{
    const time_t now = time(nullptr);
    if (!ctime_r(&now, out))
        out[0] = '\0';
    out[19] = '\0';
}

int thread_id()
{
    return static_cast<int>(gettid());
}

// Bounded formatting of the heads, under the global lock as all locked
// formatting of the runtime. Returns the length written (never beyond max).
size_t format_head(char *buf, size_t max, const char *fmt, ...) ORV_PRINTF(3, 4);
size_t format_head(char *buf, size_t max, const char *fmt, ...)
{
    orv::GlobalLockGuard guard;
    va_list ap;
    va_start(ap, fmt);
    const int n = vsnprintf(buf, max + 1, fmt, ap);
    va_end(ap);
    if (n < 0)
        return 0;
    return static_cast<size_t>(n) > max ? max : static_cast<size_t>(n);
}

// Appends the caller's message after `used` characters, the line staying
// within kLineMax characters.
size_t append_message(char *buf, size_t used, const char *fmt, va_list ap)
{
    if (used >= kLineMax || !fmt)
        return used;
    const int n = vsnprintf(buf + used, kLineMax - used + 1, fmt, ap);
    if (n < 0)
        return used;
    const size_t total = used + static_cast<size_t>(n);
    return total > kLineMax ? kLineMax : total;
}

// Sends a text in pieces of at most 1024 bytes, each terminated in place
// (the byte after a piece is stood in for by a terminator for the call).
// text[length] must be writable.
template <typename Write>
int write_pieces(char *text, size_t length, Write write)
{
    int result = 0;
    for (size_t off = 0; off < length; off += ORV_LOG_PIECE) {
        const size_t end = length - off < ORV_LOG_PIECE ? length : off + ORV_LOG_PIECE;
        const char kept = text[end];
        text[end] = '\0';
        result = write(text + off);
        text[end] = kept;
    }
    return result;
}

} // namespace

orv::AndroidWriter orv::log_set_android_writer(AndroidWriter writer)
{
    return g_writer.exchange(writer ? writer : __android_log_write);
}

extern "C" {

int orv_log(unsigned flags, ResultCode code, const char *format, ...)
{
    if ((flags & (LOG_TO_ANDROID | LOG_TO_DUMP)) == 0)
        return 0;
    char line[kBuffer];
    char when[32];
    time_text(when);
    size_t used = format_head(line, kLineMax, "(tid=%d)(%.19s): ERR=0x%x,%s, INF=", thread_id(), when,
                              static_cast<unsigned>(code), orv_err_name(code));
    va_list ap;
    va_start(ap, format);
    used = append_message(line, used, format, ap);
    va_end(ap);

    int result = 0;
    if (flags & LOG_TO_DUMP) {
        result = orv_dump_log_write_attached(line, static_cast<uint32_t>(used));
    }
    if (flags & LOG_TO_ANDROID)
        result = android_write(line);
    return result;
}

int orv_trace(const char *format, ...)
{
    const LogSink sink = g_sink.load();
    if (!sink || !format)
        return 0;
    char text[kBuffer];
    va_list ap;
    va_start(ap, format);
    const size_t length = append_message(text, 0, format, ap);
    va_end(ap);
    if (length == 0)
        return 0;
    return write_pieces(text, length, sink);
}

int orv_log_android(const char *text)
{
    char line[kBuffer];
    char when[32];
    time_text(when);
    const size_t length =
        format_head(line, kLineMax, "(tid=%d)(%.19s): %s", thread_id(), when, text ? text : "");
    if (length == 0)
        return 0;
    return write_pieces(line, length, android_write);
}

int orv_log_android_info(const char *format, ...)
{
    char line[kBuffer];
    char when[32];
    time_text(when);
    size_t used = format_head(line, kLineMax, "(tid=%d)(%.19s): INF=", thread_id(), when);
    va_list ap;
    va_start(ap, format);
    used = append_message(line, used, format, ap);
    va_end(ap);
    return write_pieces(line, used, android_write);
}

ResultCode orv_log_init(LogSink sink, unsigned)
{
    g_sink.store(sink);
    if (!orv::mem_start())
        return ORV_FAIL;
    orv_text_init_tables();
    return ORV_OK;
}

LogSink orv_log_sink(void)
{
    return g_sink.load();
}

int orv_log_null_sink(const char *)
{
    return 0;
}

// One sink call per row: "0x%08X:", "%08X," per whole group of four bytes
// (big-endian), "%02X" per byte left over, then "\r\n".
void orv_hex_dump(const void *data, uint32_t length)
{
    const LogSink sink = g_sink.load();
    if (!sink || !data || length == 0)
        return;
    static constexpr char kHex[] = "0123456789ABCDEF";
    const auto *bytes = static_cast<const uint8_t *>(data);
    char row[2 + 8 + 1 + 8 * 9 + 2 + 1];
    for (uint32_t start = 0; start < length; start += 32) {
        const uint32_t end = length - start < 32 ? length : start + 32;
        size_t n = 0;
        auto hex = [&](uint32_t value, int digits) {
            for (int d = digits - 1; d >= 0; --d)
                row[n++] = kHex[(value >> (4 * d)) & 0xF];
        };
        row[n++] = '0';
        row[n++] = 'x';
        hex(start, 8);
        row[n++] = ':';
        uint32_t i = start;
        for (; i + 4 <= end; i += 4) {
            hex(static_cast<uint32_t>(bytes[i]) << 24 | static_cast<uint32_t>(bytes[i + 1]) << 16 |
                    static_cast<uint32_t>(bytes[i + 2]) << 8 | bytes[i + 3],
                8);
            row[n++] = ',';
        }
        for (; i < end; ++i)
            hex(bytes[i], 2);
        row[n++] = '\r';
        row[n++] = '\n';
        row[n] = '\0';
        sink(row);
    }
}

} // extern "C"

// Every allocation and every I/O call of a scenario made to fail in turn:
// run N fails the Nth call, for N = 1, 2, ... until a run no longer reaches
// its failure point. Each run must end without a crash or sanitizer report,
// with a failure code (or, where the library recovered, with correct data),
// with no tracked block and no system block left, and with every file either
// untouched or completely written. Interrupted and partial reads and writes
// must be retried to full success.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <iconv.h>
#include <memory>
#include <mutex>
#include <span>
#include <algorithm>
#include <cstdarg>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "device_render.h"
#include "fault_inject.h"
#include "host_frame.h"
#include "orv/orv_dump.h"
#include "orv/orv_event.h"
#include "orv/orv_hash.h"
#include "orv/orv_iconv.h"
#include "orv/orv_ini.h"
#include "orv/orv_io_file.h"
#include "orv/orv_io_stream.h"
#include "orv/orv_io_tcp.h"
#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv/orv_os.h"
#include "orv/orv_tcp_desc.h"
#include "orv/orv_sys.h"
#include "orv/orv_thread.h"
#include "orv_log_internal.hpp"
#include "orv_standin.h"

#if defined(__SANITIZE_ADDRESS__)
#define FAULT_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FAULT_LSAN 1
#endif
#endif
#ifdef FAULT_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace {

using fault::Class;
using fault::Mode;
using fault::Plan;

// ---- what a run reports ----------------------------------------------------

// Filled by a scenario without allocating through the wrappers: fixed text.
struct Outcome {
    bool completed = false; // every step succeeded and the data was checked
    ResultCode code = ORV_OK;
    char step[96] = {};     // where it stopped
    char problem[256] = {}; // a fault of the library, found by the scenario

    Outcome &stop(const char *where, ResultCode rc)
    {
        snprintf(step, sizeof step, "%s", where);
        code = rc;
        return *this;
    }
    // Keeps the first problem found.
    Outcome &wrong(const char *fmt, ...) __attribute__((format(printf, 2, 3)))
    {
        if (problem[0])
            return *this;
        va_list ap;
        va_start(ap, fmt);
        vsnprintf(problem, sizeof problem, fmt, ap);
        va_end(ap);
        return *this;
    }
    Outcome &done()
    {
        completed = true;
        return *this;
    }
};

// ---- runtime around a run: log lines kept, Android log counted -------------

std::mutex g_sink_lock;
std::vector<std::string> g_sink_lines;
std::atomic<int> g_android_lines{0};
std::atomic<int> g_interrupt_lines{0};
std::atomic<int> g_redraw_lines{0}; // lines about the kept frame not redrawn

int keep_line(const char *text)
{
    fault::Pause pause;
    std::lock_guard<std::mutex> guard(g_sink_lock);
    g_sink_lines.emplace_back(text ? text : "");
    return 0;
}

int count_android(int, const char *, const char *text)
{
    g_android_lines.fetch_add(1);
    if (text && (strstr(text, "Interrupted") || strstr(text, "EINTR")))
        g_interrupt_lines.fetch_add(1);
    if (text && strstr(text, "redraw"))
        g_redraw_lines.fetch_add(1);
    return 0;
}

std::vector<std::string> leak_lines()
{
    std::vector<std::string> out;
    for (const std::string &l : g_sink_lines)
        if (l.find("memory manage:") != std::string::npos)
            out.push_back(l);
    return out;
}

// ---- files -----------------------------------------------------------------

std::string read_file(const std::string &path, bool *exists = nullptr)
{
    std::ifstream in(path, std::ios::binary);
    if (exists)
        *exists = in.good();
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::vector<std::string> dir_names(const std::string &dir)
{
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// An empty directory of the test's own, removed with all it holds at the end.
struct ScratchDir {
    explicit ScratchDir(const char *name)
        : path(::testing::TempDir() + "fault_" + name + "_" + std::to_string(getpid()))
    {
        orv_remove_tree(path.c_str());
        mkdir(path.c_str(), 0700);
    }
    ~ScratchDir() { orv_remove_tree(path.c_str()); }
    const std::string path;
};

// ---- the sweep -------------------------------------------------------------

struct Scenario {
    const char *name;
    bool runtime = true;           // the harness starts and stops the runtime around the body
    std::function<void()> setup;   // before each run, not armed
    std::function<Outcome()> body; // armed
    std::function<std::string(const Outcome &)> check; // after the run: files and outputs; "" when sound
    // Calls the reference run must reach, any one of each group: a check that
    // the wrap list holds the names this target's headers choose.
    std::vector<std::vector<fault::Op>> expect_ops;
};

struct Sweep {
    long points = 0; // failure points reached (runs whose fault fired); for
                     // interrupted and cut calls, the calls so treated
    long runs = 0;
    std::vector<std::string> problems;
};

constexpr long kMaxRuns = 20000;
#ifdef FAULT_LSAN
// A leak scan costs tens of milliseconds: one per sweep, and only when that
// finds something are the runs repeated with a scan each to name the run.
bool g_lsan_each_run = false;
#endif

std::string describe(const Scenario &s, const Plan &p)
{
    const char *mode = p.mode == Mode::Fail        ? (p.cls == Class::Alloc ? "alloc" : "io")
                       : p.mode == Mode::Interrupt ? "eintr"
                       : p.mode == Mode::Short     ? "short"
                                                   : "eagain";
    return std::string(s.name) + " " + mode + (p.persistent ? " persistent" : "") +
           " N=" + std::to_string(p.target);
}

// One run; returns the problem text, empty when the run was sound.
std::string run_once(const Scenario &s, const Plan &plan, bool *fired_out)
{
    const std::string label = describe(s, plan);
    fault::set_run_label(label.c_str());
    // FAULT_TRACE="<label>" prints the stack of that run's failing call.
    const char *trace = getenv("FAULT_TRACE");
    fault::set_trace(trace && label == trace);
    if (s.setup)
        s.setup();
    g_sink_lines.clear();
    orv::log_set_android_writer(count_android);
    g_android_lines = 0;
    g_interrupt_lines = 0;
    g_redraw_lines = 0;
    bool started = false;
    if (s.runtime)
        started = orv_base_init(keep_line, 0, nullptr, nullptr) == ORV_OK;
    if (s.runtime && !started)
        return "runtime start-up failed outside the armed region";
    const size_t live_before = orv_mem_live_count();

    fault::arm(plan);
    const Outcome out = s.body();
    fault::disarm();

    const bool fired = fault::fired();
    *fired_out = fired;
    const std::string what = fired ? fault::fired_what() : "no fault";
    std::string problem;
    auto add = [&](const std::string &p) {
        if (problem.empty())
            problem = label + " (" + what + "): " + p;
    };
    if (out.problem[0])
        add(out.problem);
    const bool must_complete =
        !fired || plan.mode == Mode::Interrupt || plan.mode == Mode::Short || plan.mode == Mode::WouldBlock;
    if (must_complete && !out.completed)
        add(std::string("stopped at ") + out.step + " with 0x" + [&] {
            char b[16];
            snprintf(b, sizeof b, "%x", unsigned(out.code));
            return std::string(b);
        }());
    if (plan.mode == Mode::Interrupt) {
        int reported = g_interrupt_lines.load();
        for (const std::string &l : g_sink_lines)
            if (l.find("EINTR") != std::string::npos || l.find("Interrupted") != std::string::npos)
                ++reported;
        if (reported > 0)
            add("an interrupted call was reported");
    }
    if (s.runtime) {
        const size_t live_after = orv_mem_live_count();
        if (live_after != live_before)
            add("tracked blocks left: " + std::to_string(live_after) + " (before " +
                std::to_string(live_before) + ")");
        orv_base_uninit();
    }
    for (const std::string &l : leak_lines())
        add("leak report: " + l);
    if (s.check) {
        const std::string c = s.check(out);
        if (!c.empty())
            add(c);
    }
#ifdef FAULT_LSAN
    if (g_lsan_each_run && __lsan_do_recoverable_leak_check() != 0)
        add("LeakSanitizer found system blocks left");
#endif
    return problem;
}

// The reference run (nothing fails) must complete and reach the expected calls.
Sweep sweep(const Scenario &s, Plan plan)
{
    Sweep result;
    for (long n = 1; n <= kMaxRuns; ++n) {
        plan.target = n;
        bool fired = false;
        const std::string p = run_once(s, plan, &fired);
        ++result.runs;
        if (!p.empty())
            result.problems.push_back(p);
        if (plan.mode == Mode::Interrupt || plan.mode == Mode::Short) {
            result.points = fault::calls(); // one run covers every call
            break;
        }
        if (!fired)
            break;
        ++result.points;
    }
#ifdef FAULT_LSAN
    if (__lsan_do_recoverable_leak_check() != 0) {
        g_lsan_each_run = true;
        for (long n = 1; n <= result.runs; ++n) {
            plan.target = n;
            bool fired = false;
            const std::string p = run_once(s, plan, &fired);
            if (p.find("LeakSanitizer") != std::string::npos) {
                result.problems.push_back(p);
                break;
            }
        }
        g_lsan_each_run = false;
    }
#endif
    return result;
}

void reference(const Scenario &s)
{
    bool fired = false;
    const std::string p = run_once(s, Plan{Class::Alloc, Mode::Fail, 0, false}, &fired);
    ASSERT_TRUE(p.empty()) << p;
    for (const std::vector<fault::Op> &group : s.expect_ops) {
        long seen = 0;
        std::string names;
        for (fault::Op op : group) {
            seen += fault::op_calls(op);
            names += std::string(names.empty() ? "" : " or ") + fault::op_name(op);
        }
        EXPECT_GT(seen, 0) << s.name << ": no " << names
                           << " call reached the wrappers; the wrap list misses this target's symbol name";
    }
}

// Every mode for one scenario; prints the figures for the record.
enum Reach { kMemory, kFiles, kSockets };

void run_all(const Scenario &s, Reach reach)
{
    const bool io = reach != kMemory;
    reference(s);
    if (::testing::Test::HasFatalFailure())
        return;
    struct Step {
        Plan plan;
        bool wanted;
    } steps[] = {
        {{Class::Alloc, Mode::Fail, 0, false}, true},
        {{Class::Alloc, Mode::Fail, 0, true}, true},
        {{Class::Io, Mode::Fail, 0, false}, io},
        {{Class::Io, Mode::Fail, 0, true}, io},
        {{Class::Io, Mode::Interrupt, 0, false}, io},
        {{Class::Io, Mode::Short, 0, false}, io},
        {{Class::Io, Mode::WouldBlock, 0, false}, reach == kSockets},
    };
    for (const Step &step : steps) {
        if (!step.wanted)
            continue;
        const Sweep r = sweep(s, step.plan);
        std::string name = describe(s, step.plan);
        name.resize(name.rfind(" N="));
        const char *what = step.plan.mode == Mode::Interrupt ? "calls interrupted"
                           : step.plan.mode == Mode::Short   ? "calls cut short"
                                                             : "failure points";
        printf("[ fault    ] %-32s %5ld %-17s %5ld runs, %zu unsound\n", name.c_str(), r.points, what, r.runs,
               r.problems.size());
        for (size_t i = 0; i < r.problems.size() && i < 8; ++i)
            ADD_FAILURE() << r.problems[i];
        EXPECT_LT(r.runs, kMaxRuns) << name << " never completed";
    }
}

// ---- scenario: runtime start-up with the thread module --------------------

Outcome runtime_startup()
{
    Outcome o;
    ResultCode rc = orv_base_init(keep_line, ORV_BASE_THREADS | ORV_BASE_WORK_FROM_CWD, nullptr, nullptr);
    if (rc != ORV_OK) {
        // A start-up that failed leaves nothing running and nothing behind.
        if (orv_mem_live_count() != 0)
            o.wrong("a failed start-up left %zu tracked blocks", orv_mem_live_count());
        if (get_runtime_flags() != 0)
            o.wrong("a failed start-up left the flags 0x%x", get_runtime_flags());
        return o.stop("init", rc);
    }
    if (!(get_runtime_flags() & ORV_BASE_THREADS) || get_work_path()[0] == '\0')
        o.wrong("start-up state incomplete");
    if ((rc = orv_global_slot_set(5, 55)) == ORV_OK && orv_global_slot_get(5) != 55)
        o.wrong("registry lost a value");
    orv_base_uninit();
    if (rc != ORV_OK)
        return o.stop("slot", rc);
    return o.done();
}

TEST(FaultInjection, RuntimeStartup)
{
    run_all({"runtime", false, nullptr, runtime_startup, nullptr, {{fault::kMalloc}}}, kMemory);
}

// ---- scenario: hash tables -------------------------------------------------

Outcome hash_tables()
{
    Outcome o;
    OrvHash *t = orv_hash_create(256);
    if (!t)
        return o.stop("create", ORV_FAIL);
    char key[32];
    char blob[40];
    ResultCode rc = ORV_OK;
    for (int i = 0; i < 40 && rc == ORV_OK; ++i) {
        snprintf(key, sizeof key, "key-%d", i);
        rc = orv_hash_insert_str(t, reinterpret_cast<void *>(uintptr_t(i + 1)), key);
    }
    for (int i = 0; i < 20 && rc == ORV_OK; ++i) {
        snprintf(key, sizeof key, "blob-%d", i);
        memset(blob, 'a' + i, sizeof blob);
        rc = orv_hash_insert_blob_str(t, blob, 10 + i, key);
    }
    if (rc != ORV_OK) {
        orv_hash_destroy(t);
        return o.stop("insert", rc);
    }
    int32_t len = 0;
    if (orv_hash_set_blob_str(t, "longer than before, longer still", 33, "blob-3") != ORV_OK) {
        orv_hash_destroy(t);
        return o.stop("set_blob_str", ORV_FAIL);
    }
    const char *b = static_cast<const char *>(orv_hash_get_blob_str(t, "blob-3", &len));
    if (!b || len != 33 || strcmp(b, "longer than before, longer still") != 0)
        o.wrong("blob-3 after set");
    int walked = 0;
    for (OrvHashEntry *e = orv_hash_first_entry(t); e; e = orv_hash_next_entry(t))
        ++walked;
    if (walked != 60)
        o.wrong("walk saw %d entries", walked);
    OrvHash *c = orv_hash_clone(t);
    if (!c) {
        orv_hash_destroy(t);
        return o.stop("clone", ORV_FAIL);
    }
    if (orv_hash_count(c) != 60 || orv_hash_find_str(c, "key-17") != reinterpret_cast<void *>(18))
        o.wrong("clone lost entries");
    b = static_cast<const char *>(orv_hash_get_blob_str(c, "blob-7", &len));
    if (!b || len != 17 || b[16] != 'h')
        o.wrong("clone lost a blob");
    orv_hash_remove_str(c, "key-3");
    if (orv_hash_count(c) != 59 || orv_hash_count(t) != 60)
        o.wrong("remove counted wrong");
    orv_hash_destroy(c);
    orv_hash_destroy(t);

    OrvHash *n = orv_hash_create(0);
    if (!n)
        return o.stop("create numeric", ORV_FAIL);
    for (uintptr_t k = 1; k <= 30 && rc == ORV_OK; ++k)
        rc = orv_hash_insert_blob(n, &k, sizeof k, k * 977);
    OrvHash *nc = rc == ORV_OK ? orv_hash_clone(n) : nullptr;
    if (rc == ORV_OK && nc) {
        const uintptr_t *v = static_cast<const uintptr_t *>(orv_hash_get_blob(nc, 29 * 977, &len));
        if (!v || *v != 29 || len != int32_t(sizeof(uintptr_t)))
            o.wrong("numeric clone lost a blob");
    }
    orv_hash_destroy(nc);
    orv_hash_destroy(n);
    if (rc != ORV_OK)
        return o.stop("insert numeric blob", rc);
    if (!nc)
        return o.stop("clone numeric", ORV_FAIL);
    return o.done();
}

TEST(FaultInjection, HashTables)
{
    run_all({"hash", true, nullptr, hash_tables, nullptr, {}}, kMemory);
}

// ---- scenario: URL and connection descriptions -----------------------------

Outcome url_and_desc()
{
    Outcome o;
    const char *url = "http://10.0.0.2:8000/live/stream.m3u8?token=abc&x=1";
    char *composed = orv_url_compose(url, "player/2.1 (device)", "Accept: */*\r\nX-Id: 7");
    if (!composed)
        return o.stop("url compose", ORV_FAIL);
    char *base = nullptr, *ua = nullptr, *header = nullptr;
    ResultCode rc = orv_url_parse(composed, &base, &ua, &header);
    if (rc == ORV_OK) {
        if (!base || strcmp(base, url) != 0)
            o.wrong("url base came back as %s", base ? base : "(null)");
        if (!ua || strcmp(ua, "player/2.1 (device)") != 0)
            o.wrong("user agent lost");
        if (!header || strcmp(header, "Accept: */*\r\nX-Id: 7") != 0)
            o.wrong("header lost");
    }
    orv_free(composed);
    orv_free(base);
    orv_free(ua);
    orv_free(header);
    if (rc != ORV_OK)
        return o.stop("url parse", rc);

    const char *channel = "127.0.0.1:5000", *remote = "10.1.2.3:554:555";
    static char text_space[4096];
    if (orv_tcp_desc_compose_size(channel, remote) > int32_t(sizeof text_space))
        return o.wrong("compose size");
    char *const text = text_space;
    if ((rc = orv_tcp_desc_compose(channel, remote, text)) != ORV_OK)
        return o.stop("desc compose", rc);
    char *ch = nullptr, *re = nullptr;
    rc = orv_tcp_desc_parse(text, &ch, &re);
    if (rc == ORV_OK && (!ch || !re || strcmp(ch, channel) != 0 || strcmp(re, remote) != 0))
        o.wrong("description parse gave %s / %s", ch ? ch : "(null)", re ? re : "(null)");
    orv_free(ch);
    orv_free(re);
    if (rc != ORV_OK)
        return o.stop("desc parse", rc);

    TcpDesc *d = orv_tcp_desc_create(text, 1);
    if (!d)
        return o.stop("desc create", ORV_FAIL);
    int64_t wait = 0;
    char host[32];
    int32_t port = 0, port2 = 0;
    if ((rc = orv_tcp_desc_set_wait_timeout(d, 2500)) == ORV_OK &&
        (rc = orv_tcp_desc_set_remote(d, "10.9.8.7", 80)) == ORV_OK &&
        (rc = orv_tcp_desc_get_wait_timeout(d, &wait)) == ORV_OK &&
        (rc = orv_tcp_desc_get_channel2(d, host, sizeof host, &port, &port2)) == ORV_OK) {
        if (wait != 2500 || strcmp(host, "127.0.0.1") != 0 || port != 5000)
            o.wrong("description values changed");
        int32_t size = 0;
        static char out[4096];
        if ((rc = orv_tcp_desc_text(d, nullptr, &size)) == ORV_OK && size < int32_t(sizeof out)) {
            memset(out, 0, sizeof out);
            rc = orv_tcp_desc_text(d, out, &size);
            if (rc == ORV_OK && !strstr(out, "10.9.8.7:80"))
                o.wrong("description text lost the remote");
        }
    }
    orv_tcp_desc_release(d);
    if (rc != ORV_OK)
        return o.stop("desc accessors", rc);
    return o.done();
}

TEST(FaultInjection, UrlAndConnectionDescription)
{
    run_all({"url+desc", true, nullptr, url_and_desc, nullptr, {}}, kMemory);
}

// ---- scenario: character-set conversion -----------------------------------

Outcome conversion()
{
    Outcome o;
    static const char gb[] = "\xc4\xe3\xba\xc3 player"; // "ni hao" in GB2312
    static const char utf8[] = "\xe4\xbd\xa0\xe5\xa5\xbd player";
    char out[64] = {};
    if (orv_gb2312_to_utf8(gb, strlen(gb), out, sizeof out - 1) != 0)
        return o.stop("gb2312 to utf-8", ORV_FAIL);
    if (strcmp(out, utf8) != 0)
        o.wrong("gb2312 to utf-8 gave other bytes");
    // The text itself comes back when the conversion fails.
    const char *back = orv_convert_text(utf8, 4, 2);
    if (back == utf8)
        return o.stop("utf-8 to gb2312", ORV_FAIL);
    if (!back || strcmp(back, gb) != 0)
        o.wrong("utf-8 to gb2312 gave other bytes");
    orv_convert_text_free(utf8, back);
    return o.done();
}

TEST(FaultInjection, CharacterSetConversion)
{
#if ORV_TEST_CHARSETS_OPTIONAL
    // As in the iconv tests: the cross builds' C library may have no GB2312.
    iconv_t cd = iconv_open("UTF-8", "GB2312");
    if (cd == reinterpret_cast<iconv_t>(-1))
        GTEST_SKIP() << "the target's C library has no GB2312 converter";
    iconv_close(cd);
#endif
    run_all({"iconv", true, nullptr, conversion, nullptr, {{fault::kIconvOpen}}}, kMemory);
}

// ---- scenario: dump log ----------------------------------------------------

Outcome dump_log()
{
    Outcome o;
    orv_dump_log *log = orv_dump_log_create();
    if (!log)
        return o.stop("create", ORV_FAIL);
    ResultCode rc = orv_dump_log_attach(log);
    if (rc != ORV_OK) {
        orv_dump_log_destroy(log);
        return o.stop("attach", rc);
    }
    // Past the first 64 KiB, so the stream grows.
    static char line[3000];
    static char accepted[96 * 1024];
    size_t used = 0;
    for (int i = 0; i < 30; ++i) {
        memset(line, 'a' + i % 26, sizeof line - 1);
        line[sizeof line - 1] = '\0';
        snprintf(line, 16, "line %02d:", i);
        line[strlen(line)] = ' ';
        if (orv_dump_log_write(line) == ORV_OK && used + strlen(line) < sizeof accepted) {
            memcpy(accepted + used, line, strlen(line));
            used += strlen(line);
        }
    }
    orv_log(LOG_TO_DUMP, ORV_FAIL, "VRE: VR: a failure for the host");
    uint32_t size = 0;
    rc = orv_dump_log_read(log, nullptr, &size);
    static char buffer[128 * 1024];
    if (rc == ORV_OK) {
        if (size >= sizeof buffer)
            size = sizeof buffer - 1;
        uint32_t want = size;
        rc = orv_dump_log_read(log, buffer, &want);
        if (rc == ORV_OK) {
            buffer[size] = '\0';
            // Every write that reported success is there, in order.
            if (size < used || memcmp(buffer, accepted, used) != 0)
                o.wrong("dump log lost a line it accepted");
        }
    }
    orv_dump_log_destroy(log);
    if (rc != ORV_OK)
        return o.stop("read", rc);
    return o.done();
}

TEST(FaultInjection, DumpLog)
{
    run_all({"dump log", true, nullptr, dump_log, nullptr, {}}, kMemory);
}

// ---- scenario: threads with slots ------------------------------------------

struct Worker {
    OrvThread thread{};
    std::atomic<int> state{0}; // 1: slots set, -1: a set failed
};

void worker_proc(void *arg)
{
    auto *w = static_cast<Worker *>(arg);
    OrvThread *self = orv_thread_current();
    ResultCode rc = self ? ORV_OK : ORV_FAIL;
    for (uintptr_t k = 1; k <= 8 && rc == ORV_OK; ++k)
        rc = self->set_slot(self, k, k * 10);
    if (rc == ORV_OK)
        rc = self->set_slot(self, 0, 77);
    w->state = rc == ORV_OK ? 1 : -1;
    orv_event_wait(self->event, 0);
}

Outcome threads()
{
    Outcome o;
    ResultCode rc = orv_thread_module_init();
    if (rc != ORV_OK) {
        orv_thread_module_uninit();
        return o.stop("module init", rc);
    }
    if ((rc = orv_global_slot_set(0, 7)) == ORV_OK)
        rc = orv_global_slot_set(42, 9);
    if (rc == ORV_OK && (orv_global_slot_get(0) != 7 || orv_global_slot_get(42) != 9))
        o.wrong("registry lost a value");
    Worker workers[2];
    int created = 0;
    for (Worker &w : workers) {
        if (rc != ORV_OK)
            break;
        rc = orv_thread_create(&w, worker_proc, &w.thread);
        if (rc == ORV_OK)
            ++created;
    }
    bool slots_ok = true;
    for (int i = 0; i < created; ++i) {
        Worker &w = workers[i];
        while (w.state.load() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (w.state.load() < 0)
            slots_ok = false;
        else if (w.thread.get_slot(&w.thread, 5) != 50 || w.thread.get_slot(&w.thread, 0) != 77)
            o.wrong("a thread slot lost its value");
    }
    for (Worker &w : workers)
        orv_thread_stop(&w.thread);
    orv_thread_module_uninit();
    if (rc != ORV_OK)
        return o.stop("create", rc);
    if (!slots_ok)
        return o.stop("set_slot", ORV_FAIL);
    return o.done();
}

TEST(FaultInjection, ThreadsWithSlots)
{
    run_all({"threads", true, nullptr, threads, nullptr, {}}, kMemory);
}

// ---- scenario: memory and file streams, file copy --------------------------

std::string g_stream_dir, g_stream_src, g_stream_dst;
std::string g_pattern;

const std::string &pattern()
{
    if (g_pattern.empty()) {
        g_pattern.resize(100000);
        for (size_t i = 0; i < g_pattern.size(); ++i)
            g_pattern[i] = char('A' + (i * 7 + i / 251) % 26);
    }
    return g_pattern;
}

// Writes all of data, as a caller of the stream must.
ResultCode write_all(xio *s, const char *data, size_t n)
{
    while (n > 0) {
        int32_t done = 0;
        const ResultCode rc = s->vt.write(s, data, int32_t(n), &done);
        if (rc != ORV_OK)
            return rc;
        if (done <= 0)
            return ORV_FAIL;
        data += done;
        n -= size_t(done);
    }
    return ORV_OK;
}

Outcome streams()
{
    Outcome o;
    const std::string &p = pattern();
    static char back[100000];
    xio *m = orv_io_stream_create(0, "./fault", 1);
    if (!m)
        return o.stop("memory create", ORV_FAIL);
    ResultCode rc = write_all(m, p.data(), p.size());
    if (rc == ORV_OK) {
        m->vt.seek(m, 0, XIO_SEEK_SET);
        int32_t got = 0;
        rc = m->vt.read(m, back, sizeof back, &got);
        if (rc == ORV_OK && (got != int32_t(p.size()) || memcmp(back, p.data(), p.size()) != 0))
            o.wrong("memory stream gave back other bytes");
    }
    m->vt.release(m);
    if (rc != ORV_OK)
        return o.stop("memory write", rc);

    // Paths made before the run: test code allocates nothing while armed.
    const std::string &src = g_stream_src, &dst = g_stream_dst;
    xio_file *f = orv_io_file_create();
    if (!f)
        return o.stop("file create", ORV_FAIL);
    xio *fs = reinterpret_cast<xio *>(f);
    rc = fs->vt.open(fs, src.c_str(), XIO_FILE_CREATE);
    if (rc == ORV_OK)
        rc = write_all(fs, p.data(), p.size());
    fs->vt.close(fs);
    if (rc == ORV_OK && (rc = fs->vt.open(fs, src.c_str(), XIO_FILE_READ)) == ORV_OK) {
        size_t have = 0;
        while (rc == ORV_OK && have < p.size()) {
            int32_t got = 0;
            rc = fs->vt.read(fs, back + have, uint32_t(sizeof back - have), &got);
            if (rc == ORV_OK && got == 0)
                break;
            have += size_t(got);
        }
        if (rc == ORV_OK && (have != p.size() || memcmp(back, p.data(), have) != 0))
            o.wrong("file read back other bytes");
    }
    fs->vt.release(fs);
    if (rc != ORV_OK)
        return o.stop("file write/read", rc);
    if ((rc = orv_file_copy(src.c_str(), dst.c_str())) != ORV_OK)
        return o.stop("copy", rc);
    return o.done();
}

// A temporary file may stay only when removing it failed too.
bool debris_allowed()
{
    return fault::op_failed(fault::kUnlink) > 0;
}

std::string streams_check(const Outcome &o)
{
    bool exists = false;
    const std::string copy = read_file(g_stream_dir + "/copy.bin", &exists);
    if (o.completed && copy != pattern())
        return "copy reported success but differs from the source";
    if (exists && copy != pattern())
        return "a failed copy left a partial destination of " + std::to_string(copy.size()) + " bytes";
    for (const std::string &n : dir_names(g_stream_dir))
        if (n != "source.bin" && n != "copy.bin" && !debris_allowed())
            return "the copy left " + n + " behind";
    return "";
}

TEST(FaultInjection, StreamsAndFileCopy)
{
    const ScratchDir scratch("streams");
    g_stream_dir = scratch.path;
    g_stream_src = g_stream_dir + "/source.bin";
    g_stream_dst = g_stream_dir + "/copy.bin";
    Scenario s{"streams",
               true,
               [] {
                   for (const std::string &n : dir_names(g_stream_dir))
                       unlink((g_stream_dir + "/" + n).c_str());
               },
               streams,
               streams_check,
               {{fault::kOpen, fault::kOpenat}, {fault::kRead}, {fault::kWrite}, {fault::kClose}}};
    run_all(s, kFiles);
}

// A copy over an existing file: every failure leaves the old file whole.
std::string g_copy_dir, g_copy_src, g_copy_dst;

Outcome copy_over()
{
    Outcome o;
    const std::string &src = g_copy_src, &dst = g_copy_dst;
    const ResultCode rc = orv_file_copy(src.c_str(), dst.c_str());
    if (rc != ORV_OK)
        return o.stop("copy", rc);
    return o.done();
}

std::string copy_over_check(const Outcome &o)
{
    const std::string now = read_file(g_copy_dir + "/old.bin");
    if (dir_names(g_copy_dir).size() != 2 && !debris_allowed())
        return "the copy left a file behind";
    if (o.completed) {
        struct stat st {};
        stat((g_copy_dir + "/old.bin").c_str(), &st);
        if (now != pattern())
            return "the copy reported success but the destination differs";
        if ((st.st_mode & 0777) != 0640)
            return "the copy changed the destination's permissions";
        return "";
    }
    return now == "the old contents"
               ? ""
               : "a failed copy changed the destination (" + std::to_string(now.size()) + " bytes)";
}

TEST(FaultInjection, FileCopyOverAnExistingFile)
{
    const ScratchDir scratch("copy");
    g_copy_dir = scratch.path;
    g_copy_src = g_copy_dir + "/new.bin";
    g_copy_dst = g_copy_dir + "/old.bin";
    auto setup = [] {
        for (const std::string &n : dir_names(g_copy_dir))
            unlink((g_copy_dir + "/" + n).c_str());
        write_file(g_copy_dir + "/new.bin", pattern());
        write_file(g_copy_dir + "/old.bin", "the old contents");
        chmod((g_copy_dir + "/old.bin").c_str(), 0640);
    };
    run_all({"copy over", true, setup, copy_over, copy_over_check, {{fault::kRead}, {fault::kWrite}}},
            kFiles);
}

// A copy onto a chain of two links whose end does not exist yet: the file is
// made there, or, after any failure, not at all; the links stay links.
std::string g_chain_dir, g_chain_src, g_chain_dst;

Outcome copy_through_links()
{
    Outcome o;
    const ResultCode rc = orv_file_copy(g_chain_src.c_str(), g_chain_dst.c_str());
    if (rc != ORV_OK)
        return o.stop("copy", rc);
    return o.done();
}

std::string copy_through_links_check(const Outcome &o)
{
    struct stat st {};
    for (const char *link : {"/first", "/sub/second"})
        if (lstat((g_chain_dir + link).c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return std::string("the link ") + link + " is gone";
    bool exists = false;
    const std::string end = read_file(g_chain_dir + "/end.bin", &exists);
    if (o.completed && end != pattern())
        return "the copy reported success but the link's target differs";
    if (!o.completed && exists)
        return "a failed copy left a target of " + std::to_string(end.size()) + " bytes";
    if (!debris_allowed())
        for (const std::string &dir : {g_chain_dir, g_chain_dir + "/sub"})
            for (const std::string &n : dir_names(dir))
                if (n != "new.bin" && n != "first" && n != "sub" && n != "second" && n != "end.bin")
                    return "the copy left " + n + " behind";
    return "";
}

TEST(FaultInjection, FileCopyThroughDanglingLinks)
{
    const ScratchDir scratch("links");
    g_chain_dir = scratch.path;
    g_chain_src = g_chain_dir + "/new.bin";
    g_chain_dst = g_chain_dir + "/first";
    mkdir((g_chain_dir + "/sub").c_str(), 0755);
    auto setup = [] {
        for (const std::string &dir : {g_chain_dir, g_chain_dir + "/sub"})
            for (const std::string &n : dir_names(dir))
                if (n != "sub")
                    unlink((dir + "/" + n).c_str());
        write_file(g_chain_dir + "/new.bin", pattern());
        symlink("sub/second", (g_chain_dir + "/first").c_str());
        symlink("../end.bin", (g_chain_dir + "/sub/second").c_str());
    };
    run_all({"copy through links",
             true,
             setup,
             copy_through_links,
             copy_through_links_check,
             {{fault::kReadlink}, {fault::kRename}}},
            kFiles);
}

// ---- scenario: directories made and removed -------------------------------

std::string g_tree_dir, g_tree_root, g_tree_deep, g_tree_files[3];

Outcome directory_tree()
{
    Outcome o;
    ResultCode rc = orv_mkdir_path(g_tree_deep.c_str());
    if (rc != ORV_OK)
        return o.stop("mkdir_path", rc);
    for (const std::string &path : g_tree_files) {
        xio_file *f = orv_io_file_create();
        if (!f)
            return o.stop("file create", ORV_FAIL);
        xio *fs = reinterpret_cast<xio *>(f);
        rc = fs->vt.open(fs, path.c_str(), XIO_FILE_CREATE);
        if (rc == ORV_OK)
            rc = write_all(fs, "some bytes", 10);
        fs->vt.release(fs);
        if (rc != ORV_OK)
            return o.stop("file write", rc);
    }
    if ((rc = orv_remove_tree(g_tree_root.c_str())) != ORV_OK)
        return o.stop("remove_tree", rc);
    return o.done();
}

std::string directory_check(const Outcome &o)
{
    struct stat st {};
    if (read_file(g_tree_dir + "/keep.txt") != "kept")
        return "a file beside the tree was touched";
    if (o.completed && lstat(g_tree_root.c_str(), &st) == 0)
        return "remove_tree reported success but the tree is there";
    return "";
}

TEST(FaultInjection, DirectoriesMadeAndRemoved)
{
    const ScratchDir scratch("tree");
    g_tree_dir = scratch.path;
    g_tree_root = g_tree_dir + "/a";
    g_tree_deep = g_tree_root + "/b/c/d";
    g_tree_files[0] = g_tree_root + "/one.txt";
    g_tree_files[1] = g_tree_root + "/b/two.txt";
    g_tree_files[2] = g_tree_deep + "/three.txt";
    auto setup = [] {
        orv_remove_tree(g_tree_root.c_str());
        write_file(g_tree_dir + "/keep.txt", "kept");
    };
    run_all({"directories",
             true,
             setup,
             directory_tree,
             directory_check,
             {{fault::kMkdir}, {fault::kUnlink}, {fault::kOpendir, fault::kFdopendir}}},
            kFiles);
}

// ---- scenario: XINI configuration file -------------------------------------

std::string g_ini_dir, g_ini_path, g_ini_original, g_ini_saved;

const char *const kConfig = "< player = 2.1; 4; > \r\n"
                            "start of (player) subkeys; \r\n"
                            "  < video = ; 3; > \r\n"
                            "  start of (video) subkeys; \r\n"
                            "    < width = 1280; > \r\n"
                            "    < height = 720; > \r\n"
                            "    < format = rgb565; > \r\n"
                            "  end of (video) subkeys; \r\n"
                            "  < network = ; 2; > \r\n"
                            "  start of (network) subkeys; \r\n"
                            "    < remote = 10.0.0.2:8000; > \r\n"
                            "    < timeout = 5000; > \r\n"
                            "  end of (network) subkeys; \r\n"
                            "  < log = dump; > \r\n"
                            "  < recent = ; 2; > \r\n"
                            "  start of (recent) subkeys; \r\n"
                            "    < a = /sdcard/Movies/one.mp4; > \r\n"
                            "    < b = /sdcard/Movies/two.mp4; > \r\n"
                            "  end of (recent) subkeys; \r\n"
                            "end of (player) subkeys; \r\n";

Outcome xini_file()
{
    Outcome o;
    XiniTree *t = nullptr;
    ResultCode rc = orv_ini_open(g_ini_path.c_str(), nullptr, XINI_OPEN_RW, nullptr, &t);
    if (rc != ORV_OK)
        return o.stop("open", rc);
    XiniNode *key = nullptr;
    int32_t width = 0;
    if ((rc = t->vt.find_path(t, "video\\\\width\\\\", &key)) == ORV_OK &&
        (rc = t->vt.get_int(t, key, &width)) == ORV_OK && width != 1280)
        o.wrong("width read as %d", width);
    if (rc == ORV_OK)
        rc = t->vt.set_int(t, key, 1920);
    if (rc == ORV_OK && (rc = t->vt.find_path(t, "network\\\\timeout\\\\", &key)) == ORV_OK)
        rc = t->vt.set_string(t, key, "8000");
    if (rc == ORV_OK)
        rc = t->vt.create_key_by_path(t, "network\\\\", "proxy", "10.0.0.9:3128", &key);
    if (rc == ORV_OK)
        rc = t->vt.delete_key_by_path(t, "recent\\\\a\\\\");
    static const uint8_t bytes[100] = {1, 2, 3, 250, 251, 252};
    if (rc == ORV_OK)
        rc = t->vt.set_value(t, nullptr, "key blob", XINI_TYPE_BINARY_R64, sizeof bytes, bytes, &key);
    // A change that failed is not saved: the host drops the tree.
    if (rc != ORV_OK)
        t->vt.set_flags(t, t->vt.get_flags(t) | XINI_READ_ONLY);
    const ResultCode saved = orv_ini_close(t);
    if (rc != ORV_OK)
        return o.stop("change", rc);
    if (saved != ORV_OK)
        return o.stop("save", saved);
    return o.done();
}

std::string xini_check(const Outcome &o)
{
    const std::string now = read_file(g_ini_path);
    const std::vector<std::string> names = dir_names(g_ini_dir);
    if (names.size() != 1 && !debris_allowed())
        return "the directory holds " + std::to_string(names.size()) + " files after the save";
    if (g_ini_saved.empty())
        return ""; // the reference run records the saved text
    if (now != g_ini_original && now != g_ini_saved)
        return "the configuration file is neither the original nor the saved tree (" +
               std::to_string(now.size()) + " bytes)";
    if (o.completed && now != g_ini_saved)
        return "the save reported success but the file holds the old tree";
    return "";
}

TEST(FaultInjection, XiniConfigurationFile)
{
    const ScratchDir scratch("xini");
    g_ini_dir = scratch.path;
    g_ini_path = g_ini_dir + "/player.cfg";
    g_ini_original = kConfig;
    auto setup = [] {
        for (const std::string &n : dir_names(g_ini_dir))
            unlink((g_ini_dir + "/" + n).c_str());
        write_file(g_ini_path, g_ini_original);
    };
    Scenario s{"xini",
               true,
               setup,
               xini_file,
               xini_check,
               {{fault::kOpen, fault::kOpenat},
                {fault::kRead},
                {fault::kWrite},
                {fault::kFsync, fault::kFdatasync},
                {fault::kRename, fault::kRenameat}}};
    g_ini_saved.clear();
    bool fired = false;
    ASSERT_EQ(run_once(s, Plan{}, &fired), "");
    g_ini_saved = read_file(g_ini_path);
    ASSERT_NE(g_ini_saved, g_ini_original);
    ASSERT_NE(g_ini_saved.find("1920"), std::string::npos);
    run_all(s, kFiles);
}

// The same configuration read from a memory stream and written to another.
std::string g_ini_stream_reference;

Outcome xini_stream()
{
    Outcome o;
    xio *in = orv_io_stream_create(0, "./fault", 3);
    if (!in)
        return o.stop("stream create", ORV_FAIL);
    int32_t put = 0;
    ResultCode rc = in->vt.write(in, kConfig, int32_t(strlen(kConfig)), &put);
    XiniTree *t = nullptr;
    if (rc == ORV_OK)
        rc = orv_ini_open(nullptr, in, XINI_READ_ONLY, nullptr, &t);
    xio *out = rc == ORV_OK ? orv_io_stream_create(0, "./fault", 4) : nullptr;
    if (rc == ORV_OK && !out)
        rc = ORV_FAIL;
    if (rc == ORV_OK)
        rc = orv_ini_write(t, out);
    if (rc == ORV_OK) {
        XioParam view{};
        out->vt.get(out, XIO_MEM_GET_VIEW, &view);
        static char text[4096];
        const size_t n = size_t(view.length) < sizeof text ? size_t(view.length) : sizeof text - 1;
        memcpy(text, reinterpret_cast<const void *>(view.buffer), n);
        text[n] = '\0';
        if (!g_ini_stream_reference.empty() &&
            (n != g_ini_stream_reference.size() || memcmp(text, g_ini_stream_reference.data(), n) != 0))
            o.wrong("the tree written differs from the reference run (%zu bytes)", n);
    }
    orv_ini_close(t);
    if (out)
        out->vt.release(out);
    in->vt.release(in);
    if (rc != ORV_OK)
        return o.stop("open/write", rc);
    return o.done();
}

TEST(FaultInjection, XiniThroughMemoryStreams)
{
    g_ini_stream_reference.clear();
    // The reference text: the tree as a run without faults writes it.
    ASSERT_EQ(orv_base_init(keep_line, 0, nullptr, nullptr), ORV_OK);
    {
        xio *in = orv_io_stream_create(0, "./fault", 5);
        int32_t put = 0;
        in->vt.write(in, kConfig, int32_t(strlen(kConfig)), &put);
        XiniTree *t = nullptr;
        ASSERT_EQ(orv_ini_open(nullptr, in, XINI_READ_ONLY, nullptr, &t), ORV_OK);
        xio *out = orv_io_stream_create(0, "./fault", 6);
        ASSERT_EQ(orv_ini_write(t, out), ORV_OK);
        XioParam view{};
        out->vt.get(out, XIO_MEM_GET_VIEW, &view);
        g_ini_stream_reference.assign(reinterpret_cast<const char *>(view.buffer), size_t(view.length));
        orv_ini_close(t);
        out->vt.release(out);
        in->vt.release(in);
    }
    orv_base_uninit();
    ASSERT_GT(g_ini_stream_reference.size(), strlen(kConfig) / 2);
    run_all({"xini streams", true, nullptr, xini_stream, nullptr, {}}, kMemory);
}

// ---- scenario: TCP over loopback -------------------------------------------

std::string g_listen_text;
uint32_t g_client_mode = 0;

bool timed_out(std::chrono::steady_clock::time_point start, int ms = 3000)
{
    return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(ms);
}

// Moves n bytes from one stream to the other; a stream that keeps answering
// "would block" with no failure reported first counts as a hang.
ResultCode pump(xio *from, xio *to, const char *data, size_t n, char *into, Outcome &o)
{
    size_t sent = 0, got = 0;
    const auto start = std::chrono::steady_clock::now();
    while (got < n) {
        if (sent < n) {
            int32_t done = 0;
            const ResultCode rc = from->vt.write(from, data + sent, int32_t(n - sent), &done);
            if (ORV_FAILED(rc))
                return rc;
            if (rc == ORV_OK)
                sent += size_t(done);
        }
        int32_t done = 0;
        const ResultCode rc = to->vt.read(to, into + got, uint32_t(n - got), &done);
        if (ORV_FAILED(rc))
            return rc;
        if (rc == ORV_EOF)
            return ORV_FAIL;
        if (rc == ORV_OK)
            got += size_t(done);
        if (timed_out(start)) {
            o.wrong("transfer stalled at %zu of %zu bytes without a failure code", got, n);
            return ORV_FAIL;
        }
    }
    return ORV_OK;
}

Outcome tcp_loopback()
{
    Outcome o;
    static char into[200000];
    const std::string &p = pattern();
    xio *listener = orv_io_tcp_create();
    if (!listener)
        return o.stop("listener create", ORV_FAIL);
    xio *client = nullptr, *peer = nullptr;
    ResultCode rc = listener->vt.open(listener, g_listen_text.c_str(),
                                      XIO_TCP_LISTEN | XIO_TCP_REUSEADDR | XIO_TCP_NONBLOCK);
    const char *step = "listen";
    if (rc == ORV_OK) {
        step = "client create";
        client = orv_io_tcp_create();
        rc = client ? ORV_OK : ORV_FAIL;
    }
    if (rc == ORV_OK) {
        step = "connect";
        char remote[64];
        snprintf(remote, sizeof remote, "127.0.0.1:%u", unsigned(orv_io_tcp_local_port(listener)));
        char text[1200];
        rc = orv_tcp_desc_compose(nullptr, remote, text);
        if (rc == ORV_OK)
            rc = client->vt.open(client, text, XIO_TCP_NODELAY | g_client_mode);
        // A non-blocking connect completes over later opens.
        const auto start = std::chrono::steady_clock::now();
        while (rc == ORV_WOUNLD_BLOCK && !timed_out(start)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            rc = client->vt.open(client, nullptr, 0);
        }
        if (rc == ORV_WOUNLD_BLOCK) {
            o.wrong("the connect never completed and no failure was reported");
            rc = ORV_FAIL;
        }
    }
    if (rc == ORV_OK) {
        step = "accept";
        const auto start = std::chrono::steady_clock::now();
        do {
            rc = listener->vt.read(listener, &peer, 0, nullptr);
            if (rc == ORV_OK && !peer)
                rc = ORV_FAIL;
            if (rc != ORV_OK && !ORV_FAILED(rc) && timed_out(start, 1000)) {
                // A listener out of descriptors stays open and says so in the
                // error log; it answers "nothing yet" until accepting works.
                if (!(fault::fired() && g_android_lines.load() > 0))
                    o.wrong("accept kept answering 0x%x with a connection pending", unsigned(rc));
                rc = ORV_FAIL;
            }
        } while (rc != ORV_OK && !ORV_FAILED(rc));
    }
    if (rc == ORV_OK) {
        step = "client to peer";
        rc = pump(client, peer, p.data(), p.size(), into, o);
        if (rc == ORV_OK && memcmp(into, p.data(), p.size()) != 0)
            o.wrong("the peer received other bytes");
    }
    if (rc == ORV_OK) {
        step = "peer to client";
        rc = pump(peer, client, p.data(), 3000, into, o);
        if (rc == ORV_OK && memcmp(into, p.data(), 3000) != 0)
            o.wrong("the client received other bytes");
    }
    xio *mem = nullptr;
    if (rc == ORV_OK) {
        step = "gathered write";
        const XioTcpVec v[3] = {{p.data(), 1000}, {p.data() + 1000, 1500}, {p.data() + 2500, 500}};
        int32_t total = 0;
        rc = orv_io_tcp_write_vector(peer, v, 3, &total);
        const auto start = std::chrono::steady_clock::now();
        while (rc == ORV_NEVER_REACH && !timed_out(start))
            rc = orv_io_tcp_write_vector(peer, v, 3, &total);
        // What the gathered write left is sent plainly: the bytes must follow on.
        for (int32_t sent = total; rc == ORV_OK && sent < 3000 && !timed_out(start);) {
            int32_t done = 0;
            rc = peer->vt.write(peer, p.data() + sent, 3000 - sent, &done);
            if (rc == ORV_OK)
                sent += done;
            else if (!ORV_FAILED(rc))
                rc = ORV_OK;
        }
        if (!ORV_FAILED(rc) && rc != ORV_OK)
            rc = ORV_FAIL;
    }
    if (rc == ORV_OK) {
        step = "copy into a memory stream";
        mem = orv_io_stream_create(0, "./fault", 2);
        rc = mem ? orv_io_tcp_copy_to(client, mem, 3000) : ORV_FAIL;
        if (rc == ORV_OK) {
            XioParam view{};
            mem->vt.get(mem, XIO_MEM_GET_VIEW, &view);
            if (view.length != 3000 ||
                memcmp(reinterpret_cast<const void *>(view.buffer), p.data(), 3000) != 0)
                o.wrong("the gathered write and the copy gave other bytes");
        }
    }
    if (mem)
        mem->vt.release(mem);
    if (peer)
        peer->vt.release(peer);
    if (client)
        client->vt.release(client);
    listener->vt.release(listener);
    if (rc != ORV_OK)
        return o.stop(step, rc);
    return o.done();
}

void tcp_sweep(const char *name, uint32_t client_mode)
{
    std::vector<char> text(size_t(orv_tcp_desc_compose_size("127.0.0.1:0", nullptr)));
    ASSERT_EQ(orv_tcp_desc_compose("127.0.0.1:0", nullptr, text.data()), ORV_OK);
    g_listen_text = text.data();
    g_client_mode = client_mode;
    run_all({name,
             true,
             nullptr,
             tcp_loopback,
             nullptr,
             {{fault::kSocket},
              {fault::kBind},
              {fault::kListen},
              {fault::kConnect},
              {fault::kAccept},
              {fault::kSend, fault::kSendto, fault::kSendmsg, fault::kWrite, fault::kWritev},
              {fault::kRecv, fault::kRecvfrom, fault::kRecvmsg, fault::kRead, fault::kReadv},
              {fault::kPoll}}},
            kSockets);
}

// The listener and its accepted stream are non-blocking in both; the client
// blocks in one and connects without blocking in the other.
TEST(FaultInjection, TcpLoopbackBlockingClient)
{
    tcp_sweep("tcp", 0);
}
TEST(FaultInjection, TcpLoopbackNonBlockingClient)
{
    tcp_sweep("tcp nonblocking", XIO_TCP_NONBLOCK);
}

// ---- scenario: the render library as a host uses it ------------------------

struct Host {
    std::atomic<int> handed{0}, released_ok{0}, released_bad{0}, started{0}, errors{0}, events{0};
    std::atomic<int> limit{3}; // frames get_frame hands out
    std::atomic<ResultCode> error{ORV_OK};
    YuvFrame frame{};
};
Host *g_host;

Host *host_of(void *context)
{
    return static_cast<Host *>(context);
}
ResultCode host_event(void *c, int, int, int)
{
    host_of(c)->events++;
    return ORV_OK;
}
ResultCode host_started(void *c)
{
    host_of(c)->started++;
    return ORV_OK;
}
ResultCode host_error(void *c, ResultCode code, int)
{
    host_of(c)->error = code;
    host_of(c)->errors++;
    return ORV_OK;
}
ResultCode host_get_frame(void *c, YuvFrame *f, int *release)
{
    Host *h = host_of(c);
    if (h->handed.load() >= h->limit.load())
        return ORV_WOUNLD_BLOCK;
    h->handed++;
    *f = h->frame;
    *release = 1;
    return ORV_OK;
}
ResultCode host_release(void *c, int, ResultCode result)
{
    (result == ORV_OK ? host_of(c)->released_ok : host_of(c)->released_bad)++;
    return ORV_OK;
}

// Waits until the host got `frames` frames back; a failure that ends the
// render thread is its result, a stall without one is a fault.
ResultCode wait_frames(Host &h, int frames, Outcome &o)
{
    const auto start = std::chrono::steady_clock::now();
    while (h.released_ok.load() + h.released_bad.load() < frames && h.errors.load() == 0 && !timed_out(start))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (h.errors.load() != 0)
        return h.error.load();
    if (h.released_ok.load() < frames) {
        o.wrong("%d frames were not rendered within 3 s and no failure was reported", frames);
        return ORV_FAIL;
    }
    return ORV_OK;
}
const HostCallbacks kCallbacks = {host_event, host_started, host_error, host_get_frame, host_release};

struct Display {
    JavaVM *vm = nullptr;
    ANativeWindow *window = nullptr;
    jobject surface = nullptr;
} g_display;
HostFrame g_frame;
int32_t g_window_format = DEVICE_WINDOW_AUTO;
int32_t g_transform = DEVICE_TRANSFORM_NONE;

Outcome render_path()
{
    Outcome o;
    ResultCode rc = DeviceRenderLibInit(0);
    if (rc != ORV_OK)
        return o.stop("init", rc);
    RenderModule *m = CreateDeviceRendModule(0);
    if (!m) {
        DeviceRenderLibUninit();
        return o.stop("create", ORV_FAIL);
    }
    const char *step = "set_window_format";
    if ((rc = DeviceRendModuleSetWindowFormat(m, g_window_format)) == ORV_OK &&
        (step = "set_transform", rc = DeviceRendModuleSetTransform(m, g_transform)) == ORV_OK &&
        (step = "set_host", rc = m->set_host(m, g_host, &kCallbacks)) == ORV_OK) {
        step = "set_surface";
        rc = m->set_surface(m, g_display.vm, g_display.surface);
    }
    if (rc == ORV_OK) {
        step = "start";
        rc = m->start(m);
    }
    // Three frames, the surface detached and attached again, three more.
    auto render = [&](int frames) { return wait_frames(*g_host, frames, o); };
    if (rc == ORV_OK) {
        step = "render";
        rc = render(3);
    }
    if (rc == ORV_OK) {
        step = "detach";
        rc = m->set_surface(m, nullptr, nullptr);
    }
    if (rc == ORV_OK) {
        step = "attach again";
        rc = m->set_surface(m, g_display.vm, g_display.surface);
    }
    if (rc == ORV_OK) {
        step = "render after attach";
        g_host->limit = 6;
        rc = render(6);
    }
    m->stop(m);
    m->destroy(m);
    if (const size_t live = orv_mem_live_count(); live != 0)
        o.wrong("%zu tracked blocks left after destroy", live);
    DeviceRenderLibUninit();
    if (rc != ORV_OK)
        return o.stop(step, rc);
    if (g_host->started.load() != 1)
        o.wrong("on_started came %d times", g_host->started.load());
    return o.done();
}

uint32_t g_render_pixel = 0;

std::string render_check(const Outcome &o)
{
    std::string problem;
    if (o.completed) {
        OrvStandinBuffer b{};
        if (orv_standin_window_last_posted(g_display.window, &b) != 0)
            problem = "nothing was posted";
        else if (g_render_pixel && orv_standin_buffer_argb(&b, 5, 5) != g_render_pixel)
            problem = "the posted picture differs from the reference run";
        else if (g_window_format != DEVICE_WINDOW_AUTO && b.format != g_window_format)
            problem = "the posted buffer is not in the window format asked for";
        else if ((g_transform & DEVICE_TRANSFORM_ROTATE_90) && b.width != g_frame.height)
            problem = "the posted buffer is not turned a quarter";
        else
            g_render_pixel = orv_standin_buffer_argb(&b, 5, 5);
    }
    orv_standin_surface_destroy(g_display.surface);
    ANativeWindow_release(g_display.window);
    orv_standin_vm_destroy(g_display.vm);
    g_display = {};
    delete g_host;
    g_host = nullptr;
    return problem;
}

// Before each render run: a host handing out g_frame and a 64x48 window of
// the given format behind a Surface.
template <int32_t WindowFormat>
void render_setup()
{
    g_host = new Host;
    g_host->frame = g_frame.view();
    g_display.vm = orv_standin_vm_create();
    g_display.window = orv_standin_window_create(64, 48, WindowFormat);
    g_display.surface = orv_standin_surface_create(g_display.window);
}

TEST(FaultInjection, RenderLibraryLifecycle)
{
    g_frame = HostFrame::make(64, 48, 8);
    g_frame.fill(81, 90, 240);
    auto setup = render_setup<4>;
    // The library starts its own runtime here; the leak report goes to a sink
    // it chose, so the live count before uninit is what the body checks.
    run_all({"render", false, setup, render_path, render_check, {{fault::kPthreadCreate}, {fault::kNew}}},
            kMemory);
}

// The same through YV12 window buffers: the plane copy allocates nothing, so
// every completed run posts YV12, with the reference run's picture.
TEST(FaultInjection, RenderLibraryYv12Window)
{
    g_frame = HostFrame::make(64, 48, 8);
    g_frame.fill(81, 90, 240);
    g_render_pixel = 0;
    g_window_format = DEVICE_WINDOW_YV12;
    auto setup = render_setup<1>;
    run_all(
        {"render yv12", false, setup, render_path, render_check, {{fault::kPthreadCreate}, {fault::kNew}}},
        kMemory);
    g_window_format = DEVICE_WINDOW_AUTO;
    g_render_pixel = 0;
}

// The same with the picture turned a quarter and mirrored into an RGB565
// window: the turned walk allocates nothing, so every completed run posts a
// buffer of the turned shape with the reference run's picture, on a frame
// whose pixel 5, 5 differs from the unturned one.
TEST(FaultInjection, RenderLibraryTurnedWindow)
{
    g_frame = HostFrame::make(64, 48, 8);
    for (int32_t r = 0; r < g_frame.height; ++r)
        for (int32_t x = 0; x < g_frame.width; ++x)
            g_frame.y[size_t(r) * g_frame.y_stride + x] = uint8_t(16 + 3 * x + r);
    g_render_pixel = 0;
    g_transform = 5;
    auto setup = render_setup<4>;
    run_all(
        {"render turned", false, setup, render_path, render_check, {{fault::kPthreadCreate}, {fault::kNew}}},
        kMemory);
    g_transform = DEVICE_TRANSFORM_NONE;
    g_render_pixel = 0;
}

// ---- scenario: two players in one process ----------------------------------

struct Player {
    Host host;
    Display display;
    RenderModule *module = nullptr;
    bool started_up = false;
};
Player *g_players; // two

ResultCode start_player(Player &p, const char **step)
{
    *step = "init";
    ResultCode rc = DeviceRenderLibInit(0);
    if (rc != ORV_OK)
        return rc;
    p.started_up = true;
    *step = "create";
    if (!(p.module = CreateDeviceRendModule(0)))
        return ORV_FAIL;
    *step = "set_host";
    if ((rc = p.module->set_host(p.module, &p.host, &kCallbacks)) != ORV_OK)
        return rc;
    *step = "set_surface";
    if ((rc = p.module->set_surface(p.module, p.display.vm, p.display.surface)) != ORV_OK)
        return rc;
    *step = "start";
    return p.module->start(p.module);
}

void end_module(Player &p)
{
    if (!p.module)
        return;
    p.module->stop(p.module);
    p.module->destroy(p.module);
    p.module = nullptr;
}

void end_player(Player &p)
{
    end_module(p);
    if (p.started_up)
        DeviceRenderLibUninit();
    p.started_up = false;
}

// Player A starts, then B; A leaves while B renders on; B leaves last.
Outcome two_players()
{
    Outcome o;
    Player &a = g_players[0], &b = g_players[1];
    const char *step = "";
    ResultCode rc = start_player(a, &step);
    if (rc == ORV_OK)
        rc = wait_frames(a.host, 3, o);
    if (rc == ORV_OK)
        rc = start_player(b, &step);
    if (rc == ORV_OK)
        rc = wait_frames(b.host, 3, o);
    end_player(a);
    if (rc == ORV_OK) {
        step = "render after the other player left";
        b.host.limit = 6;
        rc = wait_frames(b.host, 6, o);
    }
    end_module(b);
    if (b.started_up || a.started_up) {
        if (const size_t live = orv_mem_live_count(); live != 0)
            o.wrong("%zu tracked blocks left after destroy", live);
    }
    end_player(b);
    if (rc != ORV_OK)
        return o.stop(step, rc);
    return o.done();
}

TEST(FaultInjection, TwoPlayersInOneProcess)
{
    g_frame = HostFrame::make(64, 48, 8);
    g_frame.fill(81, 90, 240);
    auto setup = [] {
        g_players = new Player[2];
        for (Player &p : std::span(g_players, 2)) {
            p.host.frame = g_frame.view();
            p.display.vm = orv_standin_vm_create();
            p.display.window = orv_standin_window_create(64, 48, 4);
            p.display.surface = orv_standin_surface_create(p.display.window);
        }
    };
    auto check = [](const Outcome &) {
        for (Player &p : std::span(g_players, 2)) {
            orv_standin_surface_destroy(p.display.surface);
            ANativeWindow_release(p.display.window);
            orv_standin_vm_destroy(p.display.vm);
        }
        delete[] g_players;
        g_players = nullptr;
        return std::string();
    };
    run_all({"two players", false, setup, two_players, check, {{fault::kPthreadCreate}}}, kMemory);
}

// ---- scenario: the kept frame redrawn on a new window ----------------------

// Redraw on, one frame, the surface detached and attached again while the
// host has nothing due: the window gets the kept frame, unless its copy found
// no memory, in which case nothing was redrawn, a line said so, and the next
// frame is rendered as ever.
// Sample format of the redraw scenario's frames (DEVICE_SAMPLES_*).
int32_t g_redraw_samples = DEVICE_SAMPLES_8;

Outcome redraw_path()
{
    Outcome o;
    RenderModule *m = CreateDeviceRendModule(0);
    if (!m)
        return o.stop("create", ORV_FAIL);
    const char *step = "sample format";
    ResultCode rc = DeviceRendModuleSetSampleFormat(m, g_redraw_samples);
    if (rc == ORV_OK) {
        step = "set_host";
        rc = m->set_host(m, g_host, &kCallbacks);
    }
    if (rc == ORV_OK) {
        step = "redraw on";
        rc = DeviceRendModuleSetRedrawOnAttach(m, 1);
    }
    if (rc == ORV_OK) {
        step = "set_surface";
        rc = m->set_surface(m, g_display.vm, g_display.surface);
    }
    if (rc == ORV_OK) {
        step = "start";
        rc = m->start(m);
    }
    if (rc == ORV_OK) {
        step = "render";
        rc = wait_frames(*g_host, 1, o);
    }
    if (rc == ORV_OK) {
        step = "detach";
        rc = m->set_surface(m, nullptr, nullptr);
    }
    if (rc == ORV_OK) {
        step = "attach again";
        rc = m->set_surface(m, g_display.vm, g_display.surface);
    }
    DeviceRenderStats s{};
    if (rc == ORV_OK) {
        // The redraw comes on the first pass without a frame due.
        step = "redraw";
        DeviceRendModuleGetStats(m, &s);
        const uint64_t idle = s.no_frame_waits;
        const auto start = std::chrono::steady_clock::now();
        while (DeviceRendModuleGetStats(m, &s) == ORV_OK && s.frames_redrawn == 0 &&
               s.no_frame_waits < idle + 3 && g_host->errors.load() == 0 && !timed_out(start))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (g_host->errors.load() != 0)
            rc = g_host->error.load();
    }
    if (rc == ORV_OK) {
        step = "render after attach";
        g_host->limit = 2;
        rc = wait_frames(*g_host, 2, o);
        DeviceRendModuleGetStats(m, &s);
    }
    m->stop(m);
    m->destroy(m);
    if (rc != ORV_OK)
        return o.stop(step, rc);
    if (s.frames_presented != 2)
        o.wrong("%llu frames presented, not 2", static_cast<unsigned long long>(s.frames_presented));
    OrvStandinWindowStats w{};
    orv_standin_window_stats(g_display.window, &w);
    if (w.posted != 2 + s.frames_redrawn)
        o.wrong("redrawn, but the window saw %u posts", w.posted);
    if (s.frames_redrawn == 0 && g_redraw_lines.load() == 0)
        o.wrong("no redraw and no line saying why");
    if (s.frames_redrawn > 1)
        o.wrong("redrawn %llu times", static_cast<unsigned long long>(s.frames_redrawn));
    return o.done();
}

// RGBA, and RGB565, whose redraw also keeps the error carry in a block of its
// own; 8-bit frames, and 10-bit ones (I010) whose kept copy holds words.
class RedrawFaults : public ::testing::TestWithParam<std::pair<int32_t, int32_t>> {};

// A solid 10-bit frame: the 8-bit colour's levels times 4, as I010 words.
HostFrame solid_i010(int32_t width, int32_t height, uint8_t y, uint8_t u, uint8_t v)
{
    HostFrame f = HostFrame::make(2 * width, height, 16);
    f.width = width;
    f.c_stride = 2 * HostFrame::chroma_width(width) + 8;
    f.u.assign(size_t(f.c_stride) * HostFrame::chroma_height(height), 0);
    f.v = f.u;
    auto fill = [](std::vector<uint8_t> &plane, uint8_t level) {
        const uint16_t w = uint16_t(level * 4);
        for (size_t i = 0; i + 1 < plane.size(); i += 2)
            plane[i] = uint8_t(w), plane[i + 1] = uint8_t(w >> 8);
    };
    fill(f.y, y), fill(f.u, u), fill(f.v, v);
    return f;
}

// Dithering may move a solid RGB565 colour by one step of a channel.
bool near_colour(uint32_t a, uint32_t b, int slack)
{
    for (int shift = 0; shift < 24; shift += 8) {
        const int d = int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF);
        if (d > slack || d < -slack)
            return false;
    }
    return true;
}

TEST_P(RedrawFaults, RedrawOfTheKeptFrame)
{
    static int32_t format;
    format = GetParam().first;
    g_redraw_samples = GetParam().second;
    if (g_redraw_samples == DEVICE_SAMPLES_8) {
        g_frame = HostFrame::make(64, 48, 8);
        g_frame.fill(60, 200, 40);
    } else {
        g_frame = solid_i010(64, 48, 60, 200, 40);
    }
    auto setup = [] {
        g_host = new Host;
        g_host->limit = 1;
        g_host->frame = g_frame.view();
        g_display.vm = orv_standin_vm_create();
        g_display.window = orv_standin_window_create(64, 48, format);
        g_display.surface = orv_standin_surface_create(g_display.window);
    };
    auto check = [](const Outcome &o) {
        std::string problem;
        OrvStandinBuffer b{};
        if (o.completed && orv_standin_window_last_posted(g_display.window, &b) != 0)
            problem = "nothing was posted";
        else if (o.completed &&
                 !near_colour(orv_standin_buffer_argb(&b, 5, 5), orv_standin_buffer_argb(&b, 60, 40),
                              format == WINDOW_FORMAT_RGB_565 ? 8 : 0))
            problem = "the last post is not the solid frame";
        orv_standin_surface_destroy(g_display.surface);
        ANativeWindow_release(g_display.window);
        orv_standin_vm_destroy(g_display.vm);
        g_display = {};
        delete g_host;
        g_host = nullptr;
        return problem;
    };
    run_all({"redraw", true, setup, redraw_path, check, {{fault::kMalloc}}}, kMemory);
}

INSTANTIATE_TEST_SUITE_P(FaultInjection, RedrawFaults,
                         ::testing::Values(std::pair{WINDOW_FORMAT_RGBA_8888, DEVICE_SAMPLES_8},
                                           std::pair{WINDOW_FORMAT_RGB_565, DEVICE_SAMPLES_8},
                                           std::pair{WINDOW_FORMAT_RGBA_8888, DEVICE_SAMPLES_10_LOW},
                                           std::pair{WINDOW_FORMAT_RGB_565, DEVICE_SAMPLES_10_LOW}));

// ---- tracked memory: a thread that gets no list of its own ------------------

TEST(FaultInjection, TrackedBlocksOfAThreadWithoutAListOfItsOwn)
{
    // Threads that keep their lists until a new one had to be made (no ended
    // thread's list is left to take over); then the next thread's list fails
    // and its block goes to the shared list, under its lock.
    struct Holder {
        std::thread thread;
        std::atomic<bool> made{false};
        void *block = nullptr;
    };
    std::atomic<bool> release{false};
    std::vector<std::unique_ptr<Holder>> holders;
    bool fresh = false, blocks_made = true;
    while (!fresh && blocks_made && holders.size() < 1000) {
        auto &h = *holders.emplace_back(std::make_unique<Holder>());
        fault::arm({fault::Class::Alloc, fault::Mode::Fail, 0, false}); // counts only
        h.thread = std::thread([&h, &release] {
            h.block = orv_malloc(8);
            h.made = true;
            while (!release)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        while (!h.made)
            std::this_thread::yield();
        fresh = fault::op_calls(fault::kMalloc) == 2; // the block and a new list
        fault::disarm();
        blocks_made = h.block != nullptr;
    }
    const size_t live = orv_mem_live_count();
    void *first = nullptr, *second = nullptr;
    bool fired = false;
    long mallocs = 0;
    if (fresh)
        std::thread([&] {
            // Armed here: the thread's own start allocates too.
            fault::arm({fault::Class::Alloc, fault::Mode::Fail, 2, false}); // the new list
            first = orv_malloc(8);                                          // on the shared list
            second = orv_malloc(8);                                         // a list of its own, made now
            fired = fault::fired();
            mallocs = fault::op_calls(fault::kMalloc);
            fault::disarm();
            if (first)
                memset(first, 1, 8);
        }).join();
    const size_t live_with_both = orv_mem_live_count();
    orv_free(first);
    std::thread([second] { orv_free(second); }).join();
    const size_t live_after = orv_mem_live_count();
    release = true;
    for (auto &h : holders) {
        h->thread.join();
        orv_free(h->block);
    }
    ASSERT_TRUE(blocks_made);
    ASSERT_TRUE(fresh);
    EXPECT_TRUE(fired);
    EXPECT_EQ(mallocs, 4); // two blocks, a list that failed and one that did not
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(live_with_both, live + 2);
    EXPECT_EQ(live_after, live);
}

} // namespace

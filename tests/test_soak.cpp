// Soak of the render path: render modules in sequence, then two at once, each
// driven through one start-stop cycle by a host that answers get_frame at
// random, with frames of several sizes (or two widths in turn), surfaces
// attached and detached from another thread, window lock, post and geometry
// failures injected and stop at a random point. Some hosts misbehave inside
// their callbacks: they detach the surface from on_event, or call stop and
// destroy on their own module (both must be refused). Every callback is
// checked against the render thread's rules as it arrives; at the end every
// frame asked back must have come back, and no window, surface or tracked
// block may be left. A second test runs two
// players that each bracket their cycles with their own library init and
// uninit. Window formats change at random, YV12 included, and some windows
// refuse or ignore YV12 or cannot set a data space or a transform. ORV_SOAK_SECONDS sets the length (default 2), ORV_SOAK_SEED the seed.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host_frame.h"
#include "orv/orv_mem.h"
#include "render_env.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr ResultCode kHostFailure = static_cast<ResultCode>(0x80000A5Au);

struct Totals {
    std::atomic<uint64_t> cycles{0}, frames_handed{0}, asked_back{0}, posted{0}, releases{0}, size_events{0},
        errors{0}, started{0}, surface_changes{0}, failures_injected{0}, detached_in_event{0},
        refused_calls{0}, format_changes{0}, transform_changes{0};
};

// How a host misbehaves inside its callbacks, and how it hands out frames.
enum Habit : unsigned {
    kDetachInEvent = 1,   // answers a size event with set_surface(NULL, NULL)
    kStopInCallbacks = 2, // calls stop or destroy on its own module
    kAlternateWidths = 4, // hands out two frames of different widths in turn
};

// A host whose every callback checks the render thread's rules.
class SoakHost {
public:
    SoakHost(uint32_t seed, const std::vector<HostFrame> &frames, int fail_permille, unsigned habits)
        : rng_(seed), frames_(frames), fail_permille_(fail_permille), habits_(habits)
    {
        table_.on_event = [](void *c, int a, int b, int) { return self(c)->on_event(a, b); };
        table_.on_started = [](void *c) { return self(c)->on_started(); };
        table_.on_error = [](void *c, ResultCode code, int) { return self(c)->on_error(code); };
        table_.get_frame = [](void *c, YuvFrame *f, int *r) { return self(c)->get_frame(f, r); };
        table_.release_frame = [](void *c, int one, ResultCode code) { return self(c)->release(one, code); };
    }

    const HostCallbacks *callbacks() const { return &table_; }
    void set_module(RenderModule *module) { module_ = module; }
    void stop_returned() { stopped_ = true; }

    // Read by the driving thread once stop has joined the render thread.
    int started = 0, errors = 0, releases = 0, handed = 0, asked_back = 0, size_events = 0, detached = 0,
        refused = 0;
    int idle = 0; // get_frame answers of "none due"
    ResultCode error_code = ORV_OK;
    bool outstanding = false;
    std::vector<std::string> faults;

private:
    static SoakHost *self(void *context) { return static_cast<SoakHost *>(context); }

    void fault(const std::string &what)
    {
        std::lock_guard<std::mutex> hold(faults_lock_);
        faults.push_back(what);
    }

    void enter(const char *what)
    {
        if (stopped_)
            fault(std::string(what) + " after stop returned");
        if (errors)
            fault(std::string(what) + " after on_error");
        if (render_thread_ == std::thread::id())
            render_thread_ = std::this_thread::get_id();
        else if (render_thread_ != std::this_thread::get_id())
            fault(std::string(what) + " on a second thread");
    }

    // A host calling stop or destroy of its own module from a callback: both
    // must be refused, and the module must live on.
    void misbehave()
    {
        if (!(habits_ & kStopInCallbacks) || rng_() % 4 != 0)
            return;
        const bool destroy = rng_() % 2;
        const ResultCode r = destroy ? module_->destroy(module_) : module_->stop(module_);
        if (r != ORV_ERR_OBJ_STATUS)
            fault(std::string(destroy ? "destroy" : "stop") + " from a callback not refused");
        ++refused;
    }

    ResultCode on_event(int a, int b)
    {
        enter("on_event");
        size_events += a != 0 || b != 0;
        if ((a != 0 || b != 0) && (habits_ & kDetachInEvent) && rng_() % 2) {
            module_->set_surface(module_, nullptr, nullptr);
            ++detached;
        }
        misbehave();
        return ORV_OK;
    }
    ResultCode on_started()
    {
        enter("on_started");
        if (++started > 1)
            fault("on_started twice");
        misbehave();
        return ORV_OK;
    }
    ResultCode on_error(ResultCode code)
    {
        enter("on_error");
        if (outstanding)
            fault("on_error before the frame's release_frame");
        if (code >= 0)
            fault("on_error with a non-negative code");
        if (last_release_ < 0 && just_released_ && code != last_release_)
            fault("on_error code differs from the failed release's");
        ++errors;
        error_code = code;
        return ORV_OK;
    }
    ResultCode get_frame(YuvFrame *frame, int *release)
    {
        enter("get_frame");
        just_released_ = false;
        if (outstanding)
            fault("get_frame while a frame is out");
        const uint32_t pick = rng_() % 1000;
        if (pick < uint32_t(fail_permille_))
            return kHostFailure;
        if (pick % 3 == 0) {
            ++idle;
            return ORV_WOUNLD_BLOCK;
        }
        *frame = (habits_ & kAlternateWidths) ? frames_[handed % 2].view()
                                              : frames_[rng_() % frames_.size()].view();
        if (rng_() % 2) {
            *release = 1;
            outstanding = true;
            ++asked_back;
        }
        ++handed;
        return ORV_OK;
    }
    ResultCode release(int one, ResultCode code)
    {
        enter("release_frame");
        if (!outstanding)
            fault("release_frame of a frame not asked back");
        if (one != 1)
            fault("release_frame without its 1");
        outstanding = false;
        just_released_ = true;
        last_release_ = code;
        ++releases;
        misbehave();
        return ORV_OK;
    }

    HostCallbacks table_{};
    std::mt19937 rng_;
    const std::vector<HostFrame> &frames_;
    const int fail_permille_;
    const unsigned habits_;
    RenderModule *module_ = nullptr;
    std::atomic<bool> stopped_{false};
    std::thread::id render_thread_;
    ResultCode last_release_ = ORV_OK;
    bool just_released_ = false;
    std::mutex faults_lock_;
};

struct Display {
    ANativeWindow *window = nullptr;
    jobject surface = nullptr;
};

constexpr std::array<int32_t, 3> kFormats = {WINDOW_FORMAT_RGBA_8888, WINDOW_FORMAT_RGBX_8888,
                                             WINDOW_FORMAT_RGB_565};

int32_t pick_size(std::mt19937 &rng, int32_t base)
{
    return base + int32_t(rng() % 40) - 8;
}

// The statistics after the render thread ended, against what the host saw.
// Every frame handed out is presented except at most the last (cut by stop
// or failure); every "none due" answer is one pass without a frame.
template <class Fail>
void check_stats(const DeviceRenderStats &s, const SoakHost &host, bool redraw, Fail &fail)
{
    const uint64_t handed = uint64_t(host.handed);
    if (s.frames_presented > handed || s.frames_presented + 1 < handed ||
        s.frames_presented + s.frames_retried + 1 < handed)
        fail("statistics: " + std::to_string(s.frames_presented) + " presented, " +
             std::to_string(s.frames_retried) + " retried of " + std::to_string(handed) + " handed");
    if (s.no_frame_waits != uint64_t(host.idle))
        fail("statistics: " + std::to_string(s.no_frame_waits) +
             " passes without a frame, host said none due " + std::to_string(host.idle) + " times");
    if (!redraw && s.frames_redrawn != 0)
        fail("statistics: redrawn with redraw off");
    if (s.frames_presented + s.frames_redrawn > 0 &&
        (s.blit_us_mean > s.blit_us_max || s.blit_us_last > s.blit_us_max || s.width <= 0 || s.height <= 0))
        fail("statistics: conversion times or last frame size out of order");
}

// One module through one start-stop cycle; returns what went wrong.
std::vector<std::string> run_cycle(uint32_t seed, Totals &totals)
{
    std::mt19937 rng(seed);
    std::vector<std::string> faults;
    auto fail = [&](const std::string &what) {
        faults.push_back(what + " (cycle seed " + std::to_string(seed) + ")");
    };

    JavaVM *vm = orv_standin_vm_create();
    Display displays[2];
    for (Display &d : displays) {
        d.window = orv_standin_window_create(pick_size(rng, 40), pick_size(rng, 24), kFormats[rng() % 3]);
        d.surface = orv_standin_surface_create(d.window);
    }
    const unsigned habits = rng() % 8;
    std::vector<HostFrame> frames;
    for (int i = 0; i < 3; ++i) {
        int32_t width = pick_size(rng, 40);
        if (i == 1 && (habits & kAlternateWidths))
            width = frames[0].width + 9 + int32_t(rng() % 24); // across a 16-column group
        HostFrame f = HostFrame::make(width, pick_size(rng, 24), int32_t(rng() % 4) * 2);
        f.fill(uint8_t(rng()), uint8_t(rng()), uint8_t(rng()));
        frames.push_back(std::move(f));
    }
    const int fail_permille = rng() % 4 == 0 ? int(rng() % 20) : 0;
    SoakHost host(rng(), frames, fail_permille, habits);

    RenderModule *module = CreateDeviceRendModule(0);
    if (!module) {
        fail("CreateDeviceRendModule gave null");
        return faults;
    }
    host.set_module(module);
    if (module->set_host(module, &host, host.callbacks()) != ORV_OK)
        fail("set_host refused");
    if (rng() % 4 != 0 && module->set_surface(module, vm, displays[0].surface) != ORV_OK)
        fail("set_surface refused");
    const bool redraw = rng() % 2;
    if (DeviceRendModuleSetRedrawOnAttach(module, redraw) != ORV_OK ||
        DeviceRendModuleSetFrameRate(module, float(rng() % 4) * 12.5f) != ORV_OK)
        fail("a player setting refused");

    // Surfaces come and go, window formats change, and windows fail (or take
    // YV12 badly), from a thread of their own.
    std::atomic<bool> done{false};
    std::atomic<bool> fault_in_thread{false};
    const bool inject = rng() % 5 == 0;
    const uint32_t surface_seed = rng();
    std::thread surfaces([&, surface_seed] {
        std::mt19937 r(surface_seed);
        bool injected = false;
        while (!done) {
            std::this_thread::sleep_for(std::chrono::microseconds(r() % 6000));
            const uint32_t action = r() % 10;
            if (action < 3) {
                module->set_surface(module, nullptr, nullptr);
            } else if (action < 7) {
                module->set_surface(module, nullptr, nullptr);
                module->set_surface(module, vm, displays[r() % 2].surface);
                DeviceRenderStats s{};
                DeviceRendModuleGetStats(module, &s); // read while the render thread counts
            } else if (inject && !injected) {
                ANativeWindow *w = displays[r() % 2].window;
                if (action == 7)
                    orv_standin_window_fail_lock(w, 1 + int32_t(r() % 3), -22);
                else if (action == 8)
                    orv_standin_window_fail_post(w, 1, -19);
                else
                    orv_standin_window_fail_geometry(w, 1 + int32_t(r() % 3), -22);
                injected = true;
                ++totals.failures_injected;
            }
            ++totals.surface_changes;
            if (r() % 3 == 0) {
                static constexpr int32_t kWindowFormats[] = {DEVICE_WINDOW_AUTO, DEVICE_WINDOW_RGBA,
                                                             DEVICE_WINDOW_RGBX, DEVICE_WINDOW_RGB565,
                                                             DEVICE_WINDOW_YV12};
                if (DeviceRendModuleSetWindowFormat(module, kWindowFormats[r() % 5]) != ORV_OK)
                    fault_in_thread = true;
                ++totals.format_changes;
            }
            if (r() % 4 == 0) {
                // Turns change the window's shape while frames are drawn.
                if (DeviceRendModuleSetTransform(module, int32_t(r() % 8)) != ORV_OK)
                    fault_in_thread = true;
                ++totals.transform_changes;
            }
            if (inject && r() % 8 == 0) {
                ANativeWindow *w = displays[r() % 2].window;
                const uint32_t how = r() % 4;
                if (how == 3)
                    orv_standin_window_fail_transform(w, -38); // the YV12 copy turns the planes
                else if (how == 2)
                    orv_standin_window_fail_data_space(w, -38);
                else
                    orv_standin_window_refuse_format(w, DEVICE_WINDOW_YV12, int(how));
            }
        }
    });

    if (module->start(module) != ORV_OK)
        fail("start refused");
    const uint32_t run_ms = rng() % 8 == 0 ? 0 : rng() % 60;
    std::this_thread::sleep_for(std::chrono::milliseconds(run_ms));
    module->stop(module);
    host.stop_returned();
    done = true;
    surfaces.join();
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000)); // a late callback would land here
    DeviceRenderStats stats{};
    if (DeviceRendModuleGetStats(module, &stats) != ORV_OK)
        fail("no statistics");
    module->destroy(module);

    for (const std::string &f : host.faults)
        fail(f);
    if (fault_in_thread)
        fail("DeviceRendModuleSetWindowFormat or DeviceRendModuleSetTransform refused a valid value");
    if (host.started + host.errors == 0)
        fail("the render thread ended without on_started or on_error");
    if (host.errors == 1 && host.error_code == kHostFailure && fail_permille == 0)
        fail("on_error with the host's failure code it never returned");
    // However the thread ended, every frame asked back came back.
    if (host.releases != host.asked_back)
        fail(std::to_string(host.asked_back) + " frames asked back, " + std::to_string(host.releases) +
             " given back");

    check_stats(stats, host, redraw, fail);
    uint64_t posted = 0;
    for (Display &d : displays) {
        OrvStandinWindowStats s{};
        orv_standin_window_stats(d.window, &s);
        posted += s.posted;
        if (s.misuse || s.overruns)
            fail("window misuse " + std::to_string(s.misuse) + ", overruns " + std::to_string(s.overruns));
        if (s.locked)
            fail("window left locked");
        totals.posted += s.posted;
        orv_standin_surface_destroy(d.surface);
        ANativeWindow_release(d.window);
    }
    // Posts of drawn frames, plus those posted undrawn at a size change.
    if (posted < stats.frames_presented + stats.frames_redrawn)
        fail("statistics count more posts than the windows saw");
    OrvStandinVmStats vs{};
    orv_standin_vm_stats(vm, &vs);
    if (vs.threads_attached || vs.detach_unattached)
        fail("threads left attached to the VM or detached twice");
    orv_standin_vm_destroy(vm);

    ++totals.cycles;
    totals.frames_handed += uint64_t(host.handed);
    totals.asked_back += uint64_t(host.asked_back);
    totals.releases += uint64_t(host.releases);
    totals.size_events += uint64_t(host.size_events);
    totals.errors += uint64_t(host.errors);
    totals.started += uint64_t(host.started);
    totals.detached_in_event += uint64_t(host.detached);
    totals.refused_calls += uint64_t(host.refused);
    return faults;
}

double soak_seconds()
{
    const char *s = std::getenv("ORV_SOAK_SECONDS");
    return s && std::atof(s) > 0 ? std::atof(s) : 2.0;
}

TEST(Soak, ModulesInSequenceThenTwoAtOnce)
{
    const char *seed_text = std::getenv("ORV_SOAK_SEED");
    const uint32_t seed = seed_text ? uint32_t(std::strtoul(seed_text, nullptr, 0)) : std::random_device{}();
    const double seconds = soak_seconds();
    std::printf("soak: seed %u, %.1f s\n", seed, seconds);

    orv_test::RuntimeScope runtime;
    Totals totals;
    std::mutex faults_lock;
    std::vector<std::string> faults;
    auto driver = [&](uint32_t driver_seed, Clock::time_point until) {
        std::mt19937 rng(driver_seed);
        while (Clock::now() < until) {
            std::vector<std::string> f = run_cycle(rng(), totals);
            if (!f.empty()) {
                std::lock_guard<std::mutex> hold(faults_lock);
                faults.insert(faults.end(), f.begin(), f.end());
                return;
            }
        }
    };
    const auto half = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds / 2));
    driver(seed, Clock::now() + half);
    const uint64_t sequential = totals.cycles;
    if (faults.empty()) {
        const auto until = Clock::now() + half;
        std::thread a(driver, seed + 1, until), b(driver, seed + 2, until);
        a.join();
        b.join();
    }
    for (const std::string &f : faults)
        ADD_FAILURE() << f;

    OrvStandinGlobalStats g{};
    orv_standin_global_stats(&g);
    EXPECT_EQ(g.live_windows, 0);
    EXPECT_EQ(g.live_surfaces, 0);
    const std::vector<std::string> leaks = runtime.finish();
    EXPECT_TRUE(leaks.empty()) << leaks.size() << " blocks left, first: " << (leaks.empty() ? "" : leaks[0]);

    EXPECT_GT(totals.cycles.load(), sequential);
    std::printf(
        "soak: %llu cycles (%llu in sequence, then two at once), %llu frames handed, %llu posted, "
        "%llu asked back and %llu released, %llu size events, %llu on_started, %llu on_error, %llu surface "
        "changes, "
        "%llu window failures injected, %llu detaches inside on_event, %llu stop/destroy from callbacks "
        "refused, %llu window format changes, %llu transform changes\n",
        (unsigned long long)totals.cycles, (unsigned long long)sequential,
        (unsigned long long)totals.frames_handed, (unsigned long long)totals.posted,
        (unsigned long long)totals.asked_back, (unsigned long long)totals.releases,
        (unsigned long long)totals.size_events, (unsigned long long)totals.started,
        (unsigned long long)totals.errors, (unsigned long long)totals.surface_changes,
        (unsigned long long)totals.failures_injected, (unsigned long long)totals.detached_in_event,
        (unsigned long long)totals.refused_calls, (unsigned long long)totals.format_changes,
        (unsigned long long)totals.transform_changes);
}

// Two players in one process, each with its own library init and uninit
// around each of its cycles: the runtime is started by whichever comes first
// and shut down by whichever leaves last, while the other may be rendering.
TEST(Soak, TwoPlayersEachWithItsOwnInit)
{
    const char *seed_text = std::getenv("ORV_SOAK_SEED");
    const uint32_t seed = seed_text ? uint32_t(std::strtoul(seed_text, nullptr, 0)) : std::random_device{}();
    const double seconds = soak_seconds() / 2;
    std::printf("soak: two players, seed %u, %.1f s\n", seed, seconds);

    Totals totals;
    std::mutex faults_lock;
    std::vector<std::string> faults;
    const auto until =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    auto player = [&](uint32_t player_seed) {
        std::mt19937 rng(player_seed);
        while (Clock::now() < until) {
            if (DeviceRenderLibInit(int(rng() % 2)) != ORV_OK) {
                std::lock_guard<std::mutex> hold(faults_lock);
                faults.push_back("DeviceRenderLibInit failed");
                return;
            }
            std::vector<std::string> f = run_cycle(rng(), totals);
            DeviceRenderLibUninit();
            if (!f.empty()) {
                std::lock_guard<std::mutex> hold(faults_lock);
                faults.insert(faults.end(), f.begin(), f.end());
                return;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
        }
    };
    std::thread a(player, seed + 11), b(player, seed + 12);
    a.join();
    b.join();
    for (const std::string &f : faults)
        ADD_FAILURE() << f;

    OrvStandinGlobalStats g{};
    orv_standin_global_stats(&g);
    EXPECT_EQ(g.live_windows, 0);
    EXPECT_EQ(g.live_surfaces, 0);
    EXPECT_EQ(orv_mem_live_count(), 0u) << "the last uninit freed what was tracked";
    EXPECT_GT(totals.cycles.load(), 2u);
    std::printf("soak: two players, %llu cycles, %llu frames handed, %llu posted, %llu on_error\n",
                (unsigned long long)totals.cycles, (unsigned long long)totals.frames_handed,
                (unsigned long long)totals.posted, (unsigned long long)totals.errors);
}

} // namespace

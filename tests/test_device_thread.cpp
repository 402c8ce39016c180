// The RenderModule and its render thread against a scripted host: the order
// of the host's callbacks, the phases, stopping, failures and teardown.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "host_frame.h"
#include "orv/orv_mem.h"
#include "orv_device_render.h"
#include "orv_log_internal.hpp"
#include "render_env.h"
#include "scripted_host.h"

namespace {

using namespace std::chrono_literals;
using orv_test::Answer;
using orv_test::Call;
using orv_test::HostCall;
using orv_test::RuntimeScope;
using orv_test::ScriptedHost;
using orv_test::StandinDisplay;

std::vector<Call> kinds_of(const std::vector<HostCall> &calls, bool skip_get_frame = true)
{
    std::vector<Call> out;
    for (const HostCall &c : calls)
        if (!skip_get_frame || c.kind != Call::GetFrame)
            out.push_back(c.kind);
    return out;
}

HostFrame solid(int32_t w, int32_t h)
{
    HostFrame f = HostFrame::make(w, h);
    f.fill(128, 128, 128);
    return f;
}

class DeviceThread : public ::testing::Test {
protected:
    void SetUp() override
    {
        module = CreateDeviceRendModule(0);
        ASSERT_NE(module, nullptr);
    }
    void TearDown() override
    {
        if (module != nullptr) {
            module->stop(module);
            module->destroy(module);
        }
        EXPECT_TRUE(runtime.render_leaks().empty());
    }
    void attach(StandinDisplay &d) { ASSERT_EQ(module->set_surface(module, d.vm, d.surface), ORV_OK); }

    RuntimeScope runtime;
    RenderModule *module = nullptr;
    ScriptedHost host;
};

TEST_F(DeviceThread, PlaysReleasesAndStartsOnce)
{
    StandinDisplay d(64, 32, WINDOW_FORMAT_RGBA_8888);
    host.add_frame(solid(64, 32));
    host.push({ORV_WOUNLD_BLOCK});
    host.push({ORV_OK, 1});
    host.push({ORV_OK, 0});
    host.push({ORV_OK, 7});
    EXPECT_EQ(module->set_host(module, nullptr, host.callbacks()), ORV_FAIL);
    EXPECT_EQ(module->set_host(module, host.context(), nullptr), ORV_FAIL);
    ASSERT_EQ(module->set_host(module, host.context(), host.callbacks()), ORV_OK);
    attach(d);
    ASSERT_EQ(module->start(module), ORV_OK);
    ASSERT_TRUE(host.wait_count(Call::Release, 2)) << host.trace();
    EXPECT_EQ(module->stop(module), ORV_OK);

    const std::vector<HostCall> calls = host.calls();
    EXPECT_EQ(kinds_of(calls), (std::vector<Call>{Call::Release, Call::Started, Call::Release}))
        << host.trace();
    for (const HostCall &c : calls) {
        if (c.kind != Call::Release)
            continue;
        EXPECT_EQ(c.a, 1);
        EXPECT_EQ(c.code, ORV_OK);
    }
    EXPECT_EQ(d.stats().posted, 3u);
    EXPECT_EQ(host.count(Call::Error), 0u);
    // A second stop has nothing to join.
    EXPECT_EQ(module->stop(module), ORV_OK);
}

TEST_F(DeviceThread, NoSurfaceMeansNoFrameRequests)
{
    StandinDisplay d(64, 32, WINDOW_FORMAT_RGB_565);
    host.add_frame(solid(64, 32));
    host.set_tail({ORV_OK, 1});
    ASSERT_EQ(module->set_host(module, host.context(), host.callbacks()), ORV_OK);
    ASSERT_EQ(module->start(module), ORV_OK);
    ASSERT_TRUE(host.wait_count(Call::Event, 1));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(host.count(Call::Event), 1u);
    EXPECT_EQ(host.count(Call::GetFrame), 0u);
    const HostCall first = host.calls()[0];
    EXPECT_EQ(first.a, 0);

    attach(d);
    ASSERT_TRUE(host.wait_count(Call::Started, 1));
    ASSERT_EQ(module->set_surface(module, nullptr, nullptr), ORV_OK);
    ASSERT_TRUE(host.wait_count(Call::Event, 2));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(host.count(Call::Event), 2u);
    EXPECT_EQ(module->stop(module), ORV_OK);
    EXPECT_EQ(host.count(Call::Error), 0u);
}

TEST_F(DeviceThread, SizeChangeRetriesTheSameFrame)
{
    StandinDisplay d(640, 360, WINDOW_FORMAT_RGBA_8888);
    host.add_frame(solid(640, 360));
    host.add_frame(solid(1280, 720));
    host.push({ORV_OK, 1, 0});
    host.push({ORV_OK, 1, 1});
    ASSERT_EQ(module->set_host(module, host.context(), host.callbacks()), ORV_OK);
    attach(d);
    ASSERT_EQ(module->start(module), ORV_OK);
    ASSERT_TRUE(host.wait_count(Call::Release, 2)) << host.trace();
    module->stop(module);
    // The event comes with the host's context (the recorder is reached
    // through it) and the new frame size; the frame is given back once.
    // (The thread may ask for more frames before it sees the stop.)
    std::vector<Call> kinds = kinds_of(host.calls(), false);
    kinds.resize(std::min<size_t>(kinds.size(), 6));
    EXPECT_EQ(kinds, (std::vector<Call>{Call::GetFrame, Call::Release, Call::Started, Call::GetFrame,
                                        Call::Event, Call::Release}))
        << host.trace();
    const HostCall ev = host.calls()[4];
    EXPECT_EQ(ev.a, 1280);
    EXPECT_EQ(ev.b, 720);
    OrvStandinBuffer b{};
    ASSERT_EQ(orv_standin_window_last_posted(d.window, &b), 0);
    EXPECT_EQ(b.width, 1280);
    EXPECT_EQ(d.stats().posted, 3u);
}

TEST_F(DeviceThread, FailuresEndTheThreadWithOneError)
{
    StandinDisplay d(64, 32, WINDOW_FORMAT_RGBA_8888);
    host.add_frame(solid(64, 32));
    attach(d);
    ASSERT_EQ(module->set_host(module, host.context(), host.callbacks()), ORV_OK);
    // A failed present hands the frame back with the code, then reports it.
    orv_standin_window_fail_lock(d.window, 1, -5);
    host.push({ORV_OK, 1});
    ASSERT_EQ(module->start(module), ORV_OK);
    ASSERT_TRUE(host.wait_count(Call::Error, 1));
    module->stop(module);
    std::vector<HostCall> calls = host.calls();
    ASSERT_EQ(kinds_of(calls), (std::vector<Call>{Call::Release, Call::Error})) << host.trace();
    EXPECT_EQ(calls[1].code, ORV_FAIL);
    EXPECT_EQ(calls[2].code, ORV_FAIL);
    EXPECT_EQ(calls[2].c, 0);
    module->destroy(module);

    // get_frame failing in the second phase: its code, no release.
    module = CreateDeviceRendModule(0);
    ScriptedHost second;
    second.add_frame(solid(64, 32));
    second.push({ORV_OK, 1});
    second.push({ORV_WOUNLD_BLOCK});
    second.push({ORV_ERR_IO_READ});
    ASSERT_EQ(module->set_host(module, second.context(), second.callbacks()), ORV_OK);
    attach(d);
    ASSERT_EQ(module->start(module), ORV_OK);
    ASSERT_TRUE(second.wait_count(Call::Error, 1));
    module->stop(module);
    calls = second.calls();
    ASSERT_EQ(kinds_of(calls), (std::vector<Call>{Call::Release, Call::Started, Call::Error}))
        << second.trace();
    EXPECT_EQ(calls.back().code, ORV_ERR_IO_READ);
}

TEST_F(DeviceThread, StoppingAndRestarting)
{
    StandinDisplay d(64, 32, WINDOW_FORMAT_RGBA_8888);
    // Never started: stop joins nothing.
    EXPECT_EQ(module->stop(module), ORV_OK);
    module->destroy(module);
    module = CreateDeviceRendModule(0);

    host.set_tail({ORV_WOUNLD_BLOCK});
    attach(d);
    ASSERT_EQ(module->set_host(module, host.context(), host.callbacks()), ORV_OK);
    ASSERT_EQ(module->start(module), ORV_OK);
    EXPECT_EQ(module->start(module), ORV_ERR_THREAD_RUNING);
    ASSERT_TRUE(host.wait_count(Call::GetFrame, 3));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(module->stop(module), ORV_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 200ms);
    // Stopped before any frame: started all the same, once.
    EXPECT_EQ(host.count(Call::Started), 1u);
    EXPECT_EQ(d.stats().lock_calls, 0u);
    // A start after stop runs a thread that only reports the start.
    ASSERT_EQ(module->start(module), ORV_OK);
    EXPECT_EQ(module->stop(module), ORV_OK);
    EXPECT_EQ(host.count(Call::Started), 2u);
    EXPECT_EQ(host.count(Call::Error), 0u);

    // set_host never called: the thread ends on its own, nothing is drawn.
    module->destroy(module);
    module = CreateDeviceRendModule(0);
    attach(d);
    ASSERT_EQ(module->start(module), ORV_OK);
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(module->stop(module), ORV_OK);
    EXPECT_EQ(d.stats().lock_calls, 0u);

    // destroy on a running module stops it first.
    ScriptedHost busy;
    busy.add_frame(solid(64, 32));
    busy.set_tail({ORV_OK, 1});
    module->destroy(module);
    module = CreateDeviceRendModule(0);
    attach(d);
    ASSERT_EQ(module->set_host(module, busy.context(), busy.callbacks()), ORV_OK);
    ASSERT_EQ(module->start(module), ORV_OK);
    ASSERT_TRUE(busy.wait_count(Call::Release, 5));
    module->destroy(module);
    module = nullptr;
    EXPECT_EQ(d.stats().refcount, 2);
}

// Host callbacks that stop or destroy their own module: both are refused
// with a code and a log line, the thread renders on, and the host's own stop
// and destroy later work as usual.
std::vector<std::string> g_android_lines;
int keep_android(int, const char *, const char *text)
{
    g_android_lines.emplace_back(text);
    return 0;
}

TEST_F(DeviceThread, StartStopOrDestroyFromACallbackIsRefused)
{
    StandinDisplay d(64, 32, WINDOW_FORMAT_RGBA_8888);
    host.add_frame(solid(64, 32));
    host.set_tail({ORV_OK, 1});
    std::atomic<ResultCode> stop_result{ORV_OK}, destroy_result{ORV_OK}, start_result{ORV_OK};
    std::atomic<int> releases{0};
    g_android_lines.clear();
    const orv::AndroidWriter old = orv::log_set_android_writer(keep_android);
    host.set_observer([&](const HostCall &c) {
        if (c.kind == Call::Started)
            stop_result = module->stop(module);
        if (c.kind == Call::Release && ++releases == 2)
            start_result = module->start(module);
        if (c.kind == Call::Release && releases == 3)
            destroy_result = module->destroy(module);
    });
    ASSERT_EQ(module->set_host(module, host.context(), host.callbacks()), ORV_OK);
    attach(d);
    ASSERT_EQ(module->start(module), ORV_OK);
    ASSERT_TRUE(host.wait_count(Call::Release, 6)) << host.trace();
    EXPECT_EQ(stop_result.load(), ORV_ERR_OBJ_STATUS);
    EXPECT_EQ(destroy_result.load(), ORV_ERR_OBJ_STATUS);
    EXPECT_EQ(start_result.load(), ORV_ERR_OBJ_STATUS);
    EXPECT_EQ(module->stop(module), ORV_OK);
    orv::log_set_android_writer(old);
    host.set_observer(nullptr);
    EXPECT_EQ(host.count(Call::Error), 0u);
    size_t refused = 0;
    for (const std::string &line : g_android_lines)
        refused += line.find("refused") != std::string::npos;
    EXPECT_EQ(refused, 3u);
    // The host's destroy (in TearDown) frees everything: no leak, no window held.
    EXPECT_EQ(module->destroy(module), ORV_OK);
    module = nullptr;
    EXPECT_EQ(d.stats().refcount, 2);
}

// A host that detaches from inside on_event, as the size event arrives.
TEST_F(DeviceThread, HostDetachesInsideOnEvent)
{
    StandinDisplay d(64, 32, WINDOW_FORMAT_RGBA_8888);
    host.add_frame(solid(64, 32));
    host.add_frame(solid(48, 32));
    host.push({ORV_OK, 1, 0});
    host.set_tail({ORV_OK, 1, 1});
    std::atomic<int> detaches{0};
    host.set_observer([&](const HostCall &c) {
        if (c.kind == Call::Event && c.a != 0) {
            module->set_surface(module, nullptr, nullptr);
            ++detaches;
        }
    });
    ASSERT_EQ(module->set_host(module, host.context(), host.callbacks()), ORV_OK);
    attach(d);
    ASSERT_EQ(module->start(module), ORV_OK);
    // The detach shows as the no-surface event; a new attach renders the frame.
    ASSERT_TRUE(host.wait_for([](const std::vector<HostCall> &calls) {
        return !calls.empty() && calls.back().kind == Call::Event && calls.back().a == 0;
    })) << host.trace();
    EXPECT_EQ(detaches.load(), 1);
    const size_t released = host.count(Call::Release);
    attach(d);
    ASSERT_TRUE(host.wait_count(Call::Release, released + 2)) << host.trace();
    EXPECT_EQ(module->stop(module), ORV_OK);
    host.set_observer(nullptr);
    EXPECT_EQ(host.count(Call::Error), 0u) << host.trace();
    OrvStandinBuffer b{};
    ASSERT_EQ(orv_standin_window_last_posted(d.window, &b), 0);
    EXPECT_EQ(b.width, 48);
}

// A stop that lands while a frame is out: the frame the host asked back is
// given back all the same, once, before the thread ends.
TEST_F(DeviceThread, StopMidFrameGivesTheFrameBack)
{
    StandinDisplay d(64, 32, WINDOW_FORMAT_RGBA_8888);
    host.add_frame(solid(64, 32));
    host.set_tail({ORV_OK, 1});
    // The third frame is handed out, then the surface goes: present answers 3
    // until the stop.
    std::atomic<int> handed{0};
    host.set_observer([&](const HostCall &c) {
        if (c.kind == Call::GetFrame && ++handed == 3)
            module->set_surface(module, nullptr, nullptr);
    });
    ASSERT_EQ(module->set_host(module, host.context(), host.callbacks()), ORV_OK);
    attach(d);
    ASSERT_EQ(module->start(module), ORV_OK);
    ASSERT_TRUE(host.wait_count(Call::Event, 1)) << host.trace(); // present saw no surface
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(module->stop(module), ORV_OK);
    host.set_observer(nullptr);
    std::vector<HostCall> calls = host.calls();
    EXPECT_EQ(kinds_of(calls, false),
              (std::vector<Call>{Call::GetFrame, Call::Release, Call::Started, Call::GetFrame, Call::Release,
                                 Call::GetFrame, Call::Event, Call::Release}))
        << host.trace();
    EXPECT_EQ(calls.back().code, ORV_WOUNLD_BLOCK) << "the last present's answer";
    EXPECT_EQ(d.stats().posted, 2u);

    // The stop lands between get_frame and present: no present was tried.
    module->destroy(module);
    module = CreateDeviceRendModule(0);
    StandinDisplay d2(64, 32, WINDOW_FORMAT_RGBA_8888);
    ScriptedHost second;
    second.add_frame(solid(64, 32));
    second.set_tail({ORV_OK, 1});
    // start must have returned: a stop racing it has nothing to join yet.
    std::atomic<bool> start_returned{false}, stopping{false}, launched{false};
    std::thread stopper; // written on the render thread, joined here once launched
    second.set_observer([&](const HostCall &c) {
        if (c.kind != Call::GetFrame || stopper.joinable() || !start_returned ||
            second.count(Call::Release) < 2)
            return;
        stopper = std::thread([&] {
            stopping = true;
            module->stop(module);
        });
        launched = true;
        while (!stopping)
            std::this_thread::yield();
        std::this_thread::sleep_for(30ms); // the stop flag is set by now
    });
    ASSERT_EQ(module->set_host(module, second.context(), second.callbacks()), ORV_OK);
    attach(d2);
    ASSERT_EQ(module->start(module), ORV_OK);
    start_returned = true;
    ASSERT_TRUE(second.wait_count(Call::GetFrame, 3)) << second.trace();
    while (!launched)
        std::this_thread::sleep_for(1ms);
    stopper.join();
    second.set_observer(nullptr);
    calls = second.calls();
    const size_t asked = second.count(Call::GetFrame);
    EXPECT_GE(asked, 3u);
    EXPECT_EQ(second.count(Call::Release), asked) << second.trace();
    EXPECT_EQ(calls.back().kind, Call::Release) << second.trace();
    EXPECT_EQ(calls.back().code, ORV_WOUNLD_BLOCK) << "no present was tried";
    EXPECT_EQ(d2.stats().posted, asked - 1);
    EXPECT_EQ(second.count(Call::Error), 0u);
}

// A window that refuses the frame's size ends the thread with one on_error
// instead of posting undrawn buffers and size events for ever.
TEST_F(DeviceThread, RefusedGeometryEndsTheThread)
{
    StandinDisplay d(64, 32, WINDOW_FORMAT_RGB_565);
    host.add_frame(solid(64, 32));
    host.add_frame(solid(48, 32));
    host.push({ORV_OK, 1, 0});
    host.set_tail({ORV_OK, 1, 1});
    // From the first frame on (its geometry was taken), the window refuses.
    host.set_observer([&](const HostCall &c) {
        if (c.kind == Call::Started)
            orv_standin_window_fail_geometry(d.window, 1000, -22);
    });
    ASSERT_EQ(module->set_host(module, host.context(), host.callbacks()), ORV_OK);
    attach(d);
    ASSERT_EQ(module->start(module), ORV_OK);
    ASSERT_TRUE(host.wait_count(Call::Error, 1, 2s)) << host.trace();
    module->stop(module);
    host.set_observer(nullptr);
    const std::vector<HostCall> calls = host.calls();
    EXPECT_EQ(kinds_of(calls),
              (std::vector<Call>{Call::Release, Call::Started, Call::Event, Call::Release, Call::Error}))
        << host.trace();
    EXPECT_EQ(calls.back().code, ORV_FAIL);
    EXPECT_EQ(d.stats().geometry_failures, 1u);
}

TEST(DeviceThreadCreate, FailuresLeaveNothingBehind)
{
    RuntimeScope runtime;
    const size_t live = orv_mem_live_count();
    EXPECT_EQ(CreateDeviceRendModule(1), nullptr);
    EXPECT_EQ(orv_mem_live_count(), live);
    for (int n = 1; n <= 3; ++n) {
        orv_device_fail_alloc(n);
        EXPECT_EQ(CreateDeviceRendModule(0), nullptr) << n;
        EXPECT_EQ(orv_mem_live_count(), live) << n;
    }
    orv_device_fail_alloc(0);
    RenderModule *m = CreateDeviceRendModule(0);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(orv_record_of(m), static_cast<void *>(reinterpret_cast<void **>(m) - 1));
    EXPECT_EQ(orv_mem_live_count(), live + 4);
    StandinDisplay d(16, 16, WINDOW_FORMAT_RGBA_8888);
    ASSERT_EQ(m->set_surface(m, d.vm, d.surface), ORV_OK);
    EXPECT_EQ(m->destroy(m), ORV_OK);
    EXPECT_EQ(d.stats().refcount, 2);
    EXPECT_TRUE(runtime.render_leaks().empty());
}

} // namespace

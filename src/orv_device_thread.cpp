/* The RenderModule that a host gets from CreateDeviceRendModule: owns the
 * DeviceRender chain and the render thread, keeps the host's callbacks and
 * context, and reaches the host's on_event for the overlay through its
 * NotifyLink. The render thread pulls frames from the host, presents them and
 * reports start and failure. The stop, running and started flags are words
 * written by one thread and polled by the other, accessed atomically; nothing
 * else here is locked (set_host comes before start, destroy after stop). */
#include <pthread.h>

#include <atomic>
#include <cstddef>

#include "orv/orv_clock.h"
#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv_device_render.h"

namespace {

constexpr int kAllocLine = 125;
constexpr unsigned kLogFlags = LOG_TO_ANDROID | LOG_TO_DUMP;
// Polling intervals of the render thread, in milliseconds.
constexpr uint32_t kIdleSleepMs = 4;
constexpr uint32_t kFirstRetrySleepMs = 5;
constexpr uint32_t kRetrySleepMs = 4;
constexpr uint32_t kStartPollMs = 1;

struct NotifyLinkRecord {
    void *self; // the enclosing RenderModuleRecord
    NotifyLink ops;
};

struct RenderModuleRecord {
    void *self;
    RenderModule ops;
    pthread_t thread;
    int32_t stop_requested;
    int32_t running;
    int32_t started;
    NotifyLinkRecord link;
    DeviceRender *render;
    const HostCallbacks *callbacks;
    void *context;
    // 1 from a successful start until stop joined that thread: joins happen
    // once, and a second thread never runs beside the first.
    int32_t thread_live;
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(RenderModuleRecord, thread) == 6 * 4);
static_assert(offsetof(RenderModuleRecord, stop_requested) == 7 * 4);
static_assert(offsetof(RenderModuleRecord, link) == 10 * 4);
static_assert(offsetof(RenderModuleRecord, render) == 12 * 4);
static_assert(offsetof(RenderModuleRecord, context) == 14 * 4);
#else
// 64-bit: pointers and pthread_t take 8 bytes, two flags share a word.
static_assert(offsetof(RenderModuleRecord, thread) == 6 * 8);
static_assert(offsetof(RenderModuleRecord, stop_requested) == 7 * 8);
static_assert(offsetof(RenderModuleRecord, link) == 9 * 8);
static_assert(offsetof(RenderModuleRecord, render) == 11 * 8);
static_assert(offsetof(RenderModuleRecord, context) == 13 * 8);
#endif

std::atomic<int> g_fail_alloc_countdown{0};

// The flags stay plain words of the record (its layout is fixed), so they are
// reached through the compiler's atomics: the NDK's libc++ has no atomic_ref.
struct Flag {
    int32_t &word;
    int32_t load() const { return __atomic_load_n(&word, __ATOMIC_SEQ_CST); }
    void store(int32_t value) { __atomic_store_n(&word, value, __ATOMIC_SEQ_CST); }
};
Flag flag(int32_t &word)
{
    return Flag{word};
}

RenderModuleRecord *record_of(RenderModule *self)
{
    return orv_device::record_of<RenderModuleRecord>(self);
}

// The module whose render thread this is (null on every other thread): a host
// callback that stops or destroys its own module would join or free the
// thread it runs on.
thread_local const RenderModuleRecord *t_rendering = nullptr;

bool on_own_render_thread(const RenderModuleRecord *m, const char *what)
{
    if (t_rendering != m)
        return false;
    orv_log(kLogFlags, ORV_ERR_OBJ_STATUS,
            "VRE: device thread: %s called from the module's own render thread, refused", what);
    return true;
}

// Room the host may fill beyond the eight fields it shares with us.
union FrameRoom {
    YuvFrame frame;
    unsigned char bytes[sizeof(YuvFrame) + 16 > 48 ? sizeof(YuvFrame) + 16 : 48];
};

class RenderThread {
public:
    explicit RenderThread(RenderModuleRecord *m)
        : m_(m), cb_(m->callbacks), ctx_(m->context), render_(m->render),
          overlay_(orv_device_render_overlay(m->render))
    {}

    void run();

private:
    bool stopping() const { return flag(m_->stop_requested).load() != 0; }
    ResultCode get_frame()
    {
        release_ = 0;
        last_present_ = ORV_WOUNLD_BLOCK;
        if (cb_->get_frame == nullptr)
            return ORV_FAIL;
        const ResultCode result = cb_->get_frame(ctx_, &room_.frame, &release_);
        // Only a handed-out frame can be asked back.
        if (result == ORV_WOUNLD_BLOCK || ORV_FAILED(result))
            release_ = 0;
        return result;
    }
    // Once per frame: the word is cleared as the frame goes back.
    void release_frame(ResultCode result)
    {
        if (release_ != 0 && cb_->release_frame != nullptr)
            cb_->release_frame(ctx_, 1, result);
        release_ = 0;
    }
    void report_error(ResultCode code)
    {
        if (cb_->on_error != nullptr)
            cb_->on_error(ctx_, code, 0);
    }
    void report_started()
    {
        if (cb_->on_started != nullptr)
            cb_->on_started(ctx_);
    }
    ResultCode render_loop();
    void count(int which)
    {
        if (overlay_ != nullptr)
            orv_device::stat_add(&overlay_->stats, which);
    }
    // A pass without a frame due: a window that came since the last post
    // gets the kept frame.
    void idle_pass()
    {
        count(ORV_STAT_NO_FRAME);
        if (overlay_ != nullptr)
            orv_device_overlay_redraw(&overlay_->ops);
    }

    RenderModuleRecord *m_;
    const HostCallbacks *cb_;
    void *ctx_;
    DeviceRender *render_;
    AndroidOverlayRecord *overlay_; // statistics and the kept frame
    FrameRoom room_{};
    int release_ = 0;
    // The answer of the last present of the frame that is out, 3 before any.
    ResultCode last_present_ = ORV_WOUNLD_BLOCK;
    bool presented_ = false; // one frame was presented: on_started went out
};

// Until stopped (ORV_OK) or a failure (its code). Before the first presented
// frame a present answering 3 is retried after 5 ms, after it 4 ms; the
// release after a successful present carries 0 for that first frame and the
// present's result afterwards. A frame still out when this returns is run()'s
// to give back.
ResultCode RenderThread::render_loop()
{
    while (!stopping()) {
        ResultCode result = render_->check_surface(render_);
        if (result == ORV_WOUNLD_BLOCK) {
            count(ORV_STAT_NO_SURFACE);
            orv_sleep_ms(kIdleSleepMs);
            continue;
        }
        if (ORV_FAILED(result))
            return result;
        result = get_frame();
        if (result == ORV_WOUNLD_BLOCK) {
            idle_pass();
            orv_sleep_ms(kIdleSleepMs);
            continue;
        }
        if (ORV_FAILED(result))
            return result;
        if (stopping())
            break; // run() gives the frame back unpresented
        const uint32_t retry_ms = presented_ ? kRetrySleepMs : kFirstRetrySleepMs;
        while ((result = last_present_ = render_->present(render_, &room_.frame)) == ORV_WOUNLD_BLOCK) {
            orv_sleep_ms(retry_ms);
            if (stopping())
                return ORV_OK;
            count(ORV_STAT_RETRIED);
        }
        if (ORV_FAILED(result)) {
            release_frame(result);
            return result;
        }
        release_frame(presented_ ? result : ORV_OK);
        if (!presented_) {
            presented_ = true;
            report_started();
        }
    }
    return ORV_OK;
}

void RenderThread::run()
{
    t_rendering = m_;
    flag(m_->running).store(1);
    if (cb_ == nullptr)
        return;
    if (render_ == nullptr || render_->check_surface == nullptr || ctx_ == nullptr) {
        report_error(ORV_FAIL);
        return;
    }
    const ResultCode result = render_loop();
    // A stop mid-frame leaves the frame out: the host still gets it back,
    // before it hears how the thread ended.
    release_frame(last_present_);
    if (ORV_FAILED(result)) {
        report_error(result);
        return;
    }
    // Stopped before any frame was presented: the host still hears the start.
    if (!presented_)
        report_started();
}

void *render_thread_main(void *arg)
{
    RenderThread(static_cast<RenderModuleRecord *>(arg)).run();
    return nullptr;
}

ResultCode notify_forward(NotifyLink *link, int a, int b, int c)
{
    auto *m = orv_device::record_of<RenderModuleRecord>(link);
    if (m == nullptr || m->callbacks == nullptr || m->callbacks->on_event == nullptr)
        return ORV_FAIL;
    return m->callbacks->on_event(m->context, a, b, c);
}

ResultCode module_set_host(RenderModule *self, void *context, const HostCallbacks *callbacks)
{
    RenderModuleRecord *m = record_of(self);
    if (m == nullptr || m->render == nullptr || context == nullptr || callbacks == nullptr)
        return ORV_FAIL;
    m->callbacks = callbacks;
    m->context = context;
    return m->render->set_notify(m->render, &m->link.ops, callbacks);
}

ResultCode module_start(RenderModule *self)
{
    RenderModuleRecord *m = record_of(self);
    if (m == nullptr)
        return ORV_FAIL;
    // The host thread writes thread_live; the render thread must not read it.
    if (on_own_render_thread(m, "start"))
        return ORV_ERR_OBJ_STATUS;
    if (m->thread_live) {
        orv_log(kLogFlags, ORV_ERR_THREAD_RUNING, "VRE: device thread: start while running");
        return ORV_ERR_THREAD_RUNING;
    }
    if (pthread_create(&m->thread, nullptr, render_thread_main, m) != 0) {
        orv_log(kLogFlags, ORV_FAIL, "VRE: device thread: pthread_create create fail");
        return ORV_FAIL;
    }
    m->thread_live = 1;
    flag(m->started).store(1);
    while (flag(m->running).load() == 0)
        orv_sleep_ms(kStartPollMs);
    return ORV_OK;
}

ResultCode module_set_surface(RenderModule *self, JavaVM *vm, jobject surface)
{
    RenderModuleRecord *m = record_of(self);
    if (m == nullptr || m->render == nullptr)
        return ORV_FAIL;
    return m->render->set_surface(m->render, vm, surface);
}

ResultCode module_stop(RenderModule *self)
{
    RenderModuleRecord *m = record_of(self);
    if (m == nullptr)
        return ORV_OK;
    if (on_own_render_thread(m, "stop"))
        return ORV_ERR_OBJ_STATUS;
    flag(m->stop_requested).store(1);
    if (flag(m->started).load() != 0 && m->thread_live) {
        pthread_join(m->thread, nullptr);
        m->thread_live = 0;
    }
    return ORV_OK;
}

ResultCode destroy_record(RenderModuleRecord *m)
{
    if (m == nullptr)
        return ORV_OK;
    if (m->thread_live) {
        // Freeing the module under a running thread would pull its state away.
        orv_log(kLogFlags, ORV_ERR_THREAD_RUNING,
                "VRE: device thread: destroy while running, stopping first");
        module_stop(&m->ops);
    }
    orv_device::destroy_owned(m->render);
    orv_mem_free(m);
    return ORV_OK;
}

ResultCode module_destroy(RenderModule *self)
{
    RenderModuleRecord *m = record_of(self);
    if (m != nullptr && on_own_render_thread(m, "destroy"))
        return ORV_ERR_OBJ_STATUS;
    return destroy_record(m);
}

} // namespace

DeviceRender *orv_device_module_render(RenderModule *module)
{
    RenderModuleRecord *m = record_of(module);
    return m != nullptr ? m->render : nullptr;
}

void orv_device_fail_alloc(int n)
{
    g_fail_alloc_countdown.store(n < 0 ? 0 : n);
}

void *orv_device_alloc(uint32_t size, const char *file, int line)
{
    int n = g_fail_alloc_countdown.load();
    while (n > 0) {
        if (g_fail_alloc_countdown.compare_exchange_weak(n, n - 1)) {
            if (n == 1)
                return nullptr;
            break;
        }
    }
    return orv_mem_calloc_at(size, file, line);
}

extern "C" ORV_API RenderModule *CreateDeviceRendModule(int flag)
{
    auto *m = orv_device::new_record<RenderModuleRecord>(ORV_TAG_FILE, kAllocLine,
                                                         "VRE: device thread: malloc yuvlist fail");
    if (m == nullptr)
        return nullptr;
    m->render = orv_device_render_create(flag);
    if (m->render == nullptr) {
        destroy_record(m);
        return nullptr;
    }
    m->ops.set_host = module_set_host;
    m->ops.start = module_start;
    m->ops.set_surface = module_set_surface;
    m->ops.stop = module_stop;
    m->ops.destroy = module_destroy;
    m->link.self = m;
    m->link.ops.notify = notify_forward;
    return &m->ops;
}

// The whole render path as a host uses it: y4m clips and the built-in clip
// played through a module into software windows and compared with the
// conversion model, and the host-thread races that ThreadSanitizer watches.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "clip.h"
#include "render_env.h"
#include "scripted_host.h"
#include "y4m.h"
#include "yuv_model.h"

namespace {

using orv_test::Answer;
using orv_test::Call;
using orv_test::RuntimeScope;
using orv_test::ScriptedHost;
using orv_test::StandinDisplay;

std::string sample(const char *name)
{
    const char *dir = std::getenv("ORV_SAMPLES");
    return dir != nullptr ? std::string(dir) + "/" + name : std::string();
}

bool have_samples()
{
    const std::string p = sample("README.md");
    return !p.empty() && std::ifstream(p).good();
}

std::string write_temp(const std::string &name, const std::string &bytes)
{
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

TEST(Y4mReader, RejectsWhatItCannotPlay)
{
    std::string error;
    {
        Y4mReader r;
        EXPECT_FALSE(r.open("/nonexistent/clip.y4m", &error));
        EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
    }
    struct Case {
        const char *header;
        const char *says;
    } cases[] = {
        {"YUV4MPEG3 W4 H4\n", "not a YUV4MPEG2"},
        {"YUV4MPEG2 W0 H4\n", "zero frame size"},
        {"YUV4MPEG2 W4\n", "no frame size"},
        {"YUV4MPEG2 W4x H4\n", "bad width"},
        {"YUV4MPEG2 W99999 H4\n", "too large"},
        {"YUV4MPEG2 W4 H4 F25:0\n", "bad frame rate"},
        {"YUV4MPEG2 W4 H4 C444\n", "unsupported chroma format C444"},
        {"", "empty file"},
    };
    for (const Case &c : cases) {
        Y4mReader r;
        EXPECT_FALSE(r.open(write_temp("bad.y4m", c.header).c_str(), &error)) << c.header;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
    // Two whole 4x2 frames, then a third cut short; odd sizes round chroma up.
    std::string clip = "YUV4MPEG2 W3 H2 F30000:1001 Ip C420jpeg XYSCSS=420JPEG\n";
    for (int i = 0; i < 2; ++i)
        clip += "FRAME\n" + std::string(6, char('a' + i)) + "uuvv";
    clip += "FRAME Ixyz\n" + std::string(5, 'c');
    Y4mReader r;
    ASSERT_TRUE(r.open(write_temp("cut.y4m", clip).c_str(), &error)) << error;
    EXPECT_EQ(r.rate_num(), 30000);
    HostFrame f;
    ASSERT_EQ(r.read(&f, &error), 1);
    EXPECT_EQ(f.width, 3);
    EXPECT_EQ(f.u.size(), 2u);
    EXPECT_EQ(f.y[5], 'a');
    EXPECT_EQ(f.v[1], 'v');
    ASSERT_EQ(r.read(&f, &error), 1);
    EXPECT_EQ(f.y[0], 'b');
    EXPECT_EQ(r.read(&f, &error), -1);
    EXPECT_NE(error.find("frame 2 ends early (5 of 10 bytes)"), std::string::npos) << error;
    Y4mReader garbage;
    ASSERT_TRUE(garbage.open(write_temp("nomark.y4m", "YUV4MPEG2 W2 H2\nFRAMX\n").c_str(), &error));
    EXPECT_EQ(garbage.read(&f, &error), -1);
    EXPECT_NE(error.find("no FRAME marker"), std::string::npos) << error;
}

// 10-bit clips keep their words: widths in samples, strides in bytes.
TEST(Y4mReader, TenBitClipsKeepTheirWords)
{
    std::string clip = "YUV4MPEG2 W3 H2 F24:1 C420p10\n", frame;
    for (int i = 0; i < 6; ++i)
        frame += char(0x10 + i), frame += char(0x03); // luma words 0x310.. (within 10 bits)
    frame += std::string("\x00\x02\x01\x02", 4) + std::string("\xFF\x03\x00\x00", 4);
    clip += "FRAME\n" + frame + "FRAME\n" + frame.substr(0, 13);
    std::string error;
    Y4mReader r;
    ASSERT_TRUE(r.open(write_temp("ten.y4m", clip).c_str(), &error)) << error;
    EXPECT_EQ(r.sample_bytes(), 2);
    HostFrame f;
    ASSERT_EQ(r.read(&f, &error), 1) << error;
    EXPECT_EQ(f.width, 3);
    EXPECT_EQ(f.y_stride, 6);
    EXPECT_EQ(f.c_stride, 4);
    EXPECT_EQ(f.y[10] | f.y[11] << 8, 0x315);
    EXPECT_EQ(f.u[2] | f.u[3] << 8, 0x201);
    EXPECT_EQ(f.v[0] | f.v[1] << 8, 0x3FF);
    EXPECT_EQ(r.read(&f, &error), -1);
    EXPECT_NE(error.find("frame 1 ends early (13 of 20 bytes)"), std::string::npos) << error;
    Y4mReader twelve;
    EXPECT_FALSE(twelve.open(write_temp("twelve.y4m", "YUV4MPEG2 W4 H4 C420p12\n").c_str(), &error));
}

TEST(Y4mReader, Samples)
{
    if (!have_samples())
        GTEST_SKIP() << "ORV_SAMPLES not set";
    std::string error;
    Y4mReader r;
    ASSERT_TRUE(r.open(sample("testsrc2_320x240_420.y4m").c_str(), &error)) << error;
    HostFrame f;
    int n = 0;
    while (r.read(&f, &error) == 1)
        ++n;
    EXPECT_EQ(n, 10);
    EXPECT_EQ(r.read(&f, &error), 0);
    Y4mReader chroma422;
    EXPECT_FALSE(chroma422.open(sample("testsrc2_176x144_422.y4m").c_str(), &error));
    EXPECT_NE(error.find("unsupported chroma"), std::string::npos) << error;
    Y4mReader cut;
    ASSERT_TRUE(cut.open(sample("truncated_320x240_420.y4m").c_str(), &error)) << error;
    int whole = 0;
    int last;
    while ((last = cut.read(&f, &error)) == 1)
        ++whole;
    EXPECT_EQ(last, -1);
    EXPECT_EQ(whole, int((100000 - 40) / (320 * 240 * 3 / 2 + 6)));
    EXPECT_NE(error.find("ends early"), std::string::npos) << error;
}

// Counts posted pixels that stray from the model by more than the tolerance.
struct Checker {
    const std::vector<HostFrame> *frames;
    int tolerance;
    std::atomic<int> checked{0};
    std::atomic<int> bad{0};

    static void hook(void *ctx, const OrvStandinBuffer *b)
    {
        auto *c = static_cast<Checker *>(ctx);
        const HostFrame &f = (*c->frames)[(b->sequence - 1) % c->frames->size()];
        if (b->width != f.width || b->height != f.height)
            return;
        for (int y = 0; y < f.height; ++y) {
            for (int x = 0; x < f.width; ++x) {
                const size_t ci = size_t(y / 2) * f.c_stride + x / 2;
                const auto want = yuv_model::tail_pixel(f.y[size_t(y) * f.y_stride + x], f.u[ci], f.v[ci]);
                const uint32_t got = orv_standin_buffer_argb(b, x, y);
                if (std::abs(int(got >> 16 & 255) - want.r) > c->tolerance ||
                    std::abs(int(got >> 8 & 255) - want.g) > c->tolerance ||
                    std::abs(int(got & 255) - want.b) > c->tolerance)
                    c->bad++;
            }
        }
        c->checked++;
    }
};

void play_clip(const char *name, int32_t format, int tolerance)
{
    std::string error;
    Y4mReader r;
    ASSERT_TRUE(r.open(sample(name).c_str(), &error)) << error;
    std::vector<HostFrame> frames;
    HostFrame f;
    while (r.read(&f, &error) == 1)
        frames.push_back(f);
    ASSERT_FALSE(frames.empty());

    RuntimeScope runtime;
    StandinDisplay d(r.width(), r.height(), format);
    Checker checker{&frames, tolerance};
    orv_standin_window_set_post_hook(d.window, &Checker::hook, &checker);
    ScriptedHost host;
    for (size_t i = 0; i < frames.size(); ++i) {
        host.add_frame(frames[i]);
        host.push({ORV_OK, 1, i});
    }
    RenderModule *m = CreateDeviceRendModule(0);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->set_host(m, host.context(), host.callbacks()), ORV_OK);
    ASSERT_EQ(m->set_surface(m, d.vm, d.surface), ORV_OK);
    ASSERT_EQ(m->start(m), ORV_OK);
    EXPECT_TRUE(host.wait_count(Call::Release, frames.size())) << host.trace();
    m->stop(m);
    m->destroy(m);
    EXPECT_EQ(checker.checked.load(), int(frames.size()));
    EXPECT_EQ(checker.bad.load(), 0);
    EXPECT_EQ(d.stats().overruns, 0u);
    EXPECT_EQ(host.count(Call::Error), 0u);
    EXPECT_TRUE(runtime.render_leaks().empty());
}

TEST(DeviceRender, PlaysSampleClips)
{
    if (!have_samples())
        GTEST_SKIP() << "ORV_SAMPLES not set";
    play_clip("testsrc2_320x240_420.y4m", WINDOW_FORMAT_RGBA_8888, 1);
    // Width 350: every row ends in scalar code; RGB565 with the error carry.
    play_clip("smptebars_350x202_420.y4m", WINDOW_FORMAT_RGB_565, 15);
    play_clip("smptebars_350x202_420.y4m", WINDOW_FORMAT_RGBX_8888, 1);
}

TEST(DeviceRender, BuiltInClipAcrossASizeChange)
{
    RuntimeScope runtime;
    std::vector<HostFrame> frames;
    for (int i = 0; i < 6; ++i) {
        frames.push_back(i < 3 ? HostFrame::make(200, 120) : HostFrame::make(330, 190));
        draw_clip_frame(i, &frames.back());
    }
    StandinDisplay d(200, 120, WINDOW_FORMAT_RGB_565);
    ScriptedHost host;
    for (size_t i = 0; i < frames.size(); ++i) {
        host.add_frame(frames[i]);
        host.push({ORV_OK, 1, i});
    }
    RenderModule *m = CreateDeviceRendModule(0);
    ASSERT_EQ(m->set_host(m, host.context(), host.callbacks()), ORV_OK);
    ASSERT_EQ(m->set_surface(m, d.vm, d.surface), ORV_OK);
    ASSERT_EQ(m->start(m), ORV_OK);
    EXPECT_TRUE(host.wait_count(Call::Release, 6)) << host.trace();
    m->stop(m);
    m->destroy(m);
    // Six frames and the one buffer posted undrawn at the change.
    EXPECT_EQ(d.stats().posted, 7u);
    EXPECT_EQ(host.count(Call::Event), 1u);
    OrvStandinBuffer b{};
    ASSERT_EQ(orv_standin_window_last_posted(d.window, &b), 0);
    EXPECT_EQ(b.width, 330);
    EXPECT_EQ(d.stats().overruns, 0u);
    EXPECT_TRUE(runtime.render_leaks().empty());
}

// A host thread attaches and detaches the surface while the render thread
// presents; the overlay's mutex keeps every window call whole.
TEST(DeviceRenderRace, SurfaceAttachAndDetachRacingPresent)
{
    RuntimeScope runtime;
    StandinDisplay d(96, 48, WINDOW_FORMAT_RGBA_8888);
    ScriptedHost host;
    HostFrame f = HostFrame::make(96, 48);
    draw_clip_frame(1, &f);
    host.add_frame(f);
    host.set_tail({ORV_OK, 1});
    RenderModule *m = CreateDeviceRendModule(0);
    ASSERT_EQ(m->set_host(m, host.context(), host.callbacks()), ORV_OK);
    ASSERT_EQ(m->start(m), ORV_OK);
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(m->set_surface(m, d.vm, d.surface), ORV_OK);
        if (i % 4 == 0)
            std::this_thread::yield();
        ASSERT_EQ(m->set_surface(m, nullptr, nullptr), ORV_OK);
    }
    ASSERT_EQ(m->set_surface(m, d.vm, d.surface), ORV_OK);
    const size_t before = host.count(Call::Release);
    EXPECT_TRUE(host.wait_count(Call::Release, before + 3));
    m->stop(m);
    m->destroy(m);
    const OrvStandinWindowStats s = d.stats();
    EXPECT_EQ(s.misuse, 0u);
    EXPECT_EQ(s.overruns, 0u);
    EXPECT_EQ(s.locked, 0);
    EXPECT_EQ(s.refcount, 2);
    EXPECT_EQ(host.count(Call::Error), 0u);
    EXPECT_GE(host.count(Call::Event), 1u);
    EXPECT_EQ(d.vm_stats().threads_attached, 0);
    EXPECT_TRUE(runtime.render_leaks().empty());
}

TEST(DeviceRenderRace, ManyStartStopCycles)
{
    RuntimeScope runtime;
    StandinDisplay d(32, 32, WINDOW_FORMAT_RGB_565);
    HostFrame f = HostFrame::make(32, 32);
    draw_clip_frame(2, &f);
    for (int cycle = 0; cycle < 40; ++cycle) {
        ScriptedHost host;
        host.add_frame(f);
        host.set_tail({ORV_OK, cycle & 1});
        RenderModule *m = CreateDeviceRendModule(0);
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(m->set_host(m, host.context(), host.callbacks()), ORV_OK);
        ASSERT_EQ(m->set_surface(m, d.vm, d.surface), ORV_OK);
        ASSERT_EQ(m->start(m), ORV_OK);
        if (cycle % 3 == 0)
            host.wait_count(Call::Started, 1);
        ASSERT_EQ(m->stop(m), ORV_OK);
        EXPECT_EQ(host.count(Call::Started), 1u) << cycle;
        EXPECT_EQ(host.count(Call::Error), 0u) << cycle;
        ASSERT_EQ(m->destroy(m), ORV_OK);
    }
    EXPECT_EQ(d.stats().refcount, 2);
    EXPECT_EQ(d.stats().locked, 0);
    EXPECT_TRUE(runtime.render_leaks().empty());
}

} // namespace

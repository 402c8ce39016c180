// Demo host player: uses the render library exactly as a media player on a
// device would. It loads the shared library with dlopen, starts it, creates a
// render module, hands it callbacks and the Surface of a (software) window,
// plays a clip through it, and tears everything down again. The frames the
// window shows are written as PNG files.
#include <dlfcn.h>
#include <png.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "clip.h"
#include "device_render.h"
#include "orv_standin.h"
#include "y4m.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::string input; // empty: the built-in clip
    std::string library = ORV_PLAYER_LIBRARY;
    std::string out_dir = "player-out";
    int32_t format = WINDOW_FORMAT_RGBA_8888;
    int frames = -1; // -1: the whole clip
    double fps = 0;  // 0: the clip's own rate
    bool fast = false;
    int every = 1;
    int32_t width = 640, height = 360;    // built-in clip, first half
    int32_t width2 = 1280, height2 = 720; // built-in clip, second half
    int matrix = DEVICE_MATRIX_BT601;
    int range = -1;    // -1: the clip's XCOLORRANGE tag, else limited
    int semi = 0;      // 0 planar; 12 NV12, 21 NV21: chroma repacked into one plane of pairs
    bool p010 = false; // a 10-bit clip repacked into P010 (values in the high bits, chroma pairs)
    int32_t window_format = DEVICE_WINDOW_AUTO; // what the module asks the window for
    int rotate = DEVICE_TRANSFORM_NONE;         // --rotate, as transform bits
    int mirror = DEVICE_TRANSFORM_NONE;         // --mirror, as transform bits
    bool stats = false;
};

void usage(std::FILE *to)
{
    std::fprintf(to,
                 "usage: orv_player [options] [clip.y4m]\n"
                 "Plays a YUV4MPEG2 4:2:0 clip (or the built-in colour-bar clip) through\n"
                 "libdevicerender into a software window and writes what it shows as PNGs.\n"
                 "  --format rgba8888|rgbx8888|rgb565   window format (rgba8888)\n"
                 "  --frames N        frames to play (whole clip; built-in: 60)\n"
                 "  --fps R           frames per second (the clip's rate; built-in: 30)\n"
                 "  --fast            as fast as possible\n"
                 "  --every N         write every Nth frame (1); 0 writes none\n"
                 "  --out DIR         output folder (player-out)\n"
                 "  --size WxH        built-in clip size before its change (640x360)\n"
                 "  --size2 WxH       built-in clip size after it (1280x720)\n"
                 "  --matrix bt601|bt709|bt2020   colour matrix (bt601)\n"
                 "  --range limited|full          colour range (the clip's XCOLORRANGE tag, else limited)\n"
                 "  --nv12, --nv21    repack each frame's chroma into one plane of pairs (semi-planar)\n"
                 "  --p010            repack a 10-bit clip (C420p10) into P010 (high bits, chroma pairs)\n"
                 "  --window yv12|rgba|rgbx|rgb565|auto   buffer format the module asks the window for\n"
                 "                    (auto: the window's own); yv12 copies planes, the window composes\n"
                 "  --rotate 0|90|180|270   turn the picture clockwise (in the conversion)\n"
                 "  --mirror h|v      flip it left-right or top-bottom (before the turn)\n"
                 "  --stats           print the module's render statistics at the end\n"
                 "  --lib PATH        library to load (%s)\n",
                 ORV_PLAYER_LIBRARY);
}

bool parse_size(const char *text, int32_t *w, int32_t *h)
{
    char *end = nullptr;
    const long a = std::strtol(text, &end, 10);
    if (end == text || (*end != 'x' && *end != 'X'))
        return false;
    const char *second = end + 1;
    const long b = std::strtol(second, &end, 10);
    if (end == second || *end != '\0')
        return false;
    if (a <= 0 || b <= 0 || a > Y4mReader::kMaxSide || b > Y4mReader::kMaxSide)
        return false;
    *w = int32_t(a);
    *h = int32_t(b);
    return true;
}

bool parse_int(const char *text, int lo, int *out)
{
    char *end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < lo || v > 100000000)
        return false;
    *out = int(v);
    return true;
}

// Exit code 2 for bad input, with a message.
int parse_options(int argc, char **argv, Options *o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char *name) -> const char * {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "orv_player: %s needs a value\n", name);
                return nullptr;
            }
            return argv[++i];
        };
        const char *v = nullptr;
        if (a == "-h" || a == "--help") {
            usage(stdout);
            return 1;
        } else if (a == "--format") {
            if (!(v = value("--format")))
                return 2;
            const std::string f = v;
            if (f == "rgba8888")
                o->format = WINDOW_FORMAT_RGBA_8888;
            else if (f == "rgbx8888")
                o->format = WINDOW_FORMAT_RGBX_8888;
            else if (f == "rgb565")
                o->format = WINDOW_FORMAT_RGB_565;
            else {
                std::fprintf(stderr, "orv_player: unknown format '%s' (rgba8888, rgbx8888, rgb565)\n", v);
                return 2;
            }
        } else if (a == "--window") {
            if (!(v = value("--window")))
                return 2;
            const std::string f = v;
            if (f == "yv12")
                o->window_format = DEVICE_WINDOW_YV12;
            else if (f == "rgba")
                o->window_format = DEVICE_WINDOW_RGBA;
            else if (f == "rgbx")
                o->window_format = DEVICE_WINDOW_RGBX;
            else if (f == "rgb565")
                o->window_format = DEVICE_WINDOW_RGB565;
            else if (f == "auto")
                o->window_format = DEVICE_WINDOW_AUTO;
            else {
                std::fprintf(stderr,
                             "orv_player: unknown window format '%s' (yv12, rgba, rgbx, rgb565, auto)\n", v);
                return 2;
            }
        } else if (a == "--rotate") {
            if (!(v = value("--rotate")))
                return 2;
            const std::string r = v;
            if (r == "0")
                o->rotate = DEVICE_TRANSFORM_NONE;
            else if (r == "90")
                o->rotate = DEVICE_TRANSFORM_ROTATE_90;
            else if (r == "180")
                o->rotate = DEVICE_TRANSFORM_ROTATE_180;
            else if (r == "270")
                o->rotate = DEVICE_TRANSFORM_ROTATE_270;
            else {
                std::fprintf(stderr, "orv_player: unknown rotation '%s' (0, 90, 180, 270)\n", v);
                return 2;
            }
        } else if (a == "--mirror") {
            if (!(v = value("--mirror")))
                return 2;
            const std::string m = v;
            if (m == "h")
                o->mirror = DEVICE_TRANSFORM_MIRROR_H;
            else if (m == "v")
                o->mirror = DEVICE_TRANSFORM_MIRROR_V;
            else {
                std::fprintf(stderr, "orv_player: unknown mirror '%s' (h, v)\n", v);
                return 2;
            }
        } else if (a == "--frames") {
            if (!(v = value("--frames")))
                return 2;
            if (!parse_int(v, 1, &o->frames)) {
                std::fprintf(stderr, "orv_player: bad frame count '%s'\n", v);
                return 2;
            }
        } else if (a == "--fps") {
            if (!(v = value("--fps")))
                return 2;
            char *end = nullptr;
            o->fps = std::strtod(v, &end);
            if (end == v || *end != '\0' || !(o->fps > 0 && o->fps <= 1000)) {
                std::fprintf(stderr, "orv_player: bad frame rate '%s'\n", v);
                return 2;
            }
        } else if (a == "--fast") {
            o->fast = true;
        } else if (a == "--every") {
            if (!(v = value("--every")))
                return 2;
            if (!parse_int(v, 0, &o->every)) {
                std::fprintf(stderr, "orv_player: bad --every '%s'\n", v);
                return 2;
            }
        } else if (a == "--out") {
            if (!(v = value("--out")))
                return 2;
            o->out_dir = v;
        } else if (a == "--size" || a == "--size2") {
            if (!(v = value(a.c_str())))
                return 2;
            int32_t *w = a == "--size" ? &o->width : &o->width2;
            int32_t *h = a == "--size" ? &o->height : &o->height2;
            if (!parse_size(v, w, h)) {
                std::fprintf(stderr, "orv_player: bad size '%s' (WxH, each 1..%d)\n", v, Y4mReader::kMaxSide);
                return 2;
            }
        } else if (a == "--matrix") {
            if (!(v = value("--matrix")))
                return 2;
            const std::string m = v;
            if (m == "bt601")
                o->matrix = DEVICE_MATRIX_BT601;
            else if (m == "bt709")
                o->matrix = DEVICE_MATRIX_BT709;
            else if (m == "bt2020")
                o->matrix = DEVICE_MATRIX_BT2020;
            else {
                std::fprintf(stderr, "orv_player: unknown matrix '%s' (bt601, bt709, bt2020)\n", v);
                return 2;
            }
        } else if (a == "--range") {
            if (!(v = value("--range")))
                return 2;
            const std::string r = v;
            if (r == "limited")
                o->range = DEVICE_RANGE_LIMITED;
            else if (r == "full")
                o->range = DEVICE_RANGE_FULL;
            else {
                std::fprintf(stderr, "orv_player: unknown range '%s' (limited, full)\n", v);
                return 2;
            }
        } else if (a == "--p010") {
            o->p010 = true;
        } else if (a == "--nv12" || a == "--nv21") {
            o->semi = a == "--nv12" ? 12 : 21;
        } else if (a == "--stats") {
            o->stats = true;
        } else if (a == "--lib") {
            if (!(v = value("--lib")))
                return 2;
            o->library = v;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "orv_player: unknown option '%s'\n", a.c_str());
            usage(stderr);
            return 2;
        } else if (o->input.empty()) {
            o->input = a;
        } else {
            std::fprintf(stderr, "orv_player: one clip at a time ('%s')\n", a.c_str());
            return 2;
        }
    }
    return 0;
}

bool write_png(const std::string &path, const OrvStandinBuffer &b)
{
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_compression_level(png, 1);
    // What the compositor shows: a window transform turns the buffer.
    png_set_IHDR(png, info, b.shown_width, b.shown_height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_byte> row(size_t(b.shown_width) * 3);
    for (int32_t y = 0; y < b.shown_height; ++y) {
        for (int32_t x = 0; x < b.shown_width; ++x) {
            const uint32_t p = orv_standin_buffer_argb(&b, x, y);
            row[size_t(x) * 3] = png_byte(p >> 16);
            row[size_t(x) * 3 + 1] = png_byte(p >> 8);
            row[size_t(x) * 3 + 2] = png_byte(p);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

// The host: a frame source paced by the clip rate, and the callbacks.
struct Player {
    Options opt;
    Y4mReader reader;
    bool builtin = true;
    int limit = 60;
    Clock::duration frame_period{};

    HostFrame frame;                // the one handed out; the library reads it until release
    std::vector<uint8_t> pairs;     // its chroma as one plane of pairs, with --nv12/--nv21 or --p010
    std::vector<uint8_t> luma_p010; // its luma words shifted up, with --p010
    int handed = 0;                 // frames handed out
    Clock::time_point start_time{};
    Clock::time_point handed_at{};
    Clock::duration hook_time{}; // PNG writing inside the current present

    std::vector<double> present_ms;
    int presented = 0;
    int written = 0;
    int write_failures = 0;
    int undrawn = 0;
    Clock::duration total_hook{};

    std::mutex lock;
    std::condition_variable done_cv;
    bool done = false;
    ResultCode error = ORV_OK;
    std::string input_error;

    void finish()
    {
        std::lock_guard<std::mutex> g(lock);
        done = true;
        done_cv.notify_all();
    }

    ResultCode next_frame(YuvFrame *out, int *release)
    {
        if (done || handed >= limit)
            return ORV_WOUNLD_BLOCK;
        const Clock::time_point now = Clock::now();
        if (handed == 0)
            start_time = now;
        if (!opt.fast && now < start_time + frame_period * handed)
            return ORV_WOUNLD_BLOCK;
        if (builtin) {
            const bool second = handed >= limit / 2;
            const int32_t w = second ? opt.width2 : opt.width, h = second ? opt.height2 : opt.height;
            if (frame.width != w || frame.height != h)
                frame = HostFrame::make(w, h);
            draw_clip_frame(handed, &frame);
        } else {
            const int r = reader.read(&frame, &input_error);
            if (r <= 0) {
                // End of the clip (or a broken frame, reported at the end).
                limit = handed;
                finish();
                return ORV_WOUNLD_BLOCK;
            }
        }
        *out = frame.view();
        if (ten_bit() && opt.p010)
            repack_p010(out);
        else if (opt.semi != 0)
            repack(out);
        *release = 1;
        ++handed;
        hook_time = {};
        handed_at = Clock::now();
        return ORV_OK;
    }

    // What a decoder handing out NV12 or NV21 gives: one chroma plane of
    // pairs, u and v one byte apart.
    void repack(YuvFrame *out)
    {
        const int32_t cw = HostFrame::chroma_width(frame.width), ch = HostFrame::chroma_height(frame.height);
        const bool nv12 = opt.semi == 12;
        pairs.resize(size_t(2 * cw) * ch);
        for (int32_t r = 0; r < ch; ++r) {
            uint8_t *row = pairs.data() + size_t(r) * 2 * cw;
            const uint8_t *u = frame.u.data() + size_t(r) * frame.c_stride;
            const uint8_t *v = frame.v.data() + size_t(r) * frame.c_stride;
            for (int32_t i = 0; i < cw; ++i) {
                row[2 * i + (nv12 ? 0 : 1)] = u[i];
                row[2 * i + (nv12 ? 1 : 0)] = v[i];
            }
        }
        out->u = pairs.data() + (nv12 ? 0 : 1);
        out->v = pairs.data() + (nv12 ? 1 : 0);
        out->u_stride = out->v_stride = 2 * cw;
    }

    bool ten_bit() const { return !builtin && reader.sample_bytes() == 2; }

    // What an Android decoder hands out for 10-bit: P010, each value in the
    // high 10 bits of its word, Cb and Cr words paired in one plane.
    void repack_p010(YuvFrame *out)
    {
        const int32_t cw = HostFrame::chroma_width(frame.width), ch = HostFrame::chroma_height(frame.height);
        auto word = [](const uint8_t *p) { return uint16_t((p[0] | p[1] << 8) << 6); };
        auto put = [](uint8_t *p, uint16_t w) { p[0] = uint8_t(w), p[1] = uint8_t(w >> 8); };
        luma_p010.resize(frame.y.size());
        for (size_t i = 0; i + 1 < frame.y.size(); i += 2)
            put(&luma_p010[i], word(&frame.y[i]));
        pairs.resize(size_t(4 * cw) * ch);
        for (int32_t r = 0; r < ch; ++r) {
            uint8_t *row = pairs.data() + size_t(r) * 4 * cw;
            const uint8_t *u = frame.u.data() + size_t(r) * frame.c_stride;
            const uint8_t *v = frame.v.data() + size_t(r) * frame.c_stride;
            for (int32_t i = 0; i < cw; ++i) {
                put(row + 4 * i, word(u + 2 * i));
                put(row + 4 * i + 2, word(v + 2 * i));
            }
        }
        out->y = luma_p010.data();
        out->u = pairs.data();
        out->v = pairs.data() + 2;
        out->u_stride = out->v_stride = 4 * cw;
    }

    void released(ResultCode result)
    {
        const Clock::duration spent = Clock::now() - handed_at - hook_time;
        if (result == ORV_OK) {
            ++presented;
            present_ms.push_back(std::chrono::duration<double, std::milli>(spent).count());
        }
        if (handed >= limit)
            finish();
    }

    void posted(const OrvStandinBuffer *b)
    {
        // The buffer posted undrawn when the frame size changed is not a
        // frame. A quarter turn shows height x width, whether the conversion,
        // the YV12 copy or the window turned it.
        const bool turned = (opt.rotate & DEVICE_TRANSFORM_ROTATE_90) != 0;
        const int32_t want_w = turned ? frame.height : frame.width,
                      want_h = turned ? frame.width : frame.height;
        if (b->shown_width != want_w || b->shown_height != want_h) {
            ++undrawn;
            return;
        }
        if (opt.every == 0 || (handed - 1) % opt.every != 0)
            return;
        const Clock::time_point t0 = Clock::now();
        char name[64];
        std::snprintf(name, sizeof name, "frame_%05d.png", handed - 1);
        if (write_png((std::filesystem::path(opt.out_dir) / name).string(), *b))
            ++written;
        else
            ++write_failures;
        const Clock::duration d = Clock::now() - t0;
        hook_time += d;
        total_hook += d;
    }

    static ResultCode on_event(void *ctx, int a, int b, int c)
    {
        if (a == 0 && b == 0)
            std::printf("event: no surface yet\n");
        else
            std::printf("event: frame size %dx%d, window geometry follows\n", a, b);
        return ORV_OK;
    }
    static ResultCode on_started(void *)
    {
        std::printf("rendering started\n");
        return ORV_OK;
    }
    static ResultCode on_error(void *ctx, ResultCode code, int)
    {
        auto *p = static_cast<Player *>(ctx);
        p->error = code;
        p->finish();
        return ORV_OK;
    }
    static ResultCode get_frame(void *ctx, YuvFrame *frame, int *release)
    {
        return static_cast<Player *>(ctx)->next_frame(frame, release);
    }
    static ResultCode release_frame(void *ctx, int, ResultCode result)
    {
        static_cast<Player *>(ctx)->released(result);
        return ORV_OK;
    }
    static void post_hook(void *ctx, const OrvStandinBuffer *b) { static_cast<Player *>(ctx)->posted(b); }
};

void print_stats(const DeviceRenderStats &s)
{
    std::printf("stats: %llu presented, %llu retried, %llu redrawn, %llu passes without a surface, "
                "%llu without a frame due\n",
                (unsigned long long)s.frames_presented, (unsigned long long)s.frames_retried,
                (unsigned long long)s.frames_redrawn, (unsigned long long)s.no_surface_waits,
                (unsigned long long)s.no_frame_waits);
    std::printf("stats: conversion %u us last, %u us mean, %u us max; lock and post %u us mean; "
                "window format %d, last frame %dx%d\n",
                s.blit_us_last, s.blit_us_mean, s.blit_us_max, s.post_us_mean, s.window_format, s.width,
                s.height);
}

template <typename T>
bool resolve(void *lib, const char *name, T *out)
{
    *out = reinterpret_cast<T>(dlsym(lib, name));
    if (*out == nullptr)
        std::fprintf(stderr, "orv_player: %s not found in the library\n", name);
    return *out != nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    Player p;
    if (const int rc = parse_options(argc, argv, &p.opt); rc != 0)
        return rc == 1 ? 0 : rc;
    Options &o = p.opt;

    double rate = 30;
    if (!o.input.empty()) {
        std::string error;
        if (!p.reader.open(o.input.c_str(), &error)) {
            std::fprintf(stderr, "orv_player: %s\n", error.c_str());
            return 2;
        }
        p.builtin = false;
        p.limit = o.frames > 0 ? o.frames : INT32_MAX;
        rate = double(p.reader.rate_num()) / p.reader.rate_den();
    } else {
        p.limit = o.frames > 0 ? o.frames : 60;
    }
    if (o.fps > 0)
        rate = o.fps;
    p.frame_period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
    std::error_code ec;
    std::filesystem::create_directories(o.out_dir, ec);
    if (ec) {
        std::fprintf(stderr, "orv_player: cannot create %s: %s\n", o.out_dir.c_str(), ec.message().c_str());
        return 2;
    }

    void *lib = dlopen(o.library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) {
        std::fprintf(stderr, "orv_player: cannot load %s: %s\n", o.library.c_str(), dlerror());
        return 3;
    }
    ResultCode (*lib_init)(int) = nullptr;
    ResultCode (*lib_uninit)() = nullptr;
    RenderModule *(*create)(int) = nullptr;
    ResultCode (*set_color)(RenderModule *, int, int) = nullptr;
    ResultCode (*set_chroma_step)(RenderModule *, int) = nullptr;
    ResultCode (*set_sample_format)(RenderModule *, int32_t) = nullptr;
    ResultCode (*set_window_format)(RenderModule *, int32_t) = nullptr;
    ResultCode (*set_transform)(RenderModule *, int32_t) = nullptr;
    int32_t (*get_window_format)(RenderModule *) = nullptr;
    ResultCode (*set_frame_rate)(RenderModule *, float) = nullptr;
    ResultCode (*get_stats)(RenderModule *, DeviceRenderStats *) = nullptr;
    if (!resolve(lib, "DeviceRenderLibInit", &lib_init) ||
        !resolve(lib, "DeviceRenderLibUninit", &lib_uninit) ||
        !resolve(lib, "CreateDeviceRendModule", &create) ||
        !resolve(lib, "DeviceRendModuleSetColor", &set_color) ||
        !resolve(lib, "DeviceRendModuleSetChromaStep", &set_chroma_step) ||
        !resolve(lib, "DeviceRendModuleSetSampleFormat", &set_sample_format) ||
        !resolve(lib, "DeviceRendModuleSetWindowFormat", &set_window_format) ||
        !resolve(lib, "DeviceRendModuleSetTransform", &set_transform) ||
        !resolve(lib, "DeviceRendModuleGetWindowFormat", &get_window_format) ||
        !resolve(lib, "DeviceRendModuleSetFrameRate", &set_frame_rate) ||
        !resolve(lib, "DeviceRendModuleGetStats", &get_stats)) {
        dlclose(lib);
        return 3;
    }
    if (lib_init(0) != ORV_OK) {
        std::fprintf(stderr, "orv_player: DeviceRenderLibInit failed\n");
        dlclose(lib);
        return 3;
    }

    // What a device would give the host: a VM, a window and its Surface.
    const int32_t w0 = p.builtin ? o.width : p.reader.width();
    const int32_t h0 = p.builtin ? o.height : p.reader.height();
    JavaVM *vm = orv_standin_vm_create();
    ANativeWindow *window = orv_standin_window_create(w0, h0, o.format);
    jobject surface = orv_standin_surface_create(window);
    orv_standin_window_set_post_hook(window, &Player::post_hook, &p);

    HostCallbacks callbacks{&Player::on_event, &Player::on_started, &Player::on_error, &Player::get_frame,
                            &Player::release_frame};
    int status = 0;
    const int range = o.range >= 0                                ? o.range
                      : !p.builtin && p.reader.color_range() == 1 ? DEVICE_RANGE_FULL
                                                                  : DEVICE_RANGE_LIMITED;
    RenderModule *module = create(0);
    if (module == nullptr || set_color(module, o.matrix, range) != ORV_OK ||
        set_chroma_step(module, (p.ten_bit() ? o.p010 : o.semi != 0) ? 2 : 1) != ORV_OK ||
        set_sample_format(module, !p.ten_bit() ? DEVICE_SAMPLES_8
                                  : o.p010     ? DEVICE_SAMPLES_10_HIGH
                                               : DEVICE_SAMPLES_10_LOW) != ORV_OK ||
        set_window_format(module, o.window_format) != ORV_OK ||
        // Flips compose by their bits (flips first, then the turn).
        set_transform(module, o.rotate ^ o.mirror) != ORV_OK ||
        set_frame_rate(module, o.fast ? 0.0f : float(rate)) != ORV_OK ||
        module->set_host(module, &p, &callbacks) != ORV_OK ||
        module->set_surface(module, vm, surface) != ORV_OK || module->start(module) != ORV_OK) {
        std::fprintf(stderr, "orv_player: could not set up the render module\n");
        status = 3;
    } else {
        std::unique_lock<std::mutex> g(p.lock);
        p.done_cv.wait(g, [&] { return p.done; });
    }
    const Clock::time_point end_time = Clock::now();
    // Read before destroy: a fallback from YV12 shows here.
    const int32_t posted_format = module != nullptr ? get_window_format(module) : 0;
    DeviceRenderStats stats{};
    bool have_stats = false;
    if (module != nullptr) {
        module->stop(module);
        have_stats = get_stats(module, &stats) == ORV_OK;
        module->destroy(module);
    }
    orv_standin_surface_destroy(surface);
    ANativeWindow_release(window);
    orv_standin_vm_destroy(vm);
    lib_uninit();
    dlclose(lib);

    if (status != 0)
        return status;
    std::vector<double> times = p.present_ms;
    std::sort(times.begin(), times.end());
    const double median = times.empty() ? 0 : times[times.size() / 2];
    const double seconds = std::chrono::duration<double>(end_time - p.start_time).count();
    const double png_seconds = std::chrono::duration<double>(p.total_hook).count();
    std::printf("presented %d frames in %.3f s: %.1f fps, median present %.3f ms "
                "(%.3f s of the run went to writing PNGs, not counted in present times)\n",
                p.presented, seconds, seconds > 0 ? p.presented / seconds : 0.0, median, png_seconds);
    std::printf("window buffers posted last in format 0x%x (%s)\n", unsigned(posted_format),
                posted_format == DEVICE_WINDOW_YV12     ? "YV12, composed by the window"
                : posted_format == DEVICE_WINDOW_RGBA   ? "RGBA"
                : posted_format == DEVICE_WINDOW_RGBX   ? "RGBX"
                : posted_format == DEVICE_WINDOW_RGB565 ? "RGB565"
                                                        : "none");
    std::printf("wrote %d PNG files to %s\n", p.written, std::filesystem::absolute(o.out_dir).c_str());
    if (o.stats && have_stats)
        print_stats(stats);
    if (p.write_failures > 0) {
        std::fprintf(stderr, "orv_player: %d PNG files could not be written\n", p.write_failures);
        status = 4;
    }
    if (p.error != ORV_OK) {
        std::fprintf(stderr, "orv_player: rendering failed with 0x%08x\n", unsigned(p.error));
        status = 4;
    }
    if (!p.input_error.empty()) {
        std::fprintf(stderr, "orv_player: %s\n", p.input_error.c_str());
        status = 2;
    }
    return status;
}

// The platform stand-ins must behave like a device where the render path relies
// on it, or the render tests prove nothing.
#include <gtest/gtest.h>

#include <android/data_space.h>
#include <android/native_window_jni.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "orv_standin.h"

namespace {

OrvStandinWindowStats stats_of(ANativeWindow *w)
{
    OrvStandinWindowStats s{};
    orv_standin_window_stats(w, &s);
    return s;
}

TEST(AndroidStandin, GeometryAppliesAtNextLockAndRowsArePadded)
{
    ANativeWindow *w = orv_standin_window_create(640, 360, WINDOW_FORMAT_RGB_565);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(orv_standin_window_create(0, 10, 1), nullptr);
    EXPECT_EQ(orv_standin_window_create(10, 10, 7), nullptr);

    ANativeWindow_Buffer b{};
    ASSERT_EQ(ANativeWindow_lock(w, &b, nullptr), 0);
    EXPECT_EQ(b.width, 640);
    EXPECT_EQ(b.height, 360);
    EXPECT_EQ(b.format, WINDOW_FORMAT_RGB_565);
    EXPECT_GE(b.stride, 640 + 16);
    EXPECT_EQ(ANativeWindow_setBuffersGeometry(w, 1280, 720, WINDOW_FORMAT_RGBX_8888), 0);
    EXPECT_EQ(ANativeWindow_getFormat(w), WINDOW_FORMAT_RGBX_8888);
    // The buffer already locked keeps the old geometry.
    static_cast<uint8_t *>(b.bits)[0] = 0x1F;
    static_cast<uint8_t *>(b.bits)[1] = 0;
    ASSERT_EQ(ANativeWindow_unlockAndPost(w), 0);
    OrvStandinBuffer posted{};
    ASSERT_EQ(orv_standin_window_last_posted(w, &posted), 0);
    EXPECT_EQ(posted.width, 640);
    EXPECT_EQ(posted.sequence, 1u);
    EXPECT_EQ(orv_standin_buffer_argb(&posted, 0, 0), 0xFF0000FFu);

    ASSERT_EQ(ANativeWindow_lock(w, &b, nullptr), 0);
    EXPECT_EQ(b.width, 1280);
    EXPECT_EQ(b.height, 720);
    EXPECT_EQ(b.format, WINDOW_FORMAT_RGBX_8888);
    // The posted buffer is not handed out again while it is on screen.
    EXPECT_NE(b.bits, static_cast<const void *>(posted.bits));
    ASSERT_EQ(ANativeWindow_unlockAndPost(w), 0);

    // 0 x 0 goes back to the window's own size; format 0 to its own format.
    EXPECT_EQ(ANativeWindow_setBuffersGeometry(w, 0, 0, 0), 0);
    EXPECT_EQ(ANativeWindow_setBuffersGeometry(w, 0, 5, 0), -EINVAL);
    EXPECT_EQ(ANativeWindow_setBuffersGeometry(w, 5, 5, 9), -EINVAL);
    orv_standin_window_set_stride(w, 1088);
    ASSERT_EQ(ANativeWindow_lock(w, &b, nullptr), 0);
    EXPECT_EQ(b.width, 640);
    EXPECT_EQ(b.format, WINDOW_FORMAT_RGB_565);
    EXPECT_EQ(b.stride, 1088);
    // A write into the row padding is caught at the post.
    static_cast<uint8_t *>(b.bits)[640 * 2] = 0;
    ASSERT_EQ(ANativeWindow_unlockAndPost(w), 0);
    OrvStandinWindowStats s = stats_of(w);
    EXPECT_EQ(s.overruns, 1u);
    EXPECT_EQ(s.posted, 3u);
    EXPECT_EQ(s.geometry_calls, 4u);
    EXPECT_EQ(s.geometry_format, 9);
    ANativeWindow_release(w);
}

TEST(AndroidStandin, InjectedFailuresAndMisuse)
{
    ANativeWindow *w = orv_standin_window_create(32, 16, WINDOW_FORMAT_RGBA_8888);
    ANativeWindow_Buffer b{};
    EXPECT_EQ(ANativeWindow_unlockAndPost(w), -EINVAL);
    orv_standin_window_fail_lock(w, 1, -ENODEV);
    EXPECT_EQ(ANativeWindow_lock(w, &b, nullptr), -ENODEV);
    ASSERT_EQ(ANativeWindow_lock(w, &b, nullptr), 0);
    EXPECT_EQ(ANativeWindow_lock(w, &b, nullptr), -EINVAL);
    orv_standin_window_fail_post(w, 1, -EPIPE);
    EXPECT_EQ(ANativeWindow_unlockAndPost(w), -EPIPE);
    // A failed post still unlocked the buffer, and nothing reached the screen.
    OrvStandinBuffer posted{};
    EXPECT_EQ(orv_standin_window_last_posted(w, &posted), -1);
    ASSERT_EQ(ANativeWindow_lock(w, &b, nullptr), 0);
    EXPECT_EQ(ANativeWindow_unlockAndPost(w), 0);
    OrvStandinWindowStats s = stats_of(w);
    EXPECT_EQ(s.lock_calls, 4u);
    EXPECT_EQ(s.lock_failures, 2u);
    EXPECT_EQ(s.post_calls, 3u);
    EXPECT_EQ(s.post_failures, 2u);
    EXPECT_EQ(s.misuse, 2u);
    EXPECT_EQ(s.posted, 1u);
    ANativeWindow_release(w);
}

TEST(AndroidStandin, SurfacesVmAndReferences)
{
    OrvStandinGlobalStats g0{};
    orv_standin_global_stats(&g0);
    JavaVM *vm = orv_standin_vm_create();
    ANativeWindow *w = orv_standin_window_create(64, 64, WINDOW_FORMAT_RGBA_8888);
    jobject surface = orv_standin_surface_create(w);
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(stats_of(w).refcount, 2);

    JNIEnv *env = nullptr;
    EXPECT_EQ(vm->GetEnv(reinterpret_cast<void **>(&env), JNI_VERSION_1_4), JNI_EDETACHED);
    EXPECT_EQ(env, nullptr);
    // Without an attached thread's env there is no window.
    EXPECT_EQ(ANativeWindow_fromSurface(env, surface), nullptr);
    ASSERT_EQ(vm->AttachCurrentThread(&env, nullptr), JNI_OK);
    ASSERT_NE(env, nullptr);
    JNIEnv *again = nullptr;
    EXPECT_EQ(vm->AttachCurrentThread(&again, nullptr), JNI_OK);
    EXPECT_EQ(again, env);
    ANativeWindow *got = ANativeWindow_fromSurface(env, surface);
    EXPECT_EQ(got, w);
    EXPECT_EQ(stats_of(w).refcount, 3);
    ANativeWindow_release(got);

    orv_standin_surface_set_valid(surface, 0);
    EXPECT_EQ(ANativeWindow_fromSurface(env, surface), nullptr);
    // Another thread's env is not this thread's.
    std::thread([&] { EXPECT_EQ(ANativeWindow_fromSurface(env, surface), nullptr); }).join();

    EXPECT_EQ(vm->DetachCurrentThread(), JNI_OK);
    EXPECT_EQ(vm->DetachCurrentThread(), JNI_ERR);
    orv_standin_vm_fail_attach(vm, 1, 1);
    env = reinterpret_cast<JNIEnv *>(&g0);
    EXPECT_EQ(vm->AttachCurrentThread(&env, nullptr), JNI_OK);
    EXPECT_EQ(env, nullptr);
    orv_standin_vm_fail_attach(vm, 1, 0);
    EXPECT_EQ(vm->AttachCurrentThread(&env, nullptr), JNI_ERR);
    EXPECT_EQ(orv_standin_vm_thread_attached(vm), 0);

    OrvStandinVmStats v{};
    orv_standin_vm_stats(vm, &v);
    EXPECT_EQ(v.get_env_calls, 1u);
    EXPECT_EQ(v.attach_calls, 4u);
    EXPECT_EQ(v.attached, 1u);
    EXPECT_EQ(v.detach_calls, 2u);
    EXPECT_EQ(v.detached, 1u);
    EXPECT_EQ(v.detach_unattached, 1u);
    EXPECT_EQ(v.threads_attached, 0);

    orv_standin_surface_destroy(surface);
    EXPECT_EQ(stats_of(w).refcount, 1);
    ANativeWindow_release(w);
    OrvStandinGlobalStats g{};
    orv_standin_global_stats(&g);
    EXPECT_EQ(g.live_windows, g0.live_windows);
    EXPECT_EQ(g.live_surfaces, g0.live_surfaces);
    EXPECT_EQ(g.from_surface_calls - g0.from_surface_calls, 4u);
    EXPECT_EQ(g.from_surface_failures - g0.from_surface_failures, 3u);
    orv_standin_vm_destroy(vm);
}

// A call on a released or null window would touch freed memory on a device:
// here it stops the test run, whichever call it is.
TEST(AndroidStandinDeathTest, ReleasedOrNullWindowAborts)
{
    ANativeWindow_Buffer buffer{};
    EXPECT_DEATH(
        {
            ANativeWindow *w = orv_standin_window_create(8, 8, WINDOW_FORMAT_RGBA_8888);
            ANativeWindow_release(w);
            ANativeWindow_release(w);
        },
        "ANativeWindow_release on a released window");
    EXPECT_DEATH(ANativeWindow_setBuffersGeometry(nullptr, 8, 8, 0),
                 "ANativeWindow_setBuffersGeometry on a null window");
    EXPECT_DEATH(ANativeWindow_lock(nullptr, &buffer, nullptr), "ANativeWindow_lock on a null window");
    EXPECT_DEATH(
        {
            ANativeWindow *w = orv_standin_window_create(8, 8, WINDOW_FORMAT_RGB_565);
            ANativeWindow_release(w);
            ANativeWindow_unlockAndPost(w);
        },
        "ANativeWindow_unlockAndPost on a released window");
}

TEST(AndroidStandin, GeometryRefusals)
{
    ANativeWindow *w = orv_standin_window_create(32, 16, WINDOW_FORMAT_RGBA_8888);
    orv_standin_window_fail_geometry(w, 2, -12);
    EXPECT_EQ(ANativeWindow_setBuffersGeometry(w, 64, 32, 0), -12);
    EXPECT_EQ(ANativeWindow_setBuffersGeometry(w, 64, 32, 0), -12);
    ANativeWindow_Buffer b{};
    ASSERT_EQ(ANativeWindow_lock(w, &b, nullptr), 0);
    EXPECT_EQ(b.width, 32) << "a refused request leaves the size";
    EXPECT_EQ(ANativeWindow_unlockAndPost(w), 0);
    EXPECT_EQ(ANativeWindow_setBuffersGeometry(w, 64, 32, 0), 0);
    ASSERT_EQ(ANativeWindow_lock(w, &b, nullptr), 0);
    EXPECT_EQ(b.width, 64);
    EXPECT_EQ(ANativeWindow_unlockAndPost(w), 0);
    EXPECT_EQ(stats_of(w).geometry_failures, 2u);
    EXPECT_EQ(stats_of(w).geometry_calls, 3u);
    ANativeWindow_release(w);
}

// YV12 buffers: Android's plane layout at any stride, the padding checks
// per plane, and composition with the data space of the post.
TEST(AndroidStandin, Yv12BuffersLayoutChecksAndComposition)
{
    EXPECT_EQ(orv_standin_window_create(31, 16, ORV_STANDIN_FORMAT_YV12), nullptr) << "odd width";
    ANativeWindow *w = orv_standin_window_create(40, 8, WINDOW_FORMAT_RGBA_8888);
    EXPECT_EQ(ANativeWindow_setBuffersGeometry(w, 39, 8, ORV_STANDIN_FORMAT_YV12), -EINVAL);
    ASSERT_EQ(ANativeWindow_setBuffersGeometry(w, 40, 8, ORV_STANDIN_FORMAT_YV12), 0);
    for (int32_t stride : {48, 64, 112}) {
        orv_standin_window_set_stride(w, stride);
        ANativeWindow_Buffer b{};
        ASSERT_EQ(ANativeWindow_lock(w, &b, nullptr), 0);
        ASSERT_EQ(b.format, ORV_STANDIN_FORMAT_YV12);
        ASSERT_EQ(b.stride, stride);
        const int32_t c_stride = (stride / 2 + 15) & ~15;
        auto *y = static_cast<uint8_t *>(b.bits);
        uint8_t *v = y + stride * 8, *u = v + c_stride * 4;
        for (int r = 0; r < 8; ++r)
            std::memset(y + r * stride, 81, 40);
        for (int r = 0; r < 4; ++r) {
            std::memset(v + r * c_stride, 240, 20);
            std::memset(u + r * c_stride, 90, 20);
            std::memset(v + r * c_stride + 20, 128, size_t(c_stride - 20)); // grey padding is allowed
        }
        ASSERT_EQ(ANativeWindow_unlockAndPost(w), 0);
        EXPECT_EQ(stats_of(w).overruns, 0u) << stride;
        OrvStandinBuffer posted{};
        ASSERT_EQ(orv_standin_window_last_posted(w, &posted), 0);
        // Y 81, Cb 90, Cr 240: red in BT.601 limited range (no data space
        // set), composed exactly: R = 254.4 rounds to 254.
        EXPECT_EQ(orv_standin_buffer_argb(&posted, 39, 7), 0xFFFE0000u) << stride;
        EXPECT_EQ(posted.data_space, 0);

        // Anything else in the padding, or past the last plane, is an overrun.
        ASSERT_EQ(ANativeWindow_lock(w, &b, nullptr), 0);
        y = static_cast<uint8_t *>(b.bits);
        y[40] = 128; // luma padding
        ASSERT_EQ(ANativeWindow_unlockAndPost(w), 0);
        EXPECT_EQ(stats_of(w).overruns, 1u) << stride;
        ASSERT_EQ(ANativeWindow_lock(w, &b, nullptr), 0);
        y = static_cast<uint8_t *>(b.bits);
        y[stride * 8 + c_stride * 4 + 3 * c_stride + 20] = 0; // last U row's padding
        ASSERT_EQ(ANativeWindow_unlockAndPost(w), 0);
        EXPECT_EQ(stats_of(w).overruns, 2u) << stride;
        ASSERT_EQ(ANativeWindow_lock(w, &b, nullptr), 0);
        y = static_cast<uint8_t *>(b.bits);
        y[stride * 8 + c_stride * 8] = 0; // one past the U plane
        ASSERT_EQ(ANativeWindow_unlockAndPost(w), 0);
        EXPECT_EQ(stats_of(w).overruns, 3u) << stride;
        ANativeWindow_release(w);
        w = orv_standin_window_create(40, 8, ORV_STANDIN_FORMAT_YV12);
    }
    ANativeWindow_release(w);

    // The data space and transform of the post decide the composition.
    w = orv_standin_window_create(16, 2, ORV_STANDIN_FORMAT_YV12);
    EXPECT_EQ(ANativeWindow_setBuffersTransform(w, 4), 0);
    const int32_t bt709_full =
        ADATASPACE_STANDARD_BT709 | ADATASPACE_TRANSFER_SMPTE_170M | ADATASPACE_RANGE_FULL;
    EXPECT_EQ(ANativeWindow_setBuffersDataSpace(w, bt709_full), 0);
    orv_standin_window_fail_data_space(w, -ENOSYS);
    EXPECT_EQ(ANativeWindow_setBuffersDataSpace(w, ADATASPACE_BT601_625), -ENOSYS);
    orv_standin_window_fail_data_space(w, 0);
    ANativeWindow_Buffer b{};
    ASSERT_EQ(ANativeWindow_lock(w, &b, nullptr), 0);
    auto *y = static_cast<uint8_t *>(b.bits);
    std::memset(y, 128, size_t(b.stride) * 2 + 2 * 16); // mid grey, neutral chroma
    y[0] = 255;
    ASSERT_EQ(ANativeWindow_unlockAndPost(w), 0);
    const OrvStandinWindowStats st = stats_of(w);
    EXPECT_EQ(st.data_space, bt709_full);
    EXPECT_EQ(st.transform, 4);
    OrvStandinBuffer posted{};
    ASSERT_EQ(orv_standin_window_last_posted(w, &posted), 0);
    EXPECT_EQ(posted.data_space, bt709_full);
    // Turned clockwise: the buffer's top-left pixel shows top right.
    EXPECT_EQ(posted.shown_width, 2);
    EXPECT_EQ(posted.shown_height, 16);
    EXPECT_EQ(orv_standin_buffer_argb(&posted, 1, 0), 0xFFFFFFFFu) << "full range: 255 is white";
    EXPECT_EQ(orv_standin_buffer_argb(&posted, 0, 0), 0xFF808080u);
    ANativeWindow_release(w);
}

// Broken devices: a format refused outright, or accepted and ignored.
TEST(AndroidStandin, RefusedFormats)
{
    ANativeWindow *w = orv_standin_window_create(32, 16, WINDOW_FORMAT_RGBA_8888);
    orv_standin_window_refuse_format(w, ORV_STANDIN_FORMAT_YV12, 0);
    EXPECT_EQ(ANativeWindow_setBuffersGeometry(w, 32, 16, ORV_STANDIN_FORMAT_YV12), -EINVAL);
    EXPECT_EQ(stats_of(w).geometry_failures, 1u);
    EXPECT_EQ(ANativeWindow_setBuffersGeometry(w, 32, 16, WINDOW_FORMAT_RGB_565), 0);
    orv_standin_window_refuse_format(w, ORV_STANDIN_FORMAT_YV12, 1);
    EXPECT_EQ(ANativeWindow_setBuffersGeometry(w, 64, 32, ORV_STANDIN_FORMAT_YV12), 0);
    ANativeWindow_Buffer b{};
    ASSERT_EQ(ANativeWindow_lock(w, &b, nullptr), 0);
    EXPECT_EQ(b.width, 64) << "the size is taken";
    EXPECT_EQ(b.format, WINDOW_FORMAT_RGB_565) << "the format is not";
    EXPECT_EQ(ANativeWindow_unlockAndPost(w), 0);
    EXPECT_EQ(stats_of(w).geometry_format, ORV_STANDIN_FORMAT_YV12);
    orv_standin_window_refuse_format(w, 0, 0);
    EXPECT_EQ(ANativeWindow_setBuffersGeometry(w, 64, 32, ORV_STANDIN_FORMAT_YV12), 0);
    ASSERT_EQ(ANativeWindow_lock(w, &b, nullptr), 0);
    EXPECT_EQ(b.format, ORV_STANDIN_FORMAT_YV12);
    EXPECT_EQ(ANativeWindow_unlockAndPost(w), 0);
    ANativeWindow_release(w);
}

} // namespace

namespace {

// A 3x2 RGBX buffer whose pixel i (row-major) is grey level 10 * (i + 1),
// posted under a transform; the shown picture as grey levels, row by row.
std::vector<int> shown_after(int32_t transform, int32_t *shown_w, int32_t *shown_h)
{
    ANativeWindow *w = orv_standin_window_create(3, 2, WINDOW_FORMAT_RGBX_8888);
    EXPECT_EQ(ANativeWindow_setBuffersTransform(w, transform), 0);
    ANativeWindow_Buffer b{};
    EXPECT_EQ(ANativeWindow_lock(w, &b, nullptr), 0);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            std::memset(static_cast<uint8_t *>(b.bits) + (size_t(y) * b.stride + x) * 4, 10 * (3 * y + x + 1),
                        4);
    EXPECT_EQ(ANativeWindow_unlockAndPost(w), 0);
    OrvStandinBuffer posted{};
    EXPECT_EQ(orv_standin_window_last_posted(w, &posted), 0);
    EXPECT_EQ(posted.transform, transform);
    *shown_w = posted.shown_width;
    *shown_h = posted.shown_height;
    std::vector<int> grey;
    for (int y = 0; y < posted.shown_height; ++y)
        for (int x = 0; x < posted.shown_width; ++x)
            grey.push_back(int(orv_standin_buffer_argb(&posted, x, y) & 0xFF) / 10);
    EXPECT_EQ(orv_standin_buffer_argb(&posted, posted.shown_width, 0), 0u);
    ANativeWindow_release(w);
    return grey;
}

} // namespace

// The buffer  1 2 3  shown under each transform: flips first, then a
//             4 5 6  clockwise quarter turn, as devices compose.
TEST(AndroidStandin, CompositingAppliesTheTransform)
{
    struct Case {
        int32_t transform, w, h;
        std::vector<int> shown;
    };
    const Case cases[] = {
        {ANATIVEWINDOW_TRANSFORM_IDENTITY, 3, 2, {1, 2, 3, 4, 5, 6}},
        {ANATIVEWINDOW_TRANSFORM_MIRROR_HORIZONTAL, 3, 2, {3, 2, 1, 6, 5, 4}},
        {ANATIVEWINDOW_TRANSFORM_MIRROR_VERTICAL, 3, 2, {4, 5, 6, 1, 2, 3}},
        {ANATIVEWINDOW_TRANSFORM_ROTATE_180, 3, 2, {6, 5, 4, 3, 2, 1}},
        {ANATIVEWINDOW_TRANSFORM_ROTATE_90, 2, 3, {4, 1, 5, 2, 6, 3}},
        {ANATIVEWINDOW_TRANSFORM_ROTATE_270, 2, 3, {3, 6, 2, 5, 1, 4}},
        {ANATIVEWINDOW_TRANSFORM_ROTATE_90 | ANATIVEWINDOW_TRANSFORM_MIRROR_HORIZONTAL,
         2,
         3,
         {6, 3, 5, 2, 4, 1}},
        {ANATIVEWINDOW_TRANSFORM_ROTATE_90 | ANATIVEWINDOW_TRANSFORM_MIRROR_VERTICAL,
         2,
         3,
         {1, 4, 2, 5, 3, 6}},
    };
    for (const Case &c : cases) {
        int32_t w = 0, h = 0;
        EXPECT_EQ(shown_after(c.transform, &w, &h), c.shown) << "transform " << c.transform;
        EXPECT_EQ(w, c.w) << "transform " << c.transform;
        EXPECT_EQ(h, c.h) << "transform " << c.transform;
    }
    ANativeWindow *w = orv_standin_window_create(4, 4, WINDOW_FORMAT_RGBA_8888);
    EXPECT_EQ(ANativeWindow_setBuffersTransform(w, 8), -EINVAL);
    EXPECT_EQ(ANativeWindow_setBuffersTransform(w, -1), -EINVAL);
    orv_standin_window_fail_transform(w, -ENOSYS);
    EXPECT_EQ(ANativeWindow_setBuffersTransform(w, 4), -ENOSYS);
    EXPECT_EQ(stats_of(w).transform, 0);
    orv_standin_window_fail_transform(w, 0);
    EXPECT_EQ(ANativeWindow_setBuffersTransform(w, 4), 0);
    EXPECT_EQ(stats_of(w).transform, 4);
    ANativeWindow_release(w);
}

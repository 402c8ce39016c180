// Test scaffolding for the render path: the runtime started with a sink that
// keeps the leak report, and a stand-in display (VM, window, Surface).
#ifndef ORV_TEST_RENDER_ENV_H
#define ORV_TEST_RENDER_ENV_H

#include <string>
#include <vector>

#include "orv_standin.h"

namespace orv_test {

// Starts the runtime as DeviceRenderLibInit does, but with a sink that keeps
// every line; finish() shuts it down and returns the leak report's lines.
class RuntimeScope {
public:
    RuntimeScope();
    ~RuntimeScope();
    RuntimeScope(const RuntimeScope &) = delete;
    RuntimeScope &operator=(const RuntimeScope &) = delete;

    std::vector<std::string> finish();
    // Leak report lines that name a render-path source.
    std::vector<std::string> render_leaks();

private:
    bool running_ = false;
};

// A Java VM, a software window and a Surface of it, released in reverse.
struct StandinDisplay {
    StandinDisplay(int32_t width, int32_t height, int32_t format);
    ~StandinDisplay();
    StandinDisplay(const StandinDisplay &) = delete;
    StandinDisplay &operator=(const StandinDisplay &) = delete;

    OrvStandinWindowStats stats() const;
    OrvStandinVmStats vm_stats() const;

    JavaVM *vm = nullptr;
    ANativeWindow *window = nullptr;
    jobject surface = nullptr;
};

} // namespace orv_test

#endif

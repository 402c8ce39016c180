// Test scaffolding for the render path: see render_env.h.
#include "render_env.h"

#include <mutex>

#include "orv/orv_os.h"

namespace orv_test {

namespace {

std::mutex g_lines_lock;
std::vector<std::string> g_lines;

int keep_line(const char *text)
{
    std::lock_guard<std::mutex> guard(g_lines_lock);
    g_lines.emplace_back(text != nullptr ? text : "");
    return 0;
}

} // namespace

RuntimeScope::RuntimeScope()
{
    {
        std::lock_guard<std::mutex> guard(g_lines_lock);
        g_lines.clear();
    }
    running_ = orv_base_init(keep_line, 0, nullptr, nullptr) == 0;
}

RuntimeScope::~RuntimeScope()
{
    finish();
}

std::vector<std::string> RuntimeScope::finish()
{
    if (running_) {
        {
            std::lock_guard<std::mutex> guard(g_lines_lock);
            g_lines.clear();
        }
        orv_base_uninit();
        running_ = false;
    }
    std::lock_guard<std::mutex> guard(g_lines_lock);
    return g_lines;
}

std::vector<std::string> RuntimeScope::render_leaks()
{
    std::vector<std::string> out;
    for (const std::string &line : finish())
        if (line.find("./src/") != std::string::npos)
            out.push_back(line);
    return out;
}

StandinDisplay::StandinDisplay(int32_t width, int32_t height, int32_t format)
{
    vm = orv_standin_vm_create();
    window = orv_standin_window_create(width, height, format);
    surface = orv_standin_surface_create(window);
}

StandinDisplay::~StandinDisplay()
{
    orv_standin_surface_destroy(surface);
    ANativeWindow_release(window);
    orv_standin_vm_destroy(vm);
}

OrvStandinWindowStats StandinDisplay::stats() const
{
    OrvStandinWindowStats s{};
    orv_standin_window_stats(window, &s);
    return s;
}

OrvStandinVmStats StandinDisplay::vm_stats() const
{
    OrvStandinVmStats s{};
    orv_standin_vm_stats(vm, &s);
    return s;
}

} // namespace orv_test

// Operating-system services of the runtime.
//
// This first section is the runtime start-up and shut-down: it owns the
// process-wide RuntimeState (flags, library and work paths, processor count)
// and drives the start-up of the log, tracked memory and clock. It takes no
// lock: start-up and shut-down run on one host thread before and after every
// other call, and the state is only read in between.
#include "orv/orv_os.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "orv/orv_clock.h"
#include "orv/orv_mem.h"
#include "orv/orv_thread.h"

// ---- Runtime start-up, shut-down and state ---------------------------------

namespace {

struct RuntimeState {
    std::atomic<uint32_t> flags{0};
    char lib_path[ORV_BASE_PATH_MAX] = {};
    char work_path[ORV_BASE_PATH_MAX] = {};
    std::atomic<int32_t> processor_count{0};
};

RuntimeState g_state;

// At most ORV_BASE_PATH_MAX - 1 characters and the NUL.
void store_path(char (&dst)[ORV_BASE_PATH_MAX], const char *src)
{
    const size_t n = strnlen(src, ORV_BASE_PATH_MAX - 1);
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

// Given path, else the current directory when `from_cwd` is asked, else
// unchanged. False only when the current directory was needed and unreadable.
bool fill_path(char (&dst)[ORV_BASE_PATH_MAX], const char *given, uint32_t i_flag, uint32_t from_cwd,
               const char *what)
{
    if (given) {
        store_path(dst, given);
        return true;
    }
    if (!(i_flag & from_cwd))
        return true;
    char *cwd = get_current_dir();
    if (!cwd) {
        orv_log(3, ORV_FAIL, "VRE: VR: orv base init cannot read the current directory for the %s path",
                what);
        return false;
    }
    store_path(dst, cwd);
    free(cwd);
    g_state.flags.fetch_or(from_cwd);
    return true;
}

// A start-up that fails part way leaves nothing started: no lock, no thread
// registry, no tracked block that the next start-up would forget.
ResultCode abandon_init(ResultCode rc)
{
    orv_base_uninit();
    return rc;
}

} // namespace

extern "C" {

ResultCode orv_base_init(LogSink sink, uint32_t i_flag, const char *sz_lib_path, const char *sz_work_path)
{
    orv_trace("VRI: VR: orv base init i_flag:0x%x, sz_lib_path:%s, sz_work_path:%s", i_flag,
              sz_lib_path ? sz_lib_path : "(null)", sz_work_path ? sz_work_path : "(null)");
    if (ResultCode rc = orv_log_init(sink, i_flag & ORV_BASE_FLAG_MASK_LOW); rc != ORV_OK)
        return rc;
    g_state.flags.store(i_flag & ORV_BASE_FLAG_MASK_LOW);
    orv_clock_init(); // also clears the clock's wrap state
    const long processors = sysconf(_SC_NPROCESSORS_CONF);
    g_state.processor_count.store(processors < 1 ? 1 : int32_t(processors));
    if (i_flag & ORV_BASE_THREADS) {
        if (ResultCode rc = orv_thread_module_init(); rc != ORV_OK) {
            orv_thread_module_uninit();
            return abandon_init(rc);
        }
        g_state.flags.fetch_or(ORV_BASE_THREADS);
    }
    if (!fill_path(g_state.lib_path, sz_lib_path, i_flag, ORV_BASE_LIB_FROM_CWD, "library") ||
        !fill_path(g_state.work_path, sz_work_path, i_flag, ORV_BASE_WORK_FROM_CWD, "work"))
        return abandon_init(ORV_FAIL);
    return ORV_OK;
}

void orv_base_uninit(void)
{
    // The thread registry lives in tracked blocks: remove it before they go.
    if (g_state.flags.load() & ORV_BASE_THREADS)
        orv_thread_module_uninit();
    orv_mem_shutdown();
    g_state.flags.store(0);
    orv_clock_reset();
}

char *get_current_dir(void)
{
    for (size_t size = 1024;; size *= 2) {
        char *buffer = static_cast<char *>(malloc(size));
        if (!buffer)
            return nullptr;
        if (getcwd(buffer, size))
            return buffer;
        const int error = errno;
        free(buffer);
        if (error != ERANGE || size > SIZE_MAX / 2)
            return nullptr;
    }
}

const char *get_lib_path(void)
{
    return g_state.lib_path;
}
const char *get_work_path(void)
{
    return g_state.work_path;
}
int32_t get_processor_count(void)
{
    return g_state.processor_count.load();
}
uint32_t get_runtime_flags(void)
{
    return g_state.flags.load();
}

} // extern "C"

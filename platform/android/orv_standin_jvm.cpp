/* Stand-in Java VM: an invocation interface whose GetEnv, AttachCurrentThread
 * and DetachCurrentThread behave as a device's VM does for a native library
 * (attach is idempotent, detach of an unattached thread fails) and count every
 * call. Owns the per-thread attachment and the environment object handed out;
 * the counters are atomics, nothing else is shared between threads. */
#include <atomic>
#include <new>

#include "orv_standin_internal.h"

namespace {

constexpr uint32_t kVmMagic = 0x4a564d31; // "JVM1"

struct StandinVm {
    JavaVM vm; // first: the JavaVM* handed out is the record's address
    uint32_t magic = kVmMagic;
    std::atomic<uint32_t> get_env_calls{0};
    std::atomic<uint32_t> attach_calls{0};
    std::atomic<uint32_t> detach_calls{0};
    std::atomic<uint32_t> attached{0};
    std::atomic<uint32_t> detached{0};
    std::atomic<uint32_t> detach_unattached{0};
    std::atomic<uint32_t> bad_version{0};
    std::atomic<int32_t> threads_attached{0};
    std::atomic<int32_t> fail_attach_count{0};
    std::atomic<int> fail_attach_mode{0};
};

// Nobody calls through the environment; a zero table makes any such call fail loudly.
const JNINativeInterface kNativeTable{};

struct ThreadAttachment {
    _JNIEnv env{&kNativeTable};
    StandinVm *vm = nullptr;
};
thread_local ThreadAttachment tls_attachment;

StandinVm *as_standin(JavaVM *vm)
{
    auto *s = reinterpret_cast<StandinVm *>(vm);
    return s != nullptr && s->magic == kVmMagic ? s : nullptr;
}

bool take_one(std::atomic<int32_t> &count)
{
    int32_t n = count.load();
    while (n > 0) {
        if (count.compare_exchange_weak(n, n - 1))
            return true;
    }
    return false;
}

jint vm_destroy_java_vm(JavaVM *)
{
    return JNI_ERR;
}

jint vm_attach(JavaVM *vm, JNIEnv **p_env, void *)
{
    StandinVm *s = as_standin(vm);
    if (s == nullptr || p_env == nullptr)
        return JNI_ERR;
    s->attach_calls.fetch_add(1);
    if (take_one(s->fail_attach_count)) {
        if (s->fail_attach_mode.load() == 0)
            return JNI_ERR;
        *p_env = nullptr;
        return JNI_OK;
    }
    ThreadAttachment &t = tls_attachment;
    if (t.vm == s) {
        *p_env = &t.env;
        return JNI_OK;
    }
    if (t.vm != nullptr)
        return JNI_ERR;
    t.vm = s;
    s->attached.fetch_add(1);
    s->threads_attached.fetch_add(1);
    *p_env = &t.env;
    return JNI_OK;
}

jint vm_detach(JavaVM *vm)
{
    StandinVm *s = as_standin(vm);
    if (s == nullptr)
        return JNI_ERR;
    s->detach_calls.fetch_add(1);
    ThreadAttachment &t = tls_attachment;
    if (t.vm != s) {
        s->detach_unattached.fetch_add(1);
        return JNI_ERR;
    }
    t.vm = nullptr;
    s->detached.fetch_add(1);
    s->threads_attached.fetch_sub(1);
    return JNI_OK;
}

jint vm_get_env(JavaVM *vm, void **p_env, jint version)
{
    StandinVm *s = as_standin(vm);
    if (s == nullptr || p_env == nullptr)
        return JNI_ERR;
    s->get_env_calls.fetch_add(1);
    *p_env = nullptr;
    switch (version) {
    case JNI_VERSION_1_1:
    case JNI_VERSION_1_2:
    case JNI_VERSION_1_4:
    case JNI_VERSION_1_6:
        break;
    default:
        s->bad_version.fetch_add(1);
        return JNI_EVERSION;
    }
    ThreadAttachment &t = tls_attachment;
    if (t.vm != s)
        return JNI_EDETACHED;
    *p_env = &t.env;
    return JNI_OK;
}

const JNIInvokeInterface kInvokeTable = {
    nullptr, nullptr, nullptr, vm_destroy_java_vm, vm_attach, vm_detach, vm_get_env, vm_attach,
};

} // namespace

bool orv_standin_env_is_current(JNIEnv *env)
{
    const ThreadAttachment &t = tls_attachment;
    return env != nullptr && t.vm != nullptr && env == &t.env;
}

extern "C" {

JavaVM *orv_standin_vm_create(void)
{
    auto *s = new (std::nothrow) StandinVm;
    if (s == nullptr)
        return nullptr;
    s->vm.functions = &kInvokeTable;
    return &s->vm;
}

void orv_standin_vm_destroy(JavaVM *vm)
{
    StandinVm *s = as_standin(vm);
    if (s == nullptr)
        return;
    if (tls_attachment.vm == s)
        tls_attachment.vm = nullptr;
    s->magic = 0;
    delete s;
}

void orv_standin_vm_stats(JavaVM *vm, OrvStandinVmStats *out)
{
    StandinVm *s = as_standin(vm);
    if (s == nullptr || out == nullptr)
        return;
    out->get_env_calls = s->get_env_calls.load();
    out->attach_calls = s->attach_calls.load();
    out->detach_calls = s->detach_calls.load();
    out->attached = s->attached.load();
    out->detached = s->detached.load();
    out->detach_unattached = s->detach_unattached.load();
    out->bad_version = s->bad_version.load();
    out->threads_attached = s->threads_attached.load();
}

void orv_standin_vm_fail_attach(JavaVM *vm, int32_t count, int mode)
{
    StandinVm *s = as_standin(vm);
    if (s == nullptr)
        return;
    s->fail_attach_mode.store(mode);
    s->fail_attach_count.store(count < 0 ? 0 : count);
}

int orv_standin_vm_thread_attached(JavaVM *vm)
{
    StandinVm *s = as_standin(vm);
    return s != nullptr && tls_attachment.vm == s ? 1 : 0;
}

} // extern "C"

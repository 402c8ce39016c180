// Counting wrappers behind -Wl,--wrap (see fault_inject.h). Each wrapper asks
// decide() whether this call fails; the real call is reached through the
// linker's __real_ alias, so sanitizers still see every allocation.
#include "fault_inject.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <new>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define FAULT_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FAULT_ASAN 1
#endif
#endif
#ifdef FAULT_ASAN
#include <sanitizer/common_interface_defs.h>
#endif

namespace fault {
namespace {

const char *const kNames[kOpCount] = {
    "malloc",   "calloc",   "realloc",   "strdup",     "strndup",  "operator new",   "operator new (nothrow)",
    "fopen",    "opendir",  "fdopendir", "iconv_open", "realpath", "pthread_create", "open",
    "openat",   "mkstemp",  "read",      "write",      "pread",    "pwrite",         "readv",
    "writev",   "fsync",    "fdatasync", "rename",     "renameat", "close",          "socket",
    "bind",     "listen",   "accept",    "connect",    "send",     "sendto",         "sendmsg",
    "recv",     "recvfrom", "recvmsg",   "poll",       "mkdir",    "rmdir",          "unlink",
    "readlink",
};

Plan g_plan;
std::atomic<bool> g_armed{false};
std::atomic<long> g_calls{0};
std::atomic<long> g_op[kOpCount];
std::atomic<long> g_op_failed[kOpCount];
std::atomic<int> g_fired_op{-1};
std::atomic<long> g_fired_index{0};
std::atomic<int> g_fired_errno{0};
char g_fired_text[96];
char g_label[512];
std::atomic<bool> g_trace{false};
thread_local bool t_paused = false;
thread_local bool t_interrupted = false;

Class class_of(Op op)
{
    return op <= kPthreadCreate ? Class::Alloc : Class::Io;
}

// Calls that move data: interrupted or cut short in those modes.
bool moves_data(Op op)
{
    switch (op) {
    case kRead:
    case kWrite:
    case kPread:
    case kPwrite:
    case kReadv:
    case kWritev:
    case kSend:
    case kSendto:
    case kSendmsg:
    case kRecv:
    case kRecvfrom:
    case kRecvmsg:
        return true;
    default:
        return false;
    }
}

bool socket_data(Op op)
{
    switch (op) {
    case kSend:
    case kSendto:
    case kSendmsg:
    case kRecv:
    case kRecvfrom:
    case kRecvmsg:
    case kAccept:
        return true;
    default:
        return false;
    }
}

int errno_for(Op op)
{
    switch (op) {
    case kPthreadCreate:
        return EAGAIN;
    case kOpen:
    case kOpenat:
        return EIO; // the wrappers pick ENOSPC for creation
    case kMkstemp:
    case kWrite:
    case kPwrite:
        return ENOSPC;
    case kRead:
    case kPread:
    case kReadv:
    case kWritev:
    case kFsync:
    case kFdatasync:
    case kRename:
    case kRenameat:
    case kClose:
        return EIO;
    case kSocket:
    case kAccept:
        return EMFILE;
    case kBind:
    case kListen:
        return EADDRINUSE;
    case kMkdir:
        return ENOSPC;
    case kRmdir:
        return EBUSY;
    case kUnlink:
    case kReadlink:
        return EIO;
    case kConnect:
        return ECONNREFUSED;
    case kSend:
    case kSendto:
    case kSendmsg:
    case kRecv:
    case kRecvfrom:
    case kRecvmsg:
        return ECONNRESET;
    default:
        return ENOMEM;
    }
}

void record(Op op, long index, int err)
{
    if (err)
        g_op_failed[op].fetch_add(1);
    int none = -1;
    if (g_fired_op.compare_exchange_strong(none, op)) {
        g_fired_index.store(index);
        g_fired_errno.store(err);
#ifdef FAULT_ASAN
        if (g_trace.load())
            __sanitizer_print_stack_trace();
#endif
    }
}

// 0: let the call through; otherwise the errno it fails with.
int decide(Op op, int err = 0, int fd = -1)
{
    if (!g_armed.load(std::memory_order_acquire) || t_paused)
        return 0;
    g_op[op].fetch_add(1, std::memory_order_relaxed);
    switch (g_plan.mode) {
    case Mode::Fail: {
        // Readiness waits are only ever interrupted.
        if (class_of(op) != g_plan.cls || op == kPoll)
            return 0;
        const long n = g_calls.fetch_add(1) + 1;
        if (g_plan.target <= 0 || n < g_plan.target || (n > g_plan.target && !g_plan.persistent))
            return 0;
        const int e = err ? err : errno_for(op);
        record(op, n, e);
        return e;
    }
    case Mode::Interrupt:
        if (!moves_data(op) && op != kPoll)
            return 0;
        g_calls.fetch_add(1);
        t_interrupted = !t_interrupted;
        if (t_interrupted)
            record(op, g_calls.load(), EINTR);
        return t_interrupted ? EINTR : 0;
    case Mode::WouldBlock: {
        // A blocking socket never answers EAGAIN.
        if (!socket_data(op) || fd < 0 || !(fcntl(fd, F_GETFL) & O_NONBLOCK))
            return 0;
        const long n = g_calls.fetch_add(1) + 1;
        if (n != g_plan.target)
            return 0;
        record(op, n, EAGAIN);
        return EAGAIN;
    }
    case Mode::Short:
        return 0;
    }
    return 0;
}

// The length a data call moves in Short mode (all of it otherwise).
size_t cut(Op op, size_t length)
{
    if (!g_armed.load(std::memory_order_acquire) || t_paused || g_plan.mode != Mode::Short ||
        !moves_data(op) || length < 2)
        return length;
    g_calls.fetch_add(1);
    record(op, g_calls.load(), 0);
    return length / 2;
}

// An iovec array cut to `keep` bytes in total; returns the element count.
int cut_iov(const struct iovec *in, int count, size_t keep, struct iovec *out, int room)
{
    int n = 0;
    for (int i = 0; i < count && n < room && keep > 0; ++i) {
        out[n] = in[i];
        if (out[n].iov_len > keep)
            out[n].iov_len = keep;
        keep -= out[n].iov_len;
        ++n;
    }
    return n;
}

size_t iov_total(const struct iovec *iov, int count)
{
    size_t total = 0;
    for (int i = 0; i < count; ++i)
        total += iov[i].iov_len;
    return total;
}

} // namespace

// recvmsg reports its flags back; sendmsg's header stays the caller's.
void flags_back(const struct msghdr *, const struct msghdr &) {}
void flags_back(struct msghdr *m, const struct msghdr &copy)
{
    m->msg_flags = copy.msg_flags;
}

namespace {

void say(const char *text)
{
    size_t n = strlen(text);
    while (n > 0) {
        const long w = syscall(SYS_write, 2, text, n);
        if (w <= 0)
            return;
        text += w;
        n -= static_cast<size_t>(w);
    }
}

void print_label()
{
    say("\n*** fault injection run that failed: ");
    say(g_label);
    say("\n");
}

#ifndef FAULT_ASAN
void on_signal(int sig)
{
    print_label();
    signal(sig, SIG_DFL);
    raise(sig);
}
#endif

struct Install {
    Install()
    {
#ifdef FAULT_ASAN
        __sanitizer_set_death_callback(print_label);
#else
        for (int sig : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL})
            signal(sig, on_signal);
#endif
    }
} g_install;

} // namespace

void arm(const Plan &plan)
{
    g_armed.store(false);
    g_plan = plan;
    g_calls.store(0);
    for (auto &c : g_op)
        c.store(0);
    for (auto &c : g_op_failed)
        c.store(0);
    g_fired_op.store(-1);
    g_fired_index.store(0);
    g_fired_errno.store(0);
    t_interrupted = false;
    g_armed.store(true, std::memory_order_release);
}

void disarm()
{
    g_armed.store(false, std::memory_order_release);
}
bool armed()
{
    return g_armed.load();
}
long calls()
{
    return g_calls.load();
}
bool fired()
{
    return g_fired_op.load() >= 0;
}

const char *fired_what()
{
    const int op = g_fired_op.load();
    if (op < 0)
        return "nothing";
    const int e = g_fired_errno.load();
    snprintf(g_fired_text, sizeof g_fired_text, "%s #%ld: %s", kNames[op], g_fired_index.load(),
             e ? strerrorname_np(e) : "cut short");
    return g_fired_text;
}

long op_calls(Op op)
{
    return g_op[op].load();
}
long op_failed(Op op)
{
    return g_op_failed[op].load();
}
const char *op_name(Op op)
{
    return kNames[op];
}

Pause::Pause() : was_(t_paused)
{
    t_paused = true;
}
Pause::~Pause()
{
    t_paused = was_;
}

void set_trace(bool on)
{
    g_trace = on;
}

void set_run_label(const char *label)
{
    snprintf(g_label, sizeof g_label, "%s", label);
}

} // namespace fault

using fault::decide;
using fault::Op;

extern "C" {

// ---- allocations -----------------------------------------------------------

void *__real_malloc(size_t);
void *__real_calloc(size_t, size_t);
void *__real_realloc(void *, size_t);
char *__real_strdup(const char *);
char *__real_strndup(const char *, size_t);
FILE *__real_fopen(const char *, const char *);
FILE *__real_fopen64(const char *, const char *);
DIR *__real_opendir(const char *);
DIR *__real_fdopendir(int);
iconv_t __real_iconv_open(const char *, const char *);
char *__real_realpath(const char *, char *);
int __real_pthread_create(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);

#define FAIL_WITH(op, value)                                                                                 \
    if (const int e_ = decide(op); e_ != 0) {                                                                \
        errno = e_;                                                                                          \
        return value;                                                                                        \
    }
#define FAIL_FD(op, fd, value)                                                                               \
    if (const int e_ = decide(op, 0, fd); e_ != 0) {                                                         \
        errno = e_;                                                                                          \
        return value;                                                                                        \
    }

void *__wrap_malloc(size_t n)
{
    FAIL_WITH(fault::kMalloc, nullptr) return __real_malloc(n);
}
void *__wrap_calloc(size_t n, size_t m)
{
    FAIL_WITH(fault::kCalloc, nullptr) return __real_calloc(n, m);
}
void *__wrap_realloc(void *p, size_t n)
{
    FAIL_WITH(fault::kRealloc, nullptr) return __real_realloc(p, n);
}
char *__wrap_strdup(const char *s)
{
    FAIL_WITH(fault::kStrdup, nullptr) return __real_strdup(s);
}
char *__wrap_strndup(const char *s, size_t n)
{
    FAIL_WITH(fault::kStrndup, nullptr) return __real_strndup(s, n);
}
FILE *__wrap_fopen(const char *p, const char *m)
{
    FAIL_WITH(fault::kFopen, nullptr) return __real_fopen(p, m);
}
FILE *__wrap_fopen64(const char *p, const char *m)
{
    FAIL_WITH(fault::kFopen, nullptr) return __real_fopen64(p, m);
}
DIR *__wrap_opendir(const char *p)
{
    FAIL_WITH(fault::kOpendir, nullptr) return __real_opendir(p);
}
DIR *__wrap_fdopendir(int fd)
{
    FAIL_WITH(fault::kFdopendir, nullptr) return __real_fdopendir(fd);
}
iconv_t __wrap_iconv_open(const char *to, const char *from)
{
    FAIL_WITH(fault::kIconvOpen, reinterpret_cast<iconv_t>(-1)) return __real_iconv_open(to, from);
}
char *__wrap_realpath(const char *p, char *out)
{
    FAIL_WITH(fault::kRealpath, nullptr) return __real_realpath(p, out);
}
int __wrap_pthread_create(pthread_t *t, const pthread_attr_t *a, void *(*f)(void *), void *arg)
{
    if (const int e = decide(fault::kPthreadCreate); e != 0)
        return e;
    return __real_pthread_create(t, a, f, arg);
}

// operator new, throwing and std::nothrow, as the stand-ins allocate.
#if __SIZEOF_SIZE_T__ == 8
#define NEW_PLAIN _Znwm
#define NEW_ARRAY _Znam
#else
#define NEW_PLAIN _Znwj
#define NEW_ARRAY _Znaj
#endif
#if __SIZEOF_SIZE_T__ == 8
#define NEW_NOTHROW       _ZnwmRKSt9nothrow_t
#define NEW_NOTHROW_ARRAY _ZnamRKSt9nothrow_t
#else
#define NEW_NOTHROW       _ZnwjRKSt9nothrow_t
#define NEW_NOTHROW_ARRAY _ZnajRKSt9nothrow_t
#endif
#define CAT2(a, b) a##b
#define CAT(a, b)  CAT2(a, b)
void *CAT(__real_, NEW_PLAIN)(size_t);
void *CAT(__real_, NEW_ARRAY)(size_t);
void *CAT(__wrap_, NEW_PLAIN)(size_t n)
{
    if (decide(fault::kNew) != 0)
        throw std::bad_alloc();
    return CAT(__real_, NEW_PLAIN)(n);
}
void *CAT(__wrap_, NEW_ARRAY)(size_t n)
{
    if (decide(fault::kNew) != 0)
        throw std::bad_alloc();
    return CAT(__real_, NEW_ARRAY)(n);
}
void *CAT(__real_, NEW_NOTHROW)(size_t, const std::nothrow_t &);
void *CAT(__real_, NEW_NOTHROW_ARRAY)(size_t, const std::nothrow_t &);
void *CAT(__wrap_, NEW_NOTHROW)(size_t n, const std::nothrow_t &t)
{
    FAIL_WITH(fault::kNewNothrow, nullptr) return CAT(__real_, NEW_NOTHROW)(n, t);
}
void *CAT(__wrap_, NEW_NOTHROW_ARRAY)(size_t n, const std::nothrow_t &t)
{
    FAIL_WITH(fault::kNewNothrow, nullptr) return CAT(__real_, NEW_NOTHROW_ARRAY)(n, t);
}

// ---- files -----------------------------------------------------------------

int __real_open(const char *, int, ...);
int __real_open64(const char *, int, ...);
int __real_openat(int, const char *, int, ...);
int __real_openat64(int, const char *, int, ...);
int __real_mkstemp(char *);
int __real_mkstemp64(char *);
int __real_mkostemp(char *, int);
int __real_mkostemp64(char *, int);
ssize_t __real_read(int, void *, size_t);
ssize_t __real_write(int, const void *, size_t);
ssize_t __real_pread64(int, void *, size_t, off64_t);
ssize_t __real_pwrite64(int, const void *, size_t, off64_t);
ssize_t __real_readv(int, const struct iovec *, int);
ssize_t __real_writev(int, const struct iovec *, int);
int __real_fsync(int);
int __real_fdatasync(int);
int __real_rename(const char *, const char *);
int __real_renameat(int, const char *, int, const char *);
int __real_close(int);
ssize_t __real_readlink(const char *, char *, size_t);

static mode_t mode_arg(int flags, va_list ap)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? static_cast<mode_t>(va_arg(ap, int)) : 0;
}

static int open_error(int flags)
{
    return flags & (O_CREAT | O_TMPFILE) ? ENOSPC : EIO;
}

#define WRAP_OPENAT(name)                                                                                    \
    int __wrap_##name(int dir, const char *path, int flags, ...)                                             \
    {                                                                                                        \
        va_list ap;                                                                                          \
        va_start(ap, flags);                                                                                 \
        const mode_t mode = mode_arg(flags, ap);                                                             \
        va_end(ap);                                                                                          \
        if (const int e = decide(fault::kOpenat, open_error(flags)); e != 0) {                               \
            errno = e;                                                                                       \
            return -1;                                                                                       \
        }                                                                                                    \
        return __real_##name(dir, path, flags, mode);                                                        \
    }
WRAP_OPENAT(openat)
WRAP_OPENAT(openat64)
#define WRAP_OPEN(name)                                                                                      \
    int __wrap_##name(const char *path, int flags, ...)                                                      \
    {                                                                                                        \
        va_list ap;                                                                                          \
        va_start(ap, flags);                                                                                 \
        const mode_t mode = mode_arg(flags, ap);                                                             \
        va_end(ap);                                                                                          \
        if (const int e = decide(fault::kOpen, open_error(flags)); e != 0) {                                 \
            errno = e;                                                                                       \
            return -1;                                                                                       \
        }                                                                                                    \
        return __real_##name(path, flags, mode);                                                             \
    }
WRAP_OPEN(open)
WRAP_OPEN(open64)

int __wrap_mkstemp(char *t)
{
    FAIL_WITH(fault::kMkstemp, -1) return __real_mkstemp(t);
}
int __wrap_mkstemp64(char *t)
{
    FAIL_WITH(fault::kMkstemp, -1) return __real_mkstemp64(t);
}
int __wrap_mkostemp(char *t, int f)
{
    FAIL_WITH(fault::kMkstemp, -1) return __real_mkostemp(t, f);
}
int __wrap_mkostemp64(char *t, int f)
{
    FAIL_WITH(fault::kMkstemp, -1) return __real_mkostemp64(t, f);
}

ssize_t __wrap_read(int fd, void *buf, size_t n)
{
    FAIL_WITH(fault::kRead, -1) return __real_read(fd, buf, fault::cut(fault::kRead, n));
}
ssize_t __wrap_write(int fd, const void *buf, size_t n)
{
    FAIL_WITH(fault::kWrite, -1) return __real_write(fd, buf, fault::cut(fault::kWrite, n));
}
ssize_t __wrap_pread64(int fd, void *buf, size_t n, off64_t at)
{
    FAIL_WITH(fault::kPread, -1) return __real_pread64(fd, buf, fault::cut(fault::kPread, n), at);
}
ssize_t __wrap_pwrite64(int fd, const void *buf, size_t n, off64_t at)
{
    FAIL_WITH(fault::kPwrite, -1) return __real_pwrite64(fd, buf, fault::cut(fault::kPwrite, n), at);
}
ssize_t __wrap_readv(int fd, const struct iovec *iov, int count)
{
    FAIL_WITH(fault::kReadv, -1)
    struct iovec part[64];
    const size_t total = fault::iov_total(iov, count);
    const size_t keep = fault::cut(fault::kReadv, total);
    if (keep == total || count > 64)
        return __real_readv(fd, iov, count);
    return __real_readv(fd, part, fault::cut_iov(iov, count, keep, part, 64));
}
ssize_t __wrap_writev(int fd, const struct iovec *iov, int count)
{
    FAIL_WITH(fault::kWritev, -1)
    struct iovec part[64];
    const size_t total = fault::iov_total(iov, count);
    const size_t keep = fault::cut(fault::kWritev, total);
    if (keep == total || count > 64)
        return __real_writev(fd, iov, count);
    return __real_writev(fd, part, fault::cut_iov(iov, count, keep, part, 64));
}
int __wrap_fsync(int fd)
{
    FAIL_WITH(fault::kFsync, -1) return __real_fsync(fd);
}
int __wrap_fdatasync(int fd)
{
    FAIL_WITH(fault::kFdatasync, -1) return __real_fdatasync(fd);
}
ssize_t __wrap_readlink(const char *p, char *out, size_t n)
{
    FAIL_WITH(fault::kReadlink, -1) return __real_readlink(p, out, n);
}
int __wrap_rename(const char *a, const char *b)
{
    FAIL_WITH(fault::kRename, -1) return __real_rename(a, b);
}
int __wrap_renameat(int da, const char *a, int db, const char *b)
{
    FAIL_WITH(fault::kRenameat, -1) return __real_renameat(da, a, db, b);
}
int __real_mkdir(const char *, mode_t);
int __real_rmdir(const char *);
int __real_unlink(const char *);
int __real_unlinkat(int, const char *, int);
int __wrap_mkdir(const char *p, mode_t m)
{
    FAIL_WITH(fault::kMkdir, -1) return __real_mkdir(p, m);
}
int __wrap_rmdir(const char *p)
{
    FAIL_WITH(fault::kRmdir, -1) return __real_rmdir(p);
}
int __wrap_unlink(const char *p)
{
    FAIL_WITH(fault::kUnlink, -1) return __real_unlink(p);
}
int __wrap_unlinkat(int d, const char *p, int f)
{
    if (const int e = decide(fault::kUnlink, (f & AT_REMOVEDIR) ? EBUSY : EIO); e != 0) {
        errno = e;
        return -1;
    }
    return __real_unlinkat(d, p, f);
}

// A close that reports EIO has still released the descriptor, as on Linux.
int __wrap_close(int fd)
{
    const int e = decide(fault::kClose);
    const int r = __real_close(fd);
    if (e != 0) {
        errno = e;
        return -1;
    }
    return r;
}

// ---- sockets ---------------------------------------------------------------

int __real_socket(int, int, int);
int __real_bind(int, const struct sockaddr *, socklen_t);
int __real_listen(int, int);
int __real_accept(int, struct sockaddr *, socklen_t *);
int __real_accept4(int, struct sockaddr *, socklen_t *, int);
int __real_connect(int, const struct sockaddr *, socklen_t);
ssize_t __real_send(int, const void *, size_t, int);
ssize_t __real_sendto(int, const void *, size_t, int, const struct sockaddr *, socklen_t);
ssize_t __real_recv(int, void *, size_t, int);
ssize_t __real_recvfrom(int, void *, size_t, int, struct sockaddr *, socklen_t *);

int __wrap_socket(int d, int t, int p)
{
    FAIL_WITH(fault::kSocket, -1) return __real_socket(d, t, p);
}
int __wrap_bind(int fd, const struct sockaddr *a, socklen_t n)
{
    FAIL_WITH(fault::kBind, -1) return __real_bind(fd, a, n);
}
int __wrap_listen(int fd, int b)
{
    FAIL_WITH(fault::kListen, -1) return __real_listen(fd, b);
}
int __wrap_accept(int fd, struct sockaddr *a, socklen_t *n)
{
    FAIL_FD(fault::kAccept, fd, -1) return __real_accept(fd, a, n);
}
int __wrap_accept4(int fd, struct sockaddr *a, socklen_t *n, int f)
{
    FAIL_FD(fault::kAccept, fd, -1) return __real_accept4(fd, a, n, f);
}
int __wrap_connect(int fd, const struct sockaddr *a, socklen_t n)
{
    FAIL_WITH(fault::kConnect, -1) return __real_connect(fd, a, n);
}
ssize_t __wrap_send(int fd, const void *b, size_t n, int f)
{
    FAIL_FD(fault::kSend, fd, -1) return __real_send(fd, b, fault::cut(fault::kSend, n), f);
}
ssize_t __wrap_sendto(int fd, const void *b, size_t n, int f, const struct sockaddr *a, socklen_t al)
{
    FAIL_FD(fault::kSendto, fd, -1) return __real_sendto(fd, b, fault::cut(fault::kSendto, n), f, a, al);
}
ssize_t __wrap_recv(int fd, void *b, size_t n, int f)
{
    FAIL_FD(fault::kRecv, fd, -1) return __real_recv(fd, b, fault::cut(fault::kRecv, n), f);
}
ssize_t __wrap_recvfrom(int fd, void *b, size_t n, int f, struct sockaddr *a, socklen_t *al)
{
    FAIL_FD(fault::kRecvfrom, fd, -1)
    return __real_recvfrom(fd, b, fault::cut(fault::kRecvfrom, n), f, a, al);
}

// Readiness waits, under the names this target's headers choose.
int __real_poll(struct pollfd *, nfds_t, int);
int __real_ppoll(struct pollfd *, nfds_t, const struct timespec *, const sigset_t *);
int __wrap_poll(struct pollfd *p, nfds_t n, int ms)
{
    FAIL_WITH(fault::kPoll, -1) return __real_poll(p, n, ms);
}
int __wrap_ppoll(struct pollfd *p, nfds_t n, const struct timespec *t, const sigset_t *m)
{
    FAIL_WITH(fault::kPoll, -1) return __real_ppoll(p, n, t, m);
}
#if defined(__arm__)
int __real___ppoll64(struct pollfd *, nfds_t, const void *, const sigset_t *);
int __wrap___ppoll64(struct pollfd *p, nfds_t n, const void *t, const sigset_t *m)
{
    FAIL_WITH(fault::kPoll, -1) return __real___ppoll64(p, n, t, m);
}
#endif

// sendmsg and recvmsg, under the names this target's headers choose.
#define WRAP_MSG(name, op, qual)                                                                             \
    ssize_t __real_##name(int, qual struct msghdr *, int);                                                   \
    ssize_t __wrap_##name(int fd, qual struct msghdr *m, int f)                                              \
    {                                                                                                        \
        FAIL_FD(op, fd, -1)                                                                                  \
        const size_t total = fault::iov_total(m->msg_iov, static_cast<int>(m->msg_iovlen));                  \
        const size_t keep = fault::cut(op, total);                                                           \
        if (keep == total || m->msg_iovlen > 64)                                                             \
            return __real_##name(fd, m, f);                                                                  \
        struct iovec part[64];                                                                               \
        struct msghdr copy = *m;                                                                             \
        copy.msg_iov = part;                                                                                 \
        copy.msg_iovlen = fault::cut_iov(m->msg_iov, static_cast<int>(m->msg_iovlen), keep, part, 64);       \
        const ssize_t r = __real_##name(fd, &copy, f);                                                       \
        fault::flags_back(m, copy);                                                                          \
        return r;                                                                                            \
    }
#define NOQUAL
WRAP_MSG(sendmsg, fault::kSendmsg, const)
WRAP_MSG(recvmsg, fault::kRecvmsg, NOQUAL)
#if defined(__arm__)
WRAP_MSG(__sendmsg64, fault::kSendmsg, const)
WRAP_MSG(__recvmsg64, fault::kRecvmsg, NOQUAL)
#endif

} // extern "C"

// Fault injection for tests: the fault-injection test binary is linked with
// -Wl,--wrap for the allocation and I/O calls of the C library, so every
// reference from the library's objects (and the stand-ins linked beside them)
// reaches a counting wrapper here. While a plan is armed the wrapper counts
// the calls of the plan's class and makes the chosen one fail with a
// realistic errno; otherwise it passes straight through to the real call.
// Nothing of this is linked into the shipped library.
#ifndef ORV_TEST_FAULT_INJECT_H
#define ORV_TEST_FAULT_INJECT_H

#include <cstddef>
#include <cstdint>

namespace fault {

// Calls the wrappers see, one counter each.
enum Op : int {
    kMalloc,
    kCalloc,
    kRealloc,
    kStrdup,
    kStrndup,
    kNew,
    kNewNothrow,
    kFopen,
    kOpendir,
    kFdopendir,
    kIconvOpen,
    kRealpath,
    kPthreadCreate,
    kOpen,
    kOpenat,
    kMkstemp,
    kRead,
    kWrite,
    kPread,
    kPwrite,
    kReadv,
    kWritev,
    kFsync,
    kFdatasync,
    kRename,
    kRenameat,
    kClose,
    kSocket,
    kBind,
    kListen,
    kAccept,
    kConnect,
    kSend,
    kSendto,
    kSendmsg,
    kRecv,
    kRecvfrom,
    kRecvmsg,
    kPoll,
    kMkdir,
    kRmdir,
    kUnlink,
    kReadlink,
    kOpCount
};

enum class Class { Alloc, Io };

enum class Mode {
    Fail,       // the target-th call of the class fails (and every later one when persistent)
    Interrupt,  // every read, write and readiness wait is first interrupted once (EINTR)
    Short,      // every read and write of two bytes or more moves only part of them
    WouldBlock, // the target-th socket read or write answers EAGAIN once
};

struct Plan {
    Class cls = Class::Alloc;
    Mode mode = Mode::Fail;
    long target = 0; // 1-based; 0 never fails
    bool persistent = false;
};

void arm(const Plan &plan);
void disarm();
bool armed();
// Calls of the armed plan's class seen since arm.
long calls();
// Whether the target was reached, and what failed first ("write #3: ENOSPC").
bool fired();
const char *fired_what();
// Calls per operation seen since arm (any class).
long op_calls(Op op);
// Calls per operation made to fail since arm.
long op_failed(Op op);
const char *op_name(Op op);

// Suspends counting on the calling thread (harness bookkeeping while armed).
class Pause {
public:
    Pause();
    ~Pause();
    Pause(const Pause &) = delete;
    Pause &operator=(const Pause &) = delete;

private:
    bool was_;
};

// Text printed when a run crashes or a sanitizer reports: set before each run.
void set_run_label(const char *label);
// Prints the stack of the call that fails (sanitizer builds).
void set_trace(bool on);

} // namespace fault

#endif

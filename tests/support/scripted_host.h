// A host for tests: get_frame answers from a script, every callback is
// recorded in order, and a test can wait for a call to arrive from the
// render thread.
#ifndef ORV_TEST_SCRIPTED_HOST_H
#define ORV_TEST_SCRIPTED_HOST_H

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "device_render.h"
#include "host_frame.h"

namespace orv_test {

enum class Call { Event, Started, Error, GetFrame, Release };

struct HostCall {
    Call kind;
    int a = 0, b = 0, c = 0; // on_event arguments; release_frame's "one" in a
    ResultCode code = 0;     // get_frame's answer, release or error code
    std::string text() const;
};

// One answer of get_frame: result, the release word it sets, and which of the
// host's frames it hands out when result is 0.
struct Answer {
    ResultCode result = ORV_WOUNLD_BLOCK;
    int release = 0;
    size_t frame = 0;
};

class ScriptedHost {
public:
    ScriptedHost();

    const HostCallbacks *callbacks() const { return &table_; }
    void *context() { return this; }

    // Frames handed out by index; the host keeps them alive.
    void add_frame(HostFrame frame);
    // Answers in order; when the script runs out, the tail answer repeats.
    void push(Answer answer);
    void set_tail(Answer answer);
    // Called on the render thread after each recorded call (not under the lock).
    void set_observer(std::function<void(const HostCall &)> observer);

    std::vector<HostCall> calls() const;
    size_t count(Call kind) const;
    // Waits until pred holds over the calls so far; false after timeout.
    bool wait_for(const std::function<bool(const std::vector<HostCall> &)> &pred,
                  std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    bool wait_count(Call kind, size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // The calls as one line each, for failure messages.
    std::string trace() const;

private:
    static ResultCode on_event(void *context, int a, int b, int c);
    static ResultCode on_started(void *context);
    static ResultCode on_error(void *context, ResultCode code, int reserved);
    static ResultCode get_frame(void *context, YuvFrame *frame, int *release);
    static ResultCode release_frame(void *context, int one, ResultCode result);
    void record(HostCall call);

    HostCallbacks table_{};
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::vector<HostCall> calls_;
    std::deque<Answer> script_;
    Answer tail_;
    std::vector<HostFrame> frames_;
    std::function<void(const HostCall &)> observer_;
};

} // namespace orv_test

#endif

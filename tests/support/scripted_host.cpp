// Recording host: see scripted_host.h.
#include "scripted_host.h"

#include <cstdio>

namespace orv_test {

std::string HostCall::text() const
{
    char line[96];
    switch (kind) {
    case Call::Event:
        std::snprintf(line, sizeof line, "on_event(%d, %d, %d)", a, b, c);
        break;
    case Call::Started:
        std::snprintf(line, sizeof line, "on_started");
        break;
    case Call::Error:
        std::snprintf(line, sizeof line, "on_error(0x%x, %d)", static_cast<unsigned>(code), c);
        break;
    case Call::GetFrame:
        std::snprintf(line, sizeof line, "get_frame -> 0x%x", static_cast<unsigned>(code));
        break;
    case Call::Release:
        std::snprintf(line, sizeof line, "release_frame(%d, 0x%x)", a, static_cast<unsigned>(code));
        break;
    }
    return line;
}

ScriptedHost::ScriptedHost()
{
    table_.on_event = &ScriptedHost::on_event;
    table_.on_started = &ScriptedHost::on_started;
    table_.on_error = &ScriptedHost::on_error;
    table_.get_frame = &ScriptedHost::get_frame;
    table_.release_frame = &ScriptedHost::release_frame;
}

void ScriptedHost::add_frame(HostFrame frame)
{
    std::lock_guard<std::mutex> guard(lock_);
    frames_.push_back(std::move(frame));
}

void ScriptedHost::push(Answer answer)
{
    std::lock_guard<std::mutex> guard(lock_);
    script_.push_back(answer);
}

void ScriptedHost::set_tail(Answer answer)
{
    std::lock_guard<std::mutex> guard(lock_);
    tail_ = answer;
}

void ScriptedHost::set_observer(std::function<void(const HostCall &)> observer)
{
    std::lock_guard<std::mutex> guard(lock_);
    observer_ = std::move(observer);
}

std::vector<HostCall> ScriptedHost::calls() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
}

size_t ScriptedHost::count(Call kind) const
{
    std::lock_guard<std::mutex> guard(lock_);
    size_t n = 0;
    for (const HostCall &c : calls_)
        n += c.kind == kind;
    return n;
}

bool ScriptedHost::wait_for(const std::function<bool(const std::vector<HostCall> &)> &pred,
                            std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, timeout, [&] { return pred(calls_); });
}

bool ScriptedHost::wait_count(Call kind, size_t n, std::chrono::milliseconds timeout) const
{
    return wait_for(
        [&](const std::vector<HostCall> &calls) {
            size_t seen = 0;
            for (const HostCall &c : calls)
                seen += c.kind == kind;
            return seen >= n;
        },
        timeout);
}

std::string ScriptedHost::trace() const
{
    std::string out;
    for (const HostCall &c : calls())
        out += c.text() + "\n";
    return out;
}

void ScriptedHost::record(HostCall call)
{
    std::function<void(const HostCall &)> observer;
    {
        std::lock_guard<std::mutex> guard(lock_);
        calls_.push_back(call);
        observer = observer_;
    }
    changed_.notify_all();
    if (observer)
        observer(call);
}

ResultCode ScriptedHost::on_event(void *context, int a, int b, int c)
{
    HostCall call{Call::Event};
    call.a = a;
    call.b = b;
    call.c = c;
    static_cast<ScriptedHost *>(context)->record(call);
    return ORV_OK;
}

ResultCode ScriptedHost::on_started(void *context)
{
    static_cast<ScriptedHost *>(context)->record(HostCall{Call::Started});
    return ORV_OK;
}

ResultCode ScriptedHost::on_error(void *context, ResultCode code, int reserved)
{
    HostCall call{Call::Error};
    call.code = code;
    call.c = reserved;
    static_cast<ScriptedHost *>(context)->record(call);
    return ORV_OK;
}

ResultCode ScriptedHost::get_frame(void *context, YuvFrame *frame, int *release)
{
    auto *host = static_cast<ScriptedHost *>(context);
    Answer answer;
    {
        std::lock_guard<std::mutex> guard(host->lock_);
        if (!host->script_.empty()) {
            answer = host->script_.front();
            host->script_.pop_front();
        } else {
            answer = host->tail_;
        }
        if (answer.result == ORV_OK) {
            if (host->frames_.empty()) {
                answer.result = ORV_FAIL;
            } else {
                *frame = host->frames_[answer.frame % host->frames_.size()].view();
            }
        }
        if (answer.release != 0)
            *release = answer.release;
    }
    HostCall call{Call::GetFrame};
    call.code = answer.result;
    host->record(call);
    return answer.result;
}

ResultCode ScriptedHost::release_frame(void *context, int one, ResultCode result)
{
    HostCall call{Call::Release};
    call.a = one;
    call.code = result;
    static_cast<ScriptedHost *>(context)->record(call);
    return ORV_OK;
}

} // namespace orv_test

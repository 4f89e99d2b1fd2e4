#include "platform/event_loop.h"

#include <cstdio>
#include <exception>

namespace plat {

namespace {
EventLoop*& Installed() {
    static EventLoop* loop = nullptr;
    return loop;
}
}  // namespace

void EventLoop::ProcessMessages() {
    DispatchPlatformMessages();
}

void EventLoop::WaitMessage(int32_t timeoutMs) {
    WaitPlatformMessage(timeoutMs);
}

void EventLoop::Wake() {
    WakePlatformLoop();
}

void EventLoop::HandleException(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "unknown exception\n");
    }
}

void EventLoop::Terminate() {
    terminated_ = true;
    Wake();
}

void EventLoop::Run() {
    while (!terminated_) {
        ProcessMessages();
        if (!terminated_) {
            WaitMessage(-1);
        }
    }
}

EventLoop& MainLoop() {
    static EventLoop defaultLoop;
    EventLoop* loop = Installed();
    return loop ? *loop : defaultLoop;
}

void SetMainLoop(EventLoop* loop) {
    Installed() = loop;
}

}  // namespace plat

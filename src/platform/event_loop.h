// The application's message loop. The whole program runs on one thread: a
// network operation that has to wait keeps handling the loop's messages
// (clicks, the cancel button, timers, socket notifications) until what it
// waits for has happened, so every handler runs on this thread too.
//
// What the platform delivers (socket notifications, host lookups, timers,
// posted tasks) arrives as messages of hidden windows (hidden_window.h). A
// window toolkit plugs its own loop in by deriving from EventLoop: its
// ProcessMessages handles the toolkit's pending events and calls the base
// for the platform's, its WaitMessage blocks until either has something.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>

namespace plat {

class EventLoop {
public:
    virtual ~EventLoop() = default;

    // Handles every message that is pending now and returns without waiting
    // (the application's "process messages").
    virtual void ProcessMessages();

    // Blocks until a message is pending or `timeoutMs` milliseconds have
    // passed (a negative value waits without limit). Returns at once when a
    // message is already pending. Handles nothing itself.
    virtual void WaitMessage(int32_t timeoutMs = -1);

    // Ends a WaitMessage early; callable from any thread.
    virtual void Wake();

    // Where an exception that escapes a message handler goes (the
    // application's exception handler). The default writes its message to
    // stderr; a toolkit shows it in a box.
    virtual void HandleException(std::exception_ptr error);

    // A termination request: Run returns once the current message is handled.
    void Terminate();
    bool Terminated() const { return terminated_; }

    // The application's main loop: waits for and handles messages until
    // Terminate is called.
    void Run();

private:
    bool terminated_ = false;
};

// The loop of the process: the one installed with SetMainLoop, else the
// platform's default loop.
EventLoop& MainLoop();
// Installs `loop` (not owned); null restores the default.
void SetMainLoop(EventLoop* loop);

// Runs `task` on the loop's thread from inside ProcessMessages. Callable from
// any thread; tasks run in the order they were posted.
void PostTask(std::function<void()> task);

// The platform's part of the loop, which the default EventLoop is made of and
// which a toolkit's loop calls: handle what is pending, wait for the next
// platform message (sockets, lookups, timers, posted tasks), wake a wait.
void DispatchPlatformMessages();
void WaitPlatformMessage(int32_t timeoutMs);
void WakePlatformLoop();

}  // namespace plat

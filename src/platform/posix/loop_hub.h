// The default loop's state on POSIX: the message queue of the hidden
// windows, their timers and the sockets registered for notifications. The
// queue can be posted to from any thread; everything else belongs to the
// loop's thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/loop_poll.h"

namespace plat {

class LoopHub {
public:
    using Handler = std::function<intptr_t(uint32_t, uintptr_t, intptr_t)>;
    using Clock = std::chrono::steady_clock;

    static LoopHub& Get();

    // Windows: ids are never reused, so a message for a destroyed window is
    // recognised and dropped.
    uintptr_t AddWindow(uint32_t firstMessage, Handler handler);
    void RemoveWindow(uintptr_t window);

    // Any thread. A task runs from Dispatch, in posting order with the
    // messages.
    void PostTask(std::function<void()> task);
    bool Post(uintptr_t window, uint32_t msg, uintptr_t wParam, intptr_t lParam);
    void Wake();

    void SetTimer(uintptr_t window, uintptr_t id, uint32_t intervalMs);
    void KillTimer(uintptr_t window, uintptr_t id);

    // Sockets registered for notifications.
    void Watch(int fd, uintptr_t window, uint32_t msg, uint32_t events);
    void Unwatch(int fd);
    bool Watched(int fd) const;
    // A non-blocking connect has begun; `error` is a Windows Sockets error
    // number when it already failed, else 0.
    void ConnectStarted(int fd, int error);
    // Re-enabling calls: a receive re-arms the read notification, a send that
    // would block the write notification.
    void ReceiveCalled(int fd);
    void SendBlocked(int fd);

    void Dispatch();
    void Wait(int32_t timeoutMs);

    // Wait split in two for a loop that polls for itself (a toolkit's):
    // Prepare gives the descriptors to watch (the wake pipe first) and the
    // time-out up to the next timer, 0 when a message is pending already;
    // Check takes the poll's results, turns ready sockets and due timers
    // into messages and says whether Dispatch has work.
    void Prepare(std::vector<LoopPollFd>& set, int32_t& timeoutMs);
    bool Check(const std::vector<LoopPollFd>& set);

private:
    enum class SocketState { Idle, Connecting, Connected };
    struct SocketWatch {
        uintptr_t window;
        uint32_t msg;
        uint32_t events;
        SocketState state = SocketState::Idle;
        bool readArmed = false;
        bool writeArmed = false;
        bool closeArmed = false;
    };
    struct Timer {
        uint32_t intervalMs;
        Clock::time_point due;
        bool pending = false;  // a kWmTimer message is queued
    };
    struct Message {
        uintptr_t window;
        uint32_t msg;
        uintptr_t wParam;
        intptr_t lParam;
        // Order of queueing; a dispatch pass handles only what was queued
        // before it began.
        uint64_t sequence = 0;
    };
    struct Window {
        uint32_t firstMessage;
        Handler handler;
    };

    LoopHub();
    short Interest(const SocketWatch& watch) const;
    // Turns ready sockets into notification messages; waits at most
    // `timeoutMs` (also for the wake pipe) when nothing is queued.
    void PollSockets(int timeoutMs);
    void PollSet(std::vector<LoopPollFd>& set) const;
    // Posts the notifications of the sockets the poll found ready.
    void Notify(const std::vector<LoopPollFd>& set);
    // Lowers `waitMs` (negative: no limit) to the time up to the next
    // timer; false when a timer is due now.
    bool NextTimer(int32_t& waitMs) const;
    bool Queued() const;
    void QueueDueTimers();
    void Purge(uintptr_t window, uint32_t msg, bool matchParam, uintptr_t wParam);
    void DrainWakePipe();
    void RunTask();
    void Enqueue(const Message& m);

    mutable std::mutex queueMutex_;
    std::deque<Message> queue_;
    uint64_t nextSequence_ = 0;
    std::deque<std::function<void()>> tasks_;
    bool wakePending_ = false;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;

    // Window 0 stands for the task queue.
    uintptr_t nextWindow_ = 1;
    std::map<uintptr_t, std::shared_ptr<Window>> windows_;
    std::map<std::pair<uintptr_t, uintptr_t>, Timer> timers_;
    std::map<int, SocketWatch> sockets_;
    // The socket calls look a descriptor up here from whatever thread they
    // run on (a test's server thread, say, with sockets the loop never
    // watches): lookups from them and every change of the map take this
    // lock; the loop's own walks, on the only thread that changes it, don't.
    mutable std::mutex socketsMutex_;
};

}  // namespace plat

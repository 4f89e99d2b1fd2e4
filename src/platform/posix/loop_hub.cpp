#include "platform/posix/loop_hub.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>

#include "platform/event_loop.h"
#include "platform/hidden_window.h"
#include "platform/posix/socket_errors.h"
#include "platform/socket.h"

namespace plat {

LoopHub& LoopHub::Get() {
    // Never destroyed: a lookup thread may still post after static
    // destruction has begun.
    static LoopHub* hub = new LoopHub();
    return *hub;
}

LoopHub::LoopHub() {
    int fds[2];
    if (pipe(fds) == 0) {
        wakeRead_ = fds[0];
        wakeWrite_ = fds[1];
        for (int fd : fds) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
}

uintptr_t LoopHub::AddWindow(uint32_t firstMessage, Handler handler) {
    const uintptr_t id = nextWindow_++;
    windows_[id] = std::make_shared<Window>(Window{firstMessage, std::move(handler)});
    return id;
}

void LoopHub::RemoveWindow(uintptr_t window) {
    windows_.erase(window);
    for (auto it = timers_.begin(); it != timers_.end();) {
        it = it->first.first == window ? timers_.erase(it) : std::next(it);
    }
    {
        const std::lock_guard<std::mutex> lock(socketsMutex_);
        for (auto it = sockets_.begin(); it != sockets_.end();) {
            it = it->second.window == window ? sockets_.erase(it) : std::next(it);
        }
    }
    Purge(window, 0, false, 0);
}

void LoopHub::Enqueue(const Message& m) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        queue_.push_back(m);
        queue_.back().sequence = nextSequence_++;
        if (!wakePending_) {
            wakePending_ = true;
            wake = true;
        }
    }
    if (wake && wakeWrite_ >= 0) {
        const char byte = 0;
        [[maybe_unused]] ssize_t n = write(wakeWrite_, &byte, 1);
    }
}

void LoopHub::PostTask(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        tasks_.push_back(std::move(task));
    }
    Enqueue(Message{0, 0, 0, 0});
}

bool LoopHub::Post(uintptr_t window, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    Enqueue(Message{window, msg, wParam, lParam});
    return true;
}

void LoopHub::Wake() {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        if (!wakePending_) {
            wakePending_ = true;
            wake = true;
        }
    }
    if (wake && wakeWrite_ >= 0) {
        const char byte = 0;
        [[maybe_unused]] ssize_t n = write(wakeWrite_, &byte, 1);
    }
}

void LoopHub::DrainWakePipe() {
    // The pipe is emptied before the pending mark is cleared: cleared first,
    // a poster could set it again and write its byte in between, the read
    // would take that byte, and every later poster, finding the mark set,
    // would write none, so the loop would sleep with tasks queued. This
    // order leaves at worst a byte without the mark, which costs one pass.
    char buffer[64];
    while (wakeRead_ >= 0 && read(wakeRead_, buffer, sizeof buffer) > 0) {
    }
    std::lock_guard<std::mutex> lock(queueMutex_);
    wakePending_ = false;
}

void LoopHub::Purge(uintptr_t window, uint32_t msg, bool matchParam, uintptr_t wParam) {
    std::lock_guard<std::mutex> lock(queueMutex_);
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                                [&](const Message& m) {
                                    if (m.window != window) {
                                        return false;
                                    }
                                    return !matchParam || (m.msg == msg && m.wParam == wParam);
                                }),
                 queue_.end());
}

void LoopHub::SetTimer(uintptr_t window, uintptr_t id, uint32_t intervalMs) {
    KillTimer(window, id);
    timers_[{window, id}] = Timer{intervalMs, Clock::now() + std::chrono::milliseconds(intervalMs)};
}

void LoopHub::KillTimer(uintptr_t window, uintptr_t id) {
    auto it = timers_.find({window, id});
    if (it == timers_.end()) {
        return;
    }
    if (it->second.pending) {
        Purge(window, kWmTimer, true, id);
    }
    timers_.erase(it);
}

void LoopHub::QueueDueTimers() {
    const Clock::time_point now = Clock::now();
    for (auto& [key, timer] : timers_) {
        if (!timer.pending && timer.due <= now) {
            timer.pending = true;
            timer.due = now + std::chrono::milliseconds(timer.intervalMs);
            Enqueue(Message{key.first, kWmTimer, key.second, 0});
        }
    }
}

void LoopHub::Watch(int fd, uintptr_t window, uint32_t msg, uint32_t events) {
    const std::lock_guard<std::mutex> lock(socketsMutex_);
    auto it = sockets_.find(fd);
    if (it == sockets_.end()) {
        SocketWatch watch{window, msg, events};
        sockaddr_storage peer;
        socklen_t length = sizeof peer;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0) {
            watch.state = SocketState::Connected;
        }
        it = sockets_.emplace(fd, watch).first;
    } else {
        it->second.window = window;
        it->second.msg = msg;
        it->second.events = events;
    }
    // A new registration reports what is pending now, as a first one does.
    it->second.readArmed = it->second.writeArmed = it->second.closeArmed = true;
}

void LoopHub::Unwatch(int fd) {
    const std::lock_guard<std::mutex> lock(socketsMutex_);
    auto it = sockets_.find(fd);
    if (it == sockets_.end()) {
        return;
    }
    Purge(it->second.window, it->second.msg, true, static_cast<uintptr_t>(fd));
    sockets_.erase(it);
}

bool LoopHub::Watched(int fd) const {
    const std::lock_guard<std::mutex> lock(socketsMutex_);
    return sockets_.count(fd) != 0;
}

void LoopHub::ConnectStarted(int fd, int error) {
    const std::lock_guard<std::mutex> lock(socketsMutex_);
    auto it = sockets_.find(fd);
    if (it == sockets_.end()) {
        return;
    }
    SocketWatch& watch = it->second;
    if (error != 0) {
        watch.state = SocketState::Idle;
        if (watch.events & kFdConnect) {
            Enqueue(
                Message{watch.window, watch.msg, static_cast<uintptr_t>(fd),
                        static_cast<intptr_t>(kFdConnect | (static_cast<uint32_t>(error) << 16))});
        }
        return;
    }
    watch.state = SocketState::Connecting;
}

void LoopHub::ReceiveCalled(int fd) {
    const std::lock_guard<std::mutex> lock(socketsMutex_);
    auto it = sockets_.find(fd);
    if (it != sockets_.end()) {
        it->second.readArmed = true;
    }
}

void LoopHub::SendBlocked(int fd) {
    const std::lock_guard<std::mutex> lock(socketsMutex_);
    auto it = sockets_.find(fd);
    if (it != sockets_.end()) {
        it->second.writeArmed = true;
    }
}

short LoopHub::Interest(const SocketWatch& watch) const {
    switch (watch.state) {
        case SocketState::Idle:
            return 0;
        case SocketState::Connecting:
            return (watch.events & kFdConnect) ? POLLOUT : 0;
        case SocketState::Connected:
            break;
    }
    short interest = 0;
    if (watch.readArmed && (watch.events & (kFdRead | kFdOob))) {
        interest |= POLLIN;
    }
    if (watch.closeArmed && (watch.events & kFdClose)) {
        interest |= POLLRDHUP;
    }
    if (watch.writeArmed && (watch.events & kFdWrite)) {
        interest |= POLLOUT;
    }
    return interest;
}

void LoopHub::PollSet(std::vector<LoopPollFd>& set) const {
    set.clear();
    set.reserve(sockets_.size() + 1);
    if (wakeRead_ >= 0) {
        set.push_back(LoopPollFd{wakeRead_, POLLIN, 0});
    }
    for (const auto& [fd, watch] : sockets_) {
        const short interest = Interest(watch);
        if (interest != 0) {
            set.push_back(LoopPollFd{fd, interest, 0});
        }
    }
}

void LoopHub::PollSockets(int timeoutMs) {
    std::vector<LoopPollFd> set;
    PollSet(set);
    static_assert(sizeof(LoopPollFd) == sizeof(pollfd) &&
                  offsetof(LoopPollFd, revents) == offsetof(pollfd, revents));
    const int ready = poll(reinterpret_cast<pollfd*>(set.data()), set.size(), timeoutMs);
    if (ready > 0) {
        Notify(set);
    }
}

void LoopHub::Notify(const std::vector<LoopPollFd>& set) {
    for (const LoopPollFd& p : set) {
        if (p.revents == 0 || p.fd == wakeRead_) {
            continue;
        }
        auto it = sockets_.find(p.fd);
        if (it == sockets_.end()) {
            continue;
        }
        SocketWatch& watch = it->second;
        const auto post = [&](uint32_t event, int error) {
            Enqueue(Message{watch.window, watch.msg, static_cast<uintptr_t>(p.fd),
                            static_cast<intptr_t>(event | (static_cast<uint32_t>(error) << 16))});
        };
        if (watch.state == SocketState::Connecting) {
            int error = 0;
            socklen_t length = sizeof error;
            getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &error, &length);
            if (error == 0 && (p.revents & (POLLERR | POLLHUP))) {
                error = ECONNREFUSED;
            }
            if (error == 0) {
                watch.state = SocketState::Connected;
                watch.readArmed = watch.closeArmed = watch.writeArmed = true;
                post(kFdConnect, 0);
            } else {
                watch.state = SocketState::Idle;
                post(kFdConnect, WsaErrorFromErrno(error));
            }
            continue;
        }
        const bool broken = (p.revents & (POLLERR | POLLHUP)) != 0;
        if (watch.readArmed && (watch.events & kFdRead) && (broken || (p.revents & POLLIN))) {
            watch.readArmed = false;
            post(kFdRead, 0);
        }
        if (watch.closeArmed && (watch.events & kFdClose) && (broken || (p.revents & POLLRDHUP))) {
            watch.closeArmed = false;
            // The error of a reset is left for the next receive to report.
            post(kFdClose, (p.revents & POLLERR) ? 10054 : 0);
        }
        if (watch.writeArmed && (watch.events & kFdWrite) && (broken || (p.revents & POLLOUT))) {
            watch.writeArmed = false;
            post(kFdWrite, 0);
        }
    }
}

void LoopHub::Dispatch() {
    DrainWakePipe();
    PollSockets(0);
    QueueDueTimers();
    // What handlers queue during this pass (a task posting a task, a
    // message to a window) waits for the next one, so a pass always ends.
    uint64_t end;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        end = nextSequence_;
    }
    for (;;) {
        Message m;
        {
            std::lock_guard<std::mutex> lock(queueMutex_);
            if (queue_.empty() || queue_.front().sequence >= end) {
                return;
            }
            m = queue_.front();
            queue_.pop_front();
        }
        if (m.window == 0) {
            RunTask();
            continue;
        }
        auto window = windows_.find(m.window);
        if (window == windows_.end()) {
            continue;
        }
        if (m.msg == kWmTimer) {
            auto timer = timers_.find({m.window, m.wParam});
            if (timer == timers_.end()) {
                continue;
            }
            timer->second.pending = false;
        }
        const std::shared_ptr<Window> target = window->second;
        if (m.msg >= target->firstMessage) {
            target->handler(m.msg, m.wParam, m.lParam);
        }
    }
}

void LoopHub::RunTask() {
    std::function<void()> task;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        if (tasks_.empty()) {
            return;
        }
        task = std::move(tasks_.front());
        tasks_.pop_front();
    }
    try {
        task();
    } catch (...) {
        MainLoop().HandleException(std::current_exception());
    }
}

bool LoopHub::Queued() const {
    std::lock_guard<std::mutex> lock(queueMutex_);
    return !queue_.empty();
}

bool LoopHub::NextTimer(int32_t& waitMs) const {
    const Clock::time_point now = Clock::now();
    for (const auto& [key, timer] : timers_) {
        if (timer.pending) {
            continue;
        }
        if (timer.due <= now) {
            return false;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(timer.due - now).count();
        if (waitMs < 0 || left < waitMs) {
            waitMs = static_cast<int32_t>(left);
        }
    }
    return true;
}

void LoopHub::Wait(int32_t timeoutMs) {
    if (Queued()) {
        return;
    }
    int32_t waitMs = timeoutMs < 0 ? -1 : timeoutMs;
    if (!NextTimer(waitMs)) {
        return;
    }
    PollSockets(waitMs);
}

void LoopHub::Prepare(std::vector<LoopPollFd>& set, int32_t& timeoutMs) {
    PollSet(set);
    timeoutMs = -1;
    if (Queued() || !NextTimer(timeoutMs)) {
        timeoutMs = 0;
    }
}

bool LoopHub::Check(const std::vector<LoopPollFd>& set) {
    // A byte in the wake pipe needs a dispatch even with nothing queued:
    // only that drains it, and the next poll would find it again at once.
    bool woken = false;
    for (const LoopPollFd& p : set) {
        if (p.fd == wakeRead_ && p.revents != 0) {
            woken = true;
        }
    }
    Notify(set);
    QueueDueTimers();
    return woken || Queued();
}

}  // namespace plat

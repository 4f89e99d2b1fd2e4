#include "platform/event_loop.h"

#include <windows.h>

#include <deque>
#include <memory>
#include <mutex>

#include "platform/hidden_window.h"
#include "platform/message_pump.h"

namespace plat {

namespace {

// Posted tasks and wake-ups travel as messages of a hidden window of the
// loop's thread, so that modal loops (message boxes) keep handling them.
constexpr uint32_t kTaskMessage = kWmUser + 1;
constexpr uint32_t kWakeMessage = kWmUser + 2;

struct TaskQueue {
    std::mutex mutex;
    std::deque<std::function<void()>> tasks;
    // Tasks ever posted and ever taken: the front task is number `taken`.
    uint64_t posted = 0;
    uint64_t taken = 0;
    std::unique_ptr<HiddenWindow> window;  // created on the loop's thread
    HWND hwnd = nullptr;
};

TaskQueue& Tasks() {
    static TaskQueue* queue = new TaskQueue;  // lives as long as the process
    return *queue;
}

// The filter of the loop's thread (set and used on that thread only).
MessageFilter& Filter() {
    static MessageFilter* filter = new MessageFilter;
    return *filter;
}

// Gives the message to the filter first; true when the filter took it.
bool Filtered(MSG& msg) {
    if (!Filter()) {
        return false;
    }
    // A copy: the filter may run a handler that installs another one.
    const MessageFilter filter = Filter();
    return filter(msg);
}

void RunOneTask() {
    TaskQueue& queue = Tasks();
    std::function<void()> task;
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        if (queue.tasks.empty()) {
            return;
        }
        task = std::move(queue.tasks.front());
        queue.tasks.pop_front();
        ++queue.taken;
    }
    try {
        task();
    } catch (...) {
        MainLoop().HandleException(std::current_exception());
    }
}

// Called on the loop's thread before it handles or waits.
void EnsureLoopWindow() {
    TaskQueue& queue = Tasks();
    if (queue.window) {
        return;
    }
    queue.window = std::make_unique<HiddenWindow>(
        "LoopWindowClass", kTaskMessage, [](uint32_t msg, uintptr_t, intptr_t) -> intptr_t {
            if (msg == kTaskMessage) {
                RunOneTask();
            }
            return 0;
        });
    size_t waiting = 0;
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        queue.hwnd = reinterpret_cast<HWND>(queue.window->Handle());
        waiting = queue.tasks.size();
    }
    // Tasks posted before the window existed.
    for (size_t i = 0; i < waiting; ++i) {
        PostMessageA(queue.hwnd, kTaskMessage, 0, 0);
    }
}

// True when the next task to run was posted after the first `end` tasks.
bool FrontTaskIsNewer(uint64_t end) {
    TaskQueue& queue = Tasks();
    std::lock_guard<std::mutex> lock(queue.mutex);
    return !queue.tasks.empty() && queue.taken >= end;
}

}  // namespace

void SetMessageFilter(MessageFilter filter) {
    Filter() = std::move(filter);
}

void AttachLoopThread() {
    EnsureLoopWindow();
}

void PostTask(std::function<void()> task) {
    TaskQueue& queue = Tasks();
    HWND hwnd;
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        queue.tasks.push_back(std::move(task));
        ++queue.posted;
        hwnd = queue.hwnd;
    }
    if (hwnd != nullptr) {
        PostMessageA(hwnd, kTaskMessage, 0, 0);
    }
}

void DispatchPlatformMessages() {
    EnsureLoopWindow();
    TaskQueue& queue = Tasks();
    uint64_t end;
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        end = queue.posted;
    }
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            MainLoop().Terminate();
            break;
        }
        // A task posted during this pass (one that posts another, or
        // itself) waits for the next pass, so the pass always ends. Its
        // message goes back to the queue for that pass.
        if (msg.hwnd == queue.hwnd && msg.message == kTaskMessage && FrontTaskIsNewer(end)) {
            PostMessageA(queue.hwnd, kTaskMessage, 0, 0);
            break;
        }
        if (Filtered(msg)) {
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void WaitPlatformMessage(int32_t timeoutMs) {
    EnsureLoopWindow();
    // MWMO_INPUTAVAILABLE: messages that are queued but were already seen
    // by a peek also end the wait.
    MsgWaitForMultipleObjectsEx(0, nullptr,
                                timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs),
                                QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void WakePlatformLoop() {
    HWND hwnd;
    {
        std::lock_guard<std::mutex> lock(Tasks().mutex);
        hwnd = Tasks().hwnd;
    }
    if (hwnd != nullptr) {
        PostMessageA(hwnd, kWakeMessage, 0, 0);
    }
}

}  // namespace plat

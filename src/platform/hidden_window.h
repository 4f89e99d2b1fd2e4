// Hidden windows: the receivers of the messages that the platform delivers
// to the loop. A socket registered for notifications, an asynchronous host
// lookup and a timer each name the window that is told, and the window's
// handler runs on the loop's thread from inside ProcessMessages. On Windows
// these are real windows of a registered class; elsewhere the default loop
// keeps them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace plat {

// Message numbers, with the Win32 values.
inline constexpr uint32_t kWmTimer = 0x0113;
inline constexpr uint32_t kWmUser = 0x0400;

class HiddenWindow {
public:
    using Handler = std::function<intptr_t(uint32_t msg, uintptr_t wParam, intptr_t lParam)>;

    // Creates a window of the class `className` (registered on first use).
    // Messages numbered `firstMessage` or higher go to `handler`; all others
    // get the platform's default treatment. A handler must not throw.
    HiddenWindow(const char* className, uint32_t firstMessage, Handler handler);
    ~HiddenWindow();

    HiddenWindow(const HiddenWindow&) = delete;
    HiddenWindow& operator=(const HiddenWindow&) = delete;

    // False when the platform could not create the window.
    bool Valid() const;
    // The window's handle, as socket notifications and lookups name it.
    uintptr_t Handle() const;

    // Queues a message for the window; callable from any thread. Messages
    // for a window destroyed in the meantime are dropped.
    bool Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) const;

    // Starts (or restarts) timer `id`: a kWmTimer message with wParam `id`
    // every `intervalMs` milliseconds. False when the platform has no timer
    // left. KillTimer stops it; a message not yet handled is dropped.
    bool SetTimer(uintptr_t id, uint32_t intervalMs);
    void KillTimer(uintptr_t id);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace plat

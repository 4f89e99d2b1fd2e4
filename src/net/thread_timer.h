// The time-out timer of the socket transport: a platform timer on a hidden
// window of its own, whose messages fire OnTimer on the loop's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/hidden_window.h"

class TThreadTimer;

// The hidden window of a timer, of the class "TmrWindowClass".
std::unique_ptr<plat::HiddenWindow> TmrAllocateHWnd(TThreadTimer* timer);

class TThreadTimer {
public:
    using TNotifyEvent = std::function<void(TThreadTimer* sender)>;

    TThreadTimer();
    virtual ~TThreadTimer();

    TThreadTimer(const TThreadTimer&) = delete;
    TThreadTimer& operator=(const TThreadTimer&) = delete;

    // Each setter restarts the platform timer when the timer can run
    // (Interval not 0, Enabled, OnTimer assigned); setting Enabled or
    // Interval to the value it has does nothing. Raises "No Timer" when the
    // platform has no timer left.
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    uint32_t Interval() const { return interval_; }
    void SetInterval(uint32_t interval);
    const TNotifyEvent& OnTimer() const { return onTimer_; }
    void SetOnTimer(TNotifyEvent handler);

    // The window's message handler.
    intptr_t WndProc(uint32_t msg, uintptr_t wParam, intptr_t lParam);

protected:
    // Fires OnTimer; an exception from the handler goes to the loop's
    // exception handler.
    virtual void Timer();

private:
    void UpdateTimer();

    bool enabled_ = true;
    uint32_t interval_ = 1000;
    TNotifyEvent onTimer_;
    std::unique_ptr<plat::HiddenWindow> window_;
};

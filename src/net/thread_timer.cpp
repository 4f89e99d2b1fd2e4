#include "net/thread_timer.h"

#include <exception>
#include <stdexcept>

#include "platform/event_loop.h"

namespace {
constexpr uintptr_t kTimerId = 1;
}

std::unique_ptr<plat::HiddenWindow> TmrAllocateHWnd(TThreadTimer* timer) {
    return std::make_unique<plat::HiddenWindow>(
        "TmrWindowClass", plat::kWmTimer, [timer](uint32_t msg, uintptr_t wParam, intptr_t lParam) {
            return timer->WndProc(msg, wParam, lParam);
        });
}

TThreadTimer::TThreadTimer() : window_(TmrAllocateHWnd(this)) {}

TThreadTimer::~TThreadTimer() {
    enabled_ = false;
    window_->KillTimer(kTimerId);
}

void TThreadTimer::SetEnabled(bool enabled) {
    if (enabled != enabled_) {
        enabled_ = enabled;
        UpdateTimer();
    }
}

void TThreadTimer::SetInterval(uint32_t interval) {
    if (interval != interval_) {
        interval_ = interval;
        UpdateTimer();
    }
}

void TThreadTimer::SetOnTimer(TNotifyEvent handler) {
    onTimer_ = std::move(handler);
    UpdateTimer();
}

void TThreadTimer::UpdateTimer() {
    window_->KillTimer(kTimerId);
    if (interval_ != 0 && enabled_ && onTimer_) {
        if (!window_->SetTimer(kTimerId, interval_)) {
            throw std::runtime_error("No Timer");
        }
    }
}

intptr_t TThreadTimer::WndProc(uint32_t msg, uintptr_t /*wParam*/, intptr_t /*lParam*/) {
    // A message that was already on its way when the timer was stopped is
    // not a time-out any more.
    if (msg == plat::kWmTimer && enabled_) {
        try {
            Timer();
        } catch (...) {
            plat::MainLoop().HandleException(std::current_exception());
        }
    }
    return 0;
}

void TThreadTimer::Timer() {
    if (onTimer_) {
        onTimer_(this);
    }
}

#include "platform/hidden_window.h"

#include <windows.h>

#include <exception>

#include "platform/event_loop.h"

namespace plat {

struct HiddenWindow::Impl {
    HWND hwnd = nullptr;
    uint32_t firstMessage = 0;
    Handler handler;
};

namespace {

// The owner of a window sits in its first extra slot; messages arriving
// before it is set (creation) or after it was cleared (destruction) get the
// default treatment.
LRESULT CALLBACK HiddenWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* impl = reinterpret_cast<HiddenWindow::Impl*>(GetWindowLongPtrA(hwnd, 0));
    if (impl != nullptr && msg >= impl->firstMessage && msg != WM_ACTIVATEAPP) {
        try {
            return static_cast<LRESULT>(impl->handler(msg, wParam, lParam));
        } catch (...) {
            MainLoop().HandleException(std::current_exception());
            return 0;
        }
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

bool EnsureClass(const char* className) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA wc{};
    if (GetClassInfoA(instance, className, &wc)) {
        return true;
    }
    wc = WNDCLASSA{};
    wc.lpfnWndProc = HiddenWindowProc;
    wc.cbWndExtra = sizeof(LONG_PTR);
    wc.hInstance = instance;
    wc.lpszClassName = className;
    return RegisterClassA(&wc) != 0;
}

}  // namespace

HiddenWindow::HiddenWindow(const char* className, uint32_t firstMessage, Handler handler)
    : impl_(std::make_unique<Impl>()) {
    impl_->firstMessage = firstMessage;
    impl_->handler = std::move(handler);
    if (!EnsureClass(className)) {
        return;
    }
    // A message-only window: it receives posted messages, timers and socket
    // notifications but is never shown, so a console program needs no
    // display for it.
    impl_->hwnd = CreateWindowExA(0, className, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    if (impl_->hwnd != nullptr) {
        SetWindowLongPtrA(impl_->hwnd, 0, reinterpret_cast<LONG_PTR>(impl_.get()));
    }
}

HiddenWindow::~HiddenWindow() {
    if (impl_->hwnd != nullptr) {
        SetWindowLongPtrA(impl_->hwnd, 0, 0);
        DestroyWindow(impl_->hwnd);
    }
}

bool HiddenWindow::Valid() const {
    return impl_->hwnd != nullptr;
}

uintptr_t HiddenWindow::Handle() const {
    return reinterpret_cast<uintptr_t>(impl_->hwnd);
}

bool HiddenWindow::Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) const {
    return impl_->hwnd != nullptr &&
           PostMessageA(impl_->hwnd, msg, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
}

bool HiddenWindow::SetTimer(uintptr_t id, uint32_t intervalMs) {
    return impl_->hwnd != nullptr && ::SetTimer(impl_->hwnd, id, intervalMs, nullptr) != 0;
}

void HiddenWindow::KillTimer(uintptr_t id) {
    if (impl_->hwnd == nullptr) {
        return;
    }
    ::KillTimer(impl_->hwnd, id);
    // A timer message already queued is dropped, so a stopped timer never fires.
    MSG m;
    while (PeekMessageA(&m, impl_->hwnd, WM_TIMER, WM_TIMER, PM_REMOVE)) {
    }
}

}  // namespace plat

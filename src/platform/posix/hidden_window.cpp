#include "platform/hidden_window.h"

#include <exception>

#include "platform/event_loop.h"
#include "platform/posix/loop_hub.h"

namespace plat {

struct HiddenWindow::Impl {
    uintptr_t id = 0;
};

HiddenWindow::HiddenWindow(const char* /*className*/, uint32_t firstMessage, Handler handler)
    : impl_(std::make_unique<Impl>()) {
    impl_->id = LoopHub::Get().AddWindow(
        firstMessage, [handler = std::move(handler)](uint32_t msg, uintptr_t w, intptr_t l) {
            try {
                return handler(msg, w, l);
            } catch (...) {
                MainLoop().HandleException(std::current_exception());
                return intptr_t{0};
            }
        });
}

HiddenWindow::~HiddenWindow() {
    LoopHub::Get().RemoveWindow(impl_->id);
}

bool HiddenWindow::Valid() const {
    return impl_->id != 0;
}

uintptr_t HiddenWindow::Handle() const {
    return impl_->id;
}

bool HiddenWindow::Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) const {
    return LoopHub::Get().Post(impl_->id, msg, wParam, lParam);
}

bool HiddenWindow::SetTimer(uintptr_t id, uint32_t intervalMs) {
    LoopHub::Get().SetTimer(impl_->id, id, intervalMs);
    return true;
}

void HiddenWindow::KillTimer(uintptr_t id) {
    LoopHub::Get().KillTimer(impl_->id, id);
}

}  // namespace plat

#include "ui/win32/native_link.h"

#include <exception>

#include "platform/event_loop.h"

namespace ui::win32 {

namespace {
constexpr const wchar_t* kProperty = L"BrfControl";
}

NativeLink::~NativeLink() {
    if (hwnd_ != nullptr && IsWindow(hwnd_) && Of(hwnd_) == this) {
        HWND hwnd = hwnd_;
        Detach();
        DestroyWindow(hwnd);
    }
}

void NativeLink::Attach(HWND hwnd) {
    hwnd_ = hwnd;
    SetPropW(hwnd, kProperty, reinterpret_cast<HANDLE>(this));
}

void NativeLink::Detach() {
    if (hwnd_ != nullptr) {
        RemovePropW(hwnd_, kProperty);
        hwnd_ = nullptr;
    }
}

NativeLink* NativeLink::Of(HWND hwnd) {
    return hwnd == nullptr ? nullptr : reinterpret_cast<NativeLink*>(GetPropW(hwnd, kProperty));
}

LRESULT CALLBACK LinkedWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        if (auto* link = static_cast<NativeLink*>(create->lpCreateParams)) {
            link->Attach(hwnd);
        }
    }
    NativeLink* link = NativeLink::Of(hwnd);
    if (link != nullptr) {
        try {
            if (msg == WM_COMMAND && lParam != 0) {
                if (NativeLink* child = NativeLink::Of(reinterpret_cast<HWND>(lParam))) {
                    child->Command(HIWORD(wParam));
                    return 0;
                }
            }
            LRESULT result = 0;
            if (link->HandleMessage(msg, wParam, lParam, result)) {
                return result;
            }
        } catch (...) {
            plat::MainLoop().HandleException(std::current_exception());
            return 0;
        }
        if (msg == WM_NCDESTROY) {
            link->Detach();
        }
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace ui::win32

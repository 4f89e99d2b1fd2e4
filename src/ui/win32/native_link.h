// The tie between a control object of the control layer and its window:
// the window carries a pointer to its object as a window property, so that
// notifications that arrive at a parent (WM_COMMAND) or at a window of our
// own classes find the object that mirrors it.
#pragma once

#include <windows.h>

namespace ui::win32 {

class NativeLink {
public:
    NativeLink() = default;
    virtual ~NativeLink();
    NativeLink(const NativeLink&) = delete;
    NativeLink& operator=(const NativeLink&) = delete;

    HWND Handle() const { return hwnd_; }

    // A notification code of WM_COMMAND that this control's window sent to
    // its parent (BN_CLICKED, CBN_EDITCHANGE, ...).
    virtual void Command(int code) { (void)code; }

    // Messages for windows of our own classes. Returns true with `result`
    // set when the message was handled.
    virtual bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
        (void)msg;
        (void)wParam;
        (void)lParam;
        (void)result;
        return false;
    }

    // Binds the object to `hwnd` (also done by WM_NCCREATE for our classes).
    void Attach(HWND hwnd);
    // The window is being destroyed: forget it.
    void Detach();

    // The object that mirrors `hwnd`, or null.
    static NativeLink* Of(HWND hwnd);

protected:
    HWND hwnd_ = nullptr;
};

// The window procedure of our own window classes: it hands messages to the
// object named at creation (CreateWindowEx's last argument), routes
// WM_COMMAND to the object of the child that sent it, and keeps exceptions
// of the handlers from unwinding through the system's frames.
LRESULT CALLBACK LinkedWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace ui::win32

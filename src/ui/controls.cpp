#include "ui/controls.h"

#include "platform/event_loop.h"

namespace ui {

void Form::Close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    if (OnClose) {
        OnClose();
    }
    // The one window is gone: the application ends with it.
    plat::MainLoop().Terminate();
}

}  // namespace ui

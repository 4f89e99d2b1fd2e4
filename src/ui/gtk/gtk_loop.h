// The process's event loop on GLib's main context: GTK's events and the
// platform's messages (sockets, timers, posted tasks, the wake pipe) are
// waited for in one poll, so nothing polls on an interval and no thread is
// needed.
//
// The platform's descriptors and deadline reach GLib through a source that
// asks the platform loop for its poll set before each poll and hands the
// results back after it. The source may recurse: a network wait started
// from one of its messages handles messages itself (a modal loop of GTK, a
// dialog) and must see the platform's messages there too.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>

#include "platform/event_loop.h"

typedef struct _GSource GSource;

namespace ui::gtk {

class GtkEventLoop : public plat::EventLoop {
public:
    GtkEventLoop();
    ~GtkEventLoop() override;
    GtkEventLoop(const GtkEventLoop&) = delete;
    GtkEventLoop& operator=(const GtkEventLoop&) = delete;

    // Everything ready now: GTK's events and redraws first, then the
    // platform's messages once, so a busy socket cannot starve the window.
    void ProcessMessages() override;
    // Blocks in the main context's poll until GTK or the platform has
    // something, or `timeoutMs` has passed; dispatches nothing.
    void WaitMessage(int32_t timeoutMs = -1) override;
    void Wake() override;
    void HandleException(std::exception_ptr error) override;

    // Shows an exception that escaped a handler; unset, the base prints it.
    std::function<void(const std::exception&)> onException;

private:
    GSource* source_ = nullptr;
};

}  // namespace ui::gtk

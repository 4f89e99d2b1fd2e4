#include "ui/gtk/gtk_loop.h"

#include <glib.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#include "platform/loop_poll.h"

namespace ui::gtk {

namespace {

// How often one ProcessMessages runs GLib's dispatch: enough for a burst of
// input and redraws, while a source that is always ready cannot hold the
// caller (a network wait) for good.
constexpr int kMaxPasses = 64;

struct SourceState {
    std::vector<plat::LoopPollFd> set;
    // GLib's poll records, one per descriptor. Plain poll records, not
    // GLib's unix-fd watches: those make the source ready by themselves
    // whenever a descriptor is, which would defeat the hold below.
    std::map<int, std::unique_ptr<GPollFD>> polls;
    // While above zero the platform's messages are left for the explicit
    // dispatch at the end of ProcessMessages.
    int held = 0;
};

struct PlatformSource {
    GSource source;
    SourceState* state;
};

SourceState& StateOf(GSource* source) {
    return *reinterpret_cast<PlatformSource*>(source)->state;
}

// Makes GLib poll exactly the descriptors of `state.set`. Adding or
// removing a record wakes the context's poll; a changed interest is
// written into the record, which GLib reads at every poll.
void SyncDescriptors(GSource* source, SourceState& state) {
    std::map<int, std::unique_ptr<GPollFD>> next;
    for (const plat::LoopPollFd& p : state.set) {
        auto it = state.polls.find(p.fd);
        std::unique_ptr<GPollFD> record;
        if (it == state.polls.end()) {
            record = std::make_unique<GPollFD>();
            record->fd = p.fd;
            record->events = static_cast<gushort>(p.events);
            g_source_add_poll(source, record.get());
        } else {
            record = std::move(it->second);
            record->events = static_cast<gushort>(p.events);
            state.polls.erase(it);
        }
        next[p.fd] = std::move(record);
    }
    for (auto& [fd, record] : state.polls) {
        g_source_remove_poll(source, record.get());
    }
    state.polls = std::move(next);
}

gboolean Prepare(GSource* source, gint* timeout) {
    SourceState& state = StateOf(source);
    int32_t timeoutMs = -1;
    const bool pending = plat::PreparePlatformPoll(state.set, timeoutMs);
    SyncDescriptors(source, state);
    *timeout = timeoutMs;
    return pending && state.held == 0;
}

gboolean Check(GSource* source) {
    SourceState& state = StateOf(source);
    for (plat::LoopPollFd& p : state.set) {
        auto it = state.polls.find(p.fd);
        p.revents = it == state.polls.end() ? 0 : static_cast<short>(it->second->revents);
    }
    const bool ready = plat::CheckPlatformPoll(state.set);
    return ready && state.held == 0;
}

gboolean Dispatch(GSource* source, GSourceFunc, gpointer) {
    // Marked ready by a wait before the hold began: the explicit dispatch
    // at the end of ProcessMessages handles it.
    if (StateOf(source).held == 0) {
        plat::DispatchPlatformMessages();
    }
    return G_SOURCE_CONTINUE;
}

void Finalize(GSource* source) {
    delete reinterpret_cast<PlatformSource*>(source)->state;
}

GSourceFuncs kFuncs = {Prepare, Check, Dispatch, Finalize, nullptr, nullptr};

}  // namespace

GtkEventLoop::GtkEventLoop() {
    source_ = g_source_new(&kFuncs, sizeof(PlatformSource));
    reinterpret_cast<PlatformSource*>(source_)->state = new SourceState;
    g_source_set_name(source_, "platform messages");
    g_source_set_can_recurse(source_, TRUE);
    g_source_attach(source_, nullptr);
}

GtkEventLoop::~GtkEventLoop() {
    g_source_destroy(source_);
    g_source_unref(source_);
}

void GtkEventLoop::ProcessMessages() {
    SourceState& state = StateOf(source_);
    ++state.held;
    GMainContext* context = g_main_context_default();
    for (int i = 0; i < kMaxPasses && g_main_context_iteration(context, FALSE); ++i) {
    }
    --state.held;
    plat::DispatchPlatformMessages();
}

void GtkEventLoop::WaitMessage(int32_t timeoutMs) {
    GMainContext* context = g_main_context_default();
    if (!g_main_context_acquire(context)) {
        // Another thread runs the context: wait for the platform alone.
        plat::WaitPlatformMessage(timeoutMs);
        return;
    }
    const gint64 deadline = timeoutMs < 0 ? -1 : g_get_monotonic_time() + timeoutMs * gint64{1000};
    std::vector<GPollFD> fds(16);
    for (;;) {
        gint priority = 0;
        const bool ready = g_main_context_prepare(context, &priority);
        gint timeout = -1;
        gint count;
        while ((count = g_main_context_query(context, priority, &timeout, fds.data(),
                                             static_cast<gint>(fds.size()))) >
               static_cast<gint>(fds.size())) {
            fds.resize(static_cast<size_t>(count));
        }
        if (ready) {
            timeout = 0;
        }
        if (deadline >= 0) {
            const gint64 left = (deadline - g_get_monotonic_time() + 999) / 1000;
            const gint limit = left > 0 ? static_cast<gint>(left) : 0;
            if (timeout < 0 || limit < timeout) {
                timeout = limit;
            }
        }
        g_main_context_get_poll_func(context)(fds.data(), static_cast<guint>(count), timeout);
        // What is ready now stays marked so; the next ProcessMessages
        // handles it. A poll that ended for GLib's own reasons (its poll set
        // changed) and found nothing waits again.
        const bool found = g_main_context_check(context, priority, fds.data(), count);
        if (found || ready || (deadline >= 0 && g_get_monotonic_time() >= deadline)) {
            break;
        }
    }
    g_main_context_release(context);
}

void GtkEventLoop::Wake() {
    plat::EventLoop::Wake();
    g_main_context_wakeup(g_main_context_default());
}

void GtkEventLoop::HandleException(std::exception_ptr error) {
    if (!onException) {
        plat::EventLoop::HandleException(error);
        return;
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        onException(e);
    } catch (...) {
        onException(std::runtime_error("unknown exception"));
    }
}

}  // namespace ui::gtk

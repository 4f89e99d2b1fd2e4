// Where the platform's loop pumps window messages (Windows; elsewhere see
// loop_poll.h): what a toolkit needs of the loop beyond the portable
// interface of event_loop.h: a filter that sees every message before it is
// translated and dispatched (where dialog keys are handled), and binding the
// loop to the thread that pumps the window messages.
#pragma once

#include <windows.h>

#include <functional>

namespace plat {

// Called for each message that the platform's loop takes from the queue,
// before TranslateMessage and DispatchMessage. Returns true when it handled
// the message itself (IsDialogMessage did), which then is not dispatched.
using MessageFilter = std::function<bool(MSG& msg)>;

// Installs `filter` for the loop of the calling thread; an empty one removes
// it. The filter runs on the loop's thread only.
void SetMessageFilter(MessageFilter filter);

// Makes the calling thread the loop's thread now: the hidden window that
// carries posted tasks and wake-ups is created at once, so tasks posted from
// here on run whichever loop pumps this thread's messages (the platform's
// own, a toolkit's GetMessage loop, the modal loop of a message box or a
// dialog). Without it the window is made by the first pass of the platform's
// loop. Calling it again does nothing.
void AttachLoopThread();

}  // namespace plat

// Where the platform's loop waits in poll(2) (every system but Windows, see
// message_pump.h there): its descriptors and deadline, for a toolkit that
// runs its own poll (GLib's) and must wait for the platform's messages in
// the same call: sockets, the wake pipe of posted messages and tasks, and
// the time up to the next timer.
#pragma once

#include <cstdint>
#include <vector>

namespace plat {

// Laid out as struct pollfd; events and revents are poll(2) bits.
struct LoopPollFd {
    int fd;
    short events;
    short revents;
};

// What to poll for the platform's next message. `timeoutMs` is -1 (no
// timer), the milliseconds up to the next timer, or 0 when a message is
// already pending. Returns true when a message is pending.
bool PreparePlatformPoll(std::vector<LoopPollFd>& set, int32_t& timeoutMs);

// Hands the results of the poll of `set` back (revents filled): ready
// sockets and due timers become messages. Returns true when
// DispatchPlatformMessages has work.
bool CheckPlatformPoll(const std::vector<LoopPollFd>& set);

}  // namespace plat

#include "platform/event_loop.h"

#include "platform/loop_poll.h"
#include "platform/posix/loop_hub.h"

namespace plat {

void PostTask(std::function<void()> task) {
    LoopHub::Get().PostTask(std::move(task));
}

void DispatchPlatformMessages() {
    LoopHub::Get().Dispatch();
}

void WaitPlatformMessage(int32_t timeoutMs) {
    LoopHub::Get().Wait(timeoutMs);
}

void WakePlatformLoop() {
    LoopHub::Get().Wake();
}

bool PreparePlatformPoll(std::vector<LoopPollFd>& set, int32_t& timeoutMs) {
    LoopHub::Get().Prepare(set, timeoutMs);
    return timeoutMs == 0;
}

bool CheckPlatformPoll(const std::vector<LoopPollFd>& set) {
    return LoopHub::Get().Check(set);
}

}  // namespace plat

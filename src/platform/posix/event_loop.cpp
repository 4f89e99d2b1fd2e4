#include "platform/event_loop.h"

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

}  // namespace plat

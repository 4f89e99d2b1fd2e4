#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/event_loop.h"
#include "platform/hidden_window.h"

namespace {

using plat::HiddenWindow;

TEST(EventLoop, TaskPostedFromAnotherThreadEndsTheWaitAndRunsOnTheLoop) {
    std::atomic<bool> ran{false};
    const std::thread::id loopThread = std::this_thread::get_id();
    std::thread::id ranOn;
    std::thread poster([&] {
        plat::PostTask([&] {
            ranOn = std::this_thread::get_id();
            ran = true;
        });
    });
    // Without the task this wait would never end.
    while (!ran) {
        plat::MainLoop().WaitMessage(-1);
        plat::MainLoop().ProcessMessages();
    }
    poster.join();
    EXPECT_EQ(ranOn, loopThread);
}

// Workers post while the loop drains its wake-up and sleeps: a task posted
// in any of those moments must wake it. A lost wake-up shows as a wait that
// runs into its timeout with tasks still to come (the workers never pause
// that long), instead of a hang.
TEST(EventLoop, TasksPostedFromManyThreadsNeverLeaveTheLoopAsleep) {
    constexpr int kThreads = 4;
    constexpr int kTasksEach = 20000;
    std::atomic<int> ran{0};
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&] {
            for (int i = 0; i < kTasksEach; ++i) {
                plat::PostTask([&] { ++ran; });
                if (i % 64 == 0) {
                    std::this_thread::yield();
                }
            }
        });
    }
    int overslept = 0;
    while (ran < kThreads * kTasksEach) {
        plat::MainLoop().ProcessMessages();
        if (ran == kThreads * kTasksEach) {
            break;
        }
        const auto before = std::chrono::steady_clock::now();
        plat::MainLoop().WaitMessage(5000);
        if (std::chrono::steady_clock::now() - before >= std::chrono::seconds(5)) {
            ++overslept;
        }
    }
    for (std::thread& poster : posters) {
        poster.join();
    }
    EXPECT_EQ(overslept, 0);
}

TEST(EventLoop, TasksRunInPostingOrderAndMayPostMore) {
    std::string order;
    plat::PostTask([&] {
        order += "a";
        plat::PostTask([&] { order += "c"; });
    });
    plat::PostTask([&] { order += "b"; });
    while (order.size() < 3) {
        plat::MainLoop().WaitMessage(-1);
        plat::MainLoop().ProcessMessages();
    }
    EXPECT_EQ(order, "abc");
}

// A task that posts itself again keeps the queue busy for ever; each pass
// still ends, after running only what was queued when it began. The task
// gives up after kRuns, so a pass that never ends shows up as a wrong count
// instead of a hang.
TEST(EventLoop, APassRunsOnlyTheTasksPostedBeforeItBegan) {
    constexpr int kRuns = 1000;
    int runs = 0;
    std::function<void()> again = [&] {
        if (++runs < kRuns) {
            plat::PostTask(again);
        }
    };
    plat::PostTask(again);
    for (int pass = 1; pass <= 5; ++pass) {
        plat::MainLoop().ProcessMessages();
        EXPECT_EQ(runs, pass);
    }
    // Let the chain run out so that no later test meets it.
    while (runs < kRuns) {
        plat::MainLoop().WaitMessage(-1);
        plat::MainLoop().ProcessMessages();
    }
}

TEST(EventLoop, WindowReceivesItsMessagesAndNotTheLowerOnes) {
    std::vector<uint32_t> seen;
    HiddenWindow window("TestWindowClass", plat::kWmUser + 10,
                        [&](uint32_t msg, uintptr_t wParam, intptr_t lParam) -> intptr_t {
                            if (msg >= plat::kWmUser) {
                                seen.push_back(msg + static_cast<uint32_t>(wParam + lParam));
                            }
                            return 0;
                        });
    ASSERT_TRUE(window.Valid());
    window.Post(plat::kWmUser + 5, 0, 0);  // below the window's first message
    window.Post(plat::kWmUser + 10, 1, 2);
    bool done = false;
    plat::PostTask([&] { done = true; });
    while (!done) {
        plat::MainLoop().WaitMessage(-1);
        plat::MainLoop().ProcessMessages();
    }
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], plat::kWmUser + 13);
}

TEST(EventLoop, TimerFiresRepeatedlyAndAKilledTimerStaysSilent) {
    int ticks = 0;
    HiddenWindow* self = nullptr;
    HiddenWindow window("TestTimerClass", plat::kWmTimer,
                        [&](uint32_t msg, uintptr_t wParam, intptr_t) -> intptr_t {
                            if (msg == plat::kWmTimer && wParam == 7 && ++ticks == 3) {
                                self->KillTimer(7);
                            }
                            return 0;
                        });
    self = &window;
    ASSERT_TRUE(window.SetTimer(7, 5));
    while (ticks < 3) {
        plat::MainLoop().WaitMessage(-1);
        plat::MainLoop().ProcessMessages();
    }
    // A second timer proves time goes on; the killed one adds no tick.
    bool later = false;
    HiddenWindow other("TestTimerClass", plat::kWmTimer,
                       [&](uint32_t msg, uintptr_t, intptr_t) -> intptr_t {
                           later = later || msg == plat::kWmTimer;
                           return 0;
                       });
    ASSERT_TRUE(other.SetTimer(1, 40));
    while (!later) {
        plat::MainLoop().WaitMessage(-1);
        plat::MainLoop().ProcessMessages();
    }
    other.KillTimer(1);
    EXPECT_EQ(ticks, 3);
}

TEST(EventLoop, MessagesOfADestroyedWindowAreDropped) {
    int calls = 0;
    auto window = std::make_unique<HiddenWindow>("TestWindowClass", plat::kWmUser,
                                                 [&](uint32_t, uintptr_t, intptr_t) -> intptr_t {
                                                     ++calls;
                                                     return 0;
                                                 });
    window->Post(plat::kWmUser + 1, 0, 0);
    window.reset();
    bool done = false;
    plat::PostTask([&] { done = true; });
    while (!done) {
        plat::MainLoop().WaitMessage(-1);
        plat::MainLoop().ProcessMessages();
    }
    EXPECT_EQ(calls, 0);
}

TEST(EventLoop, RunEndsOnTerminateFromAHandler) {
    int steps = 0;
    plat::PostTask([&] {
        ++steps;
        plat::PostTask([&] {
            ++steps;
            plat::MainLoop().Terminate();
        });
    });
    plat::MainLoop().Run();
    EXPECT_EQ(steps, 2);
    EXPECT_TRUE(plat::MainLoop().Terminated());
}

// A toolkit's loop plugs in by deriving; the network layer's waits go
// through whichever loop is installed.
class CountingLoop : public plat::EventLoop {
public:
    void ProcessMessages() override {
        ++pumps;
        plat::EventLoop::ProcessMessages();
    }
    void WaitMessage(int32_t timeoutMs) override {
        ++waits;
        plat::EventLoop::WaitMessage(timeoutMs);
    }
    int pumps = 0;
    int waits = 0;
};

TEST(EventLoop, InstalledLoopReplacesTheDefault) {
    CountingLoop loop;
    plat::SetMainLoop(&loop);
    EXPECT_EQ(&plat::MainLoop(), &loop);
    bool done = false;
    plat::PostTask([&] { done = true; });
    while (!done) {
        plat::MainLoop().WaitMessage(-1);
        plat::MainLoop().ProcessMessages();
    }
    plat::SetMainLoop(nullptr);
    EXPECT_NE(&plat::MainLoop(), &loop);
    EXPECT_GE(loop.pumps, 1);
    EXPECT_GE(loop.waits, 1);
}

TEST(EventLoop, ExceptionFromATaskGoesToTheLoopsHandler) {
    class Recording : public plat::EventLoop {
    public:
        void HandleException(std::exception_ptr error) override {
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                message = e.what();
            }
        }
        std::string message;
    } loop;
    plat::SetMainLoop(&loop);
    bool after = false;
    plat::PostTask([] { throw std::runtime_error("task failed"); });
    plat::PostTask([&] { after = true; });
    while (!after) {
        loop.WaitMessage(-1);
        loop.ProcessMessages();
    }
    plat::SetMainLoop(nullptr);
    EXPECT_EQ(loop.message, "task failed");
}

}  // namespace

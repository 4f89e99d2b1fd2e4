// The new updater removes the temporary copy of a self-replacement only
// once the copy's program has ended (on Windows a running program's file
// cannot be removed), and tries once more when it closes.
#include "updater/session/u_temp_copy.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/event_loop.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

TEST(TempCopy, IsRemovedOnlyOnceTheCopyOfItsOwnDirectoryHasEnded) {
    plat::EventLoop loop;
    plat::SetMainLoop(&loop);
    brf_test::ScratchDir game, other;
    const std::string dir = game.path().string();
    const std::string file = game.File("updater.tmp.exe");
    const auto pumpFor = [&](std::chrono::milliseconds span) {
        for (const auto end = std::chrono::steady_clock::now() + span;
             std::chrono::steady_clock::now() < end;) {
            loop.ProcessMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    };

    brf_test::WriteFile(file, "copy");
    auto copy = updater::TempCopy::HoldWhileRunning(dir);
    auto removal = updater::TempCopy::RemoveWhenEnded(dir, file);
    pumpFor(std::chrono::milliseconds(10 * updater::TempCopy::kPollMs));
    EXPECT_TRUE(fs::exists(file)) << "removed while the copy runs";
    copy.reset();  // its program ended
    EXPECT_TRUE(brf_test::WaitFor([&] {
        loop.ProcessMessages();
        return !fs::exists(file);
    }));

    // A copy running in another game directory holds nothing back here.
    brf_test::WriteFile(file, "copy");
    copy = updater::TempCopy::HoldWhileRunning(other.path().string());
    removal = updater::TempCopy::RemoveWhenEnded(dir, file);
    EXPECT_FALSE(fs::exists(file));

    // Still running when the new program closes: left for its next start.
    brf_test::WriteFile(file, "copy");
    copy = updater::TempCopy::HoldWhileRunning(dir);
    removal = updater::TempCopy::RemoveWhenEnded(dir, file);
    removal.reset();
    EXPECT_TRUE(fs::exists(file));
    copy.reset();
    plat::SetMainLoop(nullptr);
}

}  // namespace

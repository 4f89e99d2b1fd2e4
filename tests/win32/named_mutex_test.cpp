// Named mutexes: their lifetime across handles, threads and processes, and the
// hand-over by which the updater starts a game program and waits until that
// program has announced itself.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "win32_test_support.h"

namespace {

std::string UniqueName(const std::string& base) {
    return base + "." + std::to_string(plat::ProcessId());
}

TEST(NamedMutex, ExistsWhileAnyHandleIsOpen) {
    const std::string name = UniqueName("BRF.TEST.LIFETIME");
    EXPECT_FALSE(plat::NamedMutexExists(name.c_str()));
    auto first = plat::NamedMutex::Create(name.c_str(), false);
    ASSERT_TRUE(first);
    EXPECT_TRUE(plat::NamedMutexExists(name.c_str()));
    auto second = plat::NamedMutex::Create(name.c_str(), false);
    ASSERT_TRUE(second);
    first.reset();
    EXPECT_TRUE(plat::NamedMutexExists(name.c_str()));
    second.reset();
    EXPECT_FALSE(plat::NamedMutexExists(name.c_str()));
}

TEST(NamedMutex, OnlyTheOwnerCanReleaseItAndOnlyOnce) {
    const std::string name = UniqueName("BRF.TEST.OWNER");
    auto owned = plat::NamedMutex::Create(name.c_str(), true);
    ASSERT_TRUE(owned);
    bool releasedByOtherThread = true;
    std::thread other([&] {
        auto handle = plat::NamedMutex::Create(name.c_str(), true);
        releasedByOtherThread = handle && handle->Release();
    });
    other.join();
    EXPECT_FALSE(releasedByOtherThread);
    EXPECT_TRUE(owned->Release());
    EXPECT_FALSE(owned->Release());
}

TEST(NamedMutex, NotInitiallyOwnedCannotBeReleased) {
    const std::string name = UniqueName("BRF.TEST.FREE");
    auto mutex = plat::NamedMutex::Create(name.c_str(), false);
    ASSERT_TRUE(mutex);
    EXPECT_FALSE(mutex->Release());
}

// The launcher's side of the hand-over, as the updater does it when it starts
// the terms program: hold the exec mutex, start the program, poll every 10 ms
// until the program's run mutex exists, then let go of the exec mutex.
TEST(NamedMutexHandOver, StartedProgramTakesOverFromTheLauncher) {
    const std::string exec = UniqueName("EXECTERMS.MUTEX");
    const std::string run = UniqueName("RUNTERMS.MUTEX");
    const std::string stop = UniqueName("BRF.TEST.STOP");
    win32test::ScratchDir scratch("handover");
    const std::string program = scratch.File("terms.exe");
    std::filesystem::copy_file(win32test::ProgramDirectory() + "win32_test_child.exe", program);
    plat::SetEnv("BRF_CHILD_REPORT", scratch.File("report.txt").c_str());
    plat::SetEnv("BRF_CHILD_EXEC_MUTEX", exec.c_str());
    plat::SetEnv("BRF_CHILD_RUN_MUTEX", run.c_str());
    plat::SetEnv("BRF_CHILD_DELAY_MS", "300");
    plat::SetEnv("BRF_CHILD_STOP_MUTEX", stop.c_str());

    auto execMutex = plat::NamedMutex::Create(exec.c_str(), true);
    ASSERT_TRUE(execMutex);
    ASSERT_EQ(plat::StartProgram(program), plat::kStartOk);
    int polls = 0;
    while (!plat::NamedMutexExists(run.c_str()) && polls < 6000) {
        plat::SleepMs(10);
        ++polls;
    }
    ASSERT_TRUE(plat::NamedMutexExists(run.c_str()));
    EXPECT_TRUE(execMutex->Release());
    execMutex.reset();

    // The program saw the exec mutex when it started, and nothing but the
    // launcher held it: it is gone now, while the program runs on.
    auto report = win32test::ParseReport(win32test::ReadFile(scratch.File("report.txt")));
    EXPECT_EQ(report["exec_mutex_seen"], "1");
    EXPECT_FALSE(plat::NamedMutexExists(exec.c_str()));
    EXPECT_TRUE(plat::NamedMutexExists(run.c_str()));

    // When the program ends, its run mutex goes with it.
    auto stopMutex = plat::NamedMutex::Create(stop.c_str(), false);
    EXPECT_TRUE(win32test::WaitUntilMutexGone(run.c_str()));
}

}  // namespace

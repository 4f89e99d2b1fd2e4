// Named mutexes as the launcher's hand-over uses them. These tests hold on
// every platform.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "support/test_support.h"

namespace {

using brf_test::ScopedEnv;
using brf_test::UniqueName;

TEST(NamedMutex, ExistsFromCreationUntilItsHandleIsClosed) {
    const std::string name = UniqueName("exec");
    EXPECT_FALSE(plat::NamedMutexExists(name.c_str()));
    auto mutex = plat::NamedMutex::Create(name.c_str(), true);
    ASSERT_NE(mutex, nullptr);
    EXPECT_TRUE(plat::NamedMutexExists(name.c_str()));
    // Asking does not take it away.
    EXPECT_TRUE(plat::NamedMutexExists(name.c_str()));
    EXPECT_TRUE(mutex->Release());
    // Released but still open: it still exists.
    EXPECT_TRUE(plat::NamedMutexExists(name.c_str()));
    mutex.reset();
    EXPECT_FALSE(plat::NamedMutexExists(name.c_str()));
}

TEST(NamedMutex, LivesUntilTheLastOfTwoHandlesIsClosed) {
    const std::string name = UniqueName("two");
    auto first = plat::NamedMutex::Create(name.c_str(), true);
    ASSERT_NE(first, nullptr);
    auto second = plat::NamedMutex::Create(name.c_str(), true);
    ASSERT_NE(second, nullptr);
    first.reset();
    EXPECT_TRUE(plat::NamedMutexExists(name.c_str()));
    second.reset();
    EXPECT_FALSE(plat::NamedMutexExists(name.c_str()));
}

TEST(NamedMutex, OpeningAnExistingMutexGivesNoFurtherOwnership) {
    const std::string name = UniqueName("owner");
    auto first = plat::NamedMutex::Create(name.c_str(), true);
    ASSERT_NE(first, nullptr);
    auto second = plat::NamedMutex::Create(name.c_str(), true);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(plat::LastErrorCode(), 183u);  // ERROR_ALREADY_EXISTS
    // The thread owns the mutex once, and may give it up through either handle.
    EXPECT_TRUE(second->Release());
    EXPECT_FALSE(first->Release());
    EXPECT_FALSE(second->Release());
}

TEST(NamedMutex, NotOwnedWhenCreatedWithoutInitialOwnership) {
    const std::string name = UniqueName("unowned");
    auto mutex = plat::NamedMutex::Create(name.c_str(), false);
    ASSERT_NE(mutex, nullptr);
    EXPECT_TRUE(plat::NamedMutexExists(name.c_str()));
    EXPECT_FALSE(mutex->Release());
    // Asking for ownership of one that exists does not give it either.
    auto again = plat::NamedMutex::Create(name.c_str(), true);
    ASSERT_NE(again, nullptr);
    EXPECT_FALSE(again->Release());
    EXPECT_FALSE(mutex->Release());
}

TEST(NamedMutex, OwnershipOutlivesTheHandleThatGaveIt) {
    const std::string name = UniqueName("outlive");
    auto owner = plat::NamedMutex::Create(name.c_str(), true);
    ASSERT_NE(owner, nullptr);
    auto other = plat::NamedMutex::Create(name.c_str(), false);
    ASSERT_NE(other, nullptr);
    owner.reset();
    EXPECT_TRUE(plat::NamedMutexExists(name.c_str()));
    EXPECT_TRUE(other->Release());
}

TEST(NamedMutex, ANewMutexOfAnOldNameStartsAfresh) {
    const std::string name = UniqueName("afresh");
    plat::NamedMutex::Create(name.c_str(), true).reset();  // owned, never released
    auto mutex = plat::NamedMutex::Create(name.c_str(), false);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(plat::LastErrorCode(), 0u);
    EXPECT_FALSE(mutex->Release());
}

TEST(NamedMutex, OwnershipBelongsToTheCreatingThread) {
    const std::string name = UniqueName("thread");
    auto mutex = plat::NamedMutex::Create(name.c_str(), true);
    ASSERT_NE(mutex, nullptr);
    bool releasedElsewhere = true;
    std::thread([&] { releasedElsewhere = mutex->Release(); }).join();
    EXPECT_FALSE(releasedElsewhere);
    EXPECT_TRUE(mutex->Release());
}

TEST(NamedMutex, NamesAreDistinctAndCaseMatters) {
    const std::string name = UniqueName("Case");
    auto mutex = plat::NamedMutex::Create(name.c_str(), true);
    ASSERT_NE(mutex, nullptr);
    std::string lower = name;
    for (char& c : lower) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    EXPECT_FALSE(plat::NamedMutexExists(lower.c_str()));
    EXPECT_FALSE(plat::NamedMutexExists((name + "x").c_str()));
    EXPECT_FALSE(plat::NamedMutexExists(name.substr(0, name.size() - 1).c_str()));
}

TEST(NamedMutex, NamesWithSlashesAndTheLocalPrefix) {
    const std::string name = "Local\\" + UniqueName("a/b/../c d");
    auto mutex = plat::NamedMutex::Create(name.c_str(), true);
    ASSERT_NE(mutex, nullptr);
    EXPECT_TRUE(plat::NamedMutexExists(name.c_str()));
    // A session's local names are its plain names.
    EXPECT_TRUE(plat::NamedMutexExists(name.substr(6).c_str()));
    mutex.reset();
    EXPECT_FALSE(plat::NamedMutexExists(name.c_str()));
}

TEST(NamedMutex, TheHandOverNamesOfTheGame) {
    for (const char* name :
         {"EXECCONFIG.MUTEX", "RUNCONFIG.MUTEX", "EXECTERMS.MUTEX", "RUNTERMS.MUTEX"}) {
        // The test must not disturb a game that runs beside it.
        if (plat::NamedMutexExists(name)) {
            continue;
        }
        auto mutex = plat::NamedMutex::Create(name, true);
        ASSERT_NE(mutex, nullptr) << name;
        EXPECT_TRUE(plat::NamedMutexExists(name)) << name;
        mutex.reset();
        EXPECT_FALSE(plat::NamedMutexExists(name)) << name;
    }
}

TEST(NamedMutex, WithoutANameNothingIsShared) {
    auto mutex = plat::NamedMutex::Create(nullptr, true);
    ASSERT_NE(mutex, nullptr);
    EXPECT_TRUE(mutex->Release());
    EXPECT_FALSE(plat::NamedMutexExists(nullptr));
    EXPECT_FALSE(plat::NamedMutexExists(""));
}

TEST(NamedMutex, AnotherProcessSeesItAndItGoesWithThatProcess) {
    const std::string name = UniqueName("child");
    ScopedEnv mutexEnv("BRF_CHILD_MUTEX", name);
    ScopedEnv holdEnv("BRF_CHILD_HOLD_MS", "300");
    ASSERT_EQ(plat::StartProgram(BRF_TEST_CHILD), plat::kStartOk);
    EXPECT_TRUE(brf_test::WaitFor([&] { return plat::NamedMutexExists(name.c_str()); }));
    EXPECT_TRUE(brf_test::WaitFor([&] { return !plat::NamedMutexExists(name.c_str()); }));
}

TEST(NamedMutex, AStartedProgramDoesNotInheritTheLaunchersMutex) {
    const std::string exec = UniqueName("exec");
    const std::string run = UniqueName("run");
    auto execMutex = plat::NamedMutex::Create(exec.c_str(), true);
    ASSERT_NE(execMutex, nullptr);
    ScopedEnv mutexEnv("BRF_CHILD_MUTEX", run);
    ScopedEnv holdEnv("BRF_CHILD_HOLD_MS", "2000");
    ASSERT_EQ(plat::StartProgram(BRF_TEST_CHILD), plat::kStartOk);
    ASSERT_TRUE(brf_test::WaitFor([&] { return plat::NamedMutexExists(run.c_str()); }));
    // The program runs, and the launcher's mutex goes with the launcher's handle.
    EXPECT_TRUE(execMutex->Release());
    execMutex.reset();
    EXPECT_FALSE(plat::NamedMutexExists(exec.c_str()));
    EXPECT_TRUE(brf_test::WaitFor([&] { return !plat::NamedMutexExists(run.c_str()); }));
}

}  // namespace

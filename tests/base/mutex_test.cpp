#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/message_box.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "shared/base/s_logging.h"
#include "shared/base/s_mutex.h"
#include "support/test_support.h"

namespace {

using brf_test::ReadFile;
using brf_test::TempDir;

// The test child is configured through its environment, since the launcher
// gives it no argument but its own path.
using brf_test::ScopedEnv;

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        CLog::Release();
        CLog::Get()->Open(2, -1, "launch.log", 1, 2000000);
        plat::SetMessageBoxHandler([this](const plat::MessageBoxRequest& box) {
            boxes_.push_back(std::string(box.caption) + "|" + box.text);
            return plat::kIdOk;
        });
    }
    void TearDown() override {
        plat::SetMessageBoxHandler(nullptr);
        CLog::Release();
    }

    // Puts the test child into the test directory under `name`.
    void InstallChild(const std::string& name) {
        std::filesystem::copy_file(BRF_TEST_CHILD, dir_.path() / name);
        std::filesystem::permissions(dir_.path() / name, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add);
    }

    // Names of this test alone: children of earlier tests may still hold
    // theirs, and parallel test runs must not see each other's mutexes.
    std::string Name(const std::string& base) {
        return base + "." + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "." +
               std::to_string(plat::ProcessId());
    }

    TempDir dir_;
    std::vector<std::string> boxes_;
};

TEST_F(LauncherTest, HandOverWaitsForTheRunMutexAndLetsGoOfTheExecMutex) {
    InstallChild("terms.exe");
    const std::string execName = Name("EXECTERMS.MUTEX");
    const std::string runName = Name("RUNTERMS.MUTEX");
    ScopedEnv mutex("BRF_CHILD_MUTEX", runName);
    ScopedEnv delay("BRF_CHILD_DELAY_MS", "300");
    ScopedEnv hold("BRF_CHILD_HOLD_MS", "3000");
    ScopedEnv record("BRF_CHILD_RECORD", (dir_.path() / "child.txt").string());

    EXPECT_FALSE(MutexExists(runName.c_str()));
    ASSERT_TRUE(ExecWithMutex(execName.c_str(), dir_.WithSeparator().c_str(), "terms.exe",
                              runName.c_str()));
    EXPECT_TRUE(MutexExists(runName.c_str())) << "returns only once the program took over";
    EXPECT_FALSE(MutexExists(execName.c_str())) << "the exec mutex is released and closed";
    EXPECT_TRUE(boxes_.empty());

    const std::string log = ReadFile("launch.log");
    EXPECT_NE(log.find(" : 1 : now executing terms.exe in path: " + dir_.WithSeparator() + "\r\n"),
              std::string::npos);
    EXPECT_NE(log.find(" : 1 : updater.exe: all finished, shut down.\r\n"), std::string::npos);

    // The program got its own path as its only argument.
    const std::string child = ReadFile(dir_.path() / "child.txt");
    EXPECT_EQ(child.rfind("1\n" + dir_.WithSeparator() + "terms.exe\n", 0), 0u) << child;
}

TEST_F(LauncherTest, EmptyDirectoryStartsTheProgramFromTheCurrentDirectory) {
    InstallChild("BRFConfig.exe");
    const std::string runName = Name("RUNCONFIG.MUTEX");
    ScopedEnv mutex("BRF_CHILD_MUTEX", runName);
    ScopedEnv hold("BRF_CHILD_HOLD_MS", "3000");
    EXPECT_TRUE(
        ExecWithMutex(Name("EXECCONFIG.MUTEX").c_str(), "", "BRFConfig.exe", runName.c_str()));
}

TEST_F(LauncherTest, MissingProgramIsReportedWithoutWaiting) {
    const std::string execName = Name("EXECTERMS.MUTEX");
    EXPECT_FALSE(ExecWithMutex(execName.c_str(), dir_.WithSeparator().c_str(), "terms.exe",
                               Name("RUNTERMS.MUTEX").c_str()));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0], "Error!|Cannot execute file terms.exe!");
    EXPECT_FALSE(MutexExists(execName.c_str()));
    const std::string log = ReadFile("launch.log");
    EXPECT_NE(log.find(" : 0 : ** error while executing terms.exe in path: " +
                       dir_.WithSeparator() + "\r\n"),
              std::string::npos);
    EXPECT_EQ(log.find("all finished"), std::string::npos);
}

TEST_F(LauncherTest, ProgramThatNeverTakesOverDoesNotHangTheLauncher) {
    InstallChild("terms.exe");
    ScopedEnv hold("BRF_CHILD_HOLD_MS", "100");
    const std::string execName = Name("EXECTERMS.MUTEX");
    EXPECT_FALSE(ExecWithMutex(execName.c_str(), dir_.WithSeparator().c_str(), "terms.exe",
                               Name("RUNTERMS.MUTEX").c_str(), 500));
    EXPECT_FALSE(MutexExists(execName.c_str()));
    EXPECT_NE(ReadFile("launch.log").find("did not create"), std::string::npos);
}

TEST(MutexExists, FollowsTheLifeOfItsHandles) {
    const std::string name = "BRF.TEST.EXISTS." + std::to_string(plat::ProcessId());
    EXPECT_FALSE(MutexExists(name.c_str()));
    {
        auto handle = plat::NamedMutex::Create(name.c_str(), true);
        ASSERT_NE(handle, nullptr);
        EXPECT_TRUE(MutexExists(name.c_str()));
    }
    EXPECT_FALSE(MutexExists(name.c_str()));
    EXPECT_FALSE(MutexExists(nullptr));
}

}  // namespace

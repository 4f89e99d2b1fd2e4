// Starting programs, with the test child program as the program started.
// These tests hold on every platform.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/named_mutex.h"
#include "platform/process.h"
#include "support/test_support.h"

namespace {

using brf_test::Lines;

using brf_test::ScopedCurrentDir;
using brf_test::ScopedEnv;
using brf_test::ScratchDir;

const std::string kChild = BRF_TEST_CHILD;

TEST(StartProgram, ThePathIsTheOnlyArgumentAndTheCurrentDirectoryIsInherited) {
    ScratchDir dir;
    const std::string record = dir.File("record.txt");
    const std::string mutex = brf_test::UniqueName("started");
    ScopedEnv recordEnv("BRF_CHILD_RECORD", record);
    ScopedEnv mutexEnv("BRF_CHILD_MUTEX", mutex);
    ScopedEnv holdEnv("BRF_CHILD_HOLD_MS", "0");
    ScopedCurrentDir cwd(dir.path());

    ASSERT_EQ(plat::StartProgram(kChild), plat::kStartOk);
    // The program announces itself through its mutex only after its record is written.
    ASSERT_TRUE(brf_test::WaitFor([&] { return Lines(brf_test::ReadFile(record)).size() >= 3; }));

    const std::vector<std::string> lines = Lines(brf_test::ReadFile(record));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "1");
    EXPECT_EQ(lines[1], kChild);
    EXPECT_TRUE(std::filesystem::equivalent(lines[2], dir.path()));
}

// Had the start waited for the program, its mutex would have come and gone
// before StartProgram returned, and the wait below would never end.
TEST(StartProgram, ReturnsAtOnceAndTheProgramsMutexIsSeenByPolling) {
    const std::string mutex = brf_test::UniqueName("handover");
    ScopedEnv mutexEnv("BRF_CHILD_MUTEX", mutex);
    ScopedEnv delayEnv("BRF_CHILD_DELAY_MS", "300");
    ScopedEnv holdEnv("BRF_CHILD_HOLD_MS", "200");

    EXPECT_FALSE(plat::NamedMutexExists(mutex.c_str()));
    ASSERT_EQ(plat::StartProgram(kChild), plat::kStartOk);
    EXPECT_TRUE(brf_test::WaitFor([&] { return plat::NamedMutexExists(mutex.c_str()); }));
    // The mutex goes when the program ends.
    EXPECT_TRUE(brf_test::WaitFor([&] { return !plat::NamedMutexExists(mutex.c_str()); }));
}

TEST(StartProgram, AMissingProgramFailsWithFileNotFound) {
    ScratchDir dir;
    EXPECT_EQ(plat::StartProgram(dir.File("terms.exe")), plat::kStartFileNotFound);
    EXPECT_NE(plat::StartProgram(""), plat::kStartOk);
}

TEST(StartProgram, ABareNameIsTakenFromTheCurrentDirectory) {
    ScratchDir dir;
    const std::string name = std::filesystem::path(kChild).filename().string();
    std::filesystem::copy_file(kChild, dir.path() / name);
    const std::string record = dir.File("record.txt");
    ScopedEnv recordEnv("BRF_CHILD_RECORD", record);
    ScopedCurrentDir cwd(dir.path());

    uint32_t exitCode = 99;
    ASSERT_EQ(plat::RunProgramAndWait(name, &exitCode), plat::kStartOk);
    EXPECT_EQ(exitCode, 0u);
    const std::vector<std::string> lines = Lines(brf_test::ReadFile(record));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], name);
}

TEST(StartProgram, ABareNameIsNotLookedForElsewhere) {
    ScratchDir empty;
    ScopedCurrentDir cwd(empty.path());
    const std::string name = std::filesystem::path(kChild).filename().string();
    // The child's own directory is the system path now, and still it is not found.
    ScopedEnv path("PATH", std::filesystem::path(kChild).parent_path().string());
    EXPECT_EQ(plat::StartProgram(name), plat::kStartFileNotFound);
}

TEST(StartProgram, AFileThatIsNoProgramFailsWithBadFormat) {
    ScratchDir dir;
    const std::string path = dir.File("garbage.exe");
    brf_test::WriteFile(
        path, std::string("this is no program, just some text\n") + std::string(4096, 'x'));
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    EXPECT_EQ(plat::StartProgram(path), plat::kStartBadFormat);
}

TEST(RunProgramAndWait, GivesTheExitCode) {
    ScopedEnv exitEnv("BRF_CHILD_EXIT", "7");
    uint32_t exitCode = 0;
    ASSERT_EQ(plat::RunProgramAndWait(kChild, &exitCode), plat::kStartOk);
    EXPECT_EQ(exitCode, 7u);
}

TEST(RunProgramAndWait, WaitsUntilTheProgramHasEnded) {
    const std::string mutex = brf_test::UniqueName("waited");
    ScopedEnv mutexEnv("BRF_CHILD_MUTEX", mutex);
    ScopedEnv holdEnv("BRF_CHILD_HOLD_MS", "300");
    uint32_t exitCode = 1;
    ASSERT_EQ(plat::RunProgramAndWait(kChild, &exitCode), plat::kStartOk);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(plat::NamedMutexExists(mutex.c_str()));
}

TEST(RunProgramAndWait, AMissingProgramFailsWithoutAnExitCode) {
    ScratchDir dir;
    uint32_t exitCode = 42;
    EXPECT_EQ(plat::RunProgramAndWait(dir.File("missing.exe"), &exitCode),
              plat::kStartFileNotFound);
    EXPECT_EQ(exitCode, 42u);
}

TEST(ProgramFacts, TheStartedProgramKnowsItsOwnPath) {
    ScratchDir dir;
    const std::string self = dir.File("self.txt");
    ScopedEnv selfEnv("BRF_CHILD_SELF", self);
    uint32_t exitCode = 1;
    ASSERT_EQ(plat::RunProgramAndWait(kChild, &exitCode), plat::kStartOk);
    const std::vector<std::string> lines = Lines(brf_test::ReadFile(self));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(std::filesystem::equivalent(lines[0], kChild));
    // Its command line names the program, so the log can take its directory from it.
    EXPECT_NE(lines[1].find(std::filesystem::path(kChild).filename().string()), std::string::npos);
    EXPECT_NE(lines[2], std::to_string(plat::ProcessId()));
}

TEST(ProgramFacts, ThisProgramsPathAndCommandLine) {
    const std::string path = plat::ProgramPath();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_NE(path.find("platform_test"), std::string::npos);
    EXPECT_NE(plat::CommandLine().find("platform_test"), std::string::npos);
    // The command line is taken once and stays the same object.
    EXPECT_EQ(&plat::CommandLine(), &plat::CommandLine());
    EXPECT_TRUE(std::filesystem::path(path).is_absolute());
    EXPECT_NE(path.find(plat::PathSeparator()), std::string::npos);
}

}  // namespace

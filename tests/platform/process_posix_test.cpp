// Starting programs: what the POSIX emulation of the Windows start adds.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/process.h"
#include "support/test_support.h"

extern char** environ;

namespace {

using brf_test::ScopedCurrentDir;
using brf_test::ScopedEnv;
using brf_test::ScratchDir;

const std::string kChild = BRF_TEST_CHILD;

std::string Script(const ScratchDir& dir, const std::string& name, const std::string& text,
                   mode_t mode = 0755) {
    const std::string path = dir.File(name);
    brf_test::WriteFile(path, text);
    chmod(path.c_str(), mode);
    return path;
}

TEST(StartProgramPosix, AFileWithoutExecutePermissionIsAccessDenied) {
    ScratchDir dir;
    const std::string path = Script(dir, "terms.exe", "#!/bin/sh\nexit 0\n", 0644);
    EXPECT_EQ(plat::StartProgram(path), plat::kStartAccessDenied);
    EXPECT_EQ(plat::StartProgram(dir.path().string()), plat::kStartAccessDenied);
}

TEST(StartProgramPosix, AScriptWithoutInterpreterLineIsABadFormat) {
    ScratchDir dir;
    const std::string path = Script(dir, "terms.exe", "exit 0\n");
    EXPECT_EQ(plat::StartProgram(path), plat::kStartBadFormat);
}

TEST(StartProgramPosix, AScriptWithInterpreterLineRuns) {
    ScratchDir dir;
    const std::string path = Script(dir, "terms.exe", "#!/bin/sh\nexit 3\n");
    uint32_t exitCode = 0;
    EXPECT_EQ(plat::RunProgramAndWait(path, &exitCode), plat::kStartOk);
    EXPECT_EQ(exitCode, 3u);
}

TEST(StartProgramPosix, MissingDirectoriesAndBareNamesOfSystemPrograms) {
    ScratchDir dir;
    EXPECT_EQ(plat::StartProgram(dir.File("no/such/dir/terms.exe")), plat::kStartFileNotFound);
    // A file where a directory should be, and no name at all: ERROR_PATH_NOT_FOUND.
    brf_test::WriteFile(dir.File("file"), "x");
    EXPECT_EQ(plat::StartProgram(dir.File("file/terms.exe")), 3u);
    EXPECT_EQ(plat::StartProgram(""), 3u);
    ScopedCurrentDir cwd(dir.path());
    // "sh" is on the system path but not in the current directory.
    EXPECT_EQ(plat::StartProgram("sh"), plat::kStartFileNotFound);
}

TEST(StartProgramPosix, LeavesNoChildBehind) {
    ScratchDir dir;
    const std::string record = dir.File("record.txt");
    ScopedEnv recordEnv("BRF_CHILD_RECORD", record);
    ASSERT_EQ(plat::StartProgram(kChild), plat::kStartOk);
    ASSERT_TRUE(brf_test::WaitFor([&] { return std::filesystem::exists(record); }));
    // The program was handed to init: this process has no child to reap,
    // now or when the program ends.
    int status = 0;
    EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(StartProgramPosix, TheProgramGetsNoneOfTheCallersFileDescriptors) {
    ScratchDir dir;
    const int fd = open(dir.File("open.txt").c_str(), O_CREAT | O_WRONLY, 0600);  // inheritable
    ASSERT_GE(fd, 3);
    const std::string script =
        Script(dir, "probe",
               "#!/bin/sh\n[ -e /proc/self/fd/" + std::to_string(fd) + " ] && exit 1\nexit 0\n");
    uint32_t exitCode = 99;
    EXPECT_EQ(plat::RunProgramAndWait(script, &exitCode), plat::kStartOk);
    EXPECT_EQ(exitCode, 0u);
    close(fd);
}

TEST(RunProgramAndWaitPosix, AProgramKilledBySignalReportsIt) {
    ScratchDir dir;
    const std::string script = Script(dir, "crash", "#!/bin/sh\nkill -9 $$\n");
    uint32_t exitCode = 0;
    EXPECT_EQ(plat::RunProgramAndWait(script, &exitCode), plat::kStartOk);
    EXPECT_EQ(exitCode, 128u + 9u);
}

TEST(StartCommand, FindsTheProgramOnThePathAndPassesTheArguments) {
    ScratchDir dir;
    const std::string out = dir.File("args.txt");
    Script(dir, "brf-open",
           "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > \"" + out + ".part\"\nmv \"" + out +
               ".part\" \"" + out + "\"\n");
    ScopedEnv path("PATH", "/nonexistent:" + dir.path().string() + ":/usr/bin:/bin");
    ASSERT_EQ(plat::StartCommand("brf-open", {"http://example.invalid/a b", "second"}),
              plat::kStartOk);
    ASSERT_TRUE(brf_test::WaitFor([&] { return std::filesystem::exists(out); }));
    EXPECT_EQ(brf_test::ReadFile(out), "http://example.invalid/a b\nsecond\n");
    EXPECT_EQ(plat::StartCommand("brf-no-such-command", {}), plat::kStartFileNotFound);
}

// Runs the child directly with `args` after its own path and returns what it
// wrote about itself: path, command line, process id.
std::vector<std::string> ChildSelf(const std::string& program, std::vector<std::string> args) {
    ScratchDir dir;
    const std::string self = dir.File("self.txt");
    ScopedEnv selfEnv("BRF_CHILD_SELF", self);
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return {};
    }
    int status = 0;
    waitpid(pid, &status, 0);
    std::vector<std::string> lines;
    std::string text = brf_test::ReadFile(self);
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

TEST(CommandLinePosix, ArgumentsJoinedByBlanksAndQuotedWhereTheyHoldBlanks) {
    const std::vector<std::string> self =
        ChildSelf(kChild, {"plain", "two words", "", "tab\there"});
    ASSERT_EQ(self.size(), 3u);
    EXPECT_EQ(self[1], kChild + " plain \"two words\" \"\" \"tab\there\"");
}

TEST(ProgramPathPosix, IsTheFileItselfNotTheLinkItWasStartedThrough) {
    ScratchDir dir;
    const std::string link = dir.File("updater.exe");
    std::filesystem::create_symlink(kChild, link);
    const std::vector<std::string> self = ChildSelf(link, {});
    ASSERT_EQ(self.size(), 3u);
    EXPECT_EQ(self[0], std::filesystem::canonical(kChild).string());
    EXPECT_EQ(self[1], link);
}

}  // namespace

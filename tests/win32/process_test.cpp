// Starting programs: what the started program receives (its command line,
// arguments and current directory), the start failures the launcher reports,
// waiting for an exit status, and commands found along the search path.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/environment.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "win32_test_support.h"

namespace {

using win32test::ParseReport;
using win32test::ReadFile;
using win32test::ScratchDir;
using win32test::WaitForFile;

const std::string kChildName = "win32_test_child.exe";

class ProcessStart : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"BRF_CHILD_REPORT", "BRF_CHILD_EXEC_MUTEX", "BRF_CHILD_WAIT_FOR",
                                 "BRF_CHILD_RUN_MUTEX", "BRF_CHILD_DELAY_MS",
                                 "BRF_CHILD_STOP_MUTEX", "BRF_CHILD_EXIT_CODE"}) {
            plat::SetEnv(name, nullptr);
        }
        plat::SetEnv("BRF_CHILD_REPORT", scratch_.File("report.txt").c_str());
        previousDirectory_ = std::filesystem::current_path();
    }
    void TearDown() override { std::filesystem::current_path(previousDirectory_); }

    // A copy of the test child at `relativePath` inside the scratch directory.
    std::string PlaceChild(const std::string& relativePath) {
        const std::filesystem::path target = scratch_.File(relativePath);
        std::filesystem::create_directories(target.parent_path());
        std::filesystem::copy_file(win32test::ProgramDirectory() + kChildName, target);
        return target.string();
    }

    // For children started without waiting: the child announces itself with a
    // run mutex and ends once told to; its end closes the mutex. The scratch
    // directory can only be removed once no child runs from it.
    void ExpectChildEnd() {
        plat::SetEnv("BRF_CHILD_RUN_MUTEX", runMutex_.c_str());
        plat::SetEnv("BRF_CHILD_STOP_MUTEX", stopMutex_.c_str());
    }
    void AwaitChildEnd() {
        ASSERT_TRUE(win32test::WaitForMutex(runMutex_.c_str()));
        auto stop = plat::NamedMutex::Create(stopMutex_.c_str(), false);
        EXPECT_TRUE(win32test::WaitUntilMutexGone(runMutex_.c_str()));
    }

    std::map<std::string, std::string> RunChildToEnd(const std::string& path) {
        uint32_t exitCode = 99;
        EXPECT_EQ(plat::RunProgramAndWait(path, &exitCode), plat::kStartOk);
        EXPECT_EQ(exitCode, 0u);
        return ParseReport(ReadFile(scratch_.File("report.txt")));
    }

    const std::string runMutex_ = "BRF.TEST.RUN." + std::to_string(plat::ProcessId());
    const std::string stopMutex_ = "BRF.TEST.STOP." + std::to_string(plat::ProcessId());
    ScratchDir scratch_{"process"};
    std::filesystem::path previousDirectory_;
};

TEST_F(ProcessStart, StartedProgramGetsItsQuotedPathAsItsWholeCommandLine) {
    const std::string path = PlaceChild("Some Dir\\terms.exe");
    auto report = RunChildToEnd(path);
    EXPECT_EQ(report["cmdline"], "\"" + path + "\"");
    EXPECT_EQ(report["argc"], "1");
    EXPECT_EQ(report["argv0"], path);
    EXPECT_EQ(report["program"], path);
}

TEST_F(ProcessStart, StartedProgramInheritsTheCurrentDirectory) {
    const std::string path = PlaceChild("bin\\BRFConfig.exe");
    std::filesystem::current_path(scratch_.Path());
    auto report = RunChildToEnd(path);
    EXPECT_TRUE(std::filesystem::equivalent(report["cwd"], scratch_.Path())) << report["cwd"];
}

TEST_F(ProcessStart, BareFileNameIsTakenFromTheCurrentDirectory) {
    PlaceChild("terms.exe");
    std::filesystem::current_path(scratch_.Path());
    auto report = RunChildToEnd("terms.exe");
    EXPECT_EQ(report["argv0"], "terms.exe");
    EXPECT_EQ(report["program"], scratch_.File("terms.exe"));
}

TEST_F(ProcessStart, ExitStatusOfAWaitedProgramIsReturned) {
    const std::string path = PlaceChild("terms.exe");
    plat::SetEnv("BRF_CHILD_EXIT_CODE", "7");
    uint32_t exitCode = 0;
    ASSERT_EQ(plat::RunProgramAndWait(path, &exitCode), plat::kStartOk);
    EXPECT_EQ(exitCode, 7u);
}

TEST_F(ProcessStart, StartDoesNotWaitForTheProgram) {
    const std::string path = PlaceChild("terms.exe");
    const std::string go = "BRF.TEST.GO." + std::to_string(plat::ProcessId());
    // The child blocks until the mutex exists, which only happens after
    // StartProgram has come back.
    plat::SetEnv("BRF_CHILD_WAIT_FOR", go.c_str());
    ExpectChildEnd();
    ASSERT_EQ(plat::StartProgram(path), plat::kStartOk);
    EXPECT_FALSE(std::filesystem::exists(scratch_.File("report.txt")));
    auto goMutex = plat::NamedMutex::Create(go.c_str(), false);
    ASSERT_TRUE(goMutex);
    ASSERT_TRUE(WaitForFile(scratch_.File("report.txt")));
    EXPECT_EQ(ParseReport(ReadFile(scratch_.File("report.txt")))["argv0"], path);
    AwaitChildEnd();
}

TEST_F(ProcessStart, MissingProgramIsReportedAsFileNotFound) {
    std::filesystem::current_path(scratch_.Path());
    EXPECT_EQ(plat::StartProgram("terms.exe"), plat::kStartFileNotFound);
    EXPECT_EQ(plat::StartProgram(scratch_.File("BRFConfig.exe")), plat::kStartFileNotFound);
    uint32_t exitCode = 1234;
    EXPECT_EQ(plat::RunProgramAndWait(scratch_.File("terms.exe"), &exitCode),
              plat::kStartFileNotFound);
    EXPECT_EQ(exitCode, 1234u);
}

TEST_F(ProcessStart, FileThatIsNoProgramIsReportedAsBadFormat) {
    win32test::WriteFile(scratch_.File("terms.exe"), "Terms of use\r\n");
    EXPECT_EQ(plat::StartProgram(scratch_.File("terms.exe")), plat::kStartBadFormat);
}

TEST_F(ProcessStart, ProgramIsNotLookedUpAlongTheSearchPath) {
    // cmd.exe lives in the system directory, which the search would find.
    std::filesystem::current_path(scratch_.Path());
    EXPECT_EQ(plat::StartProgram("cmd.exe"), plat::kStartFileNotFound);
}

TEST_F(ProcessStart, CommandIsFoundAlongTheSearchPathAndGetsItsArguments) {
    const std::string path = PlaceChild("tools\\brf_path_child.exe");
    const std::string previousPath = plat::GetEnv("PATH").value_or("");
    plat::SetEnv("PATH", (scratch_.File("tools") + ";" + previousPath).c_str());
    ExpectChildEnd();
    const uint32_t result = plat::StartCommand(
        "brf_path_child", {"http://example.org/a b", "say \"hi\"", "C:\\dir\\", "", "plain"});
    plat::SetEnv("PATH", previousPath.c_str());
    ASSERT_EQ(result, plat::kStartOk);
    ASSERT_TRUE(WaitForFile(scratch_.File("report.txt")));
    AwaitChildEnd();
    auto report = ParseReport(ReadFile(scratch_.File("report.txt")));
    EXPECT_EQ(report["program"], path);
    EXPECT_EQ(report["argc"], "6");
    EXPECT_EQ(report["argv1"], "http://example.org/a b");
    EXPECT_EQ(report["argv2"], "say \"hi\"");
    EXPECT_EQ(report["argv3"], "C:\\dir\\");
    EXPECT_EQ(report["argv4"], "");
    EXPECT_EQ(report["argv5"], "plain");
}

TEST_F(ProcessStart, MissingCommandIsReportedAsFileNotFound) {
    EXPECT_EQ(plat::StartCommand("brf-no-such-command", {"x"}), plat::kStartFileNotFound);
}

TEST(RunningProgram, KnowsItsPathAndCommandLine) {
    const std::string path = plat::ProgramPath();
    EXPECT_EQ(path.substr(1, 2), ":\\") << path;
    EXPECT_EQ(path.substr(path.size() - 4), ".exe");
    const std::string name = path.substr(path.find_last_of('\\') + 1);
    EXPECT_NE(plat::CommandLine().find(name), std::string::npos) << plat::CommandLine();
    EXPECT_EQ(plat::PathSeparator(), '\\');
    EXPECT_NE(plat::ProcessId(), 0u);
}

}  // namespace

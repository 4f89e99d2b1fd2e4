#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "platform/process.h"
#include "shared/base/s_logging.h"
#include "support/test_support.h"

namespace {

using brf_test::ReadFile;
using brf_test::TempDir;
using brf_test::WriteFile;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "every line ends in CR LF";
        if (end == std::string::npos) {
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// The text of an entry without its "tick : hh:mm:ss : level : " prefix; the
// prefix itself is checked for its shape.
std::string Message(const std::string& line, int level) {
    static const std::regex prefix(R"(^-?\d+ : \d\d:\d\d:\d\d : (-?\d+) : )");
    std::smatch match;
    EXPECT_TRUE(std::regex_search(line, match, prefix)) << line;
    if (match.empty()) {
        return line;
    }
    EXPECT_EQ(match[1].str(), std::to_string(level));
    return match.suffix();
}

class LogTest : public ::testing::Test {
protected:
    void SetUp() override { CLog::Release(); }
    void TearDown() override { CLog::Release(); }
    CLog& Log() { return *CLog::Get(); }
    TempDir dir_;
};

TEST_F(LogTest, HeaderBlockOpensEveryRun) {
    Log().Open(2, -1, "_debugg.log", 0, 2000000);
    const auto lines = Lines(ReadFile("_debugg.log"));
    ASSERT_EQ(lines.size(), 8u);
    const std::string rule(78, '-');
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(Message(lines[1], 0), rule);
    EXPECT_EQ(Message(lines[2], 0), "--- logfile for application : " + plat::CommandLine());
    EXPECT_EQ(Message(lines[3], 0), "--- logfile reseted to      : _debugg.log");
    EXPECT_TRUE(std::regex_match(
        Message(lines[4], 0),
        std::regex(
            R"(--- logging started on      : [A-Z][a-z]{2} [A-Z][a-z]{2} [ 1-3]\d \d\d:\d\d:\d\d \d{4})")))
        << lines[4];
    EXPECT_TRUE(std::regex_match(Message(lines[5], 0), std::regex(R"(--- \(-?\d+ .* / [01] .*\))")))
        << lines[5];
    EXPECT_EQ(Message(lines[6], 0), rule);
    EXPECT_EQ(lines[7], "");
}

TEST_F(LogTest, NegativeLevelWritesOnlyTheDeactivationBlock) {
    Log().Open(-1, -1, "_debugg.log", 0, 2000000);
    const int32_t headerLine = Log().lastEntryLine();
    Log().Write(0, __FILE__, __LINE__, "** a failure");
    Log().Write(-5, __FILE__, __LINE__, "anything");
    const auto lines = Lines(ReadFile("_debugg.log"));
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(Message(lines[3], 0), "--- logfile reseted to      : _debugg.log");
    EXPECT_EQ(lines[5], "");
    EXPECT_EQ(Message(lines[6], 0),
              "*** logging is deactivated because loglevel is below zero ***");
    EXPECT_EQ(Log().logLevel(), -1);
    EXPECT_EQ(Log().lastEntryLine(), headerLine) << "nothing is recorded while logging is off";
}

TEST_F(LogTest, ResetRuleKeepsFilesUpToTheLimit) {
    const std::string old(100, 'x');
    WriteFile("exact.log", old);
    Log().Open(2, -1, "exact.log", 0, 100);
    EXPECT_EQ(ReadFile("exact.log").substr(0, 100), old) << "a file of exactly the limit is kept";

    CLog::Release();
    WriteFile("over.log", old + "y");
    CLog::Get()->Open(2, -1, "over.log", 0, 100);
    // The old content as a whole: the header's command line may hold an x
    // of its own ("base_test.exe" on Windows).
    EXPECT_EQ(ReadFile("over.log").find(old), std::string::npos) << "one byte more resets it";

    CLog::Release();
    WriteFile("cleared.log", "old run\r\n");
    CLog::Get()->Open(2, -1, "cleared.log", 1, 2000000);
    EXPECT_EQ(ReadFile("cleared.log").find("old run"), std::string::npos);
    EXPECT_EQ(Lines(ReadFile("cleared.log")).size(), 8u);
}

TEST_F(LogTest, LevelFilterAndBareLineEnds) {
    Log().Open(2, -1, "_debugg.log", 1, 2000000);
    const size_t header = ReadFile("_debugg.log").size();
    Log().Write(3, __FILE__, __LINE__, "actCount/newCount: %i,%i", 1, 2);
    Log().Write(1, __FILE__, __LINE__, "file is ok.");
    const char* empty = "";
    Log().Write(1, __FILE__, __LINE__, empty, 0);
    Log().Write(0, __FILE__, __LINE__, "** file is corrupted, trying again! (%i)", -4);
    const auto lines = Lines(ReadFile("_debugg.log").substr(header));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(Message(lines[0], 1), "file is ok.");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(Message(lines[2], 0), "** file is corrupted, trying again! (-4)");

    CLog::Release();
    CLog::Get()->Open(3, -1, "_debugg.log", 1, 2000000);
    CLog::Get()->Write(3, __FILE__, __LINE__, "entering function FormClose");
    EXPECT_NE(ReadFile("_debugg.log").find("entering function FormClose\r\n"), std::string::npos);
}

TEST_F(LogTest, SourcePositionIsRecordedEvenForFilteredEntries) {
    Log().Open(0, -1, "_debugg.log", 1, 2000000);
    Log().Write(2, "u_updater.cpp", 77, "detail");
    EXPECT_STREQ(Log().lastEntryFile(), "u_updater.cpp");
    EXPECT_EQ(Log().lastEntryLine(), 77);
    Log().Write(0, "other.cpp", 0, "no position");
    EXPECT_STREQ(Log().lastEntryFile(), "u_updater.cpp") << "line 0 records nothing";
    EXPECT_EQ(ReadFile("_debugg.log").find("detail"), std::string::npos);
}

TEST_F(LogTest, MissingFileIsCreatedAgainByTheNextEntry) {
    Log().Open(2, -1, "_debugg.log", 0, 2000000);
    std::filesystem::remove("_debugg.log");
    Log().Write(1, __FILE__, __LINE__, "requesting file: %s", "data/a.pak");
    const auto lines = Lines(ReadFile("_debugg.log"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(Message(lines[0], 1), "requesting file: data/a.pak");
}

TEST_F(LogTest, UnwritableFileSwallowsEntries) {
    std::filesystem::create_directory("a-directory");
    Log().Open(2, -1, "a-directory", 0, 2000000);
    Log().Write(0, __FILE__, __LINE__, "** lost");
    EXPECT_TRUE(std::filesystem::is_directory("a-directory"));
    Log().Open(2, -1, "missing-dir/x.log", 0, 2000000);
    Log().Write(0, __FILE__, __LINE__, "** lost too");
    EXPECT_FALSE(std::filesystem::exists("missing-dir"));
}

TEST_F(LogTest, OverlongEntryIsCutButKeepsItsLineEnd) {
    Log().Open(2, -1, "_debugg.log", 1, 2000000);
    const size_t header = ReadFile("_debugg.log").size();
    const std::string huge(5000, 'z');
    Log().Write(1, __FILE__, __LINE__, "%s", huge.c_str());
    Log().Write(1, __FILE__, __LINE__, "next");
    const std::string text = ReadFile("_debugg.log").substr(header);
    const auto lines = Lines(text);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size() + 2, CLog::kLineSize - 1);
    EXPECT_EQ(Message(lines[1], 1), "next");
}

TEST_F(LogTest, LineFeedsInsideAMessageAlsoEndInCrLf) {
    Log().Open(2, -1, "_debugg.log", 1, 2000000);
    const size_t header = ReadFile("_debugg.log").size();
    Log().Write(1, __FILE__, __LINE__, "server said: %s", "HTTP/1.0 404\nNot Found");
    const std::string text = ReadFile("_debugg.log").substr(header);
    EXPECT_EQ(text.find("\n"), text.find("\r\n") + 1) << "no bare line feed";
    const auto lines = Lines(text);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Message(lines[0], 1), "server said: HTTP/1.0 404");
    EXPECT_EQ(lines[1], "Not Found");
}

TEST_F(LogTest, LongFileNameIsCutToTheField) {
    const std::string name(200, 'n');
    Log().Open(2, -1, name.c_str(), 0, 2000000);
    EXPECT_EQ(std::string(Log().logFileName()), name.substr(0, 127));
}

TEST(AppDirectory, QuotesAreRemovedAndTheLastSeparatorEndsIt) {
    EXPECT_EQ(AppDirectoryFromCommandLine("\"C:\\Games\\Some Dir\\updater.exe\"", '\\'),
              "C:\\Games\\Some Dir\\");
    EXPECT_EQ(AppDirectoryFromCommandLine("updater.exe", '\\'), "");
    EXPECT_EQ(AppDirectoryFromCommandLine("/opt/brf/updater --x a/b", '/'),
              "/opt/brf/updater --x a/");
    EXPECT_EQ(AppDirectoryFromCommandLine("", '/'), "");
    // The log feeds it only the program's part of the command line.
    EXPECT_EQ(ProgramOfCommandLine("/opt/brf/updater --server http://a/b/"), "/opt/brf/updater");
    EXPECT_EQ(ProgramOfCommandLine("\"C:\\Some Dir\\u.exe\" -x \\y"), "\"C:\\Some Dir\\u.exe\"");
    EXPECT_EQ(ProgramOfCommandLine("updater.exe"), "updater.exe");
    EXPECT_EQ(AppDirectoryFromCommandLine("/" + std::string(253, 'd') + "/u", '/'),
              "/" + std::string(253, 'd') + "/");
    EXPECT_EQ(AppDirectoryFromCommandLine("/" + std::string(254, 'd') + "/u", '/'), "")
        << "a directory that does not fit is not cut";
}

TEST(AppDirectory, RunningProgramGetsItsOwnDirectory) {
    CLog::Release();
    const std::string expected = AppDirectoryFromCommandLine(
        ProgramOfCommandLine(plat::CommandLine()), plat::PathSeparator());
    EXPECT_STREQ(CLog::Get()->appDirectory(), expected.c_str());
    CLog::Release();
}

}  // namespace

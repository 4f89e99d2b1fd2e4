// What Windows adds to starting programs: the started program's command line
// is its path in quotes (a path with blanks stays one argument), and commands
// are found along the search path with their arguments quoted for the C
// runtime that splits them again.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/process.h"
#include "support/test_support.h"
#include "win32_test_support.h"

namespace {

using brf_test::Lines;

using brf_test::ScopedEnv;
using brf_test::ScratchDir;

// The portable test child as a full Windows path. The build names it by its
// Unix path, which Wine resolves only while the current drive is the one
// that maps the Unix root, so it is made absolute before a test moves away.
const std::string& TestChild() {
    static const std::string path = std::filesystem::absolute(BRF_TEST_CHILD).string();
    return path;
}

TEST(StartProgramWin32, CommandLineIsThePathInQuotesAlone) {
    ScratchDir dir;
    const std::string program = dir.File("Some Dir\\terms.exe");
    std::filesystem::create_directories(dir.File("Some Dir"));
    std::filesystem::copy_file(TestChild(), program);
    ScopedEnv record("BRF_CHILD_RECORD", dir.File("record.txt"));
    ScopedEnv self("BRF_CHILD_SELF", dir.File("self.txt"));

    uint32_t exitCode = 99;
    ASSERT_EQ(plat::RunProgramAndWait(program, &exitCode), plat::kStartOk);
    EXPECT_EQ(exitCode, 0u);
    const std::vector<std::string> args = Lines(brf_test::ReadFile(dir.File("record.txt")));
    ASSERT_EQ(args.size(), 3u);
    EXPECT_EQ(args[0], "1");
    EXPECT_EQ(args[1], program);
    const std::vector<std::string> facts = Lines(brf_test::ReadFile(dir.File("self.txt")));
    ASSERT_EQ(facts.size(), 3u);
    EXPECT_EQ(facts[0], program);
    EXPECT_EQ(facts[1], "\"" + program + "\"");
}

TEST(StartCommandWin32, FoundAlongTheSearchPathWithItsArgumentsIntact) {
    ScratchDir dir;
    const std::string tools = dir.File("tools");
    std::filesystem::create_directories(tools);
    std::filesystem::copy_file(TestChild(), tools + "\\brf_path_child.exe");
    const std::string previousPath = plat::GetEnv("PATH").value_or("");
    ScopedEnv path("PATH", tools + ";" + previousPath);
    ScopedEnv record("BRF_CHILD_RECORD", dir.File("record.txt"));
    ScopedEnv self("BRF_CHILD_SELF", dir.File("self.txt"));

    // Without an extension, as the command of the text editor is given.
    ASSERT_EQ(plat::StartCommand("brf_path_child", {"http://example.org/a b", "say \"hi\"",
                                                    "C:\\dir\\", "", "plain"}),
              plat::kStartOk);
    // Under Wine the file can be seen before its lines can be read: wait for
    // the lines themselves.
    ASSERT_TRUE(brf_test::WaitFor(
        [&] { return Lines(brf_test::ReadFile(dir.File("self.txt"))).size() >= 3; }));
    const std::vector<std::string> facts = Lines(brf_test::ReadFile(dir.File("self.txt")));
    ASSERT_EQ(facts.size(), 3u);
    win32test::WaitForProcessEnd(std::stoul(facts[2]));

    EXPECT_EQ(facts[0], tools + "\\brf_path_child.exe");
    const std::vector<std::string> args = Lines(brf_test::ReadFile(dir.File("record.txt")));
    ASSERT_EQ(args.size(), 8u);
    EXPECT_EQ(args[0], "6");
    EXPECT_EQ(args[2], "http://example.org/a b");
    EXPECT_EQ(args[3], "say \"hi\"");
    EXPECT_EQ(args[4], "C:\\dir\\");
    EXPECT_EQ(args[5], "");
    EXPECT_EQ(args[6], "plain");
}

TEST(StartCommandWin32, MissingCommandIsFileNotFound) {
    EXPECT_EQ(plat::StartCommand("brf-no-such-command", {"x"}), plat::kStartFileNotFound);
}

}  // namespace

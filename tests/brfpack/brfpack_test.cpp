// brfpack as operators and scripts use it: exit codes, the one-line outputs
// scripts parse, and containers that the updater's decoder accepts.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pack/pack.h"
#include "platform/run_command.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Scratch files live in a folder below the working directory, named without
// blanks, so that command lines need no quoting on either platform.
class BrfpackTest : public testing::Test {
protected:
    void SetUp() override {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        dir_ = std::string("work_") + info->name();
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    std::string P(const std::string& name) const {
        return (std::filesystem::path(dir_) / name).string();
    }

    struct Result {
        int status;
        std::string out;
        std::string err;
    };

    // The arguments are separated by blanks; none of them holds one.
    Result Run(const std::string& args) const {
        std::vector<std::string> arguments;
        std::istringstream words(args);
        for (std::string word; words >> word;) {
            arguments.push_back(word);
        }
        const std::string out = P("stdout.txt");
        const std::string err = P("stderr.txt");
        const int status = plat::RunCommand(BRFPACK_TOOL, arguments, out, err);
        return Result{status, ReadText(out), ReadText(err)};
    }

    static std::string ReadText(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static void Write(const std::string& path, const std::string& data) {
        std::ofstream(path, std::ios::binary) << data;
    }

    std::string dir_;
};

std::string Text(size_t size) {
    std::string s;
    const char* words[] = {"sail ", "the ", "brine ", "and ", "fall\n", "harbour ", "wind "};
    for (size_t i = 0; s.size() < size; i++) {
        s += words[(i * 7 + i / 3) % 7];
    }
    s.resize(size);
    return s;
}

// The last line of a text, without its line end.
std::string Trim(const std::string& s) {
    std::string t = s;
    while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) {
        t.pop_back();
    }
    return t;
}

int64_t ModificationTime(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtime) : -1;
}

TEST_F(BrfpackTest, HelpAndBadArguments) {
    const Result help = Run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: brfpack"), std::string::npos);
    EXPECT_NE(help.out.find("encode SOURCE DEST"), std::string::npos);

    EXPECT_EQ(Run("").status, 2);
    const Result unknown = Run("squash a b");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("unknown command 'squash'"), std::string::npos);
    EXPECT_EQ(Run("check").status, 2);
    EXPECT_EQ(Run("decode " + P("only-one")).status, 2);
    Write(P("src.txt"), "hello");
    EXPECT_EQ(Run("encode " + P("src.txt")).status, 2);
    const Result badTime = Run("encode " + P("src.txt") + " " + P("x.pack") + " --mtime yesterday");
    EXPECT_EQ(badTime.status, 2);
    EXPECT_NE(badTime.err.find("--mtime"), std::string::npos);
    EXPECT_EQ(Run("encode " + P("src.txt") + " " + P("x.pack") + " --mtime 4294967296").status, 2);
    EXPECT_EQ(Run("encode " + P("src.txt") + " " + P("x.pack") + " --atime").status, 2);
    EXPECT_EQ(Run("encode " + P("src.txt") + " " + P("x.pack") + " --mode fastest").status, 2);
    EXPECT_EQ(Run("encode " + P("src.txt") + " " + P("x.pack") + " --bogus").status, 2);
    EXPECT_FALSE(std::filesystem::exists(P("x.pack")));
}

TEST_F(BrfpackTest, EncodeThenDecodeRestoresContentAndTimes) {
    const std::string content = Text(50000);
    Write(P("src.txt"), content);
    const Result enc = Run("encode " + P("src.txt") + " " + P("c.pack") +
                           " --mtime 1500000000 --atime 1600000000");
    ASSERT_EQ(enc.status, 0) << enc.err;

    const Result check = Run("check " + P("c.pack"));
    EXPECT_EQ(check.status, 0);
    EXPECT_EQ(Trim(check.out), "0");
    // The updater's own check agrees.
    EXPECT_EQ(CPack::Get()->CheckFile(P("c.pack").c_str()), 0);

    const Result dec = Run("decode " + P("c.pack") + " " + P("out.txt"));
    ASSERT_EQ(dec.status, 0) << dec.err;
    EXPECT_EQ(ReadText(P("out.txt")), content);
    EXPECT_EQ(ModificationTime(P("out.txt")), 1500000000);

    const Result info = Run("info " + P("c.pack"));
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(info.out.find("original size:     50000 bytes"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("format:            102"), std::string::npos);
    EXPECT_NE(info.out.find("matches the payload"), std::string::npos);
    EXPECT_NE(info.out.find("modification time: 1500000000 (2017-07-14 02:40:00 UTC)"),
              std::string::npos)
        << info.out;
    EXPECT_NE(info.out.find("access time:       1600000000 (2020-09-13 12:26:40 UTC)"),
              std::string::npos);
}

TEST_F(BrfpackTest, EncodeTakesTheSourceTimesByDefault) {
    Write(P("src.bin"), std::string(3000, '\x07') + Text(1000));
    const auto stamp =
        std::filesystem::last_write_time(P("src.bin")) - std::chrono::hours(24 * 400);
    std::filesystem::last_write_time(P("src.bin"), stamp);
    const int64_t sourceTime = ModificationTime(P("src.bin"));
    ASSERT_GT(sourceTime, 0);
    for (const char* mode : {"greedy", "lazy", "optimal"}) {
        ASSERT_EQ(Run(std::string("encode ") + P("src.bin") + " " + P("c.pack") + " --mode " + mode)
                      .status,
                  0);
        ASSERT_EQ(Run("decode " + P("c.pack") + " " + P("out.bin")).status, 0) << mode;
        EXPECT_EQ(ReadText(P("out.bin")), ReadText(P("src.bin"))) << mode;
        EXPECT_EQ(ModificationTime(P("out.bin")), sourceTime) << mode;
    }
}

TEST_F(BrfpackTest, CheckPrintsEveryCodeAloneOnItsLine) {
    Write(P("src.txt"), Text(2000));
    ASSERT_EQ(Run("encode " + P("src.txt") + " " + P("good.pack") + " --mtime 1 --atime 1").status,
              0);
    std::string container = ReadText(P("good.pack"));

    std::string damaged = container;
    damaged[30] = static_cast<char>(damaged[30] ^ 0x01);
    Write(P("damaged.pack"), damaged);
    std::string format = container;
    format[4] = 101;
    Write(P("format.pack"), format);
    Write(P("short.pack"), container.substr(0, 19));

    const struct {
        std::string file;
        std::string code;
    } cases[] = {{"good.pack", "0"},
                 {"absent.pack", "-1"},
                 {"short.pack", "-2"},
                 {"format.pack", "-3"},
                 {"damaged.pack", "-4"}};
    for (const auto& c : cases) {
        const Result r = Run("check " + P(c.file));
        EXPECT_EQ(Trim(r.out), c.code) << c.file;
        EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << c.file;
        EXPECT_EQ(r.status, c.code == "0" ? 0 : 1) << c.file;
    }
}

TEST_F(BrfpackTest, DecodeFailuresGiveOneLineReasons) {
    Write(P("src.txt"), Text(2000));
    ASSERT_EQ(Run("encode " + P("src.txt") + " " + P("good.pack")).status, 0);
    std::string damaged = ReadText(P("good.pack"));
    damaged[40] = static_cast<char>(damaged[40] ^ 0x20);
    Write(P("damaged.pack"), damaged);

    const struct {
        std::string args;
        std::string reason;
    } cases[] = {
        {"decode " + P("absent.pack") + " " + P("out"), "cannot open"},
        {"decode " + P("damaged.pack") + " " + P("out"), "damaged"},
        {"decode " + P("src.txt") + " " + P("out"), "not a patch container"},
        {"decode " + P("good.pack") + " " + P("no-dir") + "/out", "cannot write"},
    };
    for (const auto& c : cases) {
        const Result r = Run(c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << c.args << ": " << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
}

// The files in the scratch folder, by name.
std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name != "stdout.txt" && name != "stderr.txt") {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(BrfpackTest, AFailureLeavesTheDestinationAsItWas) {
    Write(P("src.txt"), Text(2000));
    ASSERT_EQ(Run("encode " + P("src.txt") + " " + P("good.pack")).status, 0);
    std::string damaged = ReadText(P("good.pack"));
    damaged[40] = static_cast<char>(damaged[40] ^ 0x20);
    Write(P("damaged.pack"), damaged);
    Write(P("out.txt"), "precious");
    const std::vector<std::string> before = Listing(dir_);

    for (const std::string source : {"damaged.pack", "src.txt", "absent.pack"}) {
        const Result r = Run("decode " + P(source) + " " + P("out.txt"));
        EXPECT_EQ(r.status, 1) << source;
        EXPECT_EQ(ReadText(P("out.txt")), "precious") << source;
        EXPECT_EQ(Listing(dir_), before) << source;  // no temporary file is left
    }
    // An encode that cannot write leaves no temporary file either.
    std::filesystem::create_directories(P("sub"));
    EXPECT_EQ(Run("encode " + P("src.txt") + " " + P("sub")).status, 1);
    EXPECT_TRUE(std::filesystem::is_directory(P("sub")));
    std::filesystem::remove(P("sub"));
    EXPECT_EQ(Listing(dir_), before);
}

TEST_F(BrfpackTest, SourceAndDestinationMayBeTheSameFile) {
    const std::string content = Text(30000);
    Write(P("a"), content);
    // encode A A: the container replaces its source; decode A A: the
    // content replaces its container.
    const Result enc = Run("encode " + P("a") + " " + P("a") + " --mtime 1500000000");
    ASSERT_EQ(enc.status, 0) << enc.err;
    EXPECT_EQ(CPack::Get()->CheckFile(P("a").c_str()), 0);
    const Result dec = Run("decode " + P("a") + " " + P("a"));
    ASSERT_EQ(dec.status, 0) << dec.err;
    EXPECT_EQ(ReadText(P("a")), content);
    EXPECT_EQ(ModificationTime(P("a")), 1500000000);
    EXPECT_EQ(Listing(dir_), std::vector<std::string>{"a"});
}

TEST_F(BrfpackTest, EncodeRefusesEmptyAndUnreadableSources) {
    Write(P("empty"), "");
    const Result empty = Run("encode " + P("empty") + " " + P("e.pack"));
    EXPECT_EQ(empty.status, 1);
    EXPECT_NE(empty.err.find("empty"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(P("e.pack")));

    const Result missing = Run("encode " + P("absent") + " " + P("m.pack"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot open"), std::string::npos);

    Write(P("src.txt"), "hello");
    const Result unwritable = Run("encode " + P("src.txt") + " " + P("no-dir") + "/x.pack");
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.err.find("cannot create"), std::string::npos);

    const Result info = Run("info " + P("absent"));
    EXPECT_EQ(info.status, 1);
    Write(P("tiny"), "abc");
    const Result tiny = Run("info " + P("tiny"));
    EXPECT_EQ(tiny.status, 1);
    EXPECT_NE(tiny.err.find("shorter than a container header"), std::string::npos);
}

}  // namespace

// Bundles as the publisher makes them: one file per earlier release holding
// what its clients fetch, in the order they fetch it, the delta where that
// release's own copy is its source; verify accepts them and finds a changed
// byte; --no-bundles makes none; a signed index covers them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "build_args.h"
#include "platform/run_command.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using brf_test::ReadFile;
using brf_test::WriteFile;
using Args = std::vector<std::string>;

std::string Chart(int edition) {
    std::string text;
    for (int i = 0; i < 20000; ++i) {
        text += "reef " + std::to_string(i * 7919 % 100003) +
                (i % 500 == 0 ? " edition " + std::to_string(edition) : "") + "\r\n";
    }
    return text;
}

// 1.040's sea chart differs from 1.050's in a few lines (its delta is kept);
// 1.030 has no chart and so no delta to take. All three clients differ.
struct Trees {
    brf_test::ScratchDir scratch;
    Trees() {
        for (const auto& [tree, edition] : {std::pair{"1040", 1}, std::pair{"1050", 2}}) {
            fs::create_directories(scratch.path() / tree / "data");
            WriteFile(scratch.path() / tree / "data" / "sea.map", Chart(edition));
        }
        for (const char* tree : {"1030", "1040", "1050"}) {
            fs::create_directories(scratch.path() / tree);
            WriteFile(scratch.path() / tree / "BRFClient.exe", std::string("client ") + tree);
        }
        WriteFile(scratch.path() / "servers.dat", "sea-1.brinefall.invalid 7777 Open Sea\r\n");
    }
    int Run(const Args& args) const {
        return plat::RunCommand(BRFPUBLISH_PATH, args, scratch.File("tool.out"),
                                scratch.File("tool.err"));
    }
    int Build(const fs::path& out, const Args& extra = {}) const {
        Args more = {"--from", scratch.File("1030"), "1030", "0"};
        more.insert(more.end(), extra.begin(), extra.end());
        return Run(brf_test::BuildArgs(scratch, out, more));
    }
};

TEST(BrfPublishBundle, EachSectionGetsTheFilesItsClientsFetchInOneBundle) {
    const Trees trees;
    const fs::path patch = trees.scratch.path() / "www/patch";
    ASSERT_EQ(trees.Build(patch.parent_path()), 0) << ReadFile(trees.scratch.File("tool.err"));
    std::string delta;
    for (const auto& served : fs::directory_iterator(patch)) {
        delta = served.path().extension() == ".dlt" ? served.path().filename().string() : delta;
    }
    ASSERT_FALSE(delta.empty());
    const std::string client = ReadFile(patch / "BRFClient.exe.upd");
    EXPECT_EQ(ReadFile(patch / "_bundle.1040.0.bdl"), ReadFile(patch / delta) + client);
    EXPECT_EQ(ReadFile(patch / "_bundle.1030.0.bdl"),
              ReadFile(patch / "data-sea.map.upd") + client);
    const std::string index = ReadFile(patch / "_versions.txt");
    EXPECT_NE(index.find(" 1030.0 _bundle.1030.0.bdl\r\n#bundle-member _bundle.1030.0.bdl 0 "),
              std::string::npos)
        << index;

    EXPECT_EQ(trees.Run({"verify", patch.string()}), 0) << ReadFile(trees.scratch.File("tool.out"));
    std::string bytes = ReadFile(patch / "_bundle.1040.0.bdl");
    bytes[bytes.size() / 2] ^= 0x20;
    WriteFile(patch / "_bundle.1040.0.bdl", bytes);
    EXPECT_EQ(trees.Run({"verify", patch.string()}), 1);
    EXPECT_NE(ReadFile(trees.scratch.File("tool.out"))
                  .find("_bundle.1040.0.bdl: the bytes of " + delta + " in it do not have"),
              std::string::npos);

    const fs::path plain = trees.scratch.path() / "plain/patch";
    ASSERT_EQ(trees.Build(plain.parent_path(), {"--no-bundles"}), 0);
    EXPECT_EQ(ReadFile(plain / "_versions.txt").find("#bundle"), std::string::npos);
    for (const auto& served : fs::directory_iterator(plain)) {
        EXPECT_NE(served.path().extension(), ".bdl") << served.path();
    }

    const std::string key = trees.scratch.File("test.key");
    fs::copy_file(std::string(BRF_TEST_KEY_DIR) + "/test.key", key);
    fs::permissions(key, fs::perms::owner_read | fs::perms::owner_write);
    const fs::path sealed = trees.scratch.path() / "signed/patch";
    ASSERT_EQ(trees.Build(sealed.parent_path(), {"--key", key}), 0);
    const std::string text = ReadFile(sealed / "_versions.txt");
    EXPECT_LT(text.find("#bundle "), text.find("#brf-signed-index"));
    EXPECT_NE(text.find(" patch/_bundle.1040.0.bdl\r\n"), std::string::npos) << text;
    EXPECT_EQ(trees.Run({"verify", "--public-key", std::string(BRF_TEST_KEY_DIR) + "/test.pub",
                         sealed.string()}),
              0)
        << ReadFile(trees.scratch.File("tool.out"));
}

}  // namespace

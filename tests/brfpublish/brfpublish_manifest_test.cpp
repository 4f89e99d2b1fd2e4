// The manifest as published: every file of 1.050 with its size and SHA-256 and
// a container that decodes to it, "0 -" for unchanged files with
// --no-repair-set, players' own files left out with --mutable, the repair
// containers signed, and verify finding one missing or of another size.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "build_args.h"
#include "index/manifest_lines.h"
#include "index/signed_index.h"
#include "pack/pack.h"
#include "platform/run_command.h"

namespace {

namespace fs = std::filesystem;
using brf_test::ReadFile;
using Paths = std::vector<std::string>;

TEST(BrfPublishManifest, ListsEveryFileWithTheContainerThatRepairsIt) {
    const brf_test::ScratchDir s;
    // The chart and the keys change; the rest (a blank in a name, an empty
    // file) does not; updater.exe is no game file.
    for (const char* path : {"data/sea.map", "save/keys.cfg", "data/port list.txt", "config.ini",
                             "BRFClient.exe", "data/empty.dat", "updater.exe"}) {
        for (const std::string tree : {"1040", "1050"}) {
            const std::string name = path;
            const bool changes = name == "data/sea.map" || name == "save/keys.cfg";
            fs::create_directories((s.path() / tree / path).parent_path());
            brf_test::WriteFile(s.path() / tree / path, name == "data/empty.dat" ? ""
                                                        : changes                ? tree + name
                                                                                 : name);
        }
    }
    brf_test::WriteFile(s.path() / "servers.dat", "sea-1.brinefall.invalid 7777 Sea\r\n");
    const std::string key = s.File("test.key");
    fs::copy_file(std::string(BRF_TEST_KEY_DIR) + "/test.key", key);
    fs::permissions(key, fs::perms::owner_read | fs::perms::owner_write);
    const auto run = [&](const Paths& args) {
        return plat::RunCommand(BRFPUBLISH_PATH, args, s.File("out"), s.File("err"));
    };
    const Paths all = {"BRFClient.exe",      "config.ini",   "data/empty.dat",
                       "data/port list.txt", "data/sea.map", "save/keys.cfg"};
    const struct {
        const char* out;
        Paths extra, listed, repaired;
    } cases[] = {
        {"signed",
         {"--key", key},
         all,
         {"BRFClient.exe", "config.ini", "data/port list.txt", "data/sea.map", "save/keys.cfg"}},
        {"changed", {"--no-repair-set"}, all, {"data/sea.map", "save/keys.cfg"}},
        {"mutable",
         {"--mutable", "CONFIG.ini", "--mutable", "save/**"},
         {"BRFClient.exe", "data/empty.dat", "data/port list.txt", "data/sea.map"},
         {"BRFClient.exe", "data/port list.txt", "data/sea.map"}},
    };
    for (const auto& row : cases) {
        const fs::path out = s.path() / row.out;
        ASSERT_EQ(run(brf_test::BuildArgs(s, out, row.extra)), 0) << ReadFile(s.File("err"));
        const std::string index = ReadFile(out / "patch/_versions.txt");
        const manifest_lines::Manifest manifest = manifest_lines::ReadManifestLines(index);
        EXPECT_TRUE(manifest.problems.empty()) << index;
        Paths listed, repaired;
        for (const auto& [path, file] : manifest.files) {
            listed.push_back(path);
            signed_index::ListedFile source;
            ASSERT_TRUE(signed_index::HashFile(s.File("1050/" + path), &source));
            EXPECT_EQ(std::tie(file.size, file.sha256), std::tie(source.size, source.sha256));
            std::string decoded;
            if (file.Repairable() &&
                CPack::Get()->DecodeBytes(ReadFile(out / "patch" / file.container), decoded) &&
                decoded == ReadFile(s.path() / "1050" / path) &&
                fs::file_size(out / "patch" / file.container) == file.containerSize &&
                (row.extra[0] != "--key" ||
                 index.find(" patch/" + file.container + "\r\n") != std::string::npos)) {
                repaired.push_back(path);
            }
        }
        EXPECT_EQ(listed, row.listed) << index;
        EXPECT_EQ(repaired, row.repaired) << index;
        EXPECT_EQ(fs::exists(out / "patch/config.ini.upd"), row.extra[0] == "--key");
        EXPECT_NE(index.find("\r\nsave-keys.cfg.upd\r\n"), std::string::npos);  // still sent
    }

    const fs::path patch = s.path() / "signed/patch";
    const size_t size = fs::file_size(patch / "BRFClient.exe.upd");
    fs::remove(patch / "data-port list.txt.upd");
    brf_test::WriteFile(patch / "BRFClient.exe.upd", ReadFile(patch / "BRFClient.exe.upd") + "x");
    EXPECT_EQ(run({"verify", patch.string()}), 1);
    const std::string found = ReadFile(s.File("out"));
    EXPECT_NE(found.find("list.txt.upd holds data/port list.txt for repairs but is missing"),
              std::string::npos)
        << found;
    EXPECT_NE(found.find("BRFClient.exe.upd is " + std::to_string(size + 1) +
                         " bytes, the manifest says " + std::to_string(size)),
              std::string::npos)
        << found;
}

}  // namespace

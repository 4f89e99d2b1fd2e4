// The install's parts on their own, without a run: decoding ahead on worker
// threads, the install record as it is written and read back, and the
// durable replace of a small file.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/patch_set.h"
#include "support/test_support.h"
#include "updater/session/u_decode_ahead.h"
#include "updater/session/u_install_record.h"
#include "updater/u_updater.h"

namespace {

namespace fs = std::filesystem;
using brf_test::ReadFile;
using brf_test::WriteFile;
using updater::DecodeAhead;

std::string Content(int seed) {
    std::string text;
    for (int i = 0; i < 20000; ++i) {
        text += std::to_string(i * seed % 9973) + (i % 7 == 0 ? "\r\n" : " ");
    }
    return text;
}

TEST(DecodeAhead, DecodesRetriesDiscardsAndRemovesWhatAKilledRunLeft) {
    brf_test::ScratchDir dir;
    const brf_test::ScopedCurrentDir here(dir.path());
    fs::create_directories("patch");
    fs::create_directories("data");
    for (int k = 0; k < 6; ++k) {
        WriteFile("patch/f" + std::to_string(k) + ".upd", brf_test::Container(Content(k + 3)));
    }
    WriteFile("patch/broken.upd", "not a container");
    const std::string list = "patch/_decoding.lst";
    {
        DecodeAhead ahead(list);
        for (int k = 0; k < 6; ++k) {
            ahead.Start("patch/f" + std::to_string(k) + ".upd", "data/f" + std::to_string(k));
        }
        ahead.Start("patch/broken.upd", "data/broken");
        // Each is waited for in any order and gives its file, beside the target.
        for (int k = 5; k >= 3; --k) {
            const std::string target = "data/f" + std::to_string(k);
            const DecodeAhead::Outcome done = ahead.Finish(target);
            EXPECT_TRUE(done.ok && done.onDisk) << target;
            EXPECT_EQ(ReadFile(DecodeAhead::TemporaryOf(target)), Content(k + 3)) << target;
        }
        EXPECT_FALSE(ahead.Finish("data/broken").ok);
        EXPECT_FALSE(fs::exists(DecodeAhead::TemporaryOf("data/broken")));
        // A failed decode is tried again once its container is whole.
        WriteFile("patch/broken.upd", brf_test::Container("mended"));
        ahead.Start("patch/broken.upd", "data/broken");
        EXPECT_TRUE(ahead.Finish("data/broken").ok);
        EXPECT_EQ(ReadFile(DecodeAhead::TemporaryOf("data/broken")), "mended");
        // Files waited for are the caller's; those never waited for go with
        // the run, and the list too.
        ahead.Discard();
        for (int k = 0; k < 6; ++k) {
            const std::string temporary = DecodeAhead::TemporaryOf("data/f" + std::to_string(k));
            EXPECT_EQ(fs::exists(temporary), k >= 3) << temporary;
        }
        EXPECT_FALSE(fs::exists(list));
        // Decodes still running when the run ends are stopped, not waited out.
        for (int k = 0; k < 6; ++k) {
            ahead.Start("patch/f" + std::to_string(k) + ".upd", "data/g" + std::to_string(k));
        }
    }
    for (int k = 0; k < 6; ++k) {
        EXPECT_FALSE(fs::exists(DecodeAhead::TemporaryOf("data/g" + std::to_string(k))));
    }

    // A killed run's list: only our temporary files below the game
    // directory are removed, whatever else it names.
    const brf_test::ScratchDir elsewhere;
    const std::string outside = elsewhere.File("outside.brf-part");
    WriteFile("data/left.brf-part", "half");
    WriteFile("data/keep.txt", "mine");
    WriteFile(outside, "not below");
    WriteFile(list, "data/left.brf-part\ndata/keep.txt\n../" +
                        fs::relative(outside, dir.path()).generic_string() + "\n" + outside + "\n");
    DecodeAhead(list).RemoveLeftovers();
    EXPECT_FALSE(fs::exists("data/left.brf-part"));
    EXPECT_TRUE(fs::exists("data/keep.txt"));
    EXPECT_TRUE(fs::exists(outside));
    EXPECT_FALSE(fs::exists(list));
}

TEST(InstallRecord, IsReadBackAsWrittenAndADamagedOneIsRefused) {
    updater::InstallRecord record;
    record.fromVersion = 1040;
    record.toVersion = 1050;
    record.toBuild = 2;
    const std::string hash(64, 'a');
    record.entries = {{"data-sea.map.upd", "data/sea.map", 812, hash, false},
                      {"data-my ship.dat.upd", "data/my ship.dat", 5, "", false},
                      {"data-chart.map.upd", "data/chart.map", 77, hash, true},
                      {"BRFClient.exe.upd", "BRFClient.exe", 1 + (uint64_t{1} << 40), "", false}};
    const std::string text = updater::FormatInstallRecord(record);
    // As the updater reads the file: lines without their CR LF.
    const auto lines = [](const std::string& t) {
        std::vector<std::string> split;
        for (size_t at = 0, end; (end = t.find("\r\n", at)) != std::string::npos; at = end + 2) {
            split.push_back(t.substr(at, end - at));
        }
        return split;
    };
    const auto back = updater::ParseInstallRecord(lines(text));
    ASSERT_TRUE(back) << back.reason();
    EXPECT_EQ(updater::FormatInstallRecord(*back), text);
    EXPECT_EQ(back->entries[1].container, "data-my ship.dat.upd");
    EXPECT_TRUE(back->entries[2].applied);
    EXPECT_EQ(back->entries[3].size, 1 + (uint64_t{1} << 40));

    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string t = text;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    const struct {
        const char* what;
        std::string text;
    } damaged[] = {
        {"cut off before its end", text.substr(0, text.rfind("end"))},
        {"cut inside an entry", replaced("target BRFClient.exe\r\n", "")},
        {"another version of the format", replaced("record 1", "record 2")},
        {"no versions", replaced("from 1040 0", "from 1040")},
        {"a size that is no number", replaced("container 812", "container 8x2")},
        {"a file from a delta without its hash", replaced("applied 77 " + hash, "applied 77 -")},
        {"a target outside its container's path", replaced("target data/sea.map", "target ../x")},
        {"a target of another file", replaced("target data/sea.map", "target BRFClient.exe")},
        {"no name", replaced(" data-sea.map.upd\r\n", "\r\n")},
    };
    for (const auto& row : damaged) {
        const auto read = updater::ParseInstallRecord(lines(row.text));
        ASSERT_FALSE(read) << row.what;
        EXPECT_NE(read.reason(), "") << row.what;
    }
}

TEST(ReplaceFileDurably, LeavesTheOldFileOrTheNewOneAndNoTemporaryFile) {
    brf_test::ScratchDir dir;
    const std::string file = dir.File("record.txt");
    const std::string folder = dir.path().string();
    EXPECT_TRUE(updater::ReplaceFileDurably(file, "first\r\n", folder.c_str()));
    EXPECT_TRUE(updater::ReplaceFileDurably(file, "second\r\n", folder.c_str()));
    EXPECT_EQ(ReadFile(file), "second\r\n");
    EXPECT_FALSE(fs::exists(file + ".part"));
    // A directory in the way of the new file: refused, the old one stays.
    fs::create_directory(file + ".part");
    const base::Result<> refused = updater::ReplaceFileDurably(file, "third\r\n", folder.c_str());
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.failure().path, file);
    EXPECT_TRUE(refused.failure().code);
    EXPECT_EQ(ReadFile(file), "second\r\n");
    // In a folder that does not exist: refused, nothing made.
    EXPECT_FALSE(updater::ReplaceFileDurably(dir.File("none/record.txt"), "x", folder.c_str()));
    EXPECT_FALSE(fs::exists(dir.File("none")));
}

}  // namespace

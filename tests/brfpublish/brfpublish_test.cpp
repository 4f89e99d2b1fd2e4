// The publisher as operators use it: brfpublish builds a server directory
// from release trees, nginx serves it, and the console updater brings a copy
// of every earlier release to the new one. Also what it refuses, that it
// leaves nothing behind, that it repeats itself byte for byte, and what
// verify finds in a damaged server directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/run_command.h"
#include "support/nginx_server.h"
#include "support/patch_set.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using brf_test::ReadFile;
using brf_test::WriteFile;
using Files = std::map<std::string, std::string>;  // game path -> bytes

const char kTime[] = "2004-09-18 21:05:33";
const char kServers[] = "sea-1.brinefall.invalid 7777 Open Sea\r\n";

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

ToolRun Publisher(const brf_test::ScratchDir& scratch, const std::vector<std::string>& args) {
    const std::string out = scratch.File("publish.out");
    const std::string err = scratch.File("publish.err");
    const int status = plat::RunCommand(BRFPUBLISH_PATH, args, out, err);
    return {status, ReadFile(out), ReadFile(err)};
}

std::string Binary(uint32_t seed, size_t size) {
    std::string bytes;
    for (uint32_t x = seed; bytes.size() < size;) {
        x = x * 1664525u + 1013904223u;
        bytes += static_cast<char>(x >> 24);
    }
    return bytes;
}

std::string Text(const std::string& stem, int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) {
        text += stem + " " + std::to_string(i) + ": salt, rope, tar and timber\r\n";
    }
    return text;
}

void WriteTree(const fs::path& root, const Files& files,
               const std::vector<std::string>& dirs = {}) {
    fs::create_directories(root);
    for (const std::string& dir : dirs) {
        fs::create_directories(root / dir);
    }
    for (const auto& [path, bytes] : files) {
        fs::create_directories((root / path).parent_path());
        WriteFile(root / path, bytes);
    }
}

// Four releases. 1.050 is published for the three before it: 1.020 lacks
// everything that changed, 1.030 (whose fleet list already is the new one)
// lacks the sails and the new maps directory, 1.040 only the fleet list;
// so 1.020's section holds the other two side by side. The empty directory
// "save" is new since 1.030. 1.030 already has the new client program.
struct Releases {
    Files r1020, r1030, r1040, r1050;
    Releases() {
        const Files common = {{"readme.txt", "Brinefall client\r\n"},
                              {"data/harbours.txt", Text("harbour", 300)}};
        r1020 = r1030 = r1040 = r1050 = common;
        r1020["data/ships/fleet.dat"] = Text("brig", 100);
        r1020["data/ships/sails.bin"] = Binary(1, 30000);
        r1020["old/removed.txt"] = "dropped in 1.030\r\n";
        r1020["BRFClient.exe"] = r1040["BRFClient.exe"] = "client 1.040\r\n";
        r1030["BRFClient.exe"] = r1050["BRFClient.exe"] = "client 1.050\r\n";
        r1030["data/ships/fleet.dat"] = Text("frigate", 250);
        r1030["data/ships/sails.bin"] = Binary(1, 30000);
        r1040["data/ships/fleet.dat"] = Text("sloop", 200);
        r1050["data/ships/fleet.dat"] = Text("frigate", 250);
        r1040["data/ships/sails.bin"] = r1050["data/ships/sails.bin"] = Binary(2, 40000);
        r1040["data/maps/north.map"] = r1050["data/maps/north.map"] =
            Text("reef", 500) + Binary(3, 20000);
        r1040["data/maps/deep/trench.bin"] = r1050["data/maps/deep/trench.bin"] = Binary(4, 5000);
    }
};

struct Published {
    brf_test::ScratchDir scratch;
    ToolRun run;
    Published(const Releases& r, const fs::path& out, std::vector<std::string> extra = {}) {
        WriteTree(scratch.path() / "1020", r.r1020);
        WriteTree(scratch.path() / "1030", r.r1030);
        WriteTree(scratch.path() / "1040", r.r1040, {"save"});
        WriteTree(scratch.path() / "1050", r.r1050, {"save"});
        WriteFile(scratch.path() / "servers.dat", kServers);
        run = Build(out, extra);
    }
    // Publishes the same trees (same bytes, same file times) again.
    ToolRun Build(const fs::path& out, const std::vector<std::string>& extra = {}) const {
        std::vector<std::string> args = {"build",     "--out",      out.string(),
                                         "--release", Tree("1050"), "1050",
                                         "0",         "--servers",  scratch.File("servers.dat"),
                                         "--time",    kTime,        "--mode",
                                         "greedy"};
        for (const char* version : {"1020", "1030", "1040"}) {
            args.insert(args.end(), {"--from", Tree(version), version, "0"});
        }
        args.insert(args.end(), extra.begin(), extra.end());
        return Publisher(scratch, args);
    }
    std::string Tree(const std::string& version) const { return scratch.File(version); }
};

std::vector<std::string> Listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        names.push_back(entry.path().lexically_relative(dir).generic_string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(BrfPublish, EveryEarlierReleaseUpdatesToTheNewOneThroughNginx) {
    const Releases releases;
    brf_test::NginxServer server({.accessLog = true});
    ASSERT_TRUE(server.Running()) << server.Error();
    const Published published(releases, server.Root() / "set1");
    ASSERT_EQ(published.run.status, 0) << published.run.err;

    const ToolRun verify =
        Publisher(published.scratch, {"verify", (server.Root() / "set1").string()});
    EXPECT_EQ(verify.status, 0) << verify.out;

    // Each changed file is packed once and listed once, however many
    // releases need it; the two disjoint sections sit inside 1.020's.
    // The index as updaters read it: without its comment and delta lines.
    std::string index;
    for (const std::string& line :
         brf_test::Lines(ReadFile(server.Root() / "set1/patch/_versions.txt"))) {
        index += line[0] == '#' ? "" : line + "\n";
    }
    for (const char* name : {"data-ships-fleet.dat.upd", "data-ships-sails.bin.upd",
                             "data-maps-north.map.upd", "data-maps-deep-trench.bin.upd"}) {
        EXPECT_NE(index.find(name), std::string::npos) << name << " missing:\n" << index;
        EXPECT_EQ(index.find(name), index.rfind(name)) << name << " listed twice:\n" << index;
    }
    EXPECT_NE(index.find("{10"), std::string::npos) << index;
    // The client's container ends the walks of 1.020 and 1.040: its entry
    // is the index's last.
    const size_t client = index.find("BRFClient.exe.upd\r\n");
    EXPECT_EQ(brf_test::Lines(index.substr(client)).size(), 2u) << index;
    EXPECT_EQ(index.find("old-removed.txt"), std::string::npos);
    EXPECT_EQ(index.find("readme.txt"), std::string::npos);

    const std::map<uint32_t, const Files*> earlier = {
        {1020, &releases.r1020}, {1030, &releases.r1030}, {1040, &releases.r1040}};
    for (const auto& [version, files] : earlier) {
        SCOPED_TRACE("client " + std::to_string(version));
        brf_test::ScratchDir root;
        brf_test::GameDir game(root.path());
        WriteTree(game.Dir(), *files);
        ASSERT_TRUE(game.Registry(1, version, 0));
        const brf_test::UpdaterRun run = brf_test::RunUpdater(
            BRFUPDATE_PATH, game.Dir(), {"--server", server.BaseUrl() + "set1/"}, root.path());
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        for (const auto& [path, bytes] : releases.r1050) {
            EXPECT_EQ(game.Read(path), bytes) << path;
        }
        EXPECT_TRUE(fs::is_directory(game.Dir() / "data/maps/deep"));
        // Files the new release dropped stay where they were.
        for (const auto& [path, bytes] : *files) {
            if (releases.r1050.count(path) == 0) {
                EXPECT_EQ(game.Read(path), bytes) << path;
            }
        }
    }

    // The published time stamp lets a client keep containers it already
    // received: a fresh 1.020 with 1.020's received files fetches nothing.
    brf_test::ScratchDir root;
    brf_test::GameDir game(root.path());
    WriteTree(game.Dir(), releases.r1020);
    for (const char* name :
         {"data-ships-fleet.dat.upd", "data-ships-sails.bin.upd", "data-maps-north.map.upd",
          "data-maps-deep-trench.bin.upd", "BRFClient.exe.upd"}) {
        fs::create_directories(game.Dir() / "patch");
        fs::copy_file(server.Root() / "set1/patch" / name, game.Dir() / "patch" / name);
    }
    ASSERT_TRUE(game.Registry(1, 1020, 0));
    const std::string before = server.AccessLog();
    const brf_test::UpdaterRun run = brf_test::RunUpdater(
        BRFUPDATE_PATH, game.Dir(), {"--server", server.BaseUrl() + "set1/", "--answer", "no"},
        root.path());
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(server.AccessLog().substr(before.size()).find(".upd"), std::string::npos)
        << server.AccessLog();
    for (const auto& [path, bytes] : releases.r1050) {
        EXPECT_EQ(game.Read(path), bytes) << path;
    }
}

TEST(BrfPublish, TheSameInputsGiveTheSameBytes) {
    const Releases releases;
    brf_test::ScratchDir out;
    const Published first(releases, out.path() / "a");
    ASSERT_EQ(first.run.status, 0) << first.run.err;
    const ToolRun second = first.Build(out.path() / "b");
    ASSERT_EQ(second.status, 0) << second.err;
    const std::vector<std::string> names = Listing(out.path() / "a");
    ASSERT_EQ(names, Listing(out.path() / "b"));
    EXPECT_GT(names.size(), 5u);
    for (const std::string& name : names) {
        if (fs::is_regular_file(out.path() / "a" / name)) {
            EXPECT_EQ(ReadFile(out.path() / "a" / name), ReadFile(out.path() / "b" / name)) << name;
        }
    }
}

struct Refusal {
    const char* name;
    std::function<void(Releases&)> change;
    const char* file;  // what the message names
};

TEST(BrfPublish, RefusesWhatTheIndexCannotCarryAndLeavesTheOldSetInPlace) {
    const std::vector<Refusal> refusals = {
        {"dash in a directory name", [](Releases& r) { r.r1050["data/sea-maps/a.map"] = "a"; },
         "sea-maps"},
        {"dash in a file name", [](Releases& r) { r.r1050["data/north-east.map"] = "a"; },
         "north-east.map"},
        {"comment character first", [](Releases& r) { r.r1050["#notes.txt"] = "a"; }, "#notes.txt"},
        {"section marker first", [](Releases& r) { r.r1050["[x].txt"] = "a"; }, "[x].txt"},
        {"backslash in a name", [](Releases& r) { r.r1050["data/a\\b.txt"] = "a"; }, "a\\b.txt"},
        {"non-ASCII name", [](Releases& r) { r.r1050["data/k\xc3\xbcste.map"] = "a"; },
         "k\xc3\xbcste.map"},
        {"names differing in case", [](Releases& r) { r.r1050["README.TXT"] = "a"; }, "README.TXT"},
        {"empty file to send", [](Releases& r) { r.r1050["data/empty.dat"] = ""; }, "empty.dat"},
        {"file where a directory was",
         [](Releases& r) {
             r.r1040["data/maps/deep"] = "a file";
             r.r1040.erase("data/maps/deep/trench.bin");
         },
         "deep"},
    };
    const Releases good;
    brf_test::ScratchDir out;
    const Published before(good, out.path() / "www");
    ASSERT_EQ(before.run.status, 0) << before.run.err;
    const std::string index = ReadFile(out.path() / "www/patch/_versions.txt");
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.name);
        Releases releases;
        refusal.change(releases);
        for (const fs::path& target : {out.path() / "www", out.path() / "fresh"}) {
            const Published published(releases, target);
            EXPECT_EQ(published.run.status, 1);
            EXPECT_NE(published.run.err.find(refusal.file), std::string::npos) << published.run.err;
        }
        EXPECT_EQ(ReadFile(out.path() / "www/patch/_versions.txt"), index);
        EXPECT_FALSE(fs::exists(out.path() / "fresh"));
        for (const std::string& name : Listing(out.path())) {
            EXPECT_EQ(name.find("brfpublish"), std::string::npos) << name << " left behind";
        }
    }
}

struct Damage {
    const char* name;
    std::function<void(const fs::path& patch)> plant;
    const char* problem;  // in verify's output
};

void Replace(const fs::path& file, const std::string& from, const std::string& to) {
    std::string text = ReadFile(file);
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    WriteFile(file, text);
}

TEST(BrfPublish, VerifyFindsEveryPlantedProblem) {
    const std::vector<Damage> damages = {
        {"wrong size",
         [](const fs::path& p) {
             std::string c = ReadFile(p / "data-ships-fleet.dat.upd");
             WriteFile(p / "data-ships-fleet.dat.upd", c + "x");
         },
         "the index says"},
        {"corrupt container",
         [](const fs::path& p) {
             std::string c = ReadFile(p / "data-maps-north.map.upd");
             c[c.size() / 2] ^= 0x55;
             WriteFile(p / "data-maps-north.map.upd", c);
         },
         "fails the container check (-4)"},
        {"missing container", [](const fs::path& p) { fs::remove(p / "data-ships-sails.bin.upd"); },
         "is listed but missing"},
        {"child directory before its parent",
         [](const fs::path& p) {
             Replace(p / "_versions.txt", "data-maps\r\n0\r\ndata-maps-deep\r\n0\r\n",
                     "data-maps-deep\r\n0\r\ndata-maps\r\n0\r\n");
         },
         "before its directory data/maps"},
        {"file listed twice",
         [](const fs::path& p) {
             Replace(p / "_versions.txt", "{10", "data-ships-fleet.dat.upd\r\n1;x\r\n{10");
         },
         "a second time"},
        {"entry cut off at the end",
         [](const fs::path& p) {
             WriteFile(p / "_versions.txt", ReadFile(p / "_versions.txt") + "readme.txt.upd\r\n");
         },
         "cut off"},
        {"minimum updater above the needed one",
         [](const fs::path& p) { Replace(p / "_versions.txt", "1490\r\n1490", "1490\r\n1491"); },
         "above the needed updater version"},
        {"newer updater without its container",
         [](const fs::path& p) { Replace(p / "_versions.txt", "1490\r\n1490", "1491\r\n1490"); },
         "updater.exe.upd, which is missing"},
        {"error page as server list",
         [](const fs::path& p) { WriteFile(p / "_servers.dat", "<HTML><BODY>404</BODY>\r\n"); },
         "\"HTML\""},
        {"unsafe name",
         [](const fs::path& p) { Replace(p / "_versions.txt", "{10", "..-x.upd\r\n1;x\r\n{10"); },
         "unsafe name"},
    };
    const Releases releases;
    brf_test::ScratchDir out;
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        const fs::path dir = out.path() / "www";
        fs::remove_all(dir);
        const Published published(releases, dir);
        ASSERT_EQ(published.run.status, 0) << published.run.err;
        ASSERT_EQ(Publisher(published.scratch, {"verify", dir.string()}).status, 0);
        damage.plant(dir / "patch");
        const ToolRun verify = Publisher(published.scratch, {"verify", dir.string()});
        EXPECT_EQ(verify.status, 1);
        EXPECT_NE(verify.out.find(damage.problem), std::string::npos) << verify.out;
    }
}

}  // namespace

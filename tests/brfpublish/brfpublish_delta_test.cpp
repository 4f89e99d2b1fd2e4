// Deltas from publisher to player: brfpublish makes them, nginx serves them,
// the console updater fetches a delta where the installed file is its source
// and falls back to the container on every kind of failure, always ending
// with the new release byte for byte. An updater that ignores deltas makes
// the same requests as against a publication without them; a signed index
// whose delta lines were altered is refused.
#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "build_args.h"
#include "platform/run_command.h"
#include "support/nginx_server.h"
#include "support/patch_set.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using brf_test::ReadFile;
using brf_test::WriteFile;
using Args = std::vector<std::string>;

std::string Chart(int edition, int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) {
        text += "reef " + std::to_string(i) + " at " + std::to_string(i * 7919 % 100003) +
                (i % 500 == 0 ? " edition " + std::to_string(edition) : "") + "\r\n";
    }
    return text;
}

// 1.040 and 1.050: the sea chart changed in a few lines (a delta is far
// smaller than its container), the client program is new.
struct Publication {
    brf_test::ScratchDir scratch;
    std::string oldChart = Chart(1, 20000);
    std::string newChart = Chart(2, 20000);

    Publication() {
        for (const auto& [tree, chart, client] :
             {std::tuple{"1040", &oldChart, "client 1.040\r\n"},
              std::tuple{"1050", &newChart, "client 1.050\r\n"}}) {
            fs::create_directories(scratch.path() / tree / "data");
            WriteFile(scratch.path() / tree / "data" / "sea.map", *chart);
            WriteFile(scratch.path() / tree / "BRFClient.exe", client);
        }
        WriteFile(scratch.path() / "servers.dat", "sea-1.brinefall.invalid 7777 Open Sea\r\n");
    }
    int Build(const fs::path& out, const Args& extra = {}) const {
        const Args args = brf_test::BuildArgs(scratch, out, extra);
        return plat::RunCommand(BRFPUBLISH_PATH, args, scratch.File("build.out"),
                                scratch.File("build.err"));
    }
};

struct Case {
    const char* name;
    const char* set;  // the publication below the server root
    std::function<void(const fs::path& patch, const brf_test::GameDir& game)> prepare;
    bool deltaFetched;
    bool containerFetched;
    const char* logged;  // in the updater's log file
    Args options = {};
    const char* program = BRFUPDATE_PATH;
};

// The files asked for, in name order: transfers ahead of their turn may
// reach the server in any order.
std::string Requests(const std::string& log) {
    std::vector<std::string> lines;
    for (const std::string& line : brf_test::Lines(log)) {
        const size_t get = line.find("\"GET ");
        lines.push_back(line.substr(get, line.find(' ', get + 5) - get) + "\n");
    }
    std::sort(lines.begin(), lines.end());
    std::string requests;
    for (const std::string& line : lines) {
        requests += line;
    }
    return requests;
}

TEST(BrfPublishDelta, DeltasAreFetchedWhereTheyFitAndEveryFailureFallsBackToTheContainer) {
    const Publication pub;
    brf_test::NginxServer server({.accessLog = true});
    ASSERT_TRUE(server.Running()) << server.Error();
    ASSERT_EQ(pub.Build(server.Root() / "deltas"), 0) << ReadFile(pub.scratch.File("build.err"));
    ASSERT_EQ(pub.Build(server.Root() / "whole", {"--no-deltas"}), 0);
    std::string key = pub.scratch.File("test.key");
    fs::copy_file(std::string(BRF_TEST_KEY_DIR) + "/test.key", key);
    fs::permissions(key, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(pub.Build(server.Root() / "signed", {"--key", key}), 0);
    const std::string index = ReadFile(server.Root() / "deltas/patch/_versions.txt");
    ASSERT_NE(index.find("#delta2 "), std::string::npos) << index;
    std::string delta;
    for (const auto& served : fs::directory_iterator(server.Root() / "deltas/patch")) {
        if (served.path().extension() == ".dl2") {
            delta = served.path().filename().string();
        }
    }
    ASSERT_FALSE(delta.empty());
    const auto flip = [&](const fs::path& file, size_t at) {
        std::string bytes = ReadFile(file);
        bytes[at] ^= 0x20;
        WriteFile(file, bytes);
    };

    const Case cases[] = {
        {"delta applied", "deltas", nullptr, true, false, "delta applied"},
        {"installed file changed by the player", "deltas",
         [](const fs::path&, const brf_test::GameDir& game) { game.Write("data/sea.map", "mine"); },
         false, true, "no delta for the installed"},
        {"corrupt delta", "deltas",
         [&](const fs::path& patch, const brf_test::GameDir&) {
             flip(patch / delta, ReadFile(patch / delta).size() / 2);
         },
         true, true, "not used, the delta arrived with other bytes"},
        {"missing delta", "deltas",
         [&](const fs::path& patch, const brf_test::GameDir&) { fs::remove(patch / delta); }, true,
         true, "not used, the server did not send it"},
        {"deltas ignored", "deltas", nullptr, false, true, "", {"--no-deltas"}},
        {"signed delta applied",
         "signed",
         nullptr,
         true,
         false,
         "delta applied",
         {},
         BRFUPDATE_SIGNED_PATH},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Each case gets its own copy of the publication to spoil.
        const fs::path set = server.Root() / ("run" + std::to_string(++number));
        fs::copy(server.Root() / c.set, set, fs::copy_options::recursive);
        brf_test::ScratchDir root;
        const brf_test::GameDir game(root.path());
        game.Config({"debug_loglevel=2"});
        ASSERT_TRUE(game.Registry(1, 1040, 0));
        game.Write("data/sea.map", pub.oldChart);
        game.Write("BRFClient.exe", "client 1.040\r\n");
        if (c.prepare) {
            c.prepare(set / "patch", game);
        }
        const size_t before = server.AccessLog().size();
        // File by file: the bundle would carry the delta as it was published.
        Args args = {"--server", server.BaseUrl() + set.filename().string() + "/", "--no-bundles"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const brf_test::UpdaterRun run =
            brf_test::RunUpdater(c.program, game.Dir(), args, root.path());
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_EQ(game.Read("data/sea.map"), pub.newChart);
        EXPECT_EQ(game.Read("BRFClient.exe"), "client 1.050\r\n");
        const std::string requests = Requests(server.AccessLog().substr(before));
        EXPECT_EQ(requests.find("data-sea.map.upd.") != std::string::npos, c.deltaFetched)
            << requests;
        EXPECT_EQ(requests.find("data-sea.map.upd\n") != std::string::npos, c.containerFetched)
            << requests;
        EXPECT_NE(ReadFile(game.Dir() / "_debugg.log").find(c.logged), std::string::npos);
        for (const std::string& file : game.Files()) {
            EXPECT_EQ(file.find(".applied"), std::string::npos) << file;
        }
        if (std::string(c.name) == "deltas ignored") {
            // The same requests as a run against the publication without deltas.
            const brf_test::ScratchDir other;
            const brf_test::GameDir plain(other.path());
            ASSERT_TRUE(plain.Registry(1, 1040, 0));
            plain.Write("data/sea.map", pub.oldChart);
            plain.Write("BRFClient.exe", "client 1.040\r\n");
            const size_t mark = server.AccessLog().size();
            brf_test::RunUpdater(BRFUPDATE_PATH, plain.Dir(),
                                 {"--server", server.BaseUrl() + "whole/", "--no-bundles"},
                                 other.path());
            std::string expected = Requests(server.AccessLog().substr(mark));
            for (size_t at = 0; (at = expected.find("/whole/", at)) != std::string::npos;) {
                expected.replace(at, 7, "/" + set.filename().string() + "/");
            }
            EXPECT_EQ(requests, expected);
        }
    }

    // A signed index whose delta line was altered is refused as a whole.
    const fs::path altered = server.Root() / "altered";
    fs::copy(server.Root() / "signed", altered, fs::copy_options::recursive);
    std::string text = ReadFile(altered / "patch/_versions.txt");
    const size_t line = text.find("#delta2 ");
    text[line + 11] = text[line + 11] == '1' ? '2' : '1';
    WriteFile(altered / "patch/_versions.txt", text);
    brf_test::ScratchDir root;
    const brf_test::GameDir game(root.path());
    ASSERT_TRUE(game.Registry(1, 1040, 0));
    game.Write("data/sea.map", pub.oldChart);
    const brf_test::UpdaterRun refused =
        brf_test::RunUpdater(BRFUPDATE_SIGNED_PATH, game.Dir(),
                             {"--server", server.BaseUrl() + "altered/"}, root.path());
    EXPECT_NE(refused.status, 0);
    EXPECT_EQ(game.Read("data/sea.map"), pub.oldChart);
}

}  // namespace

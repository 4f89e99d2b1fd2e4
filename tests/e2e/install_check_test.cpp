// The installed release against the manifest the index lists: every run
// repairs files that are missing or have another size, --verify lists what
// differs and changes nothing, --repair compares contents and repairs them,
// and files players change themselves (not in the manifest) are left alone.
// Real brfupdate processes against a real nginx.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/pe_builder.h"
#include "support/host_services.h"
#include "support/nginx_server.h"
#include "support/patch_set.h"
#include "support/test_support.h"

namespace {

using Files = std::map<std::string, std::string>;

// Release 1.050.0, installed, with its manifest on the server.
struct Installed {
    brf_test::NginxServer server;
    brf_test::ScratchDir scratch;
    brf_test::PatchSet set{server.Root()};
    brf_test::GameDir game{scratch.path()};
    Files release = {{"data/all.pak", brf_test::Noise(200000, 1)},
                     {"data/chart.map", brf_test::Noise(40000, 2)},
                     {"data/ships/fleet.dat", brf_test::Noise(30000, 3)},
                     {"readme.txt", "Brinefall 1.050\r\n"}};
    const std::string settings = "volume=7\r\n";

    Installed() {
        EXPECT_TRUE(server.Running()) << server.Error();
        std::vector<std::string> index = brf_test::IndexHeader(1490, 1490, 1050, 0, 1040, 0);
        index.insert(index.end(), {"[1040.0]", ""});
        for (const auto& [path, bytes] : release) {
            index.push_back(set.Manifest(path, bytes));
            game.Write(path, bytes);
        }
        set.ServerList("sea-1 7777\r\n");
        set.VersionIndex(index);
        game.Config({"debug_loglevel=2"});
        EXPECT_TRUE(game.Registry(1, 1050, 0));
        game.Write("save/settings.txt", settings);
        // Damage: one file gone, one cut short, one changed at its size,
        // and a file the player changes himself.
        std::filesystem::remove(game.Dir() / "data/all.pak");
        game.Write("data/ships/fleet.dat", release["data/ships/fleet.dat"].substr(0, 1000));
        game.Write("data/chart.map", brf_test::Noise(40000, 9));
    }

    brf_test::UpdaterRun Run(const std::vector<std::string>& extra) const {
        std::vector<std::string> args = {"--server", server.BaseUrl(), "--timeout", "20"};
        args.insert(args.end(), extra.begin(), extra.end());
        return brf_test::RunUpdater(BRFUPDATE_PATH, game.Dir(), args, scratch.path());
    }

    // Which of the release's files hold the release's bytes.
    std::vector<std::string> Intact() const {
        std::vector<std::string> intact;
        for (const auto& [path, bytes] : release) {
            if (game.Read(path) == bytes) {
                intact.push_back(path);
            }
        }
        return intact;
    }
};

bool Has(const brf_test::UpdaterRun& run, const std::string& line) {
    const std::vector<std::string> lines = run.OutLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

const char kRepairing[] = " files of the game are missing or damaged, they are repaired ...";
const char kRepaired[] =
    "The missing and damaged files are repaired, click button to start the game.";
const std::vector<std::string> kAll = {"data/all.pak", "data/chart.map", "data/ships/fleet.dat",
                                       "readme.txt"};

TEST(InstallCheck, RunsRepairWhatDiffersAndVerifyChangesNothing) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int status;
        std::vector<std::string> lines;
        std::vector<std::string> intact;
    };
    const Case cases[] = {
        {"an ordinary run compares sizes",
         {},
         0,
         {std::string("2") + kRepairing, kRepaired},
         {"data/all.pak", "data/ships/fleet.dat", "readme.txt"}},
        {"a verify lists and changes nothing",
         {"--verify"},
         3,
         {"Missing: data/all.pak", "Differs from the release: data/chart.map",
          "Differs from the release: data/ships/fleet.dat",
          "3 of 4 files differ from the release."},
         {"readme.txt"}},
        {"a repair compares contents",
         {"--repair"},
         0,
         {std::string("3") + kRepairing, kRepaired},
         kAll},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Installed w;
        const brf_test::UpdaterRun run = w.Run(c.args);
        SCOPED_TRACE("stdout:\n" + run.out + "\nstderr:\n" + run.err);
        EXPECT_EQ(run.status, c.status);
        for (const std::string& line : c.lines) {
            EXPECT_TRUE(Has(run, line)) << line;
        }
        EXPECT_EQ(w.Intact(), c.intact);
        EXPECT_EQ(w.game.Read("save/settings.txt"), w.settings);
        EXPECT_FALSE(w.game.Read("patch/_install.rec"));
        if (c.intact == kAll) {
            const brf_test::UpdaterRun verify = w.Run({"--verify"});
            EXPECT_EQ(verify.status, 0) << verify.out;
            EXPECT_TRUE(Has(verify, "All 4 files of the release are intact.")) << verify.out;
        }
    }
}

// An update whose section does not carry a file that went missing ends with
// the file repaired: once the install brings the client to the newest
// release (its program says so), the sizes are compared.
TEST(InstallCheck, AnUpdateAlsoRepairsWhatItsSectionDoesNotCarry) {
    Installed w;
    w.release["BRFClient.exe"] = brf_test::ClientProgram(1050);
    std::vector<std::string> index = brf_test::IndexHeader(1490, 1490, 1050, 0, 1040, 0);
    index.push_back("[1040.0]");
    for (const char* path : {"data/chart.map", "BRFClient.exe"}) {
        const std::vector<std::string> entry =
            w.set.Publish(brf_test::PatchName(path), w.release[path]);
        index.insert(index.end(), entry.begin(), entry.end());
    }
    index.push_back("");
    for (const auto& [path, bytes] : w.release) {
        index.push_back(w.set.Manifest(path, bytes));
    }
    w.set.VersionIndex(index);
    w.game.Write("BRFClient.exe", brf_test::ClientProgram(1040));
    ASSERT_TRUE(w.game.Registry(1, 1040, 0));

    const brf_test::UpdaterRun run = w.Run({});
    SCOPED_TRACE("stdout:\n" + run.out);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(Has(run, std::string("2") + kRepairing));
    EXPECT_EQ(w.Intact().size(), w.release.size());
}

#ifdef BRF_FAULT_SHIM
// A repair killed in its install leaves the record, and the next ordinary
// run completes it: the release byte for byte.
TEST(InstallCheck, ARepairKilledInItsInstallIsCompletedByTheNextRun) {
    for (int point = 1;; ++point) {
        SCOPED_TRACE("killed before change " + std::to_string(point));
        const Installed w;
        {
            brf_test::ScopedEnv preload("LD_PRELOAD", BRF_FAULT_SHIM);
            brf_test::ScopedEnv at("BRF_FAULT_KILL_AT", std::to_string(point));
            brf_test::ScopedEnv asan("ASAN_OPTIONS", "verify_asan_link_order=0");
            w.Run({"--repair"});
        }
        if (!w.game.Read("patch/_install.rec")) {
            ASSERT_LT(point, 100) << "the repair never reached its install";
            continue;
        }
        const brf_test::UpdaterRun next = w.Run({});
        EXPECT_EQ(next.status, 0) << next.out;
        EXPECT_EQ(w.Intact(), kAll);
        break;
    }
}
#endif

}  // namespace

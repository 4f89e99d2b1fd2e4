// Installs cut short: the console updater is killed at every point where it
// changes what lies on the disk, or runs out of room on a small drive, and
// the next ordinary run must end with the new release, byte for byte, and
// the old files in the backups. Real processes, a real nginx, a client
// program whose version resource says which release is installed.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/pe_builder.h"
#include "platform/run_command.h"
#include "support/nginx_server.h"
#include "support/patch_set.h"
#include "support/test_support.h"

namespace {

using brf_test::GameDir;
using Files = std::map<std::string, std::string>;

// Release 1.040.0 and 1.050.0 of a game. In name order the server lists the
// client program first, as older publishers did: only the updater puts it last.
// The chart changes in a few bytes and comes as a delta.
struct Releases {
    Files old = {{"BRFClient.exe", brf_test::ClientProgram(1040)},
                 {"data/all.pak", brf_test::Noise(300000, 1)},
                 {"data/chart.map", brf_test::Noise(60000, 4)},
                 {"readme.txt", "Brinefall 1.040\r\n"}};
    Files fresh = {{"BRFClient.exe", brf_test::ClientProgram(1050)},
                   {"data/all.pak", brf_test::Noise(300000, 2)},
                   {"data/chart.map", brf_test::Noise(60000, 4).replace(30000, 5, "1.050")},
                   {"data/maps/north.map", brf_test::Noise(30000, 3)},
                   {"readme.txt", "Brinefall 1.050\r\n"}};

    void Publish(const brf_test::PatchSet& set) const {
        std::vector<std::string> index = brf_test::IndexHeader(1490, 1490, 1050, 0, 1040, 0);
        index.insert(index.end(), {"[1040.0]", "data-maps", "0"});
        for (const auto& [path, bytes] : fresh) {
            const std::vector<std::string> entry = set.Publish(brf_test::PatchName(path), bytes);
            index.insert(index.end(), entry.begin(), entry.end());
        }
        index.push_back(set.Delta(brf_test::PatchName("data/chart.map"), old.at("data/chart.map"),
                                  fresh.at("data/chart.map")));
        set.ServerList("sea-1 7777\r\n");
        set.VersionIndex(index);
    }

    void Install(const GameDir& game) const {
        game.Config({"debug_loglevel=2"});
        ASSERT_TRUE(game.Registry(1, 1040, 0));
        for (const auto& [path, bytes] : old) {
            game.Write(path, bytes);
        }
    }

    // The new release in place, the old files in the backups, and no record
    // or temporary file left.
    void ExpectUpdated(const GameDir& game) const {
        for (const auto& [path, bytes] : fresh) {
            EXPECT_EQ(game.Read(path), bytes) << path;
        }
        for (const auto& [path, bytes] : old) {
            const std::string name = brf_test::PatchName(path);
            EXPECT_EQ(game.Read("patch/backup/" + name.substr(0, name.size() - 4)), bytes) << path;
        }
        for (const std::string& file : game.Files()) {
            EXPECT_TRUE(file.find(".brf-part") == std::string::npos &&
                        file.find(".applied") == std::string::npos &&
                        file != "patch/_install.rec" && file != "patch/_decoding.lst")
                << file;
        }
    }
};

brf_test::UpdaterRun Update(const GameDir& game, const brf_test::NginxServer& server,
                            const std::filesystem::path& output) {
    return brf_test::RunUpdater(BRFUPDATE_PATH, game.Dir(),
                                {"--server", server.BaseUrl(), "--timeout", "20"}, output);
}

const char kCompleting[] = "Completing the interrupted update ...";
const char kRefetching[] = "Files of the interrupted update are missing, they are loaded again.";

TEST(InstallRecovery, AKillAtAnyPointIsCompletedByTheNextRun) {
    brf_test::NginxServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    const Releases releases;
    releases.Publish(brf_test::PatchSet(server.Root()));

    // Under the sanitizers, which make every run slow, every third point.
#ifdef BRF_SANITIZED
    constexpr int kStride = 3;
#else
    constexpr int kStride = 1;
#endif
    int completed = 0;
    for (int point = 1;; point += kStride) {
        SCOPED_TRACE("killed before change " + std::to_string(point));
        brf_test::ScratchDir scratch;
        const GameDir game(scratch.path());
        releases.Install(game);
        const std::string mark = scratch.File("killed");
        brf_test::UpdaterRun first;
        {
            brf_test::ScopedEnv preload("LD_PRELOAD", BRF_FAULT_SHIM);
            brf_test::ScopedEnv at("BRF_FAULT_KILL_AT", std::to_string(point));
            brf_test::ScopedEnv marked("BRF_FAULT_MARK", mark);
            brf_test::ScopedEnv asan("ASAN_OPTIONS", "verify_asan_link_order=0");
            first = Update(game, server, scratch.path());
        }
        if (!std::filesystem::exists(mark)) {
            // Past the last change: the run was not killed at all.
            EXPECT_EQ(first.status, 0) << first.out;
            releases.ExpectUpdated(game);
            break;
        }
        // Every other install cut short also loses a container: the next
        // run fetches it again, and keeps the backups of the old files.
        const bool inside = std::filesystem::exists(game.Dir() / "patch/_install.rec");
        const bool lost = inside && completed % 2 == 1;
        if (lost) {
            std::filesystem::remove(game.Dir() / "patch/data-all.pak.upd");
        }
        const brf_test::UpdaterRun next = Update(game, server, scratch.path());
        SCOPED_TRACE("next run:\n" + next.out + next.err);
        EXPECT_EQ(next.status, 0);
        releases.ExpectUpdated(game);
        EXPECT_EQ(next.out.find(kCompleting) != std::string::npos, inside);
        EXPECT_EQ(next.out.find(kRefetching) != std::string::npos, lost);
        completed += inside;
        ASSERT_LT(point, 200) << "the run never got past its changes";
    }
    // Kills inside the install, not only before it, were completed.
    EXPECT_GE(completed * kStride, 6);
}

// A small tmpfs as the game directory: the drive fills up for real.
bool Mount(const std::filesystem::path& dir, const std::string& options) {
    return plat::RunCommand("/bin/mount", {"-t", "tmpfs", "-o", options, "tmpfs", dir.string()}, "",
                            "") == 0;
}

TEST(InstallRecovery, AFullDriveFetchesNothingOrEndsSafelyAndTheNextRunCompletes) {
    brf_test::NginxServer server({.accessLog = true});
    ASSERT_TRUE(server.Running()) << server.Error();
    brf_test::ScratchDir scratch;
    const GameDir game(scratch.path());
    if (!Mount(game.Dir(), "size=8m")) {
        GTEST_SKIP() << "no tmpfs can be mounted here (not root?)";
    }
    const std::shared_ptr<void> unmount(
        nullptr, [&](void*) { plat::RunCommand("/bin/umount", {game.Dir().string()}, "", ""); });
    const auto resize = [&](uint64_t room) {
        const auto space = std::filesystem::space(game.Dir());
        const uint64_t size = space.capacity - space.available + room;
        return Mount(game.Dir(), "remount,size=" + std::to_string(size / 1024) + "k");
    };
    Releases releases;
    // A file that packs to almost nothing and fills the drive when decoded.
    releases.fresh["data/sea.raw"] = std::string(3 << 20, '\0');
    releases.Publish(brf_test::PatchSet(server.Root()));
    releases.Install(game);
    uint64_t containers = 0;
    for (const auto& entry : std::filesystem::directory_iterator(server.Root() / "patch")) {
        containers += entry.file_size();
    }
    const std::string log = (game.Dir() / "_debugg.log").string();

    // Too small for the containers: nothing is fetched.
    ASSERT_TRUE(resize(64 << 10));
    const brf_test::UpdaterRun refused = Update(game, server, scratch.path());
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.OutLines().back().rfind("The game drive is full: ", 0), 0u) << refused.out;
    EXPECT_EQ(server.AccessLog().find(".upd"), std::string::npos);

    // Room for the containers and the backups, not for the decoded files:
    // the install stops at the file that does not fit and says why.
    ASSERT_TRUE(resize(3 * containers + (256 << 10)));
    const brf_test::UpdaterRun full = Update(game, server, scratch.path());
    EXPECT_EQ(full.status, 1);
    const std::vector<std::string> lines = full.OutLines();
    ASSERT_GE(lines.size(), 3u) << full.out;
    EXPECT_EQ(lines[lines.size() - 3], "While downloading the files an error occured.");
    EXPECT_EQ(lines[lines.size() - 2], "Please try again.");
    EXPECT_EQ(lines.back().rfind("The game drive is full: ", 0), 0u) << full.out;
    EXPECT_NE(brf_test::ReadFile(log).find("No space left on device"), std::string::npos);
    EXPECT_EQ(game.Read("BRFClient.exe"), releases.old.at("BRFClient.exe"));

    // With room again, the next ordinary run completes the install.
    ASSERT_TRUE(resize(64 << 20));
    const brf_test::UpdaterRun next = Update(game, server, scratch.path());
    EXPECT_EQ(next.status, 0) << next.out << next.err;
    EXPECT_NE(next.out.find(kCompleting), std::string::npos) << next.out;
    releases.ExpectUpdated(game);
}

}  // namespace

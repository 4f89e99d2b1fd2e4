// The updater replacing itself with real processes: the installed
// "updater.exe" fetches and decodes its successor, starts it as
// "updater.tmp.exe", which puts itself in place and starts the new
// "updater.exe", which cleans up and runs the update.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/nginx_server.h"
#include "support/patch_set.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

const std::string kNow = std::to_string(UPDATER_NOW);
const std::string kNext = std::to_string(UPDATER_NEXT);

// A game at client 1.050.0 with the current updater installed as
// "updater.exe", and a server whose index names the next updater version.
struct Installation {
    brf_test::NginxServer server;
    brf_test::ScratchDir scratch;
    brf_test::PatchSet set{server.Root() / "set1"};
    brf_test::GameDir game{scratch.path()};
    std::string url = server.BaseUrl() + "set1/";
    fs::path dir = game.Dir();

    explicit Installation(const std::string& updaterContainer) {
        EXPECT_TRUE(game.Registry(1, 1050, 0));
        set.ServerList("sea-1 7777\r\n");
        Lines index = brf_test::IndexHeader(UPDATER_NEXT, 1480, 1050, 0, 1040, 0);
        index.push_back("");
        set.VersionIndex(index);
        set.Raw("updater.exe.upd", updaterContainer);
        fs::copy_file(BRFUPDATE_PATH, dir / "updater.exe");
        // The stages after the first start without arguments: they find the
        // server where the window keeps it.
        game.Write("save/updateservers.sav", url + "\r\n");
    }

    std::string Log() const { return game.Read("_debugg.log").value_or(""); }

    brf_test::UpdaterRun Run(const std::string& program, const Lines& args) const {
        return brf_test::RunUpdater((dir / program).string(), dir, args, scratch.path());
    }
};

// The positions of `needles` in `text`, in order; npos for one not found
// after the previous one.
bool InOrder(const std::string& text, const Lines& needles) {
    size_t at = 0;
    for (const std::string& needle : needles) {
        at = text.find(needle, at);
        if (at == std::string::npos) {
            ADD_FAILURE() << "missing, or out of order: " << needle;
            return false;
        }
        at += needle.size();
    }
    return true;
}

TEST(SelfUpdate, ThreeStagesPutTheNewUpdaterInPlaceAndItUpdates) {
    const std::string next = brf_test::ReadFile(BRFUPDATE_NEXT_PATH);
    Installation inst(brf_test::Container(next));

    const brf_test::UpdaterRun first = inst.Run("updater.exe", {"--server", inst.url});
    EXPECT_EQ(first.status, 1);  // the first stage ends by the termination request
    // (The later stages write into the same output as they run.)
    EXPECT_NE(first.out.find("Downloading a new version of the updater..."), std::string::npos);

    // The third stage has run its update once the client was found current.
    ASSERT_TRUE(brf_test::WaitFor(
        [&] { return inst.Log().find("local client is up to date") != std::string::npos; },
        {.boundMs = 60000}))
        << inst.Log();
    ASSERT_TRUE(brf_test::WaitFor([&] {
        return !fs::exists(inst.dir / "updater.tmp.exe") &&
               !fs::exists(inst.dir / "updater.exe.upd");
    }));
    EXPECT_TRUE(brf_test::ReadFile(inst.dir / "updater.exe") == next);
    EXPECT_FALSE(fs::exists(inst.dir / "updater.exe.new"));
    InOrder(inst.Log(), {"starting updater version " + kNow,
                         "local updater is old: " + kNow + ", needed version is: " + kNext,
                         "received file: updater.exe.upd", "run the temp file: ", "updater.tmp.exe",
                         "starting updater version " + kNext,
                         "run as temp file: ", "execute new process: ", "updater.exe",
                         "starting updater version " + kNext, "local client is up to date"});
}

TEST(SelfUpdate, ABrokenContainerStartsNothingAndLeavesTheRunUsable) {
    std::string broken = brf_test::Container("not much of an updater");
    broken.back() = static_cast<char>(broken.back() ^ 0x55);
    Installation inst(broken);

    const brf_test::UpdaterRun run = inst.Run("updater.exe", {"--server", inst.url});

    EXPECT_EQ(run.status, 1);
    const Lines lines = run.OutLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(Lines(lines.end() - 3, lines.end()),
              (Lines{"Downloading a new version of the updater...",
                     "While downloading the files an error occured.", "Please try again."}));
    // The one box, its line ended as the platform's text streams end lines.
    const std::string box =
        "[Error!] While downloading the files an error occured.Please try again.";
    EXPECT_TRUE(run.err == box + "\n" || run.err == box + "\r\n") << run.err;
    EXPECT_EQ(inst.Log().find("run as temp file"), std::string::npos);
    EXPECT_TRUE(brf_test::ReadFile(inst.dir / "updater.exe") == brf_test::ReadFile(BRFUPDATE_PATH));
}

TEST(SelfUpdate, ASecondStageThatCannotReplaceTheUpdaterKeepsTheOldOneAndSaysSo) {
    Installation inst(brf_test::Container("unused"));
    fs::copy_file(BRFUPDATE_NEXT_PATH, inst.dir / "updater.tmp.exe");
    // "updater.exe" cannot be replaced: a directory with a file in it.
    fs::remove(inst.dir / "updater.exe");
    inst.game.Write("updater.exe/keep", "old updater");

    const brf_test::UpdaterRun run = inst.Run("updater.tmp.exe", {});

    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("[Attention!] A new version of the updater was downloaded."),
              std::string::npos);
    EXPECT_NE(run.err.find("[Error!] Couldn't copy the new updater version. Please try again."),
              std::string::npos);
    EXPECT_EQ(inst.game.Read("updater.exe/keep"), "old updater");
    EXPECT_FALSE(fs::exists(inst.dir / "updater.exe.new"));
    EXPECT_NE(inst.Log().find("** failed to copy myself to: updater.exe"), std::string::npos);
    EXPECT_EQ(inst.Log().find("execute new process"), std::string::npos);
}

}  // namespace

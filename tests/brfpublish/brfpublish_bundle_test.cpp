// Bundles as the publisher makes them: one file per earlier release holding
// what its clients fetch, in the order they fetch it, the delta where that
// release's own copy is its source; verify accepts them and finds a changed
// byte; --no-bundles makes none; a signed index covers them.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "build_args.h"
#include "platform/run_command.h"
#include "support/nginx_server.h"
#include "support/patch_set.h"
#include "support/tamper_proxy.h"
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
// 1.030 has no chart and so no delta to take. All three clients differ
// wholly (no delta is kept for them).
struct Trees {
    brf_test::ScratchDir scratch;
    Trees() {
        for (const auto& [tree, edition] : {std::pair{"1040", 1}, std::pair{"1050", 2}}) {
            fs::create_directories(scratch.path() / tree / "data");
            WriteFile(scratch.path() / tree / "data" / "sea.map", Chart(edition));
        }
        for (const char* tree : {"1030", "1040", "1050"}) {
            fs::create_directories(scratch.path() / tree);
            WriteFile(scratch.path() / tree / "BRFClient.exe",
                      brf_test::Noise(300, std::stoul(tree)));
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
        delta = served.path().extension() == ".dl2" ? served.path().filename().string() : delta;
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
    bytes[ReadFile(patch / delta).size() / 2] ^= 0x20;  // in the delta, the first member
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

// From publisher to player: 1.040 fetches its section from the bundle, with
// as few requests as its needs allow, and every problem with the bundle ends
// with the release byte for byte all the same.
namespace {

// Bytes that do not pack, so that containers keep their size.
// 1.040 to 1.050: the sea chart changes a little (a delta), three data files
// and the client change whole.
struct Release {
    brf_test::ScratchDir scratch;
    std::map<std::string, std::string> files;  // of 1.050
    Release() {
        const std::map<std::string, std::pair<std::string, std::string>> trees = {
            {"data/sea.map", {Chart(1), Chart(2)}},
            {"data/a.dat", {"old a", brf_test::Noise(150000, 1)}},
            {"data/b.dat", {"old b", brf_test::Noise(150000, 2)}},
            {"data/c.dat", {"old c", brf_test::Noise(150000, 3)}},
            {"BRFClient.exe", {brf_test::Noise(300, 4), brf_test::Noise(300, 5)}}};
        for (const auto& [name, versions] : trees) {
            fs::create_directories((scratch.path() / "1040" / name).parent_path());
            fs::create_directories((scratch.path() / "1050" / name).parent_path());
            WriteFile(scratch.path() / "1040" / name, versions.first);
            WriteFile(scratch.path() / "1050" / name, versions.second);
            files[name] = versions.second;
        }
        WriteFile(scratch.path() / "servers.dat", "sea-1.brinefall.invalid 7777 Open Sea\r\n");
    }
    int Build(const fs::path& out, const Args& extra = {}) const {
        return plat::RunCommand(BRFPUBLISH_PATH, brf_test::BuildArgs(scratch, out, extra),
                                scratch.File("build.out"), scratch.File("build.err"));
    }
    void Install(const brf_test::GameDir& game) const {
        ASSERT_TRUE(game.Registry(1, 1040, 0));
        for (const auto& served : fs::recursive_directory_iterator(scratch.path() / "1040")) {
            if (served.is_regular_file()) {
                game.Write(fs::relative(served.path(), scratch.path() / "1040").generic_string(),
                           ReadFile(served.path()));
            }
        }
    }
};

// The GETs nginx answered for `set`: "NAME STATUS BYTES", in order.
std::vector<std::string> Gets(const std::string& log, const std::string& set) {
    std::vector<std::string> gets;
    // Through the proxy the request names the whole address.
    const std::string prefix = "/" + set + "/patch/";
    for (const std::string& line : brf_test::Lines(log)) {
        const size_t at = line.find(prefix);
        if (at != std::string::npos && line.find("\"GET ") < at) {
            const size_t name = at + prefix.size();
            const size_t quote = line.find('"', name);
            std::string rest = line.substr(quote + 2);
            rest = rest.substr(0, rest.find(' ', rest.find(' ') + 1));
            gets.push_back(line.substr(name, line.find(' ', name) - name) + " " + rest);
        }
    }
    return gets;
}

std::vector<std::string> Matching(const std::vector<std::string>& gets, const std::string& part) {
    std::vector<std::string> found;
    std::copy_if(gets.begin(), gets.end(), std::back_inserter(found),
                 [&](const std::string& get) { return get.find(part) != std::string::npos; });
    return found;
}

// The members of `bundle` as its lines give them: name, offset.
std::vector<std::pair<std::string, size_t>> Members(const std::string& index,
                                                    const std::string& bundle) {
    std::vector<std::pair<std::string, size_t>> members;
    for (const std::string& line : brf_test::Lines(index)) {
        std::istringstream fields(line);
        std::string tag, of, offset, size, sha, name;
        if (fields >> tag >> of >> offset >> size >> sha >> name && tag == "#bundle-member" &&
            of == bundle) {
            members.emplace_back(name, std::stoul(offset));
        }
    }
    return members;
}

std::string Flipped(std::string bytes, size_t at) {
    bytes[at] ^= 0x20;
    return bytes;
}

TEST(BrfPublishBundle, PlayersFetchTheirSectionFromTheBundleAndEveryProblemFallsBack) {
    const Release release;
    brf_test::NginxServer server({.accessLog = true});
    ASSERT_TRUE(server.Running()) << server.Error();
    ASSERT_EQ(release.Build(server.Root() / "plain"), 0)
        << ReadFile(release.scratch.File("build.err"));
    const std::string key = release.scratch.File("test.key");
    fs::copy_file(std::string(BRF_TEST_KEY_DIR) + "/test.key", key);
    fs::permissions(key, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(release.Build(server.Root() / "signed", {"--key", key}), 0);
    const std::string bundle = "_bundle.1040.0.bdl";
    const std::string member = "data-b.dat.upd";  // in the middle of the bundle

    struct Case {
        const char* name;
        const char* set;
        // Spoils the served copy or the game directory before the run.
        std::function<void(const fs::path& patch, const brf_test::GameDir& game)> prepare;
        Args options;
        // The proxy between updater and server: cuts the bundle in half, or
        // drops the Range lines.
        bool cut, dropRange;
        // GETs of the bundle ("STATUS" each), and of files alone.
        Args bundleGets;
        size_t alone;
        const char* logged;
        int status = 0;
    };
    const auto keep = [&](const fs::path& patch, const brf_test::GameDir& game) {
        game.Write("patch/" + member, ReadFile(patch / member));
    };
    const auto members = [&](const fs::path& patch) {
        return Members(ReadFile(patch / "_versions.txt"), bundle);
    };
    const auto spoil = [&](const fs::path& patch, const brf_test::GameDir&) {
        for (const auto& [name, offset] : members(patch)) {
            if (name == member) {
                WriteFile(patch / bundle, Flipped(ReadFile(patch / bundle), offset + 9));
            }
        }
    };
    const Case cases[] = {
        {"whole bundle, one request", "plain", nullptr, {}, false, false, {"200"}, 0, "bundle"},
        {"kept copy, answered No",
         "plain",
         keep,
         {"--answer", "no"},
         false,
         false,
         {"200"},
         0,
         "file *NOT* downloaded again"},
        {"kept copy, answered Yes: fetched alone",
         "plain",
         keep,
         {"--answer", "yes"},
         false,
         false,
         {"200"},
         1,
         "user want to downloaded file again"},
        {"other bytes on the server",
         "plain",
         [&](const fs::path& patch, const brf_test::GameDir&) {
             const std::string bytes = ReadFile(patch / bundle);
             WriteFile(patch / bundle, std::string(bytes.rbegin(), bytes.rend()));
         },
         {},
         false,
         false,
         {"200"},
         5,
         "fetching the rest of its members one by one"},
        {"server without ranges",
         "plain",
         [&](const fs::path& patch, const brf_test::GameDir& game) {
             // The first member held whole already: the rest is a range.
             const std::string first = members(patch).front().first;
             game.Write("patch/" + first + ".part", ReadFile(patch / first));
         },
         {},
         false,
         true,
         {"200"},
         4,
         "200 to a range request"},
        {"cut in half, then continued",
         "plain",
         nullptr,
         {},
         true,
         false,
         {"200", "206"},
         0,
         "broke off in"},
        {"signed, one member with other bytes: fetched alone",
         "signed",
         spoil,
         {},
         false,
         false,
         {"200"},
         1,
         "came with other bytes than its line says"},
        {"signed, bundle line altered: index refused",
         "signed",
         [&](const fs::path& patch, const brf_test::GameDir&) {
             const std::string index = ReadFile(patch / "_versions.txt");
             WriteFile(patch / "_versions.txt", Flipped(index, index.find("#bundle ") + 9));
         },
         {},
         false,
         false,
         {},
         0,
         "",
         1},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string set = "run" + std::to_string(++number);
        fs::copy(server.Root() / c.set, server.Root() / set, fs::copy_options::recursive);
        brf_test::ScratchDir root;
        const brf_test::GameDir game(root.path());
        release.Install(game);
        if (c.prepare) {
            c.prepare(server.Root() / set / "patch", game);
        }
        bool cut = c.cut;
        brf_test::TamperProxy proxy(server.Port(), bundle, [&cut](const std::string& body) {
            return std::exchange(cut, false) ? body.substr(0, body.size() / 2) : body;
        });
        proxy.keepLength = true;
        proxy.dropRange = c.dropRange;
        Args config = {"debug_loglevel=1"};
        if (c.cut || c.dropRange) {
            config.push_back("updater_proxyserver=127.0.0.1");
            config.push_back("updater_proxyport=" + std::to_string(proxy.Port()));
        }
        game.Config(config);
        Args args = {"--server", server.BaseUrl() + set + "/"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const brf_test::UpdaterRun run = brf_test::RunUpdater(
            std::string(c.set) == "signed" ? BRFUPDATE_SIGNED_PATH : BRFUPDATE_PATH, game.Dir(),
            args, root.path());
        EXPECT_EQ(run.status, c.status) << run.out << run.err;

        const std::vector<std::string> gets = Gets(server.AccessLog(), set);
        Args statuses;
        for (const std::string& get : Matching(gets, bundle)) {
            statuses.push_back(get.substr(bundle.size() + 1, 3));
        }
        if (c.status != 0) {
            // The bundle was at most asked for ahead of the index, and
            // dropped unread.
            EXPECT_LE(statuses.size(), 1u) << testing::PrintToString(gets);
            EXPECT_EQ(game.Read("data/b.dat"), "old b");
            continue;
        }
        EXPECT_EQ(statuses, c.bundleGets) << testing::PrintToString(gets);
        // The server list and the index, the bundle, the files alone.
        EXPECT_EQ(gets.size(), 2 + c.bundleGets.size() + c.alone) << testing::PrintToString(gets);
        EXPECT_EQ(Matching(gets, member + " ").size(), c.alone > 0 ? 1u : 0u);
        for (const auto& [name, content] : release.files) {
            EXPECT_EQ(game.Read(name), content) << name;
        }
        EXPECT_NE(ReadFile(game.Dir() / "_debugg.log").find(c.logged), std::string::npos);
    }
}

// Kills every process whose command line holds `needle`.
void KillProcessesWith(const std::string& needle) {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename().string();
        if (std::all_of(pid.begin(), pid.end(), ::isdigit) &&
            brf_test::ReadFile(entry.path() / "cmdline").find(needle) != std::string::npos) {
            kill(std::stoi(pid), SIGKILL);
        }
    }
}

// A run killed while the bundle streams in leaves part files; the next run
// asks for the rest of the bundle with one range request, and the bytes of
// both runs add up to the release.
TEST(BrfPublishBundle, AKilledRunIsContinuedWithOneRangeRequest) {
    const Release release;
    brf_test::NginxServer server({.accessLog = true}, {.limitRate = "200k"});
    ASSERT_TRUE(server.Running()) << server.Error();
    ASSERT_EQ(release.Build(server.Root() / "slow"), 0);
    const std::string bundle = "_bundle.1040.0.bdl";
    const fs::path patch = server.Root() / "slow/patch";
    brf_test::ScratchDir root;
    const brf_test::GameDir game(root.path());
    release.Install(game);
    const Args args = {"--server", server.BaseUrl() + "slow/"};

    std::thread first([&] { brf_test::RunUpdater(BRFUPDATE_PATH, game.Dir(), args, root.path()); });
    const auto held = [&] {
        uintmax_t bytes = 0;
        std::error_code error;
        for (const auto& file : fs::directory_iterator(game.Dir() / "patch", error)) {
            bytes += file.path().filename().string()[0] != '_' && file.is_regular_file(error)
                         ? file.file_size(error)
                         : 0;
        }
        return bytes;
    };
    EXPECT_TRUE(brf_test::WaitFor([&] { return held() >= 120000; }));
    KillProcessesWith(server.BaseUrl() + "slow/");
    first.join();
    ASSERT_FALSE(game.Read("BRFClient.exe") == release.files.at("BRFClient.exe"));

    // The first byte of the bundle that the game directory does not hold.
    uint64_t from = 0;
    for (const auto& [name, offset] : Members(ReadFile(patch / "_versions.txt"), bundle)) {
        const uint64_t size = fs::file_size(patch / name);
        const auto whole = game.Read("patch/" + name);
        const auto part = game.Read("patch/" + name + ".part");
        from = offset + (whole ? size : part ? part->size() : 0);
        if (!whole && (!part || part->size() < size)) {
            break;
        }
    }
    // nginx logs the killed run's request once it notices the broken connection.
    EXPECT_TRUE(brf_test::WaitFor(
        [&] { return Matching(Gets(server.AccessLog(), "slow"), bundle).size() == 1; }));
    const size_t before = Gets(server.AccessLog(), "slow").size();
    const brf_test::UpdaterRun second =
        brf_test::RunUpdater(BRFUPDATE_PATH, game.Dir(), args, root.path());
    EXPECT_EQ(second.status, 0) << second.out << second.err;
    const std::vector<std::string> gets = Gets(server.AccessLog(), "slow");
    const std::vector<std::string> rest =
        Matching({gets.begin() + static_cast<ptrdiff_t>(before), gets.end()}, bundle);
    EXPECT_EQ(rest, Args{bundle + " 206 " + std::to_string(fs::file_size(patch / bundle) - from)})
        << testing::PrintToString(gets);
    for (const auto& [name, content] : release.files) {
        EXPECT_EQ(game.Read(name), content) << name;
    }
}

}  // namespace

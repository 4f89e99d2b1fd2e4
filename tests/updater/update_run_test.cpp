// Whole runs in one process against a local server: long runs keep every
// request at the top of the stack and fire each event once, and a cancel
// stops the run wherever it is pressed.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <thread>

#include <sodium.h>

#include "delta/delta_format.h"
#include "index/bundle_lines.h"
#include "index/manifest_lines.h"
#include "index/signed_index.h"
#include "pack/packer.h"
#include "shared/base/s_logging.h"
#include "test_http_server.h"
#include "updater/program_entry.h"
#include "updater_fixture.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using updater_test::GameDir;
using updater_test::T;

std::string Container(const std::string& content) {
    const std::vector<uint8_t> bytes = Packer().BuildContainer(
        reinterpret_cast<const uint8_t*>(content.data()), content.size(), 1000000000, 1000000000);
    return std::string(bytes.begin(), bytes.end());
}

std::string Sha256Of(const std::string& bytes);

std::string PathOf(const ServerConnection& c) {
    const size_t a = c.request.find(' ');
    return c.request.substr(a + 1, c.request.find(' ', a + 1) - a - 1);
}

// A server of static files below "/patch/"; every other path is a 404.
class PatchServer {
public:
    explicit PatchServer(bool concurrent = false)
        : server_(
              [this](ServerConnection& c) {
                  const auto file = files.find(PathOf(c));
                  if (file == files.end()) {
                      c.Send(TestHttpServer::Response("HTTP/1.0 404 Not Found", {}, "<html>"));
                  } else if (onRequest && !onRequest(c, file->second)) {
                      return;
                  } else {
                      c.Send(TestHttpServer::Response(
                          "HTTP/1.0 200 OK",
                          {"Content-Length: " + std::to_string(file->second.size())},
                          file->second));
                  }
              },
              concurrent) {}

    // A patch set for client 1.040.0 with `count` files named f<i>.upd,
    // each holding "file <i>" or, with `same`, all the same bytes; `first`,
    // when given, is what f0 holds.
    void Publish(int count, bool same = false, const std::string& first = "") {
        const std::string stamp = "2004-09-18 21:05:33";
        const std::string shared = Container("the same file");
        std::string index = "1490\n1480\n1060\n0\n1030\n0\n[1040.0]\n";
        for (int i = 0; i < count; ++i) {
            const std::string name = "f" + std::to_string(i) + ".upd";
            files["/patch/" + name] = same ? shared
                                      : i == 0 && !first.empty()
                                          ? Container(first)
                                          : Container("file " + std::to_string(i));
            index +=
                name + "\n" + std::to_string(files["/patch/" + name].size()) + ";" + stamp + "\n";
        }
        files["/patch/_servers.dat"] = "server list\r\n";
        files["/patch/_versions.txt"] = index;
    }
    // The files of the list, in list order, served in one bundle too.
    void PublishBundle(int count) {
        bundle_lines::Bundle bundle{0, "", {1040, 0}, "", {}};
        bundle.name = bundle_lines::BundleName(bundle.from);
        std::string bytes;
        for (int i = 0; i < count; ++i) {
            const std::string name = "f" + std::to_string(i) + ".upd";
            const std::string& file = files["/patch/" + name];
            bundle.members.push_back({bytes.size(), file.size(), Sha256Of(file), name});
            bytes += file;
        }
        bundle.size = bytes.size();
        bundle.sha256 = Sha256Of(bytes);
        files["/patch/" + bundle.name] = bytes;
        for (const std::string& line : bundle_lines::FormatBundleLines(bundle)) {
            files["/patch/_versions.txt"] += line + "\n";
        }
    }
    std::string Base() const { return server_.Url("/"); }
    // Leaves out the bundle asked for ahead, which a run that needs none
    // may drop before it went out.
    size_t Requests() const {
        const std::vector<std::string> paths = server_.Paths();
        return static_cast<size_t>(std::count_if(paths.begin(), paths.end(), [](const auto& path) {
            return path.rfind("/patch/_bundle.", 0) != 0;
        }));
    }
    std::vector<std::string> Paths() const { return server_.Paths(); }

    std::map<std::string, std::string> files;
    // Answers a request itself when it returns false.
    std::function<bool(ServerConnection&, const std::string& body)> onRequest;

private:
    TestHttpServer server_;
};

std::string Sha256Of(const std::string& bytes) {
    signed_index::Sha256 hasher;
    hasher.Update(bytes.data(), bytes.size());
    return hasher.HexDigest();
}

// f1 stalls after its body's first bytes until the client cuts the transfer.
bool StallAtF1(ServerConnection& c, const std::string& body) {
    if (PathOf(c) != "/patch/f1.upd") {
        return true;
    }
    c.Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size() + 100000) +
           "\r\n\r\n" + body);
    c.WaitForClose();
    return false;
}

// An updater that fetches each file at its turn, one request after another:
// the run whose events these tests follow one by one.
UpdaterConfig Sequential() {
    UpdaterConfig config = BuiltUpdaterConfig();
    config.connections = 0;
    return config;
}

// Presses the check button and handles messages until the run stops.
void RunCheck(GameDir& game, const std::string& base) {
    game.updater->box_host->UserEdit(base);
    game.updater->btn_check->Click();
    RunUntilStopped(game.updater->Session());
}

TEST(UpdateRun, TwoThousandFilesFireEachEventOnceAndNeverNest) {
    if (brf_test::host::UnderWine()) {
        GTEST_SKIP()
            << "the engine's logic, checked natively; Wine's file system is too slow for it";
    }
    PatchServer server;
    server.Publish(2000);
    GameDir game(Sequential());
    CLog::Get()->Open(0, -1, "_debugg.log", 0, 2000000);  // keep the log small
    THttpClient& http = *game.updater->Session().sock_http;
    int successes = 0, disconnects = 0, depth = 0, deepest = 0;
    const auto success = http.OnSuccess;
    http.OnSuccess = [&](CmdType cmd) {
        ++successes;
        deepest = std::max(deepest, ++depth);
        success(cmd);
        --depth;
    };
    http.OnDisconnect = [&](TSockTransport*) { ++disconnects; };

    RunCheck(game, server.Base());

    EXPECT_EQ(game.updater->State(), RunState::Ready);
    EXPECT_EQ(successes, 2002);
    EXPECT_EQ(deepest, 1);
    EXPECT_LE(disconnects, 2 * 2002);  // the close and the fresh socket, once per request
    EXPECT_EQ(server.Requests(), 2002u);
    EXPECT_EQ(brf_test::ReadFile("f1999"), "file 1999");
    EXPECT_EQ(game.Log().back(), T(219));
    EXPECT_TRUE(game.updater->btn_check->Enabled());
}

TEST(UpdateRun, TwentyThousandKeptFilesAreSkippedWithoutDeepening) {
    if (brf_test::host::UnderWine()) {
        GTEST_SKIP()
            << "the engine's logic, checked natively; Wine's file system is too slow for it";
    }
    PatchServer server;
    server.Publish(20000, true);
    GameDir game;
    CLog::Get()->Open(0, -1, "_debugg.log", 0, 2000000);
    // Valid copies, newer than listed: one file under every name (links
    // spare the file system 20,000 new files).
    brf_test::WriteFile("patch/f0.upd", server.files["/patch/f0.upd"]);
    for (int i = 1; i < 20000; ++i) {
        std::filesystem::create_hard_link("patch/f0.upd", "patch/f" + std::to_string(i) + ".upd");
    }
    game.toolkit.confirmAnswer = ui::Confirmation::No;
    // The installation stops at the first file (its target is a directory),
    // so the test pays for the skip chain and not for 20,000 installs.
    std::filesystem::create_directory("f0");

    RunCheck(game, server.Base());

    EXPECT_EQ(server.Requests(), 2u);              // the list and the index only
    EXPECT_EQ(game.toolkit.shown.size(), 20000u);  // every question, and no other box
    // The installation was reached, and says why it stopped.
    ASSERT_GE(game.Log().size(), 2u);
    EXPECT_EQ(game.Log()[game.Log().size() - 2], T(204));
    EXPECT_EQ(game.updater->State(), RunState::PatchDownload);
    EXPECT_TRUE(game.updater->btn_check->Enabled());
}

TEST(UpdateRun, CancelDuringATransferIsAcknowledgedAndTheButtonIsUsable) {
    PatchServer server;
    server.Publish(3);
    server.onRequest = StallAtF1;
    GameDir game(Sequential());
    TFUpdater& u = *game.updater;
    const auto packet = u.Session().sock_http->OnPacketRecvd;
    u.Session().sock_http->OnPacketRecvd = [&](TSockTransport* sender) {
        packet(sender);
        if (u.Session().actCount == 1) {
            u.btn_cancel->Click();
        }
    };

    RunCheck(game, server.Base());

    EXPECT_EQ(game.Log().back(), T(240));
    EXPECT_EQ(u.State(), RunState::Idle);
    EXPECT_TRUE(u.btn_check->Enabled());
    EXPECT_FALSE(u.form->Closed());
    EXPECT_EQ(server.Requests(), 4u);  // f2 is never asked for
}

// The first file is decoded on a worker while the second arrives; the
// cancel stops the decode and removes what it wrote.
TEST(UpdateRun, CancelWithADecodeInFlightLeavesTheGameAsItWasAndNoTemporaryFile) {
    // Bytes that do not pack: quick to make, slow to decode.
    std::string large(1 << 20, '\0');
    uint32_t seed = 1;
    for (char& byte : large) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<char>(seed >> 24);
    }
    PatchServer server;
    server.Publish(3, false, large);
    server.onRequest = [](ServerConnection& c, const std::string& body) {
        if (PathOf(c) != "/patch/f1.upd") {
            return true;
        }
        c.Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size() + 1) +
               "\r\n\r\n" + body);  // one byte short: the transfer stalls
        c.WaitForClose();
        return false;
    };
    GameDir game(Sequential());
    brf_test::WriteFile("f0", "the installed f0");
    TFUpdater& u = *game.updater;
    bool decoding = false;
    const auto packet = u.Session().sock_http->OnPacketRecvd;
    u.Session().sock_http->OnPacketRecvd = [&](TSockTransport* sender) {
        packet(sender);
        for (int wait = 0; u.Session().actCount == 1 && !decoding && wait < 1000; ++wait) {
            decoding = std::filesystem::exists("f0.brf-part");
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (u.Session().actCount == 1 && u.State() == RunState::PatchDownload) {
            u.btn_cancel->Click();
        }
    };

    RunCheck(game, server.Base());

    EXPECT_TRUE(decoding);
    EXPECT_EQ(game.Log().back(), T(240));
    EXPECT_EQ(brf_test::ReadFile("f0"), "the installed f0");
    std::vector<std::string> left;  // temporary files, the list of them, or files installed
    for (const auto& file : std::filesystem::recursive_directory_iterator(".")) {
        const std::string name = file.path().filename().string();
        if (name.ends_with(".brf-part") || name == "_decoding.lst" || name == "f1" ||
            name == "f2") {
            left.push_back(name);
        }
    }
    EXPECT_EQ(left, std::vector<std::string>{});
}

// A killed run's temporary files go with the next run; the list can name
// nothing else, whatever it holds.
TEST(UpdateRun, TheNextRunRemovesTheTemporaryFilesOfAKilledOneAndNothingElse) {
    PatchServer server;
    server.Publish(1);
    GameDir game;
    brf_test::ScratchDir outside;
    const std::string elsewhere = (outside.path() / "x.brf-part").string();
    const std::vector<std::string> kept = {"f0.txt", "data.brf-part.txt", elsewhere};
    const std::vector<std::string> removed = {"data/ships.dat.brf-part", "maps/north.brf-part"};
    std::string list;
    for (const auto& files : {kept, removed}) {
        for (const std::string& file : files) {
            brf_test::WriteFile(file, "left");
            list += file + "\n";
        }
    }
    brf_test::WriteFile("patch/_decoding.lst", list + "../f0.txt.brf-part\n");

    RunCheck(game, server.Base());

    EXPECT_EQ(game.updater->State(), RunState::Ready);
    for (const std::string& file : kept) {
        EXPECT_TRUE(std::filesystem::exists(file)) << file;
    }
    for (const std::string& file : removed) {
        EXPECT_FALSE(std::filesystem::exists(file)) << file;
    }
    EXPECT_FALSE(std::filesystem::exists("patch/_decoding.lst"));
}

TEST(UpdateRun, CancelBetweenTwoRequestsClosesTheWindowAndNothingMoreIsFetched) {
    PatchServer server;
    server.Publish(3);
    GameDir game(Sequential());
    TFUpdater& u = *game.updater;
    game.toolkit.OnLineAdded = [&](const std::string& line) {
        if (line == T(212) + "f1.upd") {
            u.btn_cancel->Click();  // no connection is open at this moment
        }
    };

    RunCheck(game, server.Base());

    EXPECT_TRUE(u.form->Closed());
    EXPECT_EQ(server.Requests(), 3u);  // list, index, f0
    EXPECT_FALSE(std::filesystem::exists("patch/_versions.txt"));
    EXPECT_EQ(brf_test::ReadFile("save/updateservers.sav"), server.Base() + "\r\n");
}

// Files fetched ahead on several connections reach the player in list
// order: the action log, the questions and the files are those of the run
// that fetches one file after another, and each file is asked for once.
TEST(UpdateRun, FetchingAheadShowsWhatTheSequentialRunShows) {
    if (brf_test::host::UnderWine()) {
        GTEST_SKIP() << "the engine's logic, checked natively";
    }
    PatchServer server;
    server.Publish(300);
    struct Seen {
        std::vector<std::string> log;
        size_t questions = 0;
        std::string last;
    };
    const auto run = [&server](UpdaterConfig config) {
        GameDir game(std::move(config));
        // A copy that looks like the listed one is asked about, and kept.
        brf_test::WriteFile("patch/f7.upd", server.files["/patch/f7.upd"]);
        game.toolkit.confirmAnswer = ui::Confirmation::No;
        const size_t before = server.Requests();
        RunCheck(game, server.Base());
        EXPECT_EQ(server.Requests() - before, 301u);  // list, index, every file but f7
        return Seen{game.Log(), game.toolkit.shown.size(), brf_test::ReadFile("f299")};
    };
    const Seen sequential = run(Sequential());
    const Seen ahead = run(BuiltUpdaterConfig());
    EXPECT_EQ(ahead.log, sequential.log);
    EXPECT_EQ(std::count(ahead.log.begin(), ahead.log.end(), T(215)), 1);
    EXPECT_EQ(ahead.questions, sequential.questions);
    EXPECT_EQ(ahead.last, "file 299");
}

// The index and the installed release's bundle go out beside the server
// list: the server answers the list only once both were asked for. The run
// shows what the sequential one shows, with no file asked for alone.
TEST(UpdateRun, TheIndexAndTheBundleAreAskedForBesideTheServerList) {
    PatchServer server(true);
    server.Publish(40);
    server.PublishBundle(40);
    const auto asked = [&server](const std::string& path) {
        const std::vector<std::string> paths = server.Paths();
        return std::find(paths.begin(), paths.end(), path) != paths.end();
    };
    std::atomic<bool> askedAhead{false};
    server.onRequest = [&](ServerConnection& c, const std::string&) {
        if (PathOf(c) == "/patch/_servers.dat") {
            askedAhead = brf_test::WaitFor([&] {
                return asked("/patch/_versions.txt") && asked("/patch/_bundle.1040.0.bdl");
            });
        }
        return true;
    };
    std::vector<std::string> log;
    {
        GameDir game;
        RunCheck(game, server.Base());
        log = game.Log();
        EXPECT_EQ(brf_test::ReadFile("f39"), "file 39");
    }
    EXPECT_TRUE(askedAhead);
    EXPECT_EQ(server.Paths().size(), 3u);
    server.onRequest = nullptr;
    GameDir sequential(Sequential());
    RunCheck(sequential, server.Base());
    EXPECT_EQ(log, sequential.Log());
}

// Presses Check, then Cancel once `waiting` says that the run waits for a
// worker: the cancel must end that work and be acknowledged as a cut
// request's is, with the window still open.
void CancelWhileWaiting(GameDir& game, const std::string& base,
                        const std::function<bool()>& waiting) {
    TFUpdater& u = *game.updater;
    u.box_host->UserEdit(base);
    u.btn_check->Click();
    while (!waiting()) {
        game.toolkit.ProcessMessages();
        game.toolkit.Loop().WaitMessage(10);
    }
    u.btn_cancel->Click();
    RunUntilStopped(u.Session());

    EXPECT_EQ(game.Log().back(), T(240));
    EXPECT_EQ(u.State(), RunState::Idle);
    EXPECT_TRUE(u.btn_check->Enabled());
    EXPECT_FALSE(u.form->Closed());
}

// While the run waits for a file fetched ahead, every transfer ends at once.
TEST(UpdateRun, CancelWhileWaitingForAFileFetchedAheadIsAcknowledged) {
    PatchServer server;
    server.Publish(3);
    server.onRequest = StallAtF1;
    // One connection ahead: the test server answers one connection after the
    // other, so f1's stall must not come before f0.
    UpdaterConfig config = BuiltUpdaterConfig();
    config.connections = 1;
    GameDir game(std::move(config));
    // The turn of f1 has begun and waits once its line is there and the
    // loop has nothing left to do.
    CancelWhileWaiting(game, server.Base(), [&game] {
        if (game.Log().back() != T(212) + "f1.upd") {
            return false;
        }
        for (int k = 0; k < 10; ++k) {
            game.toolkit.ProcessMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    });
    EXPECT_FALSE(std::filesystem::exists("f1"));
}

// Planning a delta hashes the installed file on a worker: with gigabytes to
// read the window still answers, and Cancel stops the reading.
TEST(UpdateRun, CancelWhileAnInstalledFileIsHashedIsAcknowledged) {
    if (brf_test::host::UnderWine()) {
        GTEST_SKIP() << "the engine's logic, checked natively";
    }
    PatchServer server;
    server.Publish(1);
    const std::string hash(64, 'a');
    server.files["/patch/_versions.txt"] +=
        "#delta 10 " + hash + " " + hash + " " + hash + " f0.upd." + hash.substr(0, 16) + ".dlt\n";
    GameDir game;
    brf_test::WriteFile("f0", "");
    std::filesystem::resize_file("f0", uintmax_t{4} << 30);  // sparse: nothing written
    CancelWhileWaiting(game, server.Base(), [] {
        return brf_test::ReadFile("_debugg.log").find("hashing 1 installed file") !=
               std::string::npos;
    });
    EXPECT_EQ(server.Requests(), 2u);  // the list and the index only
}

// Cancel while the install waits for a file another program holds gives
// up at once, as the end of the wait would: the game file stays the old one
// and the install record stays for the next run.
TEST(UpdateRun, CancelWhileWaitingForAHeldFileGivesUpAndKeepsTheRecord) {
#ifndef _WIN32
    GTEST_SKIP() << "only Windows keeps an open file from others; natively the console's "
                    "held-file test waits with a shim";
#else
    PatchServer server;
    server.Publish(1);
    GameDir game;
    brf_test::WriteFile("f0", "the installed f0");
    const HANDLE held =
        CreateFileA("f0", GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const std::string waiting = "Waiting for f0: another program has the file open ...";
    TFUpdater& u = *game.updater;
    u.box_host->UserEdit(server.Base());
    u.btn_check->Click();
    ASSERT_TRUE(
        brf_test::WaitFor([&] { return !game.Log().empty() && game.Log().back() == waiting; },
                          {.pause = [&](uint32_t ms) {
                              game.toolkit.ProcessMessages();
                              game.toolkit.Loop().WaitMessage(ms);
                          }}));
    // Let go right after the press: a wait that went on would now succeed.
    u.btn_cancel->Click();
    CloseHandle(held);
    RunUntilStopped(u.Session());

    EXPECT_EQ(game.Log().back(),
              "The updater may not change f0: the file is read-only or open in another program.");
    EXPECT_EQ(std::count(game.Log().begin(), game.Log().end(), waiting), 1);
    EXPECT_EQ(brf_test::ReadFile("f0"), "the installed f0");
    EXPECT_TRUE(std::filesystem::exists("patch/_install.rec"));
    EXPECT_TRUE(u.btn_check->Enabled());
    EXPECT_FALSE(u.form->Closed());
#endif
}

TEST(UpdateRun, AnErrorOfTheFirstRequestIsShownAndLeavesTheButtonUsable) {
    GameDir game;
    RunCheck(game, "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/");
    EXPECT_EQ(game.updater->State(), RunState::ServerList);
    EXPECT_EQ(game.Log().back(), T(243));
    ASSERT_EQ(game.toolkit.shown.size(), 1u);
    EXPECT_EQ(game.toolkit.shown[0].caption, "BRF-Updater");
    EXPECT_TRUE(game.updater->btn_check->Enabled());
}

// The window's run at the newest release puts back a game file that went
// missing, from the container the manifest names.
TEST(UpdateRun, AtTheNewestReleaseAMissingFileIsRepaired) {
    PatchServer server;
    server.Publish(1);
    const std::string content = "file 0";
    uint8_t digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const uint8_t*>(content.data()), content.size());
    server.files["/patch/_versions.txt"] +=
        manifest_lines::FormatManifestLine({content.size(), delta::ToHex(digest, sizeof digest),
                                            server.files["/patch/f0.upd"].size(), "f0.upd", "f0"}) +
        "\n";
    GameDir game(1060);
    RunCheck(game, server.Base());
    EXPECT_EQ(brf_test::ReadFile("f0"), content);
    EXPECT_EQ(game.updater->State(), RunState::Ready);
    const std::vector<std::string> log = game.Log();
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "A file of the game is missing or damaged, it is repaired ..."),
              log.end());
    EXPECT_EQ(log.back(),
              "The missing and damaged files are repaired, click button to start the game.");
}

}  // namespace

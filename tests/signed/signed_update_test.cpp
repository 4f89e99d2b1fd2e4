// Signed updates end to end: the console updater built with the tests'
// public key, and the one built without a key, run as processes against a
// real nginx. Every attack must fail, leave the game directory exactly as it
// was and name its reason in the log; an updater without a key must not
// notice that an index is signed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "index/signed_index.h"
#include "index/trust.h"
#include "support/host_services.h"
#include "support/nginx_server.h"
#include "support/patch_set.h"
#include "support/tamper_proxy.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using Snapshot = std::map<std::string, std::string>;

const std::string kSecretKey = BRF_TEST_SECRET_KEY;
const char kServerList[] = "sea-1.brinefall.invalid 7777 Open Sea\r\n";
const char kOldList[] = "old list\r\n";
const char kOldFleet[] = "brig Albatross, 12 guns\r\n";
const char kDownloadError[] = "While downloading the files an error occured.";
const char kTryAgain[] = "Please try again.";
const char kCorrupted[] = "File corrupted, trying again.";
const char kNoIndex[] = "Couldn't find version index.";
const char kVisit[] = "Please visit the BRF websites for more information.";
const char kNoList[] = "Actual game server list couldn't be found. ";
const char kMaintenance[] = "Possibly some work on the servers in still in progress.";

std::string NewFleet() {
    std::string text;
    for (int i = 0; i < 400; ++i) {
        text += "ship " + std::to_string(i) + ": frigate, " + std::to_string(i % 40) + " guns\r\n";
    }
    return text;
}

// A container with two different bytes near its end swapped: the byte sum,
// and so the container check, cannot tell it from the original.
std::string SameSumOtherBytes(std::string container) {
    for (size_t i = container.size() - 1; i > container.size() / 2; --i) {
        if (container[i] != container[i - 1]) {
            std::swap(container[i], container[i - 1]);
            return container;
        }
    }
    ADD_FAILURE() << "no two different bytes to swap";
    return container;
}

// The size and SHA-256 of every file of `patchDir` but the index and the
// root documents.
signed_index::Manifest FilesOf(const fs::path& patchDir) {
    signed_index::Manifest manifest;
    for (const auto& entry : fs::directory_iterator(patchDir)) {
        const std::string name = entry.path().filename().string();
        if (name != "_versions.txt" && name.rfind("_root.", 0) != 0) {
            EXPECT_TRUE(
                signed_index::HashFile(entry.path().string(), &manifest.files["patch/" + name]));
        }
    }
    return manifest;
}

// Appends signature lines over every file of `patchDir` to its index.
void SignPatchDir(const fs::path& patchDir, uint64_t serial, std::optional<int64_t> expires,
                  const std::string& secretKey) {
    signed_index::Manifest manifest = FilesOf(patchDir);
    manifest.serial = serial;
    manifest.expires = expires;
    const auto text =
        signed_index::Sign(brf_test::ReadFile(patchDir / "_versions.txt"), manifest, secretKey);
    ASSERT_TRUE(text) << text.reason();
    brf_test::WriteFile(patchDir / "_versions.txt", *text);
}

// A server publishing release 1.050 for clients of 1.040, and a game
// directory of 1.040 that has been updated from it before.
struct World {
    brf_test::NginxServer server{{.accessLog = true}};
    brf_test::ScratchDir scratch;
    brf_test::PatchSet set{server.Root() / "set1"};
    brf_test::GameDir game{scratch.path()};
    std::string url = server.BaseUrl() + "set1/";

    World() {
        EXPECT_TRUE(server.Running()) << server.Error();
        EXPECT_TRUE(game.Registry(1, 1040, 0));
        game.Config({"debug_loglevel=2"});
        Install();
        set.ServerList(kServerList);
    }
    // The game directory of 1.040, everything else removed.
    void Install() const {
        const std::string config = *game.Read("config.ini");
        fs::remove_all(game.Dir());
        fs::create_directories(game.Dir());
        game.Write("config.ini", config);
        game.Write("data/servers.dat", kOldList);
        game.Write("data/ships/fleet.dat", kOldFleet);
    }
    // The index; with `neededUpdater` above 1490 also the next updater.
    void Publish(int neededUpdater = 1490) const {
        Lines index = brf_test::IndexHeader(neededUpdater, 1490, 1050, 0, 1040, 0);
        index.push_back("[1040.0]");
        const Lines entry = set.Publish("data-ships-fleet.dat.upd", NewFleet());
        index.insert(index.end(), entry.begin(), entry.end());
        index.push_back("");
        set.VersionIndex(index);
        if (neededUpdater > 1490) {
            set.Raw("updater.exe.upd", brf_test::Container("the next updater program"));
        }
    }
    void Sign(uint64_t serial, std::optional<int64_t> expires = std::nullopt,
              const std::string& key = kSecretKey) const {
        SignPatchDir(set.Dir() / "patch", serial, expires, key);
    }
    // The game directory as a run that accepted index `serial` of this
    // server left it: the attacks on files after a genuine index then must
    // change nothing at all.
    void Accepted(uint64_t serial) const {
        game.Write("data/servers.dat", kServerList);
        game.Write("save/indexserial.sav", std::to_string(serial) + "\r\n");
    }
    brf_test::UpdaterRun Run(bool keyed, const Lines& extra = {}) const {
        Lines args = {"--server", url, "--timeout", "20"};
        args.insert(args.end(), extra.begin(), extra.end());
        return brf_test::RunUpdater(keyed ? BRFUPDATE_SIGNED_PATH : BRFUPDATE_PATH, game.Dir(),
                                    args, scratch.path());
    }
    std::string Log() const { return game.Read("_debugg.log").value_or(""); }
    std::string Served(const std::string& name) const {
        return brf_test::ReadFile(set.Dir() / "patch" / name);
    }
    // Sends the updater through a proxy that rewrites the answers to
    // requests for `requestPart`.
    void Proxy(const std::string& requestPart, brf_test::TamperProxy::Rewrite rewrite) {
        proxy = std::make_unique<brf_test::TamperProxy>(server.Port(), requestPart, rewrite);
        EXPECT_NE(proxy->Port(), 0);
        game.Config({"debug_loglevel=2", "[COMM]", "updater_proxyserver=127.0.0.1",
                     "updater_proxyport=" + std::to_string(proxy->Port())});
    }
    std::unique_ptr<brf_test::TamperProxy> proxy;
    // Every file of the game directory with its bytes, but for the two that
    // every run writes: the log and the saved server address.
    Snapshot Files() const {
        Snapshot files;
        for (const std::string& path : game.Files()) {
            if (path != "_debugg.log" && path != "save/updateservers.sav") {
                files[path] = *game.Read(path);
            }
        }
        return files;
    }
};

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

struct Attack {
    std::string name;
    // Tampers with a server that published the release signed with serial 1;
    // may publish again or run the updater first.
    std::function<void(World&)> tamper;
    Lines outTail;       // the last lines of the action log
    std::string reason;  // the log line that names it
    bool underWine = false;
};

void PrintTo(const Attack& a, std::ostream* os) {
    *os << a.name;
}

std::vector<Attack> Attacks() {
    const Lines downloadFailed = {kDownloadError, kTryAgain};
    const Lines indexFailed = {kNoIndex, kVisit};
    const std::string fleet = "data-ships-fleet.dat.upd";
    return {
        {"ContainerReplacedByOneWithValidByteSum",
         [fleet](World& w) {
             w.Accepted(1);
             w.set.Raw(fleet, brf_test::Container("ship 0: fireship, 0 guns\r\n"));
         },
         downloadFailed, "** patch/" + fleet + " has ", true},
        {"UpdaterContainerReplaced",
         [](World& w) {
             w.Publish(1491);
             w.Sign(1);
             w.Accepted(1);
             w.set.Raw("updater.exe.upd", SameSumOtherBytes(w.Served("updater.exe.upd")));
         },
         downloadFailed, "** updater.exe.upd does not have the SHA-256 of the signed index", true},
        {"IndexSignedWithAnotherKey",
         [](World& w) {
             std::string publicKey, otherKey;
             EXPECT_TRUE(signed_index::MakeKeyPair(&publicKey, &otherKey));
             w.Publish();
             w.Sign(1, std::nullopt, otherKey);
         },
         indexFailed, "** version index rejected: the signature does not match the public key",
         true},
        // A withheld index stops the run; the list that waited for it goes.
        {"IndexWithheld", [](World& w) { fs::remove(w.set.Dir() / "patch" / "_versions.txt"); },
         indexFailed, "** httpFailure at runState: 2"},
        {"UnsignedIndex", [](World& w) { w.Publish(); }, indexFailed,
         "** version index rejected: the index is not signed"},
        {"OlderIndexReplayedAfterNewerAccepted",
         [](World& w) {
             w.Publish();
             w.Sign(6);
             const std::string older = w.Served("_versions.txt");
             w.Publish();
             w.Sign(7);
             EXPECT_EQ(w.Run(true).status, 0);
             EXPECT_EQ(w.game.Read("save/indexserial.sav"), "7\r\n");
             // Back to the installation before that update, its serial kept.
             w.game.Write("data/ships/fleet.dat", kOldFleet);
             w.set.Raw("_versions.txt", older);
         },
         indexFailed, "** version index rejected: serial 6 is below 7, the last one accepted here",
         true},
        {"IndexExpiredMoreThanADayAgo",
         [](World& w) {
             w.Publish();
             w.Sign(1, signed_index::NowUtc() - 86400 - 3600);
         },
         {kNoIndex, kVisit,
          "The update server's list of releases has expired: please try again later."},
         "** version index rejected: it expired at "},
        {"ProxySwapsContainerBytesInFlight",
         [fleet](World& w) {
             w.Accepted(1);
             w.Proxy(fleet, SameSumOtherBytes);
         },
         downloadFailed, "** patch/" + fleet + " does not have the SHA-256 of the signed index",
         true},
        {"ProxyRewritesServerListInFlight",
         [](World& w) {
             w.Proxy("_servers.dat",
                     [](const std::string&) { return std::string("sea-1.trap.invalid 1 x\r\n"); });
         },
         {kNoList, kMaintenance},
         "** server list rejected: data/servers.dat.part has "},
    };
}

class SignedAttack : public testing::TestWithParam<Attack> {};

TEST_P(SignedAttack, FailsAndLeavesTheGameDirectoryAsItWas) {
    const Attack& a = GetParam();
    if (brf_test::host::UnderWine() && !a.underWine) {
        GTEST_SKIP() << "runs in the native lane only";
    }
    World w;
    w.Publish();
    w.Sign(1);
    a.tamper(w);
    const Snapshot before = w.Files();

    const brf_test::UpdaterRun run = w.Run(true);
    SCOPED_TRACE("stdout:\n" + run.out + "\nstderr:\n" + run.err + "\nlog:\n" + w.Log());
    EXPECT_EQ(run.status, 1);
    const Lines out = run.OutLines();
    ASSERT_GE(out.size(), a.outTail.size());
    EXPECT_EQ(Lines(out.end() - static_cast<long>(a.outTail.size()), out.end()), a.outTail);
    EXPECT_NE(w.Log().find(a.reason), std::string::npos) << a.reason;
    EXPECT_EQ(w.Files(), before);
    EXPECT_EQ(w.game.Read("data/ships/fleet.dat"), kOldFleet);
    if (a.outTail == Lines{kDownloadError, kTryAgain} &&
        a.name.find("Updater") == std::string::npos) {
        // A file that is not the published one is fetched again, a bounded
        // number of times, like a corrupt one.
        EXPECT_EQ(Count(run.out, kCorrupted), 4u);
    }
}

INSTANTIATE_TEST_SUITE_P(Attacks, SignedAttack, testing::ValuesIn(Attacks()),
                         [](const testing::TestParamInfo<Attack>& info) {
                             return info.param.name;
                         });

TEST(SignedUpdate, KeyedUpdaterInstallsASignedReleaseAndKeepsItsSerial) {
    World w;
    w.Publish();
    w.Sign(5, signed_index::NowUtc() - 3600);  // expired, but within the day of grace
    const brf_test::UpdaterRun run = w.Run(true);
    SCOPED_TRACE("stdout:\n" + run.out + "\nstderr:\n" + run.err + "\nlog:\n" + w.Log());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(w.game.Read("data/ships/fleet.dat"), NewFleet());
    EXPECT_EQ(w.game.Read("data/servers.dat"), kServerList);
    EXPECT_EQ(w.game.Read("save/indexserial.sav"), "5\r\n");
    EXPECT_EQ(Count(w.Log(), "version index authenticated, serial 5"), 1u);
    EXPECT_EQ(Count(w.Log(), "not authenticated"), 0u);

    // The same publication again: an equal serial is no replay.
    w.game.Write("data/ships/fleet.dat", kOldFleet);
    EXPECT_EQ(w.Run(true).status, 0);
    EXPECT_EQ(w.game.Read("data/ships/fleet.dat"), NewFleet());
}

// A copy planted in patch/ with the listed size, a valid byte sum and a
// recent time looks like one received before: a keyed updater fetches the
// published file instead, without asking; one without a key installs it.
TEST(SignedUpdate, PlantedCopyInPatchDirectoryIsFetchedAgain) {
    if (brf_test::host::UnderWine()) {
        GTEST_SKIP() << "runs in the native lane only";
    }
    for (const bool keyed : {true, false}) {
        World w;
        w.Publish();
        w.Sign(1);
        const std::string genuine = w.Served("data-ships-fleet.dat.upd");
        w.game.Write("patch/data-ships-fleet.dat.upd", SameSumOtherBytes(genuine));
        const brf_test::UpdaterRun run = w.Run(keyed, {"--answer", "no"});
        SCOPED_TRACE("stdout:\n" + run.out + "\nstderr:\n" + run.err);
        EXPECT_EQ(Count(run.err, "is already available"), keyed ? 0u : 1u);
        if (keyed) {
            EXPECT_EQ(run.status, 0);
            EXPECT_EQ(w.game.Read("data/ships/fleet.dat"), NewFleet());
            EXPECT_EQ(w.game.Read("patch/data-ships-fleet.dat.upd"), genuine);
        } else {
            EXPECT_NE(w.game.Read("data/ships/fleet.dat"), NewFleet());
        }
    }
}

// The log's messages without their sequence numbers and times; the size of
// the received index, which the signature lines make larger, is masked.
Lines LogMessages(const std::string& log) {
    static const std::regex prefix(R"(^-?\d+ : \d\d:\d\d:\d\d : )");
    static const std::regex received(R"(bytes received: \d+)");
    Lines messages;
    for (const std::string& line : brf_test::Lines(log)) {
        std::smatch match;
        if (!std::regex_search(line, match, prefix) ||
            line.find("logging started on") != std::string::npos) {
            continue;
        }
        std::string message = match.suffix();
        if (!messages.empty() && messages.back().find("_versions.txt") != std::string::npos) {
            message = std::regex_replace(message, received, "bytes received: (the index)");
        }
        messages.push_back(message);
    }
    return messages;
}

// In the order they were asked for, leaving out the bundle asked for ahead
// (a run that needs none may drop it before it went out).
Lines Requests(const std::string& accessLog) {
    static const std::regex request(R"re("GET [^"]*")re");
    Lines requests;
    for (auto it = std::sregex_iterator(accessLog.begin(), accessLog.end(), request);
         it != std::sregex_iterator(); ++it) {
        if (it->str().find("/_bundle.") == std::string::npos) {
            requests.push_back(it->str());
        }
    }
    return requests;
}

// An updater without a key updates from a signed server exactly as from an
// unsigned one: the same action log, boxes, log file and requests.
TEST(SignedUpdate, UpdaterWithoutKeyReadsSignedIndexAsUnsigned) {
    World w;
    w.Publish();
    const brf_test::UpdaterRun plain = w.Run(false);
    const std::string plainLog = w.Log();
    const std::string plainAccess = w.server.AccessLog();
    EXPECT_EQ(plain.status, 0) << plain.out << plain.err;

    // The same publication signed, and the same game directory again.
    w.Sign(3, signed_index::NowUtc() - 30 * 86400);  // long expired: no matter without a key
    ASSERT_NE(brf_test::ReadFile(w.set.Dir() / "patch" / "_versions.txt").find("#brf-signature"),
              std::string::npos);
    w.Install();
    const brf_test::UpdaterRun signedRun = w.Run(false);
    EXPECT_EQ(signedRun.status, 0);
    EXPECT_EQ(signedRun.out, plain.out);
    EXPECT_EQ(signedRun.err, plain.err);
    EXPECT_EQ(LogMessages(w.Log()), LogMessages(plainLog));
    EXPECT_EQ(Count(plainLog, "updates are not authenticated"), 1u);
    EXPECT_EQ(w.game.Read("data/ships/fleet.dat"), NewFleet());
    EXPECT_FALSE(w.game.Read("save/indexserial.sav"));
    if (!w.server.Shared()) {
        const std::string access = w.server.AccessLog();
        // In any order: the server list and the index go out at once.
        std::vector<std::string> plainRequests = Requests(plainAccess);
        std::vector<std::string> signedRequests = Requests(access.substr(plainAccess.size()));
        std::sort(plainRequests.begin(), plainRequests.end());
        std::sort(signedRequests.begin(), signedRequests.end());
        EXPECT_EQ(signedRequests, plainRequests);
        EXPECT_EQ(plainRequests.size(), 3u);
    }
}

// An updater built with the root key, served root 1 of that key and an
// index its index key signed three days ahead of the computer's clock:
// the failure report, then what the player can do about it.
TEST(SignedUpdate, AnIndexSignedAheadOfTheClockAsksThePlayerToSetIt) {
    World w;
    w.Publish();
    const int64_t now = signed_index::NowUtc();
    trust::Root root;
    root.version = 1;
    root.expires = now + 365 * 86400;
    root.rootKeys = {signed_index::PublicKeyOf(BRF_TEST_ROOT_SECRET)};
    root.indexKeys = {signed_index::PublicKeyOf(kSecretKey)};
    w.set.Raw("_root.1.txt", *trust::SignLines(trust::FormatRoot(root), {BRF_TEST_ROOT_SECRET}));
    trust::Listing listing;
    listing.manifest = FilesOf(w.set.Dir() / "patch");
    listing.manifest.serial = 1;
    listing.manifest.expires = now + 30 * 86400;
    listing.signedAt = now + 3 * 86400;
    listing.root = 1;
    w.set.Raw("_versions.txt",
              *trust::SignIndex(w.Served("_versions.txt"), listing, {kSecretKey}, ""));

    const brf_test::UpdaterRun run = brf_test::RunUpdater(BRFUPDATE_ROOT_PATH, w.game.Dir(),
                                                          {"--server", w.url}, w.scratch.path());
    SCOPED_TRACE("stdout:\n" + run.out + "\nlog:\n" + w.Log());
    EXPECT_EQ(run.status, 1);
    const auto day = [](int64_t t) { return signed_index::FormatUtc(t).substr(0, 10); };
    const Lines tail = {kNoIndex, kVisit,
                        "The computer's clock says " + day(now) +
                            ", but the update list was signed on " + day(listing.signedAt) +
                            ": please set the clock."};
    const Lines out = run.OutLines();
    ASSERT_GE(out.size(), tail.size());
    EXPECT_EQ(Lines(out.end() - 3, out.end()), tail);
    EXPECT_EQ(w.game.Read("data/ships/fleet.dat"), kOldFleet);
    // The root it walked to is genuine and kept; the serial is not.
    EXPECT_NE(
        w.game.Read("save/trust.sav").value_or("").find("serial=0\r\n#trust-root 1 version=1"),
        std::string::npos);
}

}  // namespace

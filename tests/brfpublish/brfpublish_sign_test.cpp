// brfpublish's signing as operators use it: keygen, build --key with its
// serials, verify --public-key on good and damaged directories, and a signed
// publication served by nginx to the console updater built with the key.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "build_args.h"
#include "index/signed_index.h"
#include "platform/run_command.h"
#include "support/nginx_server.h"
#include "support/patch_set.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using brf_test::ReadFile;
using brf_test::WriteFile;
using Args = std::vector<std::string>;

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

// Two releases, the operator's files and the test key pair (the one the
// keyed console updater was built with).
struct Operator {
    brf_test::ScratchDir scratch;
    std::string key = scratch.File("test.key");
    std::string pub = std::string(BRF_TEST_KEY_DIR) + "/test.pub";

    Operator() {
        // A checkout leaves the key readable by all; the operator's is private.
        fs::copy_file(std::string(BRF_TEST_KEY_DIR) + "/test.key", key);
        fs::permissions(key, fs::perms::owner_read | fs::perms::owner_write);
        fs::create_directories(scratch.path() / "1040" / "data");
        fs::create_directories(scratch.path() / "1050" / "data");
        WriteFile(scratch.path() / "1040" / "data" / "fleet.dat", "brig Albatross\r\n");
        WriteFile(scratch.path() / "1050" / "data" / "fleet.dat", "frigate Osprey\r\n");
        WriteFile(scratch.path() / "1050" / "readme.txt", "Brinefall 1.050\r\n");
        WriteFile(scratch.path() / "servers.dat", "sea-1.brinefall.invalid 7777 Open Sea\r\n");
    }
    ToolRun Run(const Args& args) const {
        const std::string out = scratch.File("tool.out");
        const std::string err = scratch.File("tool.err");
        const int status = plat::RunCommand(BRFPUBLISH_PATH, args, out, err);
        return {status, ReadFile(out), ReadFile(err)};
    }
    ToolRun Build(const fs::path& out, const Args& extra = {}) const {
        const Args args = brf_test::BuildArgs(scratch, out, extra);
        return Run(args);
    }
    std::string Index(const fs::path& out) const {
        return ReadFile(out / "patch" / "_versions.txt");
    }
};

TEST(BrfPublishSign, KeygenWritesAPrivateSecretKeyAndNeverOverwritesIt) {
    const Operator op;
    const std::string secret = op.scratch.File("update.key");
    const std::string pub = op.scratch.File("update.pub");
    const ToolRun made = op.Run({"keygen", "--secret", secret, "--public", pub});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(fs::status(secret).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(ReadFile(secret).size(), 129u);
    EXPECT_EQ(ReadFile(pub).size(), 65u);
    EXPECT_EQ(made.out, ReadFile(pub));
    // The secret key's second half is its public key.
    EXPECT_EQ(ReadFile(secret).substr(64), ReadFile(pub));

    const std::string before = ReadFile(secret);
    const ToolRun again = op.Run({"keygen", "--secret", secret, "--public", pub});
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("never overwritten"), std::string::npos) << again.err;
    EXPECT_EQ(ReadFile(secret), before);
    EXPECT_EQ(op.Run({"keygen", "--secret", secret}).status, 2);
}

TEST(BrfPublishSign, SerialGrowsWithEveryPublicationAndNeverGoesBack) {
    const Operator op;
    const fs::path out = op.scratch.path() / "www";
    ASSERT_EQ(op.Build(out, {"--key", op.key}).status, 0);
    // Every keyed publication expires, 30 days after it was signed unless told.
    const std::string thirtyDays =
        signed_index::FormatUtc(signed_index::NowUtc() + 30 * 86400).substr(0, 10);
    EXPECT_NE(op.Index(out).find("#brf-signed-index 1 serial=1 expires=" + thirtyDays),
              std::string::npos);
    ASSERT_EQ(op.Build(out, {"--key", op.key}).status, 0);
    EXPECT_NE(op.Index(out).find("serial=2 expires="), std::string::npos);

    // A serial not above the published one is refused and changes nothing.
    const std::string published = op.Index(out);
    const ToolRun same = op.Build(out, {"--key", op.key, "--serial", "2"});
    EXPECT_EQ(same.status, 2);
    EXPECT_NE(same.err.find("not above 2"), std::string::npos) << same.err;
    EXPECT_EQ(op.Index(out), published);

    ASSERT_EQ(op.Build(out, {"--key", op.key, "--serial", "40", "--expires", "2999-12-31 23:00:00"})
                  .status,
              0);
    EXPECT_NE(op.Index(out).find("serial=40 expires=2999-12-31T23:00:00Z\r\n"), std::string::npos);
    ASSERT_EQ(op.Build(out, {"--key", op.key}).status, 0);
    EXPECT_NE(op.Index(out).find("serial=41 expires="), std::string::npos);

    // What would be refused at once is not published.
    const ToolRun expired = op.Build(out, {"--key", op.key, "--expires", "2001-01-01 00:00:00"});
    EXPECT_EQ(expired.status, 1);
    EXPECT_NE(expired.err.find("expired"), std::string::npos) << expired.err;
    EXPECT_EQ(op.Build(out, {"--serial", "50"}).status, 2);  // a serial without a key
    EXPECT_EQ(op.Build(out, {"--key", op.pub}).status, 1);   // a public key cannot sign

    // A timer job renews serial and expiry without rebuilding, and never
    // blesses a file that changed since it was signed.
    const std::string body = op.Index(out).substr(0, op.Index(out).find("#brf-"));
    ASSERT_EQ(op.Run({"resign", out.string(), "--key", op.key, "--expires-in", "7"}).status, 0);
    EXPECT_EQ(op.Index(out).substr(0, body.size()), body);
    EXPECT_NE(op.Index(out).find(
                  "serial=42 expires=" +
                  signed_index::FormatUtc(signed_index::NowUtc() + 7 * 86400).substr(0, 10)),
              std::string::npos);
    WriteFile(out / "patch" / "readme.txt.upd", "planted");
    const ToolRun changed = op.Run({"resign", out.string(), "--key", op.key});
    EXPECT_EQ(changed.status, 1);
    EXPECT_NE(changed.err.find("changed since it was signed"), std::string::npos) << changed.err;
    EXPECT_NE(op.Index(out).find("serial=42 "), std::string::npos);
    ASSERT_EQ(op.Build(out, {"--key", op.key}).status, 0);

    const std::string open = op.scratch.File("open.key");  // a key others can read
    fs::copy_file(op.key, open);
    fs::permissions(open, fs::perms::others_read, fs::perm_options::add);
    const ToolRun readable = op.Build(out, {"--key", open});
    EXPECT_EQ(readable.status, 1);
    EXPECT_NE(readable.err.find("(mode 0604); make it private: chmod 600 " + open),
              std::string::npos)
        << readable.err;
    EXPECT_NE(op.Index(out).find("serial=43 expires="), std::string::npos);
}

// Swaps the last two bytes of a container: same size, same byte sum, so
// only the listed hash tells it from the published one.
void SwapLastBytes(const fs::path& path) {
    std::string bytes = ReadFile(path);
    ASSERT_NE(bytes[bytes.size() - 1], bytes[bytes.size() - 2]);
    std::swap(bytes[bytes.size() - 1], bytes[bytes.size() - 2]);
    WriteFile(path, bytes);
}

struct Damage {
    const char* name;
    std::function<void(const fs::path& patch)> apply;
    std::string problem;
    bool withKey = true;
};

TEST(BrfPublishSign, VerifyFindsEveryBreachOfTheSignedDirectory) {
    const Operator op;
    std::string otherPub;
    {
        const ToolRun made = op.Run({"keygen", "--secret", op.scratch.File("other.key"), "--public",
                                     op.scratch.File("other.pub")});
        ASSERT_EQ(made.status, 0);
    }
    const std::vector<Damage> damages = {
        {"Intact", [](const fs::path&) {}, ""},
        {"ContainerSameSumOtherBytes",
         [](const fs::path& p) { SwapLastBytes(p / "readme.txt.upd"); },
         "patch/readme.txt.upd does not have the SHA-256 of the signed index"},
        // Without a key the listed hashes are checked all the same.
        {"ContainerSameSumOtherBytesNoKey",
         [](const fs::path& p) { SwapLastBytes(p / "readme.txt.upd"); },
         "does not have the SHA-256 of the signed index", false},
        {"ServerListChanged",
         [](const fs::path& p) { WriteFile(p / "_servers.dat", "sea-9 1\r\n"); },
         "patch/_servers.dat has "},
        {"FileAddedUnlisted", [](const fs::path& p) { WriteFile(p / "extra.upd", "x"); },
         "patch/extra.upd is served but not listed in the signed index"},
        {"IndexLineChanged",
         [](const fs::path& p) {
             std::string index = ReadFile(p / "_versions.txt");
             WriteFile(p / "_versions.txt", index.replace(index.find("1050\r\n"), 4, "1060"));
         },
         "the signature does not match the public key"},
    };
    for (const Damage& d : damages) {
        const fs::path out = op.scratch.path() / d.name;
        ASSERT_EQ(op.Build(out, {"--key", op.key}).status, 0);
        d.apply(out / "patch");
        const ToolRun verify = d.withKey ? op.Run({"verify", "--public-key", op.pub, out.string()})
                                         : op.Run({"verify", out.string()});
        EXPECT_EQ(verify.status, d.problem.empty() ? 0 : 1) << d.name << verify.out << verify.err;
        EXPECT_NE(verify.out.find(d.problem), std::string::npos) << d.name << verify.out;
    }
    const fs::path out = op.scratch.path() / "Intact";
    const ToolRun other =
        op.Run({"verify", "--public-key", op.scratch.File("other.pub"), out.string()});
    EXPECT_EQ(other.status, 1);
    EXPECT_NE(other.out.find("the signature does not match the public key"), std::string::npos);
}

TEST(BrfPublishSign, SignedPublicationUpdatesTheKeyedUpdaterThroughNginx) {
    const Operator op;
    brf_test::NginxServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    ASSERT_EQ(op.Build(server.Root() / "set1", {"--key", op.key}).status, 0);

    brf_test::ScratchDir root;
    brf_test::GameDir game(root.path());
    ASSERT_TRUE(game.Registry(1, 1040, 0));
    game.Write("data/fleet.dat", "brig Albatross\r\n");
    const brf_test::UpdaterRun run = brf_test::RunUpdater(
        BRFUPDATE_SIGNED_PATH, game.Dir(), {"--server", server.BaseUrl() + "set1/"}, root.path());
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(game.Read("data/fleet.dat"), "frigate Osprey\r\n");
    EXPECT_EQ(game.Read("readme.txt"), "Brinefall 1.050\r\n");
    EXPECT_EQ(game.Read("save/indexserial.sav"), "1\r\n");
}

// A player's game directory of release 1.040 and its runs of one updater.
struct Player {
    Player(const brf_test::ScratchDir& root, const char* name, std::string program)
        : game(root.path() / name),
          out(root.path() / (std::string(name) + "-out")),
          program(std::move(program)) {
        EXPECT_TRUE(game.Registry(1, 1040, 0));
        game.Config({"debug_loglevel=2"});
        game.Write("data/fleet.dat", "brig Albatross\r\n");
        fs::create_directories(out);
    }
    brf_test::UpdaterRun Run(const std::string& base) const {
        return brf_test::RunUpdater(program, game.Dir(), {"--server", base}, out);
    }
    std::string Trust() const { return game.Read("save/trust.sav").value_or(""); }
    std::string Log() const { return game.Read("_debugg.log").value_or(""); }
    brf_test::GameDir game;
    fs::path out;
    std::string program;
};

// An operator's year with the commands as written in docs/signed-index.md:
// root 1 allows the key that updaters in the field were built with; the
// index key is rotated, then the old one revoked, across three
// publications. An updater built with the root key before any of it
// follows; one built with the old key alone is retired with it; a thief
// with the old key and a replay to a fresh install are refused.
TEST(BrfPublishSign, RotatingThenRevokingTheIndexKeyAcrossThreePublications) {
    const Operator op;
    brf_test::NginxServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    const std::string keys = BRF_TEST_KEY_DIR;
    const std::string rootKey = op.scratch.File("root.key");
    fs::copy_file(keys + "/root.key", rootKey);
    fs::permissions(rootKey, fs::perms::owner_read | fs::perms::owner_write);
    const std::string k2 = op.scratch.File("k2.key"), k2pub = op.scratch.File("k2.pub");
    ASSERT_EQ(op.Run({"keygen", "--secret", k2, "--public", k2pub}).status, 0);
    const fs::path dir = server.Root() / "set1";
    const std::string base = server.BaseUrl() + "set1/";
    const auto ok = [&](const Args& args) {
        const ToolRun run = op.Run(args);
        EXPECT_EQ(run.status, 0) << args[0] << " " << args[1] << ": " << run.err;
        return run.status == 0;
    };
    const Player rooted(op.scratch, "rooted", BRFUPDATE_ROOT_PATH);
    const Player oneKey(op.scratch, "onekey", BRFUPDATE_SIGNED_PATH);

    // Publication 1: root 1 allows the old key, which signs both lines.
    ASSERT_TRUE(ok({"root", "init", dir.string(), "--root-key", rootKey, "--add-index", op.pub}));
    ASSERT_EQ(op.Build(dir, {"--key", op.key, "--legacy-key", op.key}).status, 0);
    ASSERT_TRUE(
        ok({"verify", "--root-public", keys + "/root.pub", "--public-key", op.pub, dir.string()}));
    fs::copy(dir / "patch", op.scratch.path() / "publication1", fs::copy_options::recursive);
    for (const Player* p : {&rooted, &oneKey}) {
        const brf_test::UpdaterRun run = p->Run(base);
        EXPECT_EQ(run.status, 0) << p->program << run.out << run.err << p->Log();
        EXPECT_EQ(p->game.Read("data/fleet.dat"), "frigate Osprey\r\n");
    }
    EXPECT_NE(rooted.Trust().find("#trust-state 1 serial=1\r\n#trust-root 1 version=1"),
              std::string::npos)
        << rooted.Trust();

    // Publication 2: root 2 adds the new key, which signs the trust lines.
    ASSERT_TRUE(ok({"root", "next", dir.string(), "--root-key", rootKey, "--add-index", k2pub}));
    const ToolRun undecided = op.Run({"resign", dir.string(), "--key", k2});
    EXPECT_EQ(undecided.status, 2);  // the lines of updaters with one key must be decided on
    EXPECT_NE(undecided.err.find("--retire-legacy-key"), std::string::npos) << undecided.err;
    ASSERT_TRUE(ok({"resign", dir.string(), "--key", k2, "--legacy-key", op.key}));
    for (const Player* p : {&rooted, &oneKey}) {
        EXPECT_EQ(p->Run(base).status, 0) << p->program << p->Log();
    }
    EXPECT_NE(rooted.Trust().find("serial=2\r\n#trust-root 1 version=2"), std::string::npos);

    // Publication 3: root 3 revokes the old key; its lines are retired.
    ASSERT_TRUE(
        ok({"root", "next", dir.string(), "--root-key", rootKey, "--remove-index", op.pub}));
    const ToolRun oldKey = op.Run({"resign", dir.string(), "--key", op.key, "--retire-legacy-key"});
    EXPECT_EQ(oldKey.status, 2);
    EXPECT_NE(oldKey.err.find("is not an index key of root 3"), std::string::npos) << oldKey.err;
    ASSERT_TRUE(ok({"resign", dir.string(), "--key", k2, "--retire-legacy-key"}));
    ASSERT_TRUE(ok({"verify", "--root-public", keys + "/root.pub", dir.string()}));
    EXPECT_EQ(rooted.Run(base).status, 0) << rooted.Log();
    EXPECT_NE(rooted.Trust().find("serial=3\r\n#trust-root 1 version=3"), std::string::npos);
    EXPECT_EQ(oneKey.Run(base).status, 1);
    EXPECT_NE(oneKey.Log().find("rejected: the index is not signed"), std::string::npos);

    // A thief with the old key signs under root 2 and withholds root 3.
    const fs::path thief = server.Root() / "thief";
    fs::copy(dir, thief, fs::copy_options::recursive);
    fs::remove(thief / "patch" / "_root.3.txt");
    ASSERT_TRUE(
        ok({"resign", thief.string(), "--key", op.key, "--retire-legacy-key", "--serial", "99"}));
    EXPECT_EQ(rooted.Run(server.BaseUrl() + "thief/").status, 1);
    EXPECT_NE(rooted.Log().find("rejected: the index lacks 1 signatures of the index keys root 3"),
              std::string::npos)
        << rooted.Log();

    // A fresh install from the installer of publication 3 refuses
    // publication 1 replayed, and takes publication 3.
    const Player fresh(op.scratch, "fresh", BRFUPDATE_ROOT_PATH);
    fs::create_directories(fresh.game.Dir() / "save");
    fs::copy_file(dir / "installer" / "save" / "trust.sav",
                  fresh.game.Dir() / "save" / "trust.sav");
    fs::create_directories(server.Root() / "replay");
    fs::copy(op.scratch.path() / "publication1", server.Root() / "replay" / "patch",
             fs::copy_options::recursive);
    EXPECT_EQ(fresh.Run(server.BaseUrl() + "replay/").status, 1);
    EXPECT_EQ(fresh.game.Read("data/fleet.dat"), "brig Albatross\r\n");
    EXPECT_EQ(fresh.Run(base).status, 0) << fresh.Log();
    EXPECT_EQ(fresh.game.Read("data/fleet.dat"), "frigate Osprey\r\n");
}

// Renewing a root every few months makes a chain longer than an updater
// walks in one run; the publisher still builds and verifies it.
TEST(BrfPublishSign, AChainLongerThanOneRunsWalkStillPublishes) {
    const Operator op;
    const std::string rootKey = op.scratch.File("root.key");
    fs::copy_file(std::string(BRF_TEST_KEY_DIR) + "/root.key", rootKey);
    fs::permissions(rootKey, fs::perms::owner_read | fs::perms::owner_write);
    const fs::path dir = op.scratch.path() / "www";
    ASSERT_EQ(
        op.Run({"root", "init", dir.string(), "--root-key", rootKey, "--add-index", op.pub}).status,
        0);
    for (int version = 2; version <= 18; ++version) {
        ASSERT_EQ(op.Run({"root", "next", dir.string(), "--root-key", rootKey}).status, 0);
    }
    const ToolRun built = op.Build(dir, {"--key", op.key});
    EXPECT_EQ(built.status, 0) << built.err;
    const ToolRun verified = op.Run(
        {"verify", "--root-public", std::string(BRF_TEST_KEY_DIR) + "/root.pub", dir.string()});
    EXPECT_EQ(verified.status, 0) << verified.out;
}

}  // namespace

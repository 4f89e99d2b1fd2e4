// Roots and the index under them, checked as an update client's conformance
// suite would: one table of publications an updater may meet, with a fake
// clock.
#include <gtest/gtest.h>

#include "index/signed_index.h"
#include "index/trust.h"

namespace {

namespace si = signed_index;

struct Key {
    Key() { EXPECT_TRUE(si::MakeKeyPair(&pub, &secret)); }
    std::string pub, secret;
};

const int64_t kNow = *si::ParseUtc("2026-12-08 12:00:00");
constexpr int64_t kDay = 86400;

// Offline root keys, index keys, and a thief's key.
const Key R1, R2, R3, K1, K2, X;

std::string Root(uint32_t version, std::vector<const Key*> roots, uint32_t threshold,
                 std::vector<const Key*> index, std::vector<const Key*> signers,
                 int64_t expires = kNow + 365 * kDay, uint32_t indexThreshold = 1) {
    trust::Root root;
    root.version = version;
    root.expires = expires;
    root.threshold = threshold;
    root.indexThreshold = indexThreshold;
    std::string body = trust::FormatRoot(root);
    // Keys as lines, so a document can list one twice.
    for (const Key* key : roots) {
        body += std::string(trust::kRootKeyTag) + " " + key->pub + "\r\n";
    }
    for (const Key* key : index) {
        body += std::string(trust::kIndexKeyTag) + " " + key->pub + "\r\n";
    }
    std::vector<std::string> secrets;
    for (const Key* key : signers) {
        secrets.push_back(key->secret);
    }
    return *trust::SignLines(body, secrets);
}

struct Index {
    uint64_t serial = 10;
    uint32_t root = 1;
    std::vector<const Key*> signers{&K1};
    std::optional<int64_t> expires = kNow + 30 * kDay;
    int64_t signedAt = kNow;
    const Key* legacy = nullptr;
};

std::string Publish(const Index& spec) {
    trust::Listing listing;
    listing.manifest.serial = spec.serial;
    listing.manifest.expires = spec.expires;
    listing.manifest.files["patch/a.upd"] = {3, std::string(64, 'a')};
    listing.signedAt = spec.signedAt;
    listing.root = spec.root;
    std::vector<std::string> secrets;
    for (const Key* key : spec.signers) {
        secrets.push_back(key->secret);
    }
    return *trust::SignIndex("[1040.0]\r\na.upd\r\n3\r\n", listing, secrets,
                             spec.legacy ? spec.legacy->secret : "");
}

// The roots of one game's history: K1 first, then K2 beside it, then K1
// revoked, then the root keys replaced by two of R2 and R3.
const std::string kRoot1 = Root(1, {&R1}, 1, {&K1}, {&R1});
const std::string kRoot2 = Root(2, {&R1}, 1, {&K1, &K2}, {&R1});
const std::string kRoot3 = Root(3, {&R1}, 1, {&K2}, {&R1});
const std::string kRoot4 = Root(4, {&R2, &R3}, 2, {&K2}, {&R1, &R2, &R3});

trust::State At(const std::string& rootText, uint64_t serial) {
    trust::State state;
    state.root = *trust::ReadRoot(rootText);
    state.serial = serial;
    return state;
}

TEST(Trust, EveryPublicationAnUpdaterMayMeetGetsItsVerdict) {
    using C = trust::Check;
    const trust::State fresh{trust::Anchor({R1.pub}, 1), 0};
    const std::map<uint32_t, std::string> history{
        {1, kRoot1}, {2, kRoot2}, {3, kRoot3}, {4, kRoot4}};
    std::map<uint32_t, std::string> longChain;
    for (uint32_t v = 1; v <= 20; ++v) {
        longChain[v] = Root(v, {&R1}, 1, {&K1}, {&R1});
    }
    const struct Row {
        const char* name;
        trust::State local;
        std::map<uint32_t, std::string> roots;
        std::string index;
        trust::Check check;
        const char* reason;  // a part of it
        uint32_t rootAfter;
        uint64_t serialAfter;
    } rows[] = {
        {"a fresh install walks to root 1", fresh, history, Publish({}), C::Accepted, "", 1, 10},
        {"the same index again", At(kRoot1, 10), {}, Publish({}), C::Accepted, "", 1, 10},
        {"rollback to an older serial",
         At(kRoot1, 20),
         {},
         Publish({}),
         C::Refused,
         "replayed",
         1,
         20},
        {"fast-forward by a stolen key binds while the keys stay",
         At(kRoot1, uint64_t{1} << 63),
         {},
         Publish({.serial = 21}),
         C::Refused,
         "replayed",
         1,
         uint64_t{1} << 63},
        {"a root with new index keys recovers from fast-forward", At(kRoot1, uint64_t{1} << 63),
         history, Publish({.serial = 21, .root = 3, .signers = {&K2}}), C::Accepted, "", 3, 21},
        {"the rotation: K2 signs under root 2", At(kRoot1, 10), history,
         Publish({.serial = 11, .root = 2, .signers = {&K2}}), C::Accepted, "", 2, 11},
        {"a revoked key signs under the root that revoked it", At(kRoot3, 11), history,
         Publish({.serial = 12, .root = 3}), C::Refused, "lacks 1 signatures", 3, 11},
        {"a revoked key points at the root that still allowed it", At(kRoot3, 11), history,
         Publish({.serial = 12, .root = 1}), C::Refused, "lacks 1 signatures", 3, 11},
        {"a thief's key",
         At(kRoot1, 10),
         {},
         Publish({.serial = 11, .signers = {&X}}),
         C::Refused,
         "lacks",
         1,
         10},
        {"the root keys replaced: two of R2 and R3", At(kRoot3, 11), history,
         Publish({.serial = 12, .root = 4, .signers = {&K2}}), C::Accepted, "", 4, 12},
        {"an index expired past the day of slack",
         At(kRoot1, 10),
         {},
         Publish({.expires = kNow - 2 * kDay}),
         C::Expired,
         "expired at",
         1,
         10},
        {"an index expired within the day of slack",
         At(kRoot1, 10),
         {},
         Publish({.expires = kNow - kDay / 2}),
         C::Accepted,
         "",
         1,
         10},
        {"an index without expiry",
         At(kRoot1, 10),
         {},
         Publish({.expires = std::nullopt}),
         C::Refused,
         "does not expire",
         1,
         10},
        {"an index signed two days ahead of the clock",
         At(kRoot1, 10),
         {},
         Publish({.signedAt = kNow + 2 * kDay}),
         C::FutureDated,
         "signed on 2026-12-10",
         1,
         10},
        {"the newest root expired",
         At(Root(1, {&R1}, 1, {&K1}, {&R1}, kNow - 2 * kDay), 10),
         {},
         Publish({}),
         C::Expired,
         "root 1 expired",
         1,
         10},
        {"an expired local root still walks to a valid one",
         At(Root(1, {&R1}, 1, {&K1}, {&R1}, kNow - 2 * kDay), 10), history,
         Publish({.serial = 11, .root = 2}), C::Accepted, "", 2, 11},
        {"root 2 lacks the old root's signatures",
         At(kRoot1, 10),
         {{2, Root(2, {&R2}, 1, {&K1}, {&R2})}},
         Publish({.root = 2}),
         C::Refused,
         "signatures of root 1's keys",
         1,
         10},
        {"root 2 lacks its own keys' signatures",
         At(kRoot1, 10),
         {{2, Root(2, {&R2}, 1, {&K1}, {&R1})}},
         Publish({.root = 2}),
         C::Refused,
         "signatures of its own keys",
         1,
         10},
        {"a threshold of two met by one key signing twice",
         At(kRoot3, 11),
         {{4, Root(4, {&R2, &R3}, 2, {&K2}, {&R1, &R2, &R2})}},
         Publish({.root = 4}),
         C::Refused,
         "lacks 2 signatures of its own keys",
         3,
         11},
        {"a threshold of two over one key listed twice",
         At(kRoot3, 11),
         {{4, Root(4, {&R2, &R2}, 2, {&K2}, {&R1, &R2})}},
         Publish({.root = 4}),
         C::Refused,
         "distinct keys",
         3,
         11},
        {"two index signatures needed, one given",
         At(kRoot1, 10),
         {{2, Root(2, {&R1}, 1, {&K1, &K2}, {&R1}, kNow + kDay, 2)}},
         Publish({.serial = 11, .root = 2, .signers = {&K1, &K1}}),
         C::Refused,
         "lacks 2 signatures",
         2,
         0},
        {"a root version skipped",
         At(kRoot1, 10),
         {{2, kRoot3}},
         Publish({.root = 3}),
         C::Refused,
         "says it is root 3",
         1,
         10},
        {"a root not published",
         At(kRoot1, 10),
         {},
         Publish({.root = 2}),
         C::Refused,
         "root 2 is not published",
         1,
         10},
        {"a chain longer than one run's walk", fresh, longChain, Publish({.root = 20}), C::Refused,
         "walked to root 16", 16, 0},
        {"an index for updaters with one key only",
         At(kRoot1, 10),
         {},
         *si::Sign("[1040.0]\r\n", {}, K1.secret),
         C::Refused,
         "not signed under a root",
         1,
         10},
        {"the signature of updaters with one key after the trust lines",
         At(kRoot1, 10),
         {},
         Publish({.legacy = &K1}),
         C::Accepted,
         "",
         1,
         10},
    };
    for (const Row& row : rows) {
        const trust::Outcome out = trust::Evaluate(row.local, row.index, row.roots, kNow);
        EXPECT_EQ(out.check, row.check) << row.name << ": " << out.reason;
        EXPECT_NE(out.reason.find(row.reason), std::string::npos) << row.name << ": " << out.reason;
        EXPECT_EQ(out.state.root.version, row.rootAfter) << row.name;
        EXPECT_EQ(out.state.serial, row.serialAfter) << row.name;
        if (row.check == C::Accepted) {
            EXPECT_EQ(out.listing.manifest.files.count("patch/a.upd"), 1u) << row.name;
        }
    }
}

TEST(Trust, UpdatersWithOneKeyReadThePublicationsOfARoot) {
    const std::string both = Publish({.legacy = &K1});
    const si::Reading old = si::Verify(both, K1.pub);
    EXPECT_EQ(old.verdict, si::Verdict::Ok) << old.reason;
    EXPECT_EQ(old.manifest.serial, 10u);
    EXPECT_EQ(old.manifest.files.count("patch/a.upd"), 1u);
    // Once the operator retires that key, they find no signature they know.
    EXPECT_EQ(si::Verify(Publish({}), K1.pub).verdict, si::Verdict::Unsigned);
    // A changed byte anywhere before the signatures fails both.
    std::string altered = both;
    altered[2] = '2';
    EXPECT_NE(si::Verify(altered, K1.pub).verdict, si::Verdict::Ok);
    EXPECT_EQ(trust::Evaluate(At(kRoot1, 0), altered, {}, kNow).check, trust::Check::Refused);
    EXPECT_EQ(trust::WithoutSignatures(both), "[1040.0]\r\na.upd\r\n3\r\n");
}

TEST(Trust, TheKeptStateReadsBackAndADamagedOneIsRefused) {
    const trust::State kept = At(kRoot2, 42);
    const base::Result<trust::State> back = trust::ReadState(trust::FormatState(kept));
    ASSERT_TRUE(back) << back.reason();
    EXPECT_EQ(back->serial, 42u);
    EXPECT_EQ(back->root.version, 2u);
    EXPECT_EQ(back->root.indexKeys, kept.root.indexKeys);
    std::string damaged = trust::FormatState(kept);
    damaged[damaged.find("#trust-index-key") + 20] ^= 1;
    EXPECT_FALSE(trust::ReadState(damaged));
    EXPECT_FALSE(trust::ReadState("serial 42\r\n"));
}

}  // namespace

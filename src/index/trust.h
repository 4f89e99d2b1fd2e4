// Trust that outlasts a key: root documents and the index lines they allow.
//
// The updater is built with root public keys and a threshold (the anchor).
// A root document, published as "patch/_root.N.txt", names the root keys
// and their threshold, the keys that may sign the index and how many of
// them must, and when the document expires. Root N+1 counts only when a
// threshold of root N's keys and a threshold of its own signed it, so the
// index key can be rotated, a stolen one revoked and the root keys
// themselves replaced without a new updater. The index carries "#trust-"
// lines signed by index keys: an updater built with one key ignores them,
// and every other updater removes them like any comment. The formats are
// described in docs/signed-index.md; this module is their only reader and
// writer.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "index/signed_index.h"
#include "shared/base/s_result.h"

namespace trust {

inline constexpr const char* kRootTag = "#trust-root";
inline constexpr const char* kRootKeyTag = "#trust-root-key";
inline constexpr const char* kIndexKeyTag = "#trust-index-key";
inline constexpr const char* kIndexTag = "#trust-index";
inline constexpr const char* kFileTag = "#trust-file";
inline constexpr const char* kSignatureTag = "#trust-signature";
inline constexpr const char* kStateTag = "#trust-state";
// A clock may be off by this much either way before a time counts.
inline constexpr int64_t kSlack = 86400;
// Root versions an updater walks in one run; the rest waits for the next.
inline constexpr uint32_t kMaxRootsPerRun = 16;

struct Root {
    // 0: the anchor the updater was built with; documents start at 1.
    uint32_t version = 0;
    // Seconds since 1970 UTC; the anchor does not expire.
    std::optional<int64_t> expires;
    uint32_t threshold = 1;
    std::set<std::string> rootKeys;  // 64 lower-case hex digits each
    uint32_t indexThreshold = 1;
    std::set<std::string> indexKeys;
    // The document as published, signatures included; empty for the anchor.
    std::string text;
};

// The root an updater is built with: `keys` (hex), `threshold` of them.
Root Anchor(const std::vector<std::string>& keys, uint32_t threshold);

// The lines of `root` before its signatures.
std::string FormatRoot(const Root& root);
// `body` (a root document or an index up to its signatures) with one
// signature line per secret key, in the order given.
base::Result<std::string> SignLines(const std::string& body,
                                    const std::vector<std::string>& secretKeys);
// A root document's fields; its signatures are not looked at.
base::Result<Root> ReadRoot(const std::string& text);
// `text` read as the root that follows `trusted`: its version is the next,
// and a threshold of `trusted`'s root keys and a threshold of its own
// signed it.
base::Result<Root> FollowRoot(const Root& trusted, const std::string& text);

// What the trust lines of an index say.
struct Listing {
    signed_index::Manifest manifest;  // serial, expiry, files
    int64_t signedAt = 0;
    uint32_t root = 0;  // the root version it was signed under
};

// The root version an index says it was signed under, read before anything
// of it is believed (it only picks which roots to fetch).
base::Result<uint32_t> RootOfIndex(const std::string& text);

// `body` (an index without signature lines) with its trust lines: the
// header, the files (as "#brf-file" lines after the header of updaters
// with one key when `legacyKey` is given, else as "#trust-file" lines), a
// signature by each of `indexKeys`, and last the signature `legacyKey`
// makes over all of it.
base::Result<std::string> SignIndex(const std::string& body, const Listing& listing,
                                    const std::vector<std::string>& indexKeys,
                                    const std::string& legacyKey);
// The index `text` with every signature line taken out.
std::string WithoutSignatures(const std::string& text);
// The trust lines of `text`, read without checking a signature (the
// publisher's previous serial).
base::Result<Listing> ReadUnverified(const std::string& text);

// What a game directory keeps of the trust it accepted: the newest root
// and the serial of the last index ("save/trust.sav"). A fresh install
// starts from the one its installer ships.
struct State {
    Root root;
    uint64_t serial = 0;
};
std::string FormatState(const State& state);
// The state in `text`; its root must be self-signed by a threshold of its
// own keys. A failure says why (the updater then starts from its anchor).
base::Result<State> ReadState(const std::string& text);

// The roots to fetch before an index signed under root `indexRoot` can be
// checked: the versions after the newest trusted one, at most
// kMaxRootsPerRun of them.
std::vector<uint32_t> RootsToFetch(const State& local, uint32_t indexRoot);

// The verdict on an index.
enum class Check {
    Accepted,
    Refused,      // not authentic, replayed, or anything else wrong with it
    Expired,      // the index or the newest root expired: the server stopped publishing
    FutureDated,  // signed more than a day after `now`: the player's clock is wrong
};
struct Outcome {
    Check check = Check::Refused;
    std::string reason;
    // What to keep: the newest root walked to (also after a refusal, as
    // every root walked to is genuine) and the serial of an accepted index.
    State state;
    Listing listing;
};

// Checks the index `text` at `now` against `local`, walking through the
// `fetched` root documents (by version). A root that changes the index
// keys resets the serial baseline: the keys that signed a fast-forwarded
// serial may be the ones it replaces.
Outcome Evaluate(const State& local, const std::string& text,
                 const std::map<uint32_t, std::string>& fetched, int64_t now);

}  // namespace trust

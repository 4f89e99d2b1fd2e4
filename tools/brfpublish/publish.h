// brfpublish build: a complete update-server directory from release trees.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pack/packer.h"

namespace brfpublish {

// The version of the updater built from the same tree, in thousandths.
inline constexpr int32_t kUpdaterVersion = BRF_UPDATER_VERSION;

struct ReleaseSpec {
    std::string tree;
    uint32_t version = 0;  // thousandths
    uint32_t build = 0;
};

struct PublishOptions {
    std::string out;
    ReleaseSpec release;
    std::vector<ReleaseSpec> earlier;
    // The oldest client that can still be patched; default the oldest
    // earlier release (or the new one when there is none).
    std::optional<ReleaseSpec> minimum;
    std::string servers;
    // The next updater program; empty for none.
    std::string updaterProgram;
    int32_t updaterVersion = kUpdaterVersion;
    int32_t updaterMinimum = kUpdaterVersion;
    // "yyyy-mm-dd hh:mm:ss", local time.
    std::string time;
    ParseMode mode = ParseMode::Optimal;
    // Deltas from the earlier releases' copies of changed files.
    bool deltas = true;
    // One bundle per earlier release: everything its clients fetch, in one
    // file.
    bool bundles = true;
    // A container for every file the manifest lists, so that an updater can
    // repair any of them; without it only for files that changed against
    // some earlier release.
    bool repairSet = true;
    // Game-path patterns (manifest_lines::MatchesPattern) of files players
    // change themselves: left out of the manifest and the repair set.
    std::vector<std::string> mutablePatterns;
    bool quiet = false;
    // The secret key files that sign the index (docs/signed-index.md):
    // one without root documents, the index keys with; none for an
    // unsigned index.
    std::vector<std::string> secretKeyFiles;
    // With root documents: the key that also signs for updaters built with
    // one key, or the end of those lines.
    std::string legacyKeyFile;
    bool retireLegacyKey = false;
    // The serial of a signed index; default the serial of the directory
    // being replaced plus one (1 for the first).
    std::optional<uint64_t> serial;
    // When a signed index expires, seconds since 1970 UTC; none: 30 days
    // after it was signed.
    std::optional<int64_t> expires;
};

// The result of a build: 0 published, 1 failed (the reasons are on stderr),
// 2 the options contradict each other.
int Publish(const PublishOptions& options);

// True for a text of the form "yyyy-mm-dd hh:mm:ss" with a valid date and
// time of day.
bool ValidTimeStamp(const std::string& text);

}  // namespace brfpublish

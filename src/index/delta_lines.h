// The delta lines of the version index: where the publisher made a binary
// delta from an earlier release's copy of a file to the new one, a line
//
//   #delta SIZE SHA256 SOURCE-SHA256 RESULT-SHA256 NAME
//
// announces it: the delta's size and hash, the hash of the file it applies
// to, the hash of the file it makes, and its name below "patch/". The name
// is the container's name, a dot, the first 16 digits of the source's hash
// and ".dlt", so it also says which file of the index it makes. The lines
// begin with "#": every updater removes them with the comments before it
// reads the index, and one that knows no deltas fetches the containers as
// before. In a signed index they stand before the signature and are covered
// by it; their tag is not one of the signature lines' "#brf-" tags, which
// updaters that check signatures but know no deltas would refuse.
//
// Deltas of the compact format (version 2) are announced the same way on
// "#delta2" lines and named with ".dl2": updaters that know only the first
// format ignore both. Where both are announced for one source, the compact
// one is used.
// docs/deltas.md describes the whole scheme.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace delta_lines {

inline constexpr const char* kDeltaTag = "#delta";
inline constexpr const char* kCompactDeltaTag = "#delta2";

struct Delta {
    uint64_t size = 0;
    std::string sha256;        // of the delta itself
    std::string sourceSha256;  // of the file it applies to
    std::string resultSha256;  // of the file it makes
    std::string name;          // below "patch/"
    uint32_t version = 2;      // of the delta format
};

// The name of the delta of format `version` that turns the copy with
// `sourceSha256` into the new file of `container`.
std::string DeltaName(const std::string& container, const std::string& sourceSha256,
                      uint32_t version = 2);

// The deltas an index announces, by name, and what was wrong with the lines
// that could not be read (they are left out).
struct Announced {
    std::map<std::string, Delta> byName;
    std::vector<std::string> problems;
};
Announced ReadDeltaLines(std::string_view indexText);

// The delta of `container` for an installed copy with `sourceSha256`, of
// the compact format where there is one; null when none is announced.
const Delta* FindDelta(const Announced& announced, const std::string& container,
                       const std::string& sourceSha256);

// One line as ReadDeltaLines reads it, without its line end.
std::string FormatDeltaLine(const Delta& delta);

}  // namespace delta_lines

// The bundle lines of the version index. For each section (each earlier
// release it updates from) the publisher may serve one bundle: the exact
// bytes a client of that release fetches, one file after another in the
// order of its download list (the delta where the release's own file is the
// delta's source, else the container). Lines
//
//   #bundle SIZE SHA256 VVVV.B NAME
//   #bundle-member BUNDLE OFFSET SIZE SHA256 NAME
//
// announce a bundle (its size and hash, the section key's version and
// build without brackets, its name below "patch/") and each of its members
// (the bundle's name, where the member starts in it, its size and hash, and
// its name below "patch/", which runs to the end of the line). Like the
// delta lines they begin with "#", so every updater that knows no bundles
// drops them with the comments; their tag is not one of the signature
// lines' "#brf-" tags, and in a signed index they stand before the
// signature and are covered by it. docs/bundles.md describes the scheme.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "index/version_index.h"

namespace bundle_lines {

inline constexpr const char* kBundleTag = "#bundle";
inline constexpr const char* kMemberTag = "#bundle-member";

struct Member {
    uint64_t offset = 0;
    uint64_t size = 0;
    std::string sha256;
    std::string name;  // below "patch/"
};

struct Bundle {
    uint64_t size = 0;
    std::string sha256;
    version_index::ClientVersion from;  // the section it serves
    std::string name;                   // below "patch/"
    // In bundle order: each starts where the one before ends, the first at
    // 0, and the last ends at `size`.
    std::vector<Member> members;
};

// The served name of the bundle for clients of `from`: "_bundle.VVVV.B.bdl".
std::string BundleName(version_index::ClientVersion from);

// The bundles an index announces, by name, and what was wrong with the
// lines that could not be used. A bundle whose members do not tile it
// exactly (a gap, an overlap, a member of an unknown bundle, a name twice)
// is left out whole.
struct Announced {
    std::map<std::string, Bundle> byName;
    std::vector<std::string> problems;
};
Announced ReadBundleLines(std::string_view indexText);

// The bundle that serves clients of `from`; null when none is announced.
const Bundle* FindBundle(const Announced& announced, version_index::ClientVersion from);

// The bundle line, then one line per member, as ReadBundleLines reads them,
// without line ends.
std::vector<std::string> FormatBundleLines(const Bundle& bundle);

// What the file at `path` holds, read once as `bundle` (whose members tile
// it, as ReadBundleLines leaves them): its size and SHA-256, and the SHA-256
// of each member's byte range, in member order ("" for a member that the
// file ends before). False when the file cannot be read.
struct FileHashes {
    uint64_t size = 0;
    std::string sha256;
    std::vector<std::string> memberSha256;
};
bool HashBundleFile(const std::string& path, const Bundle& bundle, FileHashes* out);

}  // namespace bundle_lines

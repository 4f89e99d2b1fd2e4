// The manifest lines of the version index: every file of the newest
// release, so that an updater can tell a damaged or incomplete install from
// a current one and repair it. Lines
//
//   #manifest SIZE SHA256 CSIZE CONTAINER PATH
//
// give each file's size and SHA-256, the size and name below "patch/" of
// the container that holds it ("0 -" where the publication serves none),
// and its game path, which runs to the end of the line. A container is
// named after its path ("/" as "-", four characters appended), so where the
// path holds a blank, so does the name, and the reader splits the two where
// their lengths say. Files players
// change themselves (settings) are left out: they are never verified or
// repaired. Like the delta and bundle lines they begin with "#", so every
// updater that knows no manifest drops them with the comments; in a signed
// index they stand before the signature and are covered by it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace manifest_lines {

inline constexpr const char* kManifestTag = "#manifest";
// The container field of a file the publication serves no container for.
inline constexpr const char* kNoContainer = "-";

struct File {
    uint64_t size = 0;
    std::string sha256;
    uint64_t containerSize = 0;
    std::string container;  // below "patch/"; kNoContainer for none
    std::string path;       // in the game directory, "/" between names

    bool Repairable() const { return container != kNoContainer; }
};

// The files an index lists, by game path, and what was wrong with the lines
// that could not be used (a path twice, an unsafe path or name, a field
// that is no number or hash); such lines are left out.
struct Manifest {
    std::map<std::string, File> files;
    std::vector<std::string> problems;
};
Manifest ReadManifestLines(std::string_view indexText);

// The line ReadManifestLines reads as `file`, without its line end.
std::string FormatManifestLine(const File& file);

// Whether `path` matches `pattern`: "*" stands for any run of characters
// but "/", "**" for any run at all, "?" for one character but "/"; letters
// compare without regard to case, as on players' Windows drives.
bool MatchesPattern(std::string_view pattern, std::string_view path);

}  // namespace manifest_lines

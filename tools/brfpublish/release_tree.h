// A release tree as the publisher sees it: every directory and regular file
// below a root, by its game path ("data/maps/north.map"), and the rules a
// game path must meet to be carried by the version index.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace brfpublish {

struct TreeEntry {
    bool directory = false;
    uint64_t size = 0;
};

// Game path ("/"-separated, relative to the tree's root) -> entry. The map's
// order puts every directory before everything below it.
using Tree = std::map<std::string, TreeEntry>;

// Reads every entry below `root`. False with the reason when the tree cannot
// be read or holds something that is neither a directory nor a regular file
// (links included: a link could lead out of the tree or round in a circle).
bool ReadTree(const std::string& root, Tree* tree, std::string* error);

// Why the index cannot carry `gamePath`, or "" when it can. Every "-" in a
// listed name is a path separator, so no component may hold one; components
// are printable ASCII without the characters Windows refuses in file names,
// and the first character must not make the line a comment or a section
// marker.
std::string RefusedName(const std::string& gamePath);

// The name on the server and in the index: "/" as "-", and ".upd" appended.
std::string ListedName(const std::string& gamePath);
// The same for a directory entry: "/" as "-", nothing appended.
std::string ListedDirectory(const std::string& gamePath);

// True when the files `a` and `b` hold the same bytes; false also when one
// cannot be read (then `error` says which).
bool SameContent(const std::string& a, const std::string& b, std::string* error);

}  // namespace brfpublish

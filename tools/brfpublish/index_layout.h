// How the sections of the earlier releases are laid out in the version
// index. A client's walk starts at its own "[v.b]" line, passes over other
// start lines and other clients' end markers, and stops at an empty line,
// its own end marker or the end of the file. So when one release needs all
// that another needs (and more), the smaller section can sit inside the
// larger one: the larger one runs on into it and each entry is written once.
// Releases whose needs are disjoint can sit side by side inside a larger
// one, the inner ones stopped by their end markers.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace brfpublish {

struct SectionNeeds {
    uint32_t version = 0;
    uint32_t build = 0;
    // Game paths this release needs, directories and files.
    std::set<std::string> paths;
};

// The two index lines of a path's entry.
using EntryLines = std::function<std::vector<std::string>(const std::string& path)>;

// The index lines after the header: every release's section, nested where
// that saves lines. Within a walk, entries come in path order, so parents
// come before their children; a walk that runs into a nested section only
// meets paths that its own entries cannot lie below (an entry below a
// directory that the nested release lacks is needed by that release too,
// and so sits in the nested section, after the directory's entry).
// `last` (a file at the top of the game, or empty) is the one exception to
// path order: it is the last entry of every walk that lists it, so a client
// whose install stops part-way never carries it without the rest.
std::vector<std::string> LayOutSections(const std::vector<SectionNeeds>& releases,
                                        const EntryLines& lines, const std::string& last = {});

}  // namespace brfpublish

#include "index/manifest_lines.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "index/index_text.h"
#include "index/version_index.h"

namespace manifest_lines {

namespace {

// CONTAINER PATH, the rest of a line. A container is named after its path
// with four characters more, so a blank in the path (and with it in the
// container's name) does not make the split ambiguous: the container's name
// takes the first half of the rest, less the blank between.
bool SplitContainer(const std::string& rest, std::string* container, std::string* path) {
    const std::string none = std::string(kNoContainer) + " ";
    if (rest.compare(0, none.size(), none) == 0) {
        *container = kNoContainer;
        *path = rest.substr(none.size());
        return true;
    }
    if (rest.size() < 5 || (rest.size() - 5) % 2 != 0) {
        return false;
    }
    const size_t named = (rest.size() - 5) / 2 + 4;
    if (rest[named] != ' ') {
        return false;
    }
    *container = rest.substr(0, named);
    *path = rest.substr(named + 1);
    return true;
}

// The path stays inside the game directory, and a container holds the file
// at that path, as the index names containers.
bool SafeFile(const File& file) {
    std::string listed = file.path;
    std::replace(listed.begin(), listed.end(), '/', '-');
    try {
        if (file.path.find('-') != std::string::npos ||
            version_index::SafeGamePath(listed, "/") != file.path) {
            return false;
        }
        return !file.Repairable() || version_index::TargetOfListedFile(file.container) == file.path;
    } catch (const version_index::IndexError&) {
        return false;
    }
}

}  // namespace

Manifest ReadManifestLines(std::string_view indexText) {
    Manifest manifest;
    // Paths that differ only in case name one file on players' Windows
    // drives: listed with two hashes, one of them would never verify.
    std::set<std::string> folded;
    const std::string tag = std::string(kManifestTag) + " ";
    for (const version_index::TextLine& line : version_index::SplitTextLines(indexText)) {
        const std::string& text = line.text;
        if (text.compare(0, tag.size(), tag) != 0) {
            continue;
        }
        // SIZE SHA256 CSIZE, then CONTAINER PATH
        const std::vector<std::string> fields = version_index::Fields(text.substr(tag.size()), 4);
        File file;
        const bool read = fields.size() == 4 &&
                          version_index::ParsePlainSize(fields[0], &file.size) &&
                          version_index::IsSha256Hex(fields[1]) &&
                          version_index::ParsePlainSize(fields[2], &file.containerSize) &&
                          SplitContainer(fields[3], &file.container, &file.path);
        if (read) {
            file.sha256 = fields[1];
        }
        if (!read || !SafeFile(file)) {
            manifest.problems.push_back("unusable manifest line: " + text);
            continue;
        }
        const std::string path = file.path;
        std::string lower = path;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (!folded.insert(lower).second) {
            manifest.problems.push_back("file listed twice in the manifest: " + path);
        } else {
            manifest.files.emplace(path, std::move(file));
        }
    }
    return manifest;
}

std::string FormatManifestLine(const File& file) {
    return std::string(kManifestTag) + " " + std::to_string(file.size) + " " + file.sha256 + " " +
           std::to_string(file.containerSize) + " " + file.container + " " + file.path;
}

bool MatchesPattern(std::string_view pattern, std::string_view path) {
    if (pattern.empty()) {
        return path.empty();
    }
    if (pattern.substr(0, 2) == "**") {
        for (size_t skip = 0; skip <= path.size(); ++skip) {
            if (MatchesPattern(pattern.substr(2), path.substr(skip))) {
                return true;
            }
        }
        return false;
    }
    if (pattern[0] == '*') {
        for (size_t skip = 0; skip <= path.size(); ++skip) {
            if (MatchesPattern(pattern.substr(1), path.substr(skip))) {
                return true;
            }
            if (skip < path.size() && path[skip] == '/') {
                return false;
            }
        }
        return false;
    }
    if (path.empty()) {
        return false;
    }
    const bool same = pattern[0] == '?' ? path[0] != '/'
                                        : std::tolower(static_cast<unsigned char>(pattern[0])) ==
                                              std::tolower(static_cast<unsigned char>(path[0]));
    return same && MatchesPattern(pattern.substr(1), path.substr(1));
}

}  // namespace manifest_lines

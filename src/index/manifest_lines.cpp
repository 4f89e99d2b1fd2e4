#include "index/manifest_lines.h"

#include <algorithm>
#include <cctype>

#include "index/index_text.h"
#include "index/version_index.h"

namespace manifest_lines {

namespace {

// `count` blank-separated fields after the tag, then the rest of the line.
bool SplitFields(const std::string& line, size_t at, size_t count,
                 std::vector<std::string>* fields, std::string* rest) {
    for (size_t k = 0; k < count; ++k) {
        const size_t blank = line.find(' ', at);
        if (blank == std::string::npos) {
            return false;
        }
        fields->push_back(line.substr(at, blank - at));
        at = blank + 1;
    }
    *rest = line.substr(at);
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
    const std::string tag = std::string(kManifestTag) + " ";
    for (const version_index::TextLine& line : version_index::SplitTextLines(indexText)) {
        const std::string& text = line.text;
        if (text.compare(0, tag.size(), tag) != 0) {
            continue;
        }
        // SIZE SHA256 CSIZE CONTAINER PATH
        std::vector<std::string> fields;
        File file;
        const bool read = SplitFields(text, tag.size(), 4, &fields, &file.path) &&
                          version_index::ParsePlainSize(fields[0], &file.size) &&
                          version_index::IsSha256Hex(fields[1]) &&
                          version_index::ParsePlainSize(fields[2], &file.containerSize);
        if (read) {
            file.sha256 = fields[1];
            file.container = fields[3];
        }
        if (!read || !SafeFile(file)) {
            manifest.problems.push_back("unusable manifest line: " + text);
            continue;
        }
        const std::string path = file.path;
        if (!manifest.files.emplace(path, std::move(file)).second) {
            manifest.problems.push_back("file listed twice in the manifest: " + path);
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
    const bool same =
        pattern[0] == '?'
            ? path[0] != '/'
            : std::tolower(static_cast<unsigned char>(pattern[0])) ==
                  std::tolower(static_cast<unsigned char>(path[0]));
    return same && MatchesPattern(pattern.substr(1), path.substr(1));
}

}  // namespace manifest_lines

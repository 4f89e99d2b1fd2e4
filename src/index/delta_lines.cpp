#include "index/delta_lines.h"

#include <algorithm>

#include "index/index_text.h"

namespace delta_lines {

namespace {

constexpr size_t kNameDigits = 16;
constexpr const char* kSuffix = ".dlt";

// A name the updater may put below "patch/": printable, no separator, no
// drive, no leading dot, and the delta suffix.
bool SafeName(const std::string& name) {
    const size_t suffix = std::char_traits<char>::length(kSuffix);
    if (name.size() <= suffix || name[0] == '.' ||
        name.compare(name.size() - suffix, suffix, kSuffix) != 0) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= ' ' && byte < 127 && c != '/' && c != '\\' && c != ':';
    });
}

}  // namespace

std::string DeltaName(const std::string& container, const std::string& sourceSha256) {
    return container + "." + sourceSha256.substr(0, kNameDigits) + kSuffix;
}

Announced ReadDeltaLines(std::string_view indexText) {
    Announced announced;
    const std::string tag = std::string(kDeltaTag) + " ";
    for (const version_index::TextLine& line : version_index::SplitTextLines(indexText)) {
        if (line.text.compare(0, tag.size(), tag) != 0) {
            continue;
        }
        // SIZE SHA256 SOURCE RESULT NAME, one blank apart.
        std::vector<std::string> fields;
        size_t at = tag.size();
        for (int k = 0; k < 4; ++k) {
            const size_t blank = line.text.find(' ', at);
            if (blank == std::string::npos) {
                break;
            }
            fields.push_back(line.text.substr(at, blank - at));
            at = blank + 1;
        }
        Delta delta;
        const bool read =
            fields.size() == 4 && version_index::ParsePlainSize(fields[0], &delta.size) &&
            version_index::IsSha256Hex(fields[1]) && version_index::IsSha256Hex(fields[2]) &&
            version_index::IsSha256Hex(fields[3]);
        if (read) {
            delta.sha256 = fields[1];
            delta.sourceSha256 = fields[2];
            delta.resultSha256 = fields[3];
            delta.name = line.text.substr(at);
        }
        if (!read || !SafeName(delta.name) ||
            delta.name.compare(delta.name.size() - 4 - kNameDigits, kNameDigits, delta.sourceSha256,
                               0, kNameDigits) != 0) {
            announced.problems.push_back("unreadable delta line: " + line.text);
            continue;
        }
        if (!announced.byName.emplace(delta.name, delta).second) {
            announced.problems.push_back("delta announced twice: " + delta.name);
        }
    }
    return announced;
}

const Delta* FindDelta(const Announced& announced, const std::string& container,
                       const std::string& sourceSha256) {
    const auto found = announced.byName.find(DeltaName(container, sourceSha256));
    if (found == announced.byName.end() || found->second.sourceSha256 != sourceSha256) {
        return nullptr;
    }
    return &found->second;
}

std::string FormatDeltaLine(const Delta& delta) {
    return std::string(kDeltaTag) + " " + std::to_string(delta.size) + " " + delta.sha256 + " " +
           delta.sourceSha256 + " " + delta.resultSha256 + " " + delta.name;
}

}  // namespace delta_lines

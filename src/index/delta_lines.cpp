#include "index/delta_lines.h"

#include <algorithm>

#include "index/index_text.h"

namespace delta_lines {

namespace {

constexpr size_t kNameDigits = 16;
// Both suffixes are four characters long.
constexpr size_t kSuffixSize = 4;

const char* Suffix(uint32_t version) {
    return version == 1 ? ".dlt" : ".dl2";
}

// A name the updater may put below "patch/": printable, no separator, no
// drive, no leading dot, and the delta suffix.
bool SafeName(const std::string& name, uint32_t version) {
    if (name.size() <= kSuffixSize + kNameDigits || name[0] == '.' ||
        name.compare(name.size() - kSuffixSize, kSuffixSize, Suffix(version)) != 0) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= ' ' && byte < 127 && c != '/' && c != '\\' && c != ':';
    });
}

}  // namespace

std::string DeltaName(const std::string& container, const std::string& sourceSha256,
                      uint32_t version) {
    return container + "." + sourceSha256.substr(0, kNameDigits) + Suffix(version);
}

Announced ReadDeltaLines(std::string_view indexText) {
    Announced announced;
    const std::string tags[2] = {std::string(kDeltaTag) + " ", std::string(kCompactDeltaTag) + " "};
    for (const version_index::TextLine& line : version_index::SplitTextLines(indexText)) {
        uint32_t version = 0;
        for (uint32_t v = 1; v <= 2; ++v) {
            if (line.text.compare(0, tags[v - 1].size(), tags[v - 1]) == 0) {
                version = v;
            }
        }
        if (version == 0) {
            continue;
        }
        const std::string& tag = tags[version - 1];
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
        delta.version = version;
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
        if (!read || !SafeName(delta.name, version) ||
            delta.name.compare(delta.name.size() - kSuffixSize - kNameDigits, kNameDigits,
                               delta.sourceSha256, 0, kNameDigits) != 0) {
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
    for (const uint32_t version : {2u, 1u}) {
        const auto found = announced.byName.find(DeltaName(container, sourceSha256, version));
        if (found != announced.byName.end() && found->second.sourceSha256 == sourceSha256) {
            return &found->second;
        }
    }
    return nullptr;
}

std::string FormatDeltaLine(const Delta& delta) {
    return std::string(delta.version == 1 ? kDeltaTag : kCompactDeltaTag) + " " +
           std::to_string(delta.size) + " " + delta.sha256 + " " + delta.sourceSha256 + " " +
           delta.resultSha256 + " " + delta.name;
}

}  // namespace delta_lines

#include "index/bundle_lines.h"

#include <algorithm>
#include <fstream>
#include <set>

#include "index/index_text.h"
#include "index/signed_index.h"
#include "shared/base/s_text.h"

namespace bundle_lines {

namespace {

// A name the updater may put below "patch/": printable, no separator, no
// drive, no leading dot. A bundle's name also stands as a field of its
// members' lines, so it holds no blank either.
bool SafeName(const std::string& name, bool blanks) {
    if (name.empty() || name[0] == '.') {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [blanks](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= ' ' && byte < 127 && c != '/' && c != '\\' && c != ':' &&
               (blanks || c != ' ');
    });
}

std::string FromText(version_index::ClientVersion from) {
    return base::Printf("%04u.%u", from.version, from.build);
}

}  // namespace

std::string BundleName(version_index::ClientVersion from) {
    return "_bundle." + FromText(from) + ".bdl";
}

Announced ReadBundleLines(std::string_view indexText) {
    Announced announced;
    const std::string bundleTag = std::string(kBundleTag) + " ";
    const std::string memberTag = std::string(kMemberTag) + " ";
    // Bundles whose lines broke a rule; they are left out whole at the end,
    // wherever in the text the fault stood.
    std::set<std::string> spoiled;
    std::map<std::string, std::vector<Member>> members;
    std::vector<std::string> memberOrder;  // bundles as their first member names them
    for (const version_index::TextLine& line : version_index::SplitTextLines(indexText)) {
        const std::string& text = line.text;
        if (text.compare(0, bundleTag.size(), bundleTag) == 0) {
            // SIZE SHA256 VVVV.B NAME
            const std::vector<std::string> fields =
                version_index::Fields(text.substr(bundleTag.size()), 4);
            const std::string& rest = fields.back();
            Bundle bundle;
            const bool read =
                fields.size() == 4 && version_index::ParsePlainSize(fields[0], &bundle.size) &&
                version_index::IsSha256Hex(fields[1]) &&
                version_index::ParseSectionKey("[" + fields[2] + "]", &bundle.from.version,
                                               &bundle.from.build) &&
                SafeName(rest, false);
            if (!read) {
                announced.problems.push_back("unreadable bundle line: " + text);
                continue;
            }
            bundle.sha256 = fields[1];
            bundle.name = rest;
            if (!announced.byName.emplace(bundle.name, bundle).second) {
                announced.problems.push_back("bundle announced twice: " + bundle.name);
                spoiled.insert(bundle.name);
            }
        } else if (text.compare(0, memberTag.size(), memberTag) == 0) {
            // BUNDLE OFFSET SIZE SHA256 NAME
            const std::vector<std::string> fields =
                version_index::Fields(text.substr(memberTag.size()), 5);
            const std::string& rest = fields.back();
            Member member;
            const bool read = fields.size() == 5 &&
                              version_index::ParsePlainSize(fields[1], &member.offset) &&
                              version_index::ParsePlainSize(fields[2], &member.size) &&
                              version_index::IsSha256Hex(fields[3]) && SafeName(rest, true);
            if (!read) {
                announced.problems.push_back("unreadable bundle member line: " + text);
                // Its bundle would miss a member: it is left out too.
                if (fields.size() > 1) {
                    spoiled.insert(fields[0]);
                }
                continue;
            }
            member.sha256 = fields[3];
            member.name = rest;
            members[fields[0]].push_back(std::move(member));
        }
    }

    for (auto& [name, list] : members) {
        const auto bundle = announced.byName.find(name);
        if (bundle == announced.byName.end()) {
            announced.problems.push_back("bundle member of an unannounced bundle: " + name);
            continue;
        }
        bundle->second.members = std::move(list);
    }
    // A section served by two bundles: the updater could not tell which one
    // is meant, so neither is used.
    std::map<std::pair<uint32_t, uint32_t>, std::string> sections;
    for (const auto& [name, bundle] : announced.byName) {
        const auto [at, fresh] =
            sections.emplace(std::pair{bundle.from.version, bundle.from.build}, name);
        if (!fresh) {
            announced.problems.push_back("two bundles for clients of " + FromText(bundle.from) +
                                         ": " + at->second + " and " + name);
            spoiled.insert(at->second);
            spoiled.insert(name);
        }
    }
    // The bundle is left out whole unless its members tile it exactly: the
    // first at 0, each where the one before ended, the last ending at the
    // bundle's end, none empty and no name twice.
    for (const auto& [name, bundle] : announced.byName) {
        std::string fault;
        uint64_t end = 0;
        std::set<std::string> names;
        for (const Member& member : bundle.members) {
            if (member.offset != end) {
                fault = base::Printf("%s starts at %llu, not at %llu", member.name.c_str(),
                                     static_cast<unsigned long long>(member.offset),
                                     static_cast<unsigned long long>(end));
            } else if (member.size == 0) {
                fault = member.name + " is empty";
            } else if (member.size > bundle.size - end) {
                fault = member.name + " runs past the bundle's end";
            } else if (!names.insert(member.name).second) {
                fault = member.name + " is a member twice";
            }
            if (!fault.empty()) {
                break;
            }
            end += member.size;
        }
        if (fault.empty() && bundle.members.empty()) {
            fault = "it has no members";
        } else if (fault.empty() && end != bundle.size) {
            fault = base::Printf("its members end at %llu, the bundle at %llu",
                                 static_cast<unsigned long long>(end),
                                 static_cast<unsigned long long>(bundle.size));
        }
        if (!fault.empty()) {
            announced.problems.push_back("bundle " + name + " left out: " + fault);
            spoiled.insert(name);
        }
    }
    for (const std::string& name : spoiled) {
        announced.byName.erase(name);
    }
    return announced;
}

const Bundle* FindBundle(const Announced& announced, version_index::ClientVersion from) {
    for (const auto& [name, bundle] : announced.byName) {
        if (bundle.from.version == from.version && bundle.from.build == from.build) {
            return &bundle;
        }
    }
    return nullptr;
}

std::vector<std::string> FormatBundleLines(const Bundle& bundle) {
    std::vector<std::string> lines = {std::string(kBundleTag) + " " + std::to_string(bundle.size) +
                                      " " + bundle.sha256 + " " + FromText(bundle.from) + " " +
                                      bundle.name};
    for (const Member& member : bundle.members) {
        lines.push_back(std::string(kMemberTag) + " " + bundle.name + " " +
                        std::to_string(member.offset) + " " + std::to_string(member.size) + " " +
                        member.sha256 + " " + member.name);
    }
    return lines;
}

bool HashBundleFile(const std::string& path, const Bundle& bundle, FileHashes* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    *out = FileHashes{};
    out->memberSha256.resize(bundle.members.size());
    signed_index::Sha256 whole;
    signed_index::Sha256 range;
    size_t member = 0;  // the member the next byte belongs to
    std::vector<char> buffer(256 * 1024);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = static_cast<size_t>(in.gcount());
        whole.Update(buffer.data(), got);
        // The chunk cut at the members' ends.
        for (size_t used = 0; used < got && member < bundle.members.size();) {
            const Member& m = bundle.members[member];
            const uint64_t left = m.offset + m.size - (out->size + used);
            const size_t take = static_cast<size_t>(std::min<uint64_t>(left, got - used));
            range.Update(buffer.data() + used, take);
            used += take;
            if (take == left) {
                out->memberSha256[member++] = range.HexDigest();
            }
        }
        out->size += got;
    }
    if (in.bad()) {
        return false;
    }
    out->sha256 = whole.HexDigest();
    return true;
}

}  // namespace bundle_lines

#include "updater/session/u_install_record.h"

#include <cinttypes>
#include <cstdio>
#include <exception>

#include "index/game_files.h"
#include "index/version_index.h"
#include "shared/base/s_text.h"

namespace updater {

namespace {

constexpr const char kHeader[] = "brf-install-record 1";

// "WORD A B" with two unsigned 32-bit numbers.
bool ReadVersion(const std::string& line, const char* word, uint32_t* version, uint32_t* build) {
    char extra = 0;
    unsigned v = 0;
    unsigned b = 0;
    const std::string format = std::string(word) + " %u %u%c";
    if (std::sscanf(line.c_str(), format.c_str(), &v, &b, &extra) != 2) {
        return false;
    }
    *version = v;
    *build = b;
    return true;
}

}  // namespace

std::string AppliedPath(const std::string& container) {
    return game_files::InPatch(container) + ".applied";
}

std::string FormatInstallRecord(const InstallRecord& record) {
    std::string text = std::string(kHeader) + "\r\n";
    text += base::Printf("from %u %u\r\nto %u %u\r\n", record.fromVersion, record.fromBuild,
                         record.toVersion, record.toBuild);
    for (const InstallRecord::Entry& entry : record.entries) {
        text += base::Printf("%s %" PRIu64 " %s ", entry.applied ? "applied" : "container",
                             entry.size, entry.sha256.empty() ? "-" : entry.sha256.c_str()) +
                entry.container + "\r\n";
        text += "target " + entry.target + "\r\n";
    }
    return text + "end\r\n";
}

base::Result<InstallRecord> ParseInstallRecord(const std::vector<std::string>& lines) {
    const auto damaged = [](const std::string& why) { return base::Fail(why); };
    if (lines.size() < 4 || lines.front() != kHeader || lines.back() != "end") {
        return damaged("not a whole install record");
    }
    if (lines.size() % 2 != 0) {
        return damaged("an entry is cut off");
    }
    InstallRecord record;
    if (!ReadVersion(lines[1], "from", &record.fromVersion, &record.fromBuild) ||
        !ReadVersion(lines[2], "to", &record.toVersion, &record.toBuild)) {
        return damaged("no versions");
    }
    for (size_t i = 3; i + 1 < lines.size(); i += 2) {
        InstallRecord::Entry entry;
        uint64_t size = 0;
        char hash[65] = {};
        int consumed = 0;
        const std::string& line = lines[i];
        const bool applied = line.rfind("applied ", 0) == 0;
        const std::string format =
            std::string(applied ? "applied" : "container") + " %" SCNu64 " %64s%n";
        if (std::sscanf(line.c_str(), format.c_str(), &size, hash, &consumed) != 2 ||
            static_cast<size_t>(consumed) + 1 >= line.size() || line[consumed] != ' ' ||
            lines[i + 1].rfind("target ", 0) != 0) {
            return damaged("entry " + line + " is malformed");
        }
        entry.size = size;
        entry.applied = applied;
        entry.sha256 = std::string(hash) == "-" ? "" : hash;
        if (applied && entry.sha256.empty()) {
            return damaged("entry " + line + " has no hash");
        }
        entry.container = line.substr(static_cast<size_t>(consumed) + 1);
        entry.target = lines[i + 1].substr(7);
        // The record is read back from the disk: it may only ever name the
        // game file its container is installed to.
        try {
            if (version_index::TargetOfListedFile(entry.container) != entry.target) {
                return damaged("target " + entry.target + " is not that of " + entry.container);
            }
        } catch (const std::exception& error) {
            return damaged(error.what());
        }
        record.entries.push_back(std::move(entry));
    }
    return record;
}

}  // namespace updater

#include "brfpublish/verify.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>

#include "brfpublish/publish.h"
#include "pack/pack.h"
#include "updater/u_signature.h"
#include "updater/u_updater.h"

namespace fs = std::filesystem;

namespace brfpublish {

namespace {

struct Line {
    std::string text;
    size_t number;  // in the file, comments counted, from 1
};

struct Entry {
    const Line* name;
    const Line* info;
    bool directory;
    std::string target;
};

class Verifier {
public:
    Verifier(const std::string& dir, const std::string& publicKey)
        : dir_(dir), index_((fs::path(dir) / "_versions.txt").string()), publicKey_(publicKey) {}

    std::vector<std::string> Run() {
        std::vector<std::string> raw = updater::LoadTextLines(index_);
        std::error_code ec;
        if (!fs::is_regular_file(index_, ec)) {
            Problem(index_ + ": missing");
            return problems_;
        }
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i].empty() || raw[i][0] != '#') {
                lines_.push_back(Line{raw[i], i + 1});
            }
        }
        Header();
        ServerList();
        std::set<std::string> keys;
        for (size_t i = 6; i < lines_.size(); ++i) {
            const std::string& text = lines_[i].text;
            if (text.empty() || text[0] != '[') {
                continue;
            }
            uint32_t version = 0;
            uint32_t build = 0;
            char tail = 0;
            if (std::sscanf(text.c_str(), "[%u.%u]%c", &version, &build, &tail) != 2 ||
                updater::SectionKey(version, build) != text) {
                At(lines_[i], "'" + text + "' is no client's section start");
                continue;
            }
            if (!keys.insert(text).second) {
                At(lines_[i],
                   "section " + text + " starts a second time; clients read only the first");
                continue;
            }
            Section(i, updater::SectionEndKey(version, build));
        }
        Signature();
        return problems_;
    }

private:
    void Problem(const std::string& text) { problems_.push_back(text); }
    void At(const Line& line, const std::string& text) {
        Problem(index_ + ":" + std::to_string(line.number) + ": " + text);
    }

    void Header() {
        if (lines_.size() < 6) {
            Problem(index_ + ": the header needs six lines, there are " +
                    std::to_string(lines_.size()));
            return;
        }
        int32_t values[6] = {};
        for (size_t i = 0; i < 6; ++i) {
            try {
                values[i] = updater::ParseIndexInt(lines_[i].text);
            } catch (const std::exception&) {
                At(lines_[i], "header line " + std::to_string(i + 1) + " '" + lines_[i].text +
                                  "' is not an integer");
                return;
            }
        }
        if (values[0] < values[1]) {
            At(lines_[1], updater::Printf("the minimum updater version %d is above the needed "
                                          "updater version %d",
                                          values[1], values[0]));
        }
        const std::string program = (fs::path(dir_) / "updater.exe.upd").string();
        std::error_code ec;
        if (fs::exists(program, ec)) {
            CheckContainer(program, " updater program", std::nullopt, lines_[0]);
        } else if (values[0] > BRF_UPDATER_VERSION) {
            At(lines_[0],
               updater::Printf("updaters of version %d are sent for %s, which is missing",
                               BRF_UPDATER_VERSION, program.c_str()));
        }
    }

    void ServerList() {
        const std::string path = (fs::path(dir_) / "_servers.dat").string();
        std::error_code ec;
        if (!fs::is_regular_file(path, ec)) {
            Problem(path + ": missing");
            return;
        }
        const std::vector<std::string> lines = updater::LoadTextLines(path);
        if (!lines.empty() && lines[0].find("HTML") != std::string::npos) {
            Problem(path + ": the first line holds \"HTML\", so the updater refuses the list");
        }
    }

    // The container `path`, listed as `name` with `size` (none for the
    // updater's), checked once however often it is listed.
    void CheckContainer(const std::string& path, const std::string& name,
                        std::optional<int64_t> size, const Line& line) {
        if (!checked_.insert(name).second) {
            return;
        }
        std::error_code ec;
        const uintmax_t actual = fs::file_size(path, ec);
        if (ec) {
            At(line, path + " is listed but missing");
            return;
        }
        if (size && static_cast<int64_t>(actual) != *size) {
            At(line, updater::Printf("%s is %llu bytes, the index says %lld", path.c_str(),
                                     static_cast<unsigned long long>(actual),
                                     static_cast<long long>(*size)));
        }
        const int32_t code = CPack::Get()->CheckFile(path.c_str());
        if (code != CPack::kCheckOk) {
            At(line, updater::Printf("%s fails the container check (%d)", path.c_str(), code));
        }
    }

    // The signature lines: signed with the key when one is given, and every
    // file listed with the bytes it has and every served file listed.
    void Signature() {
        std::string text;
        {
            std::ifstream in(index_, std::ios::binary);
            text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        const signed_index::Reading reading = publicKey_.empty()
                                                  ? signed_index::ReadUnverified(text)
                                                  : signed_index::Verify(text, publicKey_);
        if (reading.verdict == signed_index::Verdict::Unsigned && publicKey_.empty()) {
            return;
        }
        if (reading.verdict != signed_index::Verdict::Ok) {
            Problem(index_ + ": " + reading.reason);
            return;
        }
        const signed_index::Manifest& manifest = reading.manifest;
        if (manifest.expires && signed_index::NowUtc() > *manifest.expires) {
            Problem(index_ + ": the signed index expired at " +
                    signed_index::FormatUtc(*manifest.expires));
        }
        for (const auto& [name, file] : manifest.files) {
            const std::string local = name.rfind("patch/", 0) == 0 && name.size() > 6
                                          ? (fs::path(dir_) / name.substr(6)).string()
                                          : std::string();
            const std::string problem = local.empty()
                                            ? name + " is not below patch/"
                                            : signed_index::CheckFile(manifest, name, local);
            if (!problem.empty()) {
                Problem(index_ + ": " + problem);
            }
        }
        std::error_code ec;
        for (fs::directory_iterator it(dir_, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name != "_versions.txt" && it->is_regular_file(ec) &&
                manifest.files.count("patch/" + name) == 0) {
                Problem(index_ + ": patch/" + name +
                        " is served but not listed in the signed index");
            }
        }
    }

    // Walks a section as the updater does and checks what it meets.
    void Section(size_t start, const std::string& endKey) {
        const std::string& key = lines_[start].text;
        std::vector<Entry> entries;
        for (size_t i = start; i < lines_.size();) {
            const std::string& text = lines_[i].text;
            if (text.empty() || text == endKey) {
                break;
            }
            if (text[0] == '[' || text[0] == '{') {
                ++i;
                continue;
            }
            if (i + 1 >= lines_.size()) {
                At(lines_[i], "section " + key + ": the entry '" + text +
                                  "' is cut off by the end of the file");
                break;
            }
            Entry entry{&lines_[i], &lines_[i + 1], lines_[i + 1].text == "0", ""};
            i += 2;
            try {
                entry.target = entry.directory ? updater::SafeGamePath(text, "/")
                                               : updater::TargetOfListedFile(text);
            } catch (const std::exception& error) {
                At(*entry.name, "section " + key + ": " + error.what());
                continue;
            }
            if (!entry.directory) {
                FileEntry(entry, key);
            }
            entries.push_back(entry);
        }

        // No target twice, and every listed directory before what lies in it.
        std::map<std::string, size_t> position;
        for (size_t k = 0; k < entries.size(); ++k) {
            const auto [at, fresh] = position.emplace(entries[k].target, k);
            if (!fresh) {
                At(*entries[k].name, "section " + key + " lists " + entries[k].target +
                                         " a second time (line " +
                                         std::to_string(entries[at->second].name->number) + ")");
            }
        }
        for (size_t k = 0; k < entries.size(); ++k) {
            const std::string& target = entries[k].target;
            for (size_t slash = target.find('/'); slash != std::string::npos;
                 slash = target.find('/', slash + 1)) {
                const auto dir = position.find(target.substr(0, slash));
                if (dir == position.end()) {
                    continue;
                }
                const Entry& listed = entries[dir->second];
                if (!listed.directory) {
                    At(*entries[k].name,
                       "section " + key + " places " + target + " below the file " + listed.target);
                } else if (dir->second > k) {
                    At(*entries[k].name, "section " + key + " lists " + target +
                                             " before its directory " + listed.target + " (line " +
                                             std::to_string(listed.name->number) + ")");
                }
            }
        }
    }

    void FileEntry(const Entry& entry, const std::string& key) {
        const std::string& info = entry.info->text;
        const size_t semicolon = info.find(';');
        int64_t size = 0;
        try {
            size = updater::ParseIndexInt(info.substr(0, semicolon));
        } catch (const std::exception&) {
            At(*entry.info, "section " + key + ": the size in '" + info + "' is not an integer");
            return;
        }
        if (semicolon != std::string::npos && semicolon + 1 < info.size() &&
            !ValidTimeStamp(info.substr(semicolon + 1))) {
            At(*entry.info, "section " + key + ": the time stamp in '" + info +
                                "' is not yyyy-mm-dd hh:mm:ss, so copies already received "
                                "are judged wrongly");
        }
        const std::string& name = entry.name->text;
        CheckContainer((fs::path(dir_) / name).string(), name, size, *entry.name);
    }

    std::string dir_;
    std::string index_;
    std::string publicKey_;
    std::vector<Line> lines_;
    std::set<std::string> checked_;
    std::vector<std::string> problems_;
};

}  // namespace

std::vector<std::string> VerifyPatchDir(const std::string& patchDir,
                                        const std::string& publicKeyHex) {
    return Verifier(patchDir, publicKeyHex).Run();
}

}  // namespace brfpublish

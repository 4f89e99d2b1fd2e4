#include "brfpublish/verify.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>

#include "brfpublish/publish.h"
#include "brfpublish/signing.h"
#include "delta/delta_apply.h"
#include "index/bundle_lines.h"
#include "index/delta_lines.h"
#include "index/game_files.h"
#include "index/manifest_lines.h"
#include "index/signed_index.h"
#include "index/trust.h"
#include "index/version_index.h"
#include "pack/container_format.h"
#include "pack/pack.h"
#include "platform/process.h"
#include "shared/base/s_text.h"

namespace fs = std::filesystem;

namespace brfpublish {

namespace {

struct Line {
    std::string text;
    size_t number;  // in the file, comments counted, from 1
};

class Verifier {
public:
    Verifier(const std::string& dir, const std::string& publicKey,
             const std::map<std::string, std::string>& sources,
             const std::vector<std::string>& rootKeys, uint32_t rootThreshold)
        : dir_(dir),
          index_((fs::path(dir) / game_files::kVersionIndex).string()),
          publicKey_(publicKey),
          sources_(sources),
          rootKeys_(rootKeys),
          rootThreshold_(rootThreshold) {}

    std::vector<std::string> Run() {
        std::error_code ec;
        if (!fs::is_regular_file(index_, ec)) {
            Problem(index_ + ": missing");
            return problems_;
        }
        parsed_ = version_index::ReadIndex(base::ReadWholeFile(index_).value_or(""));
        for (size_t i = 0; i < parsed_.lines.size(); ++i) {
            lines_.push_back(Line{parsed_.lines[i], parsed_.numbers[i]});
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
            if (!version_index::ParseSectionKey(text, &version, &build)) {
                At(lines_[i], "'" + text + "' is no client's section start");
                continue;
            }
            if (!keys.insert(text).second) {
                At(lines_[i],
                   "section " + text + " starts a second time; clients read only the first");
                continue;
            }
            sectionStart_[{version, build}] = i;
            Section(i, {version, build});
        }
        Signature();
        Deltas();
        Bundles();
        Manifest();
        return problems_;
    }

private:
    void Problem(const std::string& text) { problems_.push_back(text); }
    std::string Where(size_t number) const { return index_ + ":" + std::to_string(number) + ": "; }
    void At(const Line& line, const std::string& text) { Problem(Where(line.number) + text); }

    void Header() {
        if (lines_.size() < 6) {
            Problem(index_ + ": the header needs six lines, there are " +
                    std::to_string(lines_.size()));
            return;
        }
        int32_t values[6] = {};
        for (size_t i = 0; i < 6; ++i) {
            try {
                values[i] = version_index::ParseIndexInt(lines_[i].text);
            } catch (const std::exception&) {
                At(lines_[i], "header line " + std::to_string(i + 1) + " '" + lines_[i].text +
                                  "' is not an integer");
                return;
            }
        }
        if (values[0] < values[1]) {
            At(lines_[1], base::Printf("the minimum updater version %d is above the needed "
                                       "updater version %d",
                                       values[1], values[0]));
        }
        const std::string program = (fs::path(dir_) / game_files::kUpdaterContainer).string();
        std::error_code ec;
        if (fs::exists(program, ec)) {
            CheckContainer(program, " updater program", std::nullopt, Where(lines_[0].number));
        } else if (values[0] > brfpublish::kUpdaterVersion) {
            At(lines_[0], base::Printf("updaters of version %d are sent for %s, which is missing",
                                       brfpublish::kUpdaterVersion, program.c_str()));
        }
    }

    void ServerList() {
        const std::string path = (fs::path(dir_) / game_files::kServerList).string();
        std::error_code ec;
        if (!fs::is_regular_file(path, ec)) {
            Problem(path + ": missing");
            return;
        }
        const std::vector<std::string> lines = version_index::LoadTextLines(path);
        if (!lines.empty() && lines[0].find("HTML") != std::string::npos) {
            Problem(path + ": the first line holds \"HTML\", so the updater refuses the list");
        }
    }

    // The container `path`, listed as `name` with `size` (none for the
    // updater's), checked once however often it is listed; `where` leads
    // each problem.
    void CheckContainer(const std::string& path, const std::string& name,
                        std::optional<int64_t> size, const std::string& where) {
        if (!checked_.insert(name).second) {
            return;
        }
        std::error_code ec;
        const uintmax_t actual = fs::file_size(path, ec);
        if (ec) {
            Problem(where + path + " is listed but missing");
            return;
        }
        if (size && static_cast<int64_t>(actual) != *size) {
            Problem(where + base::Printf("%s is %llu bytes, the index says %lld", path.c_str(),
                                         static_cast<unsigned long long>(actual),
                                         static_cast<long long>(*size)));
        }
        const int32_t code = CPack::Get()->CheckFile(path.c_str());
        if (code != CPack::kCheckOk) {
            Problem(where + base::Printf("%s fails the container check (%d)", path.c_str(), code));
        }
    }

    // The signature lines: signed with the key when one is given, and every
    // file listed with the bytes it has and every served file listed. With
    // root documents, the chain of roots and the trust lines under the
    // newest.
    void Signature() {
        const std::string text = base::ReadWholeFile(index_).value_or("");
        const base::Result<std::map<uint32_t, trust::Root>> roots = RootsIn(dir_);
        if (!roots) {
            Problem(roots.reason());
            return;
        }
        if (!roots->empty()) {
            RootSignature(text, *roots);
            return;
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
        Listed(reading.manifest);
    }

    void RootSignature(const std::string& text, const std::map<uint32_t, trust::Root>& roots) {
        const uint32_t newest = roots.rbegin()->first;
        if (roots.begin()->first != 1 || newest != roots.size()) {
            Problem(dir_ + ": the root documents are not root 1 to root " + std::to_string(newest) +
                    " without a gap");
            return;
        }
        // Root 1 is checked as updaters built with the given root keys
        // check it, else against its own keys.
        const trust::Root& first = roots.begin()->second;
        const trust::Root anchor =
            rootKeys_.empty() ? trust::Anchor(std::vector<std::string>(first.rootKeys.begin(),
                                                                       first.rootKeys.end()),
                                              first.threshold)
                              : trust::Anchor(rootKeys_, rootThreshold_);
        // Every root as it followed the one before it: the index is then
        // checked from the root below its own, so a chain longer than an
        // updater walks in one run is no problem here.
        std::map<uint32_t, std::string> texts;
        std::map<uint32_t, trust::Root> followed{{0, anchor}};
        trust::Root walked = anchor;
        for (const auto& [version, root] : roots) {
            texts[version] = root.text;
            const base::Result<trust::Root> next = trust::FollowRoot(walked, root.text);
            if (!next) {
                Problem(dir_ + ": " + next.reason());
                return;
            }
            walked = *next;
            followed[version] = walked;
        }
        const int64_t now = signed_index::NowUtc();
        if (now > walked.expires.value_or(0)) {
            Problem(dir_ + ": root " + std::to_string(newest) + " expired at " +
                    signed_index::FormatUtc(walked.expires.value_or(0)));
        }
        const base::Result<uint32_t> indexRoot = trust::RootOfIndex(text);
        const uint32_t below =
            indexRoot && *indexRoot >= 1 && *indexRoot <= newest ? *indexRoot - 1 : 0;
        const trust::Outcome outcome = trust::Evaluate({followed[below], 0}, text, texts, now);
        if (outcome.check != trust::Check::Accepted) {
            Problem(index_ + ": " + outcome.reason);
            return;
        }
        if (outcome.listing.root != newest) {
            Problem(index_ + ": signed under root " + std::to_string(outcome.listing.root) +
                    ", but root " + std::to_string(newest) +
                    " is published: sign it under that one (brfpublish resign)");
        }
        if (!publicKey_.empty()) {
            const signed_index::Reading legacy = signed_index::Verify(text, publicKey_);
            if (legacy.verdict != signed_index::Verdict::Ok) {
                Problem(index_ + ": for updaters built with one key: " + legacy.reason);
            }
        }
        Listed(outcome.listing.manifest);
    }

    // Every listed file has the listed bytes, every served file is listed
    // (root documents carry their own signatures), and the list has not
    // expired.
    void Listed(const signed_index::Manifest& manifest) {
        if (manifest.expires && signed_index::NowUtc() > *manifest.expires) {
            Problem(index_ + ": the signed index expired at " +
                    signed_index::FormatUtc(*manifest.expires));
        }
        for (const auto& [name, file] : manifest.files) {
            const std::string below = game_files::InPatch("");
            const std::string local = name.rfind(below, 0) == 0 && name.size() > below.size()
                                          ? (fs::path(dir_) / name.substr(below.size())).string()
                                          : std::string();
            const base::Result<> listed = local.empty()
                                              ? base::Fail(name + " is not below patch/")
                                              : signed_index::CheckFile(manifest, name, local);
            if (!listed) {
                Problem(index_ + ": " + listed.reason());
            }
        }
        std::error_code ec;
        for (fs::directory_iterator it(dir_, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name != game_files::kVersionIndex && !game_files::IsRootDocument(name) &&
                it->is_regular_file(ec) && manifest.files.count(game_files::InPatch(name)) == 0) {
                Problem(index_ + ": " + game_files::InPatch(name) +
                        " is served but not listed in the signed index");
            }
        }
    }

    // Walks a section as the updater does and checks what it meets.
    void Section(size_t start, version_index::ClientVersion client) {
        const std::string& key = lines_[start].text;
        struct Entry {
            const Line* name;
            version_index::ListEntry listed;
        };
        std::vector<Entry> entries;
        for (const version_index::WalkStep& step :
             version_index::WalkSection(parsed_, start, client, "/")) {
            const Line& line = lines_[step.at];
            if (step.fault) {
                switch (step.fault->kind) {
                    case version_index::FaultKind::CutOff:
                        At(line, "section " + key + ": the entry '" + line.text +
                                     "' is cut off by the end of the file");
                        break;
                    case version_index::FaultKind::BadSize:
                        At(lines_[step.at + 1], "section " + key + ": the size in '" +
                                                    step.entry->info + "' is not an integer");
                        break;
                    default:
                        At(line, "section " + key + ": " + step.fault->message);
                        break;
                }
            }
            if (!step.entry) {
                continue;
            }
            if (!step.fault && !step.entry->directory) {
                FileEntry(*step.entry, key, line, lines_[step.at + 1]);
            }
            entries.push_back({&line, *step.entry});
        }

        // No target twice, and every listed directory before what lies in it.
        std::map<std::string, size_t> position;
        for (size_t k = 0; k < entries.size(); ++k) {
            const auto [at, fresh] = position.emplace(entries[k].listed.target, k);
            if (!fresh) {
                At(*entries[k].name, "section " + key + " lists " + entries[k].listed.target +
                                         " a second time (line " +
                                         std::to_string(entries[at->second].name->number) + ")");
            }
        }
        for (size_t k = 0; k < entries.size(); ++k) {
            const std::string& target = entries[k].listed.target;
            for (size_t slash = target.find('/'); slash != std::string::npos;
                 slash = target.find('/', slash + 1)) {
                const auto dir = position.find(target.substr(0, slash));
                if (dir == position.end()) {
                    continue;
                }
                const Entry& listed = entries[dir->second];
                if (!listed.listed.directory) {
                    At(*entries[k].name, "section " + key + " places " + target +
                                             " below the file " + listed.listed.target);
                } else if (dir->second > k) {
                    At(*entries[k].name, "section " + key + " lists " + target +
                                             " before its directory " + listed.listed.target +
                                             " (line " + std::to_string(listed.name->number) + ")");
                }
            }
        }
    }

    void FileEntry(const version_index::ListEntry& entry, const std::string& key,
                   const Line& nameLine, const Line& infoLine) {
        const std::string& info = entry.info;
        const size_t semicolon = info.find(';');
        if (semicolon != std::string::npos && semicolon + 1 < info.size() &&
            !ValidTimeStamp(info.substr(semicolon + 1))) {
            At(infoLine, "section " + key + ": the time stamp in '" + info +
                             "' is not yyyy-mm-dd hh:mm:ss, so copies already received "
                             "are judged wrongly");
        }
        CheckContainer((fs::path(dir_) / entry.name).string(), entry.name, entry.size,
                       Where(nameLine.number));
        sectionFiles_.emplace(nameLine.number, entry);
    }

    // Each announced delta: served as announced, for a container that is
    // served, making the file that container holds, and, where its source
    // is at hand, making it from that source.
    void Deltas() {
        const delta_lines::Announced announced =
            delta_lines::ReadDeltaLines(base::ReadWholeFile(index_).value_or(""));
        for (const std::string& problem : announced.problems) {
            Problem(index_ + ": " + problem);
        }
        if (announced.byName.empty()) {
            return;
        }
        const fs::path scratch =
            fs::temp_directory_path() / ("brfpublish-verify-" + std::to_string(plat::ProcessId()));
        std::error_code ec;
        fs::create_directories(scratch, ec);
        std::map<std::string, std::string> decoded;  // container -> SHA-256 of its file
        for (const auto& [name, delta] : announced.byName) {
            const std::string path = (fs::path(dir_) / name).string();
            signed_index::ListedFile served;
            if (!signed_index::HashFile(path, &served)) {
                Problem(path + " is announced as a delta but missing");
                continue;
            }
            if (served.size != delta.size || served.sha256 != delta.sha256) {
                Problem(path + " is not the announced delta (other size or SHA-256)");
                continue;
            }
            // The name is the container's, a dot, 16 digits and ".dlt" or ".dl2".
            const std::string container = name.substr(0, name.size() - 21);
            auto made = decoded.find(container);
            if (made == decoded.end()) {
                const std::string file = (scratch / "container").string();
                signed_index::ListedFile hashed;
                const std::string containerPath = (fs::path(dir_) / container).string();
                const bool ok = CPack::Get()->DecodeFile(containerPath.c_str(), file.c_str()) &&
                                signed_index::HashFile(file, &hashed);
                made = decoded.emplace(container, ok ? hashed.sha256 : std::string()).first;
            }
            if (made->second.empty()) {
                Problem(path + " is a delta for " + container +
                        ", which is not a served container");
                continue;
            }
            if (made->second != delta.resultSha256) {
                Problem(path + " makes another file than " + container + " holds");
                continue;
            }
            const auto source = sources_.find(delta.sourceSha256);
            if (source != sources_.end()) {
                const auto applied = delta::ApplyFile(
                    source->second, path, (scratch / "applied").string(), {}, delta.resultSha256);
                if (!applied || applied->sha256 != delta.resultSha256) {
                    Problem(path + " does not turn " + source->second + " into the file of " +
                            container + (applied ? "" : ": " + applied.reason()));
                }
            }
        }
        fs::remove_all(scratch, ec);
    }

    // The files a client of `from` fetches, in the order of its download
    // list: the containers its section's walk lists.
    std::vector<std::string> WalkedFiles(size_t start, version_index::ClientVersion from) const {
        std::vector<std::string> files;
        for (const version_index::WalkStep& step :
             version_index::WalkSection(parsed_, start, from, "/")) {
            if (step.entry && !step.entry->directory && !step.fault) {
                files.push_back(step.entry->name);
            }
        }
        return files;
    }

    // Each announced bundle: served as announced, each member's bytes in it
    // with the member's hash and the same as the member served alone, and
    // its members the files its section's walk lists, in that order, each
    // the container or one of its announced deltas.
    void Bundles() {
        const std::string text = base::ReadWholeFile(index_).value_or("");
        const bundle_lines::Announced announced = bundle_lines::ReadBundleLines(text);
        for (const std::string& problem : announced.problems) {
            Problem(index_ + ": " + problem);
        }
        const delta_lines::Announced deltas = delta_lines::ReadDeltaLines(text);
        std::map<std::string, std::optional<signed_index::ListedFile>> served;
        for (const auto& [name, bundle] : announced.byName) {
            const std::string path = (fs::path(dir_) / name).string();
            bundle_lines::FileHashes hashes;
            if (!bundle_lines::HashBundleFile(path, bundle, &hashes)) {
                Problem(path + " is announced as a bundle but missing");
                continue;
            }
            if (hashes.size != bundle.size || hashes.sha256 != bundle.sha256) {
                Problem(path + " is not the announced bundle (other size or SHA-256)");
            }
            for (size_t k = 0; k < bundle.members.size(); ++k) {
                const bundle_lines::Member& member = bundle.members[k];
                if (hashes.memberSha256[k] != member.sha256) {
                    Problem(path + ": the bytes of " + member.name +
                            " in it do not have the announced SHA-256");
                }
                auto alone = served.find(member.name);
                if (alone == served.end()) {
                    signed_index::ListedFile file;
                    const bool read =
                        signed_index::HashFile((fs::path(dir_) / member.name).string(), &file);
                    alone = served.emplace(member.name, read ? std::optional(file) : std::nullopt)
                                .first;
                }
                if (!alone->second) {
                    Problem(path + ": its member " + member.name + " is not served alone");
                } else if (alone->second->size != member.size ||
                           alone->second->sha256 != member.sha256) {
                    Problem(path + ": its member " + member.name +
                            " is served alone with other bytes");
                }
            }
            const auto start = sectionStart_.find({bundle.from.version, bundle.from.build});
            if (start == sectionStart_.end()) {
                Problem(path + " is a bundle for clients of " +
                        version_index::SectionKey(bundle.from.version, bundle.from.build) +
                        ", but the index has no such section");
                continue;
            }
            const std::vector<std::string> files = WalkedFiles(start->second, bundle.from);
            const auto fits = [&](size_t k) {
                const std::string& name = bundle.members[k].name;
                if (name == files[k]) {
                    return true;
                }
                const auto delta = deltas.byName.find(name);
                return delta != deltas.byName.end() &&
                       name == delta_lines::DeltaName(files[k], delta->second.sourceSha256,
                                                      delta->second.version);
            };
            for (size_t k = 0; k < std::max(files.size(), bundle.members.size()); ++k) {
                if (k >= files.size() || k >= bundle.members.size() || !fits(k)) {
                    Problem(path + ": member " + std::to_string(k + 1) + " is " +
                            (k < bundle.members.size() ? bundle.members[k].name : "missing") +
                            ", but the walk of section " + lines_[start->second].text + " lists " +
                            (k < files.size() ? files[k] : "no more files") + " there");
                    break;
                }
            }
        }
    }

    // The manifest lines: each one readable; the container each names
    // served with the listed size, passing the container check and holding
    // a file of the listed size (its header says so: nothing is decoded);
    // and where a section lists a file of the manifest, the same container
    // with the same size.
    void Manifest() {
        const std::string text = base::ReadWholeFile(index_).value_or("");
        const manifest_lines::Manifest manifest = manifest_lines::ReadManifestLines(text);
        for (const std::string& problem : manifest.problems) {
            Problem(index_ + ": " + problem);
        }
        if (manifest.files.empty()) {
            return;
        }
        std::map<std::string, size_t> lineOf;  // game path -> its line
        const std::vector<version_index::TextLine> textLines = version_index::SplitTextLines(text);
        for (size_t k = 0; k < textLines.size(); ++k) {
            if (textLines[k].text.rfind(manifest_lines::kManifestTag, 0) == 0) {
                for (const auto& [path, file] :
                     manifest_lines::ReadManifestLines(textLines[k].text).files) {
                    lineOf.emplace(path, k + 1);
                }
            }
        }
        for (const auto& [path, file] : manifest.files) {
            if (!file.Repairable()) {
                continue;
            }
            const std::string where = Where(lineOf[path]);
            const std::string container = (fs::path(dir_) / file.container).string();
            std::error_code ec;
            const uintmax_t actual = fs::file_size(container, ec);
            if (ec) {
                Problem(where + container + " holds " + path + " for repairs but is missing");
                continue;
            }
            if (actual != file.containerSize) {
                Problem(where + base::Printf("%s is %llu bytes, the manifest says %llu",
                                             container.c_str(),
                                             static_cast<unsigned long long>(actual),
                                             static_cast<unsigned long long>(file.containerSize)));
            }
            CheckContainer(container, file.container, std::nullopt, where);
            uint8_t head[kContainerHeaderSize] = {};
            std::ifstream in(container, std::ios::binary);
            in.read(reinterpret_cast<char*>(head), sizeof head);
            ContainerHeader header;
            if (ParseHeader(head, static_cast<size_t>(in.gcount()), &header) &&
                header.originalSize != file.size) {
                Problem(where + base::Printf("%s holds %u bytes, the manifest lists %s with %llu",
                                             container.c_str(), header.originalSize, path.c_str(),
                                             static_cast<unsigned long long>(file.size)));
            }
        }
        for (const auto& [number, entry] : sectionFiles_) {
            const auto listed = manifest.files.find(entry.target);
            if (listed == manifest.files.end()) {
                continue;
            }
            const manifest_lines::File& file = listed->second;
            if (file.container != entry.name ||
                file.containerSize != static_cast<uint64_t>(entry.size)) {
                Problem(Where(number) +
                        base::Printf("a section lists %s with %s (%d bytes), the manifest with %s "
                                     "(%llu bytes)",
                                     entry.target.c_str(), entry.name.c_str(), entry.size,
                                     file.container.c_str(),
                                     static_cast<unsigned long long>(file.containerSize)));
            }
        }
    }

    std::string dir_;
    std::string index_;
    std::string publicKey_;
    const std::map<std::string, std::string>& sources_;
    const std::vector<std::string> rootKeys_;
    const uint32_t rootThreshold_;
    version_index::Index parsed_;
    std::vector<Line> lines_;
    // Where each client's section starts (its first start line).
    std::map<std::pair<uint32_t, uint32_t>, size_t> sectionStart_;
    std::set<std::string> checked_;
    // The file entries the sections' walks met, by the line of their name.
    std::map<size_t, version_index::ListEntry> sectionFiles_;
    std::vector<std::string> problems_;
};

}  // namespace

std::vector<std::string> VerifyPatchDir(const std::string& patchDir,
                                        const std::string& publicKeyHex,
                                        const std::map<std::string, std::string>& sources,
                                        const std::vector<std::string>& rootKeys,
                                        uint32_t rootThreshold) {
    return Verifier(patchDir, publicKeyHex, sources, rootKeys, rootThreshold).Run();
}

}  // namespace brfpublish

#include "brfpublish/publish.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "brfpublish/index_layout.h"
#include "brfpublish/release_tree.h"
#include "brfpublish/signing.h"
#include "brfpublish/verify.h"
#include "delta/delta_encoder.h"
#include "index/bundle_lines.h"
#include "index/delta_lines.h"
#include "index/game_files.h"
#include "index/manifest_lines.h"
#include "index/version_index.h"
#include "platform/process.h"
#include "shared/base/s_text.h"

namespace fs = std::filesystem;

namespace brfpublish {

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;
// A delta is kept only where it is at most 4/5 of its container: clearly
// smaller, so what the player saves pays for hashing the installed file and
// applying the delta, and for the container a failed delta falls back to.
constexpr uint64_t kDeltaShareNumerator = 4;
constexpr uint64_t kDeltaShareDenominator = 5;
// The updater reads a listed size as a signed 32-bit number.
constexpr uint64_t kMaxListedSize = 0x7FFFFFFF;
// The one file of a release that a patch set never carries: the updater
// replaces itself only through updater.exe.upd, whose name this would take.
constexpr const char* kUpdaterProgram = game_files::kUpdaterProgram;

std::string Name(const ReleaseSpec& r) {
    return base::Printf("%.3f.%u", r.version / 1000.0, r.build);
}

bool Older(const ReleaseSpec& a, const ReleaseSpec& b) {
    return std::tie(a.version, a.build) < std::tie(b.version, b.build);
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "brfpublish: %s\n", message.c_str());
    return kFailed;
}

int Contradiction(const std::string& message) {
    std::fprintf(stderr, "brfpublish: %s\n", message.c_str());
    return kUsage;
}

bool WriteFile(const fs::path& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    return !out.fail();
}

// A file's modification time as a container's header word; times outside
// what the word holds are clamped.
uint32_t HeaderTime(const std::string& path) {
    std::error_code ec;
    const fs::file_time_type written = fs::last_write_time(path, ec);
    if (ec) {
        return 0;
    }
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::file_clock::to_sys(written).time_since_epoch())
                             .count();
    return static_cast<uint32_t>(std::clamp<int64_t>(seconds, 0, 0xFFFFFFFFll));
}

// The work directory beside the output, removed unless it was put in place.
class WorkDir {
public:
    explicit WorkDir(const fs::path& out) {
        path_ = out.parent_path() / ("." + out.filename().string() + ".brfpublish-" +
                                     std::to_string(plat::ProcessId()) + ".tmp");
    }
    ~WorkDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

// Reports bytes and files done now and then, for long runs.
class Progress {
public:
    Progress(bool quiet, size_t files, uint64_t bytes)
        : quiet_(quiet), files_(files), bytes_(bytes), last_(std::chrono::steady_clock::now()) {}
    void Done(uint64_t bytes) {
        doneFiles_++;
        doneBytes_ += bytes;
        const auto now = std::chrono::steady_clock::now();
        if (quiet_ || (now - last_ < std::chrono::seconds(1) && doneFiles_ < files_)) {
            return;
        }
        last_ = now;
        std::fprintf(stderr, "brfpublish: packed %zu of %zu files, %llu of %llu bytes\n",
                     doneFiles_, files_, static_cast<unsigned long long>(doneBytes_),
                     static_cast<unsigned long long>(bytes_));
    }

private:
    bool quiet_;
    size_t files_;
    uint64_t bytes_;
    size_t doneFiles_ = 0;
    uint64_t doneBytes_ = 0;
    std::chrono::steady_clock::time_point last_;
};

// Puts `built` (a finished patch directory) in place of out/patch. A patch
// directory that was there is kept until the new one is in place, and put
// back when that fails.
bool PutInPlace(const fs::path& built, const fs::path& out, const fs::path& work,
                std::string* error) {
    std::error_code ec;
    bool madeOut = false;
    if (!fs::exists(out, ec)) {
        if (!fs::create_directory(out, ec)) {
            *error = "cannot create " + out.string() + ": " + ec.message();
            return false;
        }
        madeOut = true;
    }
    const fs::path target = out / "patch";
    const fs::path previous = work / "previous-patch";
    const bool replaces = fs::exists(fs::symlink_status(target, ec));
    if (replaces) {
        fs::rename(target, previous, ec);
        if (ec) {
            *error = "cannot move the old " + target.string() + " aside: " + ec.message();
            return false;
        }
    }
    fs::rename(built, target, ec);
    if (ec) {
        *error = "cannot put " + target.string() + " in place: " + ec.message();
        std::error_code ignored;
        if (replaces) {
            fs::rename(previous, target, ignored);
        } else if (madeOut) {
            fs::remove(out, ignored);
        }
        return false;
    }
    return true;
}

}  // namespace

bool ValidTimeStamp(const std::string& text) {
    if (text.size() != 19) {
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        const char want = i == 4 || i == 7 ? '-' : i == 10 ? ' ' : i == 13 || i == 16 ? ':' : '#';
        if (want == '#' ? !std::isdigit(static_cast<unsigned char>(text[i])) : text[i] != want) {
            return false;
        }
    }
    const int year = std::stoi(text.substr(0, 4));
    const int month = std::stoi(text.substr(5, 2));
    const int day = std::stoi(text.substr(8, 2));
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int days[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month >= 1 && month <= 12 && day >= 1 && day <= days[month - 1] &&
           std::stoi(text.substr(11, 2)) < 24 && std::stoi(text.substr(14, 2)) < 60 &&
           std::stoi(text.substr(17, 2)) < 60;
}

namespace {

// One build of a server directory, stage by stage. Each stage returns 0 to
// go on, or the build's result: kFailed (the reason is on stderr) or kUsage.
class Publication {
public:
    explicit Publication(const PublishOptions& options)
        : options_(options), release_(options.release) {}

    int Run() {
        for (int (Publication::*stage)() :
             {&Publication::CheckOptions, &Publication::ReadServerList, &Publication::ReadRelease,
              &Publication::CompareEarlier, &Publication::ChooseManifest, &Publication::CheckSizes,
              &Publication::PrepareOutput, &Publication::PackContainers,
              &Publication::DescribeManifest, &Publication::MakeDeltas, &Publication::LayOutIndex,
              &Publication::MakeBundles, &Publication::WriteIndex, &Publication::PutOut}) {
            if (const int status = (this->*stage)(); status != 0) {
                return status;
            }
        }
        Report();
        return 0;
    }

private:
    // The releases must fit the version rules, or their clients would never
    // read their sections; the key must be usable.
    int CheckOptions() {
        const ReleaseSpec& release = release_;
        ReleaseSpec& minimum = minimum_;
        minimum = options_.minimum ? *options_.minimum : release;
        if (!options_.minimum) {
            for (const ReleaseSpec& r : options_.earlier) {
                minimum = Older(r, minimum) ? r : minimum;
            }
        }
        if (Older(release, minimum)) {
            return Contradiction("the minimum " + Name(minimum) + " is newer than the release " +
                                 Name(release));
        }
        std::set<std::pair<uint32_t, uint32_t>> seen;
        for (const ReleaseSpec& r : options_.earlier) {
            if (!Older(r, release)) {
                return Contradiction("the earlier release " + Name(r) + " (" + r.tree +
                                     ") is not older than the release " + Name(release));
            }
            if (Older(r, minimum)) {
                return Contradiction("the earlier release " + Name(r) + " (" + r.tree +
                                     ") is older than the minimum " + Name(minimum) +
                                     ": its clients would never read its section");
            }
            if (!seen.insert({r.version, r.build}).second) {
                return Contradiction("release " + Name(r) + " is given twice");
            }
        }
        if (options_.updaterVersion < options_.updaterMinimum) {
            return Contradiction(base::Printf(
                "the updater version %d is below the minimum updater version %d: the new updater "
                "would refuse to run",
                options_.updaterVersion, options_.updaterMinimum));
        }
        if (options_.updaterProgram.empty() &&
            options_.updaterVersion > brfpublish::kUpdaterVersion) {
            return Contradiction(base::Printf(
                "updaters of version %d would fetch a new updater at version %d, but no updater "
                "program is given (--updater)",
                brfpublish::kUpdaterVersion, options_.updaterVersion));
        }
        if (!ValidTimeStamp(options_.time)) {
            return Contradiction("the time '" + options_.time + "' is not yyyy-mm-dd hh:mm:ss");
        }
        if (options_.secretKeyFiles.empty() &&
            (options_.serial || options_.expires || !options_.legacyKeyFile.empty() ||
             options_.retireLegacyKey)) {
            return Contradiction(
                "--serial, --expires and the legacy key options belong to a signed index (--key)");
        }
        return 0;
    }

    int ReadServerList() {
        const std::optional<std::string> servers = base::ReadWholeFile(options_.servers);
        if (!servers) {
            return Fail("cannot read the server list " + options_.servers);
        }
        servers_ = *servers;
        const std::vector<std::string> serverLines = version_index::SplitLines(servers_);
        if (!serverLines.empty() && serverLines[0].find("HTML") != std::string::npos) {
            return Fail(
                "the server list " + options_.servers +
                " has \"HTML\" in its first line, which the updater takes for an error page");
        }
        return 0;
    }

    // The new release: every name must be one the index can carry.
    int ReadRelease() {
        std::string error;
        if (!ReadTree(release_.tree, &tree_, &error)) {
            return Fail(error);
        }
        if (tree_.count(kUpdaterProgram) != 0 && !tree_.at(kUpdaterProgram).directory) {
            if (!options_.quiet) {
                std::fprintf(stderr,
                             "brfpublish: note: %s/%s is not published as a game file; the updater "
                             "is published with --updater\n",
                             release_.tree.c_str(), kUpdaterProgram);
            }
            tree_.erase(kUpdaterProgram);
        }
        std::map<std::string, std::string> folded;
        for (const auto& [path, entry] : tree_) {
            const std::string why = RefusedName(path);
            if (!why.empty()) {
                return Fail("cannot publish " + (fs::path(release_.tree) / path).string() + ": " +
                            why);
            }
            std::string lower = path;
            std::transform(lower.begin(), lower.end(), lower.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (game_files::IsClientProgram(lower) && !entry.directory) {
                client_ = path;
            }
            const auto [at, fresh] = folded.emplace(lower, path);
            if (!fresh) {
                return Fail("cannot publish " + (fs::path(release_.tree) / path).string() + ": " +
                            at->second + " is the same file on Windows");
            }
        }
        return 0;
    }

    // What each earlier release lacks: directories it does not have, files
    // it does not have or has with other bytes.
    int CompareEarlier() {
        std::string error;
        for (const ReleaseSpec& r : options_.earlier) {
            Tree old;
            if (!ReadTree(r.tree, &old, &error)) {
                return Fail(error);
            }
            SectionNeeds section{r.version, r.build, {}};
            for (const auto& [path, entry] : tree_) {
                const auto found = old.find(path);
                if (found != old.end() && found->second.directory != entry.directory) {
                    return Fail("cannot publish " + (fs::path(release_.tree) / path).string() +
                                ": it is a " + (entry.directory ? "directory" : "file") +
                                " but a " + (entry.directory ? "file" : "directory") +
                                " in release " + Name(r) + " (" + r.tree +
                                "), and the updater cannot remove what is in the way");
                }
                bool needed = found == old.end();
                if (!needed && !entry.directory) {
                    needed = entry.size != found->second.size ||
                             !SameContent((fs::path(release_.tree) / path).string(),
                                          (fs::path(r.tree) / path).string(), &error);
                    if (!error.empty()) {
                        return Fail(error);
                    }
                }
                if (needed) {
                    section.paths.insert(path);
                    if (!entry.directory) {
                        changed_.insert(path);
                        if (found != old.end()) {
                            earlierCopies_[path].push_back((fs::path(r.tree) / path).string());
                        }
                    }
                }
            }
            needs_.push_back(std::move(section));
        }
        return 0;
    }

    // The files the manifest lists: every file of the release but those
    // players change themselves. Among them, the unchanged ones the repair
    // set packs; an empty file gets no container (the updater installs no
    // empty file), so its line says "0 -".
    int ChooseManifest() {
        const std::vector<std::string>& patterns = options_.mutablePatterns;
        std::vector<bool> used(patterns.size());
        for (const auto& [path, entry] : tree_) {
            if (entry.directory) {
                continue;
            }
            bool playersOwn = false;
            for (size_t k = 0; k < patterns.size(); ++k) {
                if (manifest_lines::MatchesPattern(patterns[k], path)) {
                    used[k] = true;
                    playersOwn = true;
                }
            }
            if (playersOwn) {
                ++mutableFiles_;
                continue;
            }
            manifestPaths_.insert(path);
            if (options_.repairSet && entry.size != 0 && changed_.count(path) == 0) {
                repair_.insert(path);
            }
        }
        for (size_t k = 0; k < patterns.size(); ++k) {
            if (!used[k] && !options_.quiet) {
                std::fprintf(stderr, "brfpublish: note: --mutable '%s' matches no file of %s\n",
                             patterns[k].c_str(), release_.tree.c_str());
            }
        }
        return 0;
    }

    // What gets a container: the changed files and the repair set.
    int CheckSizes() {
        for (const std::set<std::string>* files : {&changed_, &repair_}) {
            for (const std::string& path : *files) {
                const uint64_t size = tree_.at(path).size;
                const std::string source = (fs::path(release_.tree) / path).string();
                if (size == 0) {
                    return Fail("cannot publish " + source +
                                ": it is empty, and the updater does not install empty files");
                }
                if (size > Packer::kMaxOriginalSize) {
                    const std::string unchanged =
                        files == &repair_ ? " (it is unchanged: --no-repair-set packs none for it)"
                                          : "";
                    return Fail("cannot publish " + source + ": a container holds less than 4 GiB" +
                                unchanged);
                }
                totalBytes_ += size;
            }
        }
        return 0;
    }

    // The output directory, the serial and the work directory beside it.
    int PrepareOutput() {
        const fs::path out = fs::absolute(options_.out).lexically_normal();
        outDir_ = out.filename().empty() ? out.parent_path() : out;
        if (!fs::is_directory(outDir_.parent_path())) {
            return Fail("cannot publish into " + options_.out + ": " +
                        outDir_.parent_path().string() + " is not a directory");
        }
        // Updaters refuse an index whose serial is below the last one they
        // accepted, so a publication's serial only ever grows.
        if (!options_.secretKeyFiles.empty()) {
            base::Result<Signing> signing =
                ChooseSigning((outDir_ / "patch").string(), options_.secretKeyFiles,
                              options_.legacyKeyFile, options_.retireLegacyKey);
            if (!signing) {
                return Fail(signing.reason());
            }
            signing_ = std::move(*signing);
            signing_->signedAt = signed_index::NowUtc();
            signing_->expires = options_.expires.value_or(signing_->signedAt + 30 * 86400);
            if (!signing_->legacyKey.empty()) {
                publicKey_ = signed_index::PublicKeyOf(signing_->legacyKey);
            }
            const std::optional<uint64_t> previous = PublishedSerial((outDir_ / "patch").string());
            if (options_.serial && previous && *options_.serial <= *previous) {
                return Contradiction(base::Printf(
                    "the serial %llu is not above %llu, the serial of the publication it replaces: "
                    "updaters that accepted that one would refuse it",
                    static_cast<unsigned long long>(*options_.serial),
                    static_cast<unsigned long long>(*previous)));
            }
            signing_->serial = options_.serial ? *options_.serial : previous.value_or(0) + 1;
        }
        work_.emplace(outDir_);
        patch_ = work_->Path() / "patch";
        std::error_code ec;
        fs::remove_all(work_->Path(), ec);
        if (!fs::create_directories(patch_, ec)) {
            return Fail("cannot create " + patch_.string() + ": " + ec.message());
        }
        // The root documents stay with every publication: updaters walk
        // through all of them.
        for (fs::directory_iterator it(outDir_ / "patch", ec), end; !ec && it != end;
             it.increment(ec)) {
            if (game_files::IsRootDocument(it->path().filename().string())) {
                fs::copy_file(it->path(), patch_ / it->path().filename(), ec);
                if (ec) {
                    return Fail("cannot copy " + it->path().string() + ": " + ec.message());
                }
            }
        }
        return 0;
    }

    // The containers, one per changed file, shared by every section, and one
    // per file of the repair set.
    int PackContainers() {
        PackOptions packing;
        packing.mode = options_.mode;
        const Packer packer(packing);
        Progress progress(options_.quiet, changed_.size() + repair_.size(), totalBytes_);
        const auto pack = [&](const std::string& source, const std::string& name) -> bool {
            const std::optional<std::string> bytes = base::ReadWholeFile(source);
            if (!bytes) {
                Fail("cannot read " + source);
                return false;
            }
            const uint32_t time = HeaderTime(source);
            const std::vector<uint8_t> container = packer.BuildContainer(
                reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size(), time, time);
            if (container.size() > kMaxListedSize) {
                Fail("cannot publish " + source + ": its container is larger than 2 GiB");
                return false;
            }
            if (!WriteFile(patch_ / name, container.data(), container.size())) {
                Fail("cannot write " + (patch_ / name).string());
                return false;
            }
            containerSize_[name] = container.size();
            return true;
        };
        for (const std::set<std::string>* files : {&changed_, &repair_}) {
            for (const std::string& path : *files) {
                if (!pack((fs::path(release_.tree) / path).string(), ListedName(path))) {
                    return kFailed;
                }
                progress.Done(tree_.at(path).size);
            }
        }
        if (!options_.updaterProgram.empty()) {
            const std::optional<std::string> bytes = base::ReadWholeFile(options_.updaterProgram);
            if (!bytes || bytes->empty()) {
                return Fail("cannot publish the updater " + options_.updaterProgram +
                            ": it cannot be read or is empty");
            }
            if (!pack(options_.updaterProgram, game_files::kUpdaterContainer)) {
                return kFailed;
            }
        }
        if (!WriteFile(patch_ / game_files::kServerList, servers_.data(), servers_.size())) {
            return Fail("cannot write " + (patch_ / game_files::kServerList).string());
        }
        return 0;
    }

    // The manifest line of each listed file: its size and SHA-256, and the
    // container that holds it where one is served.
    int DescribeManifest() {
        for (const std::string& path : manifestPaths_) {
            const std::string source = (fs::path(release_.tree) / path).string();
            signed_index::ListedFile hashed;
            if (!signed_index::HashFile(source, &hashed)) {
                return Fail("cannot read " + source);
            }
            manifest_lines::File file;
            file.size = hashed.size;
            file.sha256 = hashed.sha256;
            file.path = path;
            const auto packed = containerSize_.find(ListedName(path));
            file.container =
                packed != containerSize_.end() ? packed->first : manifest_lines::kNoContainer;
            file.containerSize = packed != containerSize_.end() ? packed->second : 0;
            manifest_.push_back(std::move(file));
        }
        return 0;
    }

    // A delta from each earlier release's copy of a changed file to the new
    // one, one per distinct copy, kept where it is clearly smaller than the
    // container. The updater fetches it instead of the container when the
    // installed file is that copy.
    int MakeDeltas() {
        if (!options_.deltas) {
            return 0;
        }
        size_t copies = 0;
        for (const auto& [path, sources] : earlierCopies_) {
            copies += sources.size();
        }
        size_t done = 0;
        auto last = std::chrono::steady_clock::now();
        for (const auto& [path, sources] : earlierCopies_) {
            const std::string target = (fs::path(release_.tree) / path).string();
            const std::string container = ListedName(path);
            signed_index::ListedFile result;
            if (!signed_index::HashFile(target, &result)) {
                return Fail("cannot read " + target);
            }
            std::set<std::string> hashed;
            for (const std::string& source : sources) {
                ++done;
                signed_index::ListedFile from;
                if (!signed_index::HashFile(source, &from)) {
                    return Fail("cannot read " + source);
                }
                copySha256_[source] = from.sha256;
                if (!hashed.insert(from.sha256).second) {
                    continue;  // the same copy in another earlier release
                }
                const std::vector<uint8_t> bytes = delta::Encode(source, target);
                const uint64_t limit =
                    containerSize_.at(container) * kDeltaShareNumerator / kDeltaShareDenominator;
                if (bytes.size() > limit) {
                    continue;
                }
                delta_lines::Delta made;
                made.name = delta_lines::DeltaName(container, from.sha256);
                made.sourceSha256 = from.sha256;
                made.resultSha256 = result.sha256;
                signed_index::ListedFile written;
                if (!WriteFile(patch_ / made.name, bytes.data(), bytes.size()) ||
                    !signed_index::HashFile((patch_ / made.name).string(), &written)) {
                    return Fail("cannot write " + (patch_ / made.name).string());
                }
                made.size = written.size;
                made.sha256 = written.sha256;
                deltaSources_[from.sha256] = source;
                savedBytes_ += containerSize_.at(container) - made.size;
                deltas_.push_back(std::move(made));
                const auto now = std::chrono::steady_clock::now();
                if (!options_.quiet && now - last >= std::chrono::seconds(1)) {
                    last = now;
                    std::fprintf(
                        stderr,
                        "brfpublish: compared %zu of %zu earlier copies, %zu delta(s) kept\n", done,
                        copies, deltas_.size());
                }
            }
        }
        std::sort(deltas_.begin(), deltas_.end(),
                  [](const delta_lines::Delta& a, const delta_lines::Delta& b) {
                      return a.name < b.name;
                  });
        return 0;
    }

    // The index's header and sections. A published time stamp tells a copy
    // that a client already received from this publication: its last-write
    // time is the time it arrived, later than the publication.
    int LayOutIndex() {
        std::vector<std::string>& lines = indexHead_;
        lines = {
            "# Brinefall patch set for release " + Name(release_) + ", published " + options_.time,
            std::to_string(options_.updaterVersion),
            std::to_string(options_.updaterMinimum),
            std::to_string(release_.version),
            std::to_string(release_.build),
            std::to_string(minimum_.version),
            std::to_string(minimum_.build)};
        const std::vector<std::string> sections = LayOutSections(
            needs_,
            [&](const std::string& path) -> std::vector<std::string> {
                if (tree_.at(path).directory) {
                    return {ListedDirectory(path), "0"};
                }
                const std::string name = ListedName(path);
                return {name, std::to_string(containerSize_.at(name)) + ";" + options_.time};
            },
            client_);
        lines.insert(lines.end(), sections.begin(), sections.end());
        indexLines_ = lines.size();
        return 0;
    }

    // The size and SHA-256 of a served file, each read once.
    const signed_index::ListedFile* Served(const std::string& name) {
        auto found = served_.find(name);
        if (found == served_.end()) {
            signed_index::ListedFile file;
            if (!signed_index::HashFile((patch_ / name).string(), &file)) {
                Fail("cannot read " + (patch_ / name).string());
                return nullptr;
            }
            found = served_.emplace(name, file).first;
        }
        return &found->second;
    }

    // One bundle per earlier release: the files its clients fetch, one
    // after another in the order of their download list, which is the walk
    // of its section through the index as published. Where the release's
    // own copy of a file is the source of a kept delta, its clients fetch
    // the delta, and so does the bundle; else the container.
    int MakeBundles() {
        if (!options_.bundles) {
            return 0;
        }
        std::string head;
        for (const std::string& line : indexHead_) {
            head += line + "\r\n";
        }
        const version_index::Index index = version_index::ReadIndex(head);
        std::map<std::string, std::string> pathOf;  // listed name -> game path
        for (const std::string& path : changed_) {
            pathOf[ListedName(path)] = path;
        }
        std::set<std::string> kept;
        for (const delta_lines::Delta& made : deltas_) {
            kept.insert(made.name);
        }
        for (const ReleaseSpec& r : options_.earlier) {
            const version_index::ClientVersion from{r.version, r.build};
            const auto key = std::find(index.lines.begin(), index.lines.end(),
                                       version_index::SectionKey(r.version, r.build));
            if (key == index.lines.end()) {
                return Fail("the index has no section for release " + Name(r));
            }
            bundle_lines::Bundle bundle;
            bundle.from = from;
            bundle.name = bundle_lines::BundleName(from);
            for (const version_index::WalkStep& step : version_index::WalkSection(
                     index, static_cast<size_t>(key - index.lines.begin()), from, "/")) {
                if (step.fault) {
                    return Fail("section " + *key + ": " + step.fault->message);
                }
                if (!step.entry || step.entry->directory) {
                    continue;
                }
                const std::string& container = step.entry->name;
                std::string name = container;
                const auto own =
                    copySha256_.find((fs::path(r.tree) / pathOf.at(container)).string());
                if (own != copySha256_.end()) {
                    const std::string delta = delta_lines::DeltaName(container, own->second);
                    name = kept.count(delta) != 0 ? delta : container;
                }
                const signed_index::ListedFile* file = Served(name);
                if (!file) {
                    return kFailed;
                }
                bundle.members.push_back({bundle.size, file->size, file->sha256, name});
                bundle.size += file->size;
            }
            if (bundle.members.empty()) {
                continue;
            }
            if (!WriteBundle(bundle)) {
                return kFailed;
            }
            const signed_index::ListedFile* written = Served(bundle.name);
            if (!written) {
                return kFailed;
            }
            if (written->size != bundle.size) {
                return Fail(base::Printf("cannot write %s: it holds %llu bytes, its files %llu",
                                         (patch_ / bundle.name).string().c_str(),
                                         static_cast<unsigned long long>(written->size),
                                         static_cast<unsigned long long>(bundle.size)));
            }
            bundle.sha256 = written->sha256;
            bundleBytes_ += bundle.size;
            bundles_.push_back(std::move(bundle));
        }
        std::sort(bundles_.begin(), bundles_.end(),
                  [](const bundle_lines::Bundle& a, const bundle_lines::Bundle& b) {
                      return a.name < b.name;
                  });
        return 0;
    }

    // The members copied one after another into the bundle, a buffer at a
    // time: files of hundreds of megabytes are never held whole.
    bool WriteBundle(const bundle_lines::Bundle& bundle) {
        const fs::path target = patch_ / bundle.name;
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        std::vector<char> buffer(1024 * 1024);
        for (const bundle_lines::Member& member : bundle.members) {
            std::ifstream in(patch_ / member.name, std::ios::binary);
            while (in && out) {
                in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
                out.write(buffer.data(), in.gcount());
            }
            if (out && (in.bad() || !in.eof())) {
                Fail("cannot read " + (patch_ / member.name).string());
                return false;
            }
        }
        out.close();
        if (!out) {
            Fail("cannot write " + target.string());
            return false;
        }
        return true;
    }

    // The index: the sections, the delta, bundle and manifest lines, and
    // the signature over all of them when a key is given.
    int WriteIndex() {
        std::string error;
        std::vector<std::string> lines = indexHead_;
        for (const delta_lines::Delta& made : deltas_) {
            lines.push_back(delta_lines::FormatDeltaLine(made));
        }
        for (const bundle_lines::Bundle& bundle : bundles_) {
            const std::vector<std::string> written = bundle_lines::FormatBundleLines(bundle);
            lines.insert(lines.end(), written.begin(), written.end());
        }
        for (const manifest_lines::File& file : manifest_) {
            lines.push_back(manifest_lines::FormatManifestLine(file));
        }
        std::string text;
        for (const std::string& line : lines) {
            text += line + "\r\n";
        }
        if (signing_) {
            base::Result<std::string> signedText = SignIndex(patch_.string(), text, *signing_);
            if (!signedText) {
                return Fail("cannot sign the index: " + signedText.reason());
            }
            text = std::move(*signedText);
        }
        if (!WriteFile(patch_ / game_files::kVersionIndex, text.data(), text.size())) {
            return Fail("cannot write " + (patch_ / game_files::kVersionIndex).string());
        }
        return 0;
    }

    // What goes out must pass the same checks as any server directory.
    int PutOut() {
        std::string error;
        const std::vector<std::string> problems =
            VerifyPatchDir(patch_.string(), publicKey_, deltaSources_);
        if (!problems.empty()) {
            for (const std::string& problem : problems) {
                std::fprintf(stderr, "brfpublish: %s\n", problem.c_str());
            }
            return Fail("the built server directory fails its own check; nothing was published");
        }
        if (!PutInPlace(patch_, outDir_, work_->Path(), &error)) {
            return Fail(error);
        }
        if (signing_) {
            if (const base::Result<> baseline = WriteInstallerBaseline(
                    outDir_.string(), (outDir_ / "patch").string(), *signing_);
                !baseline) {
                return Fail(baseline.reason());
            }
        }
        return 0;
    }

    void Report() const {
        if (!options_.quiet) {
            size_t entries = 0;
            for (const SectionNeeds& section : needs_) {
                entries += section.paths.size();
            }
            std::fprintf(stderr,
                         "brfpublish: published release %s for %zu earlier release(s): %zu "
                         "container(s), %zu index lines for %zu entries, in %s\n",
                         Name(release_).c_str(), options_.earlier.size(), containerSize_.size(),
                         indexLines_, entries, (outDir_ / "patch").string().c_str());
            if (!deltas_.empty()) {
                std::fprintf(stderr,
                             "brfpublish: %zu delta(s) from earlier copies, %llu bytes fewer than "
                             "their containers\n",
                             deltas_.size(), static_cast<unsigned long long>(savedBytes_));
            }
            if (!bundles_.empty()) {
                std::fprintf(stderr,
                             "brfpublish: %zu bundle(s), one per earlier release with files to "
                             "fetch, %llu bytes in all\n",
                             bundles_.size(), static_cast<unsigned long long>(bundleBytes_));
            }
            std::fprintf(stderr,
                         "brfpublish: the manifest lists %zu file(s); %zu repair container(s) "
                         "packed for unchanged files; %zu file(s) left out as mutable\n",
                         manifest_.size(), repair_.size(), mutableFiles_);
            if (signing_) {
                std::fprintf(stderr, "brfpublish: signed the index, serial %llu, expires %s\n",
                             static_cast<unsigned long long>(signing_->serial),
                             signed_index::FormatUtc(*signing_->expires).c_str());
            }
        }
    }

    const PublishOptions& options_;
    const ReleaseSpec& release_;
    ReleaseSpec minimum_;
    // How the index is signed; none for an unsigned one.
    std::optional<Signing> signing_;
    // The key updaters with one key check, when the index is signed for them.
    std::string publicKey_;
    std::string servers_;
    Tree tree_;
    std::string client_;
    std::vector<SectionNeeds> needs_;
    std::set<std::string> changed_;
    // The files the manifest lists, the unchanged ones among them that the
    // repair set packs, and how many were left out as players' own.
    std::set<std::string> manifestPaths_;
    std::set<std::string> repair_;
    size_t mutableFiles_ = 0;
    std::vector<manifest_lines::File> manifest_;
    // The earlier releases' copies of each changed file that they have.
    std::map<std::string, std::vector<std::string>> earlierCopies_;
    std::vector<delta_lines::Delta> deltas_;
    // The SHA-256 of each earlier copy of a changed file, by its path.
    std::map<std::string, std::string> copySha256_;
    std::vector<bundle_lines::Bundle> bundles_;
    uint64_t bundleBytes_ = 0;
    // Served files already hashed, by name below patch/.
    std::map<std::string, signed_index::ListedFile> served_;
    std::vector<std::string> indexHead_;
    // An earlier copy of each delta's source, by its hash, for the check.
    std::map<std::string, std::string> deltaSources_;
    uint64_t savedBytes_ = 0;
    uint64_t totalBytes_ = 0;
    fs::path outDir_;
    std::optional<WorkDir> work_;
    fs::path patch_;
    std::map<std::string, uint64_t> containerSize_;
    size_t indexLines_ = 0;
};

}  // namespace

int Publish(const PublishOptions& options) {
    return Publication(options).Run();
}

}  // namespace brfpublish

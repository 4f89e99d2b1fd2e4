// Installing the received files: the old backups go, each replaced file is
// backed up, each container is decoded into its place in the game directory.
//
// An install is all or nothing for the player. Before the first game file
// is replaced, a record of the whole install is put on the disk; the version
// carrier, the client program whose version the next run reads, goes last;
// once every file is in place, all of them are flushed in one pass and only
// then the record goes. A run that finds the record completes the install
// first, so a kill, a crash, a power cut or a full drive part-way never
// leaves a game the updater calls current.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>

#include "index/game_files.h"
#include "pack/pack.h"
#include "platform/clock.h"
#include "platform/file_durability.h"
#include "platform/process.h"
#include "shared/base/s_logging.h"
#include "updater/session/u_session.h"

namespace fs = std::filesystem;
using updater::InstallRecord;
using updater::Text;

namespace {

// The directory whose names change when `target` is replaced.
std::string DirectoryOf(const std::string& target) {
    const std::string parent = fs::path(target).parent_path().generic_string();
    return parent.empty() ? "." : parent;
}

std::string BackupOf(const std::string& container) {
    return std::string(UpdateSession::kBackupDir) + "/" + container.substr(0, container.size() - 4);
}

uint64_t SizeOf(const std::string& path) {
    std::error_code error;
    const uintmax_t size = fs::file_size(path, error);
    return error ? 0 : static_cast<uint64_t>(size);
}

// The decoded size a container's header announces; 0 when it has none.
uint64_t DecodedSize(const std::string& container) {
    std::ifstream in(container, std::ios::binary);
    uint8_t bytes[kContainerHeaderSize] = {};
    ContainerHeader header;
    if (!in.read(reinterpret_cast<char*>(bytes), sizeof bytes) ||
        !ParseHeader(bytes, sizeof bytes, &header)) {
        return 0;
    }
    return header.originalSize;
}

// Keeps the old `target` as `backup`, always whole: a resumed install keeps
// it as the old file. Where the new file is ready (`move`) the old one is
// moved there, which writes nothing; else, or where it cannot be moved, it
// is copied through a temporary name. True when it was moved. A target that
// another program holds sets `held`: the install waits for it rather than
// go on without its backup.
bool BackUp(const std::string& target, const std::string& backup, bool move,
            std::error_code& held) {
    std::error_code error;
    if (!fs::is_regular_file(target, error)) {
        return false;  // a new file: nothing to keep
    }
    if (move) {
        fs::rename(target, backup, error);
        if (!error) {
            return true;
        }
    }
    const std::string temporary = backup + ".brf-part";
    fs::copy_file(target, temporary, fs::copy_options::overwrite_existing, error);
    if (!error) {
        fs::rename(temporary, backup, error);
    }
    if (error) {
        BRF_LOG(1, "backup of %s not made: %s", target.c_str(), error.message().c_str());
        std::error_code ignored;
        fs::remove(temporary, ignored);
        if (plat::HeldByAnotherProgram(error, target)) {
            held = error;
        }
    }
    return false;
}

// Puts the file made from a delta in place of `target` by renaming it, so
// the game file is always the old one or the new one. A resumed install
// finds it gone where it was already put in place.
bool PlaceApplied(const std::string& source, const std::string& target, bool resume,
                  std::error_code& why) {
    std::error_code ignored;
    if (resume && !fs::exists(source, ignored)) {
        return true;
    }
    fs::rename(source, target, why);
    return !why;
}

// Whether the source of `entry` can serve to complete an install: it is
// the one the install began with; else why not.
base::Result<> UsableSource(const InstallRecord::Entry& entry) {
    if (entry.applied) {
        signed_index::ListedFile hashed;
        const std::string source = updater::AppliedPath(entry.container);
        std::error_code ignored;
        const std::string& file = fs::exists(source, ignored) ? source : entry.target;
        if (!signed_index::HashFile(file, &hashed) || hashed.sha256 != entry.sha256) {
            return base::Fail("missing its file made from a delta");
        }
        return {};
    }
    const std::string source = game_files::InPatch(entry.container);
    std::error_code error;
    const uintmax_t size = fs::file_size(source, error);
    if (error) {
        return base::Fail("missing");
    }
    if (size != entry.size) {
        return base::Fail(updater::Printf("%llu bytes instead of %llu",
                                          static_cast<unsigned long long>(size),
                                          static_cast<unsigned long long>(entry.size)));
    }
    if (const int32_t check = CPack::Get()->CheckFile(source.c_str()); check != CPack::kCheckOk) {
        return base::Fail(updater::Printf("fails its check (%i)", check));
    }
    signed_index::ListedFile hashed;
    if (!entry.sha256.empty() &&
        (!signed_index::HashFile(source, &hashed) || hashed.sha256 != entry.sha256)) {
        return base::Fail("not the file the signed index listed");
    }
    return {};
}

}  // namespace

updater::InstallRecord UpdateSession::PlanInstall(bool received) const {
    InstallRecord record;
    record.fromVersion = interrupted_ ? interrupted_->fromVersion : clientVersion;
    record.fromBuild = interrupted_ ? interrupted_->fromBuild : clientBuild;
    record.toVersion = neededVersion;
    record.toBuild = neededBuild;
    for (int32_t k = 0; k < newCount; ++k) {
        const version_index::ListEntry& listed = downloadList.at(static_cast<size_t>(k));
        const std::string& name = listed.name;
        if (name == kUpdaterContainer) {
            continue;
        }
        InstallRecord::Entry entry;
        entry.container = name;
        entry.target = listed.target;
        entry.size =
            received ? SizeOf(game_files::InPatch(name)) : static_cast<uint64_t>(ListedSize(k));
        const auto at = static_cast<size_t>(k);
        if (received && at < appliedFiles_.size() && appliedFiles_[at]) {
            entry.applied = true;
            entry.size = SizeOf(updater::AppliedPath(name));
            entry.sha256 = plannedDeltas_[at]->resultSha256;
        } else if (signedFiles_) {
            if (const auto listed = signedFiles_->files.find(game_files::InPatch(name));
                listed != signedFiles_->files.end()) {
                entry.sha256 = listed->second.sha256;
            }
        }
        record.entries.push_back(std::move(entry));
    }
    std::stable_partition(
        record.entries.begin(), record.entries.end(),
        [](const InstallRecord::Entry& e) { return !game_files::IsClientProgram(e.target); });
    return record;
}

void UpdateSession::InstallFiles() {
    StopTransfers();  // every file of the list is in patch/ by now
    // The backups of an interrupted install are the only copies of the old
    // files: a run that completes it keeps them.
    std::error_code error;
    for (fs::directory_iterator it(kBackupDir, error), end; !interrupted_ && !error && it != end;
         it.increment(error)) {
        const std::string path = std::string(kBackupDir) + "/" + it->path().filename().string();
        if (backedUpAhead_.contains(path)) {
            continue;  // this install's own
        }
        BRF_LOG(2, "deleting backup file: %s", path.c_str());
        std::error_code ignored;
        if (!it->is_directory(ignored)) {
            fs::remove(path, ignored);
        }
    }

    BRF_LOG(1, "Copy all files int the needed directories ...");
    AddLog(kTextInstalling);
    observer_.Progress(updateScale_);
    SelectLastLine();

    const InstallRecord record = PlanInstall(true);
    if (record.entries.empty()) {
        FinishInstall();
        return;
    }
    if (const base::Result<> written = updater::ReplaceFileDurably(
            kInstallRecord, updater::FormatInstallRecord(record), "patch");
        !written) {
        BRF_LOG(0, "** cannot write the install record %s", kInstallRecord);
        AddLog(kTextDownloadError);
        AddLog(kTextTryAgain);
        ReportFileProblem(kInstallRecord, written.failure().code,
                          SpaceNeeded(record.entries, false));
        EndRun();
        return;
    }
    InstallEntries(record.entries, interrupted_.has_value(), [this, record] {
        ClearInstallRecord(record);
        FinishInstall();
    });
}

void UpdateSession::FinishInstall() {
    interrupted_.reset();
    BRF_LOG(1, "finished copying of all files ...");
    if (repairing_) {
        // A repair brings no new release, so no patch notes either.
        repairing_ = false;
        AddLogLine(Text(OwnText::RepairFinished));
        SelectLastLine();
        observer_.ReadyToStart();
        EnterState(RunState::Ready);
        ReadClientVersion();
        return;
    }
    AddLog(kTextUpdateFinished);
    SelectLastLine();
    observer_.ReadyToStart();
    EnterState(RunState::Ready);

    if (observer_.MessageBox(Text(kTextReadPatchNotes), Text(kTextUpdateFinishedCaption),
                             plat::kMbYesNo, plat::BoxOwner::FocusWindow) == plat::kIdYes) {
        plat::StartCommand(plat::TextEditorCommand(), {Text(kTextPatchNotesFile)});
    }
    // The files the update left alone may be missing or damaged too.
    if (ReadClientVersion() && clientVersion == neededVersion && clientBuild == neededBuild) {
        CheckInstall();
    }
}

// While the files arrive, each old game file gets its backup as a second
// name under patch/backup (a hard link), so that the install only has to
// move the new file into place. An install being completed keeps the
// backups it has; where the drive makes no links, the install moves the old
// file away itself.
void UpdateSession::BackUpAhead(const version_index::ListEntry& entry) {
    const std::string backup = BackupOf(entry.name);
    std::error_code error;
    if (interrupted_ || entry.name == kUpdaterContainer || backedUpAhead_.contains(backup) ||
        !fs::is_regular_file(entry.target, error)) {
        return;
    }
    fs::remove(backup, error);  // an earlier update's backup of the file
    fs::create_hard_link(entry.target, backup, error);
    if (!error) {
        backedUpAhead_.insert(backup);
    }
}

void UpdateSession::InstallEntries(const std::vector<InstallRecord::Entry>& entries, bool resume,
                                   std::function<void()> done) {
    // Whatever was not decoded ahead is decoded now on every worker, in the
    // order of installing, while the files before it are backed up and put
    // in place.
    for (const InstallRecord::Entry& entry : entries) {
        if (!entry.applied) {
            decodeAhead_.Start(game_files::InPatch(entry.container), entry.target);
        }
    }
    onDisk_.clear();
    installing_ = Installing{entries, resume, 0, std::nullopt, 0, 0, {}, std::move(done), {}};
    // The entry after which a directory gets no more changes.
    std::map<std::string, size_t> last;
    for (size_t k = 0; k < entries.size(); ++k) {
        last[DirectoryOf(entries[k].target)] = k;
    }
    for (size_t k = 0; k < entries.size(); ++k) {
        installing_->closesDirectory.push_back(last[DirectoryOf(entries[k].target)] == k);
    }
    flusher_ = std::make_unique<updater::DirectoryFlusher>();
    ContinueInstall();
}

void UpdateSession::ContinueInstall() {
    Installing& run = *installing_;
    // Two lines for every file: the log stays open while the files are
    // moved, and not while anything is shown to the player.
    std::optional<CLog::Held> heldLog(std::in_place);
    for (; run.next < run.entries.size(); ++run.next) {
        const InstallRecord::Entry& entry = run.entries[run.next];
        if (!run.decoded) {
            run.decoded = entry.applied ? updater::DecodeAhead::Outcome{true, false, {}, false}
                                        : decodeAhead_.Finish(entry.target);
        }
        std::error_code why;
        if (!PutInPlace(entry, *run.decoded, run.resume, why)) {
            heldLog.reset();
            if (why && plat::HeldByAnotherProgram(why, entry.target) &&
                run.waitedMs < kHeldFileWaitMs) {
                run.held = why;
                WaitForHeldFile(entry.target);
            } else {
                FailInstall(why);
            }
            return;
        }
        if (run.closesDirectory[run.next]) {
            flusher_->Add(DirectoryOf(entry.target));
        }
        run.decoded.reset();
        run.waitedMs = 0;
        run.pauses = 0;
    }
    heldLog.reset();
    decodeAhead_.Discard();  // every file decoded is in place: only the list goes
    const std::function<void()> done = std::move(run.done);
    installing_.reset();
    done();
}

bool UpdateSession::PutInPlace(const InstallRecord::Entry& entry,
                               const updater::DecodeAhead::Outcome& decoded, bool resume,
                               std::error_code& why) {
    const std::string source = game_files::InPatch(entry.container);
    const std::string backup = BackupOf(entry.container);
    // The old file is only moved away once the new one is whole beside it,
    // and never in a resumed install, where the file there may already be
    // the new one.
    BRF_LOG(1, "backup: %s -> %s", entry.target.c_str(), backup.c_str());
    std::error_code ignored;
    const bool linked = backedUpAhead_.contains(backup);
    const bool moved = !linked && (!resume || !fs::exists(backup, ignored)) &&
                       BackUp(entry.target, backup, decoded.ok && !resume, why);
    if (why) {
        return false;  // held by another program: nothing changed yet
    }
    if (moved || linked) {
        onDisk_.insert(backup);  // the old file, on the disk long since
    }
    if (decoded.onDisk) {
        onDisk_.insert(entry.target);
    }

    BRF_LOG(1, "copy  : %s -> %s", source.c_str(), entry.target.c_str());
    if (entry.applied
            ? PlaceApplied(updater::AppliedPath(entry.container), entry.target, resume, why)
            : PlaceDecoded(entry.target, decoded, why)) {
        return true;
    }
    if (moved) {
        // The old file goes back rather than leave none there until the
        // next run completes the install.
        fs::rename(backup, entry.target, ignored);
    }
    return false;
}

void UpdateSession::WaitForHeldFile(const std::string& path) {
    Installing& run = *installing_;
    const std::vector<std::string> holders = plat::ProgramsHolding(path);
    if (run.pauses == 0) {
        AddLogLine(holders.empty()
                       ? updater::Printf(Text(OwnText::WaitingForFile), path.c_str())
                       : updater::Printf(Text(OwnText::WaitingForFileHeldBy), path.c_str(),
                                         base::Join(holders, ", ").c_str()));
        SelectLastLine();
    }
    // Growing pauses: a scanner's hold of a moment costs a moment, a longer
    // one is not asked about many times a second.
    const int32_t pause = std::min({kFirstHeldFilePauseMs << std::min(run.pauses, 8),
                                    kLongestHeldFilePauseMs, kHeldFileWaitMs - run.waitedMs});
    BRF_LOG(1, "%s is held by another program (%s), trying again in %i ms", path.c_str(),
            holders.empty() ? "unknown" : base::Join(holders, ", ").c_str(), pause);
    run.waitedMs += pause;
    ++run.pauses;
    heldFileWait_ = std::make_unique<updater::BackgroundJob<bool>>(
        [pause](const std::atomic<bool>& stop) {
            for (int32_t slept = 0; slept < pause && !stop; slept += 20) {
                plat::SleepMs(20);
            }
            return true;
        },
        [this](const bool&) {
            heldFileWait_.reset();
            ContinueInstall();
        });
}

void UpdateSession::FailInstall(const std::error_code& why) {
    const Installing run = std::move(*installing_);
    installing_.reset();
    heldFileWait_.reset();
    flusher_.reset();
    const InstallRecord::Entry& entry = run.entries[run.next];
    if (!entry.applied) {
        std::error_code ignored;
        fs::remove(updater::DecodeAhead::TemporaryOf(entry.target), ignored);
    }
    BRF_LOG(0, "Decode error: %s, %s", game_files::InPatch(entry.container).c_str(),
            entry.target.c_str());
    AddLog(kTextDownloadError);
    AddLog(kTextTryAgain);
    if (why) {
        const std::vector<InstallRecord::Entry> rest(
            run.entries.begin() + static_cast<std::ptrdiff_t>(run.next), run.entries.end());
        ReportFileProblem(entry.target, why, SpaceNeeded(rest, false),
                          plat::HeldByAnotherProgram(why, entry.target)
                              ? plat::ProgramsHolding(entry.target)
                              : std::vector<std::string>{});
    }
    SelectLastLine();
    EndRun();
}

// The decoded file was written beside `target` and is put in place only
// when the whole file decoded, so a game file is always either the old one
// or the new one, never half of it.
bool UpdateSession::PlaceDecoded(const std::string& target,
                                 const updater::DecodeAhead::Outcome& decoded,
                                 std::error_code& why) {
    const std::string temporary = updater::DecodeAhead::TemporaryOf(target);
    if (!decoded.ok) {
        if (decoded.writeFailed) {
            CPack::LogWriteError(temporary.c_str());
        }
        why = decoded.why;
        return false;
    }
    // A failed rename leaves the decoded file for another attempt; the
    // install removes it when it gives up.
    fs::rename(temporary, target, why);
    return !why;
}

void UpdateSession::ClearInstallRecord(const InstallRecord& record) {
    // One pass at the end instead of a flush per file: until the record goes,
    // a power cut only means the next run decodes the install once more.
    // Files already on the disk only need their names flushed, and most
    // directories were flushed while the install went on.
    std::set<std::string> directories = {kBackupDir};
    bool flushed = true;
    for (const InstallRecord::Entry& entry : record.entries) {
        std::error_code ignored;
        const std::string backup = BackupOf(entry.container);
        for (const std::string& file : {entry.target, backup}) {
            if (!onDisk_.contains(file) && fs::exists(file, ignored)) {
                flushed = plat::FlushFile(file.c_str()) && flushed;
            }
        }
        directories.insert(DirectoryOf(entry.target));
    }
    for (const std::string& directory : directories) {
        flusher_->Add(directory);
    }
    flushed = flusher_->Finish() && flushed;
    flusher_.reset();
    if (!flushed) {
        // The next run then completes the install again from the containers.
        BRF_LOG(0, "** the installed files could not all be flushed, the install record stays");
        return;
    }
    std::error_code ignored;
    fs::remove(kInstallRecord, ignored);
}

void UpdateSession::CompleteInterruptedInstall(std::function<void()> then) {
    interrupted_.reset();
    std::error_code ignored;
    if (!fs::exists(kInstallRecord, ignored)) {
        then();  // the last install ended
        return;
    }
    base::Result<InstallRecord> record =
        updater::ParseInstallRecord(version_index::LoadTextLines(kInstallRecord));
    if (!record) {
        BRF_LOG(0, "** install record %s is damaged and ignored: %s", kInstallRecord,
                record.reason().c_str());
        fs::remove(kInstallRecord, ignored);
        then();
        return;
    }
    BRF_LOG(1, "the install of %.3f.%i over %.3f.%i did not finish, completing it",
            record->toVersion / 1000.0, static_cast<int32_t>(record->toBuild),
            record->fromVersion / 1000.0, static_cast<int32_t>(record->fromBuild));
    AddLogLine(Text(OwnText::CompletingUpdate));
    SelectLastLine();
    EnableCheck(false);

    for (const InstallRecord::Entry& entry : record->entries) {
        if (const base::Result<> usable = UsableSource(entry); !usable) {
            BRF_LOG(0, "** patch/%s is %s: the update is fetched again", entry.container.c_str(),
                    usable.reason().c_str());
            AddLogLine(Text(OwnText::RefetchingUpdate));
            SelectLastLine();
            // The client counts as the release the install started from, so
            // the run fetches that release's section once more.
            clientVersion = record->fromVersion;
            clientBuild = record->fromBuild;
            interrupted_ = std::move(*record);
            then();
            return;
        }
    }
    InstallEntries(record->entries, true, [this, completed = *record, then = std::move(then)] {
        ClearInstallRecord(completed);
        BRF_LOG(1, "the interrupted install is complete");
        if (ReadClientVersion()) {
            then();
        }
    });
}

uint64_t UpdateSession::SpaceNeeded(const std::vector<InstallRecord::Entry>& entries,
                                    bool download) const {
    int64_t needed = 0;
    for (const InstallRecord::Entry& entry : entries) {
        const std::string source = game_files::InPatch(entry.container);
        const uint64_t local = SizeOf(source);
        if (download) {
            needed += static_cast<int64_t>(entry.size - std::min(entry.size, local));
        }
        std::error_code ignored;
        if (!interrupted_ || !fs::exists(BackupOf(entry.container), ignored)) {
            needed += static_cast<int64_t>(SizeOf(entry.target));
        }
        // Until the container is there, its size stands for the new file's;
        // a file made from a delta is already whole.
        const uint64_t decoded = download || entry.applied ? 0 : DecodedSize(source);
        needed += static_cast<int64_t>(decoded != 0 ? decoded : entry.size);
    }
    if (download && !interrupted_) {
        std::error_code error;
        for (fs::directory_iterator it(kBackupDir, error), end; !error && it != end;
             it.increment(error)) {
            needed -= static_cast<int64_t>(SizeOf(it->path().string()));
        }
    }
    return static_cast<uint64_t>(std::max<int64_t>(needed, 0));
}

void UpdateSession::ReportFileProblem(const std::string& path, const std::error_code& reason,
                                      uint64_t needed, const std::vector<std::string>& holders) {
    BRF_LOG(0, "** %s: %s", path.c_str(), reason.message().c_str());
    std::error_code ignored;
    const plat::FileFault fault = plat::ClassifyFileError(reason);
    std::string line;
    if (fault == plat::FileFault::DiskFull) {
        const fs::space_info space = fs::space(".", ignored);
        const uint64_t available = ignored ? 0 : static_cast<uint64_t>(space.available);
        const uint64_t missing = needed > available ? needed - available : 0;
        // Whole megabytes, rounded up: never "0 MB".
        const auto megabytes =
            static_cast<unsigned long long>(std::max<uint64_t>(1, (missing + 1048575) / 1048576));
        line = updater::Printf(Text(OwnText::DriveFull),
                               updater::Printf("%llu MB", megabytes).c_str());
    } else if (!holders.empty()) {
        line = updater::Printf(
            Text(OwnText::MayNotChange), path.c_str(),
            updater::Printf(Text(OwnText::CauseHeldBy), base::Join(holders, ", ").c_str()).c_str());
    } else {
        const OwnText cause = fs::is_directory(path, ignored)     ? OwnText::CauseDirectoryInPlace
                              : fault == plat::FileFault::Refused ? OwnText::CauseWriteProtected
                                                                  : OwnText::CauseOther;
        line = updater::Printf(Text(OwnText::MayNotChange), path.c_str(), Text(cause));
    }
    AddLogLine(line);
    SelectLastLine();
}

namespace updater {

base::Result<> ReplaceFileDurably(const std::string& path, const std::string& text,
                                  const char* directory) {
    const std::string temporary = path + ".part";
    const auto systemError = [] { return std::error_code(errno, std::generic_category()); };
    std::error_code why;
    if (std::FILE* file = std::fopen(temporary.c_str(), "wb"); file == nullptr) {
        why = systemError();
    } else {
        if (std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
            why = systemError();
        }
        if (std::fclose(file) != 0 && !why) {
            why = systemError();
        }
    }
    if (!why && !plat::FlushFile(temporary.c_str())) {
        why = std::make_error_code(std::errc::io_error);
    }
    if (!why) {
        fs::rename(temporary, path, why);
    }
    if (why) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return base::Fail("cannot replace " + path + ": " + why.message(), path, why);
    }
    plat::FlushDirectory(directory);
    return {};
}

}  // namespace updater

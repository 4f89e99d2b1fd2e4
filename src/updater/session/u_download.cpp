// The download phase: the list of the client's section, the comparison
// with copies already in "patch/", the question before fetching one again,
// the transfers into "patch/" that continue where a broken one stopped, and
// the check of every received file.
//
// Fetching ahead: every file of the list that will not be asked about is
// handed to the transfers when the phase starts: the members of the
// section's bundle as runs of one request each, the others one request per
// file on up to four connections. The run itself goes on exactly as before,
// file by file: at its turn a file's question is asked, then the run waits
// for its transfer and checks what arrived as if it had fetched it alone; a
// transfer that failed leaves the file to be fetched alone, continuing what
// its part file holds.
#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <set>

#include "index/bundle_lines.h"
#include "index/game_files.h"
#include "pack/pack.h"
#include "platform/file_times.h"
#include "platform/process.h"
#include "shared/base/s_logging.h"
#include "shared/base/s_text.h"
#include "updater/session/u_session.h"

namespace fs = std::filesystem;
using updater::Text;

namespace {
// Runs of needed members closer than this are fetched with one request, the
// bytes between them passed over: cheaper than another round trip.
constexpr uint64_t kMergeGap = 256 * 1024;

// The received-file check's code for an answer that did not complete the
// part file.
constexpr int32_t kNotCompleted = -11;

std::string PartOf(const std::string& path) {
    return path + ".part";
}

}  // namespace

void UpdateSession::DownloadFile(int32_t index) {
    if (sock_http->IsConnected) {
        sock_http->Disconnect();
    }
    const version_index::ListEntry& entry = downloadList.at(static_cast<size_t>(index));
    const std::string& name = entry.name;
    BRF_LOG(1, "Download File: %s", name.c_str());
    AddLogLine(std::string(Text(kTextReceivingFile)) + name);
    SelectLastLine();

    const std::string path = game_files::InPatch(name);
    const updater::LocalCopy copy = updater::CompareLocalCopy(path, entry);
    const int32_t localSize = copy.localSize;
    const int32_t remoteSize = copy.remoteSize;
    const std::string& localTime = copy.localTime;
    const std::string& remoteTime = copy.remoteTime;

    // With a signed index a copy already in "patch/" must also be the listed
    // file: one planted there is fetched again like any other.
    const bool same = CPack::Get()->CheckFile(path.c_str()) == CPack::kCheckOk &&
                      copy.LooksSame() && Authentic(path, path);
    if (same) {
        BRF_LOG(1, "local file is the same as remote: sizes: %i->%i, times: %s->%s", localSize,
                remoteSize, localTime.c_str(), remoteTime.c_str());
        const std::string question = updater::Printf(Text(kTextDownloadAgain), path.c_str());
        const updater::Reply answer =
            redownloadAll ? updater::Reply::Yes : observer_.AskDownloadAgain(question);
        if (answer == updater::Reply::No) {
            AddLog(kTextFileAlreadyThere);
            SelectLastLine();
            BRF_LOG(1, "file *NOT* downloaded again");
            sock_httpPacketRecvd();
            observer_.Repaint();
            // The run goes on from the loop: what waits there (a click on
            // Cancel) comes first, and a long run of kept files does not pile
            // up on the stack.
            Post([this, remoteSize] {
                if (!fileProgress) {
                    return;
                }
                (*fileProgress)[actCount] = remoteSize;
                DecodeReceived(actCount);
                actCount++;
                if (actCount < newCount) {
                    DownloadFile(actCount);
                } else {
                    fileProgress.reset();
                    InstallFiles();
                }
            });
            return;
        }
        BRF_LOG(1, "user want to downloaded file again");
        if (answer == updater::Reply::YesToAll) {
            redownloadAll = true;
        }
    }

    observer_.Repaint();
    // The transfer starts from the loop, once what waits there is done.
    Post([this, index] {
        if (transfers_ && transfers_->Covers(index)) {
            AwaitTransfer(index);
        } else if (!FetchDelta(index)) {
            RequestContainer(index);
        }
    });
}

void UpdateSession::FetchIntoPatch(const std::string& path, int32_t listed) {
    const std::string part = PartOf(path);
    const int64_t bound = static_cast<int64_t>(listed) + kPatchSizeMargin;
    std::error_code error;
    int64_t held =
        fs::is_regular_file(part, error) ? static_cast<int64_t>(fs::file_size(part, error)) : 0;
    if (error) {
        held = 0;
    }
    if (held >= bound) {
        // Longer than the file may be: no beginning of it.
        BRF_LOG(1, "removing %s: %lld bytes", part.c_str(), static_cast<long long>(held));
        fs::remove(part, error);
        held = 0;
    }
    if (held > 0) {
        BRF_LOG(1, "resuming %s at %lld bytes", path.c_str(), static_cast<long long>(held));
    }
    sock_http->Body = part;
    // A part of another document (another total) is not written after the
    // bytes held: the file is then started over.
    RequestFile(path, static_cast<int32_t>(std::min<int64_t>(bound - held, INT32_MAX)),
                Origin::SuccessHandler, false, held, listed > 0 ? listed : -1);
}

bool UpdateSession::TakePart(const std::string& path, int32_t listed, bool fetchedAhead) {
    const std::string part = PartOf(path);
    std::error_code error;
    const auto size = static_cast<int64_t>(fs::file_size(part, error));
    bool complete = !error && (fetchedAhead || sock_http->StoredAt >= 0);
    if (complete && !fetchedAhead && sock_http->StatusCode == 206) {
        // The client stored the part only where its range starts at the
        // bytes held; it must also run to the end of the listed file.
        const TContentRange range = sock_http->Response().ContentRange.value_or(TContentRange());
        const int64_t total = range.total >= 0 ? range.total : listed > 0 ? listed : range.end + 1;
        complete = range.end + 1 == total && (listed <= 0 || total == listed) && size == total;
    }
    if (!complete) {
        BRF_LOG(0, "** the answer for %s does not complete it (status %i, %lld bytes held)",
                path.c_str(), sock_http->StatusCode, static_cast<long long>(size));
        fs::remove(part, error);
        return false;
    }
    fs::rename(part, path, error);
    if (error) {
        throw std::runtime_error("Cannot rename \"" + part + "\"");
    }
    return true;
}

std::optional<int64_t> UpdateSession::PartHeldWhole() const {
    if (actCount < 0 || actCount >= newCount || sock_http->ResumeFrom <= 0 ||
        sock_http->StatusCode != 416 ||
        sock_http->Response().UnsatisfiedTotal != sock_http->ResumeFrom) {
        return std::nullopt;
    }
    const auto k = static_cast<size_t>(actCount);
    const int64_t listed = deltaInFlight_ && plannedDeltas_[k]
                               ? static_cast<int64_t>(plannedDeltas_[k]->size)
                               : ListedSize(actCount);
    if (listed != sock_http->ResumeFrom) {
        return std::nullopt;
    }
    return listed;
}

bool UpdateSession::ResumeRefused() {
    if (actCount < 0 || actCount >= newCount || sock_http->ResumeFrom <= 0 ||
        sock_http->StoredAt >= 0 ||
        (sock_http->StatusCode != 416 && sock_http->StatusCode != 206)) {
        return false;
    }
    const std::string part =
        PartOf(game_files::InPatch(downloadList.at(static_cast<size_t>(actCount)).name));
    BRF_LOG(0, "** the server did not continue %s at %lld bytes (status %i): starting over",
            part.c_str(), static_cast<long long>(sock_http->ResumeFrom), sock_http->StatusCode);
    std::error_code ignored;
    fs::remove(part, ignored);
    return true;
}

bool UpdateSession::CountFailedReceipt() {
    if (++corruptReceipts_ >= kMaxReceipts) {
        // A file that keeps arriving corrupt is not fetched for ever.
        BRF_LOG(0, "** file arrived corrupted %i times, giving up: patch/%s", corruptReceipts_,
                downloadList.at(static_cast<size_t>(actCount)).name.c_str());
        corruptReceipts_ = 0;
        return false;
    }
    AddLog(kTextFileCorrupted);
    return true;
}

int32_t UpdateSession::ListedSize(int32_t index) const {
    return std::max(0, downloadList.at(static_cast<size_t>(index)).size);
}

bool UpdateSession::ReceivedPatchFile(CmdType Cmd, std::optional<int64_t> fetchedAhead) {
    if (deltaInFlight_) {
        ReceivedDelta(fetchedAhead);
        return true;
    }
    const std::string path =
        game_files::InPatch(downloadList.at(static_cast<size_t>(actCount)).name);
    BRF_LOG(1, "received file: %s", path.c_str());
    // The whole file is checked, however many transfers it took.
    int32_t result = kNotCompleted;
    if (TakePart(path, ListedSize(actCount), fetchedAhead.has_value())) {
        const base::Result<> authentic = Authentic(path, path);
        if (authentic) {
            result = CPack::Get()->CheckFile(path.c_str());
        } else {
            // Not the published file, whatever its checksum says: it goes,
            // and is fetched again like a corrupt one.
            result = kNotAuthentic;
            BRF_LOG(0, "** %s", authentic.reason().c_str());
            std::error_code ignored;
            fs::remove(path, ignored);
        }
    }
    if (result == CPack::kCheckOk) {
        BRF_LOG(1, "file is ok.");
        AcceptReceivedFile(fetchedAhead
                               ? static_cast<int32_t>(std::min<int64_t>(*fetchedAhead, INT32_MAX))
                               : HeldBytes());
        return true;
    }
    BRF_LOG(0, "** file is corrupted, trying again! (%i)", result);
    if (!CountFailedReceipt()) {
        FailRun(Cmd);
        return false;
    }
    DownloadFile(actCount);
    return true;
}

int32_t UpdateSession::HeldBytes() const {
    return static_cast<int32_t>(std::min<int64_t>(
        std::max<int64_t>(sock_http->StoredAt, 0) + sock_http->ReceivedBytes, INT32_MAX));
}

void UpdateSession::AcceptReceivedFile(int32_t held) {
    if (fileProgress) {
        (*fileProgress)[actCount] = held;
    }
    DecodeReceived(actCount);
    actCount++;
    corruptReceipts_ = 0;
    AddLog(kTextFileReceived);
    NextFileOrInstall();
}

void UpdateSession::DecodeReceived(int32_t index) {
    const auto k = static_cast<size_t>(index);
    const version_index::ListEntry& entry = downloadList.at(k);
    BackUpAhead(entry);
    // The next updater replaces the program, not a game file; a file made
    // from a delta is whole already.
    if (config_.decodeAhead && entry.name != kUpdaterContainer &&
        !(k < appliedFiles_.size() && appliedFiles_[k])) {
        decodeAhead_.Start(game_files::InPatch(entry.name), entry.target);
    }
}

void UpdateSession::NextFileOrInstall() {
    if (actCount < newCount) {
        DownloadFile(actCount);
    } else {
        InstallFiles();
    }
}

void UpdateSession::DropBrokenCopy() {
    if (actCount < 0 || actCount >= newCount) {
        return;
    }
    const std::string path =
        game_files::InPatch(downloadList.at(static_cast<size_t>(actCount)).name);
    if (CPack::Get()->CheckFile(path.c_str()) != CPack::kCheckOk) {
        BRF_LOG(1, "removing the broken copy %s", path.c_str());
        std::error_code ignored;
        fs::remove(path, ignored);
    }
}

namespace updater {

LocalCopy CompareLocalCopy(const std::string& path, const version_index::ListEntry& entry) {
    LocalCopy copy;
    std::error_code error;
    const uintmax_t size = fs::file_size(path, error);
    if (error) {
        return copy;
    }
    copy.localSize = static_cast<int32_t>(size);
    plat::LocalTime time{};
    if (plat::FileLastWriteLocal(path.c_str(), &time)) {
        copy.localTime = Printf("%04d-%02d-%02d %02d:%02d:%02d", time.year, time.month, time.day,
                                time.hour, time.minute, time.second);
    }
    copy.remoteSize = entry.size;
    if (!entry.stamp.empty()) {
        copy.remoteTime = entry.stamp;
    }
    return copy;
}

bool LocalCopy::LooksSame() const {
    return localSize == remoteSize && LocalTimeIsNewer(localTime, remoteTime);
}

}  // namespace updater

void UpdateSession::StartTransfers() {
    // The transfers that asked for the bundle ahead go on, to hand it its run.
    if (!transfers_ || !transfers_->Expecting()) {
        StopTransfers();
    }
    if (config_.connections == 0 || newCount == 0) {
        StopTransfers();
        return;
    }
    std::optional<bundle_lines::Bundle> bundle;
    if (config_.bundles) {
        const bundle_lines::Announced announced = bundle_lines::ReadBundleLines(
            base::ReadWholeFile(game_files::kVersionIndexPath).value_or(""));
        for (const std::string& problem : announced.problems) {
            BRF_LOG(1, "bundle line ignored: %s", problem.c_str());
        }
        if (const bundle_lines::Bundle* found =
                bundle_lines::FindBundle(announced, {clientVersion, clientBuild})) {
            bundle = *found;
        }
    }
    std::map<std::string, const bundle_lines::Member*> members;
    if (bundle) {
        for (const bundle_lines::Member& member : bundle->members) {
            members.emplace(member.name, &member);
        }
    }

    std::vector<updater::Transfers::File> files;
    std::vector<updater::Transfers::Member> inBundle;
    std::set<std::string> planned;
    for (int32_t k = 0; k < newCount; ++k) {
        const version_index::ListEntry& entry = downloadList[static_cast<size_t>(k)];
        // A copy that may be the listed file is asked about at its turn, and
        // a name listed twice is fetched at its turn too.
        if (updater::CompareLocalCopy(game_files::InPatch(entry.name), entry).LooksSame()) {
            continue;
        }
        const std::optional<delta_lines::Delta>& delta = plannedDeltas_[static_cast<size_t>(k)];
        const std::string name = delta ? delta->name : entry.name;
        if (!planned.insert(name).second) {
            continue;
        }
        const int64_t size = delta ? static_cast<int64_t>(delta->size) : ListedSize(k);
        updater::Transfers::File file{k, game_files::InPatch(name),
                                      game_files::InPatch(name) + ".part", size,
                                      size + kPatchSizeMargin};
        const auto member = members.find(name);
        if (member != members.end() && static_cast<int64_t>(member->second->size) == size &&
            size > 0 && (!delta || member->second->sha256 == delta->sha256) &&
            updater::Transfers::PartSize(file.part) < size) {
            inBundle.push_back({file, member->second->offset, member->second->sha256});
        } else {
            files.push_back(file);
        }
    }

    // The members still needed, in bundle order, as runs of one request.
    std::sort(inBundle.begin(), inBundle.end(),
              [](const auto& a, const auto& b) { return a.offset < b.offset; });
    std::vector<updater::Transfers::BundleRun> runs;
    uint64_t runEnd = 0;
    for (updater::Transfers::Member& member : inBundle) {
        const uint64_t start =
            member.offset + static_cast<uint64_t>(updater::Transfers::PartSize(member.file.part));
        if (runs.empty() || start > runEnd + kMergeGap) {
            runs.push_back({game_files::InPatch(bundle->name), bundle->size, {}, false});
        }
        runEnd = member.offset + static_cast<uint64_t>(member.file.size);
        runs.back().members.push_back(std::move(member));
    }
    if (bundle) {
        BRF_LOG(1, "bundle %s: %zu of its %zu members needed, in %zu request(s)",
                bundle->name.c_str(), inBundle.size(), bundle->members.size(), runs.size());
    }
    BRF_LOG(1, "fetching %zu file(s) ahead on up to %u connections", inBundle.size() + files.size(),
            config_.connections);

    if (!transfers_) {
        CreateTransfers();
    }
    transfers_->Start(std::move(runs), std::move(files));
}

void UpdateSession::CreateTransfers() {
    EnsureTrailingSlash();
    updater::Transfers::Settings settings;
    settings.base = serverAddress_;
    settings.proxy = sock_http->Proxy;
    settings.proxyPort = sock_http->ProxyPort;
    const THeaderInfo& credentials = sock_http->HeaderInfo;
    if (!credentials.UserId.empty() && !credentials.Password.empty()) {
        settings.authorization = BasicAuthorization(credentials.UserId, credentials.Password);
    }
    settings.connectTimeoutMs = sock_http->ConnectTimeOut;
    settings.stallMs = sock_http->StallTimeOut;
    settings.connections = config_.connections;
    transfers_ = std::make_unique<updater::Transfers>(
        settings, [](const std::string& line) { BRF_LOG(0, "** %s", line.c_str()); },
        [this] { TransfersProgressed(); });
}

// On a line with latency every request made after another costs its round
// trips, so the index and the installed release's bundle are asked for
// beside the server list. Nothing of them is used before the server list is
// accepted; the bundle only once the index names it for this client and the
// run needs all of it, else its answer is dropped unread. Whatever is not
// used is asked for again as it would have been.
void UpdateSession::RequestAhead() {
    StopTransfers();
    if (config_.connections == 0) {
        return;
    }
    CreateTransfers();
    std::error_code ignored;
    fs::remove(kIndexAhead, ignored);
    transfers_->Start(
        {}, {{kIndexAheadSlot, game_files::kVersionIndexPath, kIndexAhead, 0, kMaxTextFileSize}});
    if (!config_.bundles || config_.installCheck == InstallCheck::Verify || clientVersion == 0 ||
        ContinuesAnEarlierAttempt()) {
        return;  // it asks for the ranges of its bundle that are still missing
    }
    transfers_->Expect(game_files::InPatch(bundle_lines::BundleName({clientVersion, clientBuild})));
}

bool UpdateSession::ContinuesAnEarlierAttempt() const {
    std::error_code error;
    for (fs::directory_iterator entry(game_files::kPatchDir, error), end; !error && entry != end;
         entry.increment(error)) {
        if (entry->path().filename().string().ends_with(".part")) {
            return true;
        }
    }
    // The index kept from the last run names a bundle for this very release:
    // that run set out on this update, and may have left members whole.
    const bundle_lines::Announced kept = bundle_lines::ReadBundleLines(
        base::ReadWholeFile(game_files::kVersionIndexPath).value_or(""));
    return bundle_lines::FindBundle(kept, {clientVersion, clientBuild}) != nullptr;
}

void UpdateSession::RequestIndex() {
    if (!transfers_ || !transfers_->Covers(kIndexAheadSlot)) {
        RequestFile(game_files::kVersionIndexPath, kMaxTextFileSize, Origin::SuccessHandler, true);
        return;
    }
    awaitingTransfer_ = true;
    transfers_->Await(kIndexAheadSlot, [this](const updater::Transfers::Result& result) {
        awaitingTransfer_ = false;
        if (Closing() || runState_ != RunState::VersionIndex) {
            return;
        }
        std::error_code error;
        if (result.complete && result.bytes <= kMaxTextFileSize) {
            fs::rename(kIndexAhead, game_files::kVersionIndexPath, error);
            if (!error) {
                BRF_LOG(1, "received ahead: %s", game_files::kVersionIndexPath.c_str());
                sock_http->ReceivedBytes = static_cast<int32_t>(result.bytes);
                sock_httpSuccess(CmdGET);
                return;
            }
        }
        BRF_LOG(1, "the version index asked for ahead is not used (%s): asking again",
                result.complete ? "too large or not movable" : result.problem.c_str());
        fs::remove(kIndexAhead, error);
        RequestFile(game_files::kVersionIndexPath, kMaxTextFileSize, Origin::SuccessHandler, true);
    });
}

void UpdateSession::AwaitTransfer(int32_t index) {
    awaitingTransfer_ = true;
    transfers_->Await(index, [this, index](const updater::Transfers::Result& result) {
        TransferArrived(index, result);
    });
}

void UpdateSession::TransferArrived(int32_t index, const updater::Transfers::Result& result) {
    awaitingTransfer_ = false;
    if (Closing() || runState_ != RunState::PatchDownload || actCount != index) {
        return;  // the run ended while the file was on its way
    }
    try {
        const auto k = static_cast<size_t>(index);
        if (result.complete) {
            deltaInFlight_ = plannedDeltas_[k].has_value();
            ReceivedPatchFile(CmdGET, result.bytes);
        } else if (plannedDeltas_[k] && result.status >= 400) {
            FallBackToContainer("the server did not send it");
        } else {
            BRF_LOG(1, "the transfer ahead of %s did not complete it (%s): fetching it alone",
                    downloadList[k].name.c_str(), result.problem.c_str());
            if (!FetchDelta(index)) {
                RequestContainer(index);
            }
        }
        SelectLastLine();
    } catch (const std::exception& error) {
        ReportException(error.what());
    }
}

void UpdateSession::TransfersProgressed() {
    if (!transfers_ || !fileProgress) {
        return;
    }
    std::vector<int32_t>& progress = *fileProgress;
    transfers_->ForEachHeld([&progress](int32_t index, int64_t bytes) {
        if (index >= 0 && static_cast<size_t>(index) < progress.size()) {
            progress[static_cast<size_t>(index)] =
                static_cast<int32_t>(std::min<int64_t>(bytes, INT32_MAX));
        }
    });
    ShowProgress();
}

void UpdateSession::StopTransfers() {
    if (transfers_) {
        BRF_LOG(2, "transfers ahead: %s", transfers_->Summary().c_str());
    }
    awaitingTransfer_ = false;
    transfers_.reset();
    std::error_code ignored;
    fs::remove(kIndexAhead, ignored);  // an index asked for ahead and not used
}

// The update run: the check and cancel buttons, the requests, the handling
// of every event of the HTTP client, and the version index as the player
// sees it (what it decides for the installed client, and its section
// turned into the download list).
#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <filesystem>

#include "index/game_files.h"
#include "platform/event_loop.h"
#include "platform/locale.h"
#include "platform/process.h"
#include "shared/base/s_logging.h"
#include "shared/base/s_mutex.h"
#include "shared/options/s_options.h"
#include "texts/texts.h"
#include "updater/session/u_session.h"

namespace fs = std::filesystem;
using updater::Text;
using version_index::Decision;

void UpdateSession::AddLog(TextId textId) {
    observer_.LogLine(Text(textId));
}

void UpdateSession::AddLogLine(const std::string& line) {
    observer_.LogLine(line);
}

void UpdateSession::SelectLastLine() {
    observer_.ShowNewestLine();
}

void UpdateSession::EnsureTrailingSlash() {
    if (serverAddress_.empty() || serverAddress_.back() != '/') {
        serverAddress_ += '/';
        observer_.ServerAddressChanged(serverAddress_);
    }
}

bool UpdateSession::Closing() const {
    return stopped_ || plat::MainLoop().Terminated();
}

void UpdateSession::Post(std::function<void()> step) {
    ++pendingSteps_;
    std::weak_ptr<bool> alive = alive_;
    plat::PostTask([this, alive, step = std::move(step)] {
        if (alive.expired()) {
            return;
        }
        --pendingSteps_;
        if (!Closing()) {
            step();
        }
    });
}

void UpdateSession::RequestFile(const std::string& path, int32_t maxBodySize, Origin origin,
                                bool logRequest, int64_t resumeFrom, int64_t total) {
    EnsureTrailingSlash();
    const std::string url = serverAddress_ + path;
    if (logRequest) {
        BRF_LOG(1, "requesting file: %s", url.c_str());
    }
    sock_http->MaxBodySize = maxBodySize;
    // The request starts once the handler that asked for it has returned,
    // so requests never nest inside each other's events.
    Post([this, url, origin, resumeFrom, total] { RunRequest(url, origin, resumeFrom, total); });
}

void UpdateSession::RunRequest(std::string url, Origin origin, int64_t resumeFrom, int64_t total) {
    requestRunning_ = true;
    sock_http->ResumeFrom = resumeFrom;
    sock_http->ResumeTotal = total;
    const base::Result<> fetched = sock_http->Fetch(url);
    requestRunning_ = false;
    if (fetched.ok()) {
        return;
    }
    const base::Failure& error = fetched.failure();
    if (Closing()) {
        return;  // the front end went away during the request
    }
    if (runState_ == RunState::Cancelled) {
        // The cancel cut the transfer short; acknowledge it as the next
        // event would have.
        AcknowledgeCancel();
        return;
    }
    if (runState_ == RunState::PatchDownload && deltaInFlight_) {
        FallBackToContainer("its transfer failed: " + error.reason);
        return;
    }
    switch (origin) {
        case Origin::CheckButton:
            // The application shows the error; the button must not stay
            // disabled for good after it.
            observer_.ShowError(error.reason);
            EnableCheck(true);
            break;
        case Origin::SuccessHandler:
            ReportException(error.reason);
            break;
        case Origin::UpdaterDownload:
            BRF_LOG(0, "** request of the new updater failed: %s", error.reason.c_str());
            FailRun(CmdGET);
            break;
    }
    if (runState_ == RunState::PatchDownload) {
        DropBrokenCopy();
    }
    if (!error.path.empty()) {
        ReportFileProblem(error.path, error.code,
                          runState_ == RunState::PatchDownload
                              ? SpaceNeeded(PlanInstall(false).entries, true)
                              : 0);
    }
}

void UpdateSession::AcknowledgeCancel() {
    AddLog(kTextCancelled);
    EnterState(RunState::Idle);
    SelectLastLine();
    EndRun();
}

const char* RunStateName(RunState state) {
    switch (state) {
        case RunState::Idle:
            return "idle";
        case RunState::ServerList:
            return "server list";
        case RunState::VersionIndex:
            return "version index";
        case RunState::UpdaterDownload:
            return "updater download";
        case RunState::PatchDownload:
            return "patch download";
        case RunState::Ready:
            return "ready";
        case RunState::Cancelled:
            return "cancelled";
    }
    return "?";
}

void UpdateSession::EnterState(RunState next) {
    if (next != runState_) {
        BRF_LOG(2, "run state: %s -> %s", RunStateName(runState_), RunStateName(next));
    }
    runState_ = next;
}

void UpdateSession::SetUpdateScale(int32_t scale) {
    updateScale_ = scale;
    observer_.ProgressScale(scale);
}

void UpdateSession::EndRun() {
    StopTransfers();
    installedHashes_.reset();
    installCheck_.reset();
    deltaApply_.reset();
    decodeAhead_.Discard();
    EnableCheck(true);
}

void UpdateSession::ReportException(const std::string& what) {
    BRF_LOG(0, "** unexpected exception: %s", what.c_str());
    AddLogLine(Text(kTextUnexpectedException) + what);
    SelectLastLine();
    EndRun();
}

void UpdateSession::Check() {
    if (runState_ == RunState::Ready) {
        EnableCheck(false);
        const char* directory = CLog::Get()->appDirectory();
        const bool started =
            COpt::Get()->do_first_setup != 0
                ? ExecWithMutex("EXECCONFIG.MUTEX", directory, "BRFConfig.exe", "RUNCONFIG.MUTEX")
                : ExecWithMutex("EXECTERMS.MUTEX", directory, "terms.exe", "RUNTERMS.MUTEX");
        if (started) {
            observer_.CloseRequested();
        } else {
            EnableCheck(true);
        }
        return;
    }
    if (serverAddress_.empty()) {
        // Without an address there is nothing to connect to: refuse the run
        // and leave the button usable.
        BRF_LOG(0, "** no update server address");
        AddLog(kTextConnectionFailed);
        SelectLastLine();
        EnableCheck(true);
        return;
    }
    decodeAhead_.RemoveLeftovers();
    CompleteInterruptedInstall([this] { RequestServerList(); });
}

void UpdateSession::RequestServerList() {
    observer_.UpdateSize("0");
    signedFiles_.reset();
    repairing_ = false;
    olderRelease_ = false;
    differing_.reset();
    walkingRoots_ = false;
    sock_http->InputFileMode = true;
    sock_http->Body = kServerListTemp;
    sock_http->Header.clear();
    AddLog(kTextLoadingServerList);
    EnableCheck(false);
    EnterState(RunState::ServerList);
    EnsureTrailingSlash();
    UseSystemProxy();
    RequestAhead();
    RequestFile(game_files::kServerListPath, kMaxTextFileSize, Origin::CheckButton, true);
}

void UpdateSession::Cancel() {
    if (sock_http->IsConnected) {
        BRF_LOG(1, "Cancel was pressed with active connections, close it");
        EnterState(RunState::Cancelled);
        sock_http->Disconnect();
    } else if (awaitingTransfer_ || installedHashes_ || installCheck_) {
        // The run waits for files fetched ahead or for the installed files'
        // hashes: that work ends now, and the cancel is acknowledged as a cut
        // request's event would.
        BRF_LOG(1, "Cancel was pressed with active connections, close it");
        EnterState(RunState::Cancelled);
        StopTransfers();
        installedHashes_.reset();
        installCheck_.reset();
        AcknowledgeCancel();
    } else if (heldFileWait_) {
        // The install waits for a file another program holds: it gives up
        // now, as it would once the time is up, and the record stays.
        BRF_LOG(1, "Cancel was pressed while waiting for a held file");
        FailInstall(installing_->held);
    } else {
        BRF_LOG(1, "Cancel was pressed with no active connections, close updater");
        observer_.CloseRequested();
    }
}

void UpdateSession::sock_httpSuccess(CmdType Cmd) {
    BRF_LOG(1, "httpSuccess, bytes received: %i, Cmd: %i", sock_http->ReceivedBytes,
            static_cast<int>(Cmd));
    try {
        switch (runState_) {
            case RunState::ServerList:
                if (!AcceptServerList()) {
                    FailRun(Cmd);
                    return;
                }
                if (sock_http->IsConnected) {
                    sock_http->Disconnect();
                }
                sock_http->InputFileMode = true;
                sock_http->Body = game_files::kVersionIndexPath;
                sock_http->Header.clear();
                AddLog(kTextCheckingVersion);
                EnableCheck(false);
                EnterState(RunState::VersionIndex);
                RequestIndex();
                break;
            case RunState::VersionIndex: {
                if (walkingRoots_) {
                    if (!ReceivedRoot(Cmd)) {
                        return;
                    }
                } else if (sock_http->ReceivedBytes > kMaxTextFileSize) {
                    BRF_LOG(0, "** version index is larger than %i bytes", kMaxTextFileSize);
                    FailRun(Cmd);
                    return;
                } else if (Authenticating() && !AuthenticateIndex(Cmd)) {
                    return;
                }
                if (config_.installCheck == InstallCheck::Verify) {
                    VerifyInstall(Cmd);
                    break;
                }
                const IndexCheck result = CheckVersionIndex();
                if (result != IndexCheck::Patch) {
                    StopTransfers();  // the bundle asked for ahead is not this run's
                }
                if (result == IndexCheck::Patch) {
                    StartDownloadPhase();
                } else if (result == IndexCheck::Unusable) {
                    FailRun(Cmd);
                    return;
                } else if (runState_ == RunState::Ready) {
                    CheckInstall();  // the client is current: are its files?
                }
                break;
            }
            case RunState::PatchDownload:
                if (!ReceivedPatchFile(Cmd)) {
                    return;
                }
                break;
            case RunState::UpdaterDownload:
                ReceivedUpdater();
                break;
            case RunState::Cancelled:
                AcknowledgeCancel();
                break;
            default:
                break;
        }
        SelectLastLine();
    } catch (const std::exception& error) {
        ReportException(error.what());
    }
}

// The server list is received beside the game's list and replaces it only
// once it passed the content test, so an error page cannot destroy it.
bool UpdateSession::AcceptServerList() {
    std::error_code ignored;
    if (sock_http->ReceivedBytes > kMaxTextFileSize) {
        BRF_LOG(0, "** server list is larger than %i bytes", kMaxTextFileSize);
        fs::remove(kServerListTemp, ignored);
        return false;
    }
    const std::vector<std::string> lines = version_index::LoadTextLines(kServerListTemp);
    if (lines.empty() || lines.front().find("HTML") != std::string::npos) {
        fs::remove(kServerListTemp, ignored);
        return false;
    }
    if (Authenticating()) {
        // Held back until the signed index says whether it is the published
        // list (AuthenticateIndex).
        return true;
    }
    std::error_code error;
    fs::rename(kServerListTemp, "data/servers.dat", error);
    if (error) {
        BRF_LOG(0, "** cannot replace data/servers.dat: %s", error.message().c_str());
        fs::remove(kServerListTemp, ignored);
        return false;
    }
    return true;
}

void UpdateSession::StartDownloadPhase() {
    actCount = 0;
    backedUpAhead_.clear();
    observer_.Progress(0);
    redownloadAll = false;
    corruptReceipts_ = 0;

    PrepareDownloadList();
    PlanDeltas([this] {
        if (!Closing() && runState_ == RunState::VersionIndex) {
            ContinueDownloadPhase();
        }
    });
}

void UpdateSession::ContinueDownloadPhase() {
    try {
        StartDownloadList();
    } catch (const std::exception& error) {
        ReportException(error.what());
    }
    SelectLastLine();
}

void UpdateSession::StartDownloadList() {
    const updater::SizeDisplay size = updater::SizeForDisplay(updateScale_);
    observer_.UpdateSize(
        updater::Printf(Text(kTextUpdateSize), newCount, size.value, Text(size.unitText)));
    std::string value = updater::Printf("%.1f", size.value);
    for (char& c : value) {
        if (c == '.') {
            c = plat::DecimalSeparator();
        }
    }
    AddLogLine(std::string(Text(kTextNewFilesFound)) + std::to_string(newCount) +
               Text(kTextOverallLength) + value + Text(size.unitText));

    EnterState(RunState::PatchDownload);
    fileProgress.emplace(static_cast<size_t>(newCount), 0);

    // Nothing is fetched that cannot be installed: what the run needs (the
    // containers, the backups, the new files) must fit on the game drive.
    std::error_code unknown;
    const fs::space_info space = fs::space(".", unknown);
    const uint64_t needed = SpaceNeeded(PlanInstall(false).entries, true);
    if (!unknown && needed > space.available) {
        BRF_LOG(0, "** the update needs %llu bytes on the game drive, %llu are free",
                static_cast<unsigned long long>(needed),
                static_cast<unsigned long long>(space.available));
        fileProgress.reset();
        ShowErrorBox(kTextDownloadError, kTextTryAgain, plat::BoxOwner::None);
        ReportFileProblem(".", std::make_error_code(std::errc::no_space_on_device), needed);
        EnableCheck(true);
        return;
    }
    if (newCount > 0) {
        StartTransfers();
        DownloadFile(0);
    } else {
        // A section without files: the run completes like one whose files
        // are all in place, so it ends ready and the button is usable again.
        InstallFiles();
    }
}

void UpdateSession::sock_httpFailure(CmdType Cmd) {
    if (runState_ == RunState::VersionIndex && walkingRoots_) {
        RootNotReceived(Cmd);
        return;
    }
    FailRun(Cmd);
}

void UpdateSession::FailRun(CmdType cmd, std::optional<RunState> reportAs) {
    if (ReportFailure(cmd, reportAs) && sock_http->StatusCode == 407 && !sock_http->Proxy.empty()) {
        // The report says what failed; this says why.
        AddLogLine(updater::Printf(
            Text(OwnText::ProxyLogin),
            (sock_http->Proxy + ":" + std::to_string(sock_http->ProxyPort)).c_str()));
        SelectLastLine();
    }
}

bool UpdateSession::ReportFailure(CmdType cmd, std::optional<RunState> reportAs) {
    const RunState failed = reportAs.value_or(runState_);
    BRF_LOG(0, "** httpFailure at runState: %i, Cmd: %i!", static_cast<int>(failed),
            static_cast<int>(cmd));
    switch (failed) {
        case RunState::ServerList:
            ShowErrorBox(kTextNoServerList, kTextMaintenance, plat::BoxOwner::None);
            break;
        case RunState::VersionIndex:
            ShowErrorBox(kTextNoVersionIndex, kTextVisitWebsites, plat::BoxOwner::None);
            break;
        case RunState::UpdaterDownload:
            ShowErrorBox(kTextNoUpdater, kTextUpdaterInfo, plat::BoxOwner::None);
            break;
        case RunState::PatchDownload: {
            if (const std::optional<int64_t> whole = PartHeldWhole()) {
                BRF_LOG(1, "the part file holds the whole file: %lld bytes",
                        static_cast<long long>(*whole));
                try {
                    ReceivedPatchFile(cmd, whole);
                } catch (const std::exception& error) {
                    ReportException(error.what());
                }
                SelectLastLine();
                return false;
            }
            if (deltaInFlight_) {
                FallBackToContainer("the server did not send it");
                return false;
            }
            // A server that will not continue a part file gets asked for
            // the whole file, within the file's attempts.
            if (ResumeRefused() && CountFailedReceipt()) {
                DownloadFile(actCount);
                SelectLastLine();
                return false;
            }
            ShowErrorBox(kTextDownloadError, kTextTryAgain, plat::BoxOwner::None);
            DropBrokenCopy();
            break;
        }
        case RunState::Cancelled:
            AcknowledgeCancel();
            return false;
        default:
            break;
    }
    SelectLastLine();
    EndRun();
    return true;
}

void UpdateSession::ShowErrorBox(TextId textId, TextId secondTextId, plat::BoxOwner owner) {
    observer_.MessageBox(std::string(Text(textId)) + Text(secondTextId), Text(kTextErrorCaption),
                         plat::kMbOk, owner);
    AddLog(textId);
    AddLog(secondTextId);
}

void UpdateSession::sock_httpConnectionFailed() {
    BRF_LOG(0, "** connection failed");
    AddLog(kTextConnectionFailed);
    SelectLastLine();
    EndRun();
}

void UpdateSession::sock_httpInvalidHost(bool& Handled) {
    BRF_LOG(0, "** unknown update server");
    AddLog(kTextConnectionFailed);
    SelectLastLine();
    EndRun();
    Handled = true;
}

void UpdateSession::sock_httpPacketRecvd() {
    if (!fileProgress || actCount < 0 || actCount >= static_cast<int32_t>(fileProgress->size())) {
        return;
    }
    std::vector<int32_t>& progress = *fileProgress;
    progress[actCount] = HeldBytes();
    const int32_t shown = ShowProgress();
    BRF_LOG(3, "actCount/newCount: %i,%i; actProgress=%i; overallProgress=%i", actCount, newCount,
            progress[actCount], shown);
}

int32_t UpdateSession::ShowProgress() {
    int64_t position = 0;
    for (const int32_t bytes : *fileProgress) {
        position += bytes;
    }
    const auto shown = static_cast<int32_t>(std::clamp<int64_t>(position, INT32_MIN, INT32_MAX));
    observer_.Progress(shown);
    return shown;
}

version_index::Verdict UpdateSession::DecideIndex(int32_t updaterVersion) {
    version_index::Verdict verdict;
    try {
        versionIndex = version_index::LoadIndex(game_files::kVersionIndexPath);
        verdict = version_index::Decide(versionIndex, {clientVersion, clientBuild}, updaterVersion);
    } catch (const std::exception& error) {
        verdict.decision = Decision::Unusable;
        verdict.problem = error.what();
    }
    return verdict;
}

UpdateSession::IndexCheck UpdateSession::CheckVersionIndex() {
    BRF_LOG(1, "now checking the version index file");
    newCount = 0;
    sectionStart = -1;
    versionIndex = {};
    const int32_t own = config_.updaterVersion;
    const version_index::Verdict verdict = DecideIndex(own);
    if (verdict.neededUpdater && *verdict.neededUpdater < own) {
        BRF_LOG(1, "local updater is newer: %i, needed version is: %i", own,
                *verdict.neededUpdater);
    }
    // Ends the run here with a box and its line in the action log.
    const auto refuse = [this](TextId text) {
        observer_.MessageBox(Text(text), Text(kTextErrorCaption), plat::kMbOk,
                             plat::BoxOwner::None);
        AddLog(text);
        EnableCheck(true);
    };
    switch (verdict.decision) {
        case Decision::TooShort:
            BRF_LOG(1, "index file has not enough entries: %i",
                    static_cast<int32_t>(versionIndex.lines.size()));
            refuse(kTextIndexBroken);
            return IndexCheck::Unusable;
        case Decision::Unusable:
            BRF_LOG(2, "version index unusable: %s", verdict.problem.c_str());
            return IndexCheck::Unusable;
        case Decision::NewUpdater:
            StartUpdaterDownload(*verdict.neededUpdater);
            return IndexCheck::NewUpdater;
        case Decision::UpdaterTooOld:
            BRF_LOG(1, "local updater %i does not meet minimum requirement: %i", own,
                    *verdict.minimumUpdater);
            refuse(kTextUpdaterTooOld);
            return IndexCheck::Ended;
        default:
            break;
    }

    neededVersion = verdict.needed.version;
    neededBuild = verdict.needed.build;
    minVersion = verdict.minimum.version;
    minBuild = verdict.minimum.build;
    if (verdict.decision == Decision::ClientCurrent) {
        BRF_LOG(1, "local client is up to date: %.3f.%i", clientVersion / 1000.0,
                static_cast<int32_t>(clientBuild));
        AddLog(kTextNoNewFiles);
        AddLog(kTextClientUpToDate);
        SelectLastLine();
        observer_.ReadyToStart();
        EnterState(RunState::Ready);
        return IndexCheck::Ended;
    }
    BRF_LOG(1, "local client has wrong version: %.3f.%i, needed version is: %.3f.%i",
            clientVersion / 1000.0, static_cast<int32_t>(clientBuild), neededVersion / 1000.0,
            static_cast<int32_t>(neededBuild));
    switch (verdict.decision) {
        case Decision::ClientTooOld:
            BRF_LOG(1, "client is too old to be patched");
            refuse(kTextClientTooOld);
            return IndexCheck::Ended;
        case Decision::NoSection:
            BRF_LOG(1, "no new files found in patch directory");
            refuse(kTextNoSection);
            return IndexCheck::Ended;
        default:
            sectionStart = static_cast<int32_t>(verdict.sectionStart);
            return IndexCheck::Patch;
    }
}

void UpdateSession::PrepareDownloadList() {
    BRF_LOG(1, "preparing list for all files, that have to be patched");
    newCount = 0;
    int64_t total = 0;
    SetUpdateScale(0);
    downloadList.clear();

    const size_t start =
        sectionStart < 0 ? versionIndex.lines.size() : static_cast<size_t>(sectionStart);
    for (version_index::WalkStep& step : version_index::WalkSection(
             versionIndex, start, {clientVersion, clientBuild},
             std::string(1, plat::PathSeparator()), signedFiles_ ? &*signedFiles_ : nullptr)) {
        BRF_LOG(2, "actual index string: %s", versionIndex.lines[step.at].c_str());
        if (step.fault) {
            throw EIndexError(step.fault->message);
        }
        if (!step.entry) {
            continue;
        }
        if (step.entry->directory) {
            BRF_LOG(2, "creating directory: %s", step.entry->target.c_str());
            std::error_code ignored;
            fs::create_directory(step.entry->target, ignored);
            continue;
        }
        total += step.entry->size;
        downloadList.push_back(std::move(*step.entry));
        newCount++;
    }
    // The bar counts in 32 bits; a set past 2 GiB shows as full scale.
    SetUpdateScale(static_cast<int32_t>(std::clamp<int64_t>(total, INT32_MIN, INT32_MAX)));
    BRF_LOG(1, "list is ready, new files:  %i", newCount);
}

namespace updater {

bool LocalTimeIsNewer(const std::string& local, const std::string& remote) {
    // char_traits<char> compares as unsigned bytes.
    return local.substr(0, 256).compare(remote.substr(0, 256)) > 0;
}

}  // namespace updater

namespace updater {

const char* Text(uint32_t id) {
    const char* text = GetText(CurrentLanguage, id);
    return text ? text : "";
}

const char* Text(OwnText id) {
    return GetOwnText(CurrentLanguage, id);
}

SizeDisplay SizeForDisplay(int32_t bytes) {
    const double total = bytes;
    if (total / 1048576 > 1) {
        return {total / 1048576, kTextUnitMBytes};
    }
    if (total / 1024 > 1) {
        return {total / 1024, kTextUnitKBytes};
    }
    return {total, kTextUnitBytes};
}

}  // namespace updater

// UpdateSession: one update run after another, apart from any window.
//
// A run is driven by the events of the HTTP client `sock_http`: Check
// requests the game-server list, its arrival the version index, and the
// index decides between the new updater and the patch files of the
// installed client, which are checked, kept or fetched again, and installed
// with backups. `State()` says where the run is; only EnterState changes it,
// and it logs each change. What the player is to see goes to the
// SessionObserver.
//
// Every request is started from a task posted to the message loop once the
// previous request has fully returned, so a run of any length never nests
// requests inside each other's events and the stack stays flat. Long work
// (hashing, applying a delta, decoding) runs on workers whose results the
// loop delivers; no step pumps the loop itself.
//
// One run through the files: u_update_run.cpp (Check, the server list and
// the index arriving, CheckVersionIndex, PrepareDownloadList, the start of
// the download phase), u_download.cpp (DownloadFile for each file, fetched
// ahead or alone, and its checks), u_install.cpp (InstallFiles, waiting for
// files other programs hold). Deltas (u_delta.cpp), signatures
// (u_authenticate.cpp), the updater's own replacement (u_self_update.cpp)
// and the check and repair of a current client's files against the index's
// manifest (u_repair.cpp) join where the index calls for them; the
// session's life around its runs is u_session.cpp.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "delta/delta_apply.h"
#include "index/delta_lines.h"
#include "index/game_files.h"
#include "index/manifest_lines.h"
#include "index/signed_index.h"
#include "index/trust.h"
#include "index/version_index.h"
#include "net/http_client.h"
#include "platform/printf_format.h"
#include "shared/base/s_text.h"
#include "texts/own_texts.h"
#include "texts/texts.h"
#include "updater/session/u_background_job.h"
#include "updater/session/u_config.h"
#include "updater/session/u_decode_ahead.h"
#include "updater/session/u_directory_flusher.h"
#include "updater/session/u_install_record.h"
#include "updater/session/u_installed_hashes.h"
#include "updater/session/u_session_observer.h"
#include "updater/session/u_temp_copy.h"
#include "updater/session/u_transfers.h"

// Where a run is. Only UpdateSession::EnterState changes it, and it logs
// each change.
enum class RunState : int32_t {
    Idle = 0,
    ServerList = 1,
    VersionIndex = 2,
    UpdaterDownload = 3,
    PatchDownload = 4,
    Ready = 5,
    Cancelled = 6,
};
const char* RunStateName(RunState state);

namespace updater {
// A file of the manifest whose installed copy is missing or differs.
struct InstallDifference {
    std::string path;
    bool missing = false;
};
using InstallDifferences = std::vector<InstallDifference>;
}  // namespace updater

// A fault in the version index or the download list that ends the run
// through the exception report.
using EIndexError = version_index::IndexError;

class UpdateSession {
public:
    // Receipts of one file that may fail the container check before the run
    // gives up on it.
    static constexpr int kMaxReceipts = 5;
    // What the server list and the version index may hold at most; no real
    // one comes near it.
    static constexpr int32_t kMaxTextFileSize = 16 * 1024 * 1024;
    // How far a patch file may run past its listed size before receiving
    // stops; it then fails its check like any corrupt file.
    static constexpr int32_t kPatchSizeMargin = 64 * 1024;
    // The files of the self-replacement: the container of the next updater as
    // received, the temporary copy decoded from it, the updater's own name.
    static constexpr const char* kUpdaterContainer = game_files::kUpdaterContainer;
    static constexpr const char* kTempProgram = game_files::kTempProgram;
    static constexpr const char* kProgram = game_files::kUpdaterProgram;
    // The serial of the last signed index this game directory accepted; an
    // index with a lower one is an old one replayed.
    static constexpr const char* kSerialFile = "save/indexserial.sav";
    // Under root keys: the newest root this game directory accepted and the
    // serial of the last index, as trust::FormatState writes them.
    static constexpr const char* kTrustFile = "save/trust.sav";
    // A root document is received here; none comes near the limit.
    static constexpr const char* kRootTemp = "patch/_root.part";
    static constexpr int32_t kMaxRootSize = 256 * 1024;
    // The record of an install that has begun and not yet ended; written
    // beside and renamed into place.
    static constexpr const char* kInstallRecord = "patch/_install.rec";
    // The list of the files decoded ahead of the install, kept until they
    // are installed or removed.
    static constexpr const char* kDecodingList = "patch/_decoding.lst";
    // Where the install keeps the old game files it replaced.
    static constexpr const char* kBackupDir = "patch/backup";
    // The received-file check's code for a file that is not the one the
    // signed index lists.
    static constexpr int32_t kNotAuthentic = -10;

    // What the index check leads to: the next updater is fetched, the index
    // could not be used (the run ends through the failure report), the run
    // ended here, or the client's section is fetched.
    enum class IndexCheck { NewUpdater, Unusable, Ended, Patch };

    // The session of an updater built as `config`, reporting to `observer`,
    // which outlives it. Nothing happens before Start.
    UpdateSession(UpdaterConfig config, updater::SessionObserver& observer);
    ~UpdateSession();
    UpdateSession(const UpdateSession&) = delete;
    UpdateSession& operator=(const UpdateSession&) = delete;

    // What the front ends do with the session.
    // The program's start: the log, the working directories, the language,
    // the installed client and the last server used; the second stage of a
    // self-replacement when this program is the temporary copy. A start
    // that cannot go on told the user and requested termination.
    void Start();
    // The front end is shown: the credentials of a test account, an
    // automatic run, and the clean-up of a self-replacement.
    void Activate();
    // The front end closes: every transfer and worker stops, and what a run
    // leaves behind goes.
    void Close();
    // The check button: starts a run, or the game once the client is ready.
    void Check();
    // The cancel button: cuts the run short, or closes when none runs.
    void Cancel();
    // The user chose another server: the run starts over from there.
    void SetServerAddress(const std::string& address);
    // The options file was changed by the settings program: its language
    // and proxy apply from now on. True when the language changed.
    bool OptionsChanged();
    // Reads the installed client's version; false when it could not be
    // determined (the user has been told and termination requested).
    bool ReadClientVersion();
    // The run's state, and the one way it changes.
    RunState State() const { return runState_; }
    void EnterState(RunState next);
    // True while a request runs, a step of the run waits in the loop, or the
    // run waits for a file fetched ahead, for the installed files' hashes,
    // for a delta being applied or for a file another program holds.
    bool Busy() const {
        return pendingSteps_ > 0 || requestRunning_ || awaitingTransfer_ || installedHashes_ ||
               deltaApply_ || heldFileWait_ || installCheck_;
    }

    // After a run with InstallCheck::Verify: how many files differ from the
    // newest release, an older release installed counting as one more;
    // none when no verify ended.
    std::optional<size_t> Differing() const { return differing_; }

    // The run's steps.
    IndexCheck CheckVersionIndex();
    void PrepareDownloadList();
    void DownloadFile(int32_t index);
    void InstallFiles();

    std::unique_ptr<THttpClient> sock_http;

    // Installed client.
    uint32_t clientVersion = 0;
    uint32_t clientBuild = 0;
    std::string installDir;

    // The run.
    int32_t newCount = 0;
    int32_t actCount = 0;
    std::optional<std::vector<int32_t>> fileProgress;
    bool redownloadAll = false;

    // The version index.
    version_index::Index versionIndex;
    uint32_t neededVersion = 0;
    uint32_t neededBuild = 0;
    uint32_t minVersion = 0;
    uint32_t minBuild = 0;
    int32_t sectionStart = -1;

    // The download list: the containers of the client's section.
    std::vector<version_index::ListEntry> downloadList;

private:
    // The HTTP client's events.
    void sock_httpSuccess(CmdType Cmd);
    void sock_httpFailure(CmdType Cmd);
    void sock_httpConnectionFailed();
    void sock_httpInvalidHost(bool& Handled);
    void sock_httpPacketRecvd();

    // Where a request was started, which decides how an error it raises is
    // reported.
    enum class Origin { CheckButton, SuccessHandler, UpdaterDownload };

    void AddLog(TextId textId);
    void AddLogLine(const std::string& line);
    void SelectLastLine();
    // The check button usable or not.
    void EnableCheck(bool enabled) { observer_.CheckButtonEnabled(enabled); }
    void EnsureTrailingSlash();
    // Makes sure the base address ends with "/" and starts the GET of base
    // address + `path` (into the client's Body) from a posted task; with
    // `resumeFrom` not negative as the client's ResumeFrom, and `total` (the
    // listed size, -1 when not known) as its ResumeTotal.
    void RequestFile(const std::string& path, int32_t maxBodySize, Origin origin, bool logRequest,
                     int64_t resumeFrom = -1, int64_t total = -1);
    void RunRequest(std::string url, Origin origin, int64_t resumeFrom, int64_t total);
    // The exception report: a step raised `what`; the run ends.
    void ReportException(const std::string& what);
    // The one way a run fails: the failure report of the state it failed in
    // (or of `reportAs`: a server list the signed index refused fails as the
    // server list), logged with the HTTP command `cmd`; the button usable
    // and the run's work ended. A cancelled run is acknowledged instead, and
    // a patch file whose answer still leaves a way on (the part file whole,
    // a delta's container, a fetch from the start) goes on.
    void FailRun(CmdType cmd, std::optional<RunState> reportAs = std::nullopt);
    // FailRun's report; false when the run went on (or was acknowledged as
    // cancelled) instead of ending with it.
    bool ReportFailure(CmdType cmd, std::optional<RunState> reportAs);
    // The cap on the transfer rate: the configuration's, else config.ini's.
    void UseRateLimit() const;
    // Without a proxy in config.ini, the one the system names for the
    // update server: the internet settings, else http_proxy and no_proxy.
    void UseSystemProxy();
    bool configProxy_ = false;
    // A run cut short by Cancel: the action-log line, and the button usable.
    void AcknowledgeCancel();
    // The run ended without installing: the button is usable again, and
    // what was decoded ahead for it goes.
    void EndRun();
    // The run's first request, once an interrupted install is complete.
    void RequestServerList();
    void StartDownloadPhase();
    // The download phase once the deltas are planned: the size display, the
    // room on the drive, the first file (StartDownloadList), with an error it
    // raises reported.
    void ContinueDownloadPhase();
    void StartDownloadList();
    // False when the run ended with the file (the failure report was shown).
    // `fetchedAhead`: the part file was fetched ahead and is whole, with
    // that many bytes; else the HTTP client's answer says what it holds.
    bool ReceivedPatchFile(CmdType Cmd, std::optional<int64_t> fetchedAhead = std::nullopt);
    // What the file at actCount holds: the bytes of a part file continued
    // and those received now.
    int32_t HeldBytes() const;
    // The file at actCount arrived whole and passed its checks, with `held`
    // bytes: the bar keeps them, the action log says so, and the run goes on
    // with the next file, or installs after the last.
    void AcceptReceivedFile(int32_t held);
    void NextFileOrInstall();
    // The container of file `index` is in patch/ and passed its checks: it
    // is decoded on a worker while the run goes on.
    void DecodeReceived(int32_t index);
    // Downloads of the files below "patch/" (u_download.cpp): each goes to
    // `path` + ".part" first, and a transfer cut short leaves what arrived
    // there for the next attempt to continue. FetchIntoPatch requests `path`,
    // listed with `listed` bytes (0: unknown); TakePart, after an answer
    // below 300, moves a complete part file to `path`, else removes it and
    // returns false; ResumeRefused says the last answer would not continue
    // the part file of the file at actCount (which it removes).
    void FetchIntoPatch(const std::string& path, int32_t listed);
    bool TakePart(const std::string& path, int32_t listed, bool fetchedAhead);
    bool ResumeRefused();
    // The last answer was a 416 saying that the part file of the file at
    // actCount holds all of it already (a run stopped just before taking
    // it): its size, which makes the part the received file.
    std::optional<int64_t> PartHeldWhole() const;
    // Counts a receipt of the file at actCount that cannot be used: true
    // when it is fetched again, false once it failed kMaxReceipts times.
    bool CountFailedReceipt();
    // The copy of the file at actCount, once the run stopped at it: a
    // broken one goes, so it never lies in patch/ for good.
    void DropBrokenCopy();

    // All-or-nothing installs (u_install.cpp). At the start of a run: a
    // record left by an install that did not finish is completed from the
    // containers in patch/, or, where they are not all there, the run
    // fetches them again as for the record's starting version; `then` goes
    // on with the run, and is not called when the completion failed (and
    // was reported).
    void CompleteInterruptedInstall(std::function<void()> then);
    // Backs up and replaces the entries' targets in order, then calls
    // `done`; `resume` keeps every backup already made, as the file there
    // may already be new. A failure is reported and ends the run. A file
    // another program holds open is tried again with growing pauses for up
    // to kHeldFileWaitMs, from the loop, while the front end stays usable.
    void InstallEntries(const std::vector<updater::InstallRecord::Entry>& entries, bool resume,
                        std::function<void()> done);
    static constexpr int32_t kHeldFileWaitMs = 20000;
    static constexpr int32_t kFirstHeldFilePauseMs = 250;
    static constexpr int32_t kLongestHeldFilePauseMs = 4000;
    // An install under way: its entries, the one it is at (with the file
    // decoded for it, once there), how long that one was waited for, and
    // what runs once every entry is in place.
    struct Installing {
        std::vector<updater::InstallRecord::Entry> entries;
        bool resume = false;
        size_t next = 0;
        std::optional<updater::DecodeAhead::Outcome> decoded;
        int32_t waitedMs = 0;
        int32_t pauses = 0;
        std::error_code held;  // what the system said of the held file
        std::function<void()> done;
        // By entry: no later entry changes its target's directory.
        std::vector<bool> closesDirectory;
    };
    // The backups made as the files arrived (BackUpAhead), by path.
    void BackUpAhead(const version_index::ListEntry& entry);
    std::set<std::string> backedUpAhead_;
    // The directories the install is done with are flushed while it goes
    // on; ClearInstallRecord adds the rest and waits for them all.
    std::unique_ptr<updater::DirectoryFlusher> flusher_;
    std::optional<Installing> installing_;
    // The pause before a held file is tried again.
    std::unique_ptr<updater::BackgroundJob<bool>> heldFileWait_;
    void ContinueInstall();
    // Backs up one entry's target and puts its new file in place; false,
    // with `why` where the system said why, when it could not.
    bool PutInPlace(const updater::InstallRecord::Entry& entry,
                    const updater::DecodeAhead::Outcome& decoded, bool resume,
                    std::error_code& why);
    void WaitForHeldFile(const std::string& path);
    // The install gives up at its current entry, for `why`.
    void FailInstall(const std::error_code& why);
    // The lines and questions after the last file is in place.
    void FinishInstall();

    // The installed release against the index's manifest (u_repair.cpp).
    // With the client at the newest release: compares the files as the
    // configuration says (`verifying`: for a verify, which reports an index
    // without a manifest) and goes on in InstallCompared.
    void CheckInstall(bool verifying = false);
    // The index received, read into versionIndex, and what it decides for
    // the installed client and an updater of `updaterVersion`; Unusable,
    // with the reason, when it cannot be read.
    version_index::Verdict DecideIndex(int32_t updaterVersion);
    // A verify instead of an update, once the index is accepted.
    void VerifyInstall(CmdType Cmd);
    // Reports what differs (a verify), or fetches and installs it.
    void InstallCompared(const updater::InstallDifferences& differing);
    manifest_lines::Manifest manifest_;
    std::unique_ptr<updater::BackgroundJob<updater::InstallDifferences>> installCheck_;
    // The run repairs files of the newest release rather than update.
    bool repairing_ = false;
    bool olderRelease_ = false;
    std::optional<size_t> differing_;
    // Puts every replaced file and backup on the disk, then removes the record.
    void ClearInstallRecord(const updater::InstallRecord& record);
    // The install of the section as a record, the version carrier last;
    // with the sizes of the `received` containers, else the listed ones.
    updater::InstallRecord PlanInstall(bool received) const;
    // Bytes the drive must still take for `entries`: what is left to fetch
    // (with `download`), the backups, the new files; less the old backups
    // that an install which is not a resumed one removes first.
    uint64_t SpaceNeeded(const std::vector<updater::InstallRecord::Entry>& entries,
                         bool download) const;
    // The action-log line after a failure report that a file could not be
    // written or replaced: the drive is full (and by how much, against
    // `needed`), or the updater may not change `path`; the system's reason
    // goes to the log.
    // `holders` names the programs that hold the file open, where known.
    void ReportFileProblem(const std::string& path, const std::error_code& reason, uint64_t needed,
                           const std::vector<std::string>& holders = {});
    // The install of an interrupted update that this run fetches again.
    std::optional<updater::InstallRecord> interrupted_;
    // Puts the container decoded for `target` in its place; false, with
    // `why` where the destination was the problem, when it could not be
    // decoded or put there.
    bool PlaceDecoded(const std::string& target, const updater::DecodeAhead::Outcome& decoded,
                      std::error_code& why);
    updater::DecodeAhead decodeAhead_{kDecodingList};
    // The files of the running install that are on the disk already: decoded
    // and flushed by a worker, or old files moved to their backups.
    std::set<std::string> onDisk_;
    bool AcceptServerList();
    // The size in the info line of file `index`; 0 when it has none.
    int32_t ListedSize(int32_t index) const;
    void StartUpdaterDownload(int32_t neededUpdater);
    void ReceivedUpdater();
    void ShowErrorBox(TextId textId, TextId secondTextId, plat::BoxOwner owner);
    // The front end closed or termination was requested.
    bool Closing() const;
    // Runs `step` from the message loop, unless the session has ended by then.
    void Post(std::function<void()> step);
    void RunSecondStage();
    // The temporary copy of a self-replacement: held while this program is
    // that copy, removed once it ended while this program is the new one.
    std::unique_ptr<updater::TempCopy> tempCopy_;

    // Signed updates (u_authenticate.cpp). True when the updater was built
    // with a public key: then nothing received is used before it matches
    // the signed index.
    bool Authenticating() const;
    // Checks the received index (signature, serial, expiry) and then the
    // server list held back for it; on failure runs the failure report and
    // returns false.
    bool AuthenticateIndex(CmdType Cmd);
    // The failure report for an index that is not authentic, `reason` in the
    // log and, when not empty, `line` in the action log after the report.
    void RefuseIndex(CmdType Cmd, const std::string& reason, const std::string& line);
    // The held-back server list replaces the game's when `manifest` lists
    // it; else the server-list report runs and the run ends (false).
    bool AcceptServerListOf(CmdType Cmd, const signed_index::Manifest& manifest);
    // Under root keys: the roots the index needs are fetched one by one
    // (false while they are, or when the index was refused), then the index
    // is checked under the newest (CheckUnderRoot). ReceivedRoot takes each
    // one; RootNotReceived ends the walk short.
    bool AuthenticateUnderRoot(CmdType Cmd);
    trust::State KeptTrust() const;
    void RequestNextRoot();
    bool ReceivedRoot(CmdType Cmd);
    void RootNotReceived(CmdType Cmd);
    bool CheckUnderRoot(CmdType Cmd);
    trust::State trust_;
    std::string indexText_;
    std::vector<uint32_t> rootsToFetch_;
    std::map<uint32_t, std::string> fetchedRoots_;
    bool walkingRoots_ = false;
    // Ok when `localPath` holds what the signed index lists as
    // `requestPath`, or when updates are not authenticated; else why not.
    base::Result<> Authentic(const std::string& requestPath, const std::string& localPath) const;
    // The listing of the index accepted in this run.
    std::optional<signed_index::Manifest> signedFiles_;

    // Deltas (u_delta.cpp). Before the download phase: the deltas that fit
    // the installed files, with the bar's scale for what is fetched. In it:
    // a planned delta is fetched instead of its container, checked and
    // applied; any failure falls back to the container once.
    // Hashes the installed files that have deltas on a worker, then plans
    // and calls `then` from the loop (at once when there is nothing to hash).
    void PlanDeltas(std::function<void()> then);
    bool HasDeltas(const version_index::ListEntry& entry) const;
    void FinishDeltaPlan(const updater::InstalledHashes::Hashes& hashes);
    // Set while the installed files are hashed.
    std::unique_ptr<updater::InstalledHashes> installedHashes_;
    // Starts the delta of file `index` when one is planned; false when none is.
    bool FetchDelta(int32_t index);
    // The delta at actCount arrived: it is checked and applied on a worker,
    // and its result counts as the received file.
    void ReceivedDelta(std::optional<int64_t> fetchedAhead);
    void DeltaApplied(const base::Result<delta::Applied>& applied,
                      std::optional<int64_t> fetchedAhead);
    // Set while a delta is applied.
    std::unique_ptr<updater::BackgroundJob<base::Result<delta::Applied>>> deltaApply_;
    // The run's update size as the bar counts it (32 bits, a total past
    // 2 GiB at full scale): the engine's own figure, shown as the bar's
    // maximum.
    int32_t updateScale_ = 100;
    RunState runState_ = RunState::Idle;
    void SetUpdateScale(int32_t scale);
    // The delta at actCount failed for `why`: the container is fetched.
    void FallBackToContainer(const std::string& why);
    // Requests the container of file `index`.
    void RequestContainer(int32_t index);
    // The index's delta lines, by name.
    delta_lines::Announced announcedDeltas_;
    // By download-list position: the delta to fetch, and whether the file
    // received is the applied one.
    std::vector<std::optional<delta_lines::Delta>> plannedDeltas_;
    std::vector<bool> appliedFiles_;
    bool deltaInFlight_ = false;

    // Fetching ahead (u_download.cpp): the files of the list that are
    // not asked about are fetched by workers, from the section's bundle
    // where one serves them, while the run handles the files before them;
    // at its turn a file waits for its transfer and is then checked as one
    // fetched alone. A failed transfer fetches the file alone.
    void StartTransfers();
    // The file at actCount is fetched ahead: its turn goes on once it is there.
    void AwaitTransfer(int32_t index);
    void TransferArrived(int32_t index, const updater::Transfers::Result& result);
    void TransfersProgressed();
    // Sets the bar to the bytes of fileProgress, which must exist; returns
    // the position.
    int32_t ShowProgress();
    // Ends every transfer of the run at once.
    void StopTransfers();
    // The transfers of the run, for the server's address and the HTTP
    // client's proxy and credentials.
    void CreateTransfers();
    // With the server list: the index and the installed release's bundle
    // asked for on connections of their own (RequestIndex takes the index
    // once the server list is accepted, StartTransfers the bundle).
    void RequestAhead();
    void RequestIndex();
    // An earlier run set out on the update this one makes: parts wait in
    // patch/ to be continued, or the index it kept names the bundle of the
    // installed release.
    bool ContinuesAnEarlierAttempt() const;
    // The index asked for ahead: its slot among the transfers, and where it
    // is received.
    static constexpr int32_t kIndexAheadSlot = -1;
    static constexpr const char* kIndexAhead = "patch/_versions.txt.ahead";
    std::unique_ptr<updater::Transfers> transfers_;
    // The run waits for the transfer of the file at actCount.
    bool awaitingTransfer_ = false;

    const UpdaterConfig config_;
    updater::SessionObserver& observer_;
    // The update server's address: the run's requests go below it.
    std::string serverAddress_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    int pendingSteps_ = 0;
    bool requestRunning_ = false;
    // Set once the front end closes or termination is requested: posted
    // steps then do nothing.
    bool stopped_ = false;
    // Corrupt receipts of the file at actCount.
    int corruptReceipts_ = 0;
    // The server list is received here and replaces data/servers.dat only
    // once it passed the content test.
    static constexpr const char* kServerListTemp = "data/servers.dat.part";
};

// Pure helpers of the engine, exposed for the tests.
namespace updater {

// Text `id` of the text table in the current language; never null.
const char* Text(uint32_t id);
// One of the updater's own texts in the current language.
const char* Text(OwnText id);

// `text` lower-cased (ASCII).
std::string Lower(std::string text);

// Replaces the file at `path` with `text` so that a crash or a power cut
// leaves the old file or the new one, never a torn one: written beside,
// flushed, renamed, and the name flushed in `directory`. On failure the
// result names the file and the system's code.
base::Result<> ReplaceFileDurably(const std::string& path, const std::string& text,
                                  const char* directory);

// printf into a string.
using base::Printf;

// The size display of the update: the value and the unit text id for a
// total of `bytes`.
struct SizeDisplay {
    double value;
    TextId unitText;
};
SizeDisplay SizeForDisplay(int32_t bytes);

// The local copy's time stamp text compared with the listed one: true when
// the local one is greater, byte by byte.
bool LocalTimeIsNewer(const std::string& local, const std::string& remote);

// What the copy of a listed file in "patch/" is compared by before the
// question whether to fetch it again: its size and last-write time, and the
// listed ones (the listed values stay at 0 and "9999" when there is no copy).
struct LocalCopy {
    int32_t localSize = 0;
    std::string localTime;
    int32_t remoteSize = 0;
    std::string remoteTime = "9999";
    // Size and time say it may be the listed file; its container check and
    // its signature decide.
    bool LooksSame() const;
};
LocalCopy CompareLocalCopy(const std::string& path, const version_index::ListEntry& entry);

// The files of `manifest` whose copy in the current directory is missing
// or has another size, or with `contents` another SHA-256; in path order,
// cut short once `stop` is set.
InstallDifferences CompareInstall(const manifest_lines::Manifest& manifest, bool contents,
                                  const std::atomic<bool>& stop);

}  // namespace updater

// The updater replacing itself: the old program fetches and decodes its
// successor into "updater.tmp.exe" and starts it; that temporary copy puts
// itself in place of "updater.exe" and starts it; the new program removes
// the left-overs when it is activated, the temporary copy once its process
// ended (u_temp_copy.h).
#include <filesystem>

#include "index/game_files.h"
#include "pack/pack.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "shared/base/s_logging.h"
#include "updater/session/u_session.h"

namespace fs = std::filesystem;
using updater::Text;

namespace {
// No updater program comes near this; a server cannot fill the disk with one.
constexpr int32_t kMaxUpdaterSize = 64 * 1024 * 1024;
}  // namespace

void UpdateSession::StartUpdaterDownload(int32_t neededUpdater) {
    BRF_LOG(1, "local updater is old: %i, needed version is: %i", config_.updaterVersion,
            neededUpdater);
    if (sock_http->IsConnected) {
        sock_http->Disconnect();
    }
    EnterState(RunState::UpdaterDownload);
    AddLog(kTextDownloadingUpdater);
    sock_http->Body = kUpdaterContainer;
    RequestFile(game_files::InPatch(kUpdaterContainer), kMaxUpdaterSize, Origin::UpdaterDownload,
                true);
}

void UpdateSession::ReceivedUpdater() {
    BRF_LOG(1, "received file: %s", kUpdaterContainer);
    // The next updater is decoded, let alone started, only when it is the
    // one the signed index lists.
    const base::Result<> authentic =
        Authentic(game_files::InPatch(kUpdaterContainer), kUpdaterContainer);
    if (!authentic) {
        BRF_LOG(0, "** %s", authentic.reason().c_str());
        std::error_code ignored;
        fs::remove(kUpdaterContainer, ignored);
    }
    // A left-over copy still waited for is overwritten now, never removed
    // after the new one is in its place.
    tempCopy_.reset();
    if (!authentic || !CPack::Get()->DecodeFile(kUpdaterContainer, kTempProgram)) {
        BRF_LOG(0, "** broken updater.upd file, user should try again");
        ShowErrorBox(kTextDownloadError, kTextTryAgain, plat::BoxOwner::None);
        EnableCheck(true);
        EnterState(RunState::Idle);
        return;
    }
    const std::string path = std::string(CLog::Get()->appDirectory()) + kTempProgram;
    BRF_LOG(1, "after successfully decoding the new updater, run the temp file: %s", path.c_str());
    std::error_code ignored;
    fs::permissions(kTempProgram, fs::perms::owner_exec | fs::perms::group_exec,
                    fs::perm_options::add, ignored);
    plat::StartProgram(path, true);
    fs::remove(kUpdaterContainer, ignored);
    plat::MainLoop().Terminate();
}

void UpdateSession::RunSecondStage() {
    const std::string self = plat::ProgramPath();
    BRF_LOG(1, "run as temp file: %s", self.c_str());
    observer_.MessageBox(Text(kTextUpdaterDownloaded), Text(kTextAttentionCaption), plat::kMbOk,
                         plat::BoxOwner::FocusWindow);

    // The new program is copied beside the old one and renamed over it, so
    // at every moment either the old or the new updater is in place.
    const std::string staged = std::string(kProgram) + ".new";
    bool copied = false;
    for (int attempt = 0; attempt < 2 && !copied; ++attempt) {
        if (attempt > 0) {
            plat::SleepMs(5);
        }
        std::error_code error;
        copied = fs::copy_file(self, staged, fs::copy_options::overwrite_existing, error) &&
                 (fs::rename(staged, kProgram, error), !error);
    }
    if (!copied) {
        std::error_code ignored;
        fs::remove(staged, ignored);
        BRF_LOG(0, "** failed to copy myself to: %s", kProgram);
        observer_.MessageBox(std::string(Text(kTextCannotCopyUpdater)) + Text(kTextTryAgain),
                             Text(kTextErrorCaption), plat::kMbOk, plat::BoxOwner::None);
        plat::MainLoop().Terminate();
        return;
    }
    const std::string path = std::string(CLog::Get()->appDirectory()) + kProgram;
    BRF_LOG(1, "execute new process: %s", path.c_str());
    plat::StartProgram(path, true);
    plat::MainLoop().Terminate();
}

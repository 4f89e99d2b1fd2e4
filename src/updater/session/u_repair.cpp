// The installed release against the manifest of the index. Every run that
// finds the client at the newest release, and every install that brought
// it there, compares the sizes of the files the manifest lists and repairs
// what is missing or has another size; with InstallCheck::Repair the
// contents are compared, with InstallCheck::Verify they are only reported.
// A repair is an install like any other: its containers are fetched ahead
// and checked like an update's, and put in place with backups under the
// install record, so a repair cut short is completed by the next run.
#include <algorithm>
#include <atomic>
#include <filesystem>

#include "index/manifest_lines.h"
#include "shared/base/s_logging.h"
#include "updater/session/u_session.h"

namespace fs = std::filesystem;
using updater::Text;

namespace {

// A stamp no copy in "patch/" is newer than: a repair never takes a copy
// left there for the question whether to fetch it again, as it may be the
// one that broke.
constexpr const char* kNeverStamp = "9999-12-31 23:59:59";

std::string Release(uint32_t version, uint32_t build) {
    return updater::Printf("%.3f.%u", version / 1000.0, build);
}

}  // namespace

namespace updater {

InstallDifferences CompareInstall(const manifest_lines::Manifest& manifest, bool contents,
                                  const std::atomic<bool>& stop) {
    InstallDifferences differing;
    for (const auto& [path, file] : manifest.files) {
        if (stop) {
            break;
        }
        std::error_code error;
        const bool present = fs::is_regular_file(path, error);
        const uintmax_t size = present ? fs::file_size(path, error) : 0;
        if (!present || error) {
            differing.push_back({path, true});
        } else if (size != file.size) {
            differing.push_back({path, false});
        } else if (contents) {
            signed_index::ListedFile hashed;
            if (!signed_index::HashFile(path, &hashed) || hashed.sha256 != file.sha256) {
                differing.push_back({path, false});
            }
        }
    }
    return differing;
}

}  // namespace updater

void UpdateSession::CheckInstall(bool verifying) {
    manifest_ = manifest_lines::ReadManifestLines(
        base::ReadWholeFile(game_files::kVersionIndexPath).value_or(""));
    for (const std::string& problem : manifest_.problems) {
        BRF_LOG(1, "manifest line ignored: %s", problem.c_str());
    }
    if (manifest_.files.empty()) {
        if (verifying) {
            AddLogLine(Text(OwnText::VerifyNoManifest));
            SelectLastLine();
            EndRun();
        }
        return;  // an index of a publisher that lists no files
    }
    const bool contents = config_.installCheck != InstallCheck::Sizes;
    BRF_LOG(1, "comparing the %s of %zu installed file(s) with the release",
            contents ? "contents" : "sizes", manifest_.files.size());
    if (!contents) {
        const std::atomic<bool> never{false};
        InstallCompared(updater::CompareInstall(manifest_, false, never));
        return;
    }
    // Hashing a whole game takes a while: on a worker, the front end answering.
    EnableCheck(false);
    installCheck_ = std::make_unique<updater::BackgroundJob<updater::InstallDifferences>>(
        [manifest = manifest_](const std::atomic<bool>& stop) {
            return updater::CompareInstall(manifest, true, stop);
        },
        [this](const updater::InstallDifferences& differing) {
            installCheck_.reset();
            InstallCompared(differing);
        });
}

void UpdateSession::VerifyInstall(CmdType Cmd) {
    // A verify never fetches an updater: whatever the index says of
    // updaters, it compares the game's files.
    const version_index::Verdict verdict = DecideIndex(INT32_MAX);
    if (verdict.decision == version_index::Decision::Unusable) {
        BRF_LOG(2, "version index unusable: %s", verdict.problem.c_str());
    }
    if (verdict.decision == version_index::Decision::TooShort ||
        verdict.decision == version_index::Decision::Unusable) {
        FailRun(Cmd);
        return;
    }
    olderRelease_ = verdict.decision != version_index::Decision::ClientCurrent;
    if (olderRelease_) {
        AddLogLine(updater::Printf(Text(OwnText::VerifyOlderRelease),
                                   Release(clientVersion, clientBuild).c_str(),
                                   Release(verdict.needed.version, verdict.needed.build).c_str()));
    }
    CheckInstall(true);
}

void UpdateSession::InstallCompared(const updater::InstallDifferences& differing) {
    for (const updater::InstallDifference& difference : differing) {
        BRF_LOG(1, "%s %s", difference.path.c_str(),
                difference.missing ? "is missing" : "differs from the release");
    }
    if (config_.installCheck == InstallCheck::Verify) {
        for (const updater::InstallDifference& difference : differing) {
            AddLogLine(updater::Printf(
                Text(difference.missing ? OwnText::VerifyMissing : OwnText::VerifyDiffers),
                difference.path.c_str()));
        }
        const auto files = static_cast<int>(manifest_.files.size());
        AddLogLine(differing.empty() ? updater::Printf(Text(OwnText::VerifyIntact), files)
                                     : updater::Printf(Text(OwnText::VerifyDamaged),
                                                       static_cast<int>(differing.size()), files));
        SelectLastLine();
        differing_ = differing.size() + (olderRelease_ ? 1 : 0);
        EndRun();
        return;
    }
    std::vector<version_index::ListEntry> repairs;
    int64_t total = 0;
    for (const updater::InstallDifference& difference : differing) {
        const manifest_lines::File& file = manifest_.files.at(difference.path);
        if (!file.Repairable() || file.containerSize > INT32_MAX) {
            AddLogLine(updater::Printf(Text(OwnText::CannotRepair), file.path.c_str()));
            continue;
        }
        version_index::ListEntry entry;
        entry.name = file.container;
        entry.size = static_cast<int32_t>(file.containerSize);
        entry.stamp = kNeverStamp;
        entry.info = std::to_string(entry.size) + ";" + entry.stamp;
        entry.target = file.path;
        total += entry.size;
        repairs.push_back(std::move(entry));
    }
    if (repairs.empty()) {
        if (config_.installCheck != InstallCheck::Sizes) {
            EnableCheck(true);  // usable again after the contents were compared
        }
        if (!differing.empty()) {
            SelectLastLine();
        }
        return;
    }
    AddLogLine(repairs.size() == 1 ? std::string(Text(OwnText::RepairingFile))
                                   : updater::Printf(Text(OwnText::RepairingFiles),
                                                     static_cast<int>(repairs.size())));
    SelectLastLine();
    EnableCheck(false);
    for (const version_index::ListEntry& entry : repairs) {
        std::error_code ignored;
        fs::create_directories(fs::path(entry.target).parent_path(), ignored);
    }
    repairing_ = true;
    downloadList = std::move(repairs);
    newCount = static_cast<int32_t>(downloadList.size());
    SetUpdateScale(static_cast<int32_t>(std::min<int64_t>(total, INT32_MAX)));
    actCount = 0;
    observer_.Progress(0);
    redownloadAll = false;
    corruptReceipts_ = 0;
    PlanDeltas([this] {
        if (!Closing() && runState_ != RunState::Cancelled) {
            ContinueDownloadPhase();
        }
    });
}

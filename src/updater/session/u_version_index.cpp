// The version index as the player sees it: what the index decides for the
// installed client, turned into boxes, action-log lines and log lines, and
// its section turned into the download list.
#include <algorithm>
#include <climits>
#include <filesystem>

#include "index/game_files.h"
#include "platform/process.h"
#include "shared/base/s_logging.h"
#include "updater/session/u_session.h"

namespace fs = std::filesystem;
using updater::Text;
using version_index::Decision;

UpdateSession::IndexCheck UpdateSession::CheckVersionIndex() {
    BRF_LOG(1, "now checking the version index file");
    newCount = 0;
    sectionStart = -1;
    versionIndex = {};
    const int32_t own = config_.updaterVersion;
    version_index::Verdict verdict;
    try {
        versionIndex = version_index::LoadIndex(game_files::kVersionIndexPath);
        verdict = version_index::Decide(versionIndex, {clientVersion, clientBuild}, own);
    } catch (const std::exception& error) {
        BRF_LOG(2, "version index unusable: %s", error.what());
        return IndexCheck::Unusable;
    }
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

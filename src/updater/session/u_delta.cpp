// Deltas in the download phase. Where the index announces a delta from the
// very file a player has installed, that delta is fetched instead of the
// container, checked against its line, applied beside the container and
// its result checked; the result then counts as the received file. The
// action log names the container either way: what the player sees does not
// change, only how many bytes arrive. Every failure falls back to the
// container once, and the log file says why.
#include <algorithm>
#include <climits>
#include <filesystem>

#include "delta/delta_apply.h"
#include "index/game_files.h"
#include "shared/base/s_logging.h"
#include "shared/base/s_text.h"
#include "updater/session/u_session.h"

namespace fs = std::filesystem;
using updater::Text;

namespace {

// The bar counts in 32 bits; a set past 2 GiB shows as full scale.
int32_t BarScale(int64_t total) {
    return static_cast<int32_t>(std::clamp<int64_t>(total, 0, INT32_MAX));
}

}  // namespace

void UpdateSession::PlanDeltas(std::function<void()> then) {
    plannedDeltas_.assign(downloadList.size(), std::nullopt);
    appliedFiles_.assign(downloadList.size(), false);
    deltaInFlight_ = false;
    announcedDeltas_ = {};
    std::vector<std::string> installed;
    if (config_.deltas) {
        announcedDeltas_ = delta_lines::ReadDeltaLines(
            base::ReadWholeFile(game_files::kVersionIndexPath).value_or(""));
        for (const std::string& problem : announcedDeltas_.problems) {
            BRF_LOG(1, "delta line ignored: %s", problem.c_str());
        }
        for (const version_index::ListEntry& entry : downloadList) {
            std::error_code ignored;
            fs::remove(updater::AppliedPath(entry.name),
                       ignored);  // left by a run that ended early
            if (HasDeltas(entry) && fs::is_regular_file(entry.target, ignored)) {
                installed.push_back(entry.target);
            }
        }
    }
    if (installed.empty()) {
        FinishDeltaPlan({});
        then();
        return;
    }
    // Only files that have deltas at all are worth hashing; the front end keeps
    // answering while they are read.
    BRF_LOG(1, "hashing %zu installed file(s) for deltas", installed.size());
    installedHashes_ = std::make_unique<updater::InstalledHashes>(
        std::move(installed), [this, then](const updater::InstalledHashes::Hashes& hashes) {
            installedHashes_.reset();
            FinishDeltaPlan(hashes);
            then();
        });
}

bool UpdateSession::HasDeltas(const version_index::ListEntry& entry) const {
    const auto first = announcedDeltas_.byName.lower_bound(entry.name + ".");
    return first != announcedDeltas_.byName.end() &&
           first->first.compare(0, entry.name.size() + 1, entry.name + ".") == 0;
}

void UpdateSession::FinishDeltaPlan(const updater::InstalledHashes::Hashes& hashes) {
    int64_t total = 0;
    for (size_t k = 0; k < downloadList.size(); ++k) {
        const version_index::ListEntry& entry = downloadList[k];
        total += std::max(0, entry.size);
        std::error_code ignored;
        if (!config_.deltas || !HasDeltas(entry) || !fs::is_regular_file(entry.target, ignored)) {
            continue;
        }
        const auto installed = hashes.find(entry.target);
        if (installed == hashes.end()) {
            BRF_LOG(1, "no delta for %s: it cannot be read", entry.target.c_str());
            continue;
        }
        const delta_lines::Delta* delta =
            delta_lines::FindDelta(announcedDeltas_, entry.name, installed->second);
        if (delta == nullptr || delta->size > static_cast<uint64_t>(std::max(0, entry.size))) {
            BRF_LOG(1, "no delta for the installed %s (SHA-256 %s)", entry.target.c_str(),
                    installed->second.c_str());
            continue;
        }
        BRF_LOG(1, "delta %s (%llu bytes) planned for %s", delta->name.c_str(),
                static_cast<unsigned long long>(delta->size), entry.name.c_str());
        total += static_cast<int64_t>(delta->size) - std::max(0, entry.size);
        plannedDeltas_[k] = *delta;
    }
    SetUpdateScale(BarScale(total));
}

bool UpdateSession::FetchDelta(int32_t index) {
    const auto k = static_cast<size_t>(index);
    if (k >= plannedDeltas_.size() || !plannedDeltas_[k]) {
        return false;
    }
    const delta_lines::Delta& delta = *plannedDeltas_[k];
    BRF_LOG(1, "fetching the delta %s instead of %s", delta.name.c_str(),
            downloadList[k].name.c_str());
    deltaInFlight_ = true;
    FetchIntoPatch(game_files::InPatch(delta.name),
                   static_cast<int32_t>(std::min<uint64_t>(delta.size, INT32_MAX)));
    return true;
}

void UpdateSession::RequestContainer(int32_t index) {
    FetchIntoPatch(game_files::InPatch(downloadList.at(static_cast<size_t>(index)).name),
                   ListedSize(index));
}

void UpdateSession::ReceivedDelta(std::optional<int64_t> fetchedAhead) {
    const auto k = static_cast<size_t>(actCount);
    const delta_lines::Delta delta = *plannedDeltas_.at(k);
    const version_index::ListEntry& entry = downloadList.at(k);
    const std::string path = game_files::InPatch(delta.name);
    const std::string result = updater::AppliedPath(entry.name);
    deltaInFlight_ = false;

    signed_index::ListedFile arrived;
    if (!TakePart(path, static_cast<int32_t>(std::min<uint64_t>(delta.size, INT32_MAX)),
                  fetchedAhead.has_value())) {
        FallBackToContainer("its transfer did not complete it");
        return;
    }
    if (!signed_index::HashFile(path, &arrived) || arrived.size != delta.size ||
        arrived.sha256 != delta.sha256) {
        FallBackToContainer("the delta arrived with other bytes than its line announces");
        return;
    }
    // Applied on a worker: the front end keeps answering while a large file is
    // made. Closing the session stops it.
    deltaApply_ = std::make_unique<updater::BackgroundJob<base::Result<delta::Applied>>>(
        [source = entry.target, path, result,
         sha256 = delta.resultSha256](const std::atomic<bool>& stop) {
            // A stopped apply removes its output.
            return delta::ApplyFile(
                source, path, result, [&stop](uint64_t, uint64_t) { return !stop; }, sha256);
        },
        [this, fetchedAhead](const base::Result<delta::Applied>& applied) {
            deltaApply_.reset();
            DeltaApplied(applied, fetchedAhead);
        });
}

void UpdateSession::DeltaApplied(const base::Result<delta::Applied>& applied,
                                 std::optional<int64_t> fetchedAhead) {
    const auto k = static_cast<size_t>(actCount);
    const delta_lines::Delta delta = *plannedDeltas_.at(k);
    const std::string result = updater::AppliedPath(downloadList.at(k).name);
    std::error_code ignored;
    fs::remove(game_files::InPatch(delta.name), ignored);
    if (Closing() || runState_ != RunState::PatchDownload) {
        fs::remove(result, ignored);
        if (runState_ == RunState::Cancelled) {
            AcknowledgeCancel();
        }
        return;
    }
    if (!applied || applied->sha256 != delta.resultSha256) {
        fs::remove(result, ignored);
        FallBackToContainer(applied ? "its result is not the published file"
                                    : "it could not be applied: " + applied.reason());
        return;
    }
    BRF_LOG(1, "delta applied: %s, %llu bytes", result.c_str(),
            static_cast<unsigned long long>(applied->size));
    appliedFiles_[k] = true;
    AcceptReceivedFile(fetchedAhead
                           ? static_cast<int32_t>(std::min<int64_t>(*fetchedAhead, INT32_MAX))
                           : HeldBytes());
}

void UpdateSession::FallBackToContainer(const std::string& why) {
    const auto k = static_cast<size_t>(actCount);
    const delta_lines::Delta delta = *plannedDeltas_.at(k);
    BRF_LOG(0, "** delta %s not used, %s: fetching %s", delta.name.c_str(), why.c_str(),
            downloadList[k].name.c_str());
    deltaInFlight_ = false;
    plannedDeltas_[k].reset();
    std::error_code ignored;
    fs::remove(game_files::InPatch(delta.name), ignored);
    // The bar now counts the container in place of the delta.
    const int64_t scale = static_cast<int64_t>(updateScale_) - static_cast<int64_t>(delta.size) +
                          ListedSize(actCount);
    SetUpdateScale(BarScale(scale));
    if (fileProgress) {
        (*fileProgress)[actCount] = 0;
    }
    if (sock_http->IsConnected) {
        sock_http->Disconnect();
    }
    RequestContainer(actCount);
}

// Fetching ahead in the download phase. Every file of the list that will not
// be asked about is handed to the transfers when the phase starts: the
// members of the section's bundle as runs of one request each, the others
// one request per file on up to four connections. The run itself goes on
// exactly as before, file by file: at its turn a file's question is asked,
// then the run waits for its transfer and checks what arrived as if it had
// fetched it alone; a transfer that failed leaves the file to be fetched
// alone, continuing what its part file holds.
#include <algorithm>
#include <climits>
#include <set>

#include "index/bundle_lines.h"
#include "index/game_files.h"
#include "shared/base/s_logging.h"
#include "shared/base/s_text.h"
#include "updater/session/u_session.h"

namespace {

// Runs of needed members closer than this are fetched with one request, the
// bytes between them passed over: cheaper than another round trip.
constexpr uint64_t kMergeGap = 256 * 1024;

}  // namespace

void UpdateSession::StartTransfers() {
    StopTransfers();
    if (config_.connections == 0 || newCount == 0) {
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
    transfers_->Start(std::move(runs), std::move(files));
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
}

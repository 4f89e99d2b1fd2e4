// The download phase: the list of the client's section, the comparison
// with copies already in "patch/", the question before fetching one again,
// and the check of every received file.
#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>

#include "pack/pack.h"
#include "platform/file_times.h"
#include "platform/process.h"
#include "shared/base/s_logging.h"
#include "updater/u_updater.h"

namespace fs = std::filesystem;
using updater::Text;

void TFUpdater::DownloadFile(int32_t index) {
    if (sock_http->IsConnected) {
        sock_http->Disconnect();
    }
    const version_index::ListEntry& entry = downloadList.at(static_cast<size_t>(index));
    const std::string& name = entry.name;
    BRF_LOG(1, "Download File: %s", name.c_str());
    AddLogLine(std::string(Text(kTextReceivingFile)) + name);
    SelectLastLine();

    int32_t localSize = 0;
    std::string localTime;
    int32_t remoteSize = 0;
    std::string remoteTime = "9999";
    const std::string path = "patch/" + name;
    std::error_code error;
    const uintmax_t size = fs::file_size(path, error);
    if (!error) {
        localSize = static_cast<int32_t>(size);
        plat::LocalTime time{};
        if (plat::FileLastWriteLocal(path.c_str(), &time)) {
            localTime = updater::Printf("%04d-%02d-%02d %02d:%02d:%02d", time.year, time.month,
                                        time.day, time.hour, time.minute, time.second);
        }
        remoteSize = entry.size;
        if (!entry.stamp.empty()) {
            remoteTime = entry.stamp;
        }
    }

    // With a signed index a copy already in "patch/" must also be the listed
    // file: one planted there is fetched again like any other.
    const bool same = CPack::Get()->CheckFile(path.c_str()) == CPack::kCheckOk &&
                      localSize == remoteSize && updater::LocalTimeIsNewer(localTime, remoteTime) &&
                      AuthenticityProblem(path, path).empty();
    if (same) {
        BRF_LOG(1, "local file is the same as remote: sizes: %i->%i, times: %s->%s", localSize,
                remoteSize, localTime.c_str(), remoteTime.c_str());
        const std::string question = updater::Printf(Text(kTextDownloadAgain), path.c_str());
        const ui::Confirmation answer =
            redownloadAll ? ui::Confirmation::Yes : toolkit_.Confirm(question);
        if (answer == ui::Confirmation::No) {
            AddLog(kTextFileAlreadyThere);
            SelectLastLine();
            BRF_LOG(1, "file *NOT* downloaded again");
            sock_httpPacketRecvd();
            form->Repaint();
            toolkit_.ProcessMessages();
            if (Closing() || !fileProgress) {
                return;
            }
            (*fileProgress)[actCount] = remoteSize;
            actCount++;
            if (actCount < newCount) {
                // The next file is handled from the loop, so a long run of
                // kept files does not pile up on the stack.
                Post([this] { DownloadFile(actCount); });
            } else {
                fileProgress.reset();
                InstallFiles();
            }
            return;
        }
        BRF_LOG(1, "user want to downloaded file again");
        if (answer == ui::Confirmation::YesToAll) {
            redownloadAll = true;
        }
    }

    form->Repaint();
    toolkit_.ProcessMessages();
    if (Closing()) {
        return;
    }
    if (!FetchDelta(index)) {
        RequestContainer(index);
    }
}

int32_t TFUpdater::ListedSize(int32_t index) const {
    return std::max(0, downloadList.at(static_cast<size_t>(index)).size);
}

bool TFUpdater::ReceivedPatchFile(CmdType Cmd) {
    if (deltaInFlight_) {
        ReceivedDelta();
        return true;
    }
    const std::string path = "patch/" + downloadList.at(static_cast<size_t>(actCount)).name;
    BRF_LOG(1, "received file: %s", path.c_str());
    int32_t result = kNotAuthentic;
    const std::string problem = AuthenticityProblem(path, path);
    if (problem.empty()) {
        result = CPack::Get()->CheckFile(path.c_str());
    } else {
        // Not the published file, whatever its checksum says: it goes, and
        // is fetched again like a corrupt one.
        BRF_LOG(0, "** %s", problem.c_str());
        std::error_code ignored;
        fs::remove(path, ignored);
    }
    if (result == CPack::kCheckOk) {
        BRF_LOG(1, "file is ok.");
        if (fileProgress) {
            (*fileProgress)[actCount] = sock_http->ReceivedBytes;
        }
        actCount++;
        corruptReceipts_ = 0;
        AddLog(kTextFileReceived);
    } else {
        BRF_LOG(0, "** file is corrupted, trying again! (%i)", result);
        if (++corruptReceipts_ >= kMaxReceipts) {
            // A file that keeps arriving corrupt is not fetched for ever.
            BRF_LOG(0, "** file arrived corrupted %i times, giving up: %s", corruptReceipts_,
                    path.c_str());
            corruptReceipts_ = 0;
            sock_httpFailure(Cmd);
            return false;
        }
        AddLog(kTextFileCorrupted);
    }
    if (actCount < newCount) {
        DownloadFile(actCount);
    } else {
        InstallFiles();
    }
    return true;
}

void TFUpdater::DropBrokenCopy() {
    if (actCount < 0 || actCount >= newCount) {
        return;
    }
    const std::string path = "patch/" + downloadList.at(static_cast<size_t>(actCount)).name;
    if (CPack::Get()->CheckFile(path.c_str()) != CPack::kCheckOk) {
        BRF_LOG(1, "removing the broken copy %s", path.c_str());
        std::error_code ignored;
        fs::remove(path, ignored);
    }
}

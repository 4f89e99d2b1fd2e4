#include "updater/session/u_temp_copy.h"

#include <cstdio>
#include <filesystem>

#include "shared/base/s_logging.h"

namespace fs = std::filesystem;

namespace updater {

std::string TempCopy::MutexName(const std::string& directory) {
    // FNV-1a of the directory: mutex names hold no path separators.
    uint32_t hash = 2166136261u;
    for (const char c : directory) {
        hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
    }
    char name[40];
    std::snprintf(name, sizeof name, "BRFUpdaterTempCopy%08x", hash);
    return name;
}

std::unique_ptr<TempCopy> TempCopy::HoldWhileRunning(const std::string& directory) {
    std::unique_ptr<TempCopy> copy(new TempCopy());
    copy->running_ = plat::NamedMutex::Create(MutexName(directory).c_str(), true);
    return copy;
}

std::unique_ptr<TempCopy> TempCopy::RemoveWhenEnded(const std::string& directory,
                                                    std::string path) {
    std::unique_ptr<TempCopy> copy(new TempCopy());
    copy->mutexName_ = MutexName(directory);
    copy->path_ = std::move(path);
    if (copy->TryRemove()) {
        return copy;
    }
    BRF_LOG(1, "%s is still running or in use: waiting for it to end", copy->path_.c_str());
    copy->timer_ = std::make_unique<TThreadTimer>();
    copy->timer_->SetInterval(kPollMs);
    TempCopy* self = copy.get();
    copy->timer_->SetOnTimer([self](TThreadTimer* timer) {
        self->waited_ += kPollMs;
        if (self->TryRemove()) {
            timer->SetEnabled(false);
        } else if (self->waited_ >= kPatienceMs) {
            BRF_LOG(0, "** %s could not be removed within %u ms: trying again on closing",
                    self->path_.c_str(), kPatienceMs);
            timer->SetEnabled(false);
        }
    });
    return copy;
}

bool TempCopy::TryRemove() {
    std::error_code error;
    if (path_.empty() || !fs::exists(path_, error)) {
        // Done: a copy this program makes later (the first stage decodes
        // the next updater there) is not this one.
        path_.clear();
        return true;
    }
    if (plat::NamedMutexExists(mutexName_.c_str())) {
        return false;
    }
    if (fs::remove(path_, error) || !fs::exists(path_, error)) {
        BRF_LOG(1, "removed %s", path_.c_str());
        path_.clear();
        return true;
    }
    return false;
}

TempCopy::~TempCopy() {
    timer_.reset();
    if (!TryRemove()) {
        BRF_LOG(0, "** %s could not be removed: the next start removes it", path_.c_str());
    }
}

}  // namespace updater

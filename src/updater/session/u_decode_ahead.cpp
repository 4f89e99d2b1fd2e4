#include "updater/session/u_decode_ahead.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

#include "pack/pack.h"
#include "platform/file_durability.h"
#include "shared/base/s_logging.h"

namespace fs = std::filesystem;

namespace updater {

namespace {

constexpr const char* kTemporarySuffix = ".brf-part";

// Only a relative path below the game directory that names one of our
// temporary files is removed, whatever the list says.
bool IsOurTemporary(const std::string& line) {
    const fs::path path(line);
    if (line.size() <= std::char_traits<char>::length(kTemporarySuffix) || path.has_root_name() ||
        path.has_root_directory() || !line.ends_with(kTemporarySuffix)) {
        return false;
    }
    return std::none_of(path.begin(), path.end(),
                        [](const fs::path& part) { return part == ".."; });
}

}  // namespace

DecodeAhead::DecodeAhead(std::string listPath) : listPath_(std::move(listPath)) {}

DecodeAhead::~DecodeAhead() {
    Discard();
    {
        std::lock_guard lock(mutex_);
        quitting_ = true;
    }
    work_.notify_all();
    for (std::thread& worker : workers_) {
        worker.join();
    }
}

std::string DecodeAhead::TemporaryOf(const std::string& target) {
    return target + kTemporarySuffix;
}

unsigned DecodeAhead::WorkerCount() {
    return std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
}

void DecodeAhead::Start(const std::string& container, const std::string& target) {
    {
        std::lock_guard lock(mutex_);
        const auto [it, added] = jobs_.try_emplace(target);
        Job& job = it->second;
        if (!added && (job.state != State::Done || job.outcome.ok)) {
            return;
        }
        if (added) {
            Remember(TemporaryOf(target));
        }
        job.container = container;
        job.state = State::Queued;
        job.outcome = {};
        queue_.push_back(target);
        if (workers_.empty()) {
            for (unsigned k = 0; k < WorkerCount(); ++k) {
                workers_.emplace_back([this] { Work(); });
            }
        }
    }
    work_.notify_one();
}

DecodeAhead::Outcome DecodeAhead::Finish(const std::string& target) {
    std::unique_lock lock(mutex_);
    const auto it = jobs_.find(target);
    if (it == jobs_.end()) {
        return {};
    }
    done_.wait(lock, [&] { return it->second.state == State::Done; });
    const Outcome outcome = it->second.outcome;
    // Its temporary file is the caller's now.
    jobs_.erase(it);
    return outcome;
}

void DecodeAhead::Discard() {
    std::unique_lock lock(mutex_);
    queue_.clear();
    stop_ = true;
    done_.wait(lock, [this] { return running_ == 0; });
    stop_ = false;
    std::error_code ignored;
    for (const auto& [target, job] : jobs_) {
        fs::remove(TemporaryOf(target), ignored);
    }
    jobs_.clear();
    fs::remove(listPath_, ignored);
}

void DecodeAhead::RemoveLeftovers() {
    std::ifstream list(listPath_, std::ios::binary);
    if (!list) {
        return;
    }
    std::string line;
    while (std::getline(list, line)) {
        std::error_code ignored;
        if (IsOurTemporary(line) && fs::remove(line, ignored)) {
            BRF_LOG(1, "removed %s, left by a run that was cut short", line.c_str());
        }
    }
    list.close();
    std::error_code ignored;
    fs::remove(listPath_, ignored);
}

void DecodeAhead::Remember(const std::string& temporary) {
    // Written before the temporary file exists, so a kill at any moment
    // leaves no temporary file the next run does not know of.
    std::ofstream list(listPath_, std::ios::binary | std::ios::app);
    list << temporary << '\n';
}

void DecodeAhead::Work() {
    const std::unique_ptr<CPack> coder = CPack::Create();
    coder->SetStop(&stop_);
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [this] { return quitting_ || !queue_.empty(); });
        if (quitting_) {
            return;
        }
        const std::string target = queue_.front();
        queue_.pop_front();
        Job& job = jobs_.at(target);  // stays until it is done: Discard waits
        job.state = State::Running;
        ++running_;
        const std::string container = job.container;
        lock.unlock();

        const std::string temporary = TemporaryOf(target);
        Outcome outcome;
        outcome.ok = coder->DecodeFile(container.c_str(), temporary.c_str());
        if (outcome.ok) {
            // On the disk now, so the install's last pass over its files
            // need not wait for it.
            outcome.onDisk = plat::FlushFile(temporary.c_str());
        } else {
            outcome.why = coder->DestinationError();
            outcome.writeFailed = coder->WriteFailed();
            std::error_code ignored;
            fs::remove(temporary, ignored);
        }

        lock.lock();
        job.outcome = outcome;
        job.state = State::Done;
        --running_;
        done_.notify_all();
    }
}

}  // namespace updater

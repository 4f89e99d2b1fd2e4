#include "updater/session/u_directory_flusher.h"

#include "platform/file_durability.h"

namespace updater {

DirectoryFlusher::DirectoryFlusher() : worker_([this] { Work(); }) {}

DirectoryFlusher::~DirectoryFlusher() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        quitting_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

void DirectoryFlusher::Add(std::string directory) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!added_.insert(directory).second) {
            return;
        }
        queue_.push_back(std::move(directory));
    }
    changed_.notify_all();
}

bool DirectoryFlusher::Finish() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return queue_.empty() && !busy_; });
    return !failed_;
}

void DirectoryFlusher::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return quitting_ || !queue_.empty(); });
        if (quitting_) {
            return;
        }
        const std::string directory = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        const bool flushed = plat::FlushDirectory(directory.c_str());
        lock.lock();
        busy_ = false;
        failed_ = failed_ || !flushed;
        changed_.notify_all();
    }
}

}  // namespace updater

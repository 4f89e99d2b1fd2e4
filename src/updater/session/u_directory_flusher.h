// Flushes the names in directories on a worker while the install goes on:
// once the install is past the last file of a directory, that directory's
// names can reach the disk while files of later directories are still
// being moved, and the end of the install only waits for what is left.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace updater {

class DirectoryFlusher {
public:
    DirectoryFlusher();
    // Waits for the directory being flushed; the ones still waiting are not.
    ~DirectoryFlusher();
    DirectoryFlusher(const DirectoryFlusher&) = delete;
    DirectoryFlusher& operator=(const DirectoryFlusher&) = delete;

    // `directory` gets no more changes from the install: it is flushed next,
    // unless it was added before.
    void Add(std::string directory);
    // Waits until every directory added is flushed; false when one could
    // not be.
    bool Finish();

private:
    void Work();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> queue_;
    std::set<std::string> added_;
    bool busy_ = false;
    bool failed_ = false;
    bool quitting_ = false;
    std::thread worker_;
};

}  // namespace updater

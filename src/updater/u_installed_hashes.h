// The SHA-256 of installed files, read on a worker thread: planning deltas
// must know them, and a multi-gigabyte file would otherwise hold the window
// for seconds. The result reaches the loop's thread as a posted task; gone
// with the object, the reading stops and no result comes.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace updater {

class InstalledHashes {
public:
    // By path; a file that could not be read is missing.
    using Hashes = std::map<std::string, std::string>;

    InstalledHashes(std::vector<std::string> paths, std::function<void(const Hashes&)> done);
    ~InstalledHashes();
    InstalledHashes(const InstalledHashes&) = delete;
    InstalledHashes& operator=(const InstalledHashes&) = delete;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::thread worker_;
};

}  // namespace updater

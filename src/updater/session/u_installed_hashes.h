// The SHA-256 of installed files, read on a worker thread: planning deltas
// must know them, and a multi-gigabyte file would otherwise hold the window
// for seconds. The result reaches the loop's thread as a posted task; gone
// with the object, the reading stops and no result comes.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "updater/session/u_background_job.h"

namespace updater {

// By path; a file that could not be read is missing.
using InstalledHashMap = std::map<std::string, std::string>;

class InstalledHashes : public BackgroundJob<InstalledHashMap> {
public:
    using Hashes = InstalledHashMap;
    InstalledHashes(std::vector<std::string> paths, std::function<void(const Hashes&)> done);
};

}  // namespace updater

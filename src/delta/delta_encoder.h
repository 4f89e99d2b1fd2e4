// The producer side of binary deltas: finds the parts of a new file that an
// older one already holds and writes the delta the updater applies
// (src/delta/delta_apply.h, docs/delta-format.md). Runs on the operator's
// machine and holds both files in memory; the updater never links it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace delta {

struct EncodeOptions {
    // zstd level of both streams, 1 to 22.
    int level = 19;
    // 2, the compact format, or 1 for updaters that know no other.
    uint32_t version = 2;
    // Called now and then with the new file's bytes done and its size.
    std::function<void(uint64_t done, uint64_t total)> progress;
};

// The delta from the file at `sourcePath` to the one at `targetPath`. The same
// inputs and options always give the same bytes. Throws std::runtime_error
// when a file cannot be read.
std::vector<uint8_t> Encode(const std::string& sourcePath, const std::string& targetPath,
                            const EncodeOptions& options = {});

// The same for files already in memory.
std::vector<uint8_t> EncodeBytes(const std::vector<uint8_t>& source,
                                 const std::vector<uint8_t>& target,
                                 const EncodeOptions& options = {});

}  // namespace delta

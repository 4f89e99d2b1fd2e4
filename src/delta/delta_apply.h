// The applier of binary deltas: rebuilds a new release's file from the copy
// a player already has and a delta made by the publisher (docs/delta-format.md).
//
// A delta comes from the network and is not trusted: whatever its bytes, an
// apply ends in a result, never a crash, never more than a bounded amount of
// memory, never a write outside the output file. The source is read by
// seeking, so memory stays the same for files of any size.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "shared/base/s_result.h"

namespace delta {

// The file an apply made.
struct Applied {
    uint64_t size = 0;   // bytes written
    std::string sha256;  // 64 lower-case hex digits of the output
};

// Called now and then with the output bytes written and the delta's
// announced result size; returning false cancels the apply (reason "cancelled").
using ApplyProgress = std::function<bool(uint64_t written, uint64_t total)>;

// Applies the delta at `deltaPath` to the file at `sourcePath`, writing `outputPath`
// (created or replaced). A result whose SHA-256 differs from `resultSha256`
// (64 lower-case hex digits, from the delta's index line) or, in the first
// format, from the one its header holds, is a failure; a compact delta
// applied without `resultSha256` is checked by nothing but its own fields.
// On any failure `outputPath` is removed, and the result says why. Never
// throws.
base::Result<Applied> ApplyFile(const std::string& sourcePath, const std::string& deltaPath,
                                const std::string& outputPath, const ApplyProgress& progress = {},
                                const std::string& resultSha256 = {});

}  // namespace delta

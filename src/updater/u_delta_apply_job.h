// A delta applied on a worker thread: applying reads the installed file and
// writes the new one, and a large file must not hold the window. The
// outcome reaches the loop's thread as a posted task; gone with the object,
// the apply stops, its output is removed and no outcome comes.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "delta/delta_apply.h"

namespace updater {

class DeltaApplyJob {
public:
    DeltaApplyJob(std::string source, std::string delta, std::string output,
                  std::string resultSha256, std::function<void(const delta::Applied&)> done);
    ~DeltaApplyJob();
    DeltaApplyJob(const DeltaApplyJob&) = delete;
    DeltaApplyJob& operator=(const DeltaApplyJob&) = delete;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::thread worker_;
};

}  // namespace updater

#include "updater/u_delta_apply_job.h"

#include <atomic>

#include "platform/event_loop.h"

namespace updater {

struct DeltaApplyJob::Shared {
    std::atomic<bool> stop{false};
};

DeltaApplyJob::DeltaApplyJob(std::string source, std::string delta, std::string output,
                             std::string resultSha256,
                             std::function<void(const delta::Applied&)> done)
    : shared_(std::make_shared<Shared>()) {
    worker_ = std::thread([shared = shared_, source = std::move(source), delta = std::move(delta),
                           output = std::move(output), resultSha256 = std::move(resultSha256),
                           done = std::move(done)] {
        const delta::Applied applied = delta::ApplyFile(
            source, delta, output, [&shared](uint64_t, uint64_t) { return !shared->stop; },
            resultSha256);
        if (shared->stop) {
            return;  // a cancelled apply removed its output
        }
        std::weak_ptr<Shared> weak = shared;
        plat::PostTask([weak, done, applied] {
            const std::shared_ptr<Shared> alive = weak.lock();
            if (alive && !alive->stop) {
                done(applied);
            }
        });
    });
}

DeltaApplyJob::~DeltaApplyJob() {
    shared_->stop = true;
    worker_.join();
}

}  // namespace updater
